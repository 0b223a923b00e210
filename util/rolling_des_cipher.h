// RollingDesCipher: a length-preserving cipher for data of any length, built
// on DES (util/des.h). Whole 8-byte blocks are chained as in CBC, cycling
// through up to 64 DES keys with a fixed key step; a tail shorter than a
// block is XORed into the chaining value and scrambled with a chained XOR
// and a pair swap. After every call the chaining value is perturbed with a
// call counter, so two parties stay in step as long as they process the
// same sequence of message lengths after the same ResetChain().
//
// A context is keyed for one direction at a time: encrypting and decrypting
// under one key at once takes two objects with the same step.
//
//   RollingDesCipher sender(1), receiver(1);
//   sender.SetKey(key, key_length, DesDirection::kEncrypt);
//   receiver.SetKey(key, key_length, DesDirection::kDecrypt);
//   sender.Encrypt(message, n, wire);
//   receiver.Decrypt(wire, n, message);
#ifndef MARROWGATE_UTIL_ROLLING_DES_CIPHER_H_
#define MARROWGATE_UTIL_ROLLING_DES_CIPHER_H_

#include <cstdint>

#include "util/des.h"

namespace marrowgate {

class RollingDesCipher {
 public:
  static constexpr int kMaxKeyBlocks = 64;
  static constexpr int kKeyMaterialSize = kMaxKeyBlocks * 8;
  // Key bytes that pad a key shorter than one block.
  static constexpr uint8_t kShortKeyFill = 0x44;

  // `step` is how far the key index advances after each block; values below
  // 1 are taken as 1. It is reduced against the key count by SetKey().
  explicit RollingDesCipher(int32_t step);

  // Keys the context for `direction` and restarts the key index. The key
  // gives length / 8 DES keys (a remaining length % 8 bytes are unused); a
  // key shorter than 8 bytes is padded to one block with kShortKeyFill. A
  // step at least as large as the key count becomes step % count (1 if that
  // is 0). Returns false and keeps the previous key when the length is
  // negative, gives more than 64 keys, or `key` is null with a positive length.
  bool SetKey(const void* key, int32_t length, DesDirection direction);

  // Counter and key index to 0, chaining value to its initial (zero) value.
  void ResetChain();

  // Writes exactly `length` bytes to `output`; input and output may be the
  // same buffer. 0 on success; -1 (nothing changed) before a key is set,
  // for a negative length, or for a null buffer with a positive length.
  int Encrypt(const void* input, int32_t length, void* output);
  int Decrypt(const void* input, int32_t length, void* output);

  int32_t key_block_count() const { return key_block_count_; }
  int32_t step() const { return step_; }
  uint16_t counter() const { return counter_; }
  // The 512 bytes of key material (the key blocks first).
  const uint8_t* key_material() const { return key_material_; }

 private:
  bool CheckCall(const void* input, int32_t length, const void* output) const;
  void StepCounter();

  int32_t key_block_count_ = 0;
  uint16_t counter_ = 0;
  uint8_t key_material_[kKeyMaterialSize] = {};
  uint8_t initial_chain_[8] = {};
  uint8_t chain_[8] = {};
  DesSchedule schedules_[kMaxKeyBlocks] = {};
  int32_t key_index_ = 0;
  int32_t step_;
};

}  // namespace marrowgate

#endif  // MARROWGATE_UTIL_ROLLING_DES_CIPHER_H_
