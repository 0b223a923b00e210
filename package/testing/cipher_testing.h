// A small keyed, length-preserving test cipher for package tests: a stream
// XOR whose keystream depends on the key and on the position since the
// last reset. Not for protecting anything.
#ifndef MARROWGATE_PACKAGE_TESTING_CIPHER_TESTING_H_
#define MARROWGATE_PACKAGE_TESTING_CIPHER_TESTING_H_

#include <cstdint>
#include <string>

#include "keys/cipher_object.h"

namespace marrowgate {

class XorTestCipher : public CipherObject {
 public:
  int SetEncryptKey(const void* key, int32_t length) override { return SetKey(key, length); }
  int SetDecryptKey(const void* key, int32_t length) override { return SetKey(key, length); }
  void ResetChain() override {
    state_ = seed_;
    ++resets_;
  }
  int Encrypt(const void* source, int32_t length, void* destination) override {
    return Apply(source, length, destination);
  }
  int Decrypt(const void* source, int32_t length, void* destination) override {
    return Apply(source, length, destination);
  }
  // A keystream cipher: any split of a message deciphers alike.
  bool DecryptsInPieces() const override { return pieces_; }
  int DecryptPiece(const void* source, int32_t length, void* destination, bool last) override {
    if (!pieces_ && !last) return -1;
    return Apply(source, length, destination);
  }
  // Makes DecryptsInPieces() answer false (the cipher then takes whole
  // messages only).
  void set_pieces(bool pieces) { pieces_ = pieces; }
  // Makes the next Encrypt/Decrypt fail.
  void set_fail(bool fail) { fail_ = fail; }
  int resets() const { return resets_; }

 private:
  int SetKey(const void* key, int32_t length) {
    seed_ = 2166136261u;
    const auto* bytes = static_cast<const uint8_t*>(key);
    for (int32_t i = 0; i < length; ++i) seed_ = (seed_ ^ bytes[i]) * 16777619u;
    state_ = seed_;
    return 1;
  }
  int Apply(const void* source, int32_t length, void* destination) {
    if (fail_) return -1;
    const auto* in = static_cast<const uint8_t*>(source);
    auto* out = static_cast<uint8_t*>(destination);
    for (int32_t i = 0; i < length; ++i) {
      state_ = state_ * 1103515245u + 12345u;
      out[i] = static_cast<uint8_t>(in[i] ^ (state_ >> 24));
    }
    return 0;
  }

  uint32_t seed_ = 0;
  uint32_t state_ = 0;
  bool fail_ = false;
  bool pieces_ = true;
  int resets_ = 0;
};

}  // namespace marrowgate

#endif  // MARROWGATE_PACKAGE_TESTING_CIPHER_TESTING_H_
