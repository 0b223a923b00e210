#include "package/store/package_codecs.h"

#include "keys/key_factory.h"

namespace marrowgate {

bool PackageCodecs::Create(int cipherKind, bool withKeyB) {
  return Create(CreateKeyFactory(), cipherKind, withKeyB);
}

bool PackageCodecs::Create(KeyFactory* factory, int cipherKind, bool withKeyB) {
  Reset();
  keyFactory.reset(factory);
  compressor.reset(CreateZlibCodec());
  if (keyFactory) {
    cipherAEnc.reset(keyFactory->CreateCipher(cipherKind));
    cipherADec.reset(keyFactory->CreateCipher(cipherKind));
    if (withKeyB) {
      cipherBEnc.reset(keyFactory->CreateCipher(cipherKind));
      cipherBDec.reset(keyFactory->CreateCipher(cipherKind));
    }
  }
  bool complete = keyFactory && compressor && cipherAEnc && cipherADec &&
                  (!withKeyB || (cipherBEnc && cipherBDec));
  if (!complete) Reset();
  return complete;
}

void PackageCodecs::Reset() {
  cipherBDec.reset();
  cipherBEnc.reset();
  cipherADec.reset();
  cipherAEnc.reset();
  compressor.reset();
  keyFactory.reset();
}

}  // namespace marrowgate
