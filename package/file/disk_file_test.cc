#include "package/file/disk_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
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

// Reads, writes, seeks and Tell in a random mix, against a model of the
// content and position: a position kept without asking the stream must
// always be the stream's.
TEST(DiskFileTest, PositionsAgreeWithAModelOverAnyMixOfOperations) {
  TestFolder folder;
  std::string model = "0123456789abcdefghij";
  std::string path = folder.WriteFile("m.bin", model);
  Owned<DiskFile> file(DiskFile::Open(path.c_str(), "rb+"));
  ASSERT_NE(file, nullptr);
  int64_t at = 0;
  uint32_t x = 7;
  auto next = [&](uint32_t n) {
    x = x * 1103515245u + 12345u;
    return (x >> 16) % n;
  };
  for (int step = 0; step < 3000; ++step) {
    SCOPED_TRACE("step " + std::to_string(step));
    switch (next(7)) {
      case 0: {  // read
        char buffer[16];
        const int32_t n = static_cast<int32_t>(next(16));
        const int32_t got = file->Read(buffer, n);
        const int64_t left = std::max<int64_t>(0, static_cast<int64_t>(model.size()) - at);
        ASSERT_EQ(got, std::min<int64_t>(n, left));
        ASSERT_EQ(std::string(buffer, static_cast<size_t>(got)),
                  model.substr(static_cast<size_t>(std::min<int64_t>(at, model.size())),
                               static_cast<size_t>(got)));
        at += got;
        break;
      }
      case 1: {  // write
        std::string bytes(next(8) + 1, static_cast<char>('A' + next(26)));
        ASSERT_EQ(file->Write(bytes.data(), static_cast<int32_t>(bytes.size())),
                  static_cast<int32_t>(bytes.size()));
        if (static_cast<size_t>(at) > model.size()) model.resize(static_cast<size_t>(at), '\0');
        const size_t offset = static_cast<size_t>(at);
        model.replace(offset, std::min(bytes.size(), model.size() - offset), bytes);
        at += static_cast<int64_t>(bytes.size());
        break;
      }
      case 2:  // to where it stands, or to a place nearby
        at = next(2) ? at : static_cast<int64_t>(next(static_cast<uint32_t>(model.size()) + 1));
        ASSERT_EQ(file->Seek(at, 0), 0);
        break;
      case 3: {
        const int64_t by = static_cast<int64_t>(next(5)) - 2;
        if (at + by < 0) break;
        ASSERT_EQ(file->Seek(by, 1), 0);
        at += by;
        break;
      }
      case 4:
        ASSERT_EQ(file->Seek(-static_cast<int64_t>(next(3)), 2), 0);
        at = static_cast<int64_t>(model.size()) - static_cast<int64_t>(x >> 16) % 3;
        ASSERT_EQ(file->Tell(), at);
        break;
      case 5: {  // a positioned read sees every write and leaves the position
        const uint32_t from = next(static_cast<uint32_t>(model.size()) + 2);
        const size_t n = next(12);
        char buffer[16];
        const bool inside = from + n <= model.size();
        ASSERT_EQ(file->ReadExactlyAt(from, buffer, n), inside);
        if (inside) {
          ASSERT_EQ(std::string(buffer, n), model.substr(from, n));
        }
        ASSERT_EQ(file->Tell(), at);
        break;
      }
      default:
        ASSERT_EQ(file->Tell(), at);
        ASSERT_EQ(file->Size(), static_cast<int32_t>(model.size()));
        break;
    }
  }
  file.reset();
  EXPECT_EQ(TestFolder::ReadFile(path), model);
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

// Paths longer than 259 characters open where the system takes them (the
// longest path on Windows is 259 characters: there a longer one is refused
// with its reason, never cut to fit).
TEST(DiskFileTest, PathsLongerThan259CharactersOpenWhereTheSystemTakesThem) {
  TestFolder folder;
  const bool systemTakesThem = platform::MaxSystemPath() > 259;
  std::string deep = folder.path();
  while (deep.size() < 300) {
    const std::string next = deep + "/" + std::string(50, 'd');
    if (!systemTakesThem && next.size() > platform::MaxSystemPath()) break;
    ASSERT_TRUE(platform::MakeFolder(next.c_str())) << next;
    deep = next;
  }
  std::string path = deep + "/long.bin";
  if (path.size() <= 259) path = deep + "/" + std::string(270 - deep.size(), 'f');
  ASSERT_GT(path.size(), 259u);
  errno = 0;
  Owned<DiskFile> file(DiskFile::Open(path.c_str(), "wb+"));
  if (!systemTakesThem) {
    EXPECT_EQ(file, nullptr);
    EXPECT_EQ(errno, ENAMETOOLONG);
    // Nothing was made under a shortened name either.
    auto listing = platform::FolderEnumerator::Open(deep.c_str());
    ASSERT_TRUE(listing);
    std::string name;
    bool isFolder = false;
    while (listing->Next(&name, &isFolder)) EXPECT_TRUE(name == "." || name == "..") << name;
    return;
  }
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
