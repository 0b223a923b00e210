#include "util/clock.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/env.h"
#include "util/values.h"

namespace marrowgate {
namespace {

// Runs every case in a fixed zone nine hours east of UTC.
class ClockTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(platform::SetTimeZone("KST-9")); }
  void TearDown() override {
    platform::SetTimeZone(nullptr);
    SetLibClockOffset(0);
  }
};

TEST_F(ClockTest, ParsesDateAndTimeInTheLocalZone) {
  // 2017-09-21 12:30:05 KST is 03:30:05 UTC.
  EXPECT_EQ(ParseDateTime("2017-09-21 12:30:05"), 1505964605);
  EXPECT_EQ(ParseDateTime("2017-09-21"), 1505919600);  // local midnight
  EXPECT_EQ(ParseDateTime("2017-09-21 12:30  "), 1505964600);
  // The split is at the first space as written: a leading space leaves the
  // date part empty, and a second space leaves the time part empty.
  EXPECT_EQ(ParseDateTime(" 2017-09-21 12:30"), 0);
  EXPECT_EQ(ParseDateTime(" 12:30"), 0);
  EXPECT_EQ(ParseDateTime("2017-09-21  12:30"), 1505919600);
  EXPECT_EQ(ParseDateTime(""), 0);
  EXPECT_EQ(ParseDateTime("garbage"), 0);
}

TEST_F(ClockTest, TimeOnlyMeansToday) {
  int32_t now = LibClockNow();
  std::string today = FormatDate(now);
  EXPECT_EQ(ParseDateTime("12:30"), ParseDateTime(today + " 12:30:00"));
}

TEST_F(ClockTest, UnrepresentableAndOverlongTexts) {
  EXPECT_EQ(ParseDateTime("99999-01-01"), -1);
  EXPECT_EQ(ParseDateTime("0-5-1"), -1);
  EXPECT_EQ(ParseDateTime("2017-2000000-1"), -1);
  std::string longDate = std::string(kMaxDateTimePartText - 10, '0') + "2017-09-21";
  EXPECT_EQ(ParseDateTime(longDate), 1505919600);
  EXPECT_EQ(ParseDateTime("0" + longDate), 0);
  EXPECT_EQ(ParseDateTime("2017-09-21 " + std::string(kMaxDateTimePartText + 1, '1')), 0);
}

TEST_F(ClockTest, FormatsDates) {
  EXPECT_EQ(FormatDate(0), "1970-01-01");
  EXPECT_EQ(FormatDate(1505964605), "2017-09-21");
  char buffer[kDateTextSize];
  EXPECT_EQ(FormatDate(1505964605, buffer, sizeof buffer), buffer);
  EXPECT_STREQ(buffer, "2017-09-21");
  EXPECT_EQ(FormatDate(0, buffer, 5), nullptr);
  const char* shared = FormatDate(0, nullptr, 0);
  ASSERT_NE(shared, nullptr);
  EXPECT_STREQ(shared, "1970-01-01");
}

TEST_F(ClockTest, OffsetMovesTheLibraryClock) {
  EXPECT_EQ(LibClockOffset(), 0);
  int32_t before = LibClockNow();
  SetLibClockOffset(-86400);
  EXPECT_EQ(LibClockOffset(), -86400);
  int32_t shifted = LibClockNow();
  EXPECT_GE(before - shifted, 86400 - 2);
  EXPECT_LE(before - shifted, 86400 + 2);
}

}  // namespace
}  // namespace marrowgate
