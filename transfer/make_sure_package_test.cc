// MakeSurePackage over a FileManager on the local disk.
#include "transfer/make_sure_package.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "package/manager/file_manager.h"
#include "package/store/layout.h"
#include "package/testing/temp_folder_testing.h"
#include "platform/env.h"
#include "transfer/dir_copy.h"
#include "transfer/testing/recording_notify_testing.h"
#include "transfer/testing/run_file_manager_testing.h"
#include "util/releaser.h"

namespace marrowgate {
namespace {

using Events = std::vector<std::string>;

FileManager* NewFileManager() { return NewRunFileManager(); }

class MakeSurePackageTest : public ::testing::Test {
 protected:
  MakeSurePackageTest() : fileManager_(NewFileManager()) {
    install_ = folder_.Child("install");
    platform::MakeFolder(install_.c_str());
  }

  int Make(const char* name) {
    return MakeSurePackage(fileManager_.get(), install_.c_str(), &sink_, name);
  }
  bool OnDisk(const std::string& relative) {
    return platform::PathAccessible((install_ + "/" + relative).c_str());
  }
  std::string ReadDisk(const std::string& relative) {
    return TestFolder::ReadFile(install_ + "/" + relative);
  }
  // Saves and closes every package of the file manager.
  void CloseFileManager() { fileManager_.reset(); }

