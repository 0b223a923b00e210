// The copy engines, the walker and DeleteTree on the local disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "package/file/file_system.h"
#include "package/testing/temp_folder_testing.h"
#include "platform/env.h"
#include "transfer/delete_tree.h"
#include "transfer/dir_copy.h"
#include "transfer/testing/recording_notify_testing.h"
#include "util/releaser.h"
#include "platform/file_tree.h"
#include "platform/testing/links_testing.h"

namespace marrowgate {
namespace {

using Events = std::vector<std::string>;

class DirCopyDiskTest : public ::testing::Test {
 protected:
  DirCopyDiskTest() : fs_(CreateFileSystem()) {
    src_ = folder_.Child("src");
    dst_ = folder_.Child("dst");
    platform::MakeFolder(src_.c_str());
    platform::MakeFolder((src_ + "/sub").c_str());
    params_.pSrcFM = fs_.get();
    params_.pDstFM = fs_.get();
    params_.szSrcDir = src_.c_str();
    params_.szDstDir = dst_.c_str();
    params_.pNotify = &sink_;
    params_.nBufSize = 100000;
  }

  void Write(const std::string& relative, const std::string& content) {
    folder_.WriteFile("src/" + relative, content);
  }
  std::string Read(const std::string& relative) {
    return TestFolder::ReadFile(dst_ + "/" + relative);
  }
  bool TargetExists(const std::string& relative) {
    return platform::PathAccessible((dst_ + "/" + relative).c_str());
  }
  int32_t Run(HeldBackNames delayed) {
    Owned<dircp> engine(CreateDirCopy(kDelayedDirCopy, delayed));
    return engine->DoIt(params_);
  }

