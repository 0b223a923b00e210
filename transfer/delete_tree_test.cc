#include "transfer/delete_tree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "transfer/memory_file_system_testing.h"

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

}  // namespace
}  // namespace marrowgate
