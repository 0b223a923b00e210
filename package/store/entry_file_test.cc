#include "package/store/entry_file.h"

#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "package/testing/package_testing.h"
#include "util/releaser.h"
#include "util/byte_order.h"

namespace marrowgate {
namespace {

constexpr uint32_t kBlock = 1024;

class EntryFileTest : public ::testing::Test {
 protected:
  // A package-like file with only the header block.
  EntryFileTest() : bytes_(kBlock, 0), store_(&bytes_, kBlock, 1) {}

  Owned<EntryFile> Create(uint32_t* first) {
    Owned<EntryFile> entry(new EntryFile(&store_));
    EXPECT_EQ(0, entry->Open(kOpenCreate, first));
    return entry;
  }
  BlockLink LinkOf(uint32_t block) { return DecodeBlockLink(bytes_.data() + block * kBlock); }
  EntryHeader HeaderOf(uint32_t block) {
    return DecodeEntryHeader(bytes_.data() + block * kBlock + kBlockLinkSize);
  }

  std::vector<uint8_t> bytes_;
  MemoryBlockStore store_;
};

TEST_F(EntryFileTest, ThousandBytesFillTheFirstBlockAndSpill) {
  const std::vector<uint8_t> data = TextBytes(1000);
  uint32_t first = 0;
  {
    Owned<EntryFile> entry = Create(&first);
    EXPECT_EQ(first, 1u);
    ASSERT_EQ(1000, entry->Write(data.data(), 1000));
    EXPECT_EQ(1000, entry->Size());
  }
  ASSERT_EQ(bytes_.size(), 3u * kBlock);
  EXPECT_EQ(LinkOf(1).prev, 0u);
  EXPECT_EQ(LinkOf(1).next, 2u);
  EXPECT_EQ(LinkOf(2).prev, 1u);
  EXPECT_EQ(LinkOf(2).next, 0u);
  const EntryHeader header = HeaderOf(1);
  EXPECT_EQ(header.lastBlock, 2u);
  EXPECT_EQ(header.size, 1000u);
  EXPECT_EQ(0, std::memcmp(bytes_.data() + kBlock + 32, data.data(), 992));
  EXPECT_EQ(0, std::memcmp(bytes_.data() + 2 * kBlock + 8, data.data() + 992, 8));

  Owned<EntryFile> reader(new EntryFile(&store_));
  ASSERT_EQ(0, reader->Open(kOpenRead, &first));
  std::vector<uint8_t> back(1200);
  EXPECT_EQ(1000, reader->Read(back.data(), 1200));
  back.resize(1000);
  EXPECT_EQ(back, data);
  EXPECT_TRUE(reader->AtEnd());
  EXPECT_EQ(0, reader->Read(back.data(), 10));
  EXPECT_EQ(-1, reader->Write("x", 1));
  EXPECT_EQ(kOpenRead, reader->SetTime(5));
}

TEST_F(EntryFileTest, ExactFillNeedsNoSecondBlock) {
  uint32_t first = 0;
  {
    Owned<EntryFile> entry = Create(&first);
    const std::vector<uint8_t> data = TextBytes(992);
    ASSERT_EQ(992, entry->Write(data.data(), 992));
  }
  EXPECT_EQ(bytes_.size(), 2u * kBlock);
  EXPECT_EQ(HeaderOf(1).lastBlock, 1u);
  EXPECT_EQ(LinkOf(1).next, 0u);
  // One more byte takes a block.
  Owned<EntryFile> entry(new EntryFile(&store_));
  ASSERT_EQ(0, entry->Open(kOpenUpdate, &first));
  ASSERT_EQ(0, entry->Seek(0, 2));
  ASSERT_EQ(1, entry->Write("!", 1));
  EXPECT_EQ(bytes_.size(), 3u * kBlock);
  EXPECT_EQ(LinkOf(1).next, 2u);
  EXPECT_EQ(bytes_[2 * kBlock + 8], '!');
}

TEST_F(EntryFileTest, SeeksAcrossBlocksAndGrowsWhenWritable) {
  uint32_t first = 0;
  const std::vector<uint8_t> data = TextBytes(5000);
  Owned<EntryFile> entry = Create(&first);
  ASSERT_EQ(5000, entry->Write(data.data(), 5000));
  for (int64_t at : {4999, 0, 2008, 2007, 992, 991, 3000}) {
    ASSERT_EQ(0, entry->Seek(at, 0));
    uint8_t byte = 0;
    ASSERT_EQ(1, entry->Read(&byte, 1)) << at;
    EXPECT_EQ(byte, data[at]) << at;
  }
  EXPECT_EQ(0, entry->Seek(-10, 2));
  EXPECT_EQ(entry->Tell(), 4990);
  EXPECT_EQ(0, entry->Seek(-100000, 1));
  EXPECT_EQ(entry->Tell(), 0);
  // Past the end in a writable mode: the item grows to the target.
  EXPECT_EQ(0, entry->Seek(7000, 0));
  EXPECT_EQ(entry->Size(), 7000);
  EXPECT_EQ(entry->Tell(), 7000);
  EXPECT_EQ(entry->entry_header().lastBlock, static_cast<uint32_t>(ChainBlocksFor(7000, kBlock)));
  EXPECT_EQ(0, entry->Extend(10));
  EXPECT_EQ(entry->Size(), 7010);
  EXPECT_EQ(entry->Tell(), 7000);
}

TEST_F(EntryFileTest, HugeSeekOffsetsAreRefusedOrClamped) {
  uint32_t first = 0;
  Owned<EntryFile> entry = Create(&first);
  ASSERT_EQ(10, entry->Write("0123456789", 10));
  ASSERT_EQ(0, entry->Seek(5, 0));
  EXPECT_LT(entry->Seek(INT64_MAX, 1), 0);
  EXPECT_LT(entry->Seek(INT64_MAX, 2), 0);
  EXPECT_EQ(entry->Size(), 10);
  EXPECT_EQ(0, entry->Seek(INT64_MIN, 2));
  EXPECT_EQ(entry->Tell(), 0);
}

// In a read-only package an item read ahead costs a read per run of
// neighbouring blocks (and per link where its chain leaves a run), its head
// comes with the open, and what it reads is what a plain read gives.
TEST_F(EntryFileTest, AReadOnlyItemIsReadAheadAndItsHeadComesWithTheOpen) {
  const std::vector<uint8_t> data = TextBytes(6000);
  uint32_t first = 0, other = 0;
  {
    Owned<EntryFile> entry = Create(&first);
    ASSERT_EQ(3000, entry->Write(data.data(), 3000));
  }
  {
    Owned<EntryFile> entry = Create(&other);  // between the item's blocks
    ASSERT_EQ(2000, entry->Write(data.data(), 2000));
  }
  {
    Owned<EntryFile> entry(new EntryFile(&store_));
    ASSERT_EQ(0, entry->Open(kOpenUpdate, &first));
    ASSERT_EQ(0, entry->Seek(3000, 0));
    ASSERT_EQ(3000, entry->Write(data.data() + 3000, 3000));
  }
  store_.readOnly = true;
  int readsAhead = 0, readsPlain = 0;
  for (bool ahead : {true, false}) {
    SCOPED_TRACE(ahead ? "ahead" : "plain");
    Owned<EntryFile> reader(new EntryFile(&store_));
    reader->SetReadAhead(ahead);
    store_.reads = 0;
    ASSERT_EQ(0, reader->Open(kOpenRead, &first));
    EXPECT_EQ(store_.reads, 1);
    uint8_t head[48];
    for (int twice = 0; twice < 2; ++twice) {
      ASSERT_EQ(0, reader->Seek(0, 0));
      ASSERT_EQ(48, reader->Read(head, 48));
      EXPECT_EQ(0, std::memcmp(head, data.data(), 48));
    }
    EXPECT_EQ(store_.reads, 1);
    std::vector<uint8_t> back(6000);
    std::memcpy(back.data(), head, 48);
    for (uint32_t at = 48; at < 6000;) {
      const int32_t got = reader->Read(back.data() + at, 700);
      ASSERT_GT(got, 0);
      at += static_cast<uint32_t>(got);
    }
    EXPECT_EQ(back, data);
    (ahead ? readsAhead : readsPlain) = store_.reads;
  }
  // The open, which takes blocks 1-8 at once, and the link out of block 3
  // (which does not lead to its neighbour); blocks 6-8 are then those kept.
  EXPECT_EQ(readsAhead, 2);
  EXPECT_GT(readsPlain, readsAhead);
}

TEST_F(EntryFileTest, RefusesBrokenChains) {
  uint32_t first = 0;
  {
    Owned<EntryFile> entry = Create(&first);
    const std::vector<uint8_t> data = TextBytes(3000);
    ASSERT_EQ(3000, entry->Write(data.data(), 3000));
  }
  ASSERT_EQ(bytes_.size(), 4u * kBlock);  // blocks 1..3
  auto open = [&](int mode, uint32_t block) {
    EntryFile* entry = new EntryFile(&store_);
    const int code = entry->Open(mode, &block);
    entry->Release();
    return code;
  };
  EXPECT_EQ(-11, open(kOpenRead, 0));
  EXPECT_EQ(-11, open(kOpenRead, 4));
  EXPECT_EQ(-12, open(kOpenRead, 2));  // not a chain start
  EXPECT_EQ(-100, open(9, 1));

  // A cycle: the last block points back to the second.
  std::vector<uint8_t> saved = bytes_;
  EncodeBlockLink(BlockLink{2, 2}, bytes_.data() + 3 * kBlock);
  EncodeBlockLink(BlockLink{3, 0}, bytes_.data() + 2 * kBlock);
  {
    Owned<EntryFile> entry(new EntryFile(&store_));
    ASSERT_EQ(0, entry->Open(kOpenRead, &first));
    std::vector<uint8_t> back(3000);
    EXPECT_LT(entry->Read(back.data(), 3000), 3000);
  }
  // A size larger than the package's blocks can hold.
  bytes_ = saved;
  StoreLe32(50000, bytes_.data() + kBlock + 12);
  EXPECT_EQ(-13, open(kOpenRead, 1));
  // A last block outside the package.
  bytes_ = saved;
  StoreLe32(99, bytes_.data() + kBlock + 8);
  EXPECT_EQ(-13, open(kOpenRead, 1));
  // A next link past the block count.
  bytes_ = saved;
  EncodeBlockLink(BlockLink{1, 77}, bytes_.data() + 2 * kBlock);
  {
    Owned<EntryFile> entry(new EntryFile(&store_));
    ASSERT_EQ(0, entry->Open(kOpenRead, &first));
    std::vector<uint8_t> back(3000);
    EXPECT_EQ(entry->Read(back.data(), 3000), 992 + 1016);
    EXPECT_EQ(-2, entry->Read(back.data(), 10));
  }
}

// Counts the calls that reach the store.
class CountingStore : public MemoryBlockStore {
 public:
  using MemoryBlockStore::MemoryBlockStore;
  bool ReadAt(uint64_t offset, void* buffer, size_t n) override {
    ++reads;
    return MemoryBlockStore::ReadAt(offset, buffer, n);
  }
  bool WriteAt(uint64_t offset, const void* buffer, size_t n) override {
    ++writes;
    return MemoryBlockStore::WriteAt(offset, buffer, n);
  }
  int reads = 0;
  int writes = 0;
};

class EntryFileRunTest : public ::testing::Test {
 protected:
  static constexpr uint32_t kSmallBlock = 64;
  EntryFileRunTest() : bytes_(kSmallBlock, 0), store_(&bytes_, kSmallBlock, 1) {}

