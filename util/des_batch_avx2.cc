// The batch engine over AVX2: 256 blocks per batch. Built with the
// compiler's AVX2 switch; run only when the CPU has AVX2.
#include "util/des_batch.h"

#if defined(__AVX2__)
#include <immintrin.h>

#include "util/des_bitslice.h"
#endif

namespace marrowgate {

#if defined(__AVX2__)
namespace {

struct Avx2Ops : bitslice::GatesFromBasics<Avx2Ops> {
  using W = __m256i;
  static constexpr int kWidth = 4;
  static W Zero() { return _mm256_setzero_si256(); }
  static W Broadcast(uint64_t v) { return _mm256_set1_epi64x(static_cast<long long>(v)); }
  static W Xor(W a, W b) { return _mm256_xor_si256(a, b); }
  static W And(W a, W b) { return _mm256_and_si256(a, b); }
  static W AndNot(W a, W b) { return _mm256_andnot_si256(b, a); }
  static W Or(W a, W b) { return _mm256_or_si256(a, b); }
  template <int n>
  static W ShiftRight(W a) {
    return _mm256_srli_epi64(a, n);
  }
  template <int n>
  static W ShiftLeft(W a) {
    return _mm256_slli_epi64(a, n);
  }
  static W Load(const uint64_t* p) { return _mm256_loadu_si256(reinterpret_cast<const W*>(p)); }
  static void Store(uint64_t* p, W a) { _mm256_storeu_si256(reinterpret_cast<W*>(p), a); }
};

const DesBatchEngine kAvx2 = {"avx2", 4, &bitslice::CryptBatch<Avx2Ops>};

}  // namespace

const DesBatchEngine* DesAvx2BatchEngine() { return &kAvx2; }
#else
const DesBatchEngine* DesAvx2BatchEngine() { return nullptr; }
#endif

}  // namespace marrowgate
