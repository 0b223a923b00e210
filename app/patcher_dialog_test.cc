#include "app/patcher_dialog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/app_file_manager.h"
#include "app/dialog_pack_notify.h"
#include "app/install_verify.h"
#include "app/local_file_list.h"
#include "app/testing/patcher_program_testing.h"
#include "app/testing/recording_view_testing.h"
#include "package/testing/temp_folder_testing.h"
#include "platform/env.h"
#include "platform/file_tree.h"
#include "transfer/stat_dir.h"

namespace marrowgate {
namespace {

using Names = std::vector<std::string>;

// Whether the system takes file names that differ only in case for one.
#ifdef _WIN32
constexpr bool kNamesIgnoreCase = true;
#else
constexpr bool kNamesIgnoreCase = false;
#endif

// A dialog whose program carries no package: its table is filled by the
// test instead of a message file.
class PatcherDialogTest : public ::testing::Test {
 protected:
  PatcherDialogTest() : dialog_(&view_, nullptr, "", Settings(folder_)) {}

  static PatcherDialogSettings Settings(const TestFolder& folder) {
    PatcherDialogSettings settings;
    settings.modulePath = folder.Child("patch.exe");  // does not exist
    return settings;
  }
  Names Excluded() {
    Names names;
    for (const char* name : dialog_.exclude_names()) {
      if (name == nullptr) break;
      names.push_back(name);
    }
    return names;
  }
  Names SkipNames() {
    Names names;
    for (const auto& [name, flag] : dialog_.skip_files()) names.push_back(name);
    return names;
  }

