// Packages a FileManager creates appear whole: made under a staging name,
// saved empty and moved into place before anything is written into them.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <string>

#include "package/manager/file_manager.h"
#include "package/file/staging_name.h"
#include "package/store/package.h"
#include "package/store/tail_file.h"
#include "package/testing/temp_folder_testing.h"
#include "platform/env.h"
#include "util/releaser.h"
#include "platform/testing/links_testing.h"

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

// Whatever was planted at the staging name (a link to a file outside, a
// dangling link, a hard link to a file outside) is removed as a name: the
// package is made in the folder, and nothing outside is written or made.
TEST(StagedPackageTest, PlantedEntriesAtTheStagingNameAreNeverFollowed) {
  namespace fs = std::filesystem;
  TestFolder outside;
  const std::string kept = outside.WriteFile("kept.txt", "outside");
  const std::string shared = outside.WriteFile("shared.txt", "shared");
  const std::string notThere = outside.Child("made.dpk");
  struct Plant {
    const char* name;
    std::function<void(const fs::path&)> make;
  };
  const Plant plants[] = {
      {"link", [&](const fs::path& at) { platform::MakeTestLink(kept, at); }},
      {"dangling", [&](const fs::path& at) { platform::MakeTestLink(notThere, at); }},
      {"hard", [&](const fs::path& at) { fs::create_hard_link(shared, at); }},
  };
  for (const Plant& plant : plants) {
    SCOPED_TRACE(plant.name);
    TestFolder folder;
    const std::string base = folder.Child("maps");
    plant.make(base + ".dpk" + kStagingSuffix);
    {
      Owned<FileManager> fm(NewFileManager());
      ASSERT_EQ(fm->EnsurePackage(base.c_str(), ".dpk", kOpenUpdate), 0);
      Owned<VirtualFile> item(fm->Open((base + "/a.txt").c_str(), kOpenCreate));
      ASSERT_NE(item, nullptr);
      ASSERT_EQ(item->Write("alpha", 5), 5);
    }
    EXPECT_EQ(fs::symlink_status(base + ".dpk").type(), fs::file_type::regular);
    EXPECT_FALSE(fs::exists(fs::symlink_status(base + ".dpk" + kStagingSuffix)));
    Owned<FileSystem> disk(CreateFileSystem());
    EXPECT_EQ(ProbePackageFile(disk.get(), (base + ".dpk").c_str()), 1);
  }
  EXPECT_EQ(TestFolder::ReadFile(kept), "outside");
  EXPECT_EQ(TestFolder::ReadFile(shared), "shared");
  EXPECT_FALSE(fs::exists(notThere));
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
