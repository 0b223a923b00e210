#include "transfer/dir_search.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "transfer/testing/memory_file_system_testing.h"

namespace marrowgate {
namespace {

using testing_fs::MemoryFileSystem;
using Events = std::vector<std::string>;

// Records every hook call; each hook answers through an optional rule.
class RecordingWalker : public DirSearch {
 public:
  using DirSearch::DirSearch;
  std::function<int32_t(const std::string&)> answer;
  Events events;

  int32_t ActionOnFile(const char* name) override {
    const char* path = ComposeEntryPath(name);
    return Record("file " + std::string(path != nullptr ? path : "(too long)"));
  }
  int32_t ActionOnDir(const char* name) override { return Record("dir " + std::string(name)); }
  int32_t ActionOnEnterDir(const char* path) override {
    return Record("enter " + std::string(path));
  }
  int32_t ActionOnLeaveDir(const char* path) override {
    return Record("leave " + std::string(path));
  }

 private:
  int32_t Record(const std::string& event) {
    events.push_back(event);
    return answer ? answer(event) : 0;
  }
};

class DirSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs_.AddFile("root/a.txt", "a");
    fs_.AddFile("root/sub/b.txt", "b");
    fs_.AddFolder("root/sub/deep");
    fs_.AddFile("root/sub/deep/c.txt", "c");
    fs_.AddFile("root/z.txt", "z");
  }
  MemoryFileSystem fs_;
};

TEST_F(DirSearchTest, EmptyRootCallsOnlyEnterAndLeave) {
  fs_.AddFolder("empty");
  RecordingWalker walker(&fs_);
  EXPECT_EQ(walker.Search("empty", 1), 0);
  EXPECT_EQ(walker.events, (Events{"enter empty", "leave empty"}));
}

TEST_F(DirSearchTest, UnlistableRootGivesMinus2WithoutLeave) {
  RecordingWalker walker(&fs_);
  EXPECT_EQ(walker.Search("missing", 1), -2);
  EXPECT_EQ(walker.events, (Events{"enter missing"}));
  EXPECT_EQ(walker.Depth(), 0);
}

TEST_F(DirSearchTest, RecursiveWalkIsDepthFirstInListingOrder) {
  RecordingWalker walker(&fs_);
  EXPECT_EQ(walker.Search("root", 1), 0);
  EXPECT_EQ(walker.events,
            (Events{"enter root", "file root/a.txt", "dir sub", "enter root/sub",
                    "file root/sub/b.txt", "dir deep", "enter root/sub/deep",
                    "file root/sub/deep/c.txt", "leave root/sub/deep", "leave root/sub",
                    "file root/z.txt", "leave root"}));
  EXPECT_EQ(walker.Depth(), 0);
  EXPECT_STREQ(walker.CurrentFolder(), "root");
  EXPECT_EQ(walker.RootLength(), 4u);
}

TEST_F(DirSearchTest, NonRecursiveWalkReportsButDoesNotEnterFolders) {
  RecordingWalker walker(&fs_);
  EXPECT_EQ(walker.Search("root", 0), 0);
  EXPECT_EQ(walker.events, (Events{"enter root", "file root/a.txt", "dir sub",
                                   "file root/z.txt", "leave root"}));
}

TEST_F(DirSearchTest, HookFailuresBecomeWalkCodes) {
  struct Case {
    std::string failing_event;
    int32_t hook_result;
    int32_t walk_result;
  };
  for (const Case& c : {Case{"enter root", -9, -1}, Case{"leave root", -9, -3},
                        Case{"dir sub", -5, -105}, Case{"file root/a.txt", -7, -1007}}) {
    RecordingWalker walker(&fs_);
    walker.answer = [&](const std::string& e) { return e == c.failing_event ? c.hook_result : 0; };
    EXPECT_EQ(walker.Search("root", 1), c.walk_result) << c.failing_event;
    EXPECT_EQ(walker.events.back(), c.failing_event);
    EXPECT_EQ(walker.Depth(), 0);
  }
}

TEST_F(DirSearchTest, DeepFailurePassesUpUnchangedWithoutLeaving) {
  RecordingWalker walker(&fs_);
  walker.answer = [](const std::string& e) { return e == "file root/sub/deep/c.txt" ? -4 : 0; };
  EXPECT_EQ(walker.Search("root", 1), -1004);
  for (const std::string& e : walker.events) EXPECT_NE(e.rfind("leave", 0), 0u) << e;
  EXPECT_STREQ(walker.CurrentFolder(), "root");
}

TEST_F(DirSearchTest, UnlistableSubFolderEndsTheWalkWithMinus2) {
  fs_.Find("root/sub")->listFails = true;
  RecordingWalker walker(&fs_);
  EXPECT_EQ(walker.Search("root", 1), -2);
  EXPECT_EQ(walker.events.back(), "enter root/sub");
}

TEST_F(DirSearchTest, PositiveHookResultsLetTheWalkGoOn) {
  RecordingWalker walker(&fs_);
  walker.answer = [](const std::string&) { return 5; };
  EXPECT_EQ(walker.Search("root", 1), 0);
  EXPECT_EQ(walker.events.size(), 12u);
}

TEST_F(DirSearchTest, ExcludedNamesAreSkippedAnywhereInTheTree) {
  fs_.AddFile("root/sub/a.txt", "again");
  RecordingWalker walker(&fs_);
  EXPECT_EQ(walker.AddExcludedName("a.txt"), 1);
  EXPECT_EQ(walker.AddExcludedName("a.txt"), 0);
  EXPECT_EQ(walker.AddExcludedName("A.TXT"), 1);  // exact, case-sensitive
  EXPECT_EQ(walker.Search("root", 1), 0);
  for (const std::string& e : walker.events) EXPECT_EQ(e.find("a.txt"), std::string::npos) << e;
  EXPECT_NE(std::find(walker.events.begin(), walker.events.end(), "file root/z.txt"),
            walker.events.end());
}

