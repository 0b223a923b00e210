// ZlibCodec: libdeflate's whole-buffer engine, with Crypto++'s streaming
// ZlibCompressor and ZlibDecompressor as the reference engine.
//
// The reference engine feeds its input in slices and drains the output after
// each slice, so the library's internal queue never holds more than one
// slice's worth of output, and decompression stops as soon as the output
// would overflow the destination (a hostile stream cannot make it allocate
// without bound). The fast engine works on the caller's buffers only; input
// it cannot take whole (damaged, or inflating past the capacity) goes to the
// reference engine, which gives the exact codes and the capped output.
#include "package/seal/zlib_codec.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include <cryptopp/cryptlib.h>
#include <cryptopp/zlib.h>
#include <libdeflate.h>

namespace marrowgate {

namespace {

constexpr int kDeflateLevel = 6;
constexpr int kLog2WindowSize = 15;
// Input slice; deflate expands at most 1032:1, so one slice never makes
// more than about 4 MiB of output.
constexpr size_t kSlice = 4096;

int CodeForError(CryptoPP::Exception::ErrorType type) {
  switch (type) {
    case CryptoPP::Exception::OTHER_ERROR: return -11;
    case CryptoPP::Exception::NOT_IMPLEMENTED: return -12;
    case CryptoPP::Exception::INVALID_ARGUMENT: return -13;
    case CryptoPP::Exception::CANNOT_FLUSH: return -14;
    case CryptoPP::Exception::DATA_INTEGRITY_CHECK_FAILED: return -15;
    case CryptoPP::Exception::INVALID_DATA_FORMAT: return -16;
    default: return -100;
  }
}

// Moves what `filter` has produced into destination[*produced, capacity).
// Returns false when there was more than fits (what fits is taken).
bool Drain(CryptoPP::BufferedTransformation& filter, uint8_t* destination, size_t capacity,
           size_t* produced) {
  while (true) {
    const CryptoPP::lword available = filter.MaxRetrievable();
    if (available == 0) return true;
    const size_t room = capacity - *produced;
    if (room == 0) return false;
    const size_t take = static_cast<size_t>(std::min<CryptoPP::lword>(available, room));
    *produced += filter.Get(destination + *produced, take);
  }
}

// Runs `filter` over the source and stores at most the capacity of output;
// once the output does not fit, the rest of the input is not processed (the
// destination then holds exactly its capacity).
int Run(CryptoPP::BufferedTransformation& filter, const void* source, int32_t sourceLength,
        void* destination, int32_t* destinationLength) {
  const auto* input = static_cast<const uint8_t*>(source);
  auto* output = static_cast<uint8_t*>(destination);
  const size_t capacity = static_cast<size_t>(*destinationLength);
  size_t produced = 0;
  bool fits = true;
  try {
    for (size_t done = 0; done < static_cast<size_t>(sourceLength);) {
      const size_t slice = std::min(kSlice, static_cast<size_t>(sourceLength) - done);
      filter.Put(input + done, slice);
      done += slice;
      fits = Drain(filter, output, capacity, &produced);
      if (!fits) break;
    }
    if (fits) {
      filter.MessageEnd();
      Drain(filter, output, capacity, &produced);
    }
  } catch (const CryptoPP::Exception& error) {
    return CodeForError(error.GetErrorType());
  } catch (const std::bad_alloc&) {
    return -100;
  } catch (...) {
    return -100;
  }
  *destinationLength = static_cast<int32_t>(produced);
  return 0;
}

// Argument checks shared by both engines: 1 when the call may go on, 0
// when it is done (null source), or a negative code.
int CheckArguments(const void* source, int32_t sourceLength, const void* destination,
                   int32_t* destinationLength) {
  if (destinationLength == nullptr || sourceLength < 0 || *destinationLength < 0) return -13;
  if (source == nullptr) {
    *destinationLength = 0;
    return 0;
  }
  if (destination == nullptr && *destinationLength > 0) return -13;
  return 1;
}

int ReferenceCompress(const void* source, int32_t sourceLength, void* destination,
                      int32_t* destinationLength) {
  const int check = CheckArguments(source, sourceLength, destination, destinationLength);
  if (check <= 0) return check;
  try {
    CryptoPP::ZlibCompressor compressor(nullptr, kDeflateLevel, kLog2WindowSize, true);
    return Run(compressor, source, sourceLength, destination, destinationLength);
  } catch (...) {
    return -100;
  }
}

int ReferenceDecompress(const void* source, int32_t sourceLength, void* destination,
                        int32_t* destinationLength) {
  const int check = CheckArguments(source, sourceLength, destination, destinationLength);
  if (check <= 0) return check;
  try {
    CryptoPP::ZlibDecompressor decompressor;
    return Run(decompressor, source, sourceLength, destination, destinationLength);
  } catch (...) {
    return -100;
  }
}

struct CompressorDeleter {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};
struct DecompressorDeleter {
  void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// Writes the start of a zlib stream of `source` in stored (uncompressed)
// blocks: at most `capacity` bytes. Returns the count written. Serves as the
// output when the compressed stream does not fit: the caller only learns
// that it did not, and gets a valid stream's first bytes as the contract says.
size_t WriteStoredStream(const uint8_t* source, size_t length, uint8_t* destination,
                         size_t capacity) {
  size_t out = 0;
  auto put = [&](uint8_t byte) {
    if (out < capacity) destination[out++] = byte;
  };
  put(0x78);  // deflate, 2^15 window
  put(0x01);  // lowest level; (0x78 * 256 + 0x01) % 31 == 0
  size_t done = 0;
  do {
    const size_t block = std::min<size_t>(length - done, 65535);
    put(done + block == length ? 1 : 0);  // final bit, type 00
    put(static_cast<uint8_t>(block));
    put(static_cast<uint8_t>(block >> 8));
    put(static_cast<uint8_t>(~block));
    put(static_cast<uint8_t>(~block >> 8));
    const size_t take = std::min(block, capacity - out);
    if (take > 0) std::memcpy(destination + out, source + done, take);
    out += take;
    done += block;
    if (out == capacity) return out;
  } while (done < length);
  const uint32_t adler = libdeflate_adler32(1, source, length);
  for (int shift = 24; shift >= 0; shift -= 8) put(static_cast<uint8_t>(adler >> shift));
  return out;
}

// The engines of one caller at a time, made on first use: making one costs
// more than deflating a small item. They are kept in a process-wide pool
// rather than per thread: a thread takes a set for one call and gives it
// back, so no engine depends on a thread's exit to be freed (destructors of
// thread-local objects at thread exit are not dependable on every platform
// this builds for). The pool holds as many sets as calls ever ran at once.
struct EngineSet {
  std::unique_ptr<libdeflate_compressor, CompressorDeleter> fast;
  std::unique_ptr<libdeflate_compressor, CompressorDeleter> full;
  std::unique_ptr<libdeflate_decompressor, DecompressorDeleter> decompressor;
  // The uncompressible-data probe's output.
  std::vector<uint8_t> scratch;

