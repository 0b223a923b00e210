#include "app/flex_update.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "package/manager/file_manager.h"
#include "package/store/layout.h"
#include "package/file/memory_file.h"
#include "package/testing/temp_folder_testing.h"
#include "platform/env.h"
#include "transfer/make_sure_package.h"
#include "transfer/testing/recording_notify_testing.h"
#include "transfer/testing/run_file_manager_testing.h"
#include "util/releaser.h"

namespace marrowgate {
namespace {

using Events = std::vector<std::string>;

FileManager* NewFileManager() { return NewRunFileManager(); }

MemoryFile* TextFile(const std::string& text) {
  return new MemoryFile(std::vector<uint8_t>(text.begin(), text.end()));
}

TEST(FlexUpdateRecordTest, TypeInfoAndDefaults) {
  FlexUpdate update;
  const CfgTypeInfo* info = update.GetTypeInfo();
  ASSERT_EQ(info, &FlexUpdate::CFGINFO_T);
  EXPECT_STREQ(info->name, "FlexUpdate::CFGINFO_T");
  EXPECT_EQ(info->parent, nullptr);
  const CfgFieldInfo* rows = info->rows;
  EXPECT_STREQ(rows[0].name, "szUpdateDir");
  EXPECT_EQ(rows[0].type, kCfgText);
  EXPECT_EQ(rows[0].size, 260);
  EXPECT_STREQ(rows[1].name, "szValidityStr");
  EXPECT_EQ(rows[1].type, kCfgText);
  EXPECT_EQ(rows[1].size, 16);
  EXPECT_STREQ(rows[2].name, "PACKAGE");
  EXPECT_EQ(rows[2].type, kCfgAction);
  EXPECT_NE(rows[2].handler, nullptr);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(rows[i].flags, 0u) << i;
  EXPECT_EQ(rows[3].name, nullptr);

  EXPECT_STREQ(update.szUpdateDir, "update");
  EXPECT_STREQ(update.szValidityStr, "");
  EXPECT_EQ(update.job(), nullptr);
  EXPECT_EQ(update.file_manager(), nullptr);
}

// ParseCfg over in-memory texts, PACKAGE lines against a scratch install
// folder.
class FlexUpdateParseTest : public ::testing::Test {
 protected:
  FlexUpdateParseTest() {
    install_ = folder_.Child("install");
    platform::MakeFolder(install_.c_str());
    job_.szInstallDir = install_.c_str();
    job_.pNotify = &sink_;
    update_.SetJob(&job_);
    update_.SetFileManager(NewFileManager());
  }

  int Parse(const std::string& text) {
    Owned<VirtualFile> file(TextFile(text));
    return update_.ParseCfg(file.get());
  }
  bool OnDisk(const std::string& relative) {
    return platform::PathAccessible((install_ + "/" + relative).c_str());
  }

