#include "package/store/package_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/store/layout.h"
#include "package/file/memory_file.h"
#include "package/store/package.h"
#include "package/store/package_codecs.h"
#include "util/byte_order.h"

namespace marrowgate {
namespace {

bool Mentions(const std::vector<std::string>& problems, const std::string& text) {
  for (const std::string& problem : problems)
    if (problem.find(text) != std::string::npos) return true;
  return false;
}

// A package over `file` in `mode` (by default a new one), keyed by `codecs`.
Owned<Package> NewPackage(PackageCodecs* codecs, VirtualFile* file, int mode = kOpenCreate) {
  Owned<Package> package(new Package);
  PackageParams params;
  params.mode = mode;
  params.file = file;
  codecs->ApplyTo(&params);
  if (package->Open(params) != 0) return nullptr;
  return package;
}

class PackageCheckTest : public ::testing::Test {
 protected:
  // A package with "small" (one block) and "big" (several blocks), and a
  // deleted file whose blocks went to the free list.
  void SetUp() override {
    ASSERT_TRUE(codecs_.Create(0, false));
    Owned<Package> package = NewPackage(&codecs_, &file_);
    ASSERT_NE(package, nullptr);
    Put(package.get(), "small", std::string(10, 's'));
    std::string noise;
    uint32_t seed = 7;
    for (int i = 0; i < 4000; ++i) noise += static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
    Put(package.get(), "gone", noise);
    Put(package.get(), "big", noise);
    ASSERT_EQ(package->Delete("gone"), 0);
    uint32_t first = 0;
    Owned<VirtualFile> small(package->OpenItem("small", kOpenRead, &first));
    items_.emplace_back("small", first);
    Owned<VirtualFile> big(package->OpenItem("big", kOpenRead, &first));
    items_.emplace_back("big", first);
    small.reset();
    big.reset();
    ASSERT_EQ(package->Close(), 0);
    ASSERT_TRUE(DecodePackageHeader(file_.bytes().data(), &header_));
  }

  void Put(Package* package, const char* path, const std::string& content) {
    Owned<VirtualFile> item(package->OpenItem(path, kOpenCreate));
    ASSERT_NE(item, nullptr);
    ASSERT_EQ(item->Write(content.data(), static_cast<int32_t>(content.size())),
              static_cast<int32_t>(content.size()));
  }

  uint32_t Word(uint32_t block, uint32_t offset) {
    return LoadLe32(file_.mutable_bytes().data() + block * 1024 + offset);
  }
  void SetWord(uint32_t block, uint32_t offset, uint32_t value) {
    StoreLe32(value, file_.mutable_bytes().data() + block * 1024 + offset);
  }

  std::vector<std::string> Check() { return CheckPackageBlocks(&file_, items_); }

