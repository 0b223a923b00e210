#include "app/dialog_pack_notify.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/patcher_dialog.h"
#include "app/testing/recording_view_testing.h"
#include "package/testing/temp_folder_testing.h"
#include "transfer/stat_dir.h"

namespace marrowgate {
namespace {

// The bar never goes back, through the walk and the held-back pass after
// it, when the copy finds more bytes than the statistics pass counted (a
// delta item rebuilds a larger file): it waits where it stands, then ends
// full with the last held-back file (the version file).
TEST(DialogPackNotifyTest, TheBarNeverGoesBackAcrossTheHeldBackPass) {
  TestFolder folder;
  RecordingView view;
  PatcherDialogSettings settings;
  settings.modulePath = folder.Child("patch.exe");  // does not exist
  PatcherDialog dialog(&view, nullptr, "", settings);
  std::vector<int> positions;
  view.onTransfer = [&](const TransferProgress&) { positions.push_back(view.position); };
  DialogPackNotify sink(&dialog);

  struct File {
    const char* target;
    int32_t size;  // as the copy tells it
  };
  constexpr int32_t kMb = 1000 * 1000;
  // Walk order, then the held-back files, the version file last.
  const File files[] = {{"i/data/a.bin", 1 * kMb},
                        {"i/data/movie.bik", 5 * kMb},  // a 100-byte delta item
                        {"i/late.dll", 2 * kMb},
                        {"i/mb/etc/version.txt", 10}};
  SRCDIRSTAT_T stat;
  stat.nTotalFile = 4;
  stat.nTotalSize = 1 * kMb + 100 + 2 * kMb + 10;
  ASSERT_EQ(sink.cb_SRCDIRSTAT(&stat), 0);
  positions.push_back(view.position);
  for (const File& file : files) {
    ASSERT_EQ(sink.cb_FILEBEGIN("s", file.target, file.size), 0);
    for (int32_t written = 0; written < file.size;) {
      written = std::min(file.size, written + 100000);
      ASSERT_EQ(sink.cb_PROGRESS(written), 0);
    }
    ASSERT_EQ(sink.cb_FILEEND(), 0);
    positions.push_back(view.position);
  }
  ASSERT_GT(positions.size(), 80u);
  for (size_t i = 1; i < positions.size(); ++i)
    ASSERT_GE(positions[i], positions[i - 1]) << "step " << i;
  EXPECT_EQ(positions.back(), kProgressScale);
  EXPECT_EQ(view.position, kProgressScale);
  // The held-back files moved it too: it was not full before them.
  EXPECT_LT(positions[2], kProgressScale);
}

}  // namespace
}  // namespace marrowgate
