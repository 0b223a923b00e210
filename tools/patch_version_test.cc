// What a patch brings and whether its own bytes are whole: a patch program
// made as a publisher makes one (the built `marrowgate` with a package
// attached) that carries the version file of the update, run on scratch
// install folders.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/app_file_manager.h"
#include "app/flex_update.h"
#include "app/message_file.h"
#include "app/patcher_app.h"
#include "app/patcher_dialog.h"
#include "app/payload_check.h"
#include "app/testing/recording_view_testing.h"
#include "package/file/disk_file.h"
#include "package/store/tail_file.h"
#include "tools/pack_archive.h"
#include "tools/pack_tool.h"
#include "tools/testing/pack_tool_testing.h"
#include "util/releaser.h"

namespace marrowgate {
namespace {

// Every name below a folder with its kind, content and modification time
// (in nanoseconds): two equal snapshots mean nothing was written.
using Snapshot = std::map<std::string, std::string>;

Snapshot TakeSnapshot(const fs::path& folder) {
  Snapshot snapshot;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    std::string name = fs::relative(entry.path(), folder).string();
    auto time = entry.last_write_time().time_since_epoch();
    std::string state =
        std::to_string(std::chrono::duration_cast<std::chrono::nanoseconds>(time).count());
    if (entry.is_directory()) {
      state += " folder";
    } else {
      state += " " + ReadFile(entry.path());
    }
    snapshot[name] = state;
  }
  return snapshot;
}

class PatchVersionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::path(::testing::TempDir()) /
            ("mg_version_" +
             std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
             std::to_string(std::random_device()()));
    fs::remove_all(root_);
    fs::create_directories(root_);
    patch_ = root_ / "patch";
    install_ = root_ / "install";
    program_ = root_ / "patcher";
    WriteFile(patch_ / "cfg.txt", std::string("100 Test patch\r\n") + kPatcherTestMessages +
                                      "UPDATE\r\n{\r\n  szValidityStr = 1.2.0.0\r\n}\r\n");
    WriteFile(patch_ / "update/readme.txt", "new readme\n");
    WriteFile(patch_ / "update/mb/etc/version.txt", "1 1.6.0.0\r\n");
    WriteFile(patch_ / "update/zz/last.bin", Incompressible(3000, 7));
    WriteFile(install_ / "mb/etc/version.txt", "1 1.5.0.0\r\n");
    WriteFile(install_ / "readme.txt", "old readme\n");
    WriteFile(install_ / "update/localfilelist.txt", "");
    // Times well in the past, so a rewrite of the same bytes shows too.
    auto past = fs::file_time_type::clock::now() - std::chrono::hours(48);
    for (const auto& entry : fs::recursive_directory_iterator(install_))
      fs::last_write_time(entry.path(), past);
  }
  void TearDown() override { fs::remove_all(root_); }

  void MakeProgram() {
    ToolRun made = RunTool({"attach", MARROWGATE_PATCHER_PROGRAM, patch_.string(),
                            program_.string()});
    ASSERT_EQ(made.status, kPackExitOk) << made.err;
  }

  // A self-started run in the dialog over the recording view.
  void Run(bool allowDowngrade = false) {
    PatcherDialogSettings settings;
    settings.modulePath = program_.string();
    settings.allowDowngrade = allowDowngrade;
    view_ = std::make_unique<RecordingView>();
    dialog_ = std::make_unique<PatcherDialog>(view_.get(), nullptr, install_.string(), settings);
    dialog_->OnInitDialog();
    if (!dialog_->close_requested()) dialog_->OnShowWindow();
  }

  // The program as the player starts it in a terminal.
  ToolRun RunProgram(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    PatcherAppIo io;
    io.out = [&out](const std::string& text) { out << text; };
    io.err = [&err](const std::string& text) { err << text; };
    io.modulePath = program_.string();
    int status = PatcherApp(io).Run(args);
    return {status, out.str(), err.str()};
  }

  bool SawBoxWith(const std::string& text) const {
    for (const std::string& box : view_->boxes)
      if (box.find(text) != std::string::npos) return true;
    return false;
  }

  fs::path root_, patch_, install_, program_;
  std::unique_ptr<RecordingView> view_;
  std::unique_ptr<PatcherDialog> dialog_;
};

