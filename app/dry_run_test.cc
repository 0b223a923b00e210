// --dry-run end to end through PatcherApp: a patch program carrying new,
// replaced, held-back, skipped and package-routed files, a delete list and
// a PACKAGE line, listed against a scratch install folder that must stay
// exactly as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/app_file_manager.h"
#include "app/patcher_app.h"
#include "app/testing/patcher_program_testing.h"
#include "package/file/memory_file.h"
#include "package/manager/file_manager.h"
#include "transfer/delta/delta_item.h"
#include "util/releaser.h"

namespace marrowgate {
namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& path, const std::string& content) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Every entry below `root`: kind, content and modification time.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    std::string name = fs::relative(entry.path(), root).string();
    std::string state = entry.is_directory() ? "folder" : "file " + ReadFile(entry.path());
    state += " @" + std::to_string(entry.last_write_time().time_since_epoch().count());
    entries[name] = state;
  }
  return entries;
}

// A package file `stem`.dpk holding `items`, made with the patcher's keys.
void MakeInstalledPackage(const std::string& stem, const std::map<std::string, std::string>& items) {
  Owned<FileManager> fm(CreateFileManager(AppFileManagerOptions()));
  ASSERT_TRUE(fm);
  ASSERT_EQ(fm->EnsurePackage(stem.c_str(), ".dpk", kOpenCreate), 0);
  for (const auto& [name, content] : items) {
    std::string path = stem + "/" + name;
    ASSERT_GE(fm->MakeParentFolder(path.c_str()), 0);
    Owned<VirtualFile> item(fm->Open(path.c_str(), kOpenCreate));
    ASSERT_TRUE(item);
    ASSERT_EQ(item->Write(content.data(), static_cast<int32_t>(content.size())),
              static_cast<int32_t>(content.size()));
  }
  ASSERT_EQ(fm->ClosePackage(stem.c_str()), 0);
}

struct DryRunOutput {
  int status;
  std::vector<std::string> lines;
  bool Has(const std::string& line) const {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  std::string All() const {
    std::string all;
    for (const std::string& line : lines) all += line + "\n";
    return all;
  }
};

class DryRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::path(::testing::TempDir()) /
            ("mg_dry_" + std::to_string(std::random_device()()));
    fs::remove_all(root_);
    install_ = root_ / "install";
    program_ = (root_ / "patcher").string();
    fs::create_directories(install_);
  }
  void TearDown() override { fs::remove_all(root_); }

  void MakeProgram() {
    const std::string cfg =
        "100 Test patch\r\n203 Failed (%d)\r\n212 No version\r\n213 Bad version: \r\n"
        "900 1\r\n901 launcher.exe\r\n10001 1\r\n10002 bin/game.exe\r\n"
        "UPDATE\r\n{\r\n  szValidityStr = 1.2.0.0\r\n  PACKAGE = data/sound\r\n"
        "  PACKAGE = data/music\r\n}\r\n";
    ASSERT_TRUE(MakePatcherProgram(
        program_, {
                      {"cfg.txt", cfg},
                      {"update/readme.txt", "new readme, longer\n"},
                      {"update/data/a.bin", std::string(3000, 'a')},
                      {"update/bin/game.exe", "the game, held back"},
                      {"update/launcher.exe", "a launcher the patch must not replace"},
                      {"update/data/sound/boom.wav", std::string(500, 'b')},
                      {"update/data/music/track.ogg", std::string(700, 't')},
                      {"update/mb/etc/version.txt", "1 1.6.0.0\r\n"},
                      {"update/update/newfile.txt", "readme.txt\r\ndata/a.bin\r\n"},
                      {"update/update/dellist.txt",
                       "old\r\nstale.txt\r\nnothing-here\r\nreadme.txt\r\n"},
                  }));
  }

  DryRunOutput DryRun(std::vector<std::string> args) {
    PatcherAppIo io;
    std::string out, err;
    io.out = [&out](const std::string& text) { out += text; };
    io.err = [&err](const std::string& text) { err += text; };
    io.modulePath = program_;
    DryRunOutput result;
    result.status = PatcherApp(io).Run(args);
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) result.lines.push_back(line);
    EXPECT_EQ(err, "");
    return result;
  }

  fs::path root_, install_;
  std::string program_;
};

