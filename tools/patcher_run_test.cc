// The patch run end to end: a patch program made the way a publisher makes
// one (the built `marrowgate` with a package attached by marrowgate-pack),
// applied to a scratch install folder by the dialog logic in this process
// (the program named as its module) and by the program itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_tree.h"
#include "app/app_file_manager.h"
#include "app/dialog_pack_notify.h"
#include "app/flex_update.h"
#include "app/local_file_list.h"
#include "app/parent_link.h"
#include "app/patcher_app.h"
#include "app/patcher_dialog.h"
#include "app/payload_check.h"
#include "app/testing/recording_view_testing.h"
#include "app/run_job.h"
#include "platform/env.h"
#include "platform/local_socket.h"
#include "tools/launcher_listener.h"
#include "tools/pack_tool.h"
#include "tools/testing/pack_tool_testing.h"
#include "transfer/testing/recording_notify_testing.h"
#include "util/md5.h"

namespace marrowgate {
namespace {

using Lines = std::vector<std::string>;

FileRecord RecordOf(const std::string& content) {
  FileRecord record;
  record.size = static_cast<uint32_t>(content.size());
  Md5Digest(content.data(), content.size(), record.digest.data());
  return record;
}

const std::string kMessages = std::string("100 Test patch\r\n") + kPatcherTestMessages +
                                "900 1\r\n901 launcher.exe\r\n"
                                "10001 1\r\n10002 bin/game.exe\r\n";

class PatchRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::path(::testing::TempDir()) /
            ("mg_run_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
             "_" + std::to_string(std::random_device()()));
    fs::remove_all(root_);
    fs::create_directories(root_);
    patch_ = root_ / "patch";
    install_ = root_ / "install";
    program_ = root_ / "patcher";

    cfg_ = std::string(kMessages) + "UPDATE\r\n{\r\n  szValidityStr = 1.2.0.0\r\n}\r\n";
    Patch("update/readme.txt", "new readme\n");
    Patch("update/data/a.bin", std::string(3000, 'a'));
    Patch("update/bin/game.exe", "the game, held back");
    Patch("update/launcher.exe", "a launcher the patch must not replace");
    Patch("update/update/newfile.txt", "readme.txt\r\n\r\ndata/a.bin\r\nbin/game.exe\r\n");
    Patch("update/update/dellist.txt", "old\r\n");

    Install("mb/etc/version.txt", "1 1.5.0.0\r\n");
    FileTable table;
    table["readme.txt"] = RecordOf("old readme\n");
    table["old/x.txt"] = RecordOf("old x");
    table["kept.txt"] = RecordOf("kept");
    Install("update/localfilelist.txt", SerializeLocalFileList(table));
    Install("readme.txt", "old readme\n");
    Install("old/x.txt", "old x");
    Install("kept.txt", "kept");
  }
  void TearDown() override { fs::remove_all(root_); }

  void Patch(const std::string& name, const std::string& content) {
    WriteFile(patch_ / name, content);
  }
  void Install(const std::string& name, const std::string& content) {
    WriteFile(install_ / name, content);
  }
  // The patch program: the built marrowgate with the patch folder attached.
  void MakeProgram() {
    if (!cfg_.empty()) WriteFile(patch_ / "cfg.txt", cfg_);
    std::ostringstream out, err;
    int status = RunPackTool({"attach", MARROWGATE_PATCHER_PROGRAM, patch_.string(),
                              program_.string()},
                             out, err, false);
    ASSERT_EQ(status, kPackExitOk) << err.str();
  }
  PatcherDialogSettings Settings() {
    PatcherDialogSettings settings;
    settings.modulePath = program_.string();
    return settings;
  }
  // A self-started run as the program does it, with `link` (may be null).
  void SelfStartedRun(ParentLink* link, const std::function<void(PatcherDialog&)>& during = {}) {
    MakeProgram();
    dialog_ = std::make_unique<PatcherDialog>(&view_, link, install_.string(), Settings());
    if (during) view_.onDispatch = [this, during]() { during(*dialog_); };
    dialog_->OnInitDialog();
    ASSERT_FALSE(dialog_->close_requested()) << (view_.boxes.empty() ? "" : view_.boxes[0]);
    dialog_->OnShowWindow();
  }
  FileTable LocalList() {
    FileTable table;
    EXPECT_TRUE(ParseLocalFileList(ReadFile(install_ / "update/localfilelist.txt"), &table));
    return table;
  }

  fs::path root_, patch_, install_, program_;
  std::string cfg_;
  RecordingView view_;
  std::unique_ptr<PatcherDialog> dialog_;
};