TEST_F(PatchVersionTest, ADowngradeIsRefusedUnlessAllowed) {
  WriteFile(install_ / "mb/etc/version.txt", "1 1.7.0.0\r\n");
  MakeProgram();
  Snapshot before = TakeSnapshot(install_);

  Run();
  EXPECT_EQ(dialog_->last_result(), kRunDowngrade);
  EXPECT_FALSE(dialog_->finished());
  EXPECT_EQ(view_->texts[kControlStatus], "Failed (-10101)");
  EXPECT_TRUE(SawBoxWith("brings version 1.6.0.0, older than the installed 1.7.0.0"));
  EXPECT_EQ(TakeSnapshot(install_), before);
  // The terminal run says the same and fails.
  ToolRun refused = RunProgram({"--console", install_.string()});
  EXPECT_EQ(refused.status, kPatcherAppFailure);
  EXPECT_NE(refused.err.find("--allow-downgrade"), std::string::npos) << refused.err;
  EXPECT_EQ(TakeSnapshot(install_), before);

  ToolRun allowed = RunProgram({"--console", "--allow-downgrade", install_.string()});
  EXPECT_EQ(allowed.status, kPatcherAppOk) << allowed.err;
  EXPECT_EQ(ReadFile(install_ / "readme.txt"), "new readme\n");
  EXPECT_EQ(ReadFile(install_ / "mb/etc/version.txt"), "1 1.6.0.0\r\n");
}

TEST_F(PatchVersionTest, AnInstallAtTheVersionBroughtIsUpToDateAndNothingIsWritten) {
  WriteFile(install_ / "mb/etc/version.txt", "1 1.6.0.0\r\n");
  WriteFile(install_ / "update/dellist.txt", "old.txt\r\n");
  WriteFile(install_ / "old.txt", "to be deleted by a run");
  auto past = fs::file_time_type::clock::now() - std::chrono::hours(48);
  for (const auto& entry : fs::recursive_directory_iterator(install_))
    fs::last_write_time(entry.path(), past);
  MakeProgram();
  Snapshot before = TakeSnapshot(install_);

  Run();
  EXPECT_EQ(dialog_->last_result(), kRunAlreadyUpToDate);
  EXPECT_TRUE(dialog_->finished());
  EXPECT_EQ(view_->texts[kControlStatus], "already up to date (1.6.0.0)");
  EXPECT_TRUE(view_->boxes.empty()) << view_->boxes[0];
  EXPECT_EQ(TakeSnapshot(install_), before);

  ToolRun again = RunProgram({"--console", install_.string()});
  EXPECT_EQ(again.status, kPatcherAppOk) << again.err;
  EXPECT_NE(again.out.find("already up to date"), std::string::npos) << again.out;
  EXPECT_EQ(TakeSnapshot(install_), before);

  // A new-file list left by a run that ended before its bookkeeping: the
  // run is made again, not skipped.
  WriteFile(install_ / "update/newfile.txt", "readme.txt\r\n");
  Run();
  EXPECT_EQ(dialog_->last_result(), 0);
  EXPECT_EQ(ReadFile(install_ / "readme.txt"), "new readme\n");
  EXPECT_FALSE(fs::exists(install_ / "update/newfile.txt"));
  EXPECT_FALSE(fs::exists(install_ / "old.txt"));
}

