// DhKeyExchanger: Diffie-Hellman over a prime-order subgroup of a safe-prime
// group. Generate() makes a key pair; the public key (L bytes, L the byte
// length of p) is the public data; Agree() (or Initiate / Accept) with the
// peer's public key gives the L-byte shared secret.
#ifndef MARROWGATE_KEYS_DH_KEY_EXCHANGER_H_
#define MARROWGATE_KEYS_DH_KEY_EXCHANGER_H_

#include <cryptopp/dh.h>
#include <cryptopp/randpool.h>

#include <array>
#include <cstdint>

#include "keys/key_exchanger.h"

namespace marrowgate {

class DhKeyExchanger final : public IKeyExchanger {
 public:
  static constexpr int kBufferSize = 256;

  // `groupHex`: hex DER SEQUENCE { p, g }. Null when the text does not
  // decode, the group is larger than 2048 bits, or allocation fails.
  static DhKeyExchanger* Create(CryptoPP::RandomPool& pool, const char* groupHex);

  int Generate() override;
  int GetPubDataLen() override { return agreedLength_; }
  const uint8_t* GetPubData() override { return publicKey_.data(); }
  int Initiate(const void* peerData, int32_t length) override { return Agree(peerData, length); }
  int Accept(const void* peerData, int32_t length) override { return Agree(peerData, length); }
  int Mix(const void* data, int32_t length) override;
  const uint8_t* GetSecret() override { return secret_.data(); }
  int GetSecretLen() override { return agreedLength_; }
  // -1 when the length is not L; -2 when the agreement fails (no key pair
  // generated yet, or the peer's key is rejected). The secret changes only
  // on success.
  int Agree(const void* peerData, int32_t length) override;

 private:
  DhKeyExchanger(CryptoPP::RandomPool& pool, const CryptoPP::DH& domain);
  ~DhKeyExchanger() override;

  CryptoPP::RandomPool& pool_;
  CryptoPP::DH domain_;
  int agreedLength_;
  bool generated_ = false;
  std::array<uint8_t, kBufferSize> privateKey_{};
  std::array<uint8_t, kBufferSize> publicKey_{};
  std::array<uint8_t, kBufferSize> secret_{};
};

}  // namespace marrowgate

#endif  // MARROWGATE_KEYS_DH_KEY_EXCHANGER_H_