TEST_F(PatchRunTest, SuccessCopiesHoldsBackAndUpdatesTheLists) {
  Install("launcher.exe", "installed launcher");
  // At every file's end: whether the held-back file is there yet.
  std::vector<bool> heldBackPresent;
  SelfStartedRun(nullptr, [&](PatcherDialog&) {
    heldBackPresent.push_back(fs::exists(install_ / "bin/game.exe"));
  });

  EXPECT_EQ(dialog_->last_result(), 0);
  EXPECT_TRUE(dialog_->finished());
  EXPECT_TRUE(view_.boxes.empty()) << view_.boxes[0];
  EXPECT_EQ(ReadFile(install_ / "readme.txt"), "new readme\n");
  EXPECT_EQ(ReadFile(install_ / "data/a.bin"), std::string(3000, 'a'));
  EXPECT_EQ(ReadFile(install_ / "bin/game.exe"), "the game, held back");
  EXPECT_EQ(ReadFile(install_ / "launcher.exe"), "installed launcher");  // skipped

  // The held-back file came last: present only at the last dispatch.
  ASSERT_GE(heldBackPresent.size(), 5u);
  EXPECT_TRUE(heldBackPresent.back());
  EXPECT_EQ(std::count(heldBackPresent.begin(), heldBackPresent.end(), true), 1);

  // Bar in bytes, ending full; the launcher's count: six files.
  EXPECT_TRUE(view_.Saw("RANGE 0 10000"));
  EXPECT_EQ(view_.position, view_.upper);
  EXPECT_EQ(dialog_->parent_link()->progress_total(), 6);
  EXPECT_EQ(dialog_->skip_counts(), 1);

  // Bookkeeping: new files recorded, the deleted folder gone from disk and
  // list, the new-file list gone, the delete list kept.
  FileTable expected;
  expected["bin/game.exe"] = RecordOf("the game, held back");
  expected["data/a.bin"] = RecordOf(std::string(3000, 'a'));
  expected["kept.txt"] = RecordOf("kept");
  expected["readme.txt"] = RecordOf("new readme\n");
  EXPECT_EQ(LocalList(), expected);
  EXPECT_FALSE(fs::exists(install_ / "old"));
  EXPECT_FALSE(fs::exists(install_ / "update/newfile.txt"));
  EXPECT_TRUE(fs::exists(install_ / "update/dellist.txt"));

  // What the window shows, and the state after.
  EXPECT_EQ(view_.texts[kControlStatus], "Done");
  EXPECT_EQ(view_.texts[kControlStart], "Close");
  EXPECT_EQ(view_.texts[kControlInstallPath], install_.string());
  EXPECT_TRUE(view_.enabled[kControlStart]);
  EXPECT_TRUE(view_.enabled[kControlExit]);
  EXPECT_TRUE(view_.Saw("TEXT 1005 Patching"));
  EXPECT_TRUE(view_.Saw("ENABLE 1000 0"));
  // During the run Exit was Cancel, and Exit again after it.
  EXPECT_TRUE(view_.Saw("TEXT 2 Cancel"));
  EXPECT_EQ(view_.texts[kControlExit], "Exit");
  EXPECT_TRUE(view_.closed);  // a self-started run closes with its end
  EXPECT_EQ(view_.title, "Test patch");
  EXPECT_EQ(std::string(dialog_->client_version()), "1.5.0.0");
}

TEST_F(PatchRunTest, FileLeftOutAfterAnErrorFailsTheRunAndKeepsTheLists) {
  // An item the engine refuses to place (a staging name) is skipped with
  // an error box answered "go on"; the rest is copied, but the run must
  // not count as done.
  Patch("update/data/b.~mgpart", "refused");
  FileTable before = [&] {
    FileTable table;
    EXPECT_TRUE(ParseLocalFileList(ReadFile(install_ / "update/localfilelist.txt"), &table));
    return table;
  }();
  SelfStartedRun(nullptr);

  EXPECT_EQ(dialog_->last_result(), kRunFilesLeftOut);
  EXPECT_FALSE(dialog_->finished());
  ASSERT_EQ(view_.boxes.size(), 1u);
  EXPECT_NE(view_.boxes[0].find("b.~mgpart"), std::string::npos) << view_.boxes[0];
  EXPECT_EQ(view_.texts[kControlStatus], "Failed (-10203)");
  EXPECT_EQ(view_.texts[kControlStart], "Start");
  EXPECT_FALSE(fs::exists(install_ / "data/b.~mgpart"));
  EXPECT_EQ(ReadFile(install_ / "readme.txt"), "new readme\n");  // the rest was copied
  // The lists wait for a complete run: the old list stands, the delete
  // list has not run, the new-file list is still to be taken in.
  EXPECT_EQ(LocalList(), before);
  EXPECT_TRUE(fs::exists(install_ / "old/x.txt"));
  EXPECT_TRUE(fs::exists(install_ / "update/newfile.txt"));
}

// A patch whose messages lack the outcome's texts still tells it.
TEST_F(PatchRunTest, AnOutcomeOrControlWithoutItsMessageIsStillShown) {
  cfg_ = "UPDATE\r\n{\r\n  szValidityStr = 1.2.0.0\r\n}\r\n";
  Patch("update/data/b.~mgpart", "refused");
  SelfStartedRun(nullptr);
  EXPECT_EQ(dialog_->last_result(), kRunFilesLeftOut);
  EXPECT_EQ(view_.texts[kControlStatus],
            "The patch failed (code " + std::to_string(kRunFilesLeftOut) + ").");

  fs::remove(patch_ / "update/data/b.~mgpart");
  view_ = RecordingView();
  SelfStartedRun(nullptr);
  EXPECT_EQ(dialog_->last_result(), 0);
  EXPECT_EQ(view_.texts[kControlStatus], "The patch was applied.");
  // Nor is a control of the window left blank.
  EXPECT_EQ(view_.texts[kControlPathLabel], "Install folder:");
  EXPECT_EQ(view_.texts[kControlBrowse], "Browse...");
  EXPECT_EQ(view_.texts[kControlStart], "Close");
  EXPECT_EQ(view_.texts[kControlExit], "Exit");
}

TEST_F(PatchRunTest, StartAfterSuccessClosesInsteadOfRunningAgain) {
  MakeProgram();
  PatcherDialog dialog(&view_, nullptr, "", Settings());
  dialog.OnInitDialog();
  dialog.OnShowWindow();  // no folder: waits
  EXPECT_FALSE(view_.enabled[kControlStart]);
  view_.pickedFolder = install_.string();
  dialog.OnBrowse();
  EXPECT_TRUE(view_.enabled[kControlStart]);
  dialog.OnStart();
  ASSERT_TRUE(dialog.finished());
  EXPECT_FALSE(view_.closed);
  fs::remove(install_ / "readme.txt");
  dialog.OnStart();
  EXPECT_TRUE(view_.closed);
  EXPECT_FALSE(fs::exists(install_ / "readme.txt"));  // no second run
}