TEST_F(DryRunTest, ListsEveryEntryWithItsSizeAndWritesNothing) {
  MakeProgram();
  WriteFile(install_ / "mb/etc/version.txt", "1 1.5.0.0\r\n");
  WriteFile(install_ / "readme.txt", "old readme\n");
  WriteFile(install_ / "launcher.exe", "installed launcher");
  WriteFile(install_ / "old/x.txt", "old x");
  WriteFile(install_ / "old/y.txt", "old yy");
  WriteFile(install_ / "stale.txt", "stale");
  WriteFile(install_ / "update/localfilelist.txt", "");
  MakeInstalledPackage((install_ / "data/music").string(), {{"track.ogg", "old track"}});
  const auto before = Snapshot(install_);
  const bool logBefore = fs::exists("log");

  DryRunOutput run = DryRun({"--console", "--dry-run", install_.string() + "/"});
  EXPECT_EQ(run.status, kPatcherAppOk) << run.All();
  const std::vector<std::string> expected = {
      "version    installed 1.5.0.0, needs 1.2.0.0",
      "version    the patch brings 1.6.0.0",
      "package    data/sound.dpk would create package",
      "package    data/music.dpk exists",
      "hold back  bin/game.exe 19 (new)",
      "new        data/a.bin 3000",
      "replace    data/music/track.ogg 9 -> 700 (in a package)",
      "new        data/sound/boom.wav 500 (into new package data/sound.dpk)",
      "skip       launcher.exe 37",
      "hold back  mb/etc/version.txt 11 (replaces 11)",
      "replace    readme.txt 11 -> 19",
      "new        update/dellist.txt 42",
      "new        update/newfile.txt 24",
      "delete     old (folder, 2 files, 11 bytes)",
      "delete     stale.txt 5",
      "8 to write (4315 bytes): 4 new, 2 replaced, 2 held back; 1 skipped, 2 to delete "
      "(16 bytes), 1 packages to create; the patch would apply",
  };
  std::vector<std::string> sortedLines = run.lines, sortedExpected = expected;
  std::sort(sortedLines.begin(), sortedLines.end());
  std::sort(sortedExpected.begin(), sortedExpected.end());
  EXPECT_EQ(sortedLines, sortedExpected) << run.All();
  EXPECT_EQ(run.lines.back(), expected.back());

  // Not a byte, not a time, not a package, not a log.
  EXPECT_EQ(Snapshot(install_), before);
  EXPECT_FALSE(fs::exists(install_ / "data/sound.dpk"));
  EXPECT_EQ(fs::exists("log"), logBefore);

  // A folder where a file goes, and a file where a folder goes: the run
  // would fail, and the dry run says so and still writes nothing.
  fs::create_directories(install_ / "data/a.bin");
  WriteFile(install_ / "bin", "a file where the folder goes");
  const auto blocked = Snapshot(install_);
  run = DryRun({"--dry-run", "--dir", install_.string()});
  EXPECT_EQ(run.status, kPatcherAppFailure) << run.All();
  EXPECT_TRUE(run.Has("in the way data/a.bin: a folder where a file goes")) << run.All();
  EXPECT_TRUE(run.Has("in the way bin/game.exe: Not a directory")) << run.All();
  EXPECT_NE(run.lines.back().find("the patch would not apply (2 problems)"), std::string::npos);
  EXPECT_EQ(Snapshot(install_), blocked);

  // A client too old for the patch: refused before anything is listed.
  WriteFile(install_ / "mb/etc/version.txt", "1 1.0.0.0\r\n");
  const auto old = Snapshot(install_);
  run = DryRun({"/user", "Launcher", "--dry-run", "/D", install_.string()});
  EXPECT_EQ(run.status, kPatcherAppFailure) << run.All();
  EXPECT_TRUE(run.Has("too old    installed 1.0.0.0, needs 1.2.0.0")) << run.All();
  EXPECT_EQ(run.lines.size(), 2u) << run.All();
  EXPECT_EQ(Snapshot(install_), old);
  EXPECT_FALSE(fs::exists(install_ / "data/sound.dpk"));
  EXPECT_EQ(fs::exists("log"), logBefore);

  // Newer than the patch brings: a downgrade, unless allowed. Already at
  // its version: up to date, nothing to list.
  WriteFile(install_ / "mb/etc/version.txt", "1 1.7.0.0\r\n");
  run = DryRun({"--dry-run", install_.string()});
  EXPECT_EQ(run.status, kPatcherAppFailure) << run.All();
  EXPECT_TRUE(run.Has("downgrade  installed 1.7.0.0, the patch brings 1.6.0.0")) << run.All();
  run = DryRun({"--dry-run", "--allow-downgrade", install_.string()});
  EXPECT_FALSE(run.Has("downgrade  installed 1.7.0.0, the patch brings 1.6.0.0")) << run.All();
  EXPECT_TRUE(run.Has("version    the patch brings 1.6.0.0")) << run.All();
  WriteFile(install_ / "mb/etc/version.txt", "1 1.6.0.0\r\n");
  const auto current = Snapshot(install_);
  run = DryRun({"--dry-run", install_.string()});
  EXPECT_EQ(run.status, kPatcherAppOk) << run.All();
  EXPECT_TRUE(run.Has("version    already up to date (1.6.0.0): nothing would be written"))
      << run.All();
  EXPECT_EQ(Snapshot(install_), current);
}