TEST(DirSearchSuffixTest, SuffixListFiltersByNameEnding) {
  MemoryFileSystem fs;
  for (const char* name : {"a.tmp", "b.bak", "c.txt", "d.TMP", "x"}) fs.AddFile(std::string("r/") + name, "");
  RecordingWalker walker(&fs);
  EXPECT_TRUE(walker.SetExcludedSuffixes(".tmp|.bak"));
  EXPECT_EQ(walker.Search("r", 1), 0);
  EXPECT_EQ(walker.events, (Events{"enter r", "file r/c.txt", "file r/d.TMP", "file r/x", "leave r"}));
}

TEST(DirSearchSuffixTest, TrailingBarFailsButKeepsEarlierEntries) {
  MemoryFileSystem fs;
  fs.AddFile("r/a.tmp", "");
  fs.AddFile("r/c.txt", "");
  RecordingWalker walker(&fs);
  EXPECT_FALSE(walker.SetExcludedSuffixes(".tmp|"));
  EXPECT_EQ(walker.Search("r", 1), 0);
  EXPECT_EQ(walker.events, (Events{"enter r", "file r/c.txt", "leave r"}));
}

TEST(DirSearchSuffixTest, EmptyEntryMatchesEverythingAndLongEntryNothing) {
  MemoryFileSystem fs;
  fs.AddFile("r/a.txt", "");
  RecordingWalker walker(&fs);
  EXPECT_TRUE(walker.SetExcludedSuffixes("|.zip"));  // leading "|": an empty entry
  EXPECT_FALSE(walker.PassesFilters("a.txt"));
  EXPECT_TRUE(walker.SetExcludedSuffixes("x||y"));
  EXPECT_FALSE(walker.PassesFilters("a.txt"));
  EXPECT_TRUE(walker.SetExcludedSuffixes("longer-than-name.txt"));
  EXPECT_TRUE(walker.PassesFilters("a.txt"));
  EXPECT_TRUE(walker.SetExcludedSuffixes(nullptr));
  EXPECT_TRUE(walker.PassesFilters("a.txt"));
  EXPECT_TRUE(walker.SetExcludedSuffixes(""));
  EXPECT_TRUE(walker.PassesFilters("a.txt"));
}

TEST_F(DirSearchTest, StopTextInSubFolderEndsEveryWalkWithZeroAndLeaves) {
  char stop[8] = "old";
  RecordingWalker walker(&fs_);
  walker.SetStopText(stop);
  walker.answer = [&](const std::string& e) {
    if (e == "file root/sub/b.txt") stop[0] = 'x';
    return 0;
  };
  EXPECT_EQ(walker.Search("root", 1), 0);
  EXPECT_EQ(walker.events, (Events{"enter root", "file root/a.txt", "dir sub", "enter root/sub",
                                   "file root/sub/b.txt", "leave root/sub", "leave root"}));
}

TEST_F(DirSearchTest, SearchClearsTheStopText) {
  char stop[8] = "stop";
  RecordingWalker walker(&fs_);
  walker.SetStopText(stop);
  EXPECT_EQ(walker.Search("root", 1), 0);
  EXPECT_EQ(stop[0], '\0');
  EXPECT_EQ(walker.events.size(), 12u);
}

TEST(DirSearchLimitTest, OverlongFolderPathsAreRefusedWithMinus2) {
  MemoryFileSystem fs;
  std::string root(kMaxPath - 3, 'r');  // root + "/abc" is 260 characters
  fs.AddFile(root + "/abc/f", "");
  RecordingWalker walker(&fs);
  EXPECT_EQ(walker.Search(root.c_str(), 1), -2);
  EXPECT_EQ(walker.events, (Events{"enter " + root, "dir abc"}));

  std::string too_long_root(kMaxPath + 1, 'q');
  fs.AddFolder(too_long_root);
  RecordingWalker walker2(&fs);
  EXPECT_EQ(walker2.Search(too_long_root.c_str(), 1), -2);
  EXPECT_TRUE(walker2.events.empty());
}

TEST(DirSearchLimitTest, EntryPathIsComposedOnlyWhenItFits) {
  MemoryFileSystem fs;
  std::string root(kMaxPath - 2, 'r');
  fs.AddFile(root + "/a", "");   // exactly 259 characters
  fs.AddFile(root + "/bc", "");  // 260
  RecordingWalker walker(&fs);
  EXPECT_EQ(walker.Search(root.c_str(), 1), 0);
  EXPECT_EQ(walker.events[1], "file " + root + "/a");
  EXPECT_EQ(walker.events[2], "file (too long)");
  EXPECT_STREQ(walker.EntryPath(), (root + "/a").c_str());  // unchanged by the refusal
}

TEST(DirSearchListingTest, DotEntriesAreSkippedOnlyAsFolders) {
  MemoryFileSystem fs;
  fs.AddFolder("r");
  fs.AddRawEntry("r", false, "..");
  RecordingWalker walker(&fs);
  EXPECT_EQ(walker.Search("r", 1), 0);
  // A file named ".." is handed over; the copy engine refuses it.
  EXPECT_EQ(walker.events, (Events{"enter r", "file r/..", "leave r"}));
}

}  // namespace
}  // namespace marrowgate
