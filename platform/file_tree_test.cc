#include "platform/file_tree.h"
#include "platform/testing/links_testing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace marrowgate::platform {
namespace {

namespace fs = std::filesystem;

// A device every process can open.
#ifdef _WIN32
constexpr const char* kDevice = "NUL";
#else
constexpr const char* kDevice = "/dev/zero";
#endif

TEST(NodeStatusTest, TellsWhatAPathIs) {
  const std::string path = ::testing::TempDir() + "file_tree_status";
  std::error_code ignored;
  fs::permissions(path, fs::perms::owner_write, fs::perm_options::add, ignored);
  std::remove(path.c_str());
  { std::ofstream(path) << "eleven byte"; }
  NodeStatus status;
  ASSERT_TRUE(StatusOf(path.c_str(), &status, nullptr));
  EXPECT_EQ(status.kind, NodeKind::kFile);
  EXPECT_EQ(status.size, 11u);
  EXPECT_TRUE(status.writable);
  fs::permissions(path, fs::perms::owner_write, fs::perm_options::remove);
  ASSERT_TRUE(StatusOf(path.c_str(), &status, nullptr));
  EXPECT_FALSE(status.writable);
  // Windows deletes no read-only file.
  fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
  std::remove(path.c_str());
  PathFailure failure = PathFailure::kNone;
  EXPECT_FALSE(StatusOf(path.c_str(), &status, nullptr, &failure));  // gone
  EXPECT_EQ(failure, PathFailure::kMissing);
  ASSERT_TRUE(StatusOf(::testing::TempDir().c_str(), &status, nullptr));
  EXPECT_EQ(status.kind, NodeKind::kFolder);
  ASSERT_TRUE(StatusOf(kDevice, &status, nullptr));
  EXPECT_EQ(status.kind, NodeKind::kDevice);
}

class FileTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::path(::testing::TempDir()) /
            ("mg_tree_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(root_);
    fs::create_directories(root_);
    std::ofstream(root_ / "file") << "12345";
  }
  void TearDown() override { fs::remove_all(root_); }
  std::string Path(const char* name) const { return (root_ / name).string(); }
  fs::path root_;
};

// Links inside the removed tree (to a folder outside, to "..", to a file,
// dangling) go as names; what they lead to stays. FIFOs go without being
// opened.
TEST_F(FileTreeTest, RemovingATreeNeverFollowsLinks) {
  fs::create_directories(root_ / "outside/deep");
  std::ofstream(root_ / "outside/deep/kept.txt") << "outside";
  fs::create_directories(root_ / "install/old/sub");
  std::ofstream(root_ / "install/keep.txt") << "keep";
  std::ofstream(root_ / "install/old/sub/a.txt") << "a";
  MakeTestLink(root_ / "outside", root_ / "install/old/cache", true);
  MakeTestLink("..", root_ / "install/old/up", true);
  MakeTestLink(root_ / "install/keep.txt", root_ / "install/old/sub/file_link");
  MakeTestLink(root_ / "missing", root_ / "install/old/dangling");
  MakeTestFifo(Path("install/old/sub/fifo"));
  MakeTestLink(root_ / "outside", root_ / "install/data", true);

  std::string reason;
  EXPECT_TRUE(RemoveTreeNoFollow(Path("install/old").c_str(), &reason)) << reason;
  EXPECT_FALSE(fs::exists(fs::symlink_status(root_ / "install/old")));
  EXPECT_TRUE(RemoveTreeNoFollow(Path("install/data").c_str(), &reason)) << reason;
  EXPECT_FALSE(fs::exists(fs::symlink_status(root_ / "install/data")));
  EXPECT_TRUE(RemoveTreeNoFollow(Path("install/not_there").c_str(), &reason));

  EXPECT_TRUE(fs::exists(root_ / "outside/deep/kept.txt"));
  EXPECT_TRUE(fs::exists(root_ / "install/keep.txt"));
  EXPECT_TRUE(fs::exists(root_ / "file"));
}

TEST_F(FileTreeTest, RemovingATreeReportsWhatStays) {
  if (PermissionsAreBypassed()) GTEST_SKIP() << "permissions do not hold root back";
  fs::create_directories(root_ / "tree/locked");
  std::ofstream(root_ / "tree/locked/stays.txt") << "x";
  std::ofstream(root_ / "tree/goes.txt") << "x";
#ifdef _WIN32
  // A read-only folder holds nothing back on Windows; a file open without
  // delete sharing does.
  std::ifstream held(root_ / "tree/locked/stays.txt");
  std::string reason;
  bool removed = RemoveTreeNoFollow(Path("tree").c_str(), &reason);
  held.close();
#else
  fs::permissions(root_ / "tree/locked", fs::perms::owner_read | fs::perms::owner_exec);
  std::string reason;
  bool removed = RemoveTreeNoFollow(Path("tree").c_str(), &reason);
  fs::permissions(root_ / "tree/locked", fs::perms::owner_all);
#endif
  EXPECT_FALSE(removed);
  EXPECT_FALSE(reason.empty());
  EXPECT_TRUE(fs::exists(root_ / "tree/locked/stays.txt"));
  EXPECT_FALSE(fs::exists(root_ / "tree/goes.txt"));
}

