#include "platform/env.h"

#include <gtest/gtest.h>


#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/file_tree.h"
#include "platform/testing/links_testing.h"

namespace marrowgate::platform {
namespace {

std::string TempPath(const char* leaf) {
  return ::testing::TempDir() + "mg_env_" + leaf;
}

TEST(FileStreamTest, WritesSeeksAndReadsBack) {
  std::string path = TempPath("stream.bin");
  {
    auto stream = FileStream::Open(path.c_str(), "wb+");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->Write("hello world", 11), 11u);
    EXPECT_EQ(stream->Seek(6, 0), 0);
    char buffer[8] = {};
    EXPECT_EQ(stream->Read(buffer, 5), 5u);
    EXPECT_STREQ(buffer, "world");
    EXPECT_EQ(stream->Tell(), 11);
    EXPECT_EQ(stream->Read(buffer, 1), 0u);
    EXPECT_TRUE(stream->AtEnd());
  }
  {
    // Read to the end, then from the start again: a seek clears the end.
    auto stream = FileStream::Open(path.c_str(), "rb");
    ASSERT_NE(stream, nullptr);
    char buffer[16] = {};
    EXPECT_EQ(stream->Read(buffer, sizeof buffer), 11u);
    EXPECT_TRUE(stream->AtEnd());
    EXPECT_EQ(stream->Seek(0, 0), 0);
    EXPECT_FALSE(stream->AtEnd());
    EXPECT_EQ(stream->Tell(), 0);
    EXPECT_EQ(stream->Read(buffer, sizeof buffer), 11u);
    EXPECT_EQ(std::string(buffer, 11), "hello world");
  }
  NodeStatus status;
  ASSERT_TRUE(StatusOf(path.c_str(), &status, nullptr));
  EXPECT_NE(status.kind, NodeKind::kFolder);
  EXPECT_EQ(status.size, 11u);
  EXPECT_TRUE(RemoveFile(path.c_str()));
  EXPECT_FALSE(PathAccessible(path.c_str()));
}

TEST(FileStreamTest, SizeAndPositionedReadsLeaveThePosition) {
  const std::string leaf = "sized_" + std::to_string(std::random_device()()) + ".bin";
  std::string path = TempPath(leaf.c_str());
  auto stream = FileStream::Open(path.c_str(), "wb+");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->Size(), 0);
  EXPECT_EQ(stream->Write("0123456789", 10), 10u);
  EXPECT_EQ(stream->Size(), 10);  // the buffered bytes count
  char buffer[8] = {};
  EXPECT_EQ(stream->ReadAt(3, buffer, 4), 4);
  EXPECT_EQ(std::string(buffer, 4), "3456");
  EXPECT_EQ(stream->ReadAt(8, buffer, 8), 2);  // short at the end
  EXPECT_EQ(std::string(buffer, 2), "89");
  EXPECT_EQ(stream->ReadAt(-1, buffer, 1), -1);
  EXPECT_EQ(stream->Tell(), 10);
  EXPECT_EQ(stream->Write("ab", 2), 2u);
  EXPECT_EQ(stream->Size(), 12);
  stream.reset();
  stream = FileStream::Open(path.c_str(), "rb");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->Size(), 12);
  EXPECT_EQ(stream->ReadAt(10, buffer, 2), 2);
  EXPECT_EQ(std::string(buffer, 2), "ab");
  EXPECT_EQ(stream->Read(buffer, 3), 3u);
  EXPECT_EQ(std::string(buffer, 3), "012");
  stream.reset();
  EXPECT_TRUE(RemoveFile(path.c_str()));
}

TEST(FileStreamTest, RefusesMissingFilesAndFolders) {
  EXPECT_EQ(FileStream::Open(TempPath("missing").c_str(), "rb"), nullptr);
  EXPECT_EQ(FileStream::Open(::testing::TempDir().c_str(), "rb"), nullptr);
}

