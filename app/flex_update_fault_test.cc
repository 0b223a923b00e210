// A patch run never reports a loss as success: a failure is injected at
// every storage operation (write, flush, replace, delete) of FlexUpdate::Run
// and of UpdateFileLists, one at a time. After each, either the run failed
// (a negative result, or a file the copy was told to skip), or every file
// and every package item of the patch is in place and the install folder
// checks whole.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/app_file_manager.h"
#include "app/dialog_pack_notify.h"
#include "app/flex_update.h"
#include "app/install_bookkeeping.h"
#include "app/install_verify.h"
#include "app/local_file_list.h"
#include "app/message_sink.h"
#include "app/own_package.h"
#include "app/testing/patcher_program_testing.h"
#include "app/run_job.h"
#include "package/testing/fault_injection_testing.h"
#include "package/testing/temp_folder_testing.h"
#include "transfer/testing/recording_notify_testing.h"
#include "util/md5.h"
#include "util/releaser.h"

namespace marrowgate {
namespace {

namespace fs = std::filesystem;
using testing_faults::FaultFileSystem;
using testing_faults::FaultPlan;

class QuietMessages : public MessageSink {
 public:
  std::string MessageText(int32_t) override { return std::string(); }
  void ShowMessageById(int32_t) override {}
  void ShowMessageText(int32_t, const std::string&) override {}
  void ReportError(int32_t, int32_t) override {}
};

FileRecord RecordOf(const std::string& content) {
  FileRecord record;
  record.size = static_cast<uint32_t>(content.size());
  Md5Digest(content.data(), content.size(), record.digest.data());
  return record;
}

// What the patch installs, by path below the install folder; the names
// below "data/maps" land in the package data/maps.dpk.
const std::map<std::string, std::string>& PatchFiles() {
  static const std::map<std::string, std::string> files = {
      {"readme.txt", "new readme\n"},
      {"data/a.bin", std::string(3000, 'a')},
      {"data/maps/m1.map", "the new first map"},
      {"data/maps/m2.map", std::string(5000, 'm')},
      {"bin/game.exe", "the new game, held back"},
      {"mb/etc/version.txt", "1 1.6.0.0\r\n"},
  };
  return files;
}

class FlexUpdateFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = folder_.Child("patcher");
    template_ = folder_.Child("template");
    install_ = folder_.Child("install");
    std::map<std::string, std::string> items = {
        {"cfg.txt", "UPDATE\r\n{\r\n  szValidityStr = 1.2.0.0\r\n  PACKAGE = data/maps\r\n}\r\n"},
        {"update/update/newfile.txt",
         "readme.txt\r\ndata/a.bin\r\ndata/maps/m1.map\r\ndata/maps/m2.map\r\nbin/game.exe\r\n"},
        {"update/update/dellist.txt", "old\r\n"},
    };
    for (const auto& [name, content] : PatchFiles()) items["update/" + name] = content;
    ASSERT_TRUE(MakePatcherProgram(program_, items));

    // The installed client: version 1.5, an old readme, a package with
    // the old first map, a folder to be deleted, and their list.
    fs::create_directories(template_ + "/update");
    fs::create_directories(template_ + "/old");
    folder_.WriteFile("template/mb/etc/version.txt", "1 1.5.0.0\r\n");
    folder_.WriteFile("template/readme.txt", "old readme\n");
    folder_.WriteFile("template/old/x.txt", "old x");
    {
      Owned<FileManager> fm(CreateFileManager(AppFileManagerOptions()));
      const std::string maps = template_ + "/data/maps";
      ASSERT_EQ(fm->EnsurePackage(maps.c_str(), ".dpk", kOpenUpdate), 0);
      Owned<VirtualFile> item(fm->Open((maps + "/m1.map").c_str(), kOpenCreate));
      ASSERT_TRUE(item);
      ASSERT_EQ(item->Write("the old first map", 17), 17);
      item.reset();
      ASSERT_EQ(fm->ClosePackage(maps.c_str()), 0);
    }
    FileTable table;
    table["readme.txt"] = RecordOf("old readme\n");
    table["data/maps/m1.map"] = RecordOf("the old first map");
    table["old/x.txt"] = RecordOf("old x");
    folder_.WriteFile("template/update/localfilelist.txt", SerializeLocalFileList(table));
  }

  void FreshInstall() {
    fs::remove_all(install_);
    fs::copy(template_, install_, fs::copy_options::recursive);
  }