  TestFolder folder_;
  std::string install_;
  Owned<FileManager> fileManager_;
  RecordingNotify sink_;
};

TEST_F(MakeSurePackageTest, CreatesAnEmptyPackageAndMountsIt) {
  ASSERT_EQ(Make("data"), 0);
  EXPECT_EQ(sink_.events, (Events{"INFO 0 Make sure package data exist ..."}));
  CloseFileManager();

  std::string bytes = ReadDisk("data.dpk");
  ASSERT_GE(bytes.size(), sizeof(kPackageMagic));
  EXPECT_EQ(std::string(bytes.c_str()), kPackageMagic);
  EXPECT_FALSE(OnDisk("data"));  // no folder of that name

  // A fresh file manager sees a package there, with nothing in it.
  Owned<FileManager> again(NewFileManager());
  EXPECT_EQ(again->EnsurePackage((install_ + "/data").c_str(), ".dpk", 0), 0);
  Owned<DirListing> listing(again->OpenListing((install_ + "/data").c_str()));
  ASSERT_NE(listing, nullptr);
  int entries = 0;
  while (const ListingEntry* entry = listing->Next()) {
    if (std::strcmp(entry->name, ".") != 0 && std::strcmp(entry->name, "..") != 0) ++entries;
  }
  EXPECT_EQ(entries, 0);
}

TEST_F(MakeSurePackageTest, SecondCallFindsThePackageMounted) {
  ASSERT_EQ(Make("data"), 0);
  ASSERT_EQ(Make("data"), 0);
  EXPECT_EQ(sink_.events, (Events{"INFO 0 Make sure package data exist ...",
                                  "INFO 0 Make sure package data exist ..."}));
}

TEST_F(MakeSurePackageTest, AnExistingPackageIsMountedAndNotRewritten) {
  ASSERT_EQ(Make("data"), 0);
  CloseFileManager();
  std::string before = ReadDisk("data.dpk");

  fileManager_.reset(NewFileManager());
  ASSERT_EQ(Make("data"), 0);
  EXPECT_EQ(sink_.events.back(), "INFO 0 Make sure package data exist ...");
  CloseFileManager();
  EXPECT_EQ(ReadDisk("data.dpk"), before);
}

TEST_F(MakeSurePackageTest, NameWithFolderPartsMakesTheFoldersAndCopiesLandInside) {
  ASSERT_EQ(Make("res/sound"), 0);
  EXPECT_TRUE(OnDisk("res/sound.dpk"));

  // Copy a small tree from the disk through the file manager below the
  // package's name.
  std::string source = folder_.Child("src");
  platform::MakeFolder(source.c_str());
  platform::MakeFolder((source + "/sub").c_str());
  folder_.WriteFile("src/a.wav", "alpha");
  folder_.WriteFile("src/sub/b.wav", std::string(5000, 'b'));
  Owned<FileSystem> disk(CreateFileSystem());
  std::string target = install_ + "/res/sound";
  DIRCP_PARAM_T params;
  params.pSrcFM = disk.get();
  params.pDstFM = fileManager_.get();
  params.szSrcDir = source.c_str();
  params.szDstDir = target.c_str();
  params.pNotify = &sink_;
  params.nBufSize = 1000;
  Owned<dircp> engine(CreateDirCopy(kDelayedDirCopy, nullptr));
  ASSERT_EQ(engine->DoIt(params), 0);
  engine.reset();
  CloseFileManager();

  EXPECT_FALSE(OnDisk("res/sound"));  // nothing went to a folder on disk
  Owned<FileManager> again(NewFileManager());
  for (const auto& [name, content] :
       {std::pair<std::string, std::string>{"a.wav", "alpha"},
        std::pair<std::string, std::string>{"sub/b.wav", std::string(5000, 'b')}}) {
    Owned<VirtualFile> file(again->Open((target + "/" + name).c_str(), kOpenRead));
    ASSERT_NE(file, nullptr) << name;
    EXPECT_TRUE(again->ReachedPackage()) << name;
    std::string got(static_cast<size_t>(file->Size()), '\0');
    ASSERT_EQ(file->Read(got.data(), static_cast<int32_t>(got.size())),
              static_cast<int32_t>(got.size()));
    EXPECT_EQ(got, content) << name;
  }
}

TEST_F(MakeSurePackageTest, AFileThatIsNoPackageIsRefusedAndLeftAlone) {
  folder_.WriteFile("install/plain.dpk", "just some text");
  EXPECT_EQ(Make("plain"), -1);
  EXPECT_EQ(sink_.events, (Events{"INFO 0 Make sure package plain exist ...",
                                  "ERROR -2 Create package plain err:-1"}));
  CloseFileManager();
  EXPECT_EQ(ReadDisk("plain.dpk"), "just some text");
}

TEST_F(MakeSurePackageTest, NamesLeavingTheFolderAreRefusedBeforeAnythingIsTouched) {
  for (const char* name : {"", "..", "../outside", "a/../../x", "...", "a/.../b", "/abs", "a//b",
                           "a/", "c:x", "."}) {
    sink_.events.clear();
    EXPECT_EQ(Make(name), kPackageNameRefused) << name;
    EXPECT_EQ(sink_.events,
              (Events{"ERROR -2 Create package " + std::string(name) + " err:-10"}))
        << name;
  }
  EXPECT_EQ(MakeSurePackage(fileManager_.get(), install_.c_str(), &sink_, nullptr),
            kPackageNameRefused);
  EXPECT_EQ(MakeSurePackage(nullptr, install_.c_str(), &sink_, "data"), kPackageNameRefused);
  EXPECT_EQ(MakeSurePackage(fileManager_.get(), nullptr, &sink_, "data"), kPackageNameRefused);
  CloseFileManager();
  // Nothing was created beside or inside the install folder.
  EXPECT_FALSE(platform::PathAccessible((install_ + ".dpk").c_str()));
  EXPECT_FALSE(platform::PathAccessible(folder_.Child("outside.dpk").c_str()));
  EXPECT_FALSE(OnDisk("data.dpk"));
}

TEST_F(MakeSurePackageTest, OverlongNamesAreRefusedNotCut) {
  // Where the system takes no disk path as long as the package's (Windows:
  // 259 characters), the file manager refuses it (-11) before the disk is
  // touched.
  auto beyondTheDisk = [&](const std::string& name) {
    return install_.size() + 1 + name.size() + std::strlen(kPackageExtension) >
           static_cast<size_t>(kMaxDiskPath);
  };
  // A name the disk cannot hold (one component longer than a file name
  // may be): the package cannot be created (-21).
  std::string longName(300, 'n');
  const int longCode = beyondTheDisk(longName) ? -11 : -21;
  EXPECT_EQ(Make(longName.c_str()), longCode);
  EXPECT_EQ(sink_.events.back(),
            "ERROR -2 Create package " + longName + " err:" + std::to_string(longCode));

  // Where the package lies does not limit it: a name of several parts
  // longer than a path inside a package may be is fine.
  sink_.events.clear();
  std::string deepName;
  while (deepName.size() <= 300) deepName += std::string(60, 'd') + "/";
  deepName += "pack";
  if (beyondTheDisk(deepName)) {
    EXPECT_EQ(Make(deepName.c_str()), -11);
    EXPECT_EQ(sink_.events.back(), "ERROR -2 Create package " + deepName + " err:-11");
    EXPECT_FALSE(OnDisk(std::string(60, 'd')));
  } else {
    EXPECT_EQ(Make(deepName.c_str()), 0);
    EXPECT_EQ(sink_.events.size(), 1u);  // the announcement only
  }

  // Too long for the text buffer: refused before the file manager is asked,
  // the error text shows the beginning of the name.
  sink_.events.clear();
  std::string hugeName(2000, 'h');
  EXPECT_EQ(Make(hugeName.c_str()), kPackageNameTooLong);
  ASSERT_EQ(sink_.events.size(), 1u);
  const std::string& error = sink_.events[0];
  EXPECT_EQ(error.rfind("ERROR -2 Create package " + std::string(900, 'h') + "...", 0), 0u);
  EXPECT_EQ(error.substr(error.size() - 8), " err:-12");

  // A name that fits the texts but not the composed path.
  sink_.events.clear();
  std::string wideName(980, 'w');
  EXPECT_EQ(Make(wideName.c_str()), kPackageNameTooLong);
  EXPECT_EQ(sink_.events, (Events{"ERROR -2 Create package " + wideName + " err:-12"}));

  // The check alone gives the same answers and touches nothing.
  sink_.events.clear();
  EXPECT_EQ(CheckPackageName(fileManager_.get(), install_.c_str(), &sink_, wideName.c_str()),
            kPackageNameTooLong);
  EXPECT_EQ(CheckPackageName(fileManager_.get(), install_.c_str(), &sink_, "../x"),
            kPackageNameRefused);
  EXPECT_EQ(CheckPackageName(fileManager_.get(), install_.c_str(), &sink_, "fresh/name"), 0);
  EXPECT_EQ(sink_.events, (Events{"ERROR -2 Create package " + wideName + " err:-12",
                                  "ERROR -2 Create package ../x err:-10"}));
  CloseFileManager();
  EXPECT_FALSE(OnDisk("fresh"));
  EXPECT_FALSE(OnDisk("fresh/name.dpk"));
}

TEST_F(MakeSurePackageTest, WorksWithoutASink) {
  EXPECT_EQ(MakeSurePackage(fileManager_.get(), install_.c_str(), nullptr, "quiet"), 0);
  folder_.WriteFile("install/plain.dpk", "text");
  EXPECT_EQ(MakeSurePackage(fileManager_.get(), install_.c_str(), nullptr, "plain"), -1);
}

TEST(PackageNameTest, ContainedNames) {
  for (const char* good : {"a", "a/b", "a\\b", "a.b", ".a", "a..", "x/.y/z"})
    EXPECT_TRUE(IsPackageNameContained(good)) << good;
  for (const char* bad : {"", ".", "..", "....", "a/..", "a\\..\\b", "/a", "\\a", "a/", "a//b",
                          "c:", "c:/a", "a:b"})
    EXPECT_FALSE(IsPackageNameContained(bad)) << bad;
  EXPECT_FALSE(IsPackageNameContained(nullptr));
}

}  // namespace
}  // namespace marrowgate