// A FIFO (no writer, so an ordinary open would wait forever), a device and
// a link to either are refused in every mode without blocking; "wxb+" makes
// only a new file and never writes through a link, dangling or not.
TEST(FileStreamTest, OpensOnlyOrdinaryFilesAndNeverBlocks) {
  namespace fs = std::filesystem;
  const fs::path root = TempPath("kinds");
  fs::remove_all(root);
  fs::create_directories(root);
#ifdef _WIN32
  const std::string device = "NUL";
#else
  const std::string device = "/dev/zero";
#endif
  // Windows has no FIFOs, and links only for some accounts: the names the
  // system made are the ones checked.
  std::vector<std::string> special = {device};
  const std::string fifo = (root / "fifo").string();
  if (MakeTestFifo(fifo)) {
    special.push_back(fifo);
    if (MakeTestLink(fifo, root / "to_fifo")) special.push_back((root / "to_fifo").string());
  }
  if (MakeTestLink(device, root / "to_zero")) special.push_back((root / "to_zero").string());
  for (const char* mode : {"rb", "rb+", "wb+", "ab"}) {
    for (const std::string& path : special) {
      EXPECT_EQ(FileStream::Open(path.c_str(), mode), nullptr) << path << " " << mode;
    }
  }

  const fs::path outside = root / "outside.txt";
  std::ofstream(outside) << "keep";
  if (MakeTestLink(outside, root / "link")) {
    EXPECT_EQ(FileStream::Open((root / "link").string().c_str(), "wxb+"), nullptr);
  }
  if (MakeTestLink(root / "nowhere", root / "dangling")) {
    EXPECT_EQ(FileStream::Open((root / "dangling").string().c_str(), "wxb+"), nullptr);
  }
  EXPECT_EQ(FileStream::Open(outside.string().c_str(), "wxb+"), nullptr);
  EXPECT_FALSE(fs::exists(root / "nowhere"));
  EXPECT_EQ(fs::file_size(outside), 4u);
  {
    auto fresh = FileStream::Open((root / "new").string().c_str(), "wxb+");
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->Write("abc", 3), 3u);
    EXPECT_EQ(fresh->Seek(0, 0), 0);
    char back[3] = {};
    EXPECT_EQ(fresh->Read(back, 3), 3u);
    EXPECT_EQ(std::string(back, 3), "abc");
  }
  {
    auto appended = FileStream::Open((root / "new").string().c_str(), "ab");
    ASSERT_NE(appended, nullptr);
    EXPECT_EQ(appended->Write("d", 1), 1u);
  }
  EXPECT_EQ(fs::file_size(root / "new"), 4u);
  fs::remove_all(root);
}

TEST(PathTest, FileTimesAndFolders) {
  std::string folder = TempPath("folder");
  RemoveFolder(folder.c_str());
  ASSERT_TRUE(MakeFolder(folder.c_str()));
  std::string file = folder + "/f.txt";
  { auto stream = FileStream::Open(file.c_str(), "wb"); ASSERT_NE(stream, nullptr); }
  ASSERT_TRUE(SetFileTimes(file.c_str(), 1000000000, 1234567890));
  NodeStatus status;
  ASSERT_TRUE(StatusOf(file.c_str(), &status, nullptr));
  EXPECT_EQ(status.modificationTime, 1234567890);

  auto listing = FolderEnumerator::Open(folder.c_str());
  ASSERT_NE(listing, nullptr);
  std::string name;
  bool isFolder = false;
  int files = 0, dots = 0;
  while (listing->Next(&name, &isFolder)) {
    if (name == "." || name == "..") { EXPECT_TRUE(isFolder); ++dots; }
    if (name == "f.txt") { EXPECT_FALSE(isFolder); ++files; }
  }
  EXPECT_EQ(files, 1);
  EXPECT_EQ(dots, 2);
  EXPECT_FALSE(RemoveFolder(folder.c_str()));  // not empty
  EXPECT_TRUE(RemoveFile(file.c_str()));
  EXPECT_TRUE(RemoveFolder(folder.c_str()));
}

TEST(CharacterSetTest, CountsCharactersOfCodePages) {
  const char hangul[] = "\xB0\xA1";  // one character in CP949
  EXPECT_EQ(CountCharacters(949, hangul, 2), 1);
  EXPECT_EQ(CountCharacters(949, "ab", 2), 2);
  EXPECT_EQ(CountCharacters(65001, "\xC3\xA9", 2), 1);
  EXPECT_EQ(CountCharacters(65001, "\xC3", 1), -1);
}

TEST(ClockTest, LocalCalendarRoundTrip) {
  CalendarTime fields;
  ASSERT_TRUE(ToLocalCalendar(1500000000, &fields));
  EXPECT_EQ(FromLocalCalendar(fields), 1500000000);
}

TEST(ClockTest, TimeZoneSettingChangesLocalCalendar) {
  ASSERT_TRUE(SetTimeZone("UTC0"));
  CalendarTime fields;
  ASSERT_TRUE(ToLocalCalendar(0, &fields));
  EXPECT_EQ(fields.hour, 0);
  ASSERT_TRUE(SetTimeZone("KST-9"));
  ASSERT_TRUE(ToLocalCalendar(0, &fields));
  EXPECT_EQ(fields.hour, 9);
  SetTimeZone(nullptr);
}

TEST(ProcessTest, KnowsItsOwnPath) {
  EXPECT_NE(OwnExecutablePath().find("platform_test"), std::string::npos);
}

}  // namespace
}  // namespace marrowgate::platform

TEST(ProcessCommandLine, StartsWithTheProgram) {
  const std::string line = marrowgate::platform::ProcessCommandLine();
  const std::string self = marrowgate::platform::OwnExecutablePath();
  ASSERT_FALSE(self.empty());
  const size_t slash = self.find_last_of("/\\");
  const std::string name = self.substr(slash == std::string::npos ? 0 : slash + 1);
  EXPECT_NE(line.find(name.substr(0, name.find('.'))), std::string::npos) << line;
  EXPECT_TRUE(marrowgate::platform::AttachStartingConsole());
}