  // Two items whose chains interleave: a stretch of `a`, some of `b`, the
  // rest of `a`, the rest of `b`.
  void WriteInterleaved() {
    a_ = TextBytes(9000, 1);
    b_ = TextBytes(5000, 2);
    Owned<EntryFile> a(new EntryFile(&store_));
    Owned<EntryFile> b(new EntryFile(&store_));
    ASSERT_EQ(0, a->Open(kOpenCreate, &firstA_));
    ASSERT_EQ(0, b->Open(kOpenCreate, &firstB_));
    ASSERT_EQ(4000, a->Write(a_.data(), 4000));
    ASSERT_EQ(1000, b->Write(b_.data(), 1000));
    ASSERT_EQ(5000, a->Write(a_.data() + 4000, 5000));
    ASSERT_EQ(4000, b->Write(b_.data() + 1000, 4000));
  }

  std::vector<uint8_t> ReadAll(uint32_t first, size_t size, int32_t step) {
    Owned<EntryFile> entry(new EntryFile(&store_));
    EXPECT_EQ(0, entry->Open(kOpenRead, &first));
    std::vector<uint8_t> out(size + 100);
    size_t done = 0;
    while (done < out.size()) {
      const int32_t got = entry->Read(out.data() + done, step);
      if (got <= 0) break;
      done += static_cast<size_t>(got);
    }
    out.resize(done);
    return out;
  }

