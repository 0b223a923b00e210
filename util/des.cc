#include "util/des.h"

#include <array>

namespace marrowgate {
namespace {

// ------------------------------------------------ tables of FIPS 46-3
// Bit numbers count from 1 at the most significant bit, as in the standard.

constexpr uint8_t kPermutedChoice1[56] = {
    57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,  //
    10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,  //
    63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,  //
    14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

constexpr uint8_t kPermutedChoice2[48] = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10,  //
    23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,   //
    41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48,  //
    44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

constexpr uint8_t kLeftShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

constexpr uint8_t kPermutationP[32] = {
    16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,  //
    2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

// S-boxes: row (outer bits) by 16 columns (inner bits).
constexpr uint8_t kSBoxes[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8,  3,  10, 6,  12, 5,  9,  0, 7,  //
     0,  15, 7,  4, 14, 2,  13, 1,  10, 6,  12, 11, 9,  5,  3, 8,  //
     4,  1,  14, 8, 13, 6,  2,  11, 15, 12, 9,  7,  3,  10, 5, 0,  //
     15, 12, 8,  2, 4,  9,  1,  7,  5,  11, 3,  14, 10, 0,  6, 13},
    {15, 1,  8,  14, 6,  11, 3,  4,  9,  7, 2,  13, 12, 0, 5,  10,  //
     3,  13, 4,  7,  15, 2,  8,  14, 12, 0, 1,  10, 6,  9, 11, 5,   //
     0,  14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,  9,  3, 2,  15,  //
     13, 8,  10, 1,  3,  15, 4,  2,  11, 6, 7,  12, 0,  5, 14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7,  11, 4,  2,  8,  //
     13, 7,  0,  9,  3, 4,  6,  10, 2,  8,  5,  14, 12, 11, 15, 1,  //
     13, 6,  4,  9,  8, 15, 3,  0,  11, 1,  2,  12, 5,  10, 14, 7,  //
     1,  10, 13, 0,  6, 9,  8,  7,  4,  15, 14, 3,  11, 5,  2,  12},
    {7,  13, 14, 3, 0,  6,  9,  10, 1,  2, 8, 5,  11, 12, 4,  15,  //
     13, 8,  11, 5, 6,  15, 0,  3,  4,  7, 2, 12, 1,  10, 14, 9,   //
     10, 6,  9,  0, 12, 11, 7,  13, 15, 1, 3, 14, 5,  2,  8,  4,   //
     3,  15, 0,  6, 10, 1,  13, 8,  9,  4, 5, 11, 12, 7,  2,  14},
    {2,  12, 4,  1,  7,  10, 11, 6,  8,  5,  3,  15, 13, 0, 14, 9,   //
     14, 11, 2,  12, 4,  7,  13, 1,  5,  0,  15, 10, 3,  9, 8,  6,   //
     4,  2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,  6,  3, 0,  14,  //
     11, 8,  12, 7,  1,  14, 2,  13, 6,  15, 0,  9,  10, 4, 5,  3},
    {12, 1,  10, 15, 9, 2,  6,  8,  0,  13, 3,  4,  14, 7,  5,  11,  //
     10, 15, 4,  2,  7, 12, 9,  5,  6,  1,  13, 14, 0,  11, 3,  8,   //
     9,  14, 15, 5,  2, 8,  12, 3,  7,  0,  4,  10, 1,  13, 11, 6,   //
     4,  3,  2,  12, 9, 5,  15, 10, 11, 14, 1,  7,  6,  0,  8,  13},
    {4,  11, 2,  14, 15, 0, 8,  13, 3,  12, 9, 7,  5,  10, 6, 1,  //
     13, 0,  11, 7,  4,  9, 1,  10, 14, 3,  5, 12, 2,  15, 8, 6,  //
     1,  4,  11, 13, 12, 3, 7,  14, 10, 15, 6, 8,  0,  5,  9, 2,  //
     6,  11, 13, 8,  1,  4, 10, 7,  9,  5,  0, 15, 14, 2,  3, 12},
    {13, 2,  8,  4, 6,  15, 11, 1,  10, 9,  3,  14, 5,  0,  12, 7,  //
     1,  15, 13, 8, 10, 3,  7,  4,  12, 5,  6,  11, 0,  14, 9,  2,  //
     7,  11, 4,  1, 9,  12, 14, 2,  0,  6,  10, 13, 15, 3,  5,  8,  //
     2,  1,  14, 7, 4,  10, 8,  13, 15, 12, 9,  0,  3,  5,  6,  11}};

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