  TestFolder folder_;
  RecordingView view_;
  PatcherDialog dialog_;
};

TEST_F(PatcherDialogTest, SkipListDefaultsWhenCountMissingOrZero) {
  dialog_.BuildSkipList();
  EXPECT_EQ(SkipNames(), (Names{"vave.exe", "zivoridor.dll"}));
  EXPECT_EQ(dialog_.exclude_names().size(), 3u);

  dialog_.messages().Insert(900, "0");
  dialog_.BuildSkipList();
  EXPECT_EQ(SkipNames(), (Names{"vave.exe", "zivoridor.dll"}));
}

TEST_F(PatcherDialogTest, SkipListFromMessagesTrimmedAndUnique) {
  dialog_.messages().Insert(900, "3");
  dialog_.messages().Insert(901, " \tlauncher.exe\r\n");
  dialog_.messages().Insert(902, "launcher.exe");
  dialog_.messages().Insert(903, "b.dll");
  dialog_.BuildSkipList();
  EXPECT_EQ(SkipNames(), (Names{"b.dll", "launcher.exe"}));
  EXPECT_EQ(dialog_.skip_counts(), 0);
}

TEST_F(PatcherDialogTest, NegativeOrNonNumericCount) {
  dialog_.messages().Insert(900, "-2");
  dialog_.BuildSkipList();
  EXPECT_TRUE(SkipNames().empty());
  dialog_.FillSkipArray();
  EXPECT_TRUE(Excluded().empty());
  ASSERT_EQ(dialog_.exclude_names().size(), 1u);
  EXPECT_EQ(dialog_.exclude_names()[0], nullptr);
}

TEST_F(PatcherDialogTest, OnlyNamesPresentInTheInstallFolderAreExcluded) {
  folder_.WriteFile("zivoridor.dll", "x");
  folder_.WriteFile("c.exe", "x");
  dialog_.messages().Insert(900, "3");
  dialog_.messages().Insert(901, "zivoridor.dll");
  dialog_.messages().Insert(902, "absent.exe");
  dialog_.messages().Insert(903, "c.exe");
  dialog_.BuildSkipList();
  dialog_.MarkPresentSkipFiles(folder_.path());
  dialog_.FillSkipArray();
  EXPECT_EQ(dialog_.skip_counts(), 2);
  EXPECT_EQ(Excluded(), (Names{"c.exe", "zivoridor.dll"}));
  EXPECT_FALSE(dialog_.skip_files().at("absent.exe"));

  // Nothing present: only the null end, and the count starts again at 0.
  TestFolder empty;
  dialog_.BuildSkipList();
  dialog_.MarkPresentSkipFiles(empty.path());
  dialog_.FillSkipArray();
  EXPECT_EQ(dialog_.skip_counts(), 0);
  EXPECT_TRUE(Excluded().empty());
}

// Skip names are paths below the install folder, spelled with either
// separator; one that would leave it is refused, and one that names
// nothing there is not excluded.
TEST_F(PatcherDialogTest, SkipNamesFollowThePathRule) {
  folder_.WriteFile("outside.txt", "not the patch's");
  ASSERT_TRUE(platform::MakeFolder(folder_.Child("install").c_str()));
  ASSERT_TRUE(platform::MakeFolder(folder_.Child("install/bin").c_str()));
  folder_.WriteFile("install/bin/tool.exe", "x");
  dialog_.messages().Insert(900, "6");
  dialog_.messages().Insert(901, "bin\\\\tool.exe");
  dialog_.messages().Insert(902, "../outside.txt");
  dialog_.messages().Insert(903, "/etc/passwd");
  dialog_.messages().Insert(904, "bin/../../outside.txt");
  dialog_.messages().Insert(905, "absent/a.dll");
  dialog_.messages().Insert(906, "");
  dialog_.BuildSkipList();
  EXPECT_EQ(SkipNames(), (Names{"absent/a.dll", "bin/tool.exe"}));
  dialog_.MarkPresentSkipFiles(folder_.Child("install"));
  dialog_.FillSkipArray();
  EXPECT_EQ(dialog_.skip_counts(), 1);
  EXPECT_EQ(Excluded(), (Names{"bin/tool.exe"}));
}

// A whole run: the delete list names a file the patch carries (in another
// case and with '\\') and a folder holding one; both stay on the disk and
// in the list, the rest of the list applies, and the folder checks whole.
// A skip name with a folder, spelled in another case than the patch's
// item, keeps the player's own file.
TEST_F(PatcherDialogTest, APatchKeepsWhatItInstallsAndHonoursSkipNamesWithFolders) {
  const std::string program = folder_.Child("patcher");
  ASSERT_TRUE(MakePatcherProgram(
      program,
      {{"cfg.txt",
        "200 Running\r\n201 Done\r\n203 Failed (%d)\r\n900 2\r\n901 bin/VAVE.exe\r\n"
        "902 ../outside.txt\r\nUPDATE\r\n{\r\n  szValidityStr = 1.0.0.0\r\n}\r\n"},
       {"update/data/new.bin", "new"},
       {"update/data/sub/deep.bin", "deep"},
       {"update/bin/vave.exe", "the patch's launcher"},
       {"update/update/newfile.txt", "data/new.bin\r\ndata/sub/deep.bin\r\n"},
       {"update/update/dellist.txt", "DATA\\\\New.bin\r\ndata/sub/\r\nold.txt\r\n"}}));
  const std::string install = folder_.Child("install");
  for (const char* sub : {"", "/mb", "/mb/etc", "/update", "/bin"})
    ASSERT_TRUE(platform::MakeFolder((install + sub).c_str())) << sub;
  folder_.WriteFile("install/mb/etc/version.txt", "1 1.2.0.0\r\n");
  folder_.WriteFile("install/old.txt", "old");
  folder_.WriteFile("install/bin/VAVE.exe", "the player's launcher");
  FileTable before;
  before["old.txt"].size = 3;
  folder_.WriteFile("install/update/localfilelist.txt", SerializeLocalFileList(before));

  PatcherDialogSettings settings;
  settings.modulePath = program;
  PatcherDialog dialog(&view_, nullptr, install, settings);
  ASSERT_TRUE(dialog.OnInitDialog());
  dialog.OnStart();
  ASSERT_EQ(dialog.last_result(), 0) << dialog.status();

  EXPECT_EQ(TestFolder::ReadFile(install + "/data/new.bin"), "new");
  EXPECT_EQ(TestFolder::ReadFile(install + "/data/sub/deep.bin"), "deep");
  EXPECT_FALSE(platform::PathAccessible((install + "/old.txt").c_str()));
  EXPECT_EQ(TestFolder::ReadFile(install + "/bin/VAVE.exe"), "the player's launcher");
  // The patch's "bin/vave.exe" never lands beside the player's file: on
  // Linux no such name appears; on Windows the two spellings are one name,
  // so the folder holds that one file under the player's spelling.
  std::vector<std::string> binNames;
  ASSERT_TRUE(platform::FolderNames((install + "/bin").c_str(), &binNames, nullptr));
  EXPECT_EQ(binNames, (Names{"VAVE.exe"}));
  EXPECT_EQ(platform::PathAccessible((install + "/bin/vave.exe").c_str()),
            kNamesIgnoreCase);
  ASSERT_EQ(dialog.skip_files().size(), 1u);  // "../outside.txt" refused
  EXPECT_TRUE(dialog.skip_files().at("bin/VAVE.exe"));

  FileTable after;
  ASSERT_TRUE(ParseLocalFileList(TestFolder::ReadFile(install + "/update/localfilelist.txt"),
                                 &after));
  Names listed;
  for (const auto& [name, record] : after) listed.push_back(name);
  EXPECT_EQ(listed, (Names{"data/new.bin", "data/sub/deep.bin"}));
  VerifyCounts counts;
  EXPECT_EQ(VerifyInstall(AppFileManagerOptions(), install, [](const std::string&) {}, &counts),
            kVerifyWhole);
  EXPECT_EQ(counts.matched, 2);
}

TEST_F(PatcherDialogTest, MissingMessageFileShowsTheLiteralTextAndCloses) {
  EXPECT_TRUE(dialog_.OnInitDialog());
  ASSERT_EQ(view_.boxes.size(), 1u);
  EXPECT_EQ(view_.boxes[0], "|Can't open message file: " + folder_.Child("patch") + "/cfg.txt");
  EXPECT_TRUE(view_.closed);
  EXPECT_TRUE(dialog_.close_requested());
  // The start went on with an empty table: the window's own texts (no
  // blank control), Start disabled.
  EXPECT_TRUE(view_.Saw("TITLE Patch"));
  EXPECT_EQ(view_.texts[kControlStart], "Start");
  EXPECT_FALSE(view_.enabled[kControlStart]);
  EXPECT_TRUE(view_.enabled[kControlExit]);
  EXPECT_TRUE(view_.enabled[kControlBrowse]);
  EXPECT_EQ(dialog_.self_base(), folder_.Child("patch"));
  EXPECT_EQ(dialog_.own_folder(), folder_.path());
}

TEST_F(PatcherDialogTest, StartWithoutAFolderShowsMessage204Only) {
  dialog_.messages().Insert(204, "Choose a folder");
  view_.events.clear();
  dialog_.OnShowWindow();  // no folder: no run
  EXPECT_TRUE(view_.events.empty());
  dialog_.OnStart();
  EXPECT_EQ(view_.events, (Names{"BOX |Choose a folder"}));
  EXPECT_FALSE(dialog_.running());
  EXPECT_FALSE(dialog_.finished());
}

TEST_F(PatcherDialogTest, BrowseSetsTheFolderAndEnablesStart) {
  dialog_.messages().Insert(210, "Where is the game?");
  view_.pickedFolder = std::nullopt;  // cancelled
  dialog_.OnBrowse();
  EXPECT_EQ(view_.lastPrompt, "Where is the game?");
  EXPECT_FALSE(view_.lastInitialFolder.empty());
  EXPECT_EQ(dialog_.install_path(), "");
  EXPECT_EQ(view_.enabled.count(kControlStart), 0u);

  view_.pickedFolder = "/";  // a root keeps its separator
  dialog_.OnBrowse();
  EXPECT_EQ(dialog_.install_path(), "/");
  EXPECT_EQ(view_.texts[kControlInstallPath], "/");
  EXPECT_TRUE(view_.enabled[kControlStart]);
}

// The picker's answer is checked: a name that is not there, one under a
// missing parent, or a file changes nothing, and no folder is made.
TEST_F(PatcherDialogTest, BrowseTakesOnlyAnExistingFolder) {
  folder_.WriteFile("a-file", "x");
  for (const std::string& bad : {folder_.Child("typed-name"), folder_.Child("missing/parent"),
                                 folder_.Child("a-file"), std::string()}) {
    view_.pickedFolder = bad;
    dialog_.OnBrowse();
    EXPECT_EQ(dialog_.install_path(), "") << bad;
    EXPECT_EQ(view_.enabled.count(kControlStart), 0u) << bad;
    EXPECT_FALSE(platform::PathAccessible(folder_.Child("typed-name").c_str()));
  }
  view_.pickedFolder = folder_.path();
  dialog_.OnBrowse();
  EXPECT_EQ(dialog_.install_path(), folder_.path());
  EXPECT_TRUE(view_.enabled[kControlStart]);
}

// More files end than the range holds (the bar started at a skip count
// the copy never reaches): over a view whose step starts over past the end,
// as the platform's bar does, the bar stays full.
TEST_F(PatcherDialogTest, SinkCaptionsAndStop) {
  EXPECT_EQ(DialogPackNotify::CaptionMessageOf(0), 0);
  EXPECT_EQ(DialogPackNotify::CaptionMessageOf(-1), 301);
  EXPECT_EQ(DialogPackNotify::CaptionMessageOf(-5), 305);
  EXPECT_EQ(DialogPackNotify::CaptionMessageOf(-100), 306);
  EXPECT_EQ(DialogPackNotify::CaptionMessageOf(-6), 307);
  EXPECT_EQ(DialogPackNotify::CaptionMessageOf(-1000), 307);
  EXPECT_EQ(DialogPackNotify::CaptionMessageOf(3), 307);

  dialog_.messages().Insert(301, "Open error");
  dialog_.messages().Insert(306, "Stopped");
  dialog_.messages().Insert(300, "Read-only");
  DialogPackNotify sink(&dialog_);
  EXPECT_EQ(sink.cb_ERROR(0, "nothing"), 0);
  EXPECT_EQ(sink.cb_ERROR(-1, "Can not open a!"), 0);
  EXPECT_EQ(sink.cb_ERROR(-100, "halt"), -1);
  EXPECT_EQ(sink.cb_READONLY("x/ro.txt"), 0);
  EXPECT_EQ(sink.cb_INFO(0, "ignored"), 0);
  EXPECT_EQ(sink.cb_FILEBEGIN("a", "b", 1), 0);
  EXPECT_EQ(view_.boxes, (Names{"Open error|Can not open a!", "Stopped|halt",
                                "Read-only|x/ro.txt"}));
}

TEST_F(PatcherDialogTest, SinkCountsFilesLeftOutAfterSkippedErrors) {
  DialogPackNotify sink(&dialog_);
  EXPECT_EQ(sink.cb_ERROR(-4, "ERROR writng file a!"), 0);
  EXPECT_EQ(sink.cb_ERROR(-1, "Can not open b!"), 0);
  EXPECT_EQ(sink.cb_ERROR(-3, "ERROR reading file c!"), 0);
  EXPECT_EQ(sink.cb_ERROR(-6, "Unsafe path: ../d"), 0);
  EXPECT_EQ(sink.cb_ERROR(-7, "Path too long: e"), 0);
  EXPECT_EQ(sink.files_left_out(), 5);
  // Package and version errors end the run themselves; a stop is a stop.
  sink.cb_ERROR(-2, "Create package p err:-1");
  sink.cb_ERROR(-5, "Need Client Version");
  sink.cb_ERROR(-100, "halt");
  sink.cb_ERROR(0, "nothing");
  EXPECT_EQ(sink.files_left_out(), 5);
}

// The bar follows bytes: it moves within one large file, a skip file
// counted by the statistics pass starts done, and the launcher keeps
// counting files.
TEST_F(PatcherDialogTest, SinkMovesTheBarByBytesWithinALargeFile) {
  folder_.WriteFile("vave.exe", "x");
  dialog_.BuildSkipList();
  dialog_.MarkPresentSkipFiles(folder_.path());
  struct Shown {
    int position;
    TransferProgress transfer;
  };
  std::vector<Shown> shown;
  view_.onTransfer = [&](const TransferProgress& t) { shown.push_back({view_.position, t}); };
  DialogPackNotify sink(&dialog_);
  constexpr int64_t kLarge = 500LL * 1000 * 1000;
  SRCDIRSTAT_T stat;
  stat.nTotalFile = 3;  // the skip file, a small one, the large one
  stat.nTotalSize = static_cast<int32_t>(kLarge + 1000);  // the skip file is empty
  ASSERT_EQ(sink.cb_SRCDIRSTAT(&stat), 0);
  EXPECT_EQ(view_.upper, kProgressScale);
  const int start = view_.position;
  EXPECT_GT(start, 0);
  EXPECT_LT(start, 10);
  EXPECT_EQ(dialog_.parent_link()->progress_total(), 3);

  ASSERT_EQ(sink.cb_FILEBEGIN("s/small", "i/small", 1000), 0);
  ASSERT_EQ(sink.cb_PROGRESS(1000), 0);
  ASSERT_EQ(sink.cb_FILEEND(), 0);
  ASSERT_EQ(sink.cb_FILEBEGIN("s/movie.bik", "i/movie.bik", static_cast<int32_t>(kLarge)), 0);
  std::vector<int> inside;
  for (int64_t written = 100000; written <= kLarge; written += 100000) {
    ASSERT_EQ(sink.cb_PROGRESS(static_cast<int32_t>(written)), 0);
    if (inside.empty() || inside.back() != view_.position) inside.push_back(view_.position);
  }
  // Within the one file the bar went up through nearly the whole range,
  // by small steps (each block is 1/5000 of the file).
  ASSERT_GT(inside.size(), 4500u);
  for (size_t i = 1; i < inside.size(); ++i) {
    EXPECT_GE(inside[i] - inside[i - 1], 1);
    EXPECT_LE(inside[i] - inside[i - 1], 3);
  }
  EXPECT_GE(inside.back(), kProgressScale - 5);
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.back().transfer.file, "i/movie.bik");
  EXPECT_EQ(shown.back().transfer.fileSize, kLarge);
  EXPECT_EQ(shown.back().transfer.bytesTotal, kLarge + 1000);
  EXPECT_EQ(shown.back().transfer.bytesDone, kLarge + 1000);
  ASSERT_EQ(sink.cb_FILEEND(), 0);
  EXPECT_EQ(view_.position, kProgressScale);
  EXPECT_EQ(dialog_.parent_link()->progress_count(), 2);
  EXPECT_EQ(view_.steps, 0);
}

// A stop asked for outside a run is a close; during one it refuses the
// next file before anything of it is touched.
TEST_F(PatcherDialogTest, CancelRefusesTheNextFileOnlyDuringARun) {
  EXPECT_FALSE(dialog_.RequestCancel());
  EXPECT_FALSE(dialog_.cancel_requested());
  DialogPackNotify sink(&dialog_);
  EXPECT_EQ(sink.cb_FILEBEGIN("a", "b", 1), 0);
  EXPECT_FALSE(sink.stopped());
}

TEST_F(PatcherDialogTest, EmptySourceIsNoLauncherStep) {
  DialogPackNotify sink(&dialog_);
  SRCDIRSTAT_T stat;
  stat.nTotalFile = 0;
  EXPECT_EQ(sink.cb_SRCDIRSTAT(&stat), 0);
  EXPECT_EQ(view_.events, (Names{"RANGE 0 10000", "STEPSIZE 1", "POS 0"}));
  EXPECT_EQ(dialog_.parent_link()->progress_total(), 0);
  EXPECT_EQ(dialog_.parent_link()->progress_count(), 0);
}

}  // namespace
}  // namespace marrowgate