  std::vector<uint8_t> bytes_;
  CountingStore store_;
  std::vector<uint8_t> a_, b_;
  uint32_t firstA_ = 0, firstB_ = 0;
};

TEST_F(EntryFileRunTest, InterleavedChainsReadBackWithAnyReadSize) {
  WriteInterleaved();
  for (int32_t step : {1, 7, 56, 57, 1000, 4096, 100000}) {
    SCOPED_TRACE(step);
    EXPECT_EQ(ReadAll(firstA_, a_.size(), step), a_);
    EXPECT_EQ(ReadAll(firstB_, b_.size(), step), b_);
  }
}

TEST_F(EntryFileRunTest, ConsecutiveBlocksAreReadInFewCalls) {
  const std::vector<uint8_t> data = TextBytes(50000, 3);
  uint32_t first = 0;
  {
    Owned<EntryFile> entry(new EntryFile(&store_));
    ASSERT_EQ(0, entry->Open(kOpenCreate, &first));
    ASSERT_EQ(50000, entry->Write(data.data(), 50000));
  }
  store_.reads = 0;
  EXPECT_EQ(ReadAll(first, data.size(), 1 << 20), data);
  // About 900 blocks of 56 payload bytes: a handful of runs, not a call or
  // two per block.
  EXPECT_LT(store_.reads, 20);
}

TEST_F(EntryFileRunTest, WritesOverInterleavedChainsKeepTheLinks) {
  WriteInterleaved();
  std::vector<uint8_t> patch = TextBytes(7000, 9);
  {
    Owned<EntryFile> entry(new EntryFile(&store_));
    ASSERT_EQ(0, entry->Open(kOpenUpdate, &firstA_));
    ASSERT_EQ(0, entry->Seek(1500, 0));
    ASSERT_EQ(7000, entry->Write(patch.data(), 7000));
  }
  std::copy(patch.begin(), patch.end(), a_.begin() + 1500);
  EXPECT_EQ(ReadAll(firstA_, a_.size(), 333), a_);
  EXPECT_EQ(ReadAll(firstB_, b_.size(), 333), b_);
}

TEST_F(EntryFileRunTest, BrokenLinkInsideARunStopsTheRead) {
  const std::vector<uint8_t> data = TextBytes(20000, 4);
  uint32_t first = 0;
  {
    Owned<EntryFile> entry(new EntryFile(&store_));
    ASSERT_EQ(0, entry->Open(kOpenCreate, &first));
    ASSERT_EQ(20000, entry->Write(data.data(), 20000));
  }
  // Block first + 100 no longer points back to its predecessor.
  const uint32_t broken = first + 100;
  BlockLink link = DecodeBlockLink(bytes_.data() + broken * kSmallBlock);
  link.prev = 0;
  EncodeBlockLink(link, bytes_.data() + broken * kSmallBlock);

  Owned<EntryFile> entry(new EntryFile(&store_));
  ASSERT_EQ(0, entry->Open(kOpenRead, &first));
  std::vector<uint8_t> out(20000);
  const int32_t got = entry->Read(out.data(), 20000);
  ASSERT_GT(got, 0);
  ASSERT_LT(got, 20000);
  out.resize(static_cast<size_t>(got));
  EXPECT_TRUE(std::equal(out.begin(), out.end(), data.begin()));
  EXPECT_LT(entry->Read(out.data(), 100), 0);
}

// A 3000-byte item in blocks 1, 2, 3 whose links a test then breaks.
class EntryFileChainTest : public EntryFileTest {
 protected:
  void SetUp() override {
    Owned<EntryFile> entry = Create(&first_);
    ASSERT_EQ(3000, entry->Write(TextBytes(3000).data(), 3000));
  }
  Owned<EntryFile> OpenEntry(int mode) {
    Owned<EntryFile> entry(new EntryFile(&store_));
    uint32_t first = first_;
    EXPECT_EQ(0, entry->Open(mode, &first));
    return entry;
  }
  void SetLink(uint32_t block, BlockLink link) {
    EncodeBlockLink(link, bytes_.data() + block * kBlock);
  }

