#include "tools/pack_progress.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "package/file/file_system.h"
#include "package/store/package.h"
#include "package/testing/temp_folder_testing.h"
#include "package/seal/sealed_file.h"
#include "tools/pack_items.h"
#include "tools/testing/pack_tool_testing.h"
#include "util/releaser.h"

namespace marrowgate {
namespace {

// The bar of marrowgate-pack keeps moving after a large item is read: its
// seal is told slice by slice (digest, then the stored bytes written), and
// the bar's share grows with it up to the item's end; the ticker's mark
// turns meanwhile.
TEST(PackProgressTest, TheBarMovesWithinTheSealOfOneLargeItem) {
  TestFolder folder;
  const std::string content = Incompressible(6 * kSealProgressSlice + 12345, 3);
  SourceItem item;
  item.diskPath = folder.WriteFile("big.bin", content);
  item.innerPath = "big.bin";
  item.size = content.size();
  item.time = 1500000000;
  Owned<FileSystem> disk(CreateFileSystem());
  PackageParams params;
  params.mode = kOpenCreate;
  params.file = disk->Open(folder.Child("out.dpk").c_str(), kOpenCreate);
  params.ownFile = 1;
  ASSERT_NE(params.file, nullptr);
  Owned<Package> package(new Package);
  ASSERT_EQ(package->Open(params), 0);

  std::ostringstream err;
  PackProgress progress(err, true, 0, 0);  // every step drawn
  progress.SetTotals(1, static_cast<int64_t>(content.size()));
  progress.cb_FILEBEGIN(item.diskPath.c_str(), item.innerPath.c_str(),
                        static_cast<int32_t>(content.size()));
  double afterReading = -1.0;
  std::vector<double> sealing;
  std::vector<uint8_t> buffer;
  pack::ItemResult result = pack::StoreItem(
      package.get(), item, &buffer,
      [&](uint64_t bytes) {
        progress.cb_PROGRESS(static_cast<int32_t>(bytes));
        afterReading = progress.shownShare();
      },
      [&](uint64_t done, uint64_t total) {
        progress.SealStep(done, total);
        sealing.push_back(progress.shownShare());
      });
  ASSERT_TRUE(result.ok()) << result.problem;
  // Reading is half of the item; the seal the other half.
  EXPECT_NEAR(afterReading, 0.5, 0.01);
  // Seven digest slices and seven written, and the stored form between.
  ASSERT_GE(sealing.size(), 14u);
  EXPECT_GT(sealing.front(), afterReading);
  for (size_t i = 1; i < sealing.size(); ++i) EXPECT_GE(sealing[i], sealing[i - 1]);
  EXPECT_NEAR(sealing.back(), 1.0, 1e-9);
  progress.cb_FILEEND();
  EXPECT_NEAR(progress.shownShare(), 1.0, 1e-9);
  progress.Finish();
  EXPECT_NE(err.str().find("1/1 files"), std::string::npos);
  EXPECT_EQ(package->Close(), 0);
}

}  // namespace
}  // namespace marrowgate
