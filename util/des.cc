#include "util/des.h"

#include <array>

#include "util/byte_order.h"
#include "util/des_tables.h"

namespace marrowgate {
namespace {

using des_tables::kLeftShifts;
using des_tables::kPermutationP;
using des_tables::kPermutedChoice1;
using des_tables::kPermutedChoice2;
using des_tables::kSBoxes;

constexpr uint32_t RotateLeft(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
constexpr uint32_t RotateRight(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

// ------------------------------------------------ combined S-box and P
//
// The round function f(R, K) = P(S(E(R) ^ K)) splits into eight lookups:
// table i maps the 6 bits that enter S-box i to that box's four output bits
// already moved to their places by P. The halves are kept rotated left by
// one bit during the rounds (see DesCryptBlock), so the tables hold P's
// output rotated the same way.

using SpTables = std::array<std::array<uint32_t, 64>, 8>;

constexpr SpTables MakeSpTables() {
  SpTables tables{};
  for (int box = 0; box < 8; ++box) {
    for (int input = 0; input < 64; ++input) {
      const int row = ((input >> 4) & 2) | (input & 1);
      const int column = (input >> 1) & 15;
      const uint32_t nibble = kSBoxes[box][row * 16 + column];
      // S-box `box` writes bits 4*box+1 .. 4*box+4 of the S output.
      const uint32_t s_output = nibble << (28 - 4 * box);
      uint32_t permuted = 0;
      for (int bit = 0; bit < 32; ++bit) {
        if ((s_output >> (32 - kPermutationP[bit])) & 1) permuted |= 1u << (31 - bit);
      }
      tables[box][input] = RotateLeft(permuted, 1);
    }
  }
  return tables;
}

constexpr SpTables kSp = MakeSpTables();

// ------------------------------------------------ initial permutation
//
// IP and its inverse regroup the block's bits like a transpose of the 8x8
// bit matrix; five exchanges of masked bit groups between the two halves
// carry it out. Each exchange is its own inverse, so the final permutation
// runs them in reverse order.

inline void ExchangeBits(uint32_t& a, uint32_t& b, int shift, uint32_t mask) {
  const uint32_t t = ((a >> shift) ^ b) & mask;
  b ^= t;
  a ^= t << shift;
}

inline void InitialPermutation(uint32_t& left, uint32_t& right) {
  ExchangeBits(left, right, 4, 0x0f0f0f0f);
  ExchangeBits(left, right, 16, 0x0000ffff);
  ExchangeBits(right, left, 2, 0x33333333);
  ExchangeBits(right, left, 8, 0x00ff00ff);
  ExchangeBits(left, right, 1, 0x55555555);
}

inline void FinalPermutation(uint32_t& left, uint32_t& right) {
  ExchangeBits(left, right, 1, 0x55555555);
  ExchangeBits(right, left, 8, 0x00ff00ff);
  ExchangeBits(right, left, 2, 0x33333333);
  ExchangeBits(left, right, 16, 0x0000ffff);
  ExchangeBits(left, right, 4, 0x0f0f0f0f);
}

// f of a half kept rotated left by one. E takes, for S-box j, the six bits
// 4j-4 .. 4j+1 (cyclic) of R. In R rotated left by one the groups of the
// even boxes sit in the low six bits of each byte; rotated right by a
// further four, those of the odd boxes do.
inline uint32_t RoundFunction(uint32_t rotated_half, uint32_t odd_key, uint32_t even_key) {
  const uint32_t odd = RotateRight(rotated_half, 4) ^ odd_key;
  const uint32_t even = rotated_half ^ even_key;
  return kSp[0][(odd >> 24) & 63] | kSp[2][(odd >> 16) & 63] | kSp[4][(odd >> 8) & 63] |
         kSp[6][odd & 63] | kSp[1][(even >> 24) & 63] | kSp[3][(even >> 16) & 63] |
         kSp[5][(even >> 8) & 63] | kSp[7][even & 63];
}

}  // namespace

void DesSetKey(const uint8_t key[8], DesDirection direction, DesSchedule* schedule) {
  // C and D, 28 bits each, after Permuted Choice 1.
  uint32_t c = 0, d = 0;
  for (int i = 0; i < 28; ++i) {
    const int bit = kPermutedChoice1[i] - 1;
    c |= static_cast<uint32_t>((key[bit / 8] >> (7 - bit % 8)) & 1) << (27 - i);
    const int bit2 = kPermutedChoice1[28 + i] - 1;
    d |= static_cast<uint32_t>((key[bit2 / 8] >> (7 - bit2 % 8)) & 1) << (27 - i);
  }
  for (int round = 0; round < 16; ++round) {
    const int shift = kLeftShifts[round];
    c = ((c << shift) | (c >> (28 - shift))) & 0x0fffffff;
    d = ((d << shift) | (d >> (28 - shift))) & 0x0fffffff;
    // Permuted Choice 2 over CD (bits 1..28 from C, 29..56 from D).
    uint32_t groups[8] = {};
    for (int i = 0; i < 48; ++i) {
      const int from = kPermutedChoice2[i];
      const uint32_t bit = from <= 28 ? (c >> (28 - from)) & 1 : (d >> (56 - from)) & 1;
      groups[i / 6] |= bit << (5 - i % 6);
    }
    const uint32_t odd_key = (groups[0] << 24) | (groups[2] << 16) | (groups[4] << 8) | groups[6];
    const uint32_t even_key = (groups[1] << 24) | (groups[3] << 16) | (groups[5] << 8) | groups[7];
    const int slot = direction == DesDirection::kEncrypt ? round : 15 - round;
    schedule->words[2 * slot] = odd_key;
    schedule->words[2 * slot + 1] = even_key;
  }
}

void DesCryptBlock(uint32_t block[2], const DesSchedule& schedule) {
  uint32_t left = block[0];
  uint32_t right = block[1];
  InitialPermutation(left, right);
  left = RotateLeft(left, 1);
  right = RotateLeft(right, 1);
  const uint32_t* k = schedule.words;
  for (int i = 0; i < 8; ++i, k += 4) {
    left ^= RoundFunction(right, k[0], k[1]);
    right ^= RoundFunction(left, k[2], k[3]);
  }
  // The output block is R16 L16.
  left = RotateRight(left, 1);
  right = RotateRight(right, 1);
  FinalPermutation(right, left);
  block[0] = right;
  block[1] = left;
}

void DesCryptBytes(const uint8_t in[8], uint8_t out[8], const DesSchedule& schedule) {
  uint32_t block[2] = {LoadBe32(in), LoadBe32(in + 4)};
  DesCryptBlock(block, schedule);
  StoreBe32(block[0], out);
  StoreBe32(block[1], out + 4);
}

}  // namespace marrowgate
