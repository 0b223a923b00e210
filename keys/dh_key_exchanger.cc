#include "keys/dh_key_exchanger.h"

#include <cryptopp/filters.h>
#include <cryptopp/hex.h>
#include <cryptopp/secblock.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

namespace marrowgate {

DhKeyExchanger* DhKeyExchanger::Create(CryptoPP::RandomPool& pool, const char* groupHex) {
  if (groupHex == nullptr) return nullptr;
  try {
    CryptoPP::StringSource source(groupHex, true, new CryptoPP::HexDecoder);
    CryptoPP::DH domain(source);
    if (domain.AgreedValueLength() > static_cast<unsigned>(kBufferSize) ||
        domain.PrivateKeyLength() > static_cast<unsigned>(kBufferSize) ||
        domain.PublicKeyLength() > static_cast<unsigned>(kBufferSize)) {
      return nullptr;
    }
    return new (std::nothrow) DhKeyExchanger(pool, domain);
  } catch (const std::exception&) {
    return nullptr;
  }
}

DhKeyExchanger::DhKeyExchanger(CryptoPP::RandomPool& pool, const CryptoPP::DH& domain)
    : pool_(pool), domain_(domain), agreedLength_(static_cast<int>(domain.AgreedValueLength())) {}

DhKeyExchanger::~DhKeyExchanger() {
  std::fill(privateKey_.begin(), privateKey_.end(), 0);
  std::fill(secret_.begin(), secret_.end(), 0);
}

int DhKeyExchanger::Generate() {
  try {
    domain_.GenerateKeyPair(pool_, privateKey_.data(), publicKey_.data());
    generated_ = true;
    return 0;
  } catch (const std::exception&) {
    generated_ = false;
    return -1;
  }
}

int DhKeyExchanger::Agree(const void* peerData, int32_t length) {
  if (peerData == nullptr || length != agreedLength_) return -1;
  if (!generated_) return -2;
  try {
    CryptoPP::SecByteBlock agreed(static_cast<size_t>(agreedLength_));
    // Validates the peer's key (range and subgroup membership).
    if (!domain_.Agree(agreed, privateKey_.data(), static_cast<const uint8_t*>(peerData), true)) {
      return -2;
    }
    std::memcpy(secret_.data(), agreed.data(), agreed.size());
    return 0;
  } catch (const std::exception&) {
    return -2;
  }
}

int DhKeyExchanger::Mix(const void* data, int32_t length) {
  return MixIntoSecret(secret_.data(), agreedLength_, data, length);
}

}  // namespace marrowgate