TEST_F(FileTreeTest, LinksAreSeenAsLinksOrFollowed) {
  NodeStatus status;
  std::string reason;
  PathFailure failure;
  if (!MakeTestLink(root_ / "file", root_ / "link")) {
    // No links on this system: the name is simply missing.
    EXPECT_FALSE(LinkStatusOf(Path("link").c_str(), &status, &reason));
    EXPECT_FALSE(StatusOf(Path("link").c_str(), &status, &reason, &failure));
    EXPECT_EQ(failure, PathFailure::kMissing);
    return;
  }
  MakeTestLink(root_ / "missing", root_ / "dangling");
  MakeTestLink(root_ / "loop", root_ / "loop");
  ASSERT_TRUE(LinkStatusOf(Path("link").c_str(), &status, nullptr));
  EXPECT_EQ(status.kind, NodeKind::kLink);
  ASSERT_TRUE(StatusOf(Path("link").c_str(), &status, nullptr));
  EXPECT_EQ(status.kind, NodeKind::kFile);
  EXPECT_EQ(status.size, 5u);
  EXPECT_TRUE(SameNode(Path("link").c_str(), Path("file").c_str()));

  EXPECT_FALSE(StatusOf(Path("dangling").c_str(), &status, &reason, &failure));
  EXPECT_EQ(failure, PathFailure::kMissing);
  EXPECT_EQ(reason, "No such file or directory");
  EXPECT_FALSE(StatusOf(Path("loop").c_str(), &status, &reason, &failure));
  EXPECT_EQ(failure, PathFailure::kLinkLoop);
}

TEST_F(FileTreeTest, FolderNamesLeaveOutDots) {
  fs::create_directories(root_ / "sub");
  std::vector<std::string> names;
  ASSERT_TRUE(FolderNames(root_.string().c_str(), &names, nullptr));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"file", "sub"}));
  std::string reason;
  EXPECT_FALSE(FolderNames(Path("file").c_str(), &names, &reason));
  EXPECT_EQ(reason, "Not a directory");
}

TEST_F(FileTreeTest, CreateNewNeverWritesThroughALink) {
  // Where no link can be made, the file itself is in the way.
  const bool linked = MakeTestLink(root_ / "file", root_ / "link");
  std::string reason;
  EXPECT_EQ(RawFile::CreateNew(Path(linked ? "link" : "file").c_str(), &reason), nullptr);
  EXPECT_EQ(reason, "File exists");
  EXPECT_EQ(fs::file_size(root_ / "file"), 5u);
  std::unique_ptr<RawFile> out = RawFile::CreateNew(Path("new").c_str(), &reason);
  ASSERT_NE(out, nullptr);
  EXPECT_TRUE(out->WriteAll("abc", 3, nullptr));
  EXPECT_TRUE(out->Close(nullptr));
  std::unique_ptr<RawFile> in = RawFile::OpenForReading(Path("new").c_str(), nullptr);
  ASSERT_NE(in, nullptr);
  char buffer[8];
  EXPECT_EQ(in->Read(buffer, sizeof buffer, nullptr), 3);
  EXPECT_EQ(in->Read(buffer, sizeof buffer, nullptr), 0);
}

// Windows has no FIFOs; its special file is a device.
TEST_F(FileTreeTest, OpeningAFifoForReadingNeitherBlocksNorSucceeds) {
  std::string reason;
  if (MakeTestFifo(Path("pipe"))) {
    NodeStatus status;
    ASSERT_TRUE(LinkStatusOf(Path("pipe").c_str(), &status, nullptr));
    EXPECT_EQ(status.kind, NodeKind::kFifo);
    EXPECT_EQ(RawFile::OpenForReading(Path("pipe").c_str(), &reason), nullptr);
    EXPECT_EQ(reason, "not a regular file");
  }
  reason.clear();
  EXPECT_EQ(RawFile::OpenForReading(kDevice, &reason), nullptr);
  EXPECT_EQ(reason, "not a regular file");
}

TEST_F(FileTreeTest, RenameReplacesALinkInsteadOfFollowingIt) {
  std::ofstream(root_ / "target") << "old";
  MakeTestLink(root_ / "target", root_ / "link");
  std::ofstream(root_ / "fresh") << "new";
  ASSERT_TRUE(RenameReplacing(Path("fresh").c_str(), Path("link").c_str(), nullptr));
  EXPECT_FALSE(fs::is_symlink(root_ / "link"));
  std::ifstream target(root_ / "target");
  std::string content;
  target >> content;
  EXPECT_EQ(content, "old");
}

TEST_F(FileTreeTest, MakeOneFolderAcceptsAnExistingFolderOnly) {
  std::string reason;
  EXPECT_TRUE(MakeOneFolder(Path("made").c_str(), &reason));
  EXPECT_TRUE(MakeOneFolder(Path("made").c_str(), &reason));
  EXPECT_FALSE(MakeOneFolder(Path("file").c_str(), &reason));
  EXPECT_EQ(reason, "Not a directory");
}

}  // namespace
}  // namespace marrowgate::platform
