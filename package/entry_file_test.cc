#include "package/entry_file.h"

#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "package/package_test_util.h"
#include "util/releaser.h"

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
  StoreLittle32(bytes_.data() + kBlock + 12, 50000);
  EXPECT_EQ(-13, open(kOpenRead, 1));
  // A last block outside the package.
  bytes_ = saved;
  StoreLittle32(bytes_.data() + kBlock + 8, 99);
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
