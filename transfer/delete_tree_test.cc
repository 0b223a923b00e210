#include "transfer/delete_tree.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "package/manager/file_manager.h"
#include "package/testing/temp_folder_testing.h"
#include "platform/file_tree.h"
#include "transfer/testing/memory_file_system_testing.h"
#include "util/releaser.h"
#include "platform/testing/links_testing.h"

namespace marrowgate {
namespace {

using testing_fs::MemoryFileSystem;
using Log = std::vector<std::string>;

TEST(DeleteTreeTest, DeletesContentsBeforeEachFolderAndTheRootLast) {
  MemoryFileSystem fs;
  fs.AddFile("top/f.txt", "x");
  fs.AddFolder("top/empty");
  fs.AddFile("top/sub/g.txt", "y");
  EXPECT_TRUE(DeleteTree(&fs, "top"));
  EXPECT_EQ(fs.Log(), (Log{"file top/f.txt", "folder top/empty", "file top/sub/g.txt",
                           "folder top/sub", "folder top"}));
  EXPECT_EQ(fs.Find("top"), nullptr);
}

TEST(DeleteTreeTest, PlainFileIsDeletedDirectly) {
  MemoryFileSystem fs;
  fs.AddFile("a/f.txt", "x");
  EXPECT_TRUE(DeleteTree(&fs, "a/f.txt"));
  EXPECT_EQ(fs.Log(), (Log{"file a/f.txt"}));
  EXPECT_FALSE(DeleteTree(&fs, "a/missing.txt"));
}

TEST(DeleteTreeTest, UndeletableFileStopsAndKeepsTheRest) {
  MemoryFileSystem fs;
  fs.AddFile("top/a.txt", "x");
  fs.AddFile("top/b.txt", "y")->deleteFails = true;
  fs.AddFile("top/c.txt", "z");
  EXPECT_FALSE(DeleteTree(&fs, "top"));
  EXPECT_EQ(fs.Log(), (Log{"file top/a.txt"}));
  EXPECT_TRUE(fs.HasFile("top/b.txt"));
  EXPECT_TRUE(fs.HasFile("top/c.txt"));
  EXPECT_TRUE(fs.IsFolder("top"));
}

TEST(DeleteTreeTest, FolderInsideAPackage) {
  TestFolder folder;
  const std::string package = folder.Child("store");
  FileManagerConfig config;
  config.searchMode = 3;
  config.ownFileSystem = 1;
  config.fileSystem = CreateFileSystem();
  config.defaultMode = kOpenUpdate;
  Owned<FileManager> manager(new FileManager(config));
  ASSERT_EQ(0, manager->EnsurePackage(package.c_str(), ".dpk", kOpenCreate));
  for (const char* item : {"/top/a", "/top/b", "/top/c", "/top/sub/d", "/kept"}) {
    const std::string path = package + item;
    ASSERT_EQ(0, manager->MakeParentFolder(path.c_str()));
    Owned<VirtualFile> file(manager->Open(path.c_str(), kOpenCreate));
    ASSERT_NE(file, nullptr) << item;
  }
  // The walk deletes each entry while the package listing is handing them out.
  EXPECT_TRUE(DeleteTree(manager.get(), (package + "/top").c_str()));
  EXPECT_FALSE(manager->Exists((package + "/top").c_str()));
  EXPECT_TRUE(manager->Exists((package + "/kept").c_str()));
}

// On the disk a name is removed as a name: links inside a removed folder
// (to a folder outside, to "..") and a listed link are removed as links;
// a name whose folder lies outside the root once links are resolved is
// refused; a link to a folder on the way that stays inside is followed.
TEST(DeleteTreeTest, OnTheDiskNothingIsReachedThroughALink) {
  namespace fs = std::filesystem;
  TestFolder folder;
  const fs::path root = folder.Child("install");
  const fs::path outside = folder.Child("outside");
  fs::create_directories(outside / "cache");
  std::ofstream(outside / "cache/private.txt") << "private";
  std::ofstream(outside / "moved.bin") << "moved";
  fs::create_directories(root / "old/sub");
  fs::create_directories(root / "real");
  std::ofstream(root / "old/sub/a.txt") << "a";
  std::ofstream(root / "keep.txt") << "keep";
  std::ofstream(root / "real/gone.txt") << "gone";
  platform::MakeTestLink(outside / "cache", root / "old/cache", true);
  platform::MakeTestLink("..", root / "old/up", true);
  platform::MakeTestFifo((root / "old/fifo").string());
  // Where the system makes no links, "data" and "inner" are not there: a
  // path through them names nothing, and nothing is deleted.
  const bool dataLinked = platform::MakeTestLink(outside, root / "data", true);
  const bool innerLinked = platform::MakeTestLink(root / "real", root / "inner", true);

  Owned<FileManager> manager(CreateFileManager(FileManagerOptions()));
  std::string reason;
  EXPECT_EQ(DeleteWithin(manager.get(), root.string(), "old", &reason), kDeleteWithinDone)
      << reason;
  EXPECT_EQ(DeleteWithin(manager.get(), root.string(), "data/moved.bin", &reason),
            dataLinked ? kDeleteWithinRefused : kDeleteWithinDone);
  EXPECT_EQ(DeleteWithin(manager.get(), root.string(), "../outside/moved.bin", &reason),
            kDeleteWithinRefused);
  EXPECT_EQ(DeleteWithin(manager.get(), root.string(), "inner/gone.txt", &reason),
            kDeleteWithinDone);
  EXPECT_EQ(DeleteWithin(manager.get(), root.string(), "data", &reason), kDeleteWithinDone);
  EXPECT_EQ(DeleteWithin(manager.get(), root.string(), "not/there", &reason), kDeleteWithinDone);

  EXPECT_FALSE(fs::exists(fs::symlink_status(root / "old")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(root / "data")));
  EXPECT_EQ(fs::exists(root / "real/gone.txt"), !innerLinked);
  EXPECT_TRUE(fs::exists(root / "keep.txt"));
  EXPECT_TRUE(fs::exists(root / "real"));
  EXPECT_TRUE(fs::exists(outside / "cache/private.txt"));
  EXPECT_TRUE(fs::exists(outside / "moved.bin"));

  // DeleteTree over the disk alone does the same.
  fs::create_directories(root / "again");
  platform::MakeTestLink(outside / "cache", root / "again/cache", true);
  Owned<FileSystem> disk(CreateFileSystem());
  EXPECT_TRUE(DeleteTree(disk.get(), (root / "again").string().c_str()));
  EXPECT_FALSE(fs::exists(root / "again"));
  EXPECT_TRUE(fs::exists(outside / "cache/private.txt"));
  EXPECT_FALSE(DeleteTree(disk.get(), (root / "again").string().c_str()));
}

}  // namespace
}  // namespace marrowgate
