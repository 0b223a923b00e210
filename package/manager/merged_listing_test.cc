#include "package/manager/merged_listing.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace marrowgate {
namespace {

// A listing over a fixed set of entries that records its release.
class FixedListing : public DirListing {
 public:
  FixedListing(std::string base, std::vector<std::pair<std::string, int>> entries, int* releases)
      : base_(std::move(base)), entries_(std::move(entries)), releases_(releases) {}
  void Release() override {
    ++*releases_;
    delete this;
  }
  const char* BasePath() override { return base_.c_str(); }
  const ListingEntry* Next() override {
    if (at_ >= entries_.size()) return nullptr;
    entry_ = ListingEntry();
    SetListingName(&entry_, entries_[at_].first.c_str());
    entry_.isFolder = 0;
    entry_.value = static_cast<uint32_t>(entries_[at_].second);
    ++at_;
    return &entry_;
  }
  void Rewind() override { at_ = 0; }

 private:
  std::string base_;
  std::vector<std::pair<std::string, int>> entries_;
  size_t at_ = 0;
  int* releases_;
  ListingEntry entry_;
};

std::vector<std::pair<std::string, uint32_t>> Drain(DirListing* listing) {
  std::vector<std::pair<std::string, uint32_t>> out;
  while (const ListingEntry* entry = listing->Next()) out.emplace_back(entry->name, entry->value);
  return out;
}

TEST(MergedListingTest, ByteOrderAndFirstListingWins) {
  int releases = 0;
  {
    MergedListing* merged = new MergedListing(
        {new FixedListing("disk", {{"b", 1}, {"a", 1}, {"Z", 1}}, &releases),
         new FixedListing("pkg", {{"a", 2}, {"c", 2}, {"B", 2}}, &releases)});
    EXPECT_STREQ(merged->BasePath(), "disk");
    std::vector<std::pair<std::string, uint32_t>> expected = {
        {"B", 2}, {"Z", 1}, {"a", 1}, {"b", 1}, {"c", 2}};
    EXPECT_EQ(Drain(merged), expected);
    EXPECT_EQ(merged->Next(), nullptr);
    merged->Rewind();
    EXPECT_EQ(Drain(merged), expected);
    EXPECT_EQ(releases, 0);
    merged->Release();
  }
  EXPECT_EQ(releases, 2);
}

TEST(MergedListingTest, NullListingsAreSkipped) {
  int releases = 0;
  DirListing* merged = new MergedListing({nullptr, new FixedListing("pkg", {{"x", 3}}, &releases)});
  EXPECT_STREQ(merged->BasePath(), "pkg");
  EXPECT_EQ(Drain(merged).size(), 1u);
  merged->Release();
  DirListing* empty = new MergedListing({nullptr});
  EXPECT_STREQ(empty->BasePath(), "");
  EXPECT_EQ(empty->Next(), nullptr);
  empty->Release();
  EXPECT_EQ(releases, 1);
}

}  // namespace
}  // namespace marrowgate
