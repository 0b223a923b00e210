#include "keys/key_factory.h"

#include <cryptopp/randpool.h>

#include <cstdio>
#include <new>

#include "keys/block_cipher_object.h"
#include "keys/builtin_keys.h"
#include "keys/dh_key_exchanger.h"
#include "keys/rsa_key_exchanger.h"
#include "platform/env.h"

namespace marrowgate {
namespace {

constexpr int32_t kCipherSteps[5] = {1, 3, 5, 7, 11};
constexpr int kRsaSecretLengths[6] = {200, 192, 184, 176, 168, 160};
constexpr int32_t kDefaultPrivateKeyCapacity = 3072;
constexpr int32_t kDefaultPublicDataCapacity = 1024;

class DefaultKeyFactory final : public KeyFactory {
 public:
  DefaultKeyFactory() {
    // An unseeded pool would hand every run the same key material.
    uint8_t seed[32];
    if (platform::SystemRandom(seed, sizeof(seed))) {
      pool_.IncorporateEntropy(seed, sizeof(seed));
    } else {
      Seed(nullptr, 0);
    }
  }

  int Configure(int type, const void* record, int32_t value) override {
    if (type == kConfigureGroupTable) {
      if (record == nullptr || value < 1) return -1;
      groupTexts_ = static_cast<const char* const*>(record);
      groupCount_ = value;
    } else if (type == kConfigureKeyPairTable) {
      if (record == nullptr) return -1;
      const KEYPAIR_TABLE_T& table = *static_cast<const KEYPAIR_TABLE_T*>(record);
      if (table.nPairs < 1 || table.ppszPrivateKeys == nullptr || table.ppszPublicKeys == nullptr) {
        return -1;
      }
      keyPairs_ = table;
    }
    return 0;
  }

  void Seed(const void* data, int32_t length) override {
    if (data != nullptr) {
      if (length > 0) pool_.IncorporateEntropy(static_cast<const uint8_t*>(data), static_cast<size_t>(length));
      return;
    }
    char text[48];
    const int n = std::snprintf(text, sizeof(text), "%ld%d", static_cast<long>(platform::TimeNow()),
                                static_cast<int>(platform::TickMilliseconds()));
    if (n > 0) pool_.IncorporateEntropy(reinterpret_cast<const uint8_t*>(text), static_cast<size_t>(n));
  }

  IKeyExchanger* CreateKeyExchanger(int kind) override {
    if (kind < 0) return nullptr;
    if (kind % 2 == 0) {
      return DhKeyExchanger::Create(pool_, groupTexts_[(kind / 2) % groupCount_]);
    }
    return new (std::nothrow) RsaKeyExchanger(pool_, &keyPairs_, kRsaSecretLengths[(kind / 2) % 6]);
  }

  CipherObject* CreateCipher(int kind) override {
    if (kind < 0) return nullptr;
    return new (std::nothrow) BlockCipherObject(kCipherSteps[kind % 5]);
  }

 private:
  ~DefaultKeyFactory() override = default;

  CryptoPP::RandomPool pool_;
  const char* const* groupTexts_ = kBuiltinGroupParameters;
  int32_t groupCount_ = kBuiltinGroupCount;
  KEYPAIR_TABLE_T keyPairs_ = {kBuiltinPrivateKeys, kBuiltinPublicKeys, kBuiltinKeyPairCount,
                               kDefaultPrivateKeyCapacity, kDefaultPublicDataCapacity};
};

}  // namespace

KeyFactory* CreateKeyFactory() {
  try {
    return new (std::nothrow) DefaultKeyFactory;
  } catch (const std::exception&) {
    return nullptr;
  }
}

}  // namespace marrowgate