  PackageCodecs codecs_;
  MemoryFile file_;
  std::vector<PackageItemRef> items_;
  PackageHeader header_;
};

TEST_F(PackageCheckTest, ASoundPackageHasNoProblems) {
  EXPECT_NE(header_.freeHead, 0u);
  EXPECT_EQ(Check(), std::vector<std::string>());
}

TEST_F(PackageCheckTest, BlocksOutsideEveryChainAreReported) {
  SetWord(0, 24, 0);  // forget the free list
  EXPECT_TRUE(Mentions(Check(), "belong to no item and are not free"));
}

TEST_F(PackageCheckTest, SharedBlocksCyclesAndWrongEndsAreReported) {
  uint32_t big = items_[1].second;
  uint32_t second = Word(big, 4);
  ASSERT_NE(second, 0u);

  SetWord(second, 4, big);  // the chain runs back to its start
  EXPECT_TRUE(Mentions(Check(), "cycle"));
  SetWord(second, 4, items_[0].second);  // into the other item
  EXPECT_TRUE(Mentions(Check(), "also belongs to small"));
  SetWord(second, 4, 9999);  // past the end of the file
  EXPECT_TRUE(Mentions(Check(), "outside the package"));
}

TEST_F(PackageCheckTest, HeaderFieldsThatDisagreeWithTheChainAreReported) {
  uint32_t small = items_[0].second;
  SetWord(small, 8, header_.dirBlock);  // lastBlock names another block
  EXPECT_TRUE(Mentions(Check(), "as the last"));
  SetWord(small, 8, small);
  SetWord(small, 0, 1);  // a first block with a predecessor
  EXPECT_TRUE(Mentions(Check(), "instead of 0"));
}

TEST_F(PackageCheckTest, AFileOfTheWrongLengthIsReported) {
  file_.mutable_bytes().resize(file_.bytes().size() - 1);
  EXPECT_TRUE(Mentions(Check(), "blocks of 1024"));
  std::vector<std::string> none = CheckPackageBlocks(nullptr, items_);
  EXPECT_EQ(none.size(), 1u);
}

// The audit reads the file a window at a time, whatever order the folder
// tree lists its items in: many small items listed last block first cost
// a handful of reads, not one per item. The item headers it read answer a
// read-only opening's Stat as reading them would, with no read.
TEST(PackageCheckReads, ItemsListedAgainstTheirBlockOrderAreAuditedInAFewReads) {
  class CountingFile : public MemoryFile {
   public:
    bool ReadExactlyAt(int64_t offset, void* buffer, size_t n) override {
      ++reads;
      return MemoryFile::ReadExactlyAt(offset, buffer, n);
    }
    int reads = 0;
  };
  PackageCodecs codecs;
  ASSERT_TRUE(codecs.Create(0, false));
  CountingFile file;
  std::vector<PackageItemRef> items;
  {
    Owned<Package> package = NewPackage(&codecs, &file);
    ASSERT_NE(package, nullptr);
    for (int i = 0; i < 800; ++i) {
      const std::string name = "f" + std::to_string(i);
      uint32_t first = 0;
      Owned<VirtualFile> item(package->OpenItem(name.c_str(), kOpenCreate, &first));
      ASSERT_NE(item, nullptr);
      ASSERT_EQ(item->Write("x", 1), 1);
      items.emplace(items.begin(), name, first);
    }
    // And one item of many blocks, incompressible.
    std::string noise(40000, '\0');
    uint32_t seed = 7;
    for (char& c : noise) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
    uint32_t first = 0;
    Owned<VirtualFile> item(package->OpenItem("big", kOpenCreate, &first));
    ASSERT_NE(item, nullptr);
    ASSERT_EQ(item->Write(noise.data(), 40000), 40000);
    item.reset();
    items.emplace_back("big", first);
    ASSERT_EQ(package->Close(), 0);
  }
  ASSERT_GT(file.bytes().size(), 3u * 256 * 1024);
  file.reads = 0;
  std::vector<ItemHeaderFacts> headers;
  EXPECT_EQ(CheckPackageBlocks(&file, items, &headers), std::vector<std::string>());
  EXPECT_LT(file.reads, 20);
  ASSERT_EQ(headers.size(), items.size());

  Owned<Package> reading = NewPackage(&codecs, &file, kOpenRead);
  Owned<Package> learning = NewPackage(&codecs, &file, kOpenRead);
  ASSERT_TRUE(reading && learning);
  learning->LearnItemHeaders(headers);
  for (const PackageItemRef& item : items) {
    FileInfo read, learnt;
    ASSERT_EQ(reading->Stat(item.first.c_str(), &read), 0);
    file.reads = 0;
    ASSERT_EQ(learning->Stat(item.first.c_str(), &learnt), 0);
    EXPECT_EQ(file.reads, 0) << item.first;
    EXPECT_EQ(learnt.size, item.first == "big" ? 40000 : 1);
    EXPECT_EQ(learnt.size, read.size);
    EXPECT_EQ(learnt.time, read.time);
    EXPECT_EQ(learnt.flags, read.flags);
  }
  // Knowing the item's length, its stored form is read in one go.
  std::vector<uint8_t> whole, again;
  ASSERT_EQ(reading->ReadSealedItem("big", size_t{1} << 20, &whole), 0);
  file.reads = 0;
  ASSERT_EQ(learning->ReadSealedItem("big", size_t{1} << 20, &again), 0);
  EXPECT_EQ(file.reads, 1);
  EXPECT_EQ(again, whole);
}

}  // namespace
}  // namespace marrowgate
