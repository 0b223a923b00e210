// SealedFile: a VirtualFile over one sealed stream (a SealHeader and the
// stored bytes, see package/seal/seal_layout.h) held in another VirtualFile, normally
// a package item's EntryFile.
//
// Opening reads the whole stream, deciphers and decompresses it into
// memory; reads, writes and seeks then act on the plain content. Memory for
// the plain content follows what inflation really produces (it grows in
// steps); the header's plainSize is only an upper bound checked against.
//
// A read that reaches the end of content not written since it was
// unsealed first compares the MD5 of the whole content with the digest
// stored in the header; on a mismatch it returns kSealDigestMismatch,
// delivers nothing and leaves the position as it was (so does every later
// read that reaches the end). Reads that stop before the end do not check.
// Streams opened in mode 2 or 4, or written to, are never checked.
//
// Releasing
// a written stream seals it back: compress (kept only when smaller), then
// encipher, then write header and stored bytes from position 0 of the
// underlying file.
//
// Modes (OpenMode): 1 read (writes refused), 2 create (a new empty stream),
// 3 update (unsealed, writable, sealed again when written), 4 raw (the
// underlying bytes as they are, header included; read-only). A raw stream
// holds nothing itself: reads, seeks and sizes pass through to the
// underlying file, so it costs no memory however long the item is (and
// reads nothing once the underlying file is gone).
#ifndef MARROWGATE_PACKAGE_SEAL_SEALED_FILE_H_
#define MARROWGATE_PACKAGE_SEAL_SEALED_FILE_H_

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "keys/cipher_object.h"
#include "package/seal/seal_layout.h"
#include "package/seal/stream_seal.h"
#include "package/file/open_mode.h"
#include "package/file/virtual_file.h"
#include "package/seal/zlib_codec.h"

namespace marrowgate {

// The record a SealedFile is opened with. The codec and cipher objects are
// borrowed; they must outlive the sealed file.
struct SealParams {
  int mode = kOpenRead;                 // OpenMode
  VirtualFile* file = nullptr;          // holds the stream
  ZlibCodec* compressor = nullptr;      // null: not compressed
  CipherObject* cipherAEnc = nullptr;
  CipherObject* cipherADec = nullptr;
  CipherObject* cipherBEnc = nullptr;   // wins over A for enciphering
  CipherObject* cipherBDec = nullptr;
  int32_t reserve = 4096;               // bytes reserved for a new stream
  bool ownFile = false;                 // release `file` on destruction
  // Told the code of a seal that fails when the stream is released (a
  // release cannot return it). May be empty.
  std::function<void(int code)> sealFailed;
};

// Copies the codec and the four cipher objects (borrowed) from one record to
// another of the records that carry them under these names: SealParams,
// PackageParams, FileManagerConfig.
template <class From, class To>
void CopyCodecs(const From& from, To* to) {
  to->compressor = from.compressor;
  to->cipherAEnc = from.cipherAEnc;
  to->cipherADec = from.cipherADec;
  to->cipherBEnc = from.cipherBEnc;
  to->cipherBDec = from.cipherBDec;
}

// Open codes. Unsealing reads the header, then the stored bytes, then
// deciphers, then checks sizes and inflates; the first failing step gives
// the code.
enum SealOpenCode : int {
  kSealShortHeader = -11,
  kSealBadHeader = -12,
  kSealShortContent = -13,  // also: storedSize runs past the file, or
                            // no memory for the content
  kSealNoCipher = -14,
  kSealDecipherFailed = -15,
  kSealNoCodec = -20,
  kSealWrongPlainSize = -21,      // also: plainSize no stream could hold
  kSealStoredSizeMismatch = -22,  // uncompressed, storedSize != plainSize
  kSealInflateOffset = -2000,     // decompressor code c gives c - 2000
  kSealBadMode = -100,
};

// Read code: the content read through to its end does not match the
// digest stored in its header (the stream is damaged).
inline constexpr int32_t kSealDigestMismatch = -30;

// Seal's code when memory for the stored form cannot be had: the
// compressor's out-of-memory code (-100) given Seal's compressor offset.
inline constexpr int kSealOutOfMemory = -100 - 1500;

// Bytes digested or written between two calls of a seal's progress.
inline constexpr size_t kSealProgressSlice = 4u << 20;

// Largest expansion of deflate (bytes out per byte in).
inline constexpr uint64_t kMaxInflateRatio = 1032;

// A record for `file` in `mode` with the codec and the four cipher objects
// of `codecs` (nothing else of it is taken).
SealParams SealParamsWithCodecs(const SealParams& codecs, int mode, VirtualFile* file);

// Reads and checks only the SealHeader at position 0 of `file`:
// 0, kSealShortHeader or kSealBadHeader.
int ReadSealHeader(VirtualFile* file, SealHeader* header);

class SealedFile : public VirtualFile {
 public:
  SealedFile() = default;

