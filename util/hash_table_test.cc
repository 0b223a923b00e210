#include "util/hash_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace marrowgate {
namespace {

TEST(HashRulesTest, HashIsTimes31PlusByte) {
  EXPECT_EQ(HashText(""), 0u);
  EXPECT_EQ(HashText("a"), 97u);
  EXPECT_EQ(HashText("ab"), 97u * 31u + 98u);
  EXPECT_EQ(HashTextIgnoreCase("ab"), HashText("AB"));
  EXPECT_EQ(HashText("\xff"), 255u);  // bytes are unsigned
  EXPECT_TRUE(EqualIgnoreCase("ReadMe.TXT", "readme.txt"));
  EXPECT_FALSE(EqualIgnoreCase("a", "ab"));
}

TEST(HashRulesTest, GrowthGoesToFirstPrimeAboveTheNewCount) {
  EXPECT_EQ(BucketCountForInsert(0, 17), 17u);
  EXPECT_EQ(BucketCountForInsert(16, 17), 17u);  // 17 elements fit 17 buckets
  EXPECT_EQ(BucketCountForInsert(17, 17), 29u);
  EXPECT_EQ(BucketCountForInsert(29, 29), 53u);
  EXPECT_EQ(PrimeAbove(4294967291u), 4294967291u);
}

TEST(StringHashMapTest, NewNodesGoToTheFrontOfTheirBucket) {
  StringHashMap<int> map;
  // "a" (97 % 17 = 12) and "r" (114 % 17 = 12) share a bucket.
  ASSERT_TRUE(map.Insert("a", 1));
  ASSERT_TRUE(map.Insert("r", 2));
  ASSERT_TRUE(map.Insert("b", 3));  // 98 % 17 = 13
  std::vector<std::string> order;
  map.ForEach([&](std::string_view key, int&) { order.emplace_back(key); });
  EXPECT_EQ(order, (std::vector<std::string>{"r", "a", "b"}));
  EXPECT_FALSE(map.Insert("a", 9));
  EXPECT_EQ(*map.Find("a"), 1);
}

TEST(StringHashMapTest, GrowsAndKeepsEveryKey) {
  StringHashMap<int> map;
  for (int i = 0; i < 1000; ++i) ASSERT_TRUE(map.Insert(std::to_string(i), i));
  EXPECT_EQ(map.size(), 1000u);
  EXPECT_EQ(map.bucket_count(), 1543u);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(*map.Find(std::to_string(i)), i);
  EXPECT_TRUE(map.Erase("500"));
  EXPECT_FALSE(map.Erase("500"));
  EXPECT_EQ(map.Find("500"), nullptr);
  EXPECT_EQ(map.size(), 999u);
}

TEST(StringHashSetTest, IsCaseSensitive) {
  StringHashSet set;
  EXPECT_TRUE(set.Insert("File.txt"));
  EXPECT_FALSE(set.Insert("File.txt"));
  EXPECT_TRUE(set.Insert("file.txt"));
  EXPECT_TRUE(set.Contains("File.txt"));
  EXPECT_FALSE(set.Contains("FILE.TXT"));
}

}  // namespace
}  // namespace marrowgate
