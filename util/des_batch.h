// Many-block DES: one call enciphers or deciphers a batch of independent
// 8-byte blocks, each under its own schedule, bitsliced over the bits of
// 64-bit words or wider vector lanes. The engine is chosen once by what the
// CPU runs; every engine gives the same bytes as DesCryptBlock (util/des.h).
//
//   const DesBatchEngine& engine = DesBestBatchEngine();
//   std::vector<uint64_t> keys(DesBatchKeyWords(engine));
//   DesBuildBatchKeys(engine, lane_schedules, keys.data());   // blocks() pointers
//   engine.crypt(keys.data(), blocks);                        // blocks() words
#ifndef MARROWGATE_UTIL_DES_BATCH_H_
#define MARROWGATE_UTIL_DES_BATCH_H_

#include <cstddef>
#include <cstdint>

#include "util/des.h"

namespace marrowgate {

struct DesBatchEngine {
  const char* name;
  // 64-bit words per lane word; a batch holds 64 * width blocks.
  int width;
  // Runs every block of `blocks` (one batch, each block as a 64-bit value of
  // its 8 bytes read big-endian) through DES in place, block i under the
  // schedule given for lane i when `keys` was built.
  void (*crypt)(const uint64_t* keys, uint64_t* blocks);

  int blocks() const { return 64 * width; }
};

// The portable engine: 64 blocks over plain 64-bit words.
const DesBatchEngine& DesPortableBatchEngine();

// The widest engine this CPU runs (AVX-512, AVX2, else the portable one).
const DesBatchEngine& DesBestBatchEngine();

// Every engine this CPU runs, widest first; `*count` receives their number.
const DesBatchEngine* const* DesBatchEngines(int* count);

// 64-bit words of the bitsliced key material of one batch.
inline size_t DesBatchKeyWords(const DesBatchEngine& engine) {
  return size_t{16} * 48 * static_cast<size_t>(engine.width);
}

// Fills `keys` (DesBatchKeyWords words) with the subkeys of every round,
// lane i taking schedules[i] (engine.blocks() pointers, none null).
void DesBuildBatchKeys(const DesBatchEngine& engine, const DesSchedule* const* schedules,
                       uint64_t* keys);

}  // namespace marrowgate

#endif  // MARROWGATE_UTIL_DES_BATCH_H_
