// Throughput of the library's own MD5 and DES code over 1 MiB buffers.
// bench/compare_crypto.sh sets the figures beside OpenSSL's.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "util/des.h"
#include "util/md5.h"
#include "util/rolling_des_cipher.h"

namespace marrowgate {
namespace {

constexpr int32_t kBufferSize = 1 << 20;

std::vector<uint8_t> TestData() {
  std::vector<uint8_t> data(kBufferSize);
  uint32_t x = 12345;
  for (auto& b : data) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  return data;
}

void BM_Md5(benchmark::State& state) {
  const std::vector<uint8_t> data = TestData();
  uint8_t digest[16];
  for (auto _ : state) {
    Md5Digest(data.data(), data.size(), digest);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(state.iterations() * kBufferSize);
}
BENCHMARK(BM_Md5);

// The rolling cipher with one key block and step 1 is plain DES-CBC.
void BM_DesCbcEncrypt(benchmark::State& state) {
  std::vector<uint8_t> data = TestData();
  const uint8_t key[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
  RollingDesCipher cipher(1);
  cipher.SetKey(key, 8, DesDirection::kEncrypt);
  for (auto _ : state) {
    cipher.Encrypt(data.data(), kBufferSize, data.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kBufferSize);
}
BENCHMARK(BM_DesCbcEncrypt);

void BM_DesCbcDecrypt(benchmark::State& state) {
  std::vector<uint8_t> data = TestData();
  const uint8_t key[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
  RollingDesCipher cipher(1);
  cipher.SetKey(key, 8, DesDirection::kDecrypt);
  for (auto _ : state) {
    cipher.Decrypt(data.data(), kBufferSize, data.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kBufferSize);
}
BENCHMARK(BM_DesCbcDecrypt);

// Deciphering with a rotating key (8 key blocks, step 3) on each batch
// engine this CPU runs (0 the widest), and block by block (argument -1).
void BM_DesRollingDecrypt(benchmark::State& state) {
  std::vector<uint8_t> data = TestData();
  uint8_t key[64];
  for (int i = 0; i < 64; ++i) key[i] = static_cast<uint8_t>(i * 37 + 11);
  RollingDesCipher cipher(3);
  int count = 0;
  const DesBatchEngine* const* engines = DesBatchEngines(&count);
  const int which = static_cast<int>(state.range(0));
  if (which >= count) {
    state.SkipWithError("no such engine on this CPU");
    return;
  }
  cipher.UseBatchEngine(which < 0 ? nullptr : engines[which]);
  state.SetLabel(which < 0 ? "block by block" : engines[which]->name);
  cipher.SetKey(key, 64, DesDirection::kDecrypt);
  for (auto _ : state) {
    cipher.Decrypt(data.data(), kBufferSize, data.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kBufferSize);
}
BENCHMARK(BM_DesRollingDecrypt)->DenseRange(-1, 2);

// The bare block function, for comparison with ECB figures.
void BM_DesBlock(benchmark::State& state) {
  const uint8_t key[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
  DesSchedule schedule;
  DesSetKey(key, DesDirection::kEncrypt, &schedule);
  uint32_t block[2] = {0x01234567, 0x89ABCDEF};
  for (auto _ : state) {
    for (int i = 0; i < kBufferSize / 8; ++i) DesCryptBlock(block, schedule);
    benchmark::DoNotOptimize(block);
  }
  state.SetBytesProcessed(state.iterations() * kBufferSize);
}
BENCHMARK(BM_DesBlock);

}  // namespace
}  // namespace marrowgate

BENCHMARK_MAIN();