TEST_F(PatchRunTest, ClientTooOldCopiesNothingAndLogs) {
  Install("mb/etc/version.txt", "1 1.1.9.9\r\n");
  cfg_ = std::string(kMessages) +
         "UPDATE\r\n{\r\n  szValidityStr = 1.2.0.0\r\n  PACKAGE = data/maps\r\n}\r\n";
  fs::path work = root_ / "work";
  fs::create_directories(work / "log");
  std::string before = platform::CurrentFolder();
  ASSERT_TRUE(platform::SetCurrentFolder(work.c_str()));
  SelfStartedRun(nullptr);
  platform::SetCurrentFolder(before.c_str());

  EXPECT_EQ(dialog_->last_result(), kRunVersionTooLow);
  EXPECT_FALSE(dialog_->finished());
  EXPECT_EQ(ReadFile(install_ / "readme.txt"), "old readme\n");
  EXPECT_FALSE(fs::exists(install_ / "data"));  // no data/maps.dpk either
  EXPECT_TRUE(fs::exists(install_ / "old/x.txt"));
  EXPECT_EQ(view_.boxes, (Lines{"Too old|Need Client Version: 1.2.0.0, Current: 1.1.9.9"}));
  EXPECT_EQ(view_.texts[kControlStatus], "Failed (-10100)");
  EXPECT_EQ(view_.texts[kControlStart], "Start");
  EXPECT_TRUE(view_.enabled[kControlStart]);
  EXPECT_TRUE(view_.enabled[kControlExit]);
  // The window's hide after the close request starts nothing.
  dialog_->OnShowWindow();
  EXPECT_EQ(view_.boxes.size(), 1u);

  // One log file with the status line.
  std::vector<fs::path> logs;
  for (const auto& entry : fs::directory_iterator(work / "log")) logs.push_back(entry.path());
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_EQ(logs[0].filename().string().rfind("patcher-log", 0), 0u);
  std::string log = ReadFile(logs[0]);
  EXPECT_NE(log.find("\tFailed (-10100)\r\n\n"), std::string::npos) << log;
}

TEST_F(PatchRunTest, NoLogFolderNoLogAndSameOutcome) {
  Install("mb/etc/version.txt", "1 1.0.0.0\r\n");
  fs::path work = root_ / "work";
  fs::create_directories(work);
  std::string before = platform::CurrentFolder();
  ASSERT_TRUE(platform::SetCurrentFolder(work.c_str()));
  SelfStartedRun(nullptr);
  platform::SetCurrentFolder(before.c_str());
  EXPECT_EQ(dialog_->last_result(), kRunVersionTooLow);
  EXPECT_TRUE(fs::is_empty(work));
}

TEST_F(PatchRunTest, BrokenCfgFailsWithTheReadersCode) {
  cfg_ = std::string(kMessages) + "UPDATE\r\n{\r\n  szUpdateDir = update\r\n}\r\n}\r\n";
  SelfStartedRun(nullptr);
  EXPECT_EQ(dialog_->last_result(), -10001);
  ASSERT_EQ(view_.boxes.size(), 1u);
  EXPECT_EQ(view_.boxes[0].rfind("Error|Can not analyze cfgfile rst:-12 ", 0), 0u)
      << view_.boxes[0];
  EXPECT_EQ(view_.texts[kControlStatus], "Failed (-10001)");
  EXPECT_EQ(ReadFile(install_ / "readme.txt"), "old readme\n");
}

// The source folder is searched in the package, then on the disk: a
// szUpdateDir that climbs out would copy a disk folder beside the patcher.
TEST_F(PatchRunTest, UpdateDirOutsideThePackageFailsLikeABrokenCfg) {
  WriteFile(root_ / "outside/stolen.txt", "from beside the patcher");
  cfg_ = std::string(kMessages) +
         "UPDATE\r\n{\r\n  PACKAGE = data/maps\r\n  szUpdateDir = ../outside\r\n}\r\n";
  SelfStartedRun(nullptr);
  EXPECT_FALSE(fs::exists(install_ / "data"));
  EXPECT_EQ(dialog_->last_result(), kRunBadUpdateDir);
  EXPECT_EQ(dialog_->last_result(), -10002);
  ASSERT_EQ(view_.boxes.size(), 1u);
  EXPECT_NE(view_.boxes[0].find("szUpdateDir ../outside is not a folder inside the package"),
            std::string::npos)
      << view_.boxes[0];
  EXPECT_EQ(view_.texts[kControlStatus], "Failed (-10002)");
  EXPECT_FALSE(fs::exists(install_ / "stolen.txt"));
  EXPECT_EQ(ReadFile(install_ / "readme.txt"), "old readme\n");
}

// A requirement that is no version fails the run like a broken cfg.txt
// and touches nothing, however old the client.
TEST_F(PatchRunTest, ValidityThatIsNoVersionFailsAndTouchesNothing) {
  Install("mb/etc/version.txt", "1 0.1.0.0\r\n");
  Patch("update/mb/etc/version.txt", "1 1.6.0.0\r\n");
  cfg_ = std::string(kMessages) +
         "UPDATE\r\n{\r\n  szValidityStr = v1.1\r\n  PACKAGE = data/maps\r\n}\r\n";
  SelfStartedRun(nullptr);
  EXPECT_EQ(dialog_->last_result(), kRunBadValidity);
  EXPECT_EQ(view_.boxes, (Lines{"Error|szValidityStr v1.1 is not a version"}));
  EXPECT_EQ(view_.texts[kControlStatus], "Failed (-10003)");
  EXPECT_FALSE(dialog_->finished());
  EXPECT_FALSE(fs::exists(install_ / "data"));
  EXPECT_EQ(ReadFile(install_ / "readme.txt"), "old readme\n");
  EXPECT_EQ(ReadFile(install_ / "mb/etc/version.txt"), "1 0.1.0.0\r\n");
}

