#include "util/rolling_des_cipher.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "util/byte_order.h"

namespace marrowgate {
namespace {

// Below this many whole blocks a batch costs more than deciphering them one
// by one: a batch always runs all its lanes.
int MinimumBatch(const DesBatchEngine& engine) { return std::max(16, engine.blocks() / 4); }

// Room for the widest engine's batch.
constexpr int kMaxBatchBlocks = 512;

// Chained XOR: every byte also takes in the previous ciphertext byte.
void ChainedXorEncode(uint8_t* bytes, int n, const uint8_t* key) {
  uint8_t previous = 0;
  for (int i = 0; i < n; ++i) {
    bytes[i] = static_cast<uint8_t>(bytes[i] ^ key[i] ^ previous);
    previous = bytes[i];
  }
}

void ChainedXorDecode(uint8_t* bytes, int n, const uint8_t* key) {
  uint8_t previous = 0;
  for (int i = 0; i < n; ++i) {
    const uint8_t x = bytes[i];
    bytes[i] = static_cast<uint8_t>(x ^ key[i] ^ previous);
    previous = x;
  }
}

// Exchanges the mirrored pairs whose sum has the parity of (first + last).
// Swapping keeps every pair's sum, so applying it twice restores the bytes.
void PairSwap(uint8_t* bytes, int n) {
  if (n < 2) return;
  const int parity = (bytes[0] + bytes[n - 1]) & 1;
  for (int i = 0; i < n / 2; ++i) {
    const int j = n - 1 - i;
    if (((bytes[i] + bytes[j]) & 1) == parity) {
      const uint8_t t = bytes[i];
      bytes[i] = bytes[j];
      bytes[j] = t;
    }
  }
}

}  // namespace

RollingDesCipher::RollingDesCipher(int32_t step)
    : step_(step < 1 ? 1 : step), batch_engine_(&DesBestBatchEngine()) {
  if (batch_engine_->blocks() > kMaxBatchBlocks) batch_engine_ = &DesPortableBatchEngine();
}

RollingDesCipher::~RollingDesCipher() = default;

void RollingDesCipher::UseBatchEngine(const DesBatchEngine* engine) {
  if (engine != nullptr && engine->blocks() > kMaxBatchBlocks) engine = nullptr;
  batch_engine_ = engine;
  batch_keys_.clear();
}

const uint64_t* RollingDesCipher::BatchKeys(int32_t start) {
  const DesBatchEngine& engine = *batch_engine_;
  if (batch_keys_.empty()) {
    try {
      batch_keys_.resize(static_cast<size_t>(key_block_count_));
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
  }
  std::unique_ptr<uint64_t[]>& keys = batch_keys_[static_cast<size_t>(start)];
  if (!keys) {
    keys.reset(new (std::nothrow) uint64_t[DesBatchKeyWords(engine)]);
    if (!keys) return nullptr;
    const DesSchedule* lanes[kMaxBatchBlocks];
    int32_t index = start;
    for (int i = 0; i < engine.blocks(); ++i) {
      lanes[i] = &schedules_[index];
      index += step_;
      if (index >= key_block_count_) index -= key_block_count_;
    }
    DesBuildBatchKeys(engine, lanes, keys.get());
  }
  return keys.get();
}

int32_t RollingDesCipher::DecryptBatches(const uint8_t* in, int32_t blocks, uint8_t* out,
                                         uint64_t* chain) {
  if (batch_engine_ == nullptr) return 0;
  const DesBatchEngine& engine = *batch_engine_;
  const int lanes = engine.blocks();
  const int minimum = MinimumBatch(engine);
  uint64_t batch[kMaxBatchBlocks];
  uint64_t previous = *chain;
  int32_t done = 0;
  while (blocks - done >= minimum) {
    const uint64_t* keys = BatchKeys(key_index_);
    if (keys == nullptr) break;  // the caller goes on block by block
    const int count = static_cast<int>(std::min<int32_t>(lanes, blocks - done));
    const uint8_t* from = in + 8 * static_cast<size_t>(done);
    uint8_t* to = out + 8 * static_cast<size_t>(done);
    for (int i = 0; i < count; ++i) batch[i] = LoadBe64(from + 8 * i);
    std::fill(batch + count, batch + lanes, uint64_t{0});
    engine.crypt(keys, batch);
    // Block i is read before its plain text overwrites it in place.
    for (int i = 0; i < count; ++i) {
      const uint64_t cipher = LoadBe64(from + 8 * i);
      StoreBe64(batch[i] ^ previous, to + 8 * i);
      previous = cipher;
    }
    done += count;
    key_index_ = static_cast<int32_t>(
        (key_index_ + static_cast<int64_t>(count) * step_) % key_block_count_);
  }
  *chain = previous;
  return done;
}

bool RollingDesCipher::SetKey(const void* key, int32_t length, DesDirection direction) {
  if (length < 0) return false;
  if (key == nullptr && length > 0) return false;
  int32_t count = length / 8;
  if (count > kMaxKeyBlocks) return false;

  std::memset(key_material_, 0, sizeof(key_material_));
  if (count == 0) {
    std::memset(key_material_, kShortKeyFill, 8);
    if (length > 0) std::memcpy(key_material_, key, static_cast<size_t>(length));
    count = 1;
  } else {
    std::memcpy(key_material_, key, static_cast<size_t>(count) * 8);
  }
  key_block_count_ = count;
  if (step_ >= count) {
    step_ %= count;
    if (step_ == 0) step_ = 1;
  }
  for (int32_t i = 0; i < count; ++i) DesSetKey(key_material_ + 8 * i, direction, &schedules_[i]);
  key_index_ = 0;
  batch_keys_.clear();
  return true;
}

void RollingDesCipher::ResetChain() {
  counter_ = 0;
  key_index_ = 0;
  std::memcpy(chain_, initial_chain_, sizeof(chain_));
}

bool RollingDesCipher::CheckCall(const void* input, int32_t length, const void* output) const {
  if (key_block_count_ == 0 || length < 0) return false;
  return length == 0 || (input != nullptr && output != nullptr);
}

void RollingDesCipher::StepCounter() {
  ++counter_;
  const uint8_t low = static_cast<uint8_t>(counter_);
  const uint8_t high = static_cast<uint8_t>(counter_ >> 8);
  for (int i = 0; i < 8; i += 2) {
    chain_[i] ^= low;
    chain_[i + 1] ^= high;
  }
}

void RollingDesCipher::EncryptBlocks(const uint8_t* in, int32_t blocks, uint8_t* out) {
  // The chaining value lives in two words across the block loop. The step
  // is below the key count (or both are 1), so one subtraction wraps the index.
  uint32_t chain[2] = {LoadBe32(chain_), LoadBe32(chain_ + 4)};
  int32_t index = key_index_;
  for (int32_t b = 0; b < blocks; ++b, in += 8, out += 8) {
    chain[0] ^= LoadBe32(in);
    chain[1] ^= LoadBe32(in + 4);
    DesCryptBlock(chain, schedules_[index]);
    StoreBe32(chain[0], out);
    StoreBe32(chain[1], out + 4);
    index += step_;
    if (index >= key_block_count_) index -= key_block_count_;
  }
  key_index_ = index;
  StoreBe32(chain[0], chain_);
  StoreBe32(chain[1], chain_ + 4);
}

int RollingDesCipher::Encrypt(const void* input, int32_t length, void* output) {
  if (!CheckCall(input, length, output)) return -1;
  const uint8_t* in = static_cast<const uint8_t*>(input);
  uint8_t* out = static_cast<uint8_t*>(output);
  const int32_t blocks = length / 8;
  const int tail = length % 8;
  EncryptBlocks(in, blocks, out);
  in += 8 * static_cast<size_t>(blocks);
  out += 8 * static_cast<size_t>(blocks);

  if (tail > 0) {
    for (int i = 0; i < tail; ++i) chain_[i] ^= in[i];
    ChainedXorEncode(chain_, tail, key_material_);
    PairSwap(chain_, tail);
    std::memcpy(out, chain_, static_cast<size_t>(tail));
  }
  StepCounter();
  return 0;
}

int RollingDesCipher::EncryptPiece(const void* input, int32_t length, void* output, bool last) {
  if (last) return Encrypt(input, length, output);
  if (!CheckCall(input, length, output) || length % 8 != 0) return -1;
  EncryptBlocks(static_cast<const uint8_t*>(input), length / 8, static_cast<uint8_t*>(output));
  return 0;
}

int RollingDesCipher::DecryptPiece(const void* input, int32_t length, void* output, bool last) {
  if (last) return Decrypt(input, length, output);
  if (!CheckCall(input, length, output) || length % 8 != 0) return -1;
  DecryptBlocks(static_cast<const uint8_t*>(input), length / 8, static_cast<uint8_t*>(output));
  return 0;
}

void RollingDesCipher::DecryptBlocks(const uint8_t* in, int32_t blocks, uint8_t* out) {
  uint64_t batch_chain = LoadBe64(chain_);
  const int32_t batched = DecryptBatches(in, blocks, out, &batch_chain);
  in += 8 * static_cast<size_t>(batched);
  out += 8 * static_cast<size_t>(batched);
  blocks -= batched;
  uint32_t chain[2] = {static_cast<uint32_t>(batch_chain >> 32), static_cast<uint32_t>(batch_chain)};
  int32_t index = key_index_;
  for (int32_t b = 0; b < blocks; ++b, in += 8, out += 8) {
    const uint32_t cipher[2] = {LoadBe32(in), LoadBe32(in + 4)};
    uint32_t plain[2] = {cipher[0], cipher[1]};
    DesCryptBlock(plain, schedules_[index]);
    StoreBe32(plain[0] ^ chain[0], out);
    StoreBe32(plain[1] ^ chain[1], out + 4);
    chain[0] = cipher[0];
    chain[1] = cipher[1];
    index += step_;
    if (index >= key_block_count_) index -= key_block_count_;
  }
  key_index_ = index;
  StoreBe32(chain[0], chain_);
  StoreBe32(chain[1], chain_ + 4);
}

int RollingDesCipher::Decrypt(const void* input, int32_t length, void* output) {
  if (!CheckCall(input, length, output)) return -1;
  const uint8_t* in = static_cast<const uint8_t*>(input);
  uint8_t* out = static_cast<uint8_t*>(output);
  const int32_t blocks = length / 8;
  const int tail = length % 8;
  DecryptBlocks(in, blocks, out);
  in += 8 * static_cast<size_t>(blocks);
  out += 8 * static_cast<size_t>(blocks);

  if (tail > 0) {
    uint8_t cipher_tail[8];
    std::memcpy(cipher_tail, in, static_cast<size_t>(tail));
    std::memcpy(out, cipher_tail, static_cast<size_t>(tail));
    PairSwap(out, tail);
    ChainedXorDecode(out, tail, key_material_);
    for (int i = 0; i < tail; ++i) out[i] ^= chain_[i];
    std::memcpy(chain_, cipher_tail, static_cast<size_t>(tail));
  }
  StepCounter();
  return 0;
}

}  // namespace marrowgate
