// KeyFactory: hands out the package store's cipher objects and key
// exchangers, and owns the random pool and key tables the exchangers use.
//
//   Owned<KeyFactory> factory(CreateKeyFactory());
//   Owned<CipherObject> cipher(factory->CreateCipher(0));
//   cipher->SetEncryptKey(password, length);
//
// The random pool is seeded from the operating system when the factory is
// created; Seed() adds to it. Key exchangers borrow the pool and tables and
// must be released before the factory; cipher objects do not refer to it.
#ifndef MARROWGATE_KEYS_KEY_FACTORY_H_
#define MARROWGATE_KEYS_KEY_FACTORY_H_

#include <cstdint>

#include "keys/cipher_object.h"
#include "keys/key_exchanger.h"

namespace marrowgate {

// The RSA key-pair table of a factory. Entry i of the two text arrays (hex
// DER: PKCS#8 PrivateKeyInfo, X.509 SubjectPublicKeyInfo) is one pair. The
// capacities bound the DER encodings an RSA exchanger keeps (at most 2048
// bytes of private key and 4096 of public data whatever they say).
struct KEYPAIR_TABLE_T {
  const char* const* ppszPrivateKeys;
  const char* const* ppszPublicKeys;
  int32_t nPairs;
  int32_t nPrivateKeyCapacity;
  int32_t nPublicDataCapacity;
};

class KeyFactory {
 protected:
  virtual ~KeyFactory() = default;

 public:
  // Configure types.
  static constexpr int kConfigureGroupTable = 1;    // record: const char* const[value]
  static constexpr int kConfigureKeyPairTable = 2;  // record: const KEYPAIR_TABLE_T*

  KeyFactory() = default;
  KeyFactory(const KeyFactory&) = delete;
  KeyFactory& operator=(const KeyFactory&) = delete;

  // kConfigureGroupTable: the Diffie-Hellman group table becomes the `value`
  // texts at `record` (hex DER SEQUENCE { p, g }). kConfigureKeyPairTable:
  // copies the KEYPAIR_TABLE_T at `record`. The texts are not copied and
  // must outlive the factory. Other types change nothing. Returns 0, or -1
  // (nothing changed) for a null table or a count below 1.
  // Exchangers already made keep their group; RSA exchangers read the
  // key-pair table at each Generate().
  virtual int Configure(int type, const void* record, int32_t value) = 0;
  // Adds `length` bytes of `data` to the random pool; with null data, the
  // current time and millisecond tick.
  virtual void Seed(const void* data, int32_t length) = 0;
  virtual void Release() { delete this; }
  // Even kind: Diffie-Hellman over group (kind / 2) mod group count. Odd
  // kind: RSA with a secret of {200, 192, 184, 176, 168, 160}[(kind / 2) % 6]
  // bytes. Null for a negative kind, a group text that does not decode, or
  // when allocation fails.
  virtual IKeyExchanger* CreateKeyExchanger(int kind) = 0;
  // A BlockCipherObject with key step {1, 3, 5, 7, 11}[kind % 5], not yet
  // keyed. Null for a negative kind or when allocation fails.
  virtual CipherObject* CreateCipher(int kind) = 0;
};

// A factory with the built-in tables (keys/builtin_keys.h); null if it
// cannot be made.
KeyFactory* CreateKeyFactory();

}  // namespace marrowgate

#endif  // MARROWGATE_KEYS_KEY_FACTORY_H_
