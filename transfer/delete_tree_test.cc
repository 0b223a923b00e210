#include "transfer/delete_tree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/manager/file_manager.h"
#include "package/testing/temp_folder_testing.h"
#include "transfer/memory_file_system_testing.h"
#include "util/releaser.h"

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

}  // namespace
}  // namespace marrowgate