  // 0 or one of the SealOpenCodes. A failed open leaves the object to be
  // released (it then writes nothing; an owned file is released).
  int Open(const SealParams& params);

  // Seals now when written since the last seal: 0, or a negative code:
  // compressor error e gives e - 1500, -2 cipher missing, -1 cipher
  // failure, -10 seek, -11 header write, -12 content write,
  // kSealOutOfMemory when the stored form cannot be held.
  int Seal();
  // Seals the content `source` gives in place of the content held, reading
  // it in pieces instead of holding it (package/seal/stream_seal.h), for a
  // long content that lies elsewhere (a disk file). Modes 2 and 3 only
  // (else -1). 0 or a code of SealFromSource (-2 when the cipher is
  // missing); afterwards the stream holds no content and is not written,
  // so releasing it seals nothing more. The seal progress is told.
  int SealFrom(const PlainSource& source, uint64_t expectedSize);
  // Makes room for `bytes` of content at once, for a writer that knows the
  // size it will write: the content then takes that much memory instead of
  // growing in doubling steps. 0, or -1 (read-only, too large, no memory).
  int Reserve(size_t bytes);
  // Told how far a seal has come, so that a long one can be shown moving:
  // (done, total) in work units of 3 x the content size: the digest in
  // slices of kSealProgressSlice (0 .. n), the stored form made (2n), the
  // stored bytes written in slices (2n .. 3n). Called from Seal() only;
  // may be empty.
  void SetSealProgress(std::function<void(uint64_t done, uint64_t total)> progress) {
    sealProgress_ = std::move(progress);
  }
  // Lets go of the codecs and of the underlying stream's content: later
  // writes are refused, releasing seals nothing (what was written and not
  // sealed is dropped). Reads go on from memory. For a stream whose
  // package closes while it is open.
  void Detach();

  int32_t Size() override;
  int32_t GetTime() override { return static_cast<int32_t>(header_.time); }
  // 0 means now. Sets the header time; does not mark the stream written.
  int32_t SetTime(int32_t seconds) override;
  // The bytes copied, 0 at the end, -1 for bad arguments, or
  // kSealDigestMismatch (see above).
  int32_t Read(void* buffer, int32_t n) override;
  // A negative target becomes 0. Past the end: mode 1 and 4 stop at the
  // end, writable modes grow the content (with zeros) to the target.
  int32_t Seek(int64_t offset, int origin) override;
  bool AtEnd() override;
  int64_t Tell() override;
  // Mode 1 and 4: -1. Otherwise copies at the position, growing the content.
  int32_t Write(const void* buffer, int32_t n) override;
  int32_t Flush() override { return -1; }
  // The 16 digest bytes stored in the header, as they are (a damaged
  // stream's content may not match them); while written and not yet
  // sealed, the digest the seal will store.
  int32_t Digest(uint8_t digest[16]) override;

  const SealHeader& header() const { return header_; }
  bool dirty() const { return dirty_; }

 protected:
  ~SealedFile() override;

 private:
  int Unseal();
  int Inflate(const std::vector<uint8_t>& stored);
  // 0 when the content matches the stored digest or needs no check;
  // otherwise kSealDigestMismatch. Checks once.
  int32_t CheckDigest();
  CipherObject* CipherFor(uint8_t flags, bool enciphering) const;
  bool IsRaw() const { return opened_ && params_.mode == kOpenRaw; }

  SealParams params_;
  bool opened_ = false;
  SealHeader header_;
  uint8_t sealFlags_ = 0;  // flags a seal starts from
  std::vector<uint8_t> content_;
  size_t position_ = 0;
  bool dirty_ = false;
  // The content is as unsealed and has not been compared with the stored
  // digest yet.
  bool checkPending_ = false;
  bool damaged_ = false;
  std::function<void(uint64_t, uint64_t)> sealProgress_;
};

}  // namespace marrowgate

#endif  // MARROWGATE_PACKAGE_SEAL_SEALED_FILE_H_
