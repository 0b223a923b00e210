// The portable batch engine, the choice among the engines, and the layout
// of the bitsliced keys shared by all of them.
#include "util/des_batch.h"

#include <cstring>

#include "util/des_bitslice.h"

namespace marrowgate {

// Defined in des_batch_avx2.cc and des_batch_avx512.cc; null when the
// compiler could not build them for their instruction set.
const DesBatchEngine* DesAvx2BatchEngine();
const DesBatchEngine* DesAvx512BatchEngine();

namespace {

struct PortableOps : bitslice::GatesFromBasics<PortableOps> {
  using W = uint64_t;
  static constexpr int kWidth = 1;
  static W Zero() { return 0; }
  static W Broadcast(uint64_t v) { return v; }
  static W Xor(W a, W b) { return a ^ b; }
  static W And(W a, W b) { return a & b; }
  static W AndNot(W a, W b) { return a & ~b; }
  static W Or(W a, W b) { return a | b; }
  template <int n>
  static W ShiftRight(W a) {
    return a >> n;
  }
  template <int n>
  static W ShiftLeft(W a) {
    return a << n;
  }
  static W Load(const uint64_t* p) { return *p; }
  static void Store(uint64_t* p, W a) { *p = a; }
};

const DesBatchEngine kPortable = {"portable", 1, &bitslice::CryptBatch<PortableOps>};

// Bit `p` (0..47, S-box p / 6, its input bit p % 6 from the most
// significant) of the subkey of `round` in `schedule`'s layout (util/des.h).
inline uint64_t SubkeyBit(const DesSchedule& schedule, int round, int p) {
  const int box = p / 6;
  const uint32_t word = schedule.words[2 * round + (box & 1)];
  const int shift = 24 - 8 * (box / 2) + (5 - p % 6);
  return (word >> shift) & 1;
}

bool CpuRunsAvx2() {
#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

bool CpuRunsAvx512() {
#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
  return __builtin_cpu_supports("avx512f");
#else
  return false;
#endif
}

struct EngineList {
  const DesBatchEngine* engines[3];
  int count = 0;
  EngineList() {
    const DesBatchEngine* avx512 = DesAvx512BatchEngine();
    const DesBatchEngine* avx2 = DesAvx2BatchEngine();
    if (avx512 != nullptr && CpuRunsAvx512()) engines[count++] = avx512;
    if (avx2 != nullptr && CpuRunsAvx2()) engines[count++] = avx2;
    engines[count++] = &kPortable;
  }
};

const EngineList& Engines() {
  static const EngineList list;
  return list;
}

}  // namespace

const DesBatchEngine& DesPortableBatchEngine() { return kPortable; }

const DesBatchEngine& DesBestBatchEngine() { return *Engines().engines[0]; }

const DesBatchEngine* const* DesBatchEngines(int* count) {
  *count = Engines().count;
  return Engines().engines;
}

void DesBuildBatchKeys(const DesBatchEngine& engine, const DesSchedule* const* schedules,
                       uint64_t* keys) {
  const int width = engine.width;
  std::memset(keys, 0, DesBatchKeyWords(engine) * sizeof(uint64_t));
  // Block i sits in part i % width of lane word i / width, at bit i / width.
  for (int i = 0; i < engine.blocks(); ++i) {
    const DesSchedule& schedule = *schedules[i];
    const int part = i % width;
    const int bit = i / width;
    for (int round = 0; round < 16; ++round) {
      uint64_t* round_keys = keys + static_cast<size_t>(round) * 48 * width + part;
      for (int p = 0; p < 48; ++p) round_keys[p * width] |= SubkeyBit(schedule, round, p) << bit;
    }
  }
}

}  // namespace marrowgate
