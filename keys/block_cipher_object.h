// BlockCipherObject: the CipherObject that KeyFactory::CreateCipher hands
// out, a RollingDesCipher (util/rolling_des_cipher.h) behind the
// CipherObject interface. It is idle until a key is set; every key change
// restarts the chain. Keying it for the other direction replaces the
// previous schedules, so encrypting and decrypting under one key at once
// takes two objects with the same step.
#ifndef MARROWGATE_KEYS_BLOCK_CIPHER_OBJECT_H_
#define MARROWGATE_KEYS_BLOCK_CIPHER_OBJECT_H_

#include <cstdint>

#include "keys/cipher_object.h"
#include "util/rolling_des_cipher.h"

namespace marrowgate {

class BlockCipherObject final : public CipherObject {
 public:
  explicit BlockCipherObject(int32_t step) : cipher_(step) {}

  int SetEncryptKey(const void* key, int32_t length) override;
  int SetDecryptKey(const void* key, int32_t length) override;
  void ResetChain() override;
  int Encrypt(const void* source, int32_t length, void* destination) override;
  int Decrypt(const void* source, int32_t length, void* destination) override;
  bool DecryptsInPieces() const override { return true; }
  int DecryptPiece(const void* source, int32_t length, void* destination, bool last) override;
  bool EncryptsInPieces() const override { return true; }
  int EncryptPiece(const void* source, int32_t length, void* destination, bool last) override;

  // The key step after reduction against the key count.
  int32_t step() const { return cipher_.step(); }

 private:
  ~BlockCipherObject() override = default;

  RollingDesCipher cipher_;
};

}  // namespace marrowgate

#endif  // MARROWGATE_KEYS_BLOCK_CIPHER_OBJECT_H_
