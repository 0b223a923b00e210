// Whole-file replacement of disk targets: the staging rule, leftovers of
// an interrupted run, and a copy interrupted at every write, flush,
// replace or delete.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "package/testing/fault_injection_testing.h"
#include "package/file/file_system.h"
#include "package/file/staging_name.h"
#include "package/testing/temp_folder_testing.h"
#include "platform/durable_file.h"
#include "platform/env.h"
#include "package/file/memory_file.h"
#include "transfer/delete_tree.h"
#include "transfer/delta/delta_item.h"
#include "transfer/dir_copy.h"
#include "transfer/testing/recording_notify_testing.h"
#include "transfer/staged_target.h"
#include "util/releaser.h"

namespace marrowgate {
namespace {

using testing_faults::FaultFileSystem;
using testing_faults::FaultPlan;

TEST(StagedTargetTest, StagingNamesFollowTheTargetAndFitThePathLimit) {
  EXPECT_EQ(StagingPathFor("/game/bin/app.exe"), "/game/bin/app.exe.~mgpart");
  EXPECT_TRUE(IsStagingName("/game/bin/app.exe.~mgpart"));
  EXPECT_TRUE(IsStagingName("x.~mgpart"));
  EXPECT_FALSE(IsStagingName("/game/bin/app.exe"));
  EXPECT_FALSE(IsStagingName("/game/.~mgpart/app"));  // only the last component counts
  EXPECT_FALSE(IsStagingName("mgpart"));
  // A long name is cut so that the staging path still fits.
  std::string longTarget = "/game/" + std::string(kMaxPath - 6, 'n');
  ASSERT_EQ(longTarget.size(), static_cast<size_t>(kMaxPath));
  std::string staged = StagingPathFor(longTarget);
  EXPECT_EQ(staged.size(), static_cast<size_t>(kMaxPath));
  EXPECT_TRUE(IsStagingName(staged));
  EXPECT_EQ(staged.compare(0, 7, "/game/n"), 0);
  // A folder that leaves no room for a name and the suffix: none.
  EXPECT_EQ(StagingPathFor(std::string(kMaxPath - 4, 'f') + "/abc"), "");
  EXPECT_EQ(FolderPartOf("/game/bin/app.exe"), "/game/bin");
  EXPECT_EQ(FolderPartOf("app.exe"), "");
}

class StagedCopyTest : public ::testing::Test {
 protected:
  StagedCopyTest() : disk_(CreateFileSystem()) {
    src_ = folder_.Child("src");
    dst_ = folder_.Child("dst");
    platform::MakeFolder(src_.c_str());
    platform::MakeFolder((src_ + "/sub").c_str());
    params_.pSrcFM = disk_.get();
    params_.pDstFM = disk_.get();
    params_.szSrcDir = src_.c_str();
    params_.szDstDir = dst_.c_str();
    params_.pNotify = &sink_;
    params_.nBufSize = 4096;
    params_.byFlags = kCopyFileTimes;
  }

  std::string Target(const std::string& relative) { return dst_ + "/" + relative; }
  std::string Read(const std::string& relative) { return TestFolder::ReadFile(Target(relative)); }
  bool Exists(const std::string& relative) {
    return platform::PathAccessible(Target(relative).c_str());
  }
  int32_t Run(HeldBackNames delayed) {
    Owned<dircp> engine(CreateDirCopy(kDelayedDirCopy, delayed));
    return engine->DoIt(params_);
  }
  // Names below the target folder ending in the staging suffix, files and
  // folders.
  std::vector<std::string> Leftovers(const std::string& folder) {
    std::vector<std::string> found;
    auto listing = platform::FolderEnumerator::Open(folder.c_str());
    std::string name;
    bool isFolder = false;
    while (listing && listing->Next(&name, &isFolder)) {
      if (name == "." || name == "..") continue;
      if (IsStagingName(name)) {
        found.push_back(folder + "/" + name);
      } else if (isFolder) {
        for (const std::string& below : Leftovers(folder + "/" + name)) found.push_back(below);
      }
    }
    return found;
  }

