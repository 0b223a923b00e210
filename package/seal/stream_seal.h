// Sealing a long content straight from where it lies (a disk file), in
// memory that does not grow with its size.
//
// SealedFile holds its whole content and seals it in one go, through the
// fast whole-buffer deflater. Here the content is read in pieces, digested,
// deflated by a streaming deflater (zlib format, level 6, 2^15 window),
// enciphered piece by piece and written behind a header that is filled in
// at the end. The rules are those of a SealedFile's seal: compressed only
// when the compressed form is smaller, enciphered after that.
//
// The content is read up to three times, from its start each time:
//   1. judged with the fast engine's uncompressible-data detection (the
//      judging stops at the first piece worth deflating). Content judged
//      uncompressible is stored plain, as the fast engine stores it;
//   2. otherwise deflated and written. Once the compressed form reaches
//      the expected size it cannot end smaller: deflating stops, and
//   3. the content is written plain.
// No pass writes more than the content's own length behind the header, so
// the item never holds bytes the header does not count.
//
// The bytes of a plain (stored) item are those a SealedFile writes; a
// compressed item differs from the fast engine's output but inflates alike.
#ifndef MARROWGATE_PACKAGE_SEAL_STREAM_SEAL_H_
#define MARROWGATE_PACKAGE_SEAL_STREAM_SEAL_H_

#include <cstddef>
#include <cstdint>
#include <functional>

#include "keys/cipher_object.h"
#include "package/file/virtual_file.h"
#include "package/seal/seal_layout.h"

namespace marrowgate {

// Reads up to `n` bytes of the plain content from `offset`: the count read
// (0 at the end) or a negative value on failure.
using PlainSource = std::function<int64_t(uint64_t offset, uint8_t* buffer, size_t n)>;

// Codes of a streaming seal besides SealedFile::Seal's.
inline constexpr int kSealSourceFailed = -40;   // reading the content failed
inline constexpr int kSealSourceChanged = -41;  // it changed length between passes,
                                                // or grew past 2^31 - 1 bytes
inline constexpr int kSealNoPieces = -42;       // the cipher cannot encipher in pieces

// Plain bytes read per piece: whole judged segments and whole cipher blocks.
inline constexpr size_t kStreamSealPiece = size_t{1} << 20;

struct StreamSealJob {
  VirtualFile* file = nullptr;     // receives header and stored bytes from position 0
  bool compress = false;           // a compressor is at hand
  CipherObject* cipher = nullptr;  // enciphers the stored bytes (null: none)
  SealHeader header;               // flags and time to start from
  uint64_t expectedSize = 0;       // the content's length as last seen
  // (done, total) as SealedFile::SetSealProgress counts it. May be empty.
  std::function<void(uint64_t done, uint64_t total)> progress;
};

// Seals the content `source` gives into `job.file`. 0 with the header
// written in `*sealed`, or a negative code: kSealSource*, kSealNoPieces,
// the compressor's failure (-11 - 1500), -1 cipher failure, -10 seek,
// -11 header write, -12 content write, kSealOutOfMemory.
int SealFromSource(const StreamSealJob& job, const PlainSource& source, SealHeader* sealed);

}  // namespace marrowgate

#endif  // MARROWGATE_PACKAGE_SEAL_STREAM_SEAL_H_
