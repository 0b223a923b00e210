#include "tools/pack_names.h"

#include <gtest/gtest.h>

namespace marrowgate {
namespace {

TEST(GlobMatchTest, StarAndQuestionMarkStayWithinOneComponent) {
  EXPECT_TRUE(GlobMatch("*.txt", "readme.txt"));
  EXPECT_FALSE(GlobMatch("*.txt", "docs/readme.txt"));
  EXPECT_TRUE(GlobMatch("docs/*.txt", "docs/readme.txt"));
  EXPECT_TRUE(GlobMatch("*/*", "a/b"));
  EXPECT_FALSE(GlobMatch("*", "a/b"));
  EXPECT_TRUE(GlobMatch("?.c", "a.c"));
  EXPECT_FALSE(GlobMatch("?.c", "ab.c"));
  EXPECT_FALSE(GlobMatch("a?b", "a/b"));
  EXPECT_TRUE(GlobMatch("*", ""));
  EXPECT_TRUE(GlobMatch("a*b*c", "aXbYbZc"));
  EXPECT_FALSE(GlobMatch("a*b*c", "aXbYbZ"));
  EXPECT_TRUE(GlobMatch("**", "abc"));
}

TEST(GlobMatchTest, BracketsAndEscapes) {
  EXPECT_TRUE(GlobMatch("[abc].x", "b.x"));
  EXPECT_FALSE(GlobMatch("[abc].x", "d.x"));
  EXPECT_TRUE(GlobMatch("[a-c]1", "c1"));
  EXPECT_TRUE(GlobMatch("[!a-c]1", "d1"));
  EXPECT_FALSE(GlobMatch("[!a-c]1", "a1"));
  EXPECT_TRUE(GlobMatch("[]]", "]"));
  EXPECT_TRUE(GlobMatch("a[", "a["));  // not closed: an ordinary character
  EXPECT_TRUE(GlobMatch("\\*", "*"));
  EXPECT_FALSE(GlobMatch("\\*", "x"));
  EXPECT_FALSE(GlobMatch("[a-z]", "/"));
}

TEST(PathPatternTest, AFolderSelectsEverythingBelowIt) {
  EXPECT_TRUE(MatchesPathPattern("data", "data"));
  EXPECT_TRUE(MatchesPathPattern("data", "data/maps/one.map"));
  EXPECT_TRUE(MatchesPathPattern("data/", "data/x"));
  EXPECT_TRUE(MatchesPathPattern("d*", "data/x"));
  EXPECT_FALSE(MatchesPathPattern("data", "database/x"));
  EXPECT_FALSE(MatchesPathPattern("maps", "data/maps/one.map"));
}

TEST(ExcludePatternTest, NamesMatchAtAnyDepthPathsFromTheTop) {
  EXPECT_TRUE(MatchesExcludePattern("*.o", "a.o"));
  EXPECT_TRUE(MatchesExcludePattern("*.o", "deep/down/b.o"));
  EXPECT_TRUE(MatchesExcludePattern("cache", "x/cache/y"));
  EXPECT_FALSE(MatchesExcludePattern("*.o", "a.oo"));
  EXPECT_TRUE(MatchesExcludePattern("build/*.o", "build/a.o"));
  EXPECT_FALSE(MatchesExcludePattern("build/*.o", "src/build/a.o"));
}

TEST(FoldedNameTest, OnlyAsciiLettersFold) {
  EXPECT_EQ(FoldedName("ReadMe.txt"), "README.TXT");
  EXPECT_EQ(FoldedName("\xc3\xa9t\xc3\xa9"), "\xc3\xa9T\xc3\xa9");  // bytes above 0x7f stay
  EXPECT_EQ(FoldedName("a_[z]"), "A_[Z]");
}

TEST(EscapedNameTest, ControlCharactersAndBackslashes) {
  EXPECT_EQ(EscapedName("plain name.txt"), "plain name.txt");
  EXPECT_EQ(EscapedName("a\nb\tc\rd"), "a\\nb\\tc\\rd");
  EXPECT_EQ(EscapedName(std::string("\x01\x7f", 2)), "\\x01\\x7f");
  EXPECT_EQ(EscapedName("back\\slash"), "back\\\\slash");
  EXPECT_EQ(EscapedName("\xc3\xa9"), "\xc3\xa9");
}

TEST(JsonStringTest, EscapesWhatJsonRequires) {
  EXPECT_EQ(JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(JsonString("line\n"), "\"line\\n\"");
  EXPECT_EQ(JsonString(std::string("\x01", 1)), "\"\\u0001\"");
}

TEST(HumanSizeTest, PowersOf1024) {
  EXPECT_EQ(HumanSize(0), "0");
  EXPECT_EQ(HumanSize(1023), "1023");
  EXPECT_EQ(HumanSize(1024), "1.0K");
  EXPECT_EQ(HumanSize(1536), "1.5K");
  EXPECT_EQ(HumanSize(20 * 1024 * 1024), "20M");
  EXPECT_EQ(HumanSize(uint64_t{3} << 30), "3.0G");
}

}  // namespace
}  // namespace marrowgate
