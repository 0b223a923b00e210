#include "platform/durable_file.h"
#include "platform/file_tree.h"
#include "platform/testing/links_testing.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace marrowgate::platform {
namespace {

std::string TempPath(const char* leaf) { return ::testing::TempDir() + "mg_durable_" + leaf; }

void WriteFile(const std::string& path, const std::string& content) {
  auto stream = FileStream::Open(path.c_str(), "wb");
  ASSERT_NE(stream, nullptr);
  ASSERT_EQ(stream->Write(content.data(), content.size()), content.size());
  ASSERT_TRUE(SyncStream(stream.get()));
}

std::string ReadFile(const std::string& path) {
  auto stream = FileStream::Open(path.c_str(), "rb");
  if (!stream) return "<missing>";
  std::string content(4096, '\0');
  content.resize(stream->Read(content.data(), content.size()));
  return content;
}

TEST(DurableFileTest, ReplaceMovesTheNewContentOverTheOld) {
  std::string target = TempPath("target.txt"), staged = TempPath("staged.txt");
  WriteFile(target, "old");
  WriteFile(staged, "new content");
  ASSERT_TRUE(ReplacePath(staged.c_str(), target.c_str()));
  EXPECT_EQ(ReadFile(target), "new content");
  EXPECT_FALSE(PathAccessible(staged.c_str()));
  RemoveFile(target.c_str());
}

TEST(DurableFileTest, ReplacedFileKeepsTheTargetsPermissionBits) {
  std::string target = TempPath("perm.txt"), staged = TempPath("perm.new");
  WriteFile(target, "old");
  ASSERT_TRUE(SetWritable(target.c_str(), false));
  WriteFile(staged, "new");
  const int bits = PermissionBits(target.c_str());
  ASSERT_GE(bits, 0);
  ASSERT_TRUE(ReplacePath(staged.c_str(), target.c_str()));
  EXPECT_EQ(PermissionBits(target.c_str()), bits);
  NodeStatus status;
  ASSERT_TRUE(StatusOf(target.c_str(), &status, nullptr));
  EXPECT_FALSE(status.writable);
  EXPECT_EQ(ReadFile(target), "new");
  SetWritable(target.c_str(), true);
  RemoveFile(target.c_str());
}

TEST(DurableFileTest, ReplaceCreatesAMissingTargetAndRefusesAFolder) {
  std::string target = TempPath("fresh.txt"), staged = TempPath("fresh.new");
  RemoveFile(target.c_str());
  WriteFile(staged, "first");
  ASSERT_TRUE(ReplacePath(staged.c_str(), target.c_str()));
  EXPECT_EQ(ReadFile(target), "first");
  RemoveFile(target.c_str());

  std::string folder = TempPath("folder");
  MakeFolder(folder.c_str());
  WriteFile(staged, "x");
  EXPECT_FALSE(ReplacePath(staged.c_str(), folder.c_str()));
  EXPECT_EQ(ReadFile(staged), "x");
  RemoveFile(staged.c_str());
  RemoveFolder(folder.c_str());
}

TEST(DurableFileTest, ALinkInTheTargetsPlaceIsReplacedAsANameWithoutLookingThrough) {
  const std::string outside = TempPath("outside.txt"), folder = TempPath("outside_folder");
  const std::string staged = TempPath("linked.new");
  WriteFile(outside, "outside");
  ASSERT_TRUE(SetWritable(outside.c_str(), false));
  MakeFolder(folder.c_str());
  std::vector<std::string> leading = {outside};
#ifndef _WIN32
  // Windows refuses to move a file over a folder link, as over a folder.
  leading.push_back(folder);
#endif
  for (const std::string& leadsTo : leading) {
    SCOPED_TRACE(leadsTo);
    const std::string target = TempPath("linked.txt");
    RemoveNode(target.c_str());
    if (!MakeTestLink(leadsTo, target, leadsTo == folder)) continue;
    WriteFile(staged, "new");
    ASSERT_TRUE(ReplacePath(staged.c_str(), target.c_str()));
    NodeStatus status;
    ASSERT_TRUE(LinkStatusOf(target.c_str(), &status, nullptr));
    EXPECT_EQ(status.kind, NodeKind::kFile);
    // The new file keeps its own bits, not those of what the link led to.
    EXPECT_TRUE(status.writable);
    EXPECT_EQ(ReadFile(target), "new");
    RemoveNode(target.c_str());
  }
  EXPECT_EQ(ReadFile(outside), "outside");
  NodeStatus folderStatus;
  ASSERT_TRUE(LinkStatusOf(folder.c_str(), &folderStatus, nullptr));
  EXPECT_EQ(folderStatus.kind, NodeKind::kFolder);
  SetWritable(outside.c_str(), true);
  RemoveFile(outside.c_str());
  RemoveFolder(folder.c_str());
}

TEST(DurableFileTest, AMoveToANameFoundFreeReplacesWhatTookTheNameMeanwhile) {
  const std::string target = TempPath("free.txt"), staged = TempPath("free.new");
  RemoveFile(target.c_str());
  WriteFile(staged, "first");
  ASSERT_TRUE(MoveToFreeNameUnsynced(staged.c_str(), target.c_str()));
  EXPECT_EQ(ReadFile(target), "first");
  EXPECT_FALSE(PathAccessible(staged.c_str()));
  // Taken by a read-only file: replaced all the same, keeping its bits.
  ASSERT_TRUE(SetWritable(target.c_str(), false));
  const int bits = PermissionBits(target.c_str());
  WriteFile(staged, "second");
  ASSERT_TRUE(MoveToFreeNameUnsynced(staged.c_str(), target.c_str()));
  EXPECT_EQ(ReadFile(target), "second");
  EXPECT_EQ(PermissionBits(target.c_str()), bits);
  SetWritable(target.c_str(), true);
  RemoveFile(target.c_str());
}

TEST(DurableFileTest, SyncFolderNeedsAFolder) {
  EXPECT_TRUE(SyncFolder(::testing::TempDir().c_str()));
  EXPECT_FALSE(SyncFolder(TempPath("no-such-folder").c_str()));
}

TEST(DurableFileTest, SyncFileSystemsOfNeedsEveryFolder) {
#ifdef __linux__
  const std::string here = ::testing::TempDir();
  EXPECT_TRUE(SyncFileSystemsOf({}));
  EXPECT_TRUE(SyncFileSystemsOf({here, here, "."}));
  EXPECT_FALSE(SyncFileSystemsOf({here, TempPath("no-such-folder")}));
#else
  EXPECT_FALSE(SyncFileSystemsOf({::testing::TempDir()}));  // flushed file by file
#endif
}

// The handles a watch keeps: one per file system, however many folders of
// it are watched, and a sync through them needs every folder to exist.
TEST(DurableFileTest, FileSystemWatchKeepsAHandleFromBeforeTheWrites) {
  const std::string here = ::testing::TempDir();
  FileSystemWatch watch;
#ifdef __linux__
  EXPECT_FALSE(watch.Watch(TempPath("no-such-folder")));
  ASSERT_TRUE(watch.Watch(here));
  EXPECT_TRUE(watch.Watch("."));
  const std::string file =
      TempPath(("watched" + std::to_string(std::random_device()()) + ".bin").c_str());
  {
    std::unique_ptr<FileStream> stream = FileStream::Open(file.c_str(), "wb");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->Write("data", 4), 4u);
  }
  EXPECT_TRUE(watch.Sync({here, here, "."}));
  EXPECT_TRUE(watch.Sync({}));
  EXPECT_FALSE(watch.Sync({here, TempPath("no-such-folder")}));
  std::remove(file.c_str());
#else
  EXPECT_FALSE(watch.Watch(here));
  EXPECT_FALSE(watch.Sync({here}));  // flushed file by file
#endif
}

}  // namespace
}  // namespace marrowgate::platform