  TestFolder folder_;
  Owned<FileSystem> disk_;
  std::string src_, dst_;
  RecordingNotify sink_;
  DIRCP_PARAM_T params_;
};

const char* const kNoDelayed[] = {nullptr};

// A sink's answer that ends the run at the first error.
int32_t StopOnErrors(const std::string& event) { return event.rfind("ERROR", 0) == 0 ? 1 : 0; }

TEST_F(StagedCopyTest, AWriteErrorLeavesTheOldTargetAndNoStagingFile) {
  folder_.WriteFile("src/a.txt", std::string(10000, 'n'));
  platform::MakeFolder(dst_.c_str());
  folder_.WriteFile("dst/a.txt", "old a");
  FaultPlan plan;
  FaultFileSystem faulty(disk_.get(), &plan);
  params_.pDstFM = &faulty;
  plan.Arm(2, FaultPlan::Effect::kFail);  // the second block written
  sink_.answer = StopOnErrors;
  EXPECT_EQ(Run(kNoDelayed), -1000 + kFileWriteStopped);
  EXPECT_EQ(Read("a.txt"), "old a");
  EXPECT_EQ(Leftovers(dst_), std::vector<std::string>{});
}

TEST_F(StagedCopyTest, ReplacedFilesKeepTheirPermissionBits) {
  folder_.WriteFile("src/run", "new program");
  platform::MakeFolder(dst_.c_str());
  folder_.WriteFile("dst/run", "old program");
  // The old target is a program (the bits of this test's own executable);
  // the staging file is created with the default bits.
  ASSERT_TRUE(
      platform::CopyPermissions(platform::OwnExecutablePath().c_str(), Target("run").c_str()));
  const int before = platform::PermissionBits(Target("run").c_str());
#ifdef _WIN32
  // No execute bits here: a writable file is 0666 (the read-only
  // attribute is the only bit Windows keeps).
  ASSERT_EQ(before, 0666);
#else
  ASSERT_NE(before & 0100, 0);
#endif
  ASSERT_EQ(Run(kNoDelayed), 0);
  EXPECT_EQ(Read("run"), "new program");
  EXPECT_EQ(platform::PermissionBits(Target("run").c_str()), before);
}

TEST_F(StagedCopyTest, TargetsThatCannotBePlacedAreNamedWithTheReasonAndTheRestIsCopied) {
  folder_.WriteFile("src/locked.txt", "new");
  folder_.WriteFile("src/folder.txt", "new");
  folder_.WriteFile("src/sub/below.txt", "new");
  folder_.WriteFile("src/z.txt", "new z");
  platform::MakeFolder(dst_.c_str());
  folder_.WriteFile("dst/locked.txt", "old");
  ASSERT_TRUE(platform::SetWritable(Target("locked.txt").c_str(), false));
  platform::MakeFolder(Target("folder.txt").c_str());  // a folder in the way
  folder_.WriteFile("dst/sub", "a file where the patch has a folder");
  EXPECT_EQ(Run(kNoDelayed), 0);  // this sink goes on after errors
  auto saw = [&](const std::string& event) {
    return std::find(sink_.events.begin(), sink_.events.end(), event) != sink_.events.end();
  };
  EXPECT_TRUE(saw("ERROR -4 Can not write " + Target("locked.txt") + ": Permission denied"));
  EXPECT_TRUE(saw("ERROR -4 Can not write " + Target("folder.txt") + ": Is a directory"));
  EXPECT_TRUE(saw("ERROR -4 Can not write " + Target("sub/below.txt") + ": Not a directory"));
  EXPECT_EQ(Read("locked.txt"), "old");
  EXPECT_EQ(Read("sub"), "a file where the patch has a folder");
  EXPECT_EQ(Read("z.txt"), "new z");
  EXPECT_EQ(Leftovers(dst_), std::vector<std::string>{});

  // A sink that stops at the first one ends the run with the file code.
  RecordingNotify stopping;
  stopping.answer = StopOnErrors;
  params_.pNotify = &stopping;
  int32_t stopped = Run(kNoDelayed);
  EXPECT_TRUE(stopped == -1000 + kFileNoTarget || stopped == -1000 + kFileNoFolders) << stopped;
  platform::SetWritable(Target("locked.txt").c_str(), true);
}

TEST_F(StagedCopyTest, LeftoversOfAnInterruptedRunAreRemovedAndTheNameIsReserved) {
  folder_.WriteFile("src/a.txt", "new a");
  folder_.WriteFile("src/sub/b.txt", "new b");
  folder_.WriteFile("src/sub/evil.~mgpart", "never installed");
  platform::MakeFolder(dst_.c_str());
  platform::MakeFolder((dst_ + "/sub").c_str());
  folder_.WriteFile("dst/a.txt.~mgpart", "half of a");
  folder_.WriteFile("dst/sub/old.dat.~mgpart", "half of something");
  folder_.WriteFile("dst/sub/keep.dat", "the game's own file");
  sink_.answer = [](const std::string&) { return 0; };
  EXPECT_EQ(Run(kNoDelayed), 0);
  EXPECT_EQ(Read("a.txt"), "new a");
  EXPECT_EQ(Read("sub/b.txt"), "new b");
  EXPECT_EQ(Read("sub/keep.dat"), "the game's own file");
  EXPECT_FALSE(Exists("sub/evil.~mgpart"));
  EXPECT_EQ(Leftovers(dst_), std::vector<std::string>{});
  bool refused = false;
  for (const std::string& event : sink_.events)
    if (event.find("Unsafe path refused: /sub/evil.~mgpart") != std::string::npos ||
        event.find("Unsafe path refused: sub/evil.~mgpart") != std::string::npos)
      refused = true;
  EXPECT_TRUE(refused);
}

// The old and new versions of the tree; "" for a file the old tree lacks.
struct Version {
  std::string before, after;
};

// The delta item turning `before` into `after`.
std::string DeltaItem(const std::string& before, const std::string& after) {
  MemoryFile oldFile(std::vector<uint8_t>(before.begin(), before.end()));
  MemoryFile newFile(std::vector<uint8_t>(after.begin(), after.end()));
  MemoryFile item;
  EXPECT_EQ(EncodeDelta(&oldFile, &newFile, &item), 0);
  return std::string(item.bytes().begin(), item.bytes().end());
}

std::string Pattern(size_t n, char seed) {
  std::string text(n, ' ');
  uint32_t x = static_cast<uint32_t>(seed);
  for (char& c : text) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  return text;
}

TEST_F(StagedCopyTest, ADeltaItemRebuildsItsTargetOnlyFromTheFileItWasMadeFrom) {
  const std::string before = Pattern(300000, 'a');
  std::string after = before;
  after.replace(150000, 500, Pattern(500, 'b'));
  const std::string item = DeltaItem(before, after);
  folder_.WriteFile("src/sub/big.dat.mgdelta", item);
  platform::MakeFolder(dst_.c_str());
  platform::MakeFolder((dst_ + "/sub").c_str());
  sink_.answer = [](const std::string&) { return 0; };

  // A name never copied is not rebuilt either.
  folder_.WriteFile("dst/sub/big.dat", "skipped");
  const char* const skip[] = {"big.dat", nullptr};
  params_.ppszExcludeNames = skip;
  EXPECT_EQ(Run(kNoDelayed), 0);
  EXPECT_EQ(Read("sub/big.dat"), "skipped");
  for (const std::string& event : sink_.events) EXPECT_NE(event.rfind("ERROR", 0), 0u) << event;
  params_.ppszExcludeNames = nullptr;
  sink_.events.clear();

  // Another old file: named, left as it is, nothing installed.
  std::string modified = before;
  modified[7] ^= 1;
  folder_.WriteFile("dst/sub/big.dat", modified);
  EXPECT_EQ(Run(kNoDelayed), 0);
  EXPECT_EQ(Read("sub/big.dat"), modified);
  EXPECT_FALSE(Exists("sub/big.dat.mgdelta"));
  const std::string refusal = "ERROR " + std::to_string(kNotifyDeltaBasisDiffers) +
                              " The installed file " + Target("sub/big.dat") +
                              " differs from the version the patch was made for";
  EXPECT_NE(std::find(sink_.events.begin(), sink_.events.end(), refusal), sink_.events.end());

  // A delta whose result is not the file it announces: given up.
  std::string wrongResult = item;
  wrongResult[40] ^= 1;  // the new file's MD5
  folder_.WriteFile("src/sub/big.dat.mgdelta", wrongResult);
  folder_.WriteFile("dst/sub/big.dat", before);
  sink_.events.clear();
  EXPECT_EQ(Run(kNoDelayed), 0);
  EXPECT_EQ(Read("sub/big.dat"), before);
  EXPECT_NE(std::find(sink_.events.begin(), sink_.events.end(),
                      "ERROR " + std::to_string(kNotifyReadError) + " ERROR reading file " +
                          src_ + "/sub/big.dat.mgdelta!"),
            sink_.events.end());

  // The right old file: the new one, under the target's name, announced so.
  folder_.WriteFile("src/sub/big.dat.mgdelta", item);
  sink_.events.clear();
  EXPECT_EQ(Run(kNoDelayed), 0);
  EXPECT_TRUE(Read("sub/big.dat") == after);
  EXPECT_NE(std::find(sink_.events.begin(), sink_.events.end(),
                      "FILEBEGIN " + src_ + "/sub/big.dat.mgdelta " + Target("sub/big.dat") + " " +
                          std::to_string(after.size())),
            sink_.events.end());
  EXPECT_EQ(Leftovers(dst_), std::vector<std::string>{});

  // Run again (as after a run stopped later on): the new file stays.
  sink_.events.clear();
  EXPECT_EQ(Run(kNoDelayed), 0);
  EXPECT_TRUE(Read("sub/big.dat") == after);
  for (const std::string& event : sink_.events) EXPECT_NE(event.rfind("ERROR", 0), 0u) << event;

  // With the whole new file beside the delta: a changed or missing old
  // file takes it instead, and its reserved name is never installed.
  folder_.WriteFile("src/sub/big.dat.mgfull", after);
  for (bool missing : {false, true}) {
    SCOPED_TRACE(missing ? "missing" : "changed");
    if (missing)
      disk_->DeleteFile((dst_ + "/sub/big.dat").c_str());
    else
      folder_.WriteFile("dst/sub/big.dat", modified);
    sink_.events.clear();
    EXPECT_EQ(Run(kNoDelayed), 0);
    EXPECT_TRUE(Read("sub/big.dat") == after);
    EXPECT_FALSE(Exists("sub/big.dat.mgfull"));
    for (const std::string& event : sink_.events) EXPECT_NE(event.rfind("ERROR", 0), 0u) << event;
  }
  // The right old file still goes through the delta; the counts ahead of
  // the copy are what it writes (the full file not counted, the delta
  // item with the new file's size), whichever of the two is used.
  params_.byStatMode = kStatFromInfo;
  for (bool matches : {true, false}) {
    SCOPED_TRACE(matches ? "old file" : "changed file");
    folder_.WriteFile("dst/sub/big.dat", matches ? before : modified);
    folder_.WriteFile("src/sub/small.txt", "twelve bytes");
    sink_.events.clear();
    EXPECT_EQ(Run(kNoDelayed), 0);
    EXPECT_TRUE(Read("sub/big.dat") == after);
    EXPECT_FALSE(Exists("sub/big.dat.mgfull"));
    EXPECT_EQ(std::count(sink_.events.begin(), sink_.events.end(), "FILEEND"), 2);
    EXPECT_NE(std::find(sink_.events.begin(), sink_.events.end(),
                        "SRCDIRSTAT 2 " + std::to_string(after.size() + 12) + " 1"),
              sink_.events.end());
    EXPECT_NE(std::find(sink_.events.begin(), sink_.events.end(),
                        "PROGRESS " + std::to_string(after.size())),
              sink_.events.end());
  }
}

// Logs what reaches the disk: "write <path>", "flush <path>" (to the
// device), "sync" (the file systems at once), "replace <path>", "move
// folder <path>"; with
// `noSync` the file system has no sync of its own, as on Windows.
class OrderLog {
 public:
  std::vector<std::string> lines;
};

class LoggedFile : public VirtualFile {
 public:
  LoggedFile(VirtualFile* inner, std::string path, OrderLog* log)
      : inner_(inner), path_(std::move(path)), log_(log) {}
  int32_t Size() override { return inner_->Size(); }
  int32_t GetTime() override { return inner_->GetTime(); }
  int32_t SetTime(int32_t seconds) override { return inner_->SetTime(seconds); }
  int32_t Read(void* buffer, int32_t n) override { return inner_->Read(buffer, n); }
  int32_t Seek(int64_t offset, int origin) override { return inner_->Seek(offset, origin); }
  bool AtEnd() override { return inner_->AtEnd(); }
  int64_t Tell() override { return inner_->Tell(); }
  int32_t Write(const void* buffer, int32_t n) override {
    log_->lines.push_back("write " + path_);
    return inner_->Write(buffer, n);
  }
  int32_t Flush() override {
    log_->lines.push_back("flush " + path_);
    return inner_->Flush();
  }
  int32_t FlushBuffers() override { return inner_->FlushBuffers(); }