  libdeflate_compressor* Compressor(int level) {
    auto& slot = level == kDeflateLevel ? full : fast;
    if (!slot) slot.reset(libdeflate_alloc_compressor(level));
    return slot.get();
  }
  libdeflate_decompressor* Decompressor() {
    if (!decompressor) decompressor.reset(libdeflate_alloc_decompressor());
    return decompressor.get();
  }
};

class EnginePool {
 public:
  // A set for the caller alone, or null when memory is short.
  std::unique_ptr<EngineSet> Take() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!free_.empty()) {
        std::unique_ptr<EngineSet> set = std::move(free_.back());
        free_.pop_back();
        return set;
      }
    }
    return std::unique_ptr<EngineSet>(new (std::nothrow) EngineSet());
  }
  void Give(std::unique_ptr<EngineSet> set) {
    if (set == nullptr) return;
    try {
      std::lock_guard<std::mutex> lock(mutex_);
      free_.push_back(std::move(set));
    } catch (...) {
      // No room to keep it: it is freed here.
    }
  }

 private:
  std::mutex mutex_;
  std::vector<std::unique_ptr<EngineSet>> free_;
};

EnginePool& Engines() {
  static EnginePool pool;
  return pool;
}

// An engine set taken from the pool for one call; given back at its end.
class EngineLease {
 public:
  EngineLease() : set_(Engines().Take()) {}
  ~EngineLease() { Engines().Give(std::move(set_)); }
  EngineLease(const EngineLease&) = delete;
  EngineLease& operator=(const EngineLease&) = delete;
  EngineSet* get() const { return set_.get(); }

 private:
  std::unique_ptr<EngineSet> set_;
};

// Uncompressible-data detection. The input is judged in segments of 64
// KiB, each deflated at the fastest level (after a quick look at its first
// 4 KiB, which settles most compressible data at once); a segment that
// does not shrink by at least 1/64 there counts as uncompressible. When
// every segment does, deflating the whole at level 6 would only spend the
// time to find that out: the stream is written in stored blocks at once
// (and, not being smaller than the input, the sealed stream then stores
// the item plain).
constexpr size_t kSegment = kJudgedSegment;
constexpr size_t kQuickLook = 4 * 1024;
// Below this, judging costs about as much as deflating.
constexpr size_t kSmallestJudged = 8 * 1024;

