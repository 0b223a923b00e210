#include "package/package_codecs.h"

#include "keys/key_factory.h"

namespace marrowgate {

bool PackageCodecs::Create(int cipherKind, bool withKeyB) {
  Owned<KeyFactory> factory(CreateKeyFactory());
  compressor.reset(CreateZlibCodec());
  if (factory) {
    cipherAEnc.reset(factory->CreateCipher(cipherKind));
    cipherADec.reset(factory->CreateCipher(cipherKind));
    if (withKeyB) {
      cipherBEnc.reset(factory->CreateCipher(cipherKind));
      cipherBDec.reset(factory->CreateCipher(cipherKind));
    }
  }
  bool complete = factory && compressor && cipherAEnc && cipherADec &&
                  (!withKeyB || (cipherBEnc && cipherBDec));
  if (!complete) *this = PackageCodecs();
  return complete;
}

void PackageCodecs::ApplyTo(PackageParams* params) const {
  params->compressor = compressor.get();
  params->cipherAEnc = cipherAEnc.get();
  params->cipherADec = cipherADec.get();
  params->cipherBEnc = cipherBEnc.get();
  params->cipherBDec = cipherBDec.get();
}

}  // namespace marrowgate
