#include "platform/write_check.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/env.h"

namespace marrowgate::platform {
namespace {

TEST(WriteCheckTest, NamesWhatStandsInTheWay) {
  const std::string root = ::testing::TempDir() + "write_check";
  const std::string file = root + "/file";
  const std::string locked = root + "/locked";
  RemoveFile(file.c_str());
  if (PathAccessible(locked.c_str())) SetWritable(locked.c_str(), true);
  RemoveFile(locked.c_str());
  RemoveFolder((root + "/folder").c_str());
  RemoveFolder(root.c_str());
  ASSERT_TRUE(MakeFolder(root.c_str()));
  ASSERT_TRUE(MakeFolder((root + "/folder").c_str()));
  for (const std::string& path : {file, locked}) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
  }
  ASSERT_TRUE(SetWritable(locked.c_str(), false));

  EXPECT_EQ(WriteBlockedReason((root + "/folder").c_str()), "Is a directory");
  EXPECT_EQ(WriteBlockedReason(locked.c_str()), "Permission denied");
  EXPECT_EQ(WriteBlockedReason((file + "/below").c_str()), "Not a directory");
  EXPECT_EQ(WriteBlockedReason((file + "/a/b/c").c_str()), "Not a directory");
  // Nothing in the way: a writable file, a new name, new folders below one.
  EXPECT_EQ(WriteBlockedReason(file.c_str()), "");
  EXPECT_EQ(WriteBlockedReason((root + "/new").c_str()), "");
  EXPECT_EQ(WriteBlockedReason((root + "/x/y/new").c_str()), "");
  EXPECT_EQ(WriteBlockedReason("/proc/version"), "Permission denied");
  EXPECT_EQ(WriteBlockedReason(""), "No such file or directory");

  SetWritable(locked.c_str(), true);
  RemoveFile(locked.c_str());
  RemoveFile(file.c_str());
  RemoveFolder((root + "/folder").c_str());
  RemoveFolder(root.c_str());
}

}  // namespace
}  // namespace marrowgate::platform
