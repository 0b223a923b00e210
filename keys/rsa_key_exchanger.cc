#include "keys/rsa_key_exchanger.h"

#include <cryptopp/filters.h>
#include <cryptopp/hex.h>
#include <cryptopp/secblock.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/env.h"

namespace marrowgate {
namespace {

// DER encoding of a key, or an empty text when it is larger than `bound`.
template <class Key>
std::string DerEncoding(const Key& key, int bound) {
  std::string der;
  CryptoPP::StringSink sink(der);
  key.DEREncode(sink);
  if (der.size() > static_cast<size_t>(std::max(bound, 0))) der.clear();
  return der;
}

}  // namespace

RsaKeyExchanger::RsaKeyExchanger(CryptoPP::RandomPool& pool, const KEYPAIR_TABLE_T* table,
                                 int secretLength)
    : pool_(pool), table_(table), secretLength_(std::clamp(secretLength, 0, kSecretBufferSize - 1)) {}

RsaKeyExchanger::~RsaKeyExchanger() {
  std::fill(privateKey_.begin(), privateKey_.end(), 0);
  std::fill(secret_.begin(), secret_.end(), 0);
}

int RsaKeyExchanger::Generate() {
  decryptor_.reset();
  encryptor_.reset();
  privateKeyLength_ = 0;
  publicDataLength_ = 0;
  const KEYPAIR_TABLE_T& table = *table_;
  if (table.nPairs < 1 || table.ppszPrivateKeys == nullptr || table.ppszPublicKeys == nullptr) {
    return -1;
  }
  // Which pair is not secret; the key material is.
  const int index = platform::CRand() % table.nPairs;
  const char* privateText = table.ppszPrivateKeys[index];
  const char* publicText = table.ppszPublicKeys[index];
  if (privateText == nullptr || publicText == nullptr) return -1;
  try {
    CryptoPP::StringSource privateSource(privateText, true, new CryptoPP::HexDecoder);
    auto decryptor = std::make_unique<CryptoPP::RSAES_OAEP_SHA_Decryptor>(privateSource);
    CryptoPP::StringSource publicSource(publicText, true, new CryptoPP::HexDecoder);
    auto encryptor = std::make_unique<CryptoPP::RSAES_OAEP_SHA_Encryptor>(publicSource);

    const std::string privateDer = DerEncoding(
        decryptor->GetKey(), std::min(table.nPrivateKeyCapacity, kPrivateKeyBufferSize));
    const std::string publicDer = DerEncoding(
        encryptor->GetKey(), std::min(table.nPublicDataCapacity, kPublicDataBufferSize));
    if (privateDer.empty() || publicDer.empty()) return -1;

    std::memcpy(privateKey_.data(), privateDer.data(), privateDer.size());
    privateKeyLength_ = static_cast<int>(privateDer.size());
    std::memcpy(publicData_.data(), publicDer.data(), publicDer.size());
    publicDataLength_ = static_cast<int>(publicDer.size());
    decryptor_ = std::move(decryptor);
    encryptor_ = std::move(encryptor);
    return 0;
  } catch (const std::exception&) {
    return -1;
  }
}

int RsaKeyExchanger::Initiate(const void* peerData, int32_t length) {
  if (peerData == nullptr || length < 1) return -1;
  try {
    pool_.GenerateBlock(secret_.data(), static_cast<size_t>(secretLength_));
    secret_[secretLength_] = 0;

    CryptoPP::StringSource peerKey(static_cast<const uint8_t*>(peerData),
                                   static_cast<size_t>(length), true);
    encryptor_ = std::make_unique<CryptoPP::RSAES_OAEP_SHA_Encryptor>(peerKey);
    const size_t secretSize = static_cast<size_t>(secretLength_);
    if (secretSize > encryptor_->FixedMaxPlaintextLength()) return -1;
    const size_t cipherLength = encryptor_->CiphertextLength(secretSize);
    if (cipherLength == 0 || cipherLength >= static_cast<size_t>(kPublicDataBufferSize)) return -1;

    encryptor_->Encrypt(pool_, secret_.data(), secretSize, publicData_.data());
    publicData_[cipherLength] = 0;
    publicDataLength_ = static_cast<int>(cipherLength);
    return 0;
  } catch (const std::exception&) {
    return -1;
  }
}

int RsaKeyExchanger::Accept(const void* peerData, int32_t length) {
  if (decryptor_ == nullptr || peerData == nullptr || length < 1) return -1;
  try {
    const size_t cipherLength = static_cast<size_t>(length);
    if (cipherLength != decryptor_->FixedCiphertextLength()) return -1;
    CryptoPP::SecByteBlock plain(decryptor_->MaxPlaintextLength(cipherLength));
    const CryptoPP::DecodingResult result =
        decryptor_->Decrypt(pool_, static_cast<const uint8_t*>(peerData), cipherLength, plain);
    if (!result.isValidCoding || result.messageLength >= static_cast<size_t>(kSecretBufferSize)) {
      return -1;
    }
    std::memcpy(secret_.data(), plain.data(), result.messageLength);
    secret_[result.messageLength] = 0;
    secretLength_ = static_cast<int>(result.messageLength);
    return 0;
  } catch (const std::exception&) {
    return -1;
  }
}

int RsaKeyExchanger::Mix(const void* data, int32_t length) {
  return MixIntoSecret(secret_.data(), secretLength_, data, length);
}

}  // namespace marrowgate
