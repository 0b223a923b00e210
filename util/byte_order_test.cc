#include "util/byte_order.h"

#include <gtest/gtest.h>

#include <cstring>

namespace marrowgate {
namespace {

TEST(ByteOrderTest, BigEndianPutsTheMostSignificantByteFirst) {
  const uint8_t bytes[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  EXPECT_EQ(LoadBe32(bytes), 0x01234567u);
  EXPECT_EQ(LoadBe32(bytes + 4), 0x89ABCDEFu);
  EXPECT_EQ(LoadBe64(bytes), 0x0123456789ABCDEFull);
  uint8_t out[8] = {};
  StoreBe64(0x0123456789ABCDEFull, out);
  EXPECT_EQ(0, std::memcmp(out, bytes, 8));
  StoreBe32(0xFEDCBA98u, out);
  EXPECT_EQ(out[0], 0xFE);
  EXPECT_EQ(out[3], 0x98);
  EXPECT_EQ(out[4], 0x89);  // the bytes after are left alone
}

TEST(ByteOrderTest, LittleEndianPutsTheLeastSignificantByteFirst) {
  const uint8_t bytes[4] = {0x78, 0x56, 0x34, 0x12};
  EXPECT_EQ(LoadLe32(bytes), 0x12345678u);
  uint8_t out[4] = {};
  StoreLe32(0x80FF0001u, out);
  EXPECT_EQ(out[0], 0x01);
  EXPECT_EQ(out[1], 0x00);
  EXPECT_EQ(out[2], 0xFF);
  EXPECT_EQ(out[3], 0x80);
  EXPECT_EQ(LoadLe32(out), 0x80FF0001u);
}

}  // namespace
}  // namespace marrowgate