  uint32_t first_ = 0;
};

TEST_F(EntryFileChainTest, SeekFromTheCurrentBlockNeedsItReachable) {
  Owned<EntryFile> entry = OpenEntry(kOpenRead);
  std::vector<uint8_t> buffer(992);
  ASSERT_EQ(992, entry->Read(buffer.data(), 992));  // position 992 lies in block 2
  SetLink(2, BlockLink{7, 3});
  EXPECT_EQ(-1, entry->Seek(0, 1));
  EXPECT_EQ(-1, entry->Seek(-5, 1));
}

TEST_F(EntryFileChainTest, SeekFromTheEndNeedsTheLastBlockReachable) {
  Owned<EntryFile> entry = OpenEntry(kOpenRead);
  SetLink(3, BlockLink{1, 0});  // the last block does not follow block 2
  EXPECT_EQ(-2, entry->Seek(0, 2));
  EXPECT_EQ(-2, entry->Seek(-10, 2));
}

TEST_F(EntryFileChainTest, SeekFromTheStartNeedsTheFirstBlock) {
  Owned<EntryFile> entry = OpenEntry(kOpenRead);
  ASSERT_EQ(0, entry->Seek(0, 2));  // now at the last block
  SetLink(1, BlockLink{5, 2});      // no longer a chain start
  EXPECT_EQ(-3, entry->Seek(10, 0));
}

TEST_F(EntryFileChainTest, SeekWalksToTheTargetBothWays) {
  {
    // Forward: block 3 does not name block 2 as its predecessor.
    Owned<EntryFile> entry = OpenEntry(kOpenRead);
    SetLink(3, BlockLink{1, 0});
    EXPECT_EQ(0, entry->Seek(1500, 0));  // block 2 is fine
    EXPECT_EQ(-21, entry->Seek(2500, 0));
    EXPECT_EQ(-21, entry->Seek(5000, 0));  // past the end: the last block
  }
  SetLink(3, BlockLink{2, 0});
  {
    // Backward from the last block: block 2 does not lead on to block 3.
    Owned<EntryFile> entry = OpenEntry(kOpenRead);
    ASSERT_EQ(0, entry->Seek(0, 2));
    SetLink(2, BlockLink{1, 9});
    EXPECT_EQ(-21, entry->Seek(-1500, 2));
    EXPECT_EQ(0, entry->Seek(10, 0));  // the first block is reached directly
    EXPECT_EQ(entry->Tell(), 10);
  }
  SetLink(2, BlockLink{1, 3});
  {
    // An intact chain: every position reads its own byte, walking either way.
    const std::vector<uint8_t> data = TextBytes(3000);
    Owned<EntryFile> entry = OpenEntry(kOpenRead);
    for (int64_t at : {2999, 1500, 10, 2500, 991, 992, 0}) {
      ASSERT_EQ(0, entry->Seek(at, 0)) << at;
      uint8_t byte = 0;
      ASSERT_EQ(1, entry->Read(&byte, 1)) << at;
      EXPECT_EQ(byte, data[at]) << at;
    }
  }
}

TEST_F(EntryFileChainTest, GrowingPastTheEndNeedsTheLastBlock) {
  Owned<EntryFile> entry = OpenEntry(kOpenUpdate);
  SetLink(3, BlockLink{1, 0});
  EXPECT_EQ(-21, entry->Seek(4000, 0));
  EXPECT_EQ(entry->Size(), 3000);
}

TEST_F(EntryFileChainTest, CloseNeedsTheFirstBlock) {
  Owned<EntryFile> entry = OpenEntry(kOpenUpdate);
  ASSERT_EQ(0, entry->SetTime(1234));
  SetLink(1, BlockLink{4, 2});
  EXPECT_EQ(-2, entry->Close());
  SetLink(1, BlockLink{0, 2});
  EXPECT_EQ(0, entry->Close());
  EXPECT_EQ(HeaderOf(1).time, 1234u);
}

}  // namespace
}  // namespace marrowgate
