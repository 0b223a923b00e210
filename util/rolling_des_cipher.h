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
// Deciphering runs the whole blocks of a long message through a many-block
// DES engine (util/des_batch.h): block i depends only on ciphertext blocks
// i and i-1 and its key block, so a batch of them is deciphered at once.
// The bitsliced keys of a batch depend on the key index it starts at; they
// are built the first time that index starts a batch and kept until the key
// changes (at most one set per key block: up to 48 KiB each for the widest
// engine). Enciphering chains every block on the one before and stays serial.
//
//   RollingDesCipher sender(1), receiver(1);
//   sender.SetKey(key, key_length, DesDirection::kEncrypt);
//   receiver.SetKey(key, key_length, DesDirection::kDecrypt);
//   sender.Encrypt(message, n, wire);
//   receiver.Decrypt(wire, n, message);
#ifndef MARROWGATE_UTIL_ROLLING_DES_CIPHER_H_
#define MARROWGATE_UTIL_ROLLING_DES_CIPHER_H_

#include <cstdint>
#include <memory>
#include <vector>

#include "util/des.h"
#include "util/des_batch.h"

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
  ~RollingDesCipher();
  RollingDesCipher(const RollingDesCipher&) = delete;
  RollingDesCipher& operator=(const RollingDesCipher&) = delete;

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
  // Deciphers one message handed over in pieces, for messages too long to
  // hold at once: pieces with `last` false, each a whole number of blocks,
  // then the final piece (any length, possibly empty) with `last` true.
  // The output and the state afterwards are those of one Decrypt() of the
  // whole message. -1 (nothing changed) for a non-final piece that is not
  // whole blocks, or as Decrypt().
  int DecryptPiece(const void* input, int32_t length, void* output, bool last);
  // The same for enciphering: the pieces give the bytes, and leave the
  // state, of one Encrypt() of the whole message.
  int EncryptPiece(const void* input, int32_t length, void* output, bool last);

  // The engine Decrypt uses for long messages (by default the widest this
  // CPU runs), or null to decipher block by block with the one-block DES.
  // Both give the same bytes.
  void UseBatchEngine(const DesBatchEngine* engine);
  const DesBatchEngine* batch_engine() const { return batch_engine_; }

  int32_t key_block_count() const { return key_block_count_; }
  int32_t step() const { return step_; }
  uint16_t counter() const { return counter_; }
  // The 512 bytes of key material (the key blocks first).
  const uint8_t* key_material() const { return key_material_; }

 private:
  bool CheckCall(const void* input, int32_t length, const void* output) const;
  void StepCounter();
  // Enciphers whole blocks, carrying the chaining value and key index on.
  void EncryptBlocks(const uint8_t* in, int32_t blocks, uint8_t* out);
  // Deciphers whole blocks, carrying the chaining value and key index on.
  void DecryptBlocks(const uint8_t* in, int32_t blocks, uint8_t* out);
  // Deciphers the first whole blocks of a call in batches; returns how many
  // it did, having advanced the key index and set *chain to the last
  // ciphertext block taken.
  int32_t DecryptBatches(const uint8_t* in, int32_t blocks, uint8_t* out, uint64_t* chain);
  // The bitsliced keys of a batch starting at key index `start`, or null
  // when there is no memory for them.
  const uint64_t* BatchKeys(int32_t start);

  int32_t key_block_count_ = 0;
  uint16_t counter_ = 0;
  uint8_t key_material_[kKeyMaterialSize] = {};
  uint8_t initial_chain_[8] = {};
  uint8_t chain_[8] = {};
  DesSchedule schedules_[kMaxKeyBlocks] = {};
  int32_t key_index_ = 0;
  int32_t step_;
  const DesBatchEngine* batch_engine_;
  // Per starting key index, the bitsliced keys of batch_engine_.
  std::vector<std::unique_ptr<uint64_t[]>> batch_keys_;
};

}  // namespace marrowgate

#endif  // MARROWGATE_UTIL_ROLLING_DES_CIPHER_H_
