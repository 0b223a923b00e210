#include "util/rolling_des_cipher.h"

#include <cstring>

namespace marrowgate {
namespace {

inline uint32_t LoadBe32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

inline void StoreBe32(uint32_t v, uint8_t* p) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

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

RollingDesCipher::RollingDesCipher(int32_t step) : step_(step < 1 ? 1 : step) {}

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

int RollingDesCipher::Encrypt(const void* input, int32_t length, void* output) {
  if (!CheckCall(input, length, output)) return -1;
  const uint8_t* in = static_cast<const uint8_t*>(input);
  uint8_t* out = static_cast<uint8_t*>(output);
  const int32_t blocks = length / 8;
  const int tail = length % 8;

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

  if (tail > 0) {
    for (int i = 0; i < tail; ++i) chain_[i] ^= in[i];
    ChainedXorEncode(chain_, tail, key_material_);
    PairSwap(chain_, tail);
    std::memcpy(out, chain_, static_cast<size_t>(tail));
  }
  StepCounter();
  return 0;
}

int RollingDesCipher::Decrypt(const void* input, int32_t length, void* output) {
  if (!CheckCall(input, length, output)) return -1;
  const uint8_t* in = static_cast<const uint8_t*>(input);
  uint8_t* out = static_cast<uint8_t*>(output);
  const int32_t blocks = length / 8;
  const int tail = length % 8;

  uint32_t chain[2] = {LoadBe32(chain_), LoadBe32(chain_ + 4)};
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
