// ZlibCodec over Crypto++'s ZlibCompressor and ZlibDecompressor.
//
// Input is fed in slices and the output drained after each slice, so the
// library's internal queue never holds more than one slice's worth of
// output, and decompression stops as soon as the output would overflow the
// destination (a hostile stream cannot make it allocate without bound).
#include "package/zlib_codec.h"

#include <algorithm>
#include <cstring>
#include <new>

#include <cryptopp/cryptlib.h>
#include <cryptopp/zlib.h>

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
  if (destinationLength == nullptr || sourceLength < 0 || *destinationLength < 0) return -13;
  if (source == nullptr) {
    *destinationLength = 0;
    return 0;
  }
  if (destination == nullptr && *destinationLength > 0) return -13;
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

}  // namespace

int ZlibCodec::Compress(const void* source, int32_t sourceLength, void* destination,
                        int32_t* destinationLength) {
  try {
    CryptoPP::ZlibCompressor compressor(nullptr, kDeflateLevel, kLog2WindowSize, true);
    return Run(compressor, source, sourceLength, destination, destinationLength);
  } catch (...) {
    return -100;
  }
}

int ZlibCodec::Decompress(const void* source, int32_t sourceLength, void* destination,
                          int32_t* destinationLength) {
  try {
    CryptoPP::ZlibDecompressor decompressor;
    return Run(decompressor, source, sourceLength, destination, destinationLength);
  } catch (...) {
    return -100;
  }
}

ZlibCodec* CreateZlibCodec() { return new (std::nothrow) ZlibCodec(); }

}  // namespace marrowgate
