#include "util/values.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace marrowgate {
namespace {

// Every byte: the scan's whitespace is the C locale's isspace, and the text
// functions' whitespace the part of it without vertical tab and form feed.
TEST(WhitespaceTest, ScanSpaceIsCLocaleIsspace) {
  for (int c = 0; c < 256; ++c) {
    const char ch = static_cast<char>(c);
    EXPECT_EQ(IsScanSpace(ch), std::isspace(c) != 0) << c;
    EXPECT_EQ(IsTextSpace(ch), std::isspace(c) != 0 && ch != '\v' && ch != '\f') << c;
  }
}

TEST(EvalIntTest, PrecedenceAndAssociativity) {
  EXPECT_EQ(EvalInt("2+3*4"), 14);
  EXPECT_EQ(EvalInt("10-3-2"), 5);
  EXPECT_EQ(EvalInt("-5"), -5);
  EXPECT_EQ(EvalInt("8/2/2"), 2);
  EXPECT_EQ(EvalInt("8/2*2"), 8);
  EXPECT_EQ(EvalInt("7/2"), 3);
  EXPECT_EQ(EvalInt("-7/2"), -3);
  EXPECT_EQ(EvalInt(" 4 * 5 - 1 "), 19);
}

TEST(EvalIntTest, OperandForms) {
  EXPECT_EQ(EvalInt("0xff"), 255);
  EXPECT_EQ(EvalInt("0XFF"), 255);
  EXPECT_EQ(EvalInt("12abc"), 12);
  EXPECT_EQ(EvalInt(""), 0);
  EXPECT_EQ(EvalInt("abc"), 0);
  EXPECT_EQ(EvalInt("  42"), 42);
  EXPECT_EQ(EvalInt("0xffffffff"), -1);  // read as unsigned
  EXPECT_EQ(EvalInt("99999999999"), -1);  // saturates at 32 bits
}

TEST(EvalIntTest, DivisionByZeroAndOverflowAreSafe) {
  EXPECT_EQ(EvalInt("7/0"), 0);
  EXPECT_EQ(EvalInt("7/abc"), 0);
  EXPECT_EQ(EvalInt("0x80000000/0xffffffff"), INT32_MIN);  // INT_MIN / -1
  EXPECT_EQ(EvalInt("2147483647+1"), INT32_MIN);
}

TEST(EvalIntTest, ExpressionLengthLimit) {
  std::string atLimit(kMaxExpressionText - 1, ' ');
  atLimit += "7";
  int32_t value = -1;
  EXPECT_TRUE(TryEvalInt(atLimit, &value));
  EXPECT_EQ(value, 7);
  std::string over = " " + atLimit;
  EXPECT_FALSE(TryEvalInt(over, &value));
  EXPECT_EQ(value, 0);
  EXPECT_EQ(EvalInt(over), 0);
  // A long chain of operators stays within the limit and is evaluated
  // without recursion.
  std::string chain = "1";
  while (chain.size() + 2 <= kMaxExpressionText) chain += "+1";
  EXPECT_EQ(EvalInt(chain), static_cast<int32_t>((chain.size() + 1) / 2));
}

TEST(EvalInt64Test, WideArithmetic) {
  EXPECT_EQ(EvalInt64("4294967296*2"), 8589934592LL);
  EXPECT_EQ(EvalInt64("0xffffffffffffffff"), -1);
  EXPECT_EQ(EvalInt64("10-3-2"), 5);
  EXPECT_EQ(EvalInt64("9/0"), 0);
  EXPECT_EQ(EvalInt64("99999999999999999999"), INT64_MAX);
  int64_t value = 1;
  EXPECT_FALSE(TryEvalInt64(std::string(kMaxExpressionText + 1, '1'), &value));
  EXPECT_EQ(value, 0);
}

TEST(ParseBoolTest, TrueAndFalseForms) {
  for (const char* text : {"TRUE", "true", "True1", "yes", "1", "Y", "  y", "\t\r\ntrue"})
    EXPECT_TRUE(ParseBool(text)) << text;
  for (const char* text : {"false", "0", "no", "", "   ", "tru", "on"})
    EXPECT_FALSE(ParseBool(text)) << text;
}

TEST(ParseBoolTest, SkipsAtMost64LeadingSpaces) {
  EXPECT_TRUE(ParseBool(std::string(64, ' ') + "1"));
  EXPECT_FALSE(ParseBool(std::string(65, ' ') + "1"));
}

TEST(ParseFloatTest, ReadsLikeAtof) {
  EXPECT_FLOAT_EQ(ParseFloat("1.5"), 1.5f);
  EXPECT_FLOAT_EQ(ParseFloat("  -2.25xyz"), -2.25f);
  EXPECT_FLOAT_EQ(ParseFloat("abc"), 0.0f);
  float value = 1.0f;
  EXPECT_FALSE(TryParseFloat(std::string(kMaxFieldValueText + 1, '1'), &value));
  EXPECT_EQ(value, 0.0f);
}

}  // namespace
}  // namespace marrowgate
