// Unsealer: reads a sealed stream (a SealHeader and the stored bytes, see
// package/seal/seal_layout.h) from its start to its end and hands the plain content
// to a sink in slices, in memory that does not grow with the item.
//
// SealedFile holds an item's whole content; this is for reading items
// whose content need not be held (extracting, verifying), whatever their
// size up to the format's 4 GiB - 1. The stored bytes are read in large
// slices, deciphered piece by piece (CipherObject::DecryptPiece continues
// the chain across pieces), inflated with a streaming inflater and digested
// as they come. (Taking small items whole, through the ZlibCodec, was
// measured no faster: one way serves every size.)
//
// The digest is known only at the end: a damaged stream may have handed
// part or all of its content to the sink before Unseal() reports it, so the
// caller keeps what the sink wrote aside until the result is 0.
//
//   Unsealer unsealer;
//   int code = unsealer.Unseal(params, [&](const uint8_t* bytes, size_t n) {
//     return WriteAll(out, bytes, n);
//   });
#ifndef MARROWGATE_PACKAGE_SEAL_UNSEALER_H_
#define MARROWGATE_PACKAGE_SEAL_UNSEALER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "package/seal/seal_layout.h"
#include "package/seal/sealed_file.h"
#include "util/md5.h"

namespace marrowgate {

// Takes the next slice of plain content; false stops the unsealing.
using UnsealSink = std::function<bool(const uint8_t* bytes, size_t n)>;

// Unseal() code: the sink returned false.
inline constexpr int kUnsealSinkFailed = -40;

class Unsealer {
 public:
  // Stored bytes read (and plain bytes inflated) per slice.
  static constexpr size_t kSliceSize = size_t{1} << 20;

  Unsealer();
  ~Unsealer();
  Unsealer(const Unsealer&) = delete;
  Unsealer& operator=(const Unsealer&) = delete;

  // Unseals the stream held in params.file from its position 0, using
  // params.compressor, cipherADec and cipherBDec (the rest is ignored).
  // `header`, when given, receives the SealHeader as soon as it is read.
  // Returns 0 when the whole content went to the sink and matched the
  // stored digest; otherwise a SealOpenCode with SealedFile::Open's meaning
  // (found before any content reached the sink, except kSealShortContent,
  // kSealDecipherFailed, kSealWrongPlainSize and inflater codes, which may
  // come midway), kSealDigestMismatch (at the end, every byte handed over),
  // or kUnsealSinkFailed. Inflater codes are ZlibCodec's (-15 integrity
  // check failed, -16 invalid data format) offset by kSealInflateOffset.
  // A cipher that does not decipher in pieces makes the stored bytes be
  // held whole.
  int Unseal(const SealParams& params, const UnsealSink& sink, SealHeader* header = nullptr);

  // The bytes the buffers kept for the next call take (the most the
  // calls so far have needed at once, within a few slices).
  size_t buffer_bytes() const;

 private:
  struct Inflater;

  // Reads and deciphers the stored bytes into stored_, slice by slice,
  // giving each deciphered slice to `take`. 0 or a code.
  int ReadStored(VirtualFile* file, CipherObject* cipher, uint32_t storedSize,
                 const std::function<int(const uint8_t*, size_t)>& take);
  // Inflates the stored bytes slice by slice into the digest and the sink.
  int Inflate(VirtualFile* file, CipherObject* cipher, const SealHeader& header, Md5* md5,
              const UnsealSink& sink);
  // A buffer kept from call to call, never cleared (every byte used is
  // written first).
  struct Buffer {
    std::unique_ptr<uint8_t[]> bytes;
    size_t capacity = 0;
    // Room for at least n bytes (what it held is lost when it grows).
    uint8_t* Reserve(size_t n);
  };

  Buffer stored_;
  Buffer plain_;
  std::unique_ptr<Inflater> inflater_;
};

}  // namespace marrowgate

#endif  // MARROWGATE_PACKAGE_SEAL_UNSEALER_H_