// The delta item turning `before` into `after`.
std::string DeltaOf(const std::string& before, const std::string& after) {
  MemoryFile oldFile(std::vector<uint8_t>(before.begin(), before.end()));
  MemoryFile newFile(std::vector<uint8_t>(after.begin(), after.end()));
  MemoryFile item;
  EXPECT_EQ(EncodeDelta(&oldFile, &newFile, &item), 0);
  return std::string(item.bytes().begin(), item.bytes().end());
}

// Each delta target with what the run would find: the old file it was
// made from, the new one already, another file (with or without the whole
// file carried), none.
TEST_F(DryRunTest, ShowsDeltaTargetsAndWhetherTheirOldFilesMatch) {
  std::map<std::string, std::string> files = {
      {"cfg.txt", "100 Test patch\r\n203 Failed (%d)\r\nUPDATE\r\n{\r\n"
                  "  szValidityStr = 1.2.0.0\r\n}\r\n"}};
  const std::string old(5000, 'o');
  const std::string now = old.substr(0, 2500) + "changed" + old.substr(2500);
  for (const char* name : {"match", "already", "changed", "whole", "missing"})
    files[std::string("update/") + name + ".bin.mgdelta"] = DeltaOf(old, now);
  files["update/whole.bin.mgfull"] = now;
  ASSERT_TRUE(MakePatcherProgram(program_, files));
  WriteFile(install_ / "mb/etc/version.txt", "1 1.5.0.0\r\n");
  WriteFile(install_ / "match.bin", old);
  WriteFile(install_ / "already.bin", now);
  WriteFile(install_ / "changed.bin", now + "!");
  WriteFile(install_ / "whole.bin", "played with");
  const auto before = Snapshot(install_);

  DryRunOutput run = DryRun({"--dry-run", install_.string()});
  EXPECT_EQ(run.status, kPatcherAppFailure) << run.All();
  const std::string sizes = " 5000 -> 5007";
  const std::string differs = "the installed file differs from the version the patch was made for";
  for (const std::string& line : {
           "delta      match.bin" + sizes + " (the installed file matches)",
           "delta      already.bin" + sizes + " (the installed file already is the new version)",
           "delta      changed.bin" + sizes + ": " + differs,
           "delta      whole.bin" + sizes + " (" + differs +
               ": the whole new file is carried instead)",
           "delta      missing.bin" + sizes + ": the installed file is missing"})
    EXPECT_TRUE(run.Has(line)) << line << "\n" << run.All();
  EXPECT_NE(run.lines.back().find("the patch would not apply (2 problems)"), std::string::npos)
      << run.All();
  for (const std::string& line : run.lines)
    EXPECT_EQ(line.find(".mgfull"), std::string::npos) << line;
  EXPECT_EQ(Snapshot(install_), before);
}

}  // namespace
}  // namespace marrowgate