// The version file is the very last file written, after the held-back
// ones; a run that leaves a file out keeps the old version.
TEST_F(PatchRunTest, VersionFileIsWrittenLastAndOnlyAfterACompleteCopy) {
  Patch("update/mb/etc/version.txt", "1 1.6.0.0\r\n");
  Patch("update/zzz.txt", "walked after the version file's folder");
  std::vector<std::string> seen;  // the version file's content after each file
  SelfStartedRun(nullptr, [&](PatcherDialog&) {
    seen.push_back(ReadFile(install_ / "mb/etc/version.txt"));
  });
  ASSERT_EQ(dialog_->last_result(), 0) << view_.texts[kControlStatus];
  ASSERT_GE(seen.size(), 5u);
  for (size_t i = 0; i + 1 < seen.size(); ++i) EXPECT_EQ(seen[i], "1 1.5.0.0\r\n") << i;
  EXPECT_EQ(seen.back(), "1 1.6.0.0\r\n");
  EXPECT_EQ(ReadFile(install_ / "bin/game.exe"), "the game, held back");
}

TEST_F(PatchRunTest, VersionFileStaysOldWhenAFileIsLeftOut) {
  Patch("update/mb/etc/version.txt", "1 1.6.0.0\r\n");
  fs::remove(install_ / "readme.txt");
  fs::create_directories(install_ / "readme.txt");  // a folder in the way
  SelfStartedRun(nullptr);
  EXPECT_EQ(dialog_->last_result(), kRunFilesLeftOut);
  EXPECT_EQ(ReadFile(install_ / "bin/game.exe"), "the game, held back");
  EXPECT_EQ(ReadFile(install_ / "mb/etc/version.txt"), "1 1.5.0.0\r\n");
}

// A local file list that cannot be written fails the run after message
// 209, and the delete list has not been applied.
TEST_F(PatchRunTest, UnwritableLocalListFailsTheRun) {
  Install("update/localfilelist.txt.tmp/in_the_way", "");
  FileTable before = LocalList();
  SelfStartedRun(nullptr);
  EXPECT_EQ(dialog_->last_result(), kRunFileListUnwritten);
  EXPECT_FALSE(dialog_->finished());
  ASSERT_FALSE(view_.boxes.empty());
  EXPECT_NE(view_.boxes[0].find("Cannot write the list"), std::string::npos) << view_.boxes[0];
  EXPECT_EQ(view_.texts[kControlStatus], "Failed (-10209)");
  EXPECT_EQ(ReadFile(install_ / "readme.txt"), "new readme\n");  // the copy itself was done
  EXPECT_TRUE(fs::exists(install_ / "old/x.txt"));
  EXPECT_EQ(LocalList(), before);
  EXPECT_TRUE(fs::exists(install_ / "update/newfile.txt"));
}

// An install folder as an unlucky player's machine has it: the folder to
// delete holds links to a folder elsewhere and to "..", the list's
// temporary name is a dangling link out of the folder, a listed new file
// is a FIFO. The run ends, nothing outside changes.
TEST_F(PatchRunTest, LinksAndFifosInTheInstallFolderStayInside) {
  WriteFile(root_ / "elsewhere/cache.bin", "cache");
  fs::create_directory_symlink(root_ / "elsewhere", install_ / "old/cache");
  fs::create_directory_symlink("..", install_ / "old/up");
  fs::create_symlink(root_ / "elsewhere/planted.txt", install_ / "update/localfilelist.txt.tmp");
  ASSERT_TRUE(platform::MakeFifo((install_ / "pipe").c_str(), nullptr));
  Patch("update/update/newfile.txt", "readme.txt\r\npipe\r\n../elsewhere/cache.bin\r\n");
  SelfStartedRun(nullptr);

  EXPECT_EQ(dialog_->last_result(), 0);
  ASSERT_EQ(view_.boxes.size(), 1u);
  EXPECT_NE(view_.boxes[0].find("No new file: " + (install_ / "pipe").string()), std::string::npos)
      << view_.boxes[0];
  EXPECT_EQ(ReadFile(root_ / "elsewhere/cache.bin"), "cache");
  EXPECT_FALSE(fs::exists(fs::symlink_status(root_ / "elsewhere/planted.txt")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(install_ / "old")));
  EXPECT_TRUE(fs::exists(install_ / "kept.txt"));
  EXPECT_TRUE(fs::exists(install_ / "update/dellist.txt"));
  FileTable expected;
  expected["kept.txt"] = RecordOf("kept");
  expected["readme.txt"] = RecordOf("new readme\n");
  EXPECT_EQ(LocalList(), expected);
}

