#include "platform/file_kind.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace marrowgate::platform {
namespace {

TEST(FileKindTest, OnlyOrdinaryFilesAreRegular) {
  const std::string path = ::testing::TempDir() + "file_kind_regular";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fclose(file);
  EXPECT_TRUE(IsRegularFile(path.c_str()));
  std::remove(path.c_str());
  EXPECT_FALSE(IsRegularFile(path.c_str()));  // gone
  EXPECT_FALSE(IsRegularFile(::testing::TempDir().c_str()));  // a folder
  EXPECT_FALSE(IsRegularFile("/dev/zero"));  // a device
  EXPECT_FALSE(IsRegularFile(nullptr));
}

}  // namespace
}  // namespace marrowgate::platform
