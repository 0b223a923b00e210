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

}  // namespace
}  // namespace marrowgate
