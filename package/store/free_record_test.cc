#include "package/store/free_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace marrowgate {
namespace {

constexpr uint32_t kBlock = 128;

// A package image of `count` blocks whose header names a run starting at
// block `head`.
struct Image {
  std::vector<uint8_t> bytes;
  PackageHeader header;

  explicit Image(uint32_t count) : bytes(size_t{count} * kBlock, 0) {
    header.blockSize = kBlock;
    header.blockCount = count;
    header.dirBlock = 1;
    header.namesBlock = 2;
  }
  void Put(uint32_t block, uint32_t next, FreeRecord record) {
    record.self = block;
    record.dirBlock = header.dirBlock;
    record.namesBlock = header.namesBlock;
    record.blockCount = header.blockCount;
    uint8_t* at = bytes.data() + size_t{block} * kBlock;
    EncodeBlockLink(BlockLink{0, next}, at);
    ASSERT_TRUE(EncodeFreeRecord(record, at + kBlockLinkSize, BlockPayload(kBlock)));
  }
  bool Read(std::vector<uint32_t>* run, std::vector<uint32_t>* listed) {
    PackageReader reader = [this](uint64_t offset, void* out, size_t n) {
      if (offset + n > bytes.size()) return false;
      std::memcpy(out, bytes.data() + offset, n);
      return true;
    };
    return ReadFreeRecordRun(reader, header, run, listed);
  }
};

FreeRecord Record(uint32_t index, uint32_t length, std::vector<uint32_t> blocks) {
  FreeRecord record;
  record.runIndex = index;
  record.runLength = length;
  record.blocks = std::move(blocks);
  return record;
}

TEST(FreeRecordTest, EncodesAndDecodesWithinOneBlock) {
  EXPECT_EQ(FreeRecordCapacity(1024), (1016u - 36u) / 4u);
  FreeRecord record = Record(1, 2, {7, 9, 11});
  record.self = 5;
  std::vector<uint8_t> payload(BlockPayload(kBlock));
  ASSERT_TRUE(EncodeFreeRecord(record, payload.data(), payload.size()));
  EXPECT_EQ(std::memcmp(payload.data(), "mgfreer1", 8), 0);
  FreeRecord back;
  ASSERT_TRUE(DecodeFreeRecord(payload.data(), payload.size(), &back));
  EXPECT_EQ(back.self, 5u);
  EXPECT_EQ(back.runIndex, 1u);
  EXPECT_EQ(back.runLength, 2u);
  EXPECT_EQ(back.blocks, (std::vector<uint32_t>{7, 9, 11}));
  record.blocks.assign(FreeRecordCapacity(kBlock) + 1, 3);
  EXPECT_FALSE(EncodeFreeRecord(record, payload.data(), payload.size()));
  payload[0] = 'x';
  EXPECT_FALSE(DecodeFreeRecord(payload.data(), payload.size(), &back));
}

TEST(FreeRecordTest, AValidRunListsItsBlocks) {
  Image image(12);
  image.header.freeHead = 4;
  image.Put(4, 6, Record(0, 2, {5, 8}));
  image.Put(6, 9, Record(1, 2, {10}));  // the last record's next is not followed
  std::vector<uint32_t> run, listed;
  ASSERT_TRUE(image.Read(&run, &listed));
  EXPECT_EQ(run, (std::vector<uint32_t>{4, 6}));
  EXPECT_EQ(listed, (std::vector<uint32_t>{5, 8, 10}));
}

TEST(FreeRecordTest, ARunOfAnotherHeaderOrWithFaultsIsNotTaken) {
  std::vector<uint32_t> run, listed;
  {
    Image image(12);
    image.header.freeHead = 4;
    image.Put(4, 0, Record(0, 1, {5}));
    image.header.dirBlock = 3;  // the tree moved since: a stale record
    EXPECT_FALSE(image.Read(&run, &listed));
  }
  {
    Image image(12);
    image.header.freeHead = 4;
    image.Put(4, 6, Record(0, 2, {5}));  // the second record is missing
    EXPECT_FALSE(image.Read(&run, &listed));
  }
  {
    Image image(12);
    image.header.freeHead = 4;
    image.Put(4, 0, Record(0, 1, {5, 5}));  // a block listed twice
    EXPECT_FALSE(image.Read(&run, &listed));
  }
  {
    Image image(12);
    image.header.freeHead = 4;
    image.Put(4, 0, Record(0, 1, {4}));  // the record's own block
    EXPECT_FALSE(image.Read(&run, &listed));
  }
  {
    Image image(12);
    image.header.freeHead = 4;
    image.Put(4, 0, Record(0, 1, {12}));  // outside the package
    EXPECT_FALSE(image.Read(&run, &listed));
  }
}

}  // namespace
}  // namespace marrowgate