 protected:
  ~LoggedFile() override { inner_->Release(); }

 private:
  VirtualFile* inner_;
  std::string path_;
  OrderLog* log_;
};

class LoggedFileSystem : public FileSystem {
 public:
  LoggedFileSystem(FileSystem* inner, OrderLog* log, bool noSync)
      : inner_(inner), log_(log), noSync_(noSync) {}
  VirtualFile* Open(const char* path, int mode) override {
    VirtualFile* file = inner_->Open(path, mode);
    return file == nullptr ? nullptr : new LoggedFile(file, path, log_);
  }
  DirListing* OpenListing(const char* path) override { return inner_->OpenListing(path); }
  DirListing* OpenDiskListing(const char* path) override { return inner_->OpenDiskListing(path); }
  int MakeFolder(const char* path) override { return inner_->MakeFolder(path); }
  int MakeParentFolder(const char* path) override { return inner_->MakeParentFolder(path); }
  bool Exists(const char* path) override { return inner_->Exists(path); }
  bool IsFolder(const char* path) override { return inner_->IsFolder(path); }
  int Stat(const char* path, FileInfo* info) override { return inner_->Stat(path, info); }
  int DeleteFile(const char* path) override { return inner_->DeleteFile(path); }
  int DeleteFolder(const char* path) override { return inner_->DeleteFolder(path); }
  int ReplaceFile(const char* from, const char* to) override {
    log_->lines.push_back(std::string("replace ") + from);
    return inner_->ReplaceFile(from, to);
  }
  int ReplaceFileUnsynced(const char* from, const char* to) override {
    log_->lines.push_back(std::string("replace ") + from);
    return inner_->ReplaceFileUnsynced(from, to);
  }
  int MoveFolderToFreeName(const char* from, const char* to) override {
    log_->lines.push_back(std::string("move folder ") + from);
    return inner_->MoveFolderToFreeName(from, to);
  }
  int RemoveTree(const char* path) override { return inner_->RemoveTree(path); }
  int SyncFolder(const char* path) override {
    log_->lines.push_back(std::string("syncfolder ") + path);
    return inner_->SyncFolder(path);
  }
  int WatchFileSystemOf(const char* path) override {
    log_->lines.push_back(std::string("watch ") + path);
    return noSync_ ? -1 : inner_->WatchFileSystemOf(path);
  }
  int SyncFileSystemsOf(const std::vector<std::string>& folders) override {
    if (noSync_) return -1;
    log_->lines.push_back("sync");
    return inner_->SyncFileSystemsOf(folders);
  }
  bool WritesToDisk(const char* path) override { return inner_->WritesToDisk(path); }
  VirtualFile* CreateFresh(const char* path) override {
    VirtualFile* file = inner_->CreateFresh(path);
    return file == nullptr ? nullptr : new LoggedFile(file, path, log_);
  }

