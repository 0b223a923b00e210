#include "package/file/disk_file.h"

#include <gtest/gtest.h>

#include <string>

#include "package/testing/temp_folder_testing.h"
#include "platform/env.h"
#include "util/releaser.h"
#include "platform/file_tree.h"

namespace marrowgate {
namespace {

TEST(DiskFileTest, OpenFindsSizeAndWritesRaiseIt) {
  TestFolder folder;
  std::string path = folder.WriteFile("a.bin", "0123456789");
  Owned<DiskFile> file(DiskFile::Open(path.c_str(), "rb+"));
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->Size(), 10);
  EXPECT_EQ(file->Tell(), 0);
  ASSERT_EQ(file->Seek(8, 0), 0);
  EXPECT_EQ(file->Write("abcd", 4), 4);
  EXPECT_EQ(file->Size(), 12);
  ASSERT_EQ(file->Seek(0, 0), 0);
  EXPECT_EQ(file->Write("X", 1), 1);
  EXPECT_EQ(file->Size(), 12);  // overwriting does not grow it
  file.reset();
  EXPECT_EQ(TestFolder::ReadFile(path), "X1234567abcd");
}

TEST(DiskFileTest, ReadAfterWriteAndWriteAfterReadSwitchDirection) {
  TestFolder folder;
  std::string path = folder.WriteFile("b.bin", "abcdefgh");
  Owned<DiskFile> file(DiskFile::Open(path.c_str(), "rb+"));
  ASSERT_NE(file, nullptr);
  char buffer[8] = {};
  EXPECT_EQ(file->Read(buffer, 2), 2);
  EXPECT_EQ(file->Write("XY", 2), 2);  // lands at offset 2
  EXPECT_EQ(file->Read(buffer, 2), 2);
  EXPECT_EQ(std::string(buffer, 2), "ef");
  EXPECT_EQ(file->Tell(), 6);
  file.reset();
  EXPECT_EQ(TestFolder::ReadFile(path), "abXYefgh");
}

TEST(DiskFileTest, CreateModeReadsBackWhatItWrote) {
  TestFolder folder;
  std::string path = folder.Child("c.bin");
  Owned<DiskFile> file(DiskFile::Open(path.c_str(), "wb+"));
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->Size(), 0);
  EXPECT_EQ(file->Write("hello", 5), 5);
  char buffer[8] = {};
  EXPECT_EQ(file->Read(buffer, 5), 0);  // at the end after the write
  EXPECT_TRUE(file->AtEnd());
  ASSERT_EQ(file->Seek(-5, 2), 0);
  EXPECT_EQ(file->Read(buffer, 8), 5);
  EXPECT_EQ(std::string(buffer, 5), "hello");
  EXPECT_EQ(file->Seek(0, 7), -1);
}

TEST(DiskFileTest, TimeIsAppliedAtCloseNotBefore) {
  TestFolder folder;
  std::string path = folder.WriteFile("d.bin", "x");
  const int32_t kTime = 1000000000;  // 2001-09-09
  {
    Owned<DiskFile> file(DiskFile::Open(path.c_str(), "rb+"));
    ASSERT_NE(file, nullptr);
    EXPECT_GT(file->GetTime(), kTime);
    EXPECT_EQ(file->SetTime(kTime), 0);
    EXPECT_EQ(file->Write("y", 1), 1);
    file->Flush();
    platform::NodeStatus status;
    ASSERT_TRUE(platform::StatusOf(path.c_str(), &status, nullptr));
    EXPECT_NE(status.modificationTime, kTime);
  }
  platform::NodeStatus status;
  ASSERT_TRUE(platform::StatusOf(path.c_str(), &status, nullptr));
  EXPECT_EQ(status.modificationTime, kTime);
  Owned<DiskFile> again(DiskFile::Open(path.c_str(), "rb"));
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->GetTime(), kTime);
}

// Times travel as unsigned 32-bit seconds in the int32_t of the interface:
// after 2038 they are not read back as 1901-1970.
TEST(DiskFileTest, TimesAfter2038RoundTripAndEarlierThan1970ReadAsZero) {
  TestFolder folder;
  std::string path = folder.WriteFile("f.bin", "x");
  const uint32_t k2100 = 4102444800u;  // 2100-01-01
  {
    Owned<DiskFile> file(DiskFile::Open(path.c_str(), "rb"));
    ASSERT_NE(file, nullptr);
    file->SetTime(static_cast<int32_t>(k2100));
  }
  platform::NodeStatus status;
  ASSERT_TRUE(platform::StatusOf(path.c_str(), &status, nullptr));
  EXPECT_EQ(status.modificationTime, static_cast<int64_t>(k2100));
  Owned<DiskFile> again(DiskFile::Open(path.c_str(), "rb"));
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(static_cast<uint32_t>(again->GetTime()), k2100);
  again.reset();

  ASSERT_TRUE(platform::SetFileTimes(path.c_str(), -5000, -5000));
  Owned<DiskFile> early(DiskFile::Open(path.c_str(), "rb"));
  ASSERT_NE(early, nullptr);
  EXPECT_EQ(early->GetTime(), 0);
}

TEST(DiskFileTest, PathsLongerThan259CharactersOpen) {
  TestFolder folder;
  std::string deep = folder.path();
  while (deep.size() < 300) {
    deep += "/" + std::string(50, 'd');
    ASSERT_TRUE(platform::MakeFolder(deep.c_str()));
  }
  std::string path = deep + "/long.bin";
  Owned<DiskFile> file(DiskFile::Open(path.c_str(), "wb+"));
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->Write("long", 4), 4);
  file.reset();
  EXPECT_EQ(TestFolder::ReadFile(path), "long");
}

TEST(DiskFileTest, ZeroTimeMeansNow) {
  TestFolder folder;
  std::string path = folder.WriteFile("e.bin", "x");
  platform::SetFileTimes(path.c_str(), 1000, 1000);
  int64_t before = platform::TimeNow();
  {
    Owned<DiskFile> file(DiskFile::Open(path.c_str(), "rb"));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->GetTime(), 1000);
    file->SetTime(0);
  }
  platform::NodeStatus status;
  ASSERT_TRUE(platform::StatusOf(path.c_str(), &status, nullptr));
  EXPECT_GE(status.modificationTime, before);
}

TEST(DiskFileTest, MissingFileAndOverlongPathGiveNull) {
  TestFolder folder;
  EXPECT_EQ(DiskFile::Open(folder.Child("none").c_str(), "rb"), nullptr);
  std::string longPath = folder.path() + "/" + std::string(300, 'a');
  EXPECT_EQ(DiskFile::Open(longPath.c_str(), "wb+"), nullptr);
}

}  // namespace
}  // namespace marrowgate
