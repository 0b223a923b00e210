#include "config/include_path.h"

#include <gtest/gtest.h>

#include <string>

namespace marrowgate {
namespace {

std::string Join(std::string_view directory, std::string_view name) {
  std::string path;
  EXPECT_TRUE(JoinIncludePath(directory, name, &path));
  return path;
}

TEST(IncludePathTest, Rules) {
  EXPECT_EQ(Join("", "net.txt"), "net.txt");
  EXPECT_EQ(Join("cfg", "/etc/net.txt"), "/etc/net.txt");
  EXPECT_EQ(Join("cfg", "\\net.txt"), "\\net.txt");
  EXPECT_EQ(Join("cfg", "C:\\net.txt"), "C:\\net.txt");
  EXPECT_EQ(Join("cfg\\sub", "inc/net.txt"), "cfg\\sub/inc/net.txt");
  EXPECT_EQ(Join("cfg\\sub", "./net.txt"), "cfg/sub/net.txt");
  EXPECT_EQ(Join("a/b/c", "../net.txt"), "a/b/net.txt");
  EXPECT_EQ(Join("a/b/c", ".././..\\net.txt"), "a/net.txt");
  EXPECT_EQ(Join("a/b", ".hidden"), "a/b/.hidden");
}

TEST(IncludePathTest, ExtraParentPrefixesStayRelative) {
  EXPECT_EQ(Join("a", "../net.txt"), "net.txt");
  EXPECT_EQ(Join("a", "../../net.txt"), "../net.txt");
  EXPECT_EQ(Join("a/b", "../../../../x"), "../../x");
  // Above a root the prefixes are dropped.
  EXPECT_EQ(Join("/etc", "../../x"), "/x");
  EXPECT_EQ(Join("C:/a", "../../x"), "C:/x");
}

TEST(IncludePathTest, TooLongIsRefused) {
  std::string path = "old";
  EXPECT_FALSE(JoinIncludePath(std::string(200, 'd'), std::string(59, 'n'), &path));
  EXPECT_TRUE(path.empty());
  EXPECT_TRUE(JoinIncludePath(std::string(200, 'd'), std::string(58, 'n'), &path));
  EXPECT_EQ(path.size(), 259u);
}

TEST(IncludePathTest, DirectoryOf) {
  EXPECT_EQ(DirectoryOf("a/b\\c.txt"), "a/b");
  EXPECT_EQ(DirectoryOf("c.txt"), "");
  EXPECT_EQ(DirectoryOf("/c.txt"), "");
}

}  // namespace
}  // namespace marrowgate