 private:
  FileSystem* inner_;
  OrderLog* log_;
  bool noSync_;
};

TEST_F(StagedCopyTest, NoFileIsMovedBeforeItIsOnTheDeviceAndTheDeviceIsWaitedForPerBatch) {
  // Files in the target folder and as many in a new folder: two batches
  // where each file holds a handle until its batch is placed (no sync of
  // the whole file system, as on Windows); one where the file system is
  // synced whole, as its files are then closed once written.
  const int files = 2 * static_cast<int>(kStagedBatchFiles) + 12;
  for (int i = 0; i < files; ++i)
    folder_.WriteFile("src/" + std::string(i % 2 ? "sub/" : "") + "f" + std::to_string(i),
                      Pattern(100 + 37 * i, static_cast<char>('a' + i % 20)));
  folder_.WriteFile("src/late.dll", "held back");
  const char* const delayed[] = {"late.dll", nullptr};
  // A disk without a file-system sync (Windows) is only ever flushed file
  // by file; where the disk has one, both ways are checked.
  platform::MakeFolder(dst_.c_str());
  const bool diskSyncs = disk_->SyncFileSystemsOf({dst_}) == 0;
  std::vector<bool> variants = {true};
  if (diskSyncs) variants.insert(variants.begin(), false);
  for (bool noSync : variants) {
    SCOPED_TRACE(noSync ? "without a file-system sync" : "with a file-system sync");
    // "sub" is a folder the run makes new.
    DeleteTree(disk_.get(), dst_.c_str());
    platform::MakeFolder(dst_.c_str());
    OrderLog log;
    LoggedFileSystem logged(disk_.get(), &log, noSync);
    params_.pDstFM = &logged;
    ASSERT_EQ(Run(delayed), 0);
    // Each replace comes after its file's last write, and after a sync or
    // its own flush that followed that write; a folder's move after that
    // of every file written into it.
    int replaces = 0, syncs = 0, flushes = 0, folder_files = 0;
    std::set<std::string> watched;
    for (size_t i = 0; i < log.lines.size(); ++i) {
      const std::string& line = log.lines[i];
      if (line == "sync") ++syncs;
      if (line.rfind("watch ", 0) == 0) watched.insert(line.substr(6));
      // The sync must see a write error of any staged file: its file
      // system is watched (through its folder, or one holding that) before
      // the file's first write.
      if (line.rfind("write ", 0) == 0) {
        std::string folder = FolderPartOf(line.substr(6));
        while (!folder.empty() && watched.count(folder) == 0) folder = FolderPartOf(folder);
        EXPECT_FALSE(folder.empty()) << line;
      }
      if (line.rfind("flush ", 0) == 0) ++flushes;
      std::vector<std::string> moved;
      if (line.rfind("replace ", 0) == 0) {
        ++replaces;
        moved.push_back(line.substr(8));
      } else if (line.rfind("move folder ", 0) == 0) {
        const std::string inside = line.substr(12) + "/";
        for (size_t j = 0; j < i; ++j)
          if (log.lines[j].rfind("write " + inside, 0) == 0 &&
              std::find(moved.begin(), moved.end(), log.lines[j].substr(6)) == moved.end())
            moved.push_back(log.lines[j].substr(6));
        folder_files += static_cast<int>(moved.size());
        EXPECT_FALSE(moved.empty()) << line;
      } else {
        continue;
      }
      for (const std::string& file : moved) {
        bool durable = false;
        for (size_t j = i; j-- > 0;) {
          const std::string& before = log.lines[j];
          if (before == "write " + file) break;
          if (before == "sync" || before == "flush " + file) durable = true;
        }
        EXPECT_TRUE(durable) << file;
      }
      // The move itself reaches the device: a sync follows it, and the
      // walk's moves are all settled before the held-back file is written.
      bool settled = false;
      for (size_t j = i + 1; j < log.lines.size() && !settled; ++j) {
        if (log.lines[j].rfind("write ", 0) == 0 && log.lines[j].find("late.dll") != std::string::npos)
          break;
        settled = log.lines[j] == "sync" || log.lines[j].rfind("syncfolder ", 0) == 0;
      }
      EXPECT_TRUE(settled) << line;
    }
    EXPECT_EQ(replaces + folder_files, files + 1);
    EXPECT_EQ(folder_files, files / 2);  // every file of "sub" moved with it
    if (noSync) {
      EXPECT_EQ(flushes, files + 1);  // each file, as on Windows
    } else {
      EXPECT_EQ(flushes, 0);
      // The walk's one batch and the held-back file sync before and after
      // moving.
      EXPECT_EQ(syncs, 2 + 2);
    }
    for (int i = 0; i < files; ++i)
      EXPECT_EQ(Read(std::string(i % 2 ? "sub/" : "") + "f" + std::to_string(i)),
                Pattern(100 + 37 * i, static_cast<char>('a' + i % 20)));
    EXPECT_EQ(Read("late.dll"), "held back");
    EXPECT_EQ(Leftovers(dst_), std::vector<std::string>{});
  }
}

TEST_F(StagedCopyTest, EveryInterruptedCopyLeavesEachTargetOldOrNew) {
  const std::map<std::string, Version> files = {
      {"a.txt", {"old a", "new a, longer than before"}},
      {"sub/b.bin", {std::string(9000, 'o'), std::string(13000, 'N')}},
      {"sub/c.txt", {"", "a file the old tree lacks"}},
      {"fresh/e.txt", {"", "in a folder the old tree lacks"}},
      {"fresh/deeper/f.bin", {"", std::string(5000, 'f')}},
      {"late.dll", {"old late", "new late"}},
      {"sub/delta.bin", {Pattern(40000, 'd'), Pattern(40000, 'd').replace(20000, 50, "changed")}},
  };
  platform::MakeFolder((src_ + "/fresh").c_str());
  platform::MakeFolder((src_ + "/fresh/deeper").c_str());
  for (const auto& [path, version] : files) {
    if (path == "sub/delta.bin")  // travels as a delta of its old version
      folder_.WriteFile("src/" + path + ".mgdelta", DeltaItem(version.before, version.after));
    else
      folder_.WriteFile("src/" + path, version.after);
  }
  const char* const delayed[] = {"late.dll", nullptr};
  auto restore = [&] {
    DeleteTree(disk_.get(), dst_.c_str());
    platform::MakeFolder(dst_.c_str());
    platform::MakeFolder((dst_ + "/sub").c_str());
    for (const auto& [path, version] : files)
      if (!version.before.empty()) folder_.WriteFile("dst/" + path, version.before);
    folder_.WriteFile("dst/keep.txt", "not in the patch");
  };
  FaultPlan plan;
  FaultFileSystem faulty(disk_.get(), &plan);
  params_.pDstFM = &faulty;
  sink_.answer = StopOnErrors;  // errors end the run

  int injected = 0;
  for (FaultPlan::Effect effect : {FaultPlan::Effect::kFail, FaultPlan::Effect::kStop}) {
    for (int64_t n = 1;; ++n) {
      SCOPED_TRACE("operation " + std::to_string(n) +
                   (effect == FaultPlan::Effect::kStop ? " stops" : " fails"));
      restore();
      plan.Arm(n, effect);
      const int32_t rc = Run(delayed);
      if (!plan.tripped()) {
        EXPECT_EQ(rc, 0);
        break;
      }
      ++injected;
      for (const auto& [path, version] : files) {
        const std::string now = Exists(path) ? Read(path) : "";
        EXPECT_TRUE(now == version.before || now == version.after) << path << ": " << now;
      }
      EXPECT_EQ(Read("keep.txt"), "not in the patch");
      // Run again without faults: every target new, no staging file left.
      plan.Arm(0, FaultPlan::Effect::kFail);
      EXPECT_EQ(Run(delayed), 0);
      for (const auto& [path, version] : files) EXPECT_EQ(Read(path), version.after) << path;
      EXPECT_EQ(Leftovers(dst_), std::vector<std::string>{});
    }
  }
  EXPECT_GT(injected, 20);
  std::printf("patch copy: %d failure points injected, each left every target old or new\n",
              injected);
}

TEST_F(StagedCopyTest, AFullDiskAtAnyWriteIsNamedWithTheSystemsReasonAndLosesNothing) {
  folder_.WriteFile("src/a.txt", std::string(10000, 'a'));
  folder_.WriteFile("src/sub/b.bin", std::string(3000, 'b'));
  folder_.WriteFile("src/late.dll", "new late");
  const char* const delayed[] = {"late.dll", nullptr};
  auto restore = [&] {
    DeleteTree(disk_.get(), dst_.c_str());
    platform::MakeFolder(dst_.c_str());
    folder_.WriteFile("dst/a.txt", "old a");
    folder_.WriteFile("dst/late.dll", "old late");
  };
  FaultPlan plan;
  plan.SetFailureError(ENOSPC);
  FaultFileSystem faulty(disk_.get(), &plan);
  params_.pDstFM = &faulty;
  params_.nBufSize = 4096;  // a.txt takes three writes
  const std::string prefix = "ERROR -4 ERROR writng file ";
  const std::string reason = "! (" + std::string(std::strerror(ENOSPC)) + ")";
  int named = 0;
  for (int64_t n = 1;; ++n) {
    SCOPED_TRACE("operation " + std::to_string(n));
    restore();
    plan.Arm(n, FaultPlan::Effect::kFail);
    sink_.events.clear();
    // As the patcher's sink does: the file is left out, the run goes on.
    sink_.answer = nullptr;
    EXPECT_EQ(Run(delayed), 0);
    if (!plan.tripped()) break;
    for (const std::string& event : sink_.events) {
      if (event.rfind(prefix, 0) != 0) continue;
      ++named;
      // The engine's text as it stands, the target named, the reason beside it.
      const std::string target = event.substr(prefix.size(), event.size() - prefix.size() - reason.size());
      EXPECT_EQ(event, prefix + target + reason);
      EXPECT_EQ(target.rfind(dst_ + "/", 0), 0u) << event;
    }
    EXPECT_TRUE(Read("a.txt") == "old a" || Read("a.txt") == std::string(10000, 'a'));
    EXPECT_TRUE(Read("late.dll") == "old late" || Read("late.dll") == "new late");
    EXPECT_TRUE(!Exists("sub/b.bin") || Read("sub/b.bin") == std::string(3000, 'b'));
  }
  // Every write of the three blocks and every flush and placing of a
  // staged file failed once.
  EXPECT_GE(named, 3 + 3 + 3);
}

}  // namespace
}  // namespace marrowgate
