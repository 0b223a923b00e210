// Packages a FileManager creates appear whole: made under a staging name,
// saved empty and moved into place before anything is written into them.
#include <gtest/gtest.h>

#include <string>

#include "package/manager/file_manager.h"
#include "package/file/staging_name.h"
#include "package/store/package.h"
#include "package/store/tail_file.h"
#include "package/testing/temp_folder_testing.h"
#include "platform/env.h"
#include "util/releaser.h"

namespace marrowgate {
namespace {

FileManager* NewFileManager() {
  FileManagerOptions options;
  options.searchMode = 3;
  options.defaultMode = kOpenUpdate;
  return CreateFileManager(options);
}

TEST(StagedPackageTest, ANewPackageIsWholeFromItsFirstAppearance) {
  TestFolder folder;
  const std::string base = folder.Child("data");
  // A leftover of a creation that was killed.
  folder.WriteFile(std::string("data.dpk") + kStagingSuffix, "half a package");
  {
    Owned<FileManager> fm(NewFileManager());
    ASSERT_EQ(fm->EnsurePackage(base.c_str(), ".dpk", kOpenUpdate), 0);
    // Already a package on disk, before anything was written or closed.
    Owned<FileSystem> disk(CreateFileSystem());
    EXPECT_EQ(ProbePackageFile(disk.get(), (base + ".dpk").c_str()), 1);
    EXPECT_FALSE(platform::PathAccessible((base + ".dpk" + kStagingSuffix).c_str()));
    Owned<VirtualFile> item(fm->Open((base + "/a.txt").c_str(), kOpenCreate));
    ASSERT_NE(item, nullptr);
    EXPECT_TRUE(fm->ReachedPackage());
    ASSERT_EQ(item->Write("alpha", 5), 5);
  }
  Owned<FileManager> again(NewFileManager());
  Owned<VirtualFile> item(again->Open((base + "/a.txt").c_str(), kOpenRead));
  ASSERT_NE(item, nullptr);
  char text[8] = {};
  EXPECT_EQ(item->Read(text, sizeof text), 5);
  EXPECT_STREQ(text, "alpha");
}

TEST(StagedPackageTest, AnExplicitRecreationWritesInPlace) {
  TestFolder folder;
  const std::string base = folder.Child("res");
  folder.WriteFile("res.dpk", "not a package");
  Owned<FileManager> fm(NewFileManager());
  ASSERT_EQ(fm->EnsurePackage(base.c_str(), ".dpk", kOpenCreate), 0);
  Package* package = fm->OpenPackage(base.c_str(), ".dpk", kOpenCreate);
  ASSERT_NE(package, nullptr);
  EXPECT_EQ(package->Mode(), kOpenCreate);
  EXPECT_FALSE(platform::PathAccessible((base + ".dpk" + kStagingSuffix).c_str()));
}

}  // namespace
}  // namespace marrowgate
