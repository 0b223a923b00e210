// IKeyExchanger: two parties agree on a shared secret.
//
// Diffie-Hellman (even kinds of KeyFactory::CreateKeyExchanger):
//   both sides Generate(), send GetPubData(), and call Agree() (or Initiate /
//   Accept, which do the same) with the peer's data.
// RSA (odd kinds):
//   A Generate()s and sends its public data (its public key); B calls
//   Initiate() with it, which picks the secret and enciphers it for A, and
//   sends its public data (now the ciphertext); A calls Accept() with that.
// Both then hold the same GetSecretLen() bytes at GetSecret(), which Mix()
// may perturb identically on both sides.
//
// Exchangers borrow their factory's random pool and tables and must not
// outlive it. Dispose of one with Release().
#ifndef MARROWGATE_KEYS_KEY_EXCHANGER_H_
#define MARROWGATE_KEYS_KEY_EXCHANGER_H_

#include <cstdint>

namespace marrowgate {

class IKeyExchanger {
 protected:
  virtual ~IKeyExchanger() = default;

 public:
  IKeyExchanger() = default;
  IKeyExchanger(const IKeyExchanger&) = delete;
  IKeyExchanger& operator=(const IKeyExchanger&) = delete;

  virtual void Release() { delete this; }
  // Makes this side's key material. 0, or -1 when it cannot be made.
  virtual int Generate() = 0;
  // The data to send to the peer: its length in bytes and where it is.
  virtual int GetPubDataLen() = 0;
  virtual const uint8_t* GetPubData() = 0;
  // Takes the peer's first message / its answer. 0, negative on failure.
  virtual int Initiate(const void* peerData, int32_t length) = 0;
  virtual int Accept(const void* peerData, int32_t length) = 0;
  // XORs `data`, repeated cyclically, into the shared secret. 0, or -1
  // (nothing changed) for null data or a length below 1.
  virtual int Mix(const void* data, int32_t length) = 0;
  virtual const uint8_t* GetSecret() = 0;
  virtual int GetSecretLen() = 0;
  // The Diffie-Hellman agreement step; the RSA exchanger ignores it (0).
  virtual int Agree(const void* peerData, int32_t length) = 0;
};

// Mix() for implementations: secret[k] ^= data[k % length] over the
// `secretLength` bytes. 0, or -1 (nothing changed) for null data or a
// length below 1.
int MixIntoSecret(uint8_t* secret, int secretLength, const void* data, int32_t length);

}  // namespace marrowgate

#endif  // MARROWGATE_KEYS_KEY_EXCHANGER_H_