  // One run with `plan` on every storage operation of the run and of the
  // file lists' update. True when it reported success.
  bool RunAndUpdateLists(FaultPlan* plan) {
    RecordingNotify sink;
    const std::string packageRoot = PackageRootOf(program_);
    RunJob runJob(packageRoot.c_str(), install_.c_str(), &sink, "1.5.0.0", nullptr);
    PatchJob& job = runJob.job();
    FaultFileSystem faulty(job.pFileSystem, plan);
    job.pFileSystem = &faulty;
    const char* const delayed[] = {"bin/game.exe", nullptr};
    FlexUpdate update;
    update.SetOwnProgram(program_);
    int result = update.Run(&job, delayed);
    if (result < 0) return false;
    for (const std::string& event : sink.events) {
      int code = 0;
      if (std::sscanf(event.c_str(), "ERROR %d", &code) == 1 &&
          DialogPackNotify::LeavesFileOut(code))
        return false;  // the dialog fails such a run with -10203
    }

    FileManagerConfig config;
    FileManagerOptions options = AppFileManagerOptions();
    config.searchMode = options.searchMode;
    config.acceptHosts = options.acceptHosts;
    config.defaultMode = options.defaultMode;
    config.fileSystem = &faulty;
    config.compressor = job.pCodec;
    config.cipherAEnc = job.pCipherA;
    config.cipherADec = job.pCipherB;
    config.cipherBEnc = job.pCipherC;
    config.cipherBDec = job.pCipherD;
    std::memcpy(config.keyA, options.keyA, sizeof config.keyA);
    config.keyALen = options.keyALen;
    std::memcpy(config.keyB, options.keyB, sizeof config.keyB);
    config.keyBLen = options.keyBLen;
    QuietMessages messages;
    return UpdateFileLists(Owned<FileManager>(new FileManager(config)), install_, &messages) == 0;
  }

  // Everything the patch carries is in place and the folder checks whole.
  void ExpectComplete(int64_t failAt) {
    Owned<FileManager> fm(CreateFileManager(AppFileManagerOptions()));
    for (const auto& [name, content] : PatchFiles()) {
      Owned<VirtualFile> file(fm->Open((install_ + "/" + name).c_str(), kOpenRead));
      ASSERT_TRUE(file) << name << " missing after a success, failure at " << failAt;
      std::string got(static_cast<size_t>(file->Size()), '\0');
      ASSERT_EQ(file->Read(got.data(), static_cast<int32_t>(got.size())),
                static_cast<int32_t>(got.size()));
      EXPECT_EQ(got, content) << name << ", failure at " << failAt;
    }
    fm.reset();
    std::vector<std::string> lines;
    VerifyCounts counts;
    EXPECT_EQ(VerifyInstall(AppFileManagerOptions(), install_,
                            [&](const std::string& line) { lines.push_back(line); }, &counts),
              kVerifyWhole)
        << "failure at " << failAt << ": " << (lines.empty() ? "" : lines[0]);
    EXPECT_GE(counts.matched, 5) << "failure at " << failAt;
  }

  TestFolder folder_;
  std::string program_, template_, install_;
};

TEST_F(FlexUpdateFaultTest, EveryFailedStorageOperationFailsTheRunOrLosesNothing) {
  // Without faults: success, and the number of operations to fail.
  FreshInstall();
  FaultPlan counting;
  counting.Arm(0, FaultPlan::Effect::kFail);
  ASSERT_TRUE(RunAndUpdateLists(&counting));
  ExpectComplete(0);
  const int64_t points = counting.count();
  ASSERT_GT(points, 20);

  int64_t failed = 0;
  for (int64_t n = 1; n <= points; ++n) {
    FreshInstall();
    FaultPlan plan;
    plan.Arm(n, FaultPlan::Effect::kFail);
    bool succeeded = RunAndUpdateLists(&plan);
    ASSERT_TRUE(plan.tripped()) << n;
    if (succeeded) {
      ExpectComplete(n);
    } else {
      ++failed;
    }
    if (HasFatalFailure()) return;
  }
  RecordProperty("failure_points", static_cast<int>(points));
  RecordProperty("failed_runs", static_cast<int>(failed));
  std::printf("%lld failure points, %lld runs failed, the others complete\n",
              static_cast<long long>(points), static_cast<long long>(failed));
  // Most operations carry the update's content: losing one must fail.
  EXPECT_GT(failed, points / 2);
}

// A package that cannot be saved when the run ends fails the run with a
// code of its own and is named.
TEST_F(FlexUpdateFaultTest, PackageNotSavedFailsTheRun) {
  const std::string packageRoot = PackageRootOf(program_);
  // Runs with a failure at `n` (0: none); the run's result.
  auto run = [&](int64_t n, FaultPlan* plan, RecordingNotify* sink) {
    FreshInstall();
    plan->Arm(n, FaultPlan::Effect::kFail);
    RunJob runJob(packageRoot.c_str(), install_.c_str(), sink, "1.5.0.0", nullptr);
    FaultFileSystem faulty(runJob.job().pFileSystem, plan);
    runJob.job().pFileSystem = &faulty;
    FlexUpdate update;
    update.SetOwnProgram(program_);
    return update.Run(&runJob.job());
  };
  FaultPlan counting;
  RecordingNotify quiet;
  ASSERT_EQ(run(0, &counting, &quiet), 0);
  // The last storage operations of the run are the package's commit.
  const std::string named = "ERROR -4 Can not save package " + install_ + "/data/maps: error ";
  int64_t notSaved = 0;
  for (int64_t n = counting.count(); n > 0 && n > counting.count() - 8; --n) {
    FaultPlan plan;
    RecordingNotify sink;
    int32_t result = run(n, &plan, &sink);
    if (result != kRunPackageNotSaved) continue;
    ++notSaved;
    ASSERT_FALSE(sink.events.empty());
    EXPECT_EQ(sink.events.back().rfind(named, 0), 0u) << sink.events.back();
  }
  EXPECT_GT(notSaved, 0);
}

}  // namespace
}  // namespace marrowgate