// A cut download or a damaged structure is found before anything is
// written. Damaged content is found by the copy, which reads each item
// once: the run stops at the item, says the patch is damaged, and leaves
// every file old or new and the version file old; the whole patch then
// completes the install.
TEST_F(PatchVersionTest, ADamagedOrCutPatchSaysSoAndLeavesEveryFileOldOrNew) {
  MakeProgram();
  Snapshot before = TakeSnapshot(install_);
  const std::string whole = ReadFile(program_);

  // One byte of the content of the last item of the update.
  {
    PackArchive archive(kPatcherPasswordA, kPatcherPasswordB);
    std::string problem;
    ASSERT_TRUE(archive.Open(program_.string(), kOpenRead, &problem)) << problem;
    std::vector<PackEntry> entries;
    ASSERT_TRUE(archive.Walk(&entries, &problem)) << problem;
    uint32_t block = 0;
    for (const PackEntry& e : entries)
      if (e.path == "update/zz/last.bin") block = e.firstBlock;
    ASSERT_NE(block, 0u);
    Owned<VirtualFile> host(DiskFile::Open(program_.c_str(), "rb"));
    Owned<TailFile> tail(new TailFile);
    ASSERT_EQ(tail->Attach(host.get(), false, kOpenRead), 0);
    int64_t base = tail->record().baseOffset;
    tail.reset();
    host.reset();
    archive.Close(&problem);
    FlipByte(program_, base + static_cast<int64_t>(block) * 1024 + 600);
  }
  std::string problem;
  EXPECT_FALSE(CheckPayload(program_.string(), nullptr, &problem));
  EXPECT_NE(problem.find("update/zz/last.bin"), std::string::npos) << problem;
  EXPECT_TRUE(CheckPayload(program_.string(), nullptr, &problem, PayloadDepth::kStructure))
      << problem;
  auto expectOldOrNew = [&]() {
    Snapshot after = TakeSnapshot(install_);
    EXPECT_EQ(after["mb/etc/version.txt"], before["mb/etc/version.txt"]);
    EXPECT_EQ(after["update/localfilelist.txt"], before["update/localfilelist.txt"]);
    EXPECT_EQ(after.count("zz/last.bin"), 0u);
    const std::string readme = ReadFile(install_ / "readme.txt");
    EXPECT_TRUE(readme == "old readme\n" || readme == "new readme\n") << readme;
    for (const auto& [name, state] : after)
      EXPECT_EQ(name.find(".~mgpart"), std::string::npos) << name;
  };
  Run();
  EXPECT_EQ(dialog_->last_result(), kRunPatchDamaged);
  EXPECT_FALSE(dialog_->finished());
  EXPECT_TRUE(SawBoxWith(kTextPatchDamaged));
  EXPECT_TRUE(SawBoxWith("update/zz/last.bin"));
  EXPECT_EQ(view_->texts[kControlStatus], "Failed (-10205)");
  expectOldOrNew();
  ToolRun console = RunProgram({"--console", install_.string()});
  EXPECT_EQ(console.status, kPatcherAppFailure);
  EXPECT_NE(console.err.find(kTextPatchDamaged), std::string::npos) << console.err;
  expectOldOrNew();

  // The whole patch completes the install.
  WriteFile(program_, whole);
  Run();
  EXPECT_EQ(dialog_->last_result(), 0);
  EXPECT_EQ(ReadFile(install_ / "mb/etc/version.txt"), "1 1.6.0.0\r\n");
  EXPECT_EQ(ReadFile(install_ / "zz/last.bin"), Incompressible(3000, 7));
  EXPECT_EQ(ReadFile(install_ / "readme.txt"), "new readme\n");

  // A cut download is found before anything is written.
  WriteFile(install_ / "mb/etc/version.txt", "1 1.5.0.0\r\n");
  before = TakeSnapshot(install_);

  // A download stopped at every tenth of the file, and one byte short.
  std::vector<size_t> cuts;
  for (int tenth = 1; tenth < 10; ++tenth) cuts.push_back(whole.size() * tenth / 10);
  cuts.push_back(whole.size() - 65);
  cuts.push_back(whole.size() - 1);
  for (size_t cut : cuts) {
    SCOPED_TRACE("cut at " + std::to_string(cut) + " of " + std::to_string(whole.size()));
    WriteFile(program_, whole.substr(0, cut));
    Run();
    EXPECT_FALSE(dialog_->finished());
    EXPECT_TRUE(SawBoxWith(kTextPatchDamaged));
    EXPECT_FALSE(SawBoxWith(kTextCantOpenMessageFile));
    EXPECT_EQ(TakeSnapshot(install_), before);
    ToolRun program = RunProgram({"--console", install_.string()});
    EXPECT_EQ(program.status, kPatcherAppFailure);
    EXPECT_NE(program.err.find(kTextPatchDamaged), std::string::npos) << program.err;
    EXPECT_EQ(TakeSnapshot(install_), before);
  }
}

TEST_F(PatchVersionTest, ThePatchSaysWhatItServesAndBrings) {
  MakeProgram();
  ToolRun about = RunProgram({"--about"});
  EXPECT_EQ(about.status, kPatcherAppOk) << about.err;
  EXPECT_NE(about.out.find("needs:   1.2.0.0 or later\n"), std::string::npos) << about.out;
  EXPECT_NE(about.out.find("brings:  1.6.0.0\n"), std::string::npos) << about.out;
  // cfg.txt, readme.txt, version.txt and last.bin in update, mb, etc, zz.
  EXPECT_NE(about.out.find(" bytes, 4 files in 4 folders"), std::string::npos) << about.out;
  PatchFacts facts;
  ASSERT_TRUE(ReadPatchFacts(program_.string(), &facts, nullptr));
  EXPECT_GT(facts.summary.packageBytes, 3000);
  EXPECT_NE(about.out.find(std::to_string(facts.summary.packageBytes) + " bytes"),
            std::string::npos);

  // The window before the run, and the terminal's first line.
  PatcherDialogSettings settings;
  settings.modulePath = program_.string();
  RecordingView view;
  PatcherDialog dialog(&view, nullptr, "", settings);
  dialog.OnInitDialog();
  EXPECT_EQ(view.texts[kControlStatus], "from 1.2.0.0 or later to 1.6.0.0");
  ToolRun run = RunProgram({"--console", install_.string()});
  EXPECT_EQ(run.status, kPatcherAppOk) << run.err;
  // The terminal: the title line, then what the patch is, before the run.
  EXPECT_EQ(run.out.rfind("== Test patch\nfrom 1.2.0.0 or later to 1.6.0.0\nPatching", 0), 0u)
      << run.out;

  // Without a version file: only the lower bound, as before.
  fs::remove(patch_ / "update/mb/etc/version.txt");
  MakeProgram();
  about = RunProgram({"--about"});
  EXPECT_NE(about.out.find("brings:  (no version file)"), std::string::npos) << about.out;
  RecordingView plainView;
  PatcherDialog plain(&plainView, nullptr, "", settings);
  plain.OnInitDialog();
  EXPECT_EQ(plainView.texts[kControlStatus], "");
}

}  // namespace
}  // namespace marrowgate
