#include "util/text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/env.h"

namespace marrowgate {
namespace {

TEST(EscapeTest, ControlCharactersBecomeVisible) {
  EXPECT_EQ(EscapeControlCharacters("plain/name.txt"), "plain/name.txt");
  EXPECT_EQ(EscapeControlCharacters(std::string("a\nb\tc\rd\x1b]0;title\x07\x7f\0e", 20)),
            "a\\nb\\tc\\rd\\x1b]0;title\\x07\\x7f\\x00e");
  EXPECT_EQ(EscapeControlCharacters("dir\\k\xc3\xa9"), "dir\\k\xc3\xa9");
}

TEST(TrimTest, InPlace) {
  char text[] = " \t hello world\r\n";
  EXPECT_EQ(Trim(text), 11u);
  EXPECT_STREQ(text, "hello world");
  char blank[] = " \r\n\t";
  EXPECT_EQ(Trim(blank), 0u);
  EXPECT_STREQ(blank, "");
  char quoted[] = "\"'x'\"";
  EXPECT_EQ(TrimChars(quoted, "\"'"), 1u);
  EXPECT_STREQ(quoted, "x");
  EXPECT_EQ(TrimView("  a b  "), "a b");
}

TEST(CopyTest, BoundedCopyAlwaysTerminates) {
  char buffer[4];
  EXPECT_FALSE(CopyBounded(buffer, sizeof buffer, "abcdef"));
  EXPECT_STREQ(buffer, "abc");
  EXPECT_TRUE(CopyBounded(buffer, sizeof buffer, "ab"));
  EXPECT_STREQ(buffer, "ab");
}

TEST(CopyTest, CopyWalksAZeroSeparatedList) {
  const char list[] = "one\0two\0";
  char buffer[8];
  const char* next = CopyText(buffer, sizeof buffer, list);
  EXPECT_STREQ(buffer, "one");
  ASSERT_EQ(next, list + 4);
  EXPECT_NE(CopyText(buffer, sizeof buffer, next), nullptr);
  EXPECT_STREQ(buffer, "two");
  EXPECT_EQ(CopyText(buffer, 3, "two"), nullptr);
  EXPECT_STREQ(buffer, "");
}

TEST(ListTest, FindInListAndFindLastOf) {
  const char* names[] = {"vave.exe", "zivoridor.dll", nullptr};
  EXPECT_EQ(FindInList(names, "zivoridor.dll"), 1);
  EXPECT_EQ(FindInList(names, "VAVE.EXE"), -1);
  char found = 0;
  const char* path = "a/b\\c.txt";
  EXPECT_EQ(FindLastOf(path, "/\\", &found), path + 3);
  EXPECT_EQ(found, '\\');
  EXPECT_EQ(FindLastOf("name", "/\\", &found), nullptr);
}

TEST(CollapseRunsTest, OneReplacementPerRun) {
  char out[32];
  EXPECT_EQ(CollapseRuns(out, sizeof out, "a//b\\/c/", "/\\", '/'), 6);
  EXPECT_STREQ(out, "a/b/c/");
  EXPECT_EQ(CollapseRuns(out, 3, "abc", "/", '/'), -1);
  EXPECT_STREQ(out, "");
}

TEST(ReplaceCharTest, CountsAndReplacesWithinLimit) {
  char text[] = "a\\b\\c\\d";
  EXPECT_EQ(ReplaceChar(text, 4, '\\', '/'), 2);
  EXPECT_STREQ(text, "a/b/c\\d");
  EXPECT_EQ(ReplaceChar(text, std::strlen(text), '/', '\0'), 2);  // counts only
  EXPECT_STREQ(text, "a/b/c\\d");
  EXPECT_EQ(ReplaceChar(text, 0, 'a', 'A'), 1);  // at least one byte
  EXPECT_EQ(text[0], 'A');
}

TEST(SplitAlternativesTest, Pieces) {
  std::vector<std::string_view> pieces;
  EXPECT_EQ(SplitAlternatives("a|bc||d", &pieces), 4);
  EXPECT_EQ(pieces, (std::vector<std::string_view>{"a", "bc", "", "d"}));
  EXPECT_EQ(SplitAlternatives("", &pieces), 0);
  EXPECT_EQ(SplitAlternatives("a|", &pieces), -1);
  EXPECT_TRUE(pieces.empty());
}

TEST(RandomBytesTest, FollowsTheCGenerator) {
  unsigned char first[16], second[16];
  platform::CSeedRand(7);
  RandomBytes(first, sizeof first);
  platform::CSeedRand(7);
  RandomBytes(second, sizeof second);
  EXPECT_EQ(std::memcmp(first, second, sizeof first), 0);
  platform::CSeedRand(7);
  EXPECT_EQ(first[0], static_cast<unsigned char>(platform::CRand()));
}

}  // namespace
}  // namespace marrowgate

namespace marrowgate {
namespace {

TEST(FormatTextTest, FormatsTextsOfAnyLength) {
  EXPECT_EQ(FormatText("rst:%d %s%s", -14, "x", "\n"), "rst:-14 x\n");
  EXPECT_EQ(FormatText("%s", ""), "");
  std::string longText(5000, 'q');
  EXPECT_EQ(FormatText("<%s>", longText.c_str()), "<" + longText + ">");
}

}  // namespace
}  // namespace marrowgate
