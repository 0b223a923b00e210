#include "package/manager/normalise_path.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "package/file/file_system.h"
#include "package/testing/temp_folder_testing.h"
#include "platform/env.h"

namespace marrowgate {
namespace {

std::string Normal(const char* path) {
  std::string out = "<unchanged>";
  EXPECT_TRUE(NormalisePath(path, &out)) << path;
  return out;
}

TEST(NormalisePathTest, CollapsesSeparatorsAndDots) {
  EXPECT_EQ(Normal("d:/a//b/./c/../f"), "d:/a/b/f");
  EXPECT_EQ(Normal("d:\\a\\\\b\\.\\c\\..\\f"), "d:/a/b/f");
  EXPECT_EQ(Normal("d:\\game\\patch"), "d:/game/patch");
  EXPECT_EQ(Normal("/x//y///z"), "/x/y/z");
  EXPECT_EQ(Normal("\\\\server\\share\\f"), "//server/share/f");
}

TEST(NormalisePathTest, SeparatorRunsAfterTheSecondCharacterBecomeOne) {
  // Right after a drive letter.
  EXPECT_EQ(Normal("d:\\\\x"), "d:/x");
  EXPECT_EQ(Normal("d://x"), "d:/x");
  EXPECT_EQ(Normal("d:/\\/x//"), "d:/x/");
  // The first two characters keep their separators; a run from the third
  // on becomes one.
  EXPECT_EQ(Normal("///a"), "///a");
  EXPECT_EQ(Normal("////a"), "///a");
  EXPECT_EQ(Normal("\\\\\\\\a"), "///a");
  EXPECT_EQ(Normal("//server//share"), "//server/share");
  EXPECT_EQ(Normal("/\\a"), "//a");
  // Dots stop at those separators.
  EXPECT_EQ(Normal("////a/../.."), "///");
  EXPECT_EQ(Normal("d://a/.."), "d:/");
}

TEST(NormalisePathTest, DotRunsRemoveThatManyLevels) {
  EXPECT_EQ(Normal("d:/a/b/c/.../f"), "d:/a/f");   // three dots: two levels
  EXPECT_EQ(Normal("d:/a/b/c/..../f"), "d:/f");
  EXPECT_EQ(Normal("d:/a/../../../f"), "d:/f");     // never above the root
  EXPECT_EQ(Normal("/a/...../b"), "/b");
  EXPECT_EQ(Normal("d:/a/name./b"), "d:/a/name./b");  // not only dots: kept
  EXPECT_EQ(Normal("d:/a/.b/c"), "d:/a/.b/c");
}

TEST(NormalisePathTest, TrailingSeparatorIsKept) {
  EXPECT_EQ(Normal("d:/game/patch/"), "d:/game/patch/");
  EXPECT_EQ(Normal("d:/game/patch//"), "d:/game/patch/");
  EXPECT_EQ(Normal("d:/game/patch/."), "d:/game/patch");
  EXPECT_EQ(Normal("d:/"), "d:/");
  EXPECT_EQ(Normal("/"), "/");
}

// Paths already in normal form take a shortcut; on random texts of
// separators, dots, drive colons and names it must give what every step
// gives, and fail alike.
TEST(NormalisePathTest, TheShortcutAgreesWithEveryStepOnRandomPaths) {
  std::mt19937 random(5);
  const char pieces[] = {'/', '\\', '.', 'a', ':'};
  for (int n = 0; n < 200000; ++n) {
    std::string path = random() % 2 ? "/" : "";
    const int length = static_cast<int>(random() % 16);
    for (int i = 0; i < length; ++i) path += pieces[random() % sizeof(pieces)];
    std::string quick = "unset", full = "unset";
    const bool quickOk = NormalisePath(path.c_str(), &quick);
    const bool fullOk = NormalisePathStepByStep(path.c_str(), &full);
    ASSERT_EQ(quickOk, fullOk) << path;
    ASSERT_EQ(quick, full) << path;
  }
  std::string out;
  EXPECT_FALSE(NormalisePath(("/" + std::string(kMaxDiskPath, 'a')).c_str(), &out));
}

TEST(NormalisePathTest, RelativePathsUseTheWorkingFolderOfEachCall) {
  std::string saved = platform::CurrentFolder();
  TestFolder folder;
  platform::MakeFolder(folder.Child("one").c_str());
  platform::MakeFolder(folder.Child("two").c_str());
  ASSERT_TRUE(platform::SetCurrentFolder(folder.Child("one").c_str()));
  std::string first = Normal("sub\\f.txt");
  ASSERT_TRUE(platform::SetCurrentFolder(folder.Child("two").c_str()));
  std::string second = Normal("../x/./f.txt");
  platform::SetCurrentFolder(saved.c_str());
  EXPECT_EQ(first, folder.Child("one/sub/f.txt"));
  EXPECT_EQ(second, folder.Child("x/f.txt"));
}

TEST(NormalisePathTest, RefusesNullAndOverlongResults) {
  std::string out = "kept";
  EXPECT_FALSE(NormalisePath(nullptr, &out));
  std::string longPath = "/" + std::string(kMaxDiskPath, 'a');
  EXPECT_FALSE(NormalisePath(longPath.c_str(), &out));
  EXPECT_EQ(out, "kept");
  // Long input that shrinks under normalisation is fine.
  std::string shrinking = "/a" + std::string(400, '/') + "b";
  EXPECT_TRUE(NormalisePath(shrinking.c_str(), &out));
  EXPECT_EQ(out, "/a/b");
}

}  // namespace
}  // namespace marrowgate
