#include "package/seal/stream_seal.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "package/seal/sealed_file.h"
#include "package/seal/zlib_codec.h"
#include "util/md5.h"

namespace marrowgate {

namespace {

constexpr uint64_t kLongestContent = static_cast<uint64_t>(std::numeric_limits<int32_t>::max());
constexpr int kDeflateLevel = 6;
constexpr int kWindowBits = 15;
constexpr int kMemoryLevel = 8;

// Why a pass stopped.
enum class Pass { kDone, kTooLong, kFailed };

// Enciphers and writes the stored bytes in order, holding back the part of
// a cipher block that the next bytes complete.
class StoredWriter {
 public:
  StoredWriter(VirtualFile* file, CipherObject* cipher) : file_(file), cipher_(cipher) {}

  // Back to the first stored byte, the cipher chain restarted.
  int Restart() {
    written_ = 0;
    pending_.clear();
    if (cipher_ != nullptr) cipher_->ResetChain();
    return file_->Seek(kSealHeaderSize, 0) < 0 ? -10 : 0;
  }

  int Put(const uint8_t* bytes, size_t n) {
    pending_.insert(pending_.end(), bytes, bytes + n);
    if (pending_.size() < kStreamSealPiece) return 0;
    return Drain(false);
  }

  int Finish() { return Drain(true); }

  uint64_t written() const { return written_ + pending_.size(); }

 private:
  int Drain(bool last) {
    const size_t n = last ? pending_.size() : pending_.size() & ~size_t{7};
    if (cipher_ != nullptr &&
        cipher_->EncryptPiece(pending_.data(), static_cast<int32_t>(n), pending_.data(), last) < 0)
      return -1;
    if (n > 0 && !file_->WriteExactly(pending_.data(), n)) return -12;
    written_ += n;
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
    return 0;
  }

  VirtualFile* file_;
  CipherObject* cipher_;
  std::vector<uint8_t> pending_;
  uint64_t written_ = 0;
};

struct Deflater {
  z_stream z{};
  bool ready = false;
  ~Deflater() {
    if (ready) deflateEnd(&z);
  }
};

class StreamSealer {
 public:
  StreamSealer(const StreamSealJob& job, const PlainSource& source)
      : job_(job), source_(source), out_(job.file, job.cipher) {}

  int Run(SealHeader* sealed) {
    if (job_.cipher != nullptr && !job_.cipher->EncryptsInPieces()) return kSealNoPieces;
    try {
      piece_.resize(kStreamSealPiece);
    } catch (const std::bad_alloc&) {
      return kSealOutOfMemory;
    }
    total_ = 3 * std::max<uint64_t>(job_.expectedSize, 1);
    header_ = job_.header;
    bool compressed = false;
    if (header_.flags & kSealCompressed) {
      int judged = 0;
      compressed = !Uncompressible(&judged);
      if (judged < 0) return judged;
    }
    if (compressed) {
      const Pass pass = WriteCompressed();
      if (pass == Pass::kFailed) return code_;
      compressed = pass == Pass::kDone;
    }
    if (!compressed) {
      header_.flags &= static_cast<uint8_t>(~kSealCompressed);
      if (WritePlain() != Pass::kDone) return code_;
    }
    Told(total_);
    uint8_t bytes[kSealHeaderSize];
    EncodeSealHeader(header_, bytes);
    if (job_.file->Seek(0, 0) < 0) return -10;
    if (!job_.file->WriteExactly(bytes, sizeof bytes)) return -11;
    *sealed = header_;
    return 0;
  }

 private:
  // Never backwards, also when a pass starts over.
  void Told(uint64_t done) {
    shown_ = std::max(shown_, std::min(done, total_));
    if (job_.progress) job_.progress(shown_, total_);
  }

  // The next piece from `offset`, filled as far as the content goes: its
  // length (0 at the end) or -1 with code_ set.
  int64_t ReadPiece(uint64_t offset) {
    size_t got = 0;
    while (got < piece_.size()) {
      const int64_t n = source_(offset + got, piece_.data() + got, piece_.size() - got);
      if (n < 0) {
        code_ = kSealSourceFailed;
        return -1;
      }
      if (n == 0) break;
      got += static_cast<size_t>(n);
    }
    if (offset + got > kLongestContent) {
      code_ = kSealSourceChanged;
      return -1;
    }
    return static_cast<int64_t>(got);
  }

  // Pass 1: true when no piece is worth deflating. *code < 0 on a read failure.
  bool Uncompressible(int* code) {
    for (uint64_t at = 0;;) {
      const int64_t n = ReadPiece(at);
      if (n < 0) {
        *code = code_;
        return false;
      }
      if (n == 0) return true;
      if (!NoSegmentShrinks(piece_.data(), static_cast<size_t>(n))) return false;
      at += static_cast<uint64_t>(n);
      Told(at);
    }
  }

