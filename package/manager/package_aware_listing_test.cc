#include "package/manager/package_aware_listing.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "package/store/layout.h"
#include "package/testing/temp_folder_testing.h"
#include "util/releaser.h"

namespace marrowgate {
namespace {

std::string HeaderBytes() {
  uint8_t digest[16] = {};
  uint8_t bytes[kPackageHeaderSize];
  EncodePackageHeader(NewPackageHeader(kDefaultBlockSize, digest), bytes);
  return std::string(reinterpret_cast<char*>(bytes), kPackageHeaderSize);
}

std::string HostWithPackage() {
  TailRecord record;
  record.baseOffset = 100;
  record.dataSize = kPackageHeaderSize;
  uint8_t bytes[kTailRecordSize];
  EncodeTailRecord(record, bytes);
  return std::string(100, 'x') + HeaderBytes() +
         std::string(reinterpret_cast<char*>(bytes), kTailRecordSize);
}

// name -> isFolder
std::map<std::string, int> Entries(DirListing* listing) {
  std::map<std::string, int> out;
  while (const ListingEntry* entry = listing->Next()) out[entry->name] = entry->isFolder;
  return out;
}

class PackageAwareListingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_.WriteFile("data.dpk", HeaderBytes());
    folder_.WriteFile("fake.dpk", "not a package at all");
    folder_.WriteFile("game.exe", HostWithPackage());
    folder_.WriteFile("tool.exe", std::string(200, 't'));
    folder_.WriteFile("upper.DPK", HeaderBytes());
    folder_.WriteFile("plain.txt", "x");
    platform::MakeFolder(folder_.Child("dir.dpk").c_str());
  }
  TestFolder folder_;
  Owned<FileSystem> fs_{CreateFileSystem()};
};

TEST_F(PackageAwareListingTest, PackagesBecomeFolders) {
  Owned<DirListing> listing(
      new PackageAwareListing(fs_->OpenListing(folder_.path().c_str()), fs_.get(), true));
  EXPECT_EQ(std::string(listing->BasePath()), folder_.path());
  std::map<std::string, int> expected = {
      {".", 1},        {"..", 1},       {"data", 1},      {"fake.dpk", 0}, {"game", 1},
      {"tool.exe", 0}, {"upper.DPK", 0}, {"plain.txt", 0}, {"dir.dpk", 1}};
  EXPECT_EQ(Entries(listing.get()), expected);
  listing->Rewind();
  EXPECT_EQ(Entries(listing.get()).size(), expected.size());
}

TEST_F(PackageAwareListingTest, HostsAreLeftOutWhenNotAccepted) {
  Owned<DirListing> listing(
      new PackageAwareListing(fs_->OpenListing(folder_.path().c_str()), fs_.get(), false));
  std::map<std::string, int> entries = Entries(listing.get());
  EXPECT_EQ(entries.count("game"), 0u);
  EXPECT_EQ(entries.count("game.exe"), 0u);
  EXPECT_EQ(entries["data"], 1);
  EXPECT_EQ(entries["tool.exe"], 0);
}

TEST(PackageAwareListingWithoutDiskListing, ListsNothing) {
  PackageAwareListing listing(nullptr, nullptr, true);
  EXPECT_STREQ("", listing.BasePath());
  listing.Rewind();
  EXPECT_EQ(listing.Next(), nullptr);
}

}  // namespace
}  // namespace marrowgate