  TestFolder folder_;
  Owned<FileSystem> fs_;
  std::string src_, dst_;
  RecordingNotify sink_;
  DIRCP_PARAM_T params_;
};

const char* const kNoDelayed[] = {nullptr};

TEST_F(DirCopyDiskTest, CopiesATreeWithExclusionsAndAHeldBackFileLast) {
  Write("a.txt", "alpha");
  Write("skip.exe", "no");
  Write("c.tmp", "no");
  Write("d.bak", "no");
  Write("late.dll", "late");
  Write("sub/b.txt", std::string(250000, 'b'));
  Write("sub/skip.exe", "no");
  const char* const excluded[] = {"skip.exe", nullptr};
  const char* const delayed[] = {"late.dll", "not/there.txt", nullptr};
  params_.ppszExcludeNames = excluded;
  params_.szExcludeSuffixes = ".tmp|.bak";
  params_.byStatMode = kStatFromInfo;

  ASSERT_EQ(Run(delayed), 0);
  EXPECT_EQ(Read("a.txt"), "alpha");
  EXPECT_EQ(Read("sub/b.txt"), std::string(250000, 'b'));
  EXPECT_EQ(Read("late.dll"), "late");
  for (const char* absent : {"skip.exe", "c.tmp", "d.bak", "sub/skip.exe", "not"})
    EXPECT_FALSE(TargetExists(absent)) << absent;

  ASSERT_GE(sink_.events.size(), 4u);
  EXPECT_EQ(sink_.events[0], "INFO 0 Calculating src dir stat ...");
  EXPECT_EQ(sink_.events[1], "SRCDIRSTAT 7 250017 1");
  EXPECT_EQ(sink_.events[2], "ENTERDIR " + src_);
  // The held-back file comes after the root is left.
  Events tail(sink_.events.end() - 4, sink_.events.end());
  EXPECT_EQ(tail, (Events{"LEAVEDIR " + src_,
                          "FILEBEGIN " + src_ + "/late.dll " + dst_ + "/late.dll 4",
                          "PROGRESS 4", "FILEEND"}));
  // The big file is written in 100000-byte blocks.
  auto begin = std::find(sink_.events.begin(), sink_.events.end(),
                         "FILEBEGIN " + src_ + "/sub/b.txt " + dst_ + "/sub/b.txt 250000");
  ASSERT_NE(begin, sink_.events.end());
  EXPECT_EQ(Events(begin + 1, begin + 5),
            (Events{"PROGRESS 100000", "PROGRESS 200000", "PROGRESS 250000", "FILEEND"}));
}

TEST_F(DirCopyDiskTest, Flag4CopiesModificationTimes) {
  Write("a.txt", "a");
  Write("sub/b.txt", "b");
  platform::SetFileTimes((src_ + "/a.txt").c_str(), 1000000000, 1000000000);
  platform::SetFileTimes((src_ + "/sub/b.txt").c_str(), 1200000000, 1200000000);
  params_.byFlags = kCopyFileTimes;
  ASSERT_EQ(Run(kNoDelayed), 0);
  platform::NodeStatus status;
  ASSERT_TRUE(platform::StatusOf((dst_ + "/a.txt").c_str(), &status, nullptr));
  EXPECT_EQ(status.modificationTime, 1000000000);
  ASSERT_TRUE(platform::StatusOf((dst_ + "/sub/b.txt").c_str(), &status, nullptr));
  EXPECT_EQ(status.modificationTime, 1200000000);
}

TEST_F(DirCopyDiskTest, Flag2LeavesReadOnlySourcesOut) {
  Write("ro.txt", "r");
  ASSERT_TRUE(platform::SetWritable((src_ + "/ro.txt").c_str(), false));
  params_.byFlags = kCopySkipReadOnly | kCopyFileTimes;
  ASSERT_EQ(Run(kNoDelayed), 0);
  EXPECT_EQ(sink_.events, (Events{"ENTERDIR " + src_, "READONLY " + src_ + "/ro.txt",
                                  "ENTERDIR " + src_ + "/sub", "LEAVEDIR " + src_ + "/sub",
                                  "LEAVEDIR " + src_}));
  EXPECT_FALSE(TargetExists("ro.txt"));
  params_.byFlags = kCopyFileTimes;
  ASSERT_EQ(Run(kNoDelayed), 0);
  EXPECT_EQ(Read("ro.txt"), "r");
}

TEST_F(DirCopyDiskTest, CutTailSuffixAndZeroLengthFile) {
  Write("sub/b.tmp", "");
  params_.nCutTail = 4;
  params_.szDstSuffix = ".new";
  ASSERT_EQ(Run(kNoDelayed), 0);
  EXPECT_TRUE(TargetExists("sub/b.new"));
  EXPECT_FALSE(TargetExists("sub/b.tmp"));
  EXPECT_EQ(Read("sub/b.new"), "");
  EXPECT_EQ(sink_.events[2], "FILEBEGIN " + src_ + "/sub/b.tmp " + dst_ + "/sub/b.new 0");
  EXPECT_EQ(sink_.events[3], "FILEEND");
}

TEST_F(DirCopyDiskTest, DelayedNameClimbingOutWritesNothingOutside) {
  Write("late.dll", "L");
  folder_.WriteFile("outside.txt", "E");  // reachable from src as "../outside.txt"
  std::string deeper = folder_.Child("out/dst");
  params_.szDstDir = deeper.c_str();
  const char* const delayed[] = {"late.dll", "../outside.txt", nullptr};
  ASSERT_EQ(Run(delayed), 0);
  EXPECT_EQ(TestFolder::ReadFile(deeper + "/late.dll"), "L");
  EXPECT_FALSE(platform::PathAccessible(folder_.Child("out/outside.txt").c_str()));
  EXPECT_EQ(sink_.events.back(), "ERROR -6 Unsafe path refused: ../outside.txt");
}

// A target folder that is a link: written through only while it leads to
// a folder within the target root; one leading out stops the copy before
// anything is written there.
TEST_F(DirCopyDiskTest, AFolderLinkLeadingOutOfTheTargetIsNeverWrittenThrough) {
  platform::MakeFolder((src_ + "/in").c_str());
  Write("sub/a.txt", "A");
  Write("in/b.txt", "B");
  platform::MakeFolder(dst_.c_str());
  platform::MakeFolder((dst_ + "/real").c_str());
  platform::MakeFolder(folder_.Child("elsewhere").c_str());
  if (!platform::MakeTestLink(dst_ + "/real", dst_ + "/in", true) ||
      !platform::MakeTestLink(folder_.Child("elsewhere"), dst_ + "/sub", true))
    return;
  EXPECT_LT(Run(kNoDelayed), 0);
  EXPECT_FALSE(platform::PathAccessible(folder_.Child("elsewhere/a.txt").c_str()));
  EXPECT_NE(std::find(sink_.events.begin(), sink_.events.end(),
                      "ERROR -6 Unsafe path refused: sub"),
            sink_.events.end());

  platform::RemoveFile((dst_ + "/sub").c_str());
  ASSERT_EQ(Run(kNoDelayed), 0);
  EXPECT_EQ(TestFolder::ReadFile(dst_ + "/real/b.txt"), "B");
  EXPECT_EQ(Read("sub/a.txt"), "A");
}

TEST_F(DirCopyDiskTest, DeleteTreeRemovesTheCopiedTree) {
  Write("a.txt", "a");
  Write("sub/b.txt", "b");
  platform::MakeFolder((src_ + "/sub/empty").c_str());
  ASSERT_EQ(Run(kNoDelayed), 0);
  EXPECT_TRUE(DeleteTree(fs_.get(), dst_.c_str()));
  EXPECT_FALSE(platform::PathAccessible(dst_.c_str()));
  EXPECT_TRUE(DeleteTree(fs_.get(), (src_ + "/a.txt").c_str()));
  EXPECT_FALSE(platform::PathAccessible((src_ + "/a.txt").c_str()));
}

}  // namespace
}  // namespace marrowgate
