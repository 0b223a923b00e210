#include "platform/processor_count.h"

#include <gtest/gtest.h>

#include <thread>

namespace marrowgate::platform {
namespace {

TEST(ProcessorCountTest, AtLeastOneAndNoMoreThanTheMachineHas) {
  const int count = ProcessorCount();
  EXPECT_GE(count, 1);
  const unsigned hardware = std::thread::hardware_concurrency();
  if (hardware > 0) {
    EXPECT_LE(count, static_cast<int>(hardware));
  }
}

}  // namespace
}  // namespace marrowgate::platform
