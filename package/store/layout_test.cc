#include "package/store/layout.h"
#include "util/byte_order.h"

#include <cstring>
#include <vector>

#include <gtest/gtest.h>

namespace marrowgate {
namespace {

// MD5("") from RFC 1321.
const uint8_t kEmptyDigest[16] = {0xd4, 0x1d, 0x8c, 0xd9, 0x8f, 0x00, 0xb2, 0x04,
                                  0xe9, 0x80, 0x09, 0x98, 0xec, 0xf8, 0x42, 0x7e};

TEST(LittleEndianTest, StoresLowByteFirst) {
  uint8_t bytes[4];
  StoreLe32(0x11223344u, bytes);
  EXPECT_EQ(bytes[0], 0x44);
  EXPECT_EQ(bytes[1], 0x33);
  EXPECT_EQ(bytes[2], 0x22);
  EXPECT_EQ(bytes[3], 0x11);
  EXPECT_EQ(LoadLe32(bytes), 0x11223344u);
  const uint8_t high[4] = {0xff, 0xff, 0xff, 0xfe};
  EXPECT_EQ(LoadLe32(high), 0xfeffffffu);
}

TEST(PackageHeaderTest, EncodesEveryFieldAtItsOffset) {
  PackageHeader header = NewPackageHeader(1024, kEmptyDigest);
  header.freeHead = 7;
  header.blockCount = 21;
  header.dirBlock = 1;
  header.namesBlock = 2;
  uint8_t bytes[kPackageHeaderSize];
  std::memset(bytes, 0xAA, sizeof(bytes));
  EncodePackageHeader(header, bytes);

  uint8_t expected[kPackageHeaderSize] = {};
  std::memcpy(expected, "zkpackage1.0", 12);
  expected[16] = 2;
  expected[20] = 0x00;
  expected[21] = 0x04;  // 1024
  expected[24] = 7;
  expected[28] = 21;
  std::memcpy(expected + 32, kEmptyDigest, 16);
  expected[132] = 1;
  expected[136] = 2;
  EXPECT_EQ(0, std::memcmp(bytes, expected, sizeof(bytes)));

  PackageHeader decoded;
  ASSERT_TRUE(DecodePackageHeader(bytes, &decoded));
  EXPECT_EQ(decoded.version, 2u);
  EXPECT_EQ(decoded.blockSize, 1024u);
  EXPECT_EQ(decoded.freeHead, 7u);
  EXPECT_EQ(decoded.blockCount, 21u);
  EXPECT_EQ(decoded.dirBlock, 1u);
  EXPECT_EQ(decoded.namesBlock, 2u);
  EXPECT_EQ(0, std::memcmp(decoded.keyDigest, kEmptyDigest, 16));
}

TEST(PackageHeaderTest, ValidityNeedsMagicAndVersionTwo) {
  uint8_t bytes[kPackageHeaderSize];
  EncodePackageHeader(NewPackageHeader(1024, kEmptyDigest), bytes);
  PackageHeader header;
  EXPECT_TRUE(DecodePackageHeader(bytes, &header));

  uint8_t wrongVersion[kPackageHeaderSize];
  std::memcpy(wrongVersion, bytes, sizeof(bytes));
  wrongVersion[16] = 3;
  EXPECT_FALSE(DecodePackageHeader(wrongVersion, &header));

  // Bytes after the terminator do not matter; a missing terminator does.
  uint8_t trailing[kPackageHeaderSize];
  std::memcpy(trailing, bytes, sizeof(bytes));
  trailing[14] = 'x';
  EXPECT_TRUE(DecodePackageHeader(trailing, &header));
  uint8_t longer[kPackageHeaderSize];
  std::memcpy(longer, bytes, sizeof(bytes));
  longer[12] = '!';
  EXPECT_FALSE(DecodePackageHeader(longer, &header));
  uint8_t shorter[kPackageHeaderSize];
  std::memcpy(shorter, bytes, sizeof(bytes));
  shorter[11] = 0;
  EXPECT_FALSE(DecodePackageHeader(shorter, &header));
}

TEST(ChainRecordTest, LinkAndEntryHeaderBytes) {
  uint8_t link[kBlockLinkSize];
  EncodeBlockLink(BlockLink{0x01020304u, 5}, link);
  const uint8_t expectedLink[] = {4, 3, 2, 1, 5, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(link, expectedLink, sizeof(link)));
  BlockLink decoded = DecodeBlockLink(link);
  EXPECT_EQ(decoded.prev, 0x01020304u);
  EXPECT_EQ(decoded.next, 5u);

  uint8_t entry[kEntryHeaderSize];
  std::memset(entry, 0xAA, sizeof(entry));
  EncodeEntryHeader(EntryHeader{9, 1000, 0x5f000000u}, entry);
  uint8_t expectedEntry[kEntryHeaderSize] = {9, 0, 0, 0, 0xe8, 0x03, 0, 0, 0, 0, 0, 0x5f};
  EXPECT_EQ(0, std::memcmp(entry, expectedEntry, sizeof(entry)));
  EntryHeader back = DecodeEntryHeader(entry);
  EXPECT_EQ(back.lastBlock, 9u);
  EXPECT_EQ(back.size, 1000u);
  EXPECT_EQ(back.time, 0x5f000000u);
}

TEST(SealHeaderTest, BytesAndValidity) {
  SealHeader header;
  header.flags = kSealCompressed | kSealEnciphered;
  std::memcpy(header.digest, kEmptyDigest, 16);
  header.plainSize = 0x100;
  header.storedSize = 0x80;
  header.time = 0x12345678u;
  uint8_t bytes[kSealHeaderSize];
  std::memset(bytes, 0xAA, sizeof(bytes));
  EncodeSealHeader(header, bytes);

  uint8_t expected[kSealHeaderSize] = {};
  std::memcpy(expected, "zksc1.0", 7);
  expected[15] = 3;
  std::memcpy(expected + 16, kEmptyDigest, 16);
  expected[37] = 1;
  expected[40] = 0x80;
  expected[44] = 0x78;
  expected[45] = 0x56;
  expected[46] = 0x34;
  expected[47] = 0x12;
  EXPECT_EQ(0, std::memcmp(bytes, expected, sizeof(bytes)));

  SealHeader decoded;
  ASSERT_TRUE(DecodeSealHeader(bytes, &decoded));
  EXPECT_EQ(decoded.flags, 3);
  EXPECT_EQ(decoded.plainSize, 0x100u);
  EXPECT_EQ(decoded.storedSize, 0x80u);
  EXPECT_EQ(decoded.time, 0x12345678u);

  uint8_t reserved[kSealHeaderSize];
  std::memcpy(reserved, bytes, sizeof(bytes));
  reserved[34] = 1;  // the magic still matches
  EXPECT_FALSE(DecodeSealHeader(reserved, &decoded));

  uint8_t badMagic[kSealHeaderSize];
  std::memcpy(badMagic, bytes, sizeof(bytes));
  badMagic[0] = 'Z';
  EXPECT_FALSE(DecodeSealHeader(badMagic, &decoded));
}

TEST(TailRecordTest, BytesAndRecognition) {
  uint8_t bytes[kTailRecordSize];
  std::memset(bytes, 0xAA, sizeof(bytes));
  EncodeTailRecord(TailRecord{0x1000, 21 * 1024, 77}, bytes);
  uint8_t expected[kTailRecordSize] = {};
  std::memcpy(expected, "zktailfile", 10);
  expected[21] = 0x10;
  expected[25] = 0x54;  // 21504
  expected[28] = 77;
  EXPECT_EQ(0, std::memcmp(bytes, expected, sizeof(bytes)));

  TailRecord record;
  ASSERT_TRUE(DecodeTailRecord(bytes, &record));
  EXPECT_EQ(record.baseOffset, 0x1000u);
  EXPECT_EQ(record.dataSize, 21u * 1024u);
  EXPECT_EQ(record.time, 77u);

  uint8_t reserved[kTailRecordSize];
  std::memcpy(reserved, bytes, sizeof(bytes));
  reserved[19] = 1;
  EXPECT_FALSE(DecodeTailRecord(reserved, &record));
  uint8_t unterminated[kTailRecordSize];
  std::memcpy(unterminated, bytes, sizeof(bytes));
  unterminated[10] = 'x';
  EXPECT_FALSE(DecodeTailRecord(unterminated, &record));
}

struct PositionCase {
  uint64_t position;
  uint64_t size;
  uint32_t index;
  uint32_t offset;
};

TEST(MapItemPositionTest, TableFor1024ByteBlocks) {
  const PositionCase cases[] = {
      // Empty item: everything sits in the first block after the header.
      {0, 0, 0, 24},
      {0, 5000, 0, 24},
      {991, 1000, 0, 1015},
      // 992 is the first byte of block 1, unless it is the end of the item.
      {992, 1000, 1, 0},
      {992, 992, 0, 1016},
      {992, 500, 0, 1016},
      {993, 1000, 1, 1},
      {993, 993, 1, 1},
      {2007, 3000, 1, 1015},
      {2007, 2007, 1, 1015},
      {2008, 3000, 2, 0},
      {2008, 2008, 1, 1016},
      {2008, 2009, 2, 0},
      {2009, 3000, 2, 1},
  };
  for (const PositionCase& c : cases) {
    ChainPosition where = MapItemPosition(c.position, c.size, 1024);
    EXPECT_EQ(where.index, c.index) << "position " << c.position << " size " << c.size;
    EXPECT_EQ(where.offset, c.offset) << "position " << c.position << " size " << c.size;
  }
}

TEST(MapItemPositionTest, ChainLengths) {
  EXPECT_EQ(ChainBlocksFor(0, 1024), 1u);
  EXPECT_EQ(ChainBlocksFor(992, 1024), 1u);
  EXPECT_EQ(ChainBlocksFor(993, 1024), 2u);
  EXPECT_EQ(ChainBlocksFor(1000, 1024), 2u);
  EXPECT_EQ(ChainBlocksFor(2008, 1024), 2u);
  EXPECT_EQ(ChainBlocksFor(2009, 1024), 3u);
  // Another block size follows the same rule: 512-byte blocks carry 480
  // bytes in the first block and 504 after.
  EXPECT_EQ(ChainBlocksFor(480, 512), 1u);
  EXPECT_EQ(ChainBlocksFor(481, 512), 2u);
  ChainPosition where = MapItemPosition(480, 481, 512);
  EXPECT_EQ(where.index, 1u);
  EXPECT_EQ(where.offset, 0u);
}

}  // namespace
}  // namespace marrowgate
