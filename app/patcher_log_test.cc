#include "app/patcher_log.h"

#include <gtest/gtest.h>

#include "package/testing/temp_folder_testing.h"

namespace marrowgate {
namespace {

// Runs each test in a scratch folder (the log is relative to the current
// folder) with a fixed time zone.
class PatcherLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = platform::CurrentFolder();
    ASSERT_TRUE(platform::SetCurrentFolder(folder_.path().c_str()));
    ASSERT_TRUE(platform::SetTimeZone("UTC0"));
  }
  void TearDown() override {
    platform::SetCurrentFolder(previous_.c_str());
    platform::SetTimeZone(nullptr);
  }
  static int64_t At(int year, int month, int day, int hour, int minute, int second) {
    platform::CalendarTime fields;
    fields.year = year;
    fields.month = month;
    fields.day = day;
    fields.hour = hour;
    fields.minute = minute;
    fields.second = second;
    return platform::FromLocalCalendar(fields);
  }
  std::string Read(const std::string& name) { return TestFolder::ReadFile(folder_.Child(name)); }

  TestFolder folder_;
  std::string previous_;
};

TEST_F(PatcherLogTest, NameAndEntryForm) {
  platform::CalendarTime when;
  when.year = 2017;
  when.month = 3;
  when.day = 9;
  when.hour = 7;
  when.minute = 5;
  when.second = 1;
  EXPECT_EQ(PatcherLogName(when), "log/patcher-log20170309[7].log");
  EXPECT_EQ(PatcherLogEntry(when, "Update failed (-3)"), "07:05:01\tUpdate failed (-3)\r\n\n");
  when.hour = 23;
  EXPECT_EQ(PatcherLogName(when), "log/patcher-log20170309[23].log");
}

TEST_F(PatcherLogTest, WithoutLogFolderNothingIsWritten) {
  EXPECT_FALSE(WriteLog("lost", At(2020, 1, 1, 12, 0, 0)));
  EXPECT_FALSE(platform::PathAccessible("log"));
}

TEST_F(PatcherLogTest, SameHourAppendsToOneFile) {
  ASSERT_TRUE(platform::MakeFolder("log"));
  EXPECT_TRUE(WriteLog("first", At(2020, 2, 29, 14, 0, 5)));
  EXPECT_TRUE(WriteLog("second", At(2020, 2, 29, 14, 59, 59)));
  EXPECT_EQ(Read("log/patcher-log20200229[14].log"),
            "14:00:05\tfirst\r\n\n14:59:59\tsecond\r\n\n");
  EXPECT_TRUE(WriteLog("third", At(2020, 2, 29, 15, 0, 0)));
  EXPECT_EQ(Read("log/patcher-log20200229[15].log"), "15:00:00\tthird\r\n\n");
}

TEST_F(PatcherLogTest, MidnightStartsAnotherDay) {
  ASSERT_TRUE(platform::MakeFolder("log"));
  EXPECT_TRUE(WriteLog("late", At(2019, 12, 31, 23, 59, 0)));
  EXPECT_TRUE(WriteLog("early", At(2020, 1, 1, 0, 0, 0)));
  EXPECT_EQ(Read("log/patcher-log20191231[23].log"), "23:59:00\tlate\r\n\n");
  EXPECT_EQ(Read("log/patcher-log20200101[0].log"), "00:00:00\tearly\r\n\n");
}

TEST_F(PatcherLogTest, TextIsWrittenAsGiven) {
  ASSERT_TRUE(platform::MakeFolder("log"));
  EXPECT_TRUE(WriteLog("two\r\nlines", At(2021, 6, 1, 9, 30, 0)));
  EXPECT_EQ(Read("log/patcher-log20210601[9].log"), "09:30:00\ttwo\r\nlines\r\n\n");
}

TEST_F(PatcherLogTest, LocalTimeDecidesTheName) {
  ASSERT_TRUE(platform::MakeFolder("log"));
  int64_t utcEvening = At(2022, 5, 10, 20, 0, 0);
  ASSERT_TRUE(platform::SetTimeZone("KST-9"));  // 05:00 the next day there
  EXPECT_TRUE(WriteLog("east", utcEvening));
  EXPECT_EQ(Read("log/patcher-log20220511[5].log"), "05:00:00\teast\r\n\n");
}

}  // namespace
}  // namespace marrowgate
