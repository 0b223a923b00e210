// PackageCodecs: the zlib codec and the four cipher objects (enciphering
// and deciphering for key A and key B) that packages are opened with, made
// together from a new key factory and owned together. CreateFileManager
// keeps one set for its packages; tools, benchmarks and tests that open a
// Package directly make their own.
//
//   PackageCodecs codecs;
//   if (!codecs.Create(/*cipherKind=*/0, /*withKeyB=*/true)) ...;
//   PackageParams params;
//   codecs.ApplyTo(&params);   // the objects stay owned by `codecs`
#ifndef MARROWGATE_PACKAGE_PACKAGE_CODECS_H_
#define MARROWGATE_PACKAGE_PACKAGE_CODECS_H_

#include "keys/cipher_object.h"
#include "package/package.h"
#include "package/zlib_codec.h"
#include "util/releaser.h"

namespace marrowgate {

struct PackageCodecs {
  Owned<ZlibCodec> compressor;
  Owned<CipherObject> cipherAEnc;
  Owned<CipherObject> cipherADec;
  Owned<CipherObject> cipherBEnc;  // null unless made with key B
  Owned<CipherObject> cipherBDec;

  // Makes the codec and cipher objects of kind `cipherKind` (the key-B
  // pair only when `withKeyB`); the key factory is released afterwards.
  // False, with every member null, when any of them cannot be made.
  bool Create(int cipherKind, bool withKeyB);

  // Stores the objects (still owned here) into `params`.
  void ApplyTo(PackageParams* params) const;
};

}  // namespace marrowgate

#endif  // MARROWGATE_PACKAGE_PACKAGE_CODECS_H_