  // Starts a writing pass over the content.
  bool Begin() {
    Md5Init(&md5_);
    const int code = out_.Restart();
    if (code < 0) code_ = code;
    return code == 0;
  }

  // Ends a writing pass that read `length` plain bytes.
  Pass End(uint64_t length) {
    // An earlier pass may have written up to its own length: this one must
    // cover it, or the item keeps bytes no header counts.
    if (length < longestWritten_) {
      code_ = kSealSourceChanged;
      return Pass::kFailed;
    }
    const int code = out_.Finish();
    if (code < 0) {
      code_ = code;
      return Pass::kFailed;
    }
    Md5Final(&md5_, header_.digest);
    header_.plainSize = static_cast<uint32_t>(length);
    header_.storedSize = static_cast<uint32_t>(out_.written());
    return Pass::kDone;
  }

  Pass WritePlain() {
    if (!Begin()) return Pass::kFailed;
    uint64_t at = 0;
    for (;;) {
      const int64_t n = ReadPiece(at);
      if (n < 0) return Pass::kFailed;
      if (n == 0) break;
      Md5Update(&md5_, piece_.data(), static_cast<size_t>(n));
      const int code = out_.Put(piece_.data(), static_cast<size_t>(n));
      if (code < 0) {
        code_ = code;
        return Pass::kFailed;
      }
      at += static_cast<uint64_t>(n);
      Told(job_.expectedSize + 2 * at);
    }
    return End(at);
  }

  // Pass 2: kTooLong once the compressed form reaches the expected size
  // (nothing past it written).
  Pass WriteCompressed() {
    Deflater deflater;
    if (deflateInit2(&deflater.z, kDeflateLevel, Z_DEFLATED, kWindowBits, kMemoryLevel,
                     Z_DEFAULT_STRATEGY) != Z_OK) {
      code_ = kSealOutOfMemory;
      return Pass::kFailed;
    }
    deflater.ready = true;
    std::vector<uint8_t> produced;
    try {
      produced.resize(kStreamSealPiece);
    } catch (const std::bad_alloc&) {
      code_ = kSealOutOfMemory;
      return Pass::kFailed;
    }
    if (!Begin()) return Pass::kFailed;
    const uint64_t limit = job_.expectedSize;
    uint64_t at = 0;
    for (bool end = false; !end;) {
      const int64_t n = ReadPiece(at);
      if (n < 0) return Pass::kFailed;
      end = n == 0;
      Md5Update(&md5_, piece_.data(), static_cast<size_t>(n));
      at += static_cast<uint64_t>(n);
      deflater.z.next_in = piece_.data();
      deflater.z.avail_in = static_cast<uInt>(n);
      int result = Z_OK;
      do {
        deflater.z.next_out = produced.data();
        deflater.z.avail_out = static_cast<uInt>(produced.size());
        result = deflate(&deflater.z, end ? Z_FINISH : Z_NO_FLUSH);
        if (result == Z_STREAM_ERROR) {
          code_ = -11 - 1500;
          return Pass::kFailed;
        }
        const size_t made = produced.size() - deflater.z.avail_out;
        // Not smaller than the content seen so far, nor than its expected
        // length: it is stored plain.
        if (out_.written() + made >= std::max(limit, at)) {
          longestWritten_ = out_.written();
          return Pass::kTooLong;
        }
        const int code = out_.Put(produced.data(), made);
        if (code < 0) {
          code_ = code;
          return Pass::kFailed;
        }
      } while (deflater.z.avail_out == 0 || (end && result != Z_STREAM_END));
      Told(job_.expectedSize + 2 * at);
    }
    longestWritten_ = out_.written();
    if (out_.written() >= at) return Pass::kTooLong;  // the content shrank meanwhile
    return End(at);
  }

  const StreamSealJob& job_;
  const PlainSource& source_;
  StoredWriter out_;
  std::vector<uint8_t> piece_;
  SealHeader header_;
  Md5 md5_;
  uint64_t total_ = 0;
  uint64_t shown_ = 0;
  uint64_t longestWritten_ = 0;
  int code_ = 0;
};

}  // namespace

int SealFromSource(const StreamSealJob& job, const PlainSource& source, SealHeader* sealed) {
  if (job.file == nullptr || !source || sealed == nullptr) return -10;
  try {
    StreamSealer sealer(job, source);
    return sealer.Run(sealed);
  } catch (const std::bad_alloc&) {
    return kSealOutOfMemory;
  }
}

}  // namespace marrowgate
