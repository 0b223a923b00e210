#include "util/safe_path.h"

#include <gtest/gtest.h>

#include <string>

namespace marrowgate {
namespace {

TEST(SafePathTest, ComponentsOfOnlyDotsOrWithSeparatorsAreRefused) {
  EXPECT_TRUE(IsSafePathComponent("readme.txt"));
  EXPECT_TRUE(IsSafePathComponent(".hidden"));
  EXPECT_TRUE(IsSafePathComponent("name."));
  for (const char* bad : {"", ".", "..", "...", "a/b", "a\\b", "c:", "x:y"})
    EXPECT_FALSE(IsSafePathComponent(bad)) << bad;
  EXPECT_FALSE(IsSafePathComponent(std::string("a\0b", 3)));
}

TEST(SafePathTest, ContainedPathsStayBelowTheirFolder) {
  EXPECT_TRUE(IsContainedRelativePath("a"));
  EXPECT_TRUE(IsContainedRelativePath("a/b\\c.txt"));
  for (const char* bad : {"", "/a", "\\a", "a//b", "a/", "../a", "a/../../b", "a/.../b",
                          "c:/x", "c:x", "a/./b"})
    EXPECT_FALSE(IsContainedRelativePath(bad)) << bad;
}

TEST(SafePathTest, ListNamesCompareAsTheFileManagerDoes) {
  std::string name = "kept";
  EXPECT_TRUE(NormaliseListName("bin\\\\Tools//vave.exe/", &name));
  EXPECT_EQ(name, "bin/Tools/vave.exe");
  for (const char* bad : {"", "/", "/etc/passwd", "\\x", "../a", "a/../b", "c:/x", "a/./b"}) {
    name = "kept";
    EXPECT_FALSE(NormaliseListName(bad, &name)) << bad;
    EXPECT_EQ(name, "kept");
  }
  EXPECT_TRUE(ListNameBeginsWith("DATA\\ab", "data/a"));
  EXPECT_FALSE(ListNameBeginsWith("data", "data/a"));
  EXPECT_FALSE(ListNameBeginsWith("datb/a", "data/a"));
  EXPECT_TRUE(ListNameWithin("Bin\\vave.exe", "bin"));
  EXPECT_TRUE(ListNameWithin("bin/VAVE.EXE", "bin/vave.exe"));
  EXPECT_FALSE(ListNameWithin("binary/x", "bin"));
  EXPECT_FALSE(ListNameWithin("bin", "bin/vave.exe"));
}

}  // namespace
}  // namespace marrowgate
