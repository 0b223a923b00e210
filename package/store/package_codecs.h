// PackageCodecs: the zlib codec and the four cipher objects (enciphering
// and deciphering for key A and key B) that packages are opened with, made
// together from a key factory and owned together with it. Cipher objects
// do not refer to their factory (keys/key_factory.h); the factory is kept
// here only so that whoever holds the set can make more objects of the
// same kind, and is released last. CreateFileManager
// keeps one set for its packages; tools, benchmarks and tests that open a
// Package directly make their own.
//
//   PackageCodecs codecs;
//   if (!codecs.Create(/*cipherKind=*/0, /*withKeyB=*/true)) ...;
//   PackageParams params;
//   codecs.ApplyTo(&params);   // the objects stay owned by `codecs`
#ifndef MARROWGATE_PACKAGE_STORE_PACKAGE_CODECS_H_
#define MARROWGATE_PACKAGE_STORE_PACKAGE_CODECS_H_

#include "keys/cipher_object.h"
#include "keys/key_factory.h"
#include "package/store/package.h"
#include "package/seal/zlib_codec.h"
#include "util/releaser.h"

namespace marrowgate {

struct PackageCodecs {
  // Declared first: members are released in reverse order, so the factory
  // goes last.
  Owned<KeyFactory> keyFactory;
  Owned<ZlibCodec> compressor;
  Owned<CipherObject> cipherAEnc;
  Owned<CipherObject> cipherADec;
  Owned<CipherObject> cipherBEnc;  // null unless made with key B
  Owned<CipherObject> cipherBDec;

  // Makes a key factory, then the codec and cipher objects of kind
  // `cipherKind` (the key-B pair only when `withKeyB`). False, with every
  // member null, when any of them cannot be made.
  bool Create(int cipherKind, bool withKeyB);
  // The same with `factory` (taken over, may be null) in place of a new
  // one.
  bool Create(KeyFactory* factory, int cipherKind, bool withKeyB);

  // Releases everything, the factory last.
  void Reset();

  // Stores the objects (still owned here) into `record`: a PackageParams,
  // SealParams or FileManagerConfig.
  template <class Record>
  void ApplyTo(Record* record) const {
    record->compressor = compressor.get();
    record->cipherAEnc = cipherAEnc.get();
    record->cipherADec = cipherADec.get();
    record->cipherBEnc = cipherBEnc.get();
    record->cipherBDec = cipherBDec.get();
  }
};

}  // namespace marrowgate

#endif  // MARROWGATE_PACKAGE_STORE_PACKAGE_CODECS_H_
