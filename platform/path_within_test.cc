#include "platform/path_within.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/env.h"
#include "platform/file_tree.h"

namespace marrowgate::platform {
namespace {

namespace fs = std::filesystem;

// Whether this system spells paths the Windows way.
#ifdef _WIN32
constexpr bool kWindowsPaths = true;
#else
constexpr bool kWindowsPaths = false;
#endif

// The paths ResolvedPath gives, whatever their separators: a folder below
// the root is within it; the root, a sibling whose name starts with the
// root's, and the parent are not within the folder below.
TEST(PathWithin, ResolvedFoldersAndTheirSiblings) {
  const fs::path base = fs::path(::testing::TempDir()) /
                        ("mg_within_" + std::to_string(TickMilliseconds()));
  fs::create_directories(base / "root" / "old" / "deep");
  fs::create_directories(base / "rootx");
  auto resolved = [](const fs::path& path) {
    std::string out;
    EXPECT_TRUE(ResolvedPath(path.string().c_str(), &out, nullptr)) << path;
    return out;
  };
  const std::string root = resolved(base / "root");
  const std::string deep = resolved(base / "root" / "old" / "deep");
  const std::string sibling = resolved(base / "rootx");
  EXPECT_TRUE(PathIsAtOrBelow(root, root));
  EXPECT_TRUE(PathIsAtOrBelow(deep, root));
  EXPECT_TRUE(PathIsAtOrBelow(deep + "/name", root));
  EXPECT_TRUE(PathIsAtOrBelow(deep, root + "/"));
  EXPECT_FALSE(PathIsAtOrBelow(root, deep));
  EXPECT_FALSE(PathIsAtOrBelow(sibling, root));
  EXPECT_FALSE(PathIsAtOrBelow(resolved(base), root));
  fs::remove_all(base);
}

TEST(PathWithin, SpellingsBySystem) {
  EXPECT_FALSE(PathIsAtOrBelow("/a/b", ""));
  EXPECT_TRUE(PathIsAtOrBelow("/a/b/c", "/a/b"));
  EXPECT_FALSE(PathIsAtOrBelow("/a/bc", "/a/b"));
  EXPECT_FALSE(PathIsAtOrBelow("/a", "/a/b"));
  // A backslash is a separator on Windows and part of a name elsewhere.
  EXPECT_EQ(PathIsAtOrBelow("/a/b\\c", "/a/b"), kWindowsPaths);
  EXPECT_EQ(PathIsAtOrBelow("/a/b\\c", "/a/b\\"), kWindowsPaths);
  EXPECT_EQ(PathIsAtOrBelow("C:\\Games\\Client\\data", "C:\\Games\\Client"), kWindowsPaths);
  EXPECT_FALSE(PathIsAtOrBelow("C:\\Games\\Clientx", "C:\\Games\\Client"));
  // Names differing in case only are one name on Windows.
  EXPECT_EQ(PathIsAtOrBelow("/A/B/c", "/a/b"), kWindowsPaths);
  EXPECT_EQ(PathIsAtOrBelow("C:\\", "c:/"), kWindowsPaths);
  EXPECT_EQ(PathIsAtOrBelow("c:/x", "C:\\"), kWindowsPaths);
}

}  // namespace
}  // namespace marrowgate::platform
