#include "app/local_file_list.h"

#include <gtest/gtest.h>

#include "package/testing/fault_injection_testing.h"
#include "package/file/memory_file.h"
#include "package/testing/temp_folder_testing.h"
#include "util/releaser.h"

namespace marrowgate {
namespace {

FileRecord Record(uint32_t size, uint8_t fill) {
  FileRecord record;
  record.size = size;
  record.digest.fill(fill);
  return record;
}

std::string Le32(uint32_t value) {
  std::string out;
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  return out;
}

TEST(LocalFileList, RecordLayout) {
  FileTable table;
  table["ab"] = Record(0x01020304, 0xEE);
  std::string expected = Le32(2) + "ab" + Le32(0x01020304) + std::string(16, '\xEE');
  EXPECT_EQ(SerializeLocalFileList(table), expected);
}

TEST(LocalFileList, RoundTripInByteOrder) {
  FileTable table;
  table["z.txt"] = Record(1, 1);
  table["B.txt"] = Record(2, 2);
  table["a/b.txt"] = Record(3, 3);
  table["\xC3\xA9t\xC3\xA9.txt"] = Record(4, 4);
  std::string bytes = SerializeLocalFileList(table);
  // Upper case sorts before lower case, bytes above 0x7F last.
  EXPECT_EQ(bytes.substr(4, 5), "B.txt");
  FileTable read;
  ASSERT_TRUE(ParseLocalFileList(bytes, &read));
  EXPECT_EQ(read, table);
  EXPECT_EQ(read.rbegin()->first, "\xC3\xA9t\xC3\xA9.txt");
}

TEST(LocalFileList, FirstRecordOfANameWins) {
  std::string bytes = Le32(1) + "a" + Le32(10) + std::string(16, '\x01') + Le32(1) + "a" +
                      Le32(20) + std::string(16, '\x02');
  FileTable table;
  ASSERT_TRUE(ParseLocalFileList(bytes, &table));
  ASSERT_EQ(table.size(), 1u);
  EXPECT_EQ(table["a"].size, 10u);
}

TEST(LocalFileList, EmptyListIsAnEmptyTable) {
  FileTable table;
  EXPECT_TRUE(ParseLocalFileList("", &table));
  EXPECT_TRUE(table.empty());
}

TEST(LocalFileList, DamagedListsLeaveTheTableAlone) {
  FileTable table;
  table["kept"] = Record(5, 5);
  const FileTable before = table;
  std::string good = Le32(1) + "x" + Le32(1) + std::string(16, '\0');
  EXPECT_FALSE(ParseLocalFileList(good + "\x01\x00", &table));  // a length cut short
  EXPECT_FALSE(ParseLocalFileList(good + Le32(5) + "abc", &table));  // name past the end
  EXPECT_FALSE(ParseLocalFileList(good.substr(0, good.size() - 1), &table));  // digest short
  EXPECT_FALSE(ParseLocalFileList(Le32(1024) + std::string(1024 + 20, 'n'), &table));
  EXPECT_FALSE(ParseLocalFileList(Le32(0xFFFFFFFF) + "tiny", &table));  // nothing allocated
  EXPECT_EQ(table, before);
  // The longest name allowed is read.
  std::string longest = Le32(1023) + std::string(1023, 'n') + Le32(7) + std::string(16, '\0');
  EXPECT_TRUE(ParseLocalFileList(longest, &table));
  EXPECT_EQ(table.size(), 2u);
}

TEST(LocalFileList, ReadFromAFile) {
  FileTable table;
  table["a"] = Record(1, 0xAB);
  std::string bytes = SerializeLocalFileList(table);
  MemoryFile file(std::vector<uint8_t>(bytes.begin(), bytes.end()));
  file.Seek(0, 2);  // reading starts from the beginning anyway
  FileTable read;
  EXPECT_EQ(ReadLocalFileList(&file, &read), kFileListOk);
  EXPECT_EQ(read, table);
  std::string damaged = bytes.substr(0, 7);
  MemoryFile short_file(std::vector<uint8_t>(damaged.begin(), damaged.end()));
  EXPECT_EQ(ReadLocalFileList(&short_file, &read), kFileListDamaged);
  EXPECT_EQ(ReadLocalFileList(nullptr, &read), kFileListReadFailed);
}

TEST(LocalFileList, WriteReplacesTheListWhole) {
  TestFolder folder;
  Owned<FileSystem> disk(CreateFileSystem());
  std::string path = folder.WriteFile("localfilelist.txt", "old list");
  FileTable table;
  table["bin/app"] = Record(12, 0x5A);
  ASSERT_TRUE(WriteLocalFileList(disk.get(), path, table));
  EXPECT_EQ(TestFolder::ReadFile(path), SerializeLocalFileList(table));
  EXPECT_FALSE(platform::PathAccessible((path + ".tmp").c_str()));
}

TEST(LocalFileList, FailedWriteKeepsTheOldList) {
  TestFolder folder;
  Owned<FileSystem> disk(CreateFileSystem());
  std::string path = folder.WriteFile("localfilelist.txt", "old list");
  // The temporary name is taken by a folder: the new list cannot be made.
  ASSERT_TRUE(platform::MakeFolder((path + ".tmp").c_str()));
  FileTable table;
  table["a"] = Record(1, 1);
  EXPECT_FALSE(WriteLocalFileList(disk.get(), path, table));
  EXPECT_EQ(TestFolder::ReadFile(path), "old list");
}

// Every write, flush and replacement of a list write failing, or the
// process stopping there: the call says so and the old list stays whole;
// the next write replaces it.
TEST(LocalFileList, FaultAtEveryStepKeepsTheOldList) {
  using testing_faults::FaultFileSystem;
  using testing_faults::FaultPlan;
  TestFolder folder;
  Owned<FileSystem> disk(CreateFileSystem());
  FaultPlan plan;
  FaultFileSystem faulty(disk.get(), &plan);
  FileTable old;
  old["old/file"] = Record(7, 0x11);
  FileTable table;
  table["bin/app"] = Record(12, 0x5A);
  table["data/level1"] = Record(4096, 0xC3);
  const std::string path = folder.WriteFile("localfilelist.txt", SerializeLocalFileList(old));
  int injected = 0;
  for (FaultPlan::Effect effect : {FaultPlan::Effect::kFail, FaultPlan::Effect::kStop}) {
    for (int64_t n = 1;; ++n) {
      SCOPED_TRACE("operation " + std::to_string(n) +
                   (effect == FaultPlan::Effect::kStop ? " stops" : " fails"));
      folder.WriteFile("localfilelist.txt", SerializeLocalFileList(old));
      plan.Arm(n, effect);
      const bool written = WriteLocalFileList(&faulty, path, table);
      if (!plan.tripped()) {
        EXPECT_TRUE(written);
        EXPECT_EQ(TestFolder::ReadFile(path), SerializeLocalFileList(table));
        break;
      }
      ++injected;
      EXPECT_FALSE(written);
      EXPECT_EQ(TestFolder::ReadFile(path), SerializeLocalFileList(old));
      // A failure cleans up after itself; a stopped process may leave the
      // temporary file, which the next write replaces.
      if (effect == FaultPlan::Effect::kFail) {
        EXPECT_FALSE(platform::PathAccessible((path + ".tmp").c_str()));
      }
      plan.Arm(0, FaultPlan::Effect::kFail);
      ASSERT_TRUE(WriteLocalFileList(&faulty, path, table));
      EXPECT_EQ(TestFolder::ReadFile(path), SerializeLocalFileList(table));
      EXPECT_FALSE(platform::PathAccessible((path + ".tmp").c_str()));
    }
  }
  // Creation of the temporary file, write, flush and replace, each
  // failing and stopping.
  EXPECT_EQ(injected, 8);
}

}  // namespace
}  // namespace marrowgate
