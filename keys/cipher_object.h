// CipherObject: a length-preserving cipher keyed for one direction, as the
// package store uses it to encipher and decipher item contents. The key
// factory (keys/key_factory.h) hands out BlockCipherObjects.
#ifndef MARROWGATE_KEYS_CIPHER_OBJECT_H_
#define MARROWGATE_KEYS_CIPHER_OBJECT_H_

#include <cstdint>

namespace marrowgate {

class CipherObject {
 public:
  CipherObject() = default;
  CipherObject(const CipherObject&) = delete;
  CipherObject& operator=(const CipherObject&) = delete;

  virtual void Release() { delete this; }
  // Restart the chain, then key for enciphering / deciphering.
  // 1 on success, 0 when the key is refused.
  virtual int SetEncryptKey(const void* key, int32_t length) = 0;
  virtual int SetDecryptKey(const void* key, int32_t length) = 0;
  // Back to the keyed start state.
  virtual void ResetChain() = 0;
  // Exactly `length` bytes out; source and destination may be the same.
  // 0 on success, negative on failure.
  virtual int Encrypt(const void* source, int32_t length, void* destination) = 0;
  virtual int Decrypt(const void* source, int32_t length, void* destination) = 0;
  // Deciphering one message handed over in pieces, for messages too long
  // to hold at once: pieces of whole 8-byte blocks with `last` false, then
  // the final piece (any length) with `last` true give the bytes, and leave
  // the state, of one Decrypt() of the whole message. A cipher that cannot
  // answers false from DecryptsInPieces(); it then takes only a final
  // piece, that is the whole message.
  virtual bool DecryptsInPieces() const { return false; }
  virtual int DecryptPiece(const void* source, int32_t length, void* destination, bool last) {
    return last ? Decrypt(source, length, destination) : -1;
  }
  // The same for enciphering: pieces of whole blocks, then the final piece,
  // give the bytes and the state of one Encrypt() of the whole message.
  virtual bool EncryptsInPieces() const { return false; }
  virtual int EncryptPiece(const void* source, int32_t length, void* destination, bool last) {
    return last ? Encrypt(source, length, destination) : -1;
  }

 protected:
  virtual ~CipherObject() = default;
};

}  // namespace marrowgate

#endif  // MARROWGATE_KEYS_CIPHER_OBJECT_H_
