// Bitsliced DES over a lane word type, shared by the engines of
// util/des_batch.cc and its per-instruction-set companions. Not a public
// header: include it only from those files.
//
// An Ops type supplies the lane word W (a whole number of 64-bit words,
// kWidth of them) and its operations: Zero, Xor, And, AndNot(a, b) = a & ~b,
// Or, Not, Mux(s, a, b) = s ? b : a (bit by bit), Fn3<imm>(a, b, c) = the
// 3-input function whose truth table is imm, indexed by a * 4 + b * 2 + c,
// ShiftRight<n>/ShiftLeft<n> within each 64-bit word, Load and Store;
// Not, Mux and Fn3 may come from GatesFromBasics.
// Every function here is a template over Ops; each engine's Ops type lives
// in an unnamed namespace, so code built for one instruction set never
// stands in for another's.
#ifndef MARROWGATE_UTIL_DES_BITSLICE_H_
#define MARROWGATE_UTIL_DES_BITSLICE_H_

#include <cstdint>
#include <type_traits>

#include "util/des_tables.h"

namespace marrowgate {
namespace bitslice {

// ------------------------------------------------ tables derived from FIPS 46-3

using des_tables::kInitialPermutation;
using des_tables::kPermutationP;
using des_tables::kSBoxes;

// S-box output bit s (from 0) lands on bit kPInverse[s] (from 0) of f.
struct PInverse {
  uint8_t at[32];
};
constexpr PInverse MakePInverse() {
  PInverse p{};
  for (int i = 0; i < 32; ++i) p.at[kPermutationP[i] - 1] = static_cast<uint8_t>(i);
  return p;
}
constexpr PInverse kPInverse = MakePInverse();

// Expansion: input bit t (from 0) of S-box `box` is bit (4 box + t - 1) mod
// 32 (from 0) of R.
constexpr int ExpansionBit(int box, int t) { return (4 * box + t + 31) % 32; }

// Output bit `bit` (0 the most significant) of S-box `box` for the 6-bit
// input v (b1 the most significant; row b1 b6, column b2..b5).
constexpr int SBoxBit(int box, int bit, int v) {
  const int row = ((v >> 4) & 2) | (v & 1);
  const int column = (v >> 1) & 15;
  return (kSBoxes[box][row * 16 + column] >> (3 - bit)) & 1;
}

// Truth table of output `bit` over the inputs below depth `depth` once the
// first `depth` inputs are fixed to `prefix`: bit k for the remaining inputs
// read as the number k.
constexpr uint64_t SubTable(int box, int bit, int depth, int prefix) {
  const int free_bits = 6 - depth;
  uint64_t table = 0;
  for (int k = 0; k < (1 << free_bits); ++k) {
    table |= static_cast<uint64_t>(SBoxBit(box, bit, (prefix << free_bits) | k)) << k;
  }
  return table;
}

// ------------------------------------------------ generic 2- and 3-input gates

// The 2-input function with truth table t, indexed by b * 2 + c.
template <class Ops, int t>
inline typename Ops::W Fn2(typename Ops::W b, typename Ops::W c) {
  if constexpr (t == 0) return Ops::Zero();
  else if constexpr (t == 1) return Ops::Not(Ops::Or(b, c));
  else if constexpr (t == 2) return Ops::AndNot(c, b);
  else if constexpr (t == 3) return Ops::Not(b);
  else if constexpr (t == 4) return Ops::AndNot(b, c);
  else if constexpr (t == 5) return Ops::Not(c);
  else if constexpr (t == 6) return Ops::Xor(b, c);
  else if constexpr (t == 7) return Ops::Not(Ops::And(b, c));
  else if constexpr (t == 8) return Ops::And(b, c);
  else if constexpr (t == 9) return Ops::Not(Ops::Xor(b, c));
  else if constexpr (t == 10) return c;
  else if constexpr (t == 11) return Ops::Not(Ops::AndNot(b, c));
  else if constexpr (t == 12) return b;
  else if constexpr (t == 13) return Ops::Not(Ops::AndNot(c, b));
  else if constexpr (t == 14) return Ops::Or(b, c);
  else return Ops::Not(Ops::Zero());
}

// The 3-input function with truth table imm, indexed by a * 4 + b * 2 + c,
// from 2-input gates and a multiplexer; for engines without a 3-input gate.
template <class Ops, int imm>
inline typename Ops::W GenericFn3(typename Ops::W a, typename Ops::W b, typename Ops::W c) {
  constexpr int low = imm & 15;   // a = 0
  constexpr int high = imm >> 4;  // a = 1
  if constexpr (low == high) {
    return Fn2<Ops, low>(b, c);
  } else if constexpr ((low ^ high) == 15) {
    return Ops::Xor(a, Fn2<Ops, low>(b, c));
  } else if constexpr (low == 0) {
    return Ops::And(a, Fn2<Ops, high>(b, c));
  } else if constexpr (high == 0) {
    return Ops::AndNot(Fn2<Ops, low>(b, c), a);
  } else {
    return Ops::Mux(a, Fn2<Ops, low>(b, c), Fn2<Ops, high>(b, c));
  }
}

// The gates an engine may take from its basic ones rather than write out:
// its Ops type derives from GatesFromBasics<itself> and defines Zero,
// Broadcast, Xor, And, AndNot, Or, the shifts, Load and Store. An engine
// with better instructions for Not, Mux or Fn3 declares its own, which
// hide these.
template <class Ops>
struct GatesFromBasics {
  template <class W>
  static W Not(W a) {
    return Ops::Xor(a, Ops::Broadcast(~uint64_t{0}));
  }
  // s ? b : a, bit by bit.
  template <class W>
  static W Mux(W s, W a, W b) {
    return Ops::Xor(a, Ops::And(Ops::Xor(a, b), s));
  }
  template <int imm, class W>
  static W Fn3(W a, W b, W c) {
    return GenericFn3<Ops, imm>(a, b, c);
  }
};

// ------------------------------------------------ S-boxes

// Output `bit` of S-box `box`: a multiplexer tree over inputs 0..2 whose
// leaves are 3-input functions of inputs 3..5. Subtrees with equal tables
// are not built twice.
template <class Ops, int box, int bit, int depth, int prefix>
inline typename Ops::W SBoxTree(const typename Ops::W* x) {
  if constexpr (depth == 3) {
    return Ops::template Fn3<static_cast<int>(SubTable(box, bit, 3, prefix))>(x[3], x[4], x[5]);
  } else {
    using W = typename Ops::W;
    const W low = SBoxTree<Ops, box, bit, depth + 1, prefix * 2>(x);
    if constexpr (SubTable(box, bit, depth + 1, prefix * 2) ==
                  SubTable(box, bit, depth + 1, prefix * 2 + 1)) {
      return low;
    } else {
      const W high = SBoxTree<Ops, box, bit, depth + 1, prefix * 2 + 1>(x);
      return Ops::Mux(x[depth], low, high);
    }
  }
}

// One S-box of one round: its six inputs from R and the round key, its four
// outputs XORed into L where P puts them.
template <class Ops, int box>
inline void SBoxStep(typename Ops::W* left, const typename Ops::W* right,
                     const typename Ops::W* round_key) {
  using W = typename Ops::W;
  W x[6];
  for (int t = 0; t < 6; ++t) x[t] = Ops::Xor(right[ExpansionBit(box, t)], round_key[6 * box + t]);
  W& y0 = left[kPInverse.at[4 * box + 0]];
  y0 = Ops::Xor(y0, SBoxTree<Ops, box, 0, 0, 0>(x));
  W& y1 = left[kPInverse.at[4 * box + 1]];
  y1 = Ops::Xor(y1, SBoxTree<Ops, box, 1, 0, 0>(x));
  W& y2 = left[kPInverse.at[4 * box + 2]];
  y2 = Ops::Xor(y2, SBoxTree<Ops, box, 2, 0, 0>(x));
  W& y3 = left[kPInverse.at[4 * box + 3]];
  y3 = Ops::Xor(y3, SBoxTree<Ops, box, 3, 0, 0>(x));
}

template <class Ops>
inline void Round(typename Ops::W* left, const typename Ops::W* right,
                  const typename Ops::W* round_key) {
  SBoxStep<Ops, 0>(left, right, round_key);
  SBoxStep<Ops, 1>(left, right, round_key);
  SBoxStep<Ops, 2>(left, right, round_key);
  SBoxStep<Ops, 3>(left, right, round_key);
  SBoxStep<Ops, 4>(left, right, round_key);
  SBoxStep<Ops, 5>(left, right, round_key);
  SBoxStep<Ops, 6>(left, right, round_key);
  SBoxStep<Ops, 7>(left, right, round_key);
}

// ------------------------------------------------ transpose

// Transposes the 64 x 64 bit matrix held in every 64-bit part of x[0..63]:
// afterwards bit c of x[r] is what bit r of x[c] was.
template <class Ops>
inline void Transpose64(typename Ops::W* x) {
  using W = typename Ops::W;
  constexpr uint64_t kMasks[6] = {0x00000000FFFFFFFFull, 0x0000FFFF0000FFFFull,
                                  0x00FF00FF00FF00FFull, 0x0F0F0F0F0F0F0F0Full,
                                  0x3333333333333333ull, 0x5555555555555555ull};
  auto stage = [x](auto shift_tag, uint64_t mask_bits) {
    constexpr int j = decltype(shift_tag)::value;
    const W mask = Ops::Broadcast(mask_bits);
    for (int k = 0; k < 64; k = ((k | j) + 1) & ~j) {
      const W t = Ops::And(Ops::Xor(Ops::template ShiftRight<j>(x[k]), x[k | j]), mask);
      x[k] = Ops::Xor(x[k], Ops::template ShiftLeft<j>(t));
      x[k | j] = Ops::Xor(x[k | j], t);
    }
  };
  stage(std::integral_constant<int, 32>(), kMasks[0]);
  stage(std::integral_constant<int, 16>(), kMasks[1]);
  stage(std::integral_constant<int, 8>(), kMasks[2]);
  stage(std::integral_constant<int, 4>(), kMasks[3]);
  stage(std::integral_constant<int, 2>(), kMasks[4]);
  stage(std::integral_constant<int, 1>(), kMasks[5]);
}

// ------------------------------------------------ one batch

// keys: 16 rounds x 48 lane words; blocks: 64 lane words, lane word k
// holding blocks k * kWidth .. k * kWidth + kWidth - 1 (one per 64-bit
// part), each the big-endian value of its 8 bytes.
template <class Ops>
void CryptBatch(const uint64_t* keys, uint64_t* blocks) {
  using W = typename Ops::W;
  constexpr int kWidth = Ops::kWidth;
  W x[64];
  for (int k = 0; k < 64; ++k) x[k] = Ops::Load(blocks + k * kWidth);
  // Now x[64 - n] holds bit n (from 1, the most significant) of every
  // block, bit k of its part p that of block k * kWidth + p.
  Transpose64<Ops>(x);
  W a[32], b[32];
  for (int i = 0; i < 32; ++i) {
    a[i] = x[64 - kInitialPermutation[i]];
    b[i] = x[64 - kInitialPermutation[32 + i]];
  }
  W* left = a;
  W* right = b;
  for (int round = 0; round < 16; ++round) {
    W round_key[48];
    for (int p = 0; p < 48; ++p) round_key[p] = Ops::Load(keys + (round * 48 + p) * kWidth);
    Round<Ops>(left, right, round_key);
    W* t = left;
    left = right;
    right = t;
  }
  // The output is the inverse permutation of R16 L16.
  for (int i = 0; i < 32; ++i) {
    x[64 - kInitialPermutation[i]] = right[i];
    x[64 - kInitialPermutation[32 + i]] = left[i];
  }
  Transpose64<Ops>(x);
  for (int k = 0; k < 64; ++k) Ops::Store(blocks + k * kWidth, x[k]);
}

}  // namespace bitslice
}  // namespace marrowgate

#endif  // MARROWGATE_UTIL_DES_BITSLICE_H_
