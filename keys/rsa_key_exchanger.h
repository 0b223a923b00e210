// RsaKeyExchanger: one side chooses an S-byte secret and sends it enciphered
// (RSAES-OAEP with SHA-1) under the other side's RSA key, a pair taken from
// the factory's key-pair table.
//
//   A: Generate(); send GetPubData()            (A's public key, DER)
//   B: Initiate(A's data); send GetPubData()    (the enciphered secret)
//   A: Accept(B's data)
#ifndef MARROWGATE_KEYS_RSA_KEY_EXCHANGER_H_
#define MARROWGATE_KEYS_RSA_KEY_EXCHANGER_H_

#include <cryptopp/randpool.h>
#include <cryptopp/rsa.h>

#include <array>
#include <cstdint>
#include <memory>

#include "keys/key_exchanger.h"
#include "keys/key_factory.h"

namespace marrowgate {

class RsaKeyExchanger final : public IKeyExchanger {
 public:
  static constexpr int kPrivateKeyBufferSize = 2048;
  static constexpr int kPublicDataBufferSize = 4096;
  static constexpr int kSecretBufferSize = 256;

  // `table` is the factory's key-pair table, read at each Generate().
  // `secretLength` is at most 255.
  RsaKeyExchanger(CryptoPP::RandomPool& pool, const KEYPAIR_TABLE_T* table, int secretLength);

  // Loads pair CRand() % count: the private key for Accept, the public key
  // as the public data. -1 when the table's texts do not decode or do not
  // fit the buffers.
  int Generate() override;
  int GetPubDataLen() override { return publicDataLength_; }
  const uint8_t* GetPubData() override { return publicData_.data(); }
  // Chooses S secret bytes from the random pool and enciphers them under
  // the peer's DER public key; the ciphertext becomes the public data.
  // -1 on failure (secret and public data then undefined).
  int Initiate(const void* peerData, int32_t length) override;
  // Deciphers the peer's ciphertext into the secret. -1 on failure or
  // before Generate().
  int Accept(const void* peerData, int32_t length) override;
  int Mix(const void* data, int32_t length) override;
  const uint8_t* GetSecret() override { return secret_.data(); }
  int GetSecretLen() override { return secretLength_; }
  int Agree(const void*, int32_t) override { return 0; }

 private:
  ~RsaKeyExchanger() override;

  CryptoPP::RandomPool& pool_;
  const KEYPAIR_TABLE_T* table_;
  std::array<uint8_t, kPrivateKeyBufferSize> privateKey_{};
  int privateKeyLength_ = 0;
  std::array<uint8_t, kPublicDataBufferSize> publicData_{};
  int publicDataLength_ = 0;
  std::unique_ptr<CryptoPP::RSAES_OAEP_SHA_Decryptor> decryptor_;
  std::unique_ptr<CryptoPP::RSAES_OAEP_SHA_Encryptor> encryptor_;
  std::array<uint8_t, kSecretBufferSize> secret_{};
  int secretLength_;
};

}  // namespace marrowgate

#endif  // MARROWGATE_KEYS_RSA_KEY_EXCHANGER_H_
