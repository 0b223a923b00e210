#include "keys/block_cipher_object.h"

namespace marrowgate {

int BlockCipherObject::SetEncryptKey(const void* key, int32_t length) {
  cipher_.ResetChain();
  return cipher_.SetKey(key, length, DesDirection::kEncrypt) ? 1 : 0;
}

int BlockCipherObject::SetDecryptKey(const void* key, int32_t length) {
  cipher_.ResetChain();
  return cipher_.SetKey(key, length, DesDirection::kDecrypt) ? 1 : 0;
}

void BlockCipherObject::ResetChain() { cipher_.ResetChain(); }

int BlockCipherObject::Encrypt(const void* source, int32_t length, void* destination) {
  return cipher_.Encrypt(source, length, destination) == 0 ? 0 : -1;
}

int BlockCipherObject::Decrypt(const void* source, int32_t length, void* destination) {
  return cipher_.Decrypt(source, length, destination) == 0 ? 0 : -1;
}

int BlockCipherObject::DecryptPiece(const void* source, int32_t length, void* destination,
                                    bool last) {
  return cipher_.DecryptPiece(source, length, destination, last) == 0 ? 0 : -1;
}

int BlockCipherObject::EncryptPiece(const void* source, int32_t length, void* destination,
                                    bool last) {
  return cipher_.EncryptPiece(source, length, destination, last) == 0 ? 0 : -1;
}

}  // namespace marrowgate
