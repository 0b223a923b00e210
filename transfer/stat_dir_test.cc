#include "transfer/stat_dir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "transfer/testing/memory_file_system_testing.h"

namespace marrowgate {
namespace {

using testing_fs::MemoryFileSystem;

class NameSink : public StatSink {
 public:
  std::vector<std::string> seen;
  int32_t OnStatFile(const char* name) override {
    seen.push_back(std::string("file ") + name);
    return 7;  // ignored
  }
  int32_t OnStatDir(const char* name) override {
    seen.push_back(std::string("dir ") + name);
    return -7;  // ignored
  }
};

TEST(StatDirTest, EmptyRootCountsNothing) {
  MemoryFileSystem fs;
  fs.AddFolder("src");
  SRCDIRSTAT_T stat;
  stat.nTotalFile = stat.nTotalSize = stat.nTotalDir = 99;
  EXPECT_EQ(StatDir(&fs, "src", 1, &stat), 0);
  EXPECT_EQ(stat.nTotalFile, 0);
  EXPECT_EQ(stat.nTotalSize, 0);
  EXPECT_EQ(stat.nTotalDir, 0);
}

TEST(StatDirTest, CountsFilesBytesAndFoldersBelowTheRoot) {
  MemoryFileSystem fs;
  fs.AddFile("src/a", "12345");
  fs.AddFile("src/s/b", "123");
  fs.AddFolder("src/s/t");
  fs.AddFile("src/c.tmp", "");
  for (uint8_t use_info : {0, 1}) {
    NameSink sink;
    SRCDIRSTAT_T stat;
    stat.pSink = &sink;
    EXPECT_EQ(StatDir(&fs, "src", use_info, &stat), 0);
    EXPECT_EQ(stat.nTotalFile, 3);
    EXPECT_EQ(stat.nTotalSize, 8);
    EXPECT_EQ(stat.nTotalDir, 2);
    EXPECT_EQ(sink.seen, (std::vector<std::string>{"file a", "dir s", "file b", "dir t", "file c.tmp"}));
  }
}

TEST(StatDirTest, SizeSumWrapsAt32Bits) {
  MemoryFileSystem fs;
  for (const char* name : {"src/a", "src/b"}) {
    testing_fs::Node* node = fs.AddFile(name, "");
    node->fakeSize = true;
    node->size = 2000000000;
  }
  SRCDIRSTAT_T stat;
  EXPECT_EQ(StatDir(&fs, "src", 1, &stat), 0);
  EXPECT_EQ(stat.nTotalFile, 2);
  EXPECT_EQ(stat.nTotalSize, static_cast<int32_t>(4000000000u));
}

TEST(StatDirTest, StopTextFailsAtTheNextFileOrFolder) {
  MemoryFileSystem fs;
  fs.AddFile("files/a", "x");
  fs.AddFolder("folders/s");
  fs.AddFolder("empty");
  char stop[4] = "x";
  SRCDIRSTAT_T stat;
  stat.szStop = stop;
  EXPECT_EQ(StatDir(&fs, "files", 1, &stat), kStatStoppedAtFile);
  EXPECT_EQ(StatDir(&fs, "folders", 1, &stat), kStatStoppedAtDir);
  EXPECT_EQ(StatDir(&fs, "empty", 1, &stat), 0);
  EXPECT_STREQ(stop, "x");  // the pass leaves the stop text alone
}

TEST(StatDirTest, UnreadableInformationFailsOnlyWithTheInformationFlag) {
  MemoryFileSystem fs;
  fs.AddFile("src/a", "abc");
  testing_fs::Node* bad = fs.AddFile("src/b", "defg");
  bad->statFails = true;
  bad->openFails = true;
  SRCDIRSTAT_T stat;
  EXPECT_EQ(StatDir(&fs, "src", 1, &stat), kStatFileInfoFailed);
  // By opening: an unopenable file counts with size 0.
  EXPECT_EQ(StatDir(&fs, "src", 0, &stat), 0);
  EXPECT_EQ(stat.nTotalFile, 2);
  EXPECT_EQ(stat.nTotalSize, 3);
}

TEST(StatDirTest, NegativeSizeOfAnOpenedFileFails) {
  MemoryFileSystem fs;
  testing_fs::Node* node = fs.AddFile("src/a", "");
  node->fakeSize = true;
  node->size = -5;
  SRCDIRSTAT_T stat;
  EXPECT_EQ(StatDir(&fs, "src", 0, &stat), kStatNegativeSize);
}

TEST(StatDirTest, UnlistableFolderGivesTheWalkCode) {
  MemoryFileSystem fs;
  fs.AddFolder("src/s")->listFails = true;
  SRCDIRSTAT_T stat;
  EXPECT_EQ(StatDir(&fs, "src", 1, &stat), -2);
  EXPECT_EQ(StatDir(&fs, "missing", 1, &stat), -2);
}

}  // namespace
}  // namespace marrowgate
