// Sealed streams made and read apart from their package, so that the
// costly steps (compressing and enciphering, deciphering and inflating)
// can run on other threads while one thread owns the package:
//
//   // worker (its own codecs, keyed as the package keys its own):
//   PackageCodecs codecs;
//   SealParams seal;
//   if (!MakeStreamCodecs(package->Params(), /*cipherKind=*/0, &codecs, &seal)) ...;
//   std::vector<uint8_t> stream;
//   SealStream(seal, plain.data(), plain.size(), time, &stream);
//   // owner:
//   package->WriteSealedItem("a/b.txt", stream.data(), stream.size());
//
// and the reverse: the owner reads an item's stored form with
// Package::ReadSealedItem, a worker unseals it with OpenSealedStream.
//
// Cipher objects carry a chain and the codec a working state: each thread
// needs a set of its own.
#ifndef MARROWGATE_PACKAGE_STORE_SEALED_STREAM_H_
#define MARROWGATE_PACKAGE_STORE_SEALED_STREAM_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "package/store/package.h"
#include "package/store/package_codecs.h"
#include "package/seal/sealed_file.h"

namespace marrowgate {

// Makes in `codecs` a codec and cipher objects of kind `cipherKind` and
// keys them from `params` as Package::Open keys a package's own (no key:
// that cipher is left out). `seal` gets them (mode and file unset). False
// when they cannot be made.
bool MakeStreamCodecs(const PackageParams& params, int cipherKind, PackageCodecs* codecs,
                      SealParams* seal);

// Seals `n` plain bytes into a complete sealed stream (SealHeader and
// stored bytes) with the codec and ciphers of `codecs` (only those fields
// are used), the header time `time` (0: now). The bytes are those a
// SealedFile would write for the same content and time. 0, or the
// SealedFile::Seal code (kSealOutOfMemory when out of memory).
int SealStream(const SealParams& codecs, const void* plain, size_t n, uint32_t time,
               std::vector<uint8_t>* stream);

// Opens the sealed stream `stream` (taken over) for reading, unsealed with
// the codec and ciphers of `codecs`: a SealedFile in mode 1 over it, which
// checks the stored digest as usual. Null with `*code` (a SealOpenCode)
// when it cannot be unsealed.
SealedFile* OpenSealedStream(const SealParams& codecs, std::vector<uint8_t> stream, int* code);

}  // namespace marrowgate

#endif  // MARROWGATE_PACKAGE_STORE_SEALED_STREAM_H_