TEST_F(PatchRunTest, FailingPackageLineKeepsEarlierPackages) {
  cfg_ = std::string(kMessages) +
         "UPDATE\r\n{\r\n  PACKAGE = first\r\n  PACKAGE = plain\r\n  PACKAGE = third\r\n}\r\n";
  Install("plain.dpk", "not a package");
  SelfStartedRun(nullptr);
  EXPECT_EQ(dialog_->last_result(), -10001);
  EXPECT_TRUE(fs::exists(install_ / "first.dpk"));
  EXPECT_FALSE(fs::exists(install_ / "third.dpk"));
  EXPECT_EQ(ReadFile(install_ / "plain.dpk"), "not a package");
  EXPECT_EQ(view_.boxes, (Lines{"Package error|Create package plain err:-1"}));
  EXPECT_EQ(view_.texts[kControlStatus], "Failed (-10001)");
  EXPECT_EQ(ReadFile(install_ / "readme.txt"), "old readme\n");
}

TEST_F(PatchRunTest, PackageLinesReceiveTheFilesBelowTheirName) {
  cfg_ = std::string(kMessages) +
         "UPDATE\r\n{\r\n  szValidityStr = 1.2\r\n  PACKAGE = data/maps\r\n}\r\n";
  Patch("update/data/maps/valley.map", std::string(9000, 'v'));
  Patch("update/data/maps/deep/harbour.map", "harbour");
  Patch("update/update/newfile.txt", "data/maps/valley.map\r\n");
  SelfStartedRun(nullptr);
  ASSERT_EQ(dialog_->last_result(), 0) << view_.texts[kControlStatus];
  EXPECT_TRUE(fs::is_regular_file(install_ / "data/maps.dpk"));
  EXPECT_FALSE(fs::exists(install_ / "data/maps"));
  EXPECT_EQ(LocalList().at("data/maps/valley.map"), RecordOf(std::string(9000, 'v')));

  // The publisher's tool reads the package the run filled.
  std::ostringstream out, err;
  fs::path extracted = root_ / "extracted";
  ASSERT_EQ(RunPackTool({"extract", (install_ / "data/maps.dpk").string(), extracted.string()},
                        out, err, false),
            kPackExitOk)
      << err.str();
  EXPECT_EQ(ReadFile(extracted / "valley.map"), std::string(9000, 'v'));
  EXPECT_EQ(ReadFile(extracted / "deep/harbour.map"), "harbour");
}

TEST_F(PatchRunTest, FileThatWouldReplaceAPackageOfTheRunIsLeftOut) {
  cfg_ = std::string(kMessages) +
         "UPDATE\r\n{\r\n  szValidityStr = 1.2\r\n  PACKAGE = data/maps\r\n}\r\n";
  Patch("update/data/maps/valley.map", "valley");
  Patch("update/data/maps.dpk", "a plain file where the run keeps its package");
  SelfStartedRun(nullptr);
  EXPECT_EQ(dialog_->last_result(), kRunFilesLeftOut);
  ASSERT_EQ(view_.boxes.size(), 1u);
  EXPECT_EQ(view_.boxes[0], "Write error|Can not write " + (install_ / "data/maps.dpk").string() +
                                ": a package of this update is open there");
  // The package stands, with what the run put into it.
  std::ostringstream out, err;
  fs::path extracted = root_ / "extracted";
  ASSERT_EQ(RunPackTool({"extract", (install_ / "data/maps.dpk").string(), extracted.string()},
                        out, err, false),
            kPackExitOk)
      << err.str();
  EXPECT_EQ(ReadFile(extracted / "valley.map"), "valley");
  EXPECT_EQ(ReadFile(install_ / "readme.txt"), "new readme\n");  // the rest was copied
}

TEST_F(PatchRunTest, TargetsThatCannotBeWrittenAreNamedAndTheRestIsCopied) {
  Patch("update/data/b.bin", "b");
  fs::remove(install_ / "readme.txt");
  fs::create_directories(install_ / "readme.txt");  // a folder in the way
  SelfStartedRun(nullptr);
  EXPECT_EQ(dialog_->last_result(), kRunFilesLeftOut);
  ASSERT_EQ(view_.boxes.size(), 1u);
  EXPECT_EQ(view_.boxes[0],
            "Write error|Can not write " + (install_ / "readme.txt").string() + ": Is a directory");
  EXPECT_EQ(ReadFile(install_ / "data/b.bin"), "b");
  EXPECT_EQ(ReadFile(install_ / "bin/game.exe"), "the game, held back");
  EXPECT_TRUE(fs::exists(install_ / "update/newfile.txt"));  // the lists wait
}

TEST_F(PatchRunTest, PackageWithoutCfgRunsWithDefaults) {
  cfg_.clear();
  Install("mb/etc/version.txt", "1 0.0.0.1\r\n");  // no version check is made
  MakeProgram();
  RecordingNotify sink;
  RunJob runJob(program_.c_str(), install_.c_str(), &sink, "0.0.0.1", nullptr);
  FlexUpdate update;
  EXPECT_EQ(update.Run(&runJob.job()), 0);
  EXPECT_EQ(ReadFile(install_ / "readme.txt"), "new readme\n");
  EXPECT_EQ(ReadFile(install_ / "launcher.exe"), "a launcher the patch must not replace");
  EXPECT_EQ(sink.events.front(), "INFO 0 Calculating src dir stat ...");
}

// A sink that throws an integer in the middle of the copy.
class ThrowingNotify : public RecordingNotify {
 public:
  int32_t cb_FILEEND() override { throw 4242; }
};

TEST_F(PatchRunTest, IntegerThrownDuringTheCopyIsTheResult) {
  MakeProgram();
  ThrowingNotify sink;
  RunJob runJob(program_.c_str(), install_.c_str(), &sink, "1.5.0.0", nullptr);
  FlexUpdate update;
  EXPECT_EQ(update.Run(&runJob.job()), 4242);
  EXPECT_EQ(update.file_manager(), nullptr);  // released with the engine
}

