#include "util/scan_fields.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/env.h"
#include "util/charset.h"
#include "util/values.h"

namespace marrowgate {
namespace {

TEST(ScanFieldsTest, FirstWordAndRestWithWhitespace) {
  char word[64], rest[64];
  EXPECT_EQ(ScanFields("sa", "  word   more words  ", "", word, rest), 2);
  EXPECT_STREQ(word, "word");
  EXPECT_STREQ(rest, "more words");
  EXPECT_EQ(ScanFields("sa", "", "", word, rest), 0);
  EXPECT_EQ(ScanFields("sa", " \t\r\n", "", word, rest), 0);
  EXPECT_EQ(ScanFields("sa", "single", "", word, rest), 1);
  EXPECT_STREQ(word, "single");
}

TEST(ScanFieldsTest, SkipLetter) {
  char name[32], value[32];
  EXPECT_EQ(ScanFields("*sa", "#define NAME some value", "", name, value), 3);
  EXPECT_STREQ(name, "NAME");
  EXPECT_STREQ(value, "some value");
}

TEST(ScanFieldsTest, LiteralSeparatorKeepsFurtherSeparatorsInRest) {
  char key[32], value[32];
  EXPECT_EQ(ScanFields("sa", "key = a=b", "=", key, value), 2);
  EXPECT_STREQ(key, "key");
  EXPECT_STREQ(value, "a=b");
  EXPECT_EQ(ScanFields("sa", "key =", "=", key, value), 1);
  EXPECT_STREQ(key, "key");
  std::string head, tail;
  EXPECT_EQ(ScanFields("sa", "ns::TYPE::field", "::", &head, &tail), 2);
  EXPECT_EQ(head, "ns");
  EXPECT_EQ(tail, "TYPE::field");
}

TEST(ScanFieldsTest, OneNumberFillsOnlyTheFirstInteger) {
  int32_t first = -1, second = -1;
  EXPECT_EQ(ScanFields("dd", "42", ",", &first, &second), 1);
  EXPECT_EQ(first, 42);
  EXPECT_EQ(second, -1);
}

TEST(ScanFieldsTest, EveryTypedLetter) {
  bool flag = false;
  int32_t d = 0;
  int16_t o = 0;
  uint8_t y = 0;
  int64_t wide = 0;
  float f = 0;
  int32_t when = 0;
  char text[8];
  platform::SetTimeZone("UTC0");
  EXPECT_EQ(ScanFields("bdoyIf*ts", "yes,2+3,70000,300,0x100000000,2.5,skipped,1970-01-02,end", ",",
                       &flag, &d, &o, &y, &wide, &f, ScanTarget::Time(&when), text),
            9);
  platform::SetTimeZone(nullptr);
  EXPECT_TRUE(flag);
  EXPECT_EQ(d, 5);
  EXPECT_EQ(o, static_cast<int16_t>(70000));
  EXPECT_EQ(y, static_cast<uint8_t>(300));
  EXPECT_EQ(wide, 0x100000000LL);
  EXPECT_FLOAT_EQ(f, 2.5f);
  EXPECT_EQ(when, 86400);
  EXPECT_STREQ(text, "end");
}

TEST(ScanFieldsTest, EmptyFieldsBetweenAdjacentSeparators) {
  std::string a, b, c;
  EXPECT_EQ(ScanFields("sss", ",,x", ",", &a, &b, &c), 3);
  EXPECT_EQ(a, "");
  EXPECT_EQ(b, "");
  EXPECT_EQ(c, "x");
  // A separator at the very end adds no field.
  EXPECT_EQ(ScanFields("sss", "p,q,", ",", &a, &b, &c), 2);
}

TEST(ScanFieldsTest, StopsAtUnknownLetterNullTargetOrMissingTarget) {
  int32_t a = 0, b = 0;
  EXPECT_EQ(ScanFields("dzd", "1,2", ",", &a, &b), 1);
  EXPECT_EQ(ScanFields("dd", "1,2", ",", &a, static_cast<int32_t*>(nullptr)), 1);
  EXPECT_EQ(ScanFields("dd", "1,2", ",", &a), 1);
}

TEST(ScanFieldsTest, WrongTargetKindIsReported) {
  int16_t small = 0;
  int32_t value = 0;
  EXPECT_EQ(ScanFields("d", "5", ",", &small), kScanWrongTarget);
  EXPECT_EQ(ScanFields("t", "5", ",", &value), kScanWrongTarget);  // needs ScanTarget::Time
  EXPECT_EQ(ScanFields("s", "5", ",", &value), kScanWrongTarget);
}

TEST(ScanFieldsTest, TextLongerThanItsBufferIsRefused) {
  char small[4] = "old";
  char first[8];
  EXPECT_EQ(ScanFields("ss", "ok,toolong", ",", first, small), kScanRefused);
  EXPECT_STREQ(first, "ok");
  EXPECT_STREQ(small, "");
  EXPECT_EQ(ScanFields("s", "abc", ",", small), 1);  // exactly fits
  EXPECT_STREQ(small, "abc");
  char raw[16];
  EXPECT_EQ(ScanFields("s", "whatever", ",", ScanTarget::Text(raw, 4)), kScanRefused);
  EXPECT_EQ(ScanFields("s", "abc", ",", ScanTarget::Text(raw, 4)), 1);
}

TEST(ScanFieldsTest, NumericFieldLimit) {
  int32_t value = -1;
  std::string atLimit = std::string(kMaxFieldValueText - 2, '0') + "42";
  EXPECT_EQ(ScanFields("d", "  " + atLimit + "  ", ",", &value), 1);
  EXPECT_EQ(value, 42);
  EXPECT_EQ(ScanFields("d", "0" + atLimit, ",", &value), kScanRefused);
  EXPECT_EQ(value, 0);
  bool flag = true;
  EXPECT_EQ(ScanFields("b", std::string(kMaxFieldValueText + 1, '1'), ",", &flag), kScanRefused);
  EXPECT_FALSE(flag);
}

TEST(ScanFieldsAtTest, WalksAPathOneComponentAtATime) {
  const std::string path = "/data//mb\\etc/version.txt";
  std::vector<std::string> parts;
  size_t cursor = 0;
  char part[260];
  while (ScanFieldsAt(&cursor, "s", path, "\x01/\\", part) == 1) parts.push_back(part);
  EXPECT_EQ(parts, (std::vector<std::string>{"", "data", "", "mb", "etc", "version.txt"}));
  EXPECT_EQ(cursor, path.size());
  EXPECT_EQ(ScanFieldsAt(&cursor, "s", path, "\x01/\\", part), 0);
}

TEST(ScanFieldsAtTest, HandsOutOneWordAtATime) {
  std::vector<std::string> words;
  size_t cursor = 0;
  std::string word;
  while (ScanFieldsAt(&cursor, "s", "  && A\tB  C ", "", &word) == 1) words.push_back(word);
  EXPECT_EQ(words, (std::vector<std::string>{"&&", "A", "B", "C"}));
}

TEST(ScanFieldsAtTest, CursorStaysAtARefusedField) {
  size_t cursor = 0;
  char part[4];
  EXPECT_EQ(ScanFieldsAt(&cursor, "s", "ab/toolong/c", "\x01/", part), 1);
  EXPECT_EQ(cursor, 3u);
  EXPECT_EQ(ScanFieldsAt(&cursor, "s", "ab/toolong/c", "\x01/", part), kScanRefused);
  EXPECT_EQ(cursor, 3u);
}

TEST(ScanFieldsTest, DoubleByteCharactersAreSteppedOverWhole) {
  // 0x5C ('\\') is the second byte of this code page 932 character.
  const std::string path = "\x95\x5C/x";
  std::string first, second;
  EXPECT_EQ(ScanFields("ss", path, "\x01/\\", &first, &second), 2);
  EXPECT_EQ(first, "\x95");
  ASSERT_TRUE(SetCodePageName("932"));
  EXPECT_EQ(ScanFields("ss", path, "\x01/\\", &first, &second), 2);
  SetCodePageName("");
  EXPECT_EQ(first, "\x95\x5C");
  EXPECT_EQ(second, "x");
}

}  // namespace
}  // namespace marrowgate
