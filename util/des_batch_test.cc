#include "util/des_batch.h"

#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace marrowgate {
namespace {

uint64_t LoadBe64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
  return v;
}

void StoreBe64(uint64_t v, uint8_t* p) {
  for (int i = 7; i >= 0; --i, v >>= 8) p[i] = static_cast<uint8_t>(v);
}

std::vector<const DesBatchEngine*> AllEngines() {
  int count = 0;
  const DesBatchEngine* const* engines = DesBatchEngines(&count);
  return std::vector<const DesBatchEngine*>(engines, engines + count);
}

TEST(DesBatchTest, PortableEngineIsAlwaysOffered) {
  const std::vector<const DesBatchEngine*> engines = AllEngines();
  ASSERT_FALSE(engines.empty());
  EXPECT_EQ(engines.back(), &DesPortableBatchEngine());
  EXPECT_EQ(engines.front(), &DesBestBatchEngine());
  for (size_t i = 1; i < engines.size(); ++i) EXPECT_GT(engines[i - 1]->width, engines[i]->width);
}

// Every lane under its own key and direction gives what the one-block
// function gives for that block.
TEST(DesBatchTest, EveryEngineMatchesTheOneBlockFunction) {
  std::mt19937_64 random(2024);
  for (const DesBatchEngine* engine : AllEngines()) {
    SCOPED_TRACE(engine->name);
    const int n = engine->blocks();
    for (int trial = 0; trial < 3; ++trial) {
      std::vector<DesSchedule> schedules(static_cast<size_t>(n));
      std::vector<const DesSchedule*> lanes(static_cast<size_t>(n));
      std::vector<uint64_t> blocks(static_cast<size_t>(n));
      std::vector<uint64_t> expected(static_cast<size_t>(n));
      for (int i = 0; i < n; ++i) {
        uint8_t key[8];
        StoreBe64(random(), key);
        DesSetKey(key, (random() & 1) ? DesDirection::kEncrypt : DesDirection::kDecrypt,
                  &schedules[static_cast<size_t>(i)]);
        lanes[static_cast<size_t>(i)] = &schedules[static_cast<size_t>(i)];
        uint8_t bytes[8];
        StoreBe64(random(), bytes);
        blocks[static_cast<size_t>(i)] = LoadBe64(bytes);
        DesCryptBytes(bytes, bytes, schedules[static_cast<size_t>(i)]);
        expected[static_cast<size_t>(i)] = LoadBe64(bytes);
      }
      std::vector<uint64_t> keys(DesBatchKeyWords(*engine));
      DesBuildBatchKeys(*engine, lanes.data(), keys.data());
      engine->crypt(keys.data(), blocks.data());
      EXPECT_EQ(blocks, expected);
    }
  }
}

// FIPS 81 / NBS example: key 0123456789abcdef enciphers "Now is t" to
// 3fa40e8a984d4815; deciphering takes it back, in every lane.
TEST(DesBatchTest, KnownAnswerInEveryLane) {
  const uint8_t key[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
  DesSchedule encrypt, decrypt;
  DesSetKey(key, DesDirection::kEncrypt, &encrypt);
  DesSetKey(key, DesDirection::kDecrypt, &decrypt);
  const uint64_t plain = 0x4e6f772069732074ull;  // "Now is t"
  const uint64_t cipher = 0x3fa40e8a984d4815ull;
  for (const DesBatchEngine* engine : AllEngines()) {
    SCOPED_TRACE(engine->name);
    const size_t n = static_cast<size_t>(engine->blocks());
    std::vector<uint64_t> keys(DesBatchKeyWords(*engine));
    std::vector<const DesSchedule*> lanes(n, &encrypt);
    DesBuildBatchKeys(*engine, lanes.data(), keys.data());
    std::vector<uint64_t> blocks(n, plain);
    engine->crypt(keys.data(), blocks.data());
    EXPECT_EQ(blocks, std::vector<uint64_t>(n, cipher));
    lanes.assign(n, &decrypt);
    DesBuildBatchKeys(*engine, lanes.data(), keys.data());
    engine->crypt(keys.data(), blocks.data());
    EXPECT_EQ(blocks, std::vector<uint64_t>(n, plain));
  }
}

}  // namespace
}  // namespace marrowgate
