#include "app/client_version.h"

#include <gtest/gtest.h>

namespace marrowgate {
namespace {

constexpr uint32_t kTop = 4294967295u;

TEST(ClientVersionTest, ScansUpToFourParts) {
  EXPECT_EQ(ScanClientVersion("1.2.3.4"), (ClientVersion{1, 2, 3, 4}));
  EXPECT_EQ(ScanClientVersion("1.2"), (ClientVersion{1, 2, 0, 0}));
  EXPECT_EQ(ScanClientVersion("7"), (ClientVersion{7, 0, 0, 0}));
  EXPECT_EQ(ScanClientVersion("1.2.3.4.5"), (ClientVersion{1, 2, 3, 4}));
  EXPECT_EQ(ScanClientVersion("010.002"), (ClientVersion{10, 2, 0, 0}));
  EXPECT_EQ(ScanClientVersion("4294967295.0.0.1"), (ClientVersion{kTop, 0, 0, 1}));
}

TEST(ClientVersionTest, TrailingTextAndGarbage) {
  EXPECT_EQ(ScanClientVersion("1.2.3.4\r\n"), (ClientVersion{1, 2, 3, 4}));
  EXPECT_EQ(ScanClientVersion("1.2\r\n"), (ClientVersion{1, 2, 0, 0}));
  EXPECT_EQ(ScanClientVersion("1.2beta.7"), (ClientVersion{1, 2, 0, 0}));
  EXPECT_EQ(ScanClientVersion(" 1. 2.3"), (ClientVersion{1, 2, 3, 0}));
  EXPECT_EQ(ScanClientVersion("1 .2"), (ClientVersion{1, 0, 0, 0}));  // '.' must follow at once
  EXPECT_EQ(ScanClientVersion("1..2"), (ClientVersion{1, 0, 0, 0}));
  EXPECT_EQ(ScanClientVersion("+3.+4"), (ClientVersion{3, 4, 0, 0}));
  for (const char* none : {"", "version", "v1.2", ".1.2", "-1.2", "\r\n"})
    EXPECT_EQ(ScanClientVersion(none), (ClientVersion{0, 0, 0, 0})) << none;
  EXPECT_EQ(ScanClientVersion(static_cast<const char*>(nullptr)), (ClientVersion{0, 0, 0, 0}));
  EXPECT_EQ(ScanClientVersion("1.-2.3"), (ClientVersion{1, 0, 0, 0}));  // no signed parts
}

TEST(ClientVersionTest, OverlongNumbersSaturate) {
  EXPECT_EQ(ScanClientVersion("4294967296"), (ClientVersion{kTop, 0, 0, 0}));
  EXPECT_EQ(ScanClientVersion("99999999999999999999999.3"), (ClientVersion{kTop, 3, 0, 0}));
  EXPECT_EQ(ScanClientVersion("1.42949672950"), (ClientVersion{1, kTop, 0, 0}));
  // A longer number never compares lower than a shorter one.
  EXPECT_FALSE(IsVersionLower("99999999999", "4294967295"));
  EXPECT_TRUE(IsVersionLower("4294967294", "99999999999"));
}

TEST(ClientVersionTest, ComparesPartsAsUnsignedNumbers) {
  EXPECT_FALSE(IsVersionLower("1.2.0.0", "1.2"));
  EXPECT_FALSE(IsVersionLower("1.2", "1.2.0.0"));
  EXPECT_TRUE(IsVersionLower("1.9.9.9", "1.10.0.0"));
  EXPECT_FALSE(IsVersionLower("1.10.0.0", "1.9.9.9"));
  EXPECT_TRUE(IsVersionLower("1.2.3.4", "1.2.3.5"));
  EXPECT_FALSE(IsVersionLower("1.2.3.5", "1.2.3.4"));
  EXPECT_TRUE(IsVersionLower("2.0", "3000000000"));  // above the signed range
  EXPECT_FALSE(IsVersionLower("3000000000", "2.0"));
}

TEST(ClientVersionTest, EmptyRequirementNeverStops) {
  for (const char* installed : {"", "0.0.0.0", "1.2.3.4", "garbage"}) {
    EXPECT_FALSE(IsVersionLower(installed, "")) << installed;
    EXPECT_FALSE(IsVersionLower(installed, nullptr)) << installed;
  }
}

TEST(ClientVersionTest, InstalledTextWithALineEnd) {
  EXPECT_FALSE(IsVersionLower("1.2.3.4\r\n", "1.2.3.4"));
  EXPECT_TRUE(IsVersionLower("1.2.3.4\r\n", "1.2.3.5"));
  EXPECT_FALSE(IsVersionLower("1.10\n", "1.9.9.9"));
}

TEST(ClientVersionTest, GarbageIsZero) {
  EXPECT_TRUE(IsVersionLower("garbage", "0.0.0.1"));
  EXPECT_FALSE(IsVersionLower("garbage", "0.0.0.0"));
  EXPECT_FALSE(IsVersionLower("0.0.0.1", "garbage"));
}

TEST(ClientVersionTest, VersionTextIsOneToFourNumbersAndNothingElse) {
  for (const char* good : {"0", "1.2", "1.10.0.3", "4294967295.0.0.4294967295", "007.1"}) {
    EXPECT_TRUE(IsClientVersionText(good)) << good;
  }
  for (const char* bad : {"", "v1.1", "1.2beta", "1..2", ".1", "1.", " 1.2", "1.2 ", "1.2\r\n",
                          "1.2.3.4.5", "+1.2", "1.-2", "4294967296", "1.99999999999"}) {
    EXPECT_FALSE(IsClientVersionText(bad)) << bad;
  }
}

}  // namespace
}  // namespace marrowgate