// Whether `length` bytes deflate at `probe`'s level to less than 63/64 of
// their size.
bool Shrinks(libdeflate_compressor* probe, const uint8_t* data, size_t length,
             std::vector<uint8_t>* scratch) {
  const size_t limit = length - length / 64;
  if (scratch->size() < limit) scratch->resize(limit);
  return libdeflate_deflate_compress(probe, data, length, scratch->data(), limit) != 0;
}

bool NoSegmentShrinksWith(EngineSet* engines, const uint8_t* input, size_t length) {
  libdeflate_compressor* probe = engines->Compressor(1);
  if (probe == nullptr) return false;
  std::vector<uint8_t>* scratch = &engines->scratch;
  try {
    for (size_t segment = 0; segment < length; segment += kSegment) {
      const size_t segmentLength = std::min(kSegment, length - segment);
      if (segmentLength >= 2 * kQuickLook && Shrinks(probe, input + segment, kQuickLook, scratch))
        return false;
      if (Shrinks(probe, input + segment, segmentLength, scratch)) return false;
    }
  } catch (const std::bad_alloc&) {
    return false;  // not judged: deflated as usual
  }
  return true;
}

bool LooksUncompressible(EngineSet* engines, const uint8_t* input, size_t length) {
  return length >= kSmallestJudged && NoSegmentShrinksWith(engines, input, length);
}

}  // namespace

bool NoSegmentShrinks(const void* data, size_t length) {
  EngineLease engines;
  if (engines.get() == nullptr) return false;
  return NoSegmentShrinksWith(engines.get(), static_cast<const uint8_t*>(data), length);
}

int ZlibCodec::Compress(const void* source, int32_t sourceLength, void* destination,
                        int32_t* destinationLength) {
  const int check = CheckArguments(source, sourceLength, destination, destinationLength);
  if (check <= 0) return check;
  EngineLease engines;
  libdeflate_compressor* compressor =
      engines.get() == nullptr ? nullptr : engines.get()->Compressor(kDeflateLevel);
  if (compressor == nullptr)
    return ReferenceCompress(source, sourceLength, destination, destinationLength);
  const auto* input = static_cast<const uint8_t*>(source);
  const size_t length = static_cast<size_t>(sourceLength);
  const size_t capacity = static_cast<size_t>(*destinationLength);
  size_t produced = capacity == 0 || LooksUncompressible(engines.get(), input, length)
                        ? 0
                        : libdeflate_zlib_compress(compressor, input, length, destination, capacity);
  if (produced == 0) {
    produced = WriteStoredStream(input, length, static_cast<uint8_t*>(destination), capacity);
  }
  *destinationLength = static_cast<int32_t>(produced);
  return 0;
}

int ZlibCodec::Decompress(const void* source, int32_t sourceLength, void* destination,
                          int32_t* destinationLength) {
  const int check = CheckArguments(source, sourceLength, destination, destinationLength);
  if (check <= 0) return check;
  EngineLease engines;
  libdeflate_decompressor* decompressor =
      engines.get() == nullptr ? nullptr : engines.get()->Decompressor();
  if (decompressor != nullptr) {
    size_t consumed = 0;
    size_t produced = 0;
    const libdeflate_result result = libdeflate_zlib_decompress_ex(
        decompressor, source, static_cast<size_t>(sourceLength), destination,
        static_cast<size_t>(*destinationLength), &consumed, &produced);
    if (result == LIBDEFLATE_SUCCESS && consumed == static_cast<size_t>(sourceLength)) {
      *destinationLength = static_cast<int32_t>(produced);
      return 0;
    }
  }
  // Damaged, longer than the capacity, or followed by other bytes: the
  // reference engine decides, and caps the output.
  return ReferenceDecompress(source, sourceLength, destination, destinationLength);
}

ZlibCodec* CreateZlibCodec() { return new (std::nothrow) ZlibCodec(); }

namespace {

class ReferenceZlibCodec : public ZlibCodec {
 public:
  int Compress(const void* source, int32_t sourceLength, void* destination,
               int32_t* destinationLength) override {
    return ReferenceCompress(source, sourceLength, destination, destinationLength);
  }
  int Decompress(const void* source, int32_t sourceLength, void* destination,
                 int32_t* destinationLength) override {
    return ReferenceDecompress(source, sourceLength, destination, destinationLength);
  }
};

}  // namespace

ZlibCodec* CreateReferenceZlibCodec() { return new (std::nothrow) ReferenceZlibCodec(); }

}  // namespace marrowgate