TEST_F(PatchRunTest, UnreadableVersionFileEndsBeforeTheCopy) {
  fs::remove(install_ / "mb/etc/version.txt");
  SelfStartedRun(nullptr);
  EXPECT_EQ(view_.boxes,
            (Lines{"|No version\n" + (install_ / "mb/etc/version.txt").string() +
                   ": No such file or directory"}));
  // The status names the file and the system's reason.
  EXPECT_EQ(view_.texts[kControlStatus],
            (install_ / "mb/etc/version.txt").string() + ": No such file or directory");
  EXPECT_TRUE(view_.enabled[kControlStart]);
  EXPECT_TRUE(view_.enabled[kControlExit]);
  EXPECT_FALSE(dialog_->finished());
  EXPECT_EQ(ReadFile(install_ / "readme.txt"), "old readme\n");
}

TEST_F(PatchRunTest, RunRefusesAnIncompleteJob) {
  RecordingNotify sink;
  FlexUpdate update;
  EXPECT_EQ(update.Run(nullptr), kRunBadJob);
  RunJob noSink(program_.c_str(), install_.c_str(), nullptr, "1.5.0.0", nullptr);
  EXPECT_EQ(update.Run(&noSink.job()), kRunBadJob);
  RunJob noInstall(program_.c_str(), nullptr, &sink, "1.5.0.0", nullptr);
  EXPECT_EQ(update.Run(&noInstall.job()), kRunBadJob);
  EXPECT_TRUE(sink.events.empty());
}

TEST_F(PatchRunTest, FolderPickedDuringTheRunDoesNotReachIt) {
  fs::path other = root_ / "other";
  fs::create_directories(other);
  view_.pickedFolder = other.string();
  bool browsed = false;
  SelfStartedRun(nullptr, [&](PatcherDialog& dialog) {
    if (browsed) return;
    browsed = true;
    dialog.OnBrowse();
    EXPECT_FALSE(view_.enabled[kControlStart]);  // not during the run
    dialog.OnStart();                            // ignored during the run
  });
  EXPECT_TRUE(browsed);
  EXPECT_EQ(dialog_->last_result(), 0);
  EXPECT_EQ(ReadFile(install_ / "bin/game.exe"), "the game, held back");
  EXPECT_TRUE(fs::is_empty(other));
  EXPECT_EQ(dialog_->install_path(), other.string());
  EXPECT_EQ(view_.texts[kControlInstallPath], other.string());
  EXPECT_EQ(LocalList().count("bin/game.exe"), 1u);
}

TEST_F(PatchRunTest, HiddenRunPatchesTheProgramsOwnFolder) {
  // The program sits in the install folder.
  program_ = install_ / "patcher";
  MakeProgram();
  PatcherDialog dialog(&view_, nullptr, "-h", Settings());
  dialog.OnInitDialog();
  EXPECT_TRUE(view_.hidden);
  EXPECT_TRUE(view_.closed);
  EXPECT_EQ(dialog.last_result(), 0);
  EXPECT_EQ(dialog.install_path(), install_.string());
  EXPECT_EQ(ReadFile(install_ / "readme.txt"), "new readme\n");
  // The run came before the held-back list was built, so nothing was held
  // back; the list is built when the start ends.
  EXPECT_EQ(dialog.delayed_names().size(), 2u);  // one name and the null end
  dialog.OnShowWindow();  // after the close request: nothing
  EXPECT_EQ(view_.position, view_.upper);
}

// The launcher's side of a link: a listener thread answering every record.
class Launcher {
 public:
  Launcher() {
    std::unique_ptr<platform::LocalSocket> patcherSide;
    EXPECT_TRUE(platform::LocalSocket::MakePair(&patcherSide, &launcherSide_));
    link_.AttachSocket(std::move(patcherSide));
    thread_ = std::thread([this]() {
      ServeLauncher(launcherSide_.get(), [this](const std::string& line) { lines_.push_back(line); });
    });
  }
  ParentLink* link() { return &link_; }
  // Ends the link and returns what the listener saw.
  Lines Finish() {
    link_.AttachSocket(nullptr);
    thread_.join();
    return lines_;
  }
  ~Launcher() {
    if (thread_.joinable()) Finish();
  }

 private:
  ParentLink link_{2000};
  std::unique_ptr<platform::LocalSocket> launcherSide_;
  std::thread thread_;
  Lines lines_;
};

TEST_F(PatchRunTest, LauncherSeesProgressOnSuccess) {
  Launcher launcher;
  SelfStartedRun(launcher.link());
  EXPECT_EQ(dialog_->last_result(), 0);
  Lines lines = launcher.Finish();
  // Six files, the last step's 100 sent as 99, then the end.
  EXPECT_EQ(lines, (Lines{"progress 0", "progress 16", "progress 33", "progress 50", "progress 66",
                          "progress 83", "progress 99", "progress 100", "progress -1"}));
  EXPECT_TRUE(view_.boxes.empty());
}

// A skip-list file in the install folder that the patch does not carry
// counts at the start of the bar but is never copied: over a bar that
// starts over past its end (as the platform's does), a successful run
// still ends with the bar full.
TEST_F(PatchRunTest, BarEndsFullOverAWrappingBarWhenASkipFileIsNotInThePatch) {
  fs::remove(patch_ / "update/launcher.exe");
  Install("launcher.exe", "installed launcher");
  view_.wrapsLikePlatformBar = true;
  SelfStartedRun(nullptr);
  EXPECT_EQ(dialog_->last_result(), 0);
  EXPECT_EQ(view_.lower, 0);
  EXPECT_EQ(view_.upper, kProgressScale);
  EXPECT_EQ(dialog_->parent_link()->progress_total(), 5);
  EXPECT_EQ(view_.position, view_.upper);
  EXPECT_TRUE(dialog_->progress_bar().full());
}

