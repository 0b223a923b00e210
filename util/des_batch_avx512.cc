// The batch engine over AVX-512: 512 blocks per batch, every gate of the
// S-box trees one three-input instruction. Built with the compiler's
// AVX-512F switch; run only when the CPU has AVX-512F.
#include "util/des_batch.h"

#if defined(__AVX512F__)
#if defined(__GNUC__) && !defined(__clang__)
// GCC's own shift intrinsics read an undefined vector on purpose; without
// optimisation it warns about them at every use.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include "util/des_bitslice.h"
#endif

namespace marrowgate {

#if defined(__AVX512F__)
namespace {

struct Avx512Ops {
  using W = __m512i;
  static constexpr int kWidth = 8;
  static W Zero() { return _mm512_setzero_si512(); }
  static W Broadcast(uint64_t v) { return _mm512_set1_epi64(static_cast<long long>(v)); }
  static W Xor(W a, W b) { return _mm512_xor_si512(a, b); }
  static W And(W a, W b) { return _mm512_and_si512(a, b); }
  static W AndNot(W a, W b) { return _mm512_andnot_si512(b, a); }
  static W Or(W a, W b) { return _mm512_or_si512(a, b); }
  static W Not(W a) { return _mm512_ternarylogic_epi64(a, a, a, 0x55); }
  // s ? b : a
  static W Mux(W s, W a, W b) { return _mm512_ternarylogic_epi64(s, b, a, 0xCA); }
  template <int imm>
  static W Fn3(W a, W b, W c) {
    return _mm512_ternarylogic_epi64(a, b, c, imm);
  }
  template <int n>
  static W ShiftRight(W a) {
    return _mm512_srli_epi64(a, n);
  }
  template <int n>
  static W ShiftLeft(W a) {
    return _mm512_slli_epi64(a, n);
  }
  static W Load(const uint64_t* p) { return _mm512_loadu_si512(p); }
  static void Store(uint64_t* p, W a) { _mm512_storeu_si512(p, a); }
};

const DesBatchEngine kAvx512 = {"avx512", 8, &bitslice::CryptBatch<Avx512Ops>};

}  // namespace

const DesBatchEngine* DesAvx512BatchEngine() { return &kAvx512; }
#else
const DesBatchEngine* DesAvx512BatchEngine() { return nullptr; }
#endif

}  // namespace marrowgate
