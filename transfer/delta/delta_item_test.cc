#include "transfer/delta/delta_item.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "package/file/memory_file.h"
#include "util/releaser.h"

namespace marrowgate {
namespace {

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(n);
  for (auto& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

// The delta item turning `before` into `after`.
std::vector<uint8_t> Encode(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after,
                            int32_t* rc, uint64_t limit = 0) {
  MemoryFile oldFile(before), newFile(after), out;
  *rc = EncodeDelta(&oldFile, &newFile, &out, limit);
  return out.bytes();
}

// The item pushed in slices of `slice` bytes, as an unsealed item comes.
int32_t ApplyPushed(const std::vector<uint8_t>& item, const std::vector<uint8_t>& basis,
                    size_t slice, std::vector<uint8_t>* rebuilt) {
  MemoryFile head(item), old(basis);
  DeltaHeader header;
  int32_t rc = ReadDeltaHeader(&head, &header);
  if (rc == 0) rc = CheckDeltaBasis(&old, header);
  if (rc != 0) return rc;
  DeltaRebuild rebuild(nullptr, &old, header);
  const DeltaSink out = [&](const uint8_t* bytes, size_t n) {
    rebuilt->insert(rebuilt->end(), bytes, bytes + n);
    return true;
  };
  for (size_t at = kDeltaHeaderSize; at < item.size(); at += slice) {
    rc = rebuild.Feed(item.data() + at, std::min(slice, item.size() - at), out);
    if (rc != 0) return rc;
  }
  return rebuild.Finish(out);
}

// Applies `item` both ways, pulled and pushed, which must agree.
int32_t Apply(const std::vector<uint8_t>& item, const std::vector<uint8_t>& basis,
              std::vector<uint8_t>* rebuilt) {
  MemoryFile delta(item), old(basis), sink;
  int32_t rc = ApplyDelta(&delta, &old, &sink);
  *rebuilt = sink.bytes();
  std::vector<uint8_t> pushed;
  const int32_t pushedRc = ApplyPushed(item, basis, 997, &pushed);
  EXPECT_EQ(pushedRc == 0, rc == 0) << pushedRc << " pushed, " << rc << " pulled";
  if (rc == 0 && pushedRc == 0) {
    EXPECT_TRUE(pushed == *rebuilt);
  }
  return rc;
}

struct Change {
  const char* name;
  size_t size;
  // Turns the old bytes into the new ones.
  void (*edit)(std::vector<uint8_t>*);
  // Largest delta item accepted, bytes.
  size_t bound;
};

void Overwrite(std::vector<uint8_t>* bytes, size_t at, size_t n, uint32_t seed) {
  std::vector<uint8_t> patch = RandomBytes(n, seed);
  std::memcpy(bytes->data() + at, patch.data(), n);
}

const Change kChanges[] = {
    {"empty_to_empty", 0, [](std::vector<uint8_t>*) {}, 128},
    {"empty_to_bytes", 0, [](std::vector<uint8_t>* b) { *b = RandomBytes(3000, 9); }, 3200},
    {"one_byte", 1, [](std::vector<uint8_t>* b) { (*b)[0] ^= 0xff; }, 128},
    {"bytes_to_empty", 5000, [](std::vector<uint8_t>* b) { b->clear(); }, 128},
    {"edits_start_middle_end", 6 << 20,
     [](std::vector<uint8_t>* b) {
       Overwrite(b, 0, 2000, 1);
       Overwrite(b, b->size() / 2, 3000, 2);
       Overwrite(b, b->size() - 1500, 1500, 3);
     },
     64 << 10},
    {"inserted_in_middle", 4 << 20,
     [](std::vector<uint8_t>* b) {
       std::vector<uint8_t> extra = RandomBytes(4096, 4);
       b->insert(b->begin() + b->size() / 3, extra.begin(), extra.end());
     },
     48 << 10},
    {"truncated", 4 << 20, [](std::vector<uint8_t>* b) { b->resize(b->size() - 777777); }, 8 << 10},
    {"extended", 4 << 20,
     [](std::vector<uint8_t>* b) {
       std::vector<uint8_t> tail = RandomBytes(5000, 5);
       b->insert(b->end(), tail.begin(), tail.end());
     },
     32 << 10},
};

class DeltaRoundTrip : public ::testing::TestWithParam<Change> {};

TEST_P(DeltaRoundTrip, RebuildsTheNewFileFromTheOldWithASmallItem) {
  const Change& change = GetParam();
  const std::vector<uint8_t> before = RandomBytes(change.size, 77);
  std::vector<uint8_t> after = before;
  change.edit(&after);

  int32_t rc = 0;
  std::vector<uint8_t> item = Encode(before, after, &rc);
  ASSERT_EQ(rc, 0) << DeltaResultText(rc);
  EXPECT_LE(item.size(), change.bound) << "delta of " << after.size() << " bytes";

  MemoryFile itemFile(item);
  DeltaHeader header;
  ASSERT_EQ(ReadDeltaHeader(&itemFile, &header), 0);
  EXPECT_EQ(header.oldSize, before.size());
  EXPECT_EQ(header.newSize, after.size());

  std::vector<uint8_t> rebuilt;
  ASSERT_EQ(Apply(item, before, &rebuilt), 0);
  EXPECT_TRUE(rebuilt == after);
}

INSTANTIATE_TEST_SUITE_P(Changes, DeltaRoundTrip, ::testing::ValuesIn(kChanges),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DeltaItem, AnotherOldFileIsRefusedBeforeAnythingIsWritten) {
  const std::vector<uint8_t> before = RandomBytes(300000, 1);
  std::vector<uint8_t> after = before;
  Overwrite(&after, 1000, 100, 2);
  int32_t rc = 0;
  std::vector<uint8_t> item = Encode(before, after, &rc);
  ASSERT_EQ(rc, 0);

  std::vector<uint8_t> modified = before;
  modified[123456] ^= 1;  // same size, other content
  std::vector<uint8_t> shorter(before.begin(), before.end() - 1);
  for (const auto* basis : {&modified, &shorter, &after}) {
    std::vector<uint8_t> rebuilt;
    EXPECT_EQ(Apply(item, *basis, &rebuilt), kDeltaBasisDiffers);
    EXPECT_TRUE(rebuilt.empty());
  }
}

// Whatever byte of an item is damaged, the apply either fails or gives
// exactly the new file: it never hands out wrong bytes as right.
TEST(DeltaItem, ADamagedItemNeverRebuildsAWrongFile) {
  const std::vector<uint8_t> before = RandomBytes(24000, 3);
  std::vector<uint8_t> after = before;
  Overwrite(&after, 5000, 700, 4);
  after.insert(after.begin() + 15000, 300, 0x5a);
  int32_t rc = 0;
  const std::vector<uint8_t> item = Encode(before, after, &rc);
  ASSERT_EQ(rc, 0);
  int failures = 0;
  for (size_t at = 0; at < item.size(); ++at) {
    for (uint8_t flip : {0x01, 0xff}) {
      std::vector<uint8_t> damaged = item;
      damaged[at] ^= flip;
      std::vector<uint8_t> rebuilt;
      int32_t result = Apply(damaged, before, &rebuilt);
      if (result == 0)
        ASSERT_TRUE(rebuilt == after) << "byte " << at;
      else
        ++failures;
    }
  }
  // Cut short anywhere.
  for (size_t keep = 0; keep < item.size(); keep += 7) {
    std::vector<uint8_t> cut(item.begin(), item.begin() + keep), rebuilt;
    EXPECT_NE(Apply(cut, before, &rebuilt), 0) << "kept " << keep;
  }
  EXPECT_GT(failures, 0);
}

TEST(DeltaItem, EncodingStopsAtTheLimit) {
  const std::vector<uint8_t> before = RandomBytes(500000, 5);
  const std::vector<uint8_t> after = RandomBytes(500000, 6);  // nothing shared
  int32_t rc = 0;
  Encode(before, after, &rc, 300000);
  EXPECT_EQ(rc, kDeltaTooLarge);
  std::vector<uint8_t> item = Encode(before, after, &rc);
  ASSERT_EQ(rc, 0);
  EXPECT_GT(item.size(), 500000u);
}

TEST(DeltaItem, NamesFollowTheReservedSuffix) {
  EXPECT_EQ(DeltaNameFor("bin/game.dat"), "bin/game.dat.mgdelta");
  EXPECT_TRUE(IsDeltaName("bin/game.dat.mgdelta"));
  EXPECT_FALSE(IsDeltaName("bin.mgdelta/game.dat"));
  EXPECT_EQ(DeltaTargetOf("bin/game.dat.mgdelta"), "bin/game.dat");
  EXPECT_EQ(DeltaTargetOf("a\\b.mgdelta"), "a\\b");
  // Not a plain target name: refused.
  EXPECT_EQ(DeltaTargetOf("bin/.mgdelta"), "");
  EXPECT_EQ(DeltaTargetOf(".mgdelta"), "");
  EXPECT_EQ(DeltaTargetOf("x.mgdelta.mgdelta"), "");
  EXPECT_EQ(DeltaTargetOf("x.~mgpart.mgdelta"), "");
  EXPECT_EQ(DeltaTargetOf("x.dat"), "");
  EXPECT_EQ(DeltaTargetOf("x.mgfull.mgdelta"), "");
  // The full file beside a delta item.
  EXPECT_EQ(DeltaFullNameFor("bin/game.dat"), "bin/game.dat.mgfull");
  EXPECT_TRUE(IsDeltaFullName("bin/game.dat.mgfull"));
  EXPECT_FALSE(IsDeltaFullName("bin.mgfull/game.dat"));
  EXPECT_EQ(DeltaFullTargetOf("bin/game.dat.mgfull"), "bin/game.dat");
  EXPECT_EQ(DeltaFullTargetOf("bin/.mgfull"), "");
  EXPECT_EQ(DeltaFullTargetOf("x.mgdelta.mgfull"), "");
  EXPECT_EQ(DeltaFullTargetOf("x.dat.mgdelta"), "");
}

TEST(DeltaItem, HeaderOfAnotherKindIsRefused) {
  std::vector<uint8_t> rebuilt;
  EXPECT_EQ(Apply(std::vector<uint8_t>(10, 'm'), {}, &rebuilt), kDeltaBadHeader);
  int32_t rc = 0;
  std::vector<uint8_t> item = Encode({1, 2, 3}, {1, 2, 3, 4}, &rc);
  ASSERT_EQ(rc, 0);
  item[8] = 2;  // a later version
  EXPECT_EQ(Apply(item, {1, 2, 3}, &rebuilt), kDeltaBadHeader);
}

}  // namespace
}  // namespace marrowgate
