#include "util/split_to_array.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/env.h"
#include "util/values.h"

namespace marrowgate {
namespace {

TEST(SplitToArrayTest, EmptyElementIsZero) {
  int32_t values[3] = {-1, -1, -1};
  EXPECT_EQ(SplitToArray("1,,3", ",", std::span(values)), 3);
  EXPECT_EQ(values[0], 1);
  EXPECT_EQ(values[1], 0);
  EXPECT_EQ(values[2], 3);
}

TEST(SplitToArrayTest, TrailingSeparatorAddsNothingAndUnreachedStayUnchanged) {
  int32_t values[3] = {-1, -1, -1};
  EXPECT_EQ(SplitToArray("1,2,", ",", std::span(values)), 2);
  EXPECT_EQ(values[0], 1);
  EXPECT_EQ(values[1], 2);
  EXPECT_EQ(values[2], -1);
}

TEST(SplitToArrayTest, StopsWhenTheArrayIsFull) {
  int16_t values[2] = {};
  EXPECT_EQ(SplitToArray(" 7 , 0x10 , 9", ",", std::span(values)), 2);
  EXPECT_EQ(values[0], 7);
  EXPECT_EQ(values[1], 16);
}

TEST(SplitToArrayTest, EveryElementType) {
  bool flags[3] = {};
  EXPECT_EQ(SplitToArray("yes, 0 ,TRUE", ",", std::span(flags)), 3);
  EXPECT_TRUE(flags[0]);
  EXPECT_FALSE(flags[1]);
  EXPECT_TRUE(flags[2]);

  uint8_t bytes[2] = {};
  EXPECT_EQ(SplitToArray("255,256", ",", std::span(bytes)), 2);
  EXPECT_EQ(bytes[0], 255);
  EXPECT_EQ(bytes[1], 0);

  int64_t wide[2] = {};
  EXPECT_EQ(SplitToArray("0x1ffffffff,-3", ",", std::span(wide)), 2);
  EXPECT_EQ(wide[0], 0x1ffffffffLL);
  EXPECT_EQ(wide[1], -3);

  float reals[2] = {};
  EXPECT_EQ(SplitToArray("1.25 2.5", "", std::span(reals)), 2);
  EXPECT_FLOAT_EQ(reals[0], 1.25f);
  EXPECT_FLOAT_EQ(reals[1], 2.5f);

  std::string words[3];
  EXPECT_EQ(SplitToArray(" a , b b ,c", ",", std::span(words)), 3);
  EXPECT_EQ(words[1], "b b");

  char first[16], second[8];
  TextSlot slots[2] = {{first, sizeof first}, {second, sizeof second}};
  EXPECT_EQ(SplitToArray("vave.exe|x", "\x01|", std::span(slots)), 2);
  EXPECT_STREQ(first, "vave.exe");
  EXPECT_STREQ(second, "x");

  int32_t times[2] = {};
  platform::SetTimeZone("UTC0");
  EXPECT_EQ(SplitToTimeArray("1970-01-02, 1970-01-01 00:01", ",", std::span(times)), 2);
  platform::SetTimeZone(nullptr);
  EXPECT_EQ(times[0], 86400);
  EXPECT_EQ(times[1], 60);
}

TEST(SplitToArrayTest, ElementLimitRefusesInsteadOfCutting) {
  std::string atLimit(kMaxArrayElementText - 1, '0');
  atLimit += "5";
  int32_t values[3] = {-1, -1, -1};
  EXPECT_EQ(SplitToArray("1, " + atLimit + " ,2", ",", std::span(values)), 3);
  EXPECT_EQ(values[1], 5);
  EXPECT_EQ(SplitToArray("9,0" + atLimit + ",2", ",", std::span(values)), kSplitRefused);
  EXPECT_EQ(values[0], 9);
  EXPECT_EQ(values[1], 0);
  EXPECT_EQ(values[2], 2);  // not reached

  std::string words[1] = {"old"};
  EXPECT_EQ(SplitToArray(std::string(kMaxArrayElementText + 1, 'w'), ",", std::span(words)),
            kSplitRefused);
  EXPECT_EQ(words[0], "");

  char small[4];
  TextSlot slot[1] = {{small, sizeof small}};
  EXPECT_EQ(SplitToArray("abcd", ",", std::span(slot)), kSplitRefused);
  EXPECT_STREQ(small, "");
}

}  // namespace
}  // namespace marrowgate
