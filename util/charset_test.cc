#include "util/charset.h"

#include <gtest/gtest.h>

#include <cstring>

namespace marrowgate {
namespace {

// Restores byte-by-byte handling after each case.
class CharsetTest : public ::testing::Test {
 protected:
  void TearDown() override { SetCodePageName(""); }
};

TEST_F(CharsetTest, CodePageNames) {
  EXPECT_EQ(CodePageFromName("utf8"), 65001);
  EXPECT_EQ(CodePageFromName("EUCKR"), 949);
  EXPECT_EQ(CodePageFromName("1252"), 1252);
  EXPECT_EQ(CodePageFromName(""), 0);
  EXPECT_EQ(CodePageFromName("latin"), 0);
  EXPECT_EQ(CodePageFromName("-5"), 0);
  // Numbers are read as atoi reads them.
  EXPECT_EQ(CodePageFromName(" 1252"), 1252);
  EXPECT_EQ(CodePageFromName("\t+949x"), 949);
  EXPECT_EQ(CodePageFromName("- 5"), 0);
  EXPECT_EQ(CodePageFromName("99999999999999"), 0);
}

TEST_F(CharsetTest, SettingsRecordAndCheckedSetter) {
  EXPECT_STREQ(GetLibSettings().szCodePage, "");
  EXPECT_TRUE(SetCodePageName("euckr"));
  EXPECT_STREQ(GetLibSettings().szCodePage, "euckr");
  std::string tooLong(LibSettings::kCodePageNameSize, 'x');
  EXPECT_FALSE(SetCodePageName(tooLong.c_str()));
  EXPECT_STREQ(GetLibSettings().szCodePage, "euckr");
  EXPECT_TRUE(SetCodePageName(nullptr));
  EXPECT_STREQ(GetLibSettings().szCodePage, "");
}

TEST_F(CharsetTest, ByteByByteWithoutCodePage) {
  EXPECT_FALSE(IsDoubleByteAt("\xB0\xA1"));
  char out[16];
  CopyChars(out, "abcdefgh", 5);
  EXPECT_STREQ(out, "abcde");
}

TEST_F(CharsetTest, EuckrPairsAreWholeCharacters) {
  ASSERT_TRUE(SetCodePageName("euckr"));
  EXPECT_TRUE(IsDoubleByteAt("\xB0\xA1"));
  EXPECT_FALSE(IsDoubleByteAt("ab"));
  EXPECT_FALSE(IsDoubleByteAt("\xB0"));  // the terminator follows
  // A Korean character at bytes 4 and 5: copying 5 bytes keeps it whole by
  // leaving it out.
  const char source[] = "abcd\xB0\xA1xyz";
  char out[16];
  CopyChars(out, source, 5);
  EXPECT_STREQ(out, "abcd");
  CopyChars(out, source, 6);
  EXPECT_STREQ(out, "abcd\xB0\xA1");
  CopyChars(out, source, 100);
  EXPECT_STREQ(out, source);
}

TEST_F(CharsetTest, Utf8TwoByteCharacter) {
  ASSERT_TRUE(SetCodePageName("UTF8"));
  EXPECT_TRUE(IsDoubleByteAt("\xC3\xA9"));
  EXPECT_FALSE(IsDoubleByteAt("\xE2\x82\xAC"));  // first two bytes of a 3-byte one
}

}  // namespace
}  // namespace marrowgate