  TestFolder folder_;
  std::string install_;
  RecordingNotify sink_;
  PatchJob job_;
  FlexUpdate update_;
};

TEST_F(FlexUpdateParseTest, BindsTheUpdateBlock) {
  ASSERT_EQ(Parse("UPDATE\n{\nszUpdateDir = data\n}\n"), 0);
  EXPECT_STREQ(update_.szUpdateDir, "data");
  EXPECT_STREQ(update_.szValidityStr, "");
  EXPECT_TRUE(sink_.events.empty());
}

TEST_F(FlexUpdateParseTest, MessagesAndOtherBlocksBindNothing) {
  ASSERT_EQ(Parse("100 Patching ...\r\n"
                  "203 Failed: %d\r\n"
                  "OTHER\r\n{\r\nszUpdateDir = elsewhere\r\n}\r\n"
                  "UPDATE\r\n{\r\n"
                  "  szValidityStr = 1.2.0.0   // lowest client\r\n"
                  "}\r\n"),
            0);
  EXPECT_STREQ(update_.szUpdateDir, "update");
  EXPECT_STREQ(update_.szValidityStr, "1.2.0.0");
}

TEST_F(FlexUpdateParseTest, LongValuesAreCutToTheField) {
  std::string longDir(300, 'd');
  // (The cut requirement is no version, so the read fails, values bound.)
  ASSERT_EQ(Parse("UPDATE\n{\nszUpdateDir = " + longDir +
                  "\nszValidityStr = 1.2.3.4.5.6.7.8.9\n}\n"),
            kCfgBadValidity);
  EXPECT_EQ(std::string(update_.szUpdateDir), std::string(259, 'd'));
  EXPECT_EQ(std::string(update_.szValidityStr), "1.2.3.4.5.6.7.8");  // 15 characters
}

// szUpdateDir names a folder inside the package, or the read fails.
TEST_F(FlexUpdateParseTest, UpdateDirMustStayInsideThePackage) {
  for (const char* dir : {"..", "../outside", "/etc/apt", "a/../../b", "C:/x", "./update"}) {
    SCOPED_TRACE(dir);
    sink_.events.clear();
    EXPECT_EQ(Parse(std::string("UPDATE\n{\nszUpdateDir = ") + dir + "\n}\n"), kCfgBadUpdateDir);
    EXPECT_EQ(sink_.events, (Events{std::string("ERROR -1000 szUpdateDir ") + dir +
                                    " is not a folder inside the package"}));
  }
  EXPECT_EQ(Parse("UPDATE\n{\nszUpdateDir = patch\\update\n}\n"), 0);
  EXPECT_EQ(kRunBadUpdateDir, -10002);
}

// szValidityStr is empty or a version, or the read fails: a text that is
// none would compare as 0.0.0.0 and let every client through.
TEST_F(FlexUpdateParseTest, ValidityThatIsNoVersionFailsTheRead) {
  for (const char* bad : {"v1.1", "1.2beta", "1..2", "1.2.3.4.5", "99999999999"}) {
    SCOPED_TRACE(bad);
    sink_.events.clear();
    EXPECT_EQ(Parse(std::string("UPDATE\n{\nPACKAGE = data\nszValidityStr = ") + bad + "\n}\n"),
              kCfgBadValidity);
    EXPECT_EQ(sink_.events,
              (Events{std::string("ERROR -1000 szValidityStr ") + bad + " is not a version"}));
  }
  EXPECT_EQ(kRunBadValidity, -10003);
  update_.SetFileManager(nullptr);
  EXPECT_FALSE(OnDisk("data.dpk"));
  sink_.events.clear();
  update_.SetFileManager(NewFileManager());
  for (const char* good : {"", "1", "1.2", "1.10.0.3"}) {
    EXPECT_EQ(Parse(std::string("UPDATE\n{\nszValidityStr = ") + good + "\n}\n"), 0) << good;
  }
  EXPECT_TRUE(sink_.events.empty());
}

TEST_F(FlexUpdateParseTest, ReaderErrorGivesMinusOneAndTheErrorText) {
  EXPECT_EQ(Parse("UPDATE\n{\nszUpdateDir = data\n}\n}\n"), -1);
  EXPECT_STREQ(update_.szUpdateDir, "data");  // bound before the error
  EXPECT_EQ(sink_.events,
            (Events{"ERROR -1000 Can not analyze cfgfile rst:-12 fileinclude:[] errcode:-11 "
                    "line:5 content:}\n"}));
}

TEST_F(FlexUpdateParseTest, UnknownKeyFailsTheRead) {
  EXPECT_EQ(Parse("UPDATE\n{\nszNoSuchKey = 1\n}\n"), -1);
  ASSERT_EQ(sink_.events.size(), 1u);
  EXPECT_EQ(sink_.events[0].rfind("ERROR -1000 Can not analyze cfgfile rst:-13 ", 0), 0u)
      << sink_.events[0];
  EXPECT_NE(sink_.events[0].find("content:szNoSuchKey = 1\n"), std::string::npos)
      << sink_.events[0];
}

TEST_F(FlexUpdateParseTest, FailureWithoutAJobSendsNothing) {
  // With the job attached the failure reaches the job's sink ...
  ASSERT_EQ(Parse("}\n"), -1);
  ASSERT_EQ(sink_.events.size(), 1u);
  sink_.events.clear();
  // ... a null file fails before anything is read and sends nothing ...
  EXPECT_EQ(update_.ParseCfg(nullptr), -1);
  EXPECT_TRUE(sink_.events.empty());
  // ... and without a job, or with a job without a sink, nothing is sent.
  update_.SetJob(nullptr);
  EXPECT_EQ(Parse("}\n"), -1);
  PatchJob silent;
  silent.szInstallDir = install_.c_str();
  update_.SetJob(&silent);
  EXPECT_EQ(Parse("}\n"), -1);
  EXPECT_TRUE(sink_.events.empty());
}

TEST_F(FlexUpdateParseTest, PackageLineIsKeptAndMadeLater) {
  ASSERT_EQ(Parse("UPDATE\n{\nPACKAGE = res/sound\n}\n"), 0);
  EXPECT_TRUE(sink_.events.empty());
  EXPECT_EQ(update_.package_names(), (Events{"res/sound"}));
  EXPECT_FALSE(OnDisk("res"));
  ASSERT_EQ(update_.MakePackages(), 0);
  EXPECT_EQ(sink_.events, (Events{"INFO 0 Make sure package res/sound exist ..."}));
  EXPECT_TRUE(OnDisk("res/sound.dpk"));

  // A file written below that name through the run's file manager lands in
  // the package.
  std::string item = install_ + "/res/sound/a.wav";
  {
    Owned<VirtualFile> file(update_.file_manager()->Open(item.c_str(), kOpenCreate));
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(update_.file_manager()->ReachedPackage());
    ASSERT_EQ(file->Write("wave", 4), 4);
  }
  update_.SetFileManager(nullptr);  // closes and saves the package
  EXPECT_FALSE(OnDisk("res/sound"));
  Owned<FileManager> again(NewFileManager());
  Owned<VirtualFile> file(again->Open(item.c_str(), kOpenRead));
  ASSERT_NE(file, nullptr);
  char got[8] = {};
  EXPECT_EQ(file->Read(got, sizeof got), 4);
  EXPECT_STREQ(got, "wave");
}

TEST_F(FlexUpdateParseTest, SamePackageTwiceIsMountedOnce) {
  ASSERT_EQ(Parse("UPDATE\n{\nPACKAGE = data\nPACKAGE = data\n}\n"), 0);
  ASSERT_EQ(update_.MakePackages(), 0);
  EXPECT_EQ(sink_.events, (Events{"INFO 0 Make sure package data exist ...",
                                  "INFO 0 Make sure package data exist ..."}));
  EXPECT_TRUE(OnDisk("data.dpk"));
}

TEST_F(FlexUpdateParseTest, NotAPackageStopsMakingAndKeepsEarlierPackages) {
  folder_.WriteFile("install/plain.dpk", "plain text");
  ASSERT_EQ(Parse("UPDATE\n{\nPACKAGE = first\nPACKAGE = plain\nPACKAGE = third\n}\n"), 0);
  EXPECT_EQ(update_.MakePackages(), -1);
  EXPECT_EQ(sink_.events, (Events{"INFO 0 Make sure package first exist ...",
                                  "INFO 0 Make sure package plain exist ...",
                                  "ERROR -2 Create package plain err:-1"}));
  update_.SetFileManager(nullptr);
  EXPECT_TRUE(OnDisk("first.dpk"));
  EXPECT_FALSE(OnDisk("third.dpk"));
  EXPECT_EQ(TestFolder::ReadFile(install_ + "/plain.dpk"), "plain text");
}

TEST_F(FlexUpdateParseTest, PackageWithoutAFileManagerIsRefused) {
  update_.SetFileManager(nullptr);
  EXPECT_EQ(Parse("UPDATE\n{\nPACKAGE = data\n}\n"), -1);
  ASSERT_EQ(sink_.events.size(), 2u);
  EXPECT_EQ(sink_.events[0], "ERROR -2 Create package data err:" +
                                 std::to_string(kPackageNameRefused));
  EXPECT_FALSE(OnDisk("data.dpk"));
}

TEST_F(FlexUpdateParseTest, HandlerIsReachedThroughSetValue) {
  EXPECT_EQ(update_.SetValue("PACKAGE", "direct", 0), 0);
  EXPECT_EQ(update_.SetValue("szUpdateDir", "direct", 0), 0);
  EXPECT_STREQ(update_.szUpdateDir, "direct");
  EXPECT_FALSE(OnDisk("direct.dpk"));
  EXPECT_EQ(update_.MakePackages(), 0);
  EXPECT_TRUE(OnDisk("direct.dpk"));
}

// A PACKAGE name that would leave the install folder fails its line while
// the file is read, before anything is made.
TEST_F(FlexUpdateParseTest, RefusedPackageNameFailsTheRead) {
  EXPECT_EQ(Parse("UPDATE\n{\nPACKAGE = good\nPACKAGE = ../outside\n}\n"), -1);
  ASSERT_EQ(sink_.events.size(), 2u);
  EXPECT_EQ(sink_.events[0], "ERROR -2 Create package ../outside err:-10");
  EXPECT_EQ(sink_.events[1].rfind("ERROR -1000 Can not analyze cfgfile rst:-13 ", 0), 0u);
  update_.SetFileManager(nullptr);
  EXPECT_FALSE(OnDisk("good.dpk"));
  EXPECT_FALSE(platform::PathAccessible(folder_.Child("outside.dpk").c_str()));
}

}  // namespace
}  // namespace marrowgate