// "/user TITLE" without a folder: the run is made with the whole line as
// its folder, fails at the version check, and the launcher is told.
TEST_F(PatchRunTest, LauncherWithoutAFolderHearsOfTheVersionFile) {
  MakeProgram();
  std::string title = "run test launcher " + std::to_string(platform::TickMilliseconds());
  auto listener = platform::LocalListener::Listen(LauncherAddress(title));
  ASSERT_NE(listener, nullptr);
  Lines lines;
  std::thread serve([&] {
    if (auto socket = listener->Accept(20000)) {
      ServeLauncher(socket.get(), [&](const std::string& line) { lines.push_back(line); });
    }
  });
  PatcherAppIo io;
  std::string out, err;
  io.out = [&](const std::string& text) { out += text; };
  io.err = [&](const std::string& text) { err += text; };
  io.modulePath = program_.string();
  int status = PatcherApp(io).Run({"--console", "/user", "=", title});
  serve.join();
  EXPECT_EQ(status, kPatcherAppFailure) << err;
  EXPECT_EQ(lines, (Lines{"progress 0", "message 300 No version"}));
}

TEST_F(PatchRunTest, LauncherGetsTheFailureCodes) {
  Install("mb/etc/version.txt", "1 1.0.0.0\r\n");
  Launcher launcher;
  SelfStartedRun(launcher.link());
  EXPECT_EQ(dialog_->last_result(), kRunVersionTooLow);
  Lines lines = launcher.Finish();
  EXPECT_EQ(lines, (Lines{"progress 0", "message 300 Too old", "message 262 Failed (-10100)",
                          "message 273 Failed (-10100)"}));
  EXPECT_TRUE(view_.boxes.empty());  // not interactive
}

// The program itself, as a user starts it.
class PatcherProgramTest : public PatchRunTest {
 protected:
  struct Result {
    int status;
    std::string out, err;
  };
  Result Run(const std::string& arguments) {
    fs::path out = root_ / "stdout.txt", err = root_ / "stderr.txt";
    fs::path status = root_ / "status.txt";
    // No display: the program shows itself in the terminal, whatever the
    // test's environment.
    std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY " + program_.string() + " " +
                          arguments + " > " + out.string() + " 2> " +
                          err.string() + "; echo $? > " + status.string();
    std::system(command.c_str());
    return {std::atoi(ReadFile(status).c_str()), ReadFile(out), ReadFile(err)};
  }
};

TEST_F(PatcherProgramTest, ConsoleRunThenVerify) {
  MakeProgram();
  Result run = Run("--console " + install_.string() + "/");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "== Test patch\nPatching\nDone\n");
  EXPECT_NE(run.err.find("progress 100% "), std::string::npos) << run.err;
  EXPECT_EQ(ReadFile(install_ / "bin/game.exe"), "the game, held back");

  Result verify = Run("--verify " + install_.string());
  EXPECT_EQ(verify.status, 0) << verify.err;
  EXPECT_EQ(verify.out,
            "ok       bin/game.exe\nok       data/a.bin\nok       kept.txt\nok       readme.txt\n"
            "4 ok, 0 missing, 0 differing\n");

  WriteFile(install_ / "kept.txt", "changed");
  fs::remove(install_ / "data/a.bin");
  verify = Run("--verify " + install_.string());
  EXPECT_EQ(verify.status, 1);
  EXPECT_NE(verify.out.find("missing  data/a.bin\n"), std::string::npos) << verify.out;
  EXPECT_NE(verify.out.find("size     kept.txt (listed 4, found 7)\n"), std::string::npos)
      << verify.out;
  EXPECT_NE(verify.out.find("2 ok, 1 missing, 1 differing\n"), std::string::npos);
}

TEST_F(PatcherProgramTest, FailedRunExitsWithOne) {
  Install("mb/etc/version.txt", "1 1.0.0.0\r\n");
  MakeProgram();
  Result run = Run(install_.string());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "== Test patch\nPatching\nFailed (-10100)\n");
  EXPECT_NE(run.err.find("Too old: Need Client Version: 1.2.0.0, Current: 1.0.0.0\n"),
            std::string::npos)
      << run.err;
}

TEST_F(PatcherProgramTest, UsageHelpVersionAndBadLists) {
  MakeProgram();
  EXPECT_EQ(Run("").status, 2);
  EXPECT_EQ(Run("--bogus " + install_.string()).status, 2);
  EXPECT_EQ(Run("--dir").status, 2);
  EXPECT_EQ(Run("-h " + install_.string()).status, 2);
  Result help = Run("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: patcher", 0), 0u);
  Result version = Run("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("patcher ", 0), 0u);

  fs::remove(install_ / "update/localfilelist.txt");
  Result noList = Run("--verify " + install_.string());
  EXPECT_EQ(noList.status, 1);
  EXPECT_NE(noList.err.find("cannot be read"), std::string::npos);
  WriteFile(install_ / "update/localfilelist.txt", std::string("\xff\xff\xff\x7f", 4));
  Result damaged = Run("--verify " + install_.string());
  EXPECT_EQ(damaged.status, 1);
  EXPECT_NE(damaged.err.find("is damaged"), std::string::npos);
}

TEST_F(PatcherProgramTest, ProgramWithoutPackageIsAnIncompletePatch) {
  program_ = MARROWGATE_PATCHER_PROGRAM;  // the bare program carries nothing
  Result run = Run(install_.string());
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find(kTextPatchDamaged), std::string::npos) << run.err;
  EXPECT_EQ(ReadFile(install_ / "readme.txt"), "old readme\n");
}

