#include "app/transfer_meter.h"

#include <gtest/gtest.h>

#include <string>

namespace marrowgate {
namespace {

// The window's second line and the terminal's bar tell the same: bytes,
// rate and time left once the rate has settled, the file; a new file is
// shown at once, everything else at most every kRedrawMs; a new run
// starts its rate afresh.
TEST(TransferMeterTest, RateTimeLeftFileAndThrottle) {
  TransferMeter meter;
  EXPECT_EQ(meter.Text(true), "");
  EXPECT_FALSE(meter.Due(0));

  TransferProgress t;
  t.file = "/games/client/data/" + std::string(40, 'x') + "/movie-of-the-opening-scene.bik";
  t.fileSize = t.bytesTotal = 500000000;
  meter.Update(t, 1000);
  EXPECT_EQ(meter.SecondsLeft(), -1);  // no rate yet
  EXPECT_EQ(meter.Text(true), "0.0/500.0 MB movie-of-the-opening-scene.bik");
  ASSERT_TRUE(meter.Due(1000));
  meter.MarkShown(1000);

  t.fileWritten = t.bytesDone = 100000000;  // 50 MB/s
  meter.Update(t, 3000);
  EXPECT_DOUBLE_EQ(meter.BytesPerSecond(), 50e6);
  EXPECT_EQ(meter.SecondsLeft(), 8);
  EXPECT_EQ(meter.Text(true), "100.0/500.0 MB 50.0 MB/s 0:08 left movie-of-the-opening-scene.bik");
  EXPECT_EQ(meter.Text(false), "100.0/500.0 MB 50.0 MB/s 8 s left " + t.file);
  EXPECT_TRUE(meter.Due(3000));
  meter.MarkShown(3000);
  EXPECT_FALSE(meter.Due(3000 + TransferMeter::kRedrawMs - 1));
  EXPECT_TRUE(meter.Due(3000 + TransferMeter::kRedrawMs));

  // A long last name keeps its end.
  t.file = "d/" + std::string(50, 'n') + ".pak";
  meter.Update(t, 3010);
  EXPECT_TRUE(meter.Due(3010));  // a new file: at once
  const std::string compact = meter.Text(true);
  EXPECT_EQ(compact.substr(compact.size() - 35), "..." + std::string(28, 'n') + ".pak");

  // Fewer bytes than before: a new run, no rate until it settles.
  t.bytesDone = 10;
  meter.Update(t, 9000);
  EXPECT_EQ(meter.SecondsLeft(), -1);
  meter.Update(t, 9000 + TransferMeter::kSettleMs);
  EXPECT_GT(meter.SecondsLeft(), 0);
}

}  // namespace
}  // namespace marrowgate
