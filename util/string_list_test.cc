#include "util/string_list.h"

#include <gtest/gtest.h>

#include <string>

namespace marrowgate {
namespace {

TEST(StringListTest, JoinedWithSlash) {
  StringList path('/');
  path.Push("a");
  path.Push("b");
  EXPECT_STREQ(path.Text(), "a/b");
  EXPECT_EQ(path.Count(), 2u);
  uint32_t offset = 0;
  EXPECT_STREQ(path.Pop(&offset), "b");
  EXPECT_EQ(offset, 2u);
  EXPECT_STREQ(path.Text(), "a");
  EXPECT_STREQ(path.Pop(nullptr), "a");
  EXPECT_STREQ(path.Text(), "");
  EXPECT_EQ(path.Pop(nullptr), nullptr);
}

TEST(StringListTest, SeparateEntriesWithZero) {
  StringList list;
  for (int i = 0; i < 100; ++i) list.Push("entry" + std::to_string(i));  // forces growth
  EXPECT_EQ(list.Count(), 100u);
  EXPECT_STREQ(list.Entry(0), "entry0");
  EXPECT_STREQ(list.Entry(99), "entry99");
  EXPECT_EQ(list.Entry(100), nullptr);
  list.Clear();
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_STREQ(list.Text(), "");
}

TEST(StringListTest, SplitKeepsEmptyEntries) {
  StringList list;
  EXPECT_EQ(list.Split("a//b\\c", "/\\"), 0);
  ASSERT_EQ(list.Count(), 4u);
  EXPECT_STREQ(list.Entry(0), "a");
  EXPECT_STREQ(list.Entry(1), "");
  EXPECT_STREQ(list.Entry(2), "b");
  EXPECT_STREQ(list.Entry(3), "c");
  EXPECT_EQ(list.Split("", "/"), 0);
  EXPECT_EQ(list.Count(), 0u);

  StringList joined('/');
  joined.Split("x\\y", "\\");
  EXPECT_STREQ(joined.Text(), "x/y");
  joined.Push("z");
  EXPECT_STREQ(joined.Text(), "x/y/z");
}

}  // namespace
}  // namespace marrowgate