// Ctrl-C in a terminal asks the run to stop: the file under way finishes,
// the copy stops before the next one, every file is old or new, the
// version file is old, the status and the log say the run was stopped,
// and running the patch again completes it.
TEST_F(PatcherProgramTest, InterruptStopsTheRunBetweenFilesAndARerunCompletes) {
  std::mt19937 random(11);
  std::map<std::string, std::string> carried;
  for (int i = 0; i < 80; ++i) {
    std::string content(1024 * 1024, '\0');
    for (char& c : content) c = static_cast<char>(random());
    std::string name = "data/big/f" + std::to_string(i) + ".bin";
    carried[name] = content;
    Patch("update/" + name, content);
    if (i % 2 == 0) Install(name, "old " + std::to_string(i));
  }
  Patch("update/mb/etc/version.txt", "1 1.6.0.0\r\n");
  MakeProgram();
  fs::path work = root_ / "work";
  fs::create_directories(work / "log");
  const std::string oldList = ReadFile(install_ / "update/localfilelist.txt");

  // SIGINT once the bar has moved, as a user's Ctrl-C.
  fs::path out = root_ / "stdout.txt", err = root_ / "stderr.txt", status = root_ / "status.txt";
  std::string command = "cd " + work.string() + " && { env -u DISPLAY -u WAYLAND_DISPLAY " +
                        program_.string() + " --console " + install_.string() + " > " +
                        out.string() + " 2> " + err.string() +
                        " & pid=$!; for i in $(seq 1 400); do grep -q 'progress [1-9]' " +
                        err.string() + " && break; sleep 0.02; done; kill -INT $pid; wait $pid; "
                        "echo $? > " + status.string() + "; }";
  std::system(command.c_str());
  EXPECT_EQ(std::atoi(ReadFile(status).c_str()), 1) << ReadFile(err);
  EXPECT_EQ(ReadFile(out), "== Test patch\nfrom 1.2.0.0 or later to 1.6.0.0\nPatching\nStopped\n") << ReadFile(err);
  EXPECT_EQ(ReadFile(install_ / "mb/etc/version.txt"), "1 1.5.0.0\r\n");
  EXPECT_FALSE(fs::exists(install_ / "bin/game.exe"));  // held back: copied after the walk
  EXPECT_EQ(ReadFile(install_ / "update/localfilelist.txt"), oldList);
  int stillOld = 0;
  for (const auto& [name, content] : carried) {
    fs::path target = install_ / name;
    int i = std::atoi(name.c_str() + name.rfind('f') + 1);
    bool isOld = i % 2 == 0 ? fs::exists(target) && ReadFile(target) == "old " + std::to_string(i)
                            : !fs::exists(target);
    if (isOld) {
      ++stillOld;
      continue;
    }
    EXPECT_EQ(ReadFile(target), content) << name;
  }
  EXPECT_GT(stillOld, 0);
  for (const auto& entry : fs::recursive_directory_iterator(install_))
    EXPECT_EQ(entry.path().string().find(".~mgpart"), std::string::npos) << entry.path();
  std::string log;
  for (const auto& entry : fs::directory_iterator(work / "log")) log += ReadFile(entry.path());
  EXPECT_NE(log.find("Stopped (-10300)"), std::string::npos) << log;

  Result rerun = Run("--console " + install_.string());
  EXPECT_EQ(rerun.status, 0) << rerun.err;
  EXPECT_EQ(ReadFile(install_ / "mb/etc/version.txt"), "1 1.6.0.0\r\n");
  for (const auto& [name, content] : carried) EXPECT_EQ(ReadFile(install_ / name), content) << name;
}

// Usage errors and the help name the program as it was started.
TEST_F(PatcherProgramTest, UsageNamesTheProgramAsStarted) {
  MakeProgram();
  fs::path renamed = root_ / "my-game-patch";
  fs::copy_file(program_, renamed);
  program_ = renamed;
  Result bad = Run("--bogus");
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.err.rfind("my-game-patch: ", 0), 0u) << bad.err;
  EXPECT_NE(bad.err.find("Try 'my-game-patch --help'."), std::string::npos) << bad.err;
  Result help = Run("--help");
  EXPECT_EQ(help.out.rfind("usage: my-game-patch ", 0), 0u) << help.out;
  for (const char* option : {"--console", "--verify", "--dir", "--launcher", "--hidden", "--help",
                             "--version", "/D", "/user"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
}

// Whatever is wrong with the install folder, the status says which path
// and why.
TEST_F(PatcherProgramTest, VersionTroubleNamesThePathAndTheReason) {
  MakeProgram();
  struct Case {
    std::string folder, shown;
  };
  fs::create_directories(root_ / "empty");
  WriteFile(root_ / "plain.txt", "x");
  fs::create_directories(root_ / "dirversion/mb/etc/version.txt");
  for (const Case& c :
       {Case{(root_ / "missing").string(), (root_ / "missing").string() + ": No such file or directory"},
        Case{(root_ / "plain.txt").string(), (root_ / "plain.txt").string() + ": not a folder"},
        Case{(root_ / "empty").string(),
             (root_ / "empty/mb/etc/version.txt").string() + ": No such file or directory"},
        Case{(root_ / "dirversion").string(),
             (root_ / "dirversion/mb/etc/version.txt").string() + ": not a regular file"}}) {
    Result run = Run("--console " + c.folder);
    EXPECT_EQ(run.status, 1) << c.folder;
    EXPECT_NE(run.out.find(c.shown + "\n"), std::string::npos) << run.out;
  }
}

}  // namespace
}  // namespace marrowgate
