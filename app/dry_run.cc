#include "app/dry_run.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include "app/client_version.h"
#include "app/delayed_name_list.h"
#include "app/flex_update.h"
#include "app/install_bookkeeping.h"
#include "app/message_file.h"
#include "app/message_sink.h"
#include "app/message_table.h"
#include "app/own_package.h"
#include "app/patch_job.h"
#include "app/patcher_dialog.h"
#include "app/payload_check.h"
#include "package/file/file_system.h"
#include "platform/file_tree.h"
#include "platform/write_check.h"
#include "package/file/memory_file.h"
#include "transfer/copy_source.h"
#include "transfer/delta/delta_item.h"
#include "transfer/dir_search.h"
#include "transfer/pack_notify.h"
#include "package/file/staging_name.h"
#include "util/releaser.h"
#include "util/safe_path.h"
#include "util/text.h"

namespace marrowgate {
namespace {

using LineOut = std::function<void(const std::string&)>;

// Each line starts with an 11-character label.
std::string Label(const char* label) {
  std::string text(label);
  if (text.size() < 11) text.resize(11, ' ');
  return text;
}

std::string Shown(std::string_view name) { return EscapeControlCharacters(name); }

// The version check's messages become lines; nothing is shown or sent.
class LineSink : public MessageSink {
 public:
  LineSink(MessageTable* table, LineOut out) : table_(table), out_(std::move(out)) {}
  std::string MessageText(int32_t number) override {
    const std::string* text = table_->Find(number);
    return text != nullptr ? *text : std::string();
  }
  void ShowMessageById(int32_t number) override {
    out_(Label("version") + Shown(MessageText(number)) + " (message " + std::to_string(number) +
         ")");
  }
  void ShowMessageText(int32_t number, const std::string& text) override {
    out_(Label("version") + Shown(text) + " (message " + std::to_string(number) + ")");
  }
  void ReportError(int32_t, int32_t) override {}

 private:
  MessageTable* table_;
  LineOut out_;
};

// Keeps what the configuration check reports, to show it.
class CollectingNotify : public CPackNotify {
 public:
  int32_t cb_ERROR(int32_t, const char* text) override {
    if (text != nullptr) texts.emplace_back(TrimView(text));
    return 0;
  }
  std::vector<std::string> texts;
};

// Size and MD5 of the file or item at `path`, read in slices (an item is
// unsealed as it is read, never held whole); false when it cannot be read
// to its end (a damaged item included).
bool StreamedIdentity(FileSystem* fs, const std::string& path, Unsealer* unsealer,
                      uint32_t* size, std::array<uint8_t, 16>* digest) {
  CopySource source;
  if (!source.Open(fs, path)) return false;
  std::vector<char> buffer(64 * 1024);
  uint64_t total = 0;
  const int pumped = source.Pump(
      &buffer, unsealer,
      [&](const uint8_t*, size_t n) {
        total += n;
        return true;
      },
      digest->data());
  if (pumped != CopySource::kPumped || total > UINT32_MAX) return false;
  *size = static_cast<uint32_t>(total);
  return true;
}

// Sizes and counts of the files below a folder.
class SizeWalk : public DirSearch {
 public:
  using DirSearch::DirSearch;
  int32_t ActionOnFile(const char* name) override {
    FileInfo info;
    const char* path = ComposeEntryPath(name);
    if (path != nullptr && FileSystemInUse()->Stat(path, &info) >= 0) {
      bytes += static_cast<uint32_t>(info.size);
    }
    ++files;
    return 0;
  }
  int64_t files = 0;
  uint64_t bytes = 0;
};

class DryRun {
 public:
  DryRun(const DryRunSettings& settings, LineOut out, DryRunTotals* totals)
      : settings_(settings), out_(std::move(out)), totals_(*totals) {}

  DryRunResult Run();

 private:
  void Problem(const char* label, const std::string& text) {
    out_(Label(label) + text);
    ++totals_.problems;
  }
  bool ReadConfiguration(FlexUpdate* update, const std::string& selfBase);
  void CheckPackages(FlexUpdate* update);
  void BuildNameRules();
  void WalkUpdate(const std::string& sourceRoot);
  void ListFile(const std::string& source, const std::string& relative, const char* name);
  bool Skipped(const std::string& relative, const char* name) const;
  // A delta item: its target and whether the installed file is its basis.
  void ListDelta(const std::string& source, const std::string& itemRelative);
  void ListDeletes(const std::string& sourceRoot);
  void Summary();

  const DryRunSettings& settings_;
  LineOut out_;
  DryRunTotals& totals_;
  MessageTable messages_;
  FileManager* fm_ = nullptr;  // owned by the FlexUpdate of Run
  std::string installed_;
  std::vector<std::string> newPackages_;    // PACKAGE names not yet in the folder
  std::set<std::string> skipBare_;          // skip names without a folder part
  std::vector<std::string> skipPaths_;      // skip names as list names
  std::set<std::string> heldBack_;          // relative to the update root
  std::vector<std::string> carried_;        // what the copy would write
  Unsealer unsealer_;                       // items are read in slices
  friend class UpdateWalk;
};

class UpdateWalk : public DirSearch {
 public:
  UpdateWalk(FileSystem* fs, DryRun* run) : DirSearch(fs), run_(run) {}
  int32_t ActionOnFile(const char* name) override {
    const char* source = ComposeEntryPath(name);
    std::string path = source != nullptr ? source : std::string(CurrentFolder()) + "/" + name;
    std::string relative = path.size() > RootLength() + 1 ? path.substr(RootLength() + 1) : "";
    run_->ListFile(path, relative, name);
    return 0;
  }

 private:
  DryRun* run_;
};

bool DryRun::ReadConfiguration(FlexUpdate* update, const std::string& selfBase) {
  std::string cfgPath = selfBase + "/" + kCfgFileName;
  Owned<VirtualFile> cfg(fm_->Open(cfgPath.c_str(), kOpenRead));
  if (!cfg) {
    out_(Label("version") + "installed " + Shown(installed_) + ", the patch has no " +
         kCfgFileName + " (no version required)");
    return true;
  }
  CollectingNotify notify;
  PatchJob job;
  job.szInstallDir = settings_.installDir.c_str();
  job.pNotify = &notify;
  update->SetJob(&job);
  int rc = update->ParseCfg(cfg.get());
  update->SetJob(nullptr);
  if (rc != 0) {
    std::string why;
    for (const std::string& text : notify.texts) why += (why.empty() ? "" : "; ") + Shown(text);
    Problem("damaged", std::string(kCfgFileName) + ": " +
                           (why.empty() ? "cannot be read (code " + std::to_string(rc) + ")"
                                        : why));
    return false;
  }
  const char* required = update->szValidityStr;
  if (IsVersionLower(installed_.c_str(), required)) {
    Problem("too old", "installed " + Shown(installed_) + ", needs " + Shown(required));
    return false;
  }
  out_(Label("version") + "installed " + Shown(installed_) + ", needs " +
       (required[0] != '\0' ? Shown(required) : std::string("any")));
  return true;
}

void DryRun::CheckPackages(FlexUpdate* update) {
  for (const std::string& name : update->package_names()) {
    std::string stem = settings_.installDir + "/" + name;
    std::string file = stem + ".dpk";
    platform::NodeStatus status;
    if (!platform::LinkStatusOf(file.c_str(), &status, nullptr)) {
      out_(Label("package") + Shown(name) + ".dpk would create package");
      ++totals_.packagesMade;
      std::string listName;
      if (NormaliseListName(name, &listName)) newPackages_.push_back(std::move(listName));
    } else if (status.kind != platform::NodeKind::kFile ||
               fm_->OpenPackage(stem.c_str(), ".dpk", kOpenRead) == nullptr) {
      Problem("in the way", Shown(name) + ".dpk: not a package");
    } else {
      out_(Label("package") + Shown(name) + ".dpk exists");
    }
  }
}

void DryRun::BuildNameRules() {
  // The skip list as the run builds it: the names present in the folder.
  std::vector<std::string> names;
  const std::string* countText = messages_.Find(kMessageSkipCount);
  int32_t count = countText != nullptr ? MessageCount(*countText) : 0;
  if (count != 0) {
    for (int32_t i = 0; i < count; ++i) {
      const std::string* name = messages_.Find(kMessageSkipCount + 1 + i);
      std::string normalised;
      if (name != nullptr && NormaliseListName(TrimView(*name), &normalised)) {
        names.push_back(std::move(normalised));
      }
    }
  } else {
    for (const char* name : kDefaultSkipFiles) names.emplace_back(name);
  }
  Owned<FileSystem> disk(CreateFileSystem());
  for (const std::string& name : names) {
    std::string path = settings_.installDir + "/" + name;
    if (!disk || !disk->Exists(path.c_str())) continue;
    if (name.find('/') == std::string::npos) skipBare_.insert(name);
    skipPaths_.push_back(name);
  }
  DelayedNameList list;
  list.Build(messages_);
  for (const char* const* name = list.names(); *name != nullptr; ++name) heldBack_.insert(*name);
  heldBack_.insert(kUpdateVersionFile);
}

void DryRun::ListFile(const std::string& source, const std::string& relative, const char* name) {
  if (relative.empty() || !IsContainedRelativePath(relative) || IsStagingName(relative)) {
    Problem("unsafe", Shown(relative.empty() ? std::string(name) : relative) +
                          ": not a path inside the install folder");
    return;
  }
  FileInfo sourceInfo;
  if (fm_->Stat(source.c_str(), &sourceInfo) < 0) {
    Problem("damaged", Shown(relative) + ": cannot be read from the patch");
    return;
  }
  const uint64_t size = static_cast<uint32_t>(sourceInfo.size);
  // A full file beside a delta item is taken only through the delta item.
  if (IsDeltaFullName(relative) && !DeltaFullTargetOf(relative).empty()) return;
  if (IsDeltaName(relative)) {
    ListDelta(source, relative);
    return;
  }
  if (Skipped(relative, name)) {
    out_(Label("skip") + Shown(relative) + " " + std::to_string(size));
    ++totals_.skipped;
    return;
  }
  {
    // Only the item's header is read: an item is not unsealed whole here.
    CopySource item;
    if (!item.Open(fm_, source)) {
      Problem("damaged", Shown(relative) + ": cannot be read from the patch");
      return;
    }
  }
  const std::string target = settings_.installDir + "/" + relative;
  if (target.size() > static_cast<size_t>(kMaxPath)) {
    Problem("in the way", Shown(relative) + ": path too long");
    return;
  }

  // Where the file would land and what it would replace.
  bool exists = false;
  uint64_t oldSize = 0;
  std::string where;
  bool intoNewPackage = false;
  for (const std::string& package : newPackages_) {
    if (relative.size() > package.size() && ListNameWithin(relative, package)) {
      intoNewPackage = true;
      where = " (into new package " + Shown(package) + ".dpk)";
    }
  }
  if (!intoNewPackage && !fm_->WritesToDisk(target.c_str())) {
    FileInfo info;
    where = " (in a package)";
    if (fm_->Stat(target.c_str(), &info) >= 0) {
      if (info.flags & kFileInfoFolder) {
        Problem("in the way", Shown(relative) + ": a folder in the package");
        return;
      }
      exists = true;
      oldSize = static_cast<uint32_t>(info.size);
    }
  } else if (!intoNewPackage) {
    platform::NodeStatus status;
    if (platform::LinkStatusOf(target.c_str(), &status, nullptr)) {
      if (status.kind == platform::NodeKind::kFolder) {
        Problem("in the way", Shown(relative) + ": a folder where a file goes");
        return;
      }
      if (status.kind != platform::NodeKind::kFile && status.kind != platform::NodeKind::kLink) {
        Problem("in the way", Shown(relative) + ": not a regular file");
        return;
      }
      exists = true;
      FileInfo info;
      if (fm_->Stat(target.c_str(), &info) >= 0) oldSize = static_cast<uint32_t>(info.size);
      if (status.kind == platform::NodeKind::kLink) where = " (a link, replaced by a file)";
    }
    std::string blocked = platform::WriteBlockedReason(target.c_str());
    if (!blocked.empty() && status.kind != platform::NodeKind::kLink) {
      Problem("in the way", Shown(relative) + ": " + blocked);
      return;
    }
  }

  carried_.push_back(relative);
  totals_.bytesWritten += size;
  if (heldBack_.count(relative) != 0) {
    out_(Label("hold back") + Shown(relative) + " " + std::to_string(size) +
         (exists ? " (replaces " + std::to_string(oldSize) + ")" : std::string(" (new)")) + where);
    ++totals_.heldBack;
  } else if (exists) {
    out_(Label("replace") + Shown(relative) + " " + std::to_string(oldSize) + " -> " +
         std::to_string(size) + where);
    ++totals_.replaced;
  } else {
    out_(Label("new") + Shown(relative) + " " + std::to_string(size) + where);
    ++totals_.newFiles;
  }
}

bool DryRun::Skipped(const std::string& relative, const char* name) const {
  if (skipBare_.count(name) != 0) return true;
  for (const std::string& path : skipPaths_) {
    if (relative.size() == path.size() && ListNameBeginsWith(relative, path)) return true;
  }
  return false;
}

void DryRun::ListDelta(const std::string& source, const std::string& itemRelative) {
  const std::string relative = DeltaTargetOf(itemRelative);
  if (relative.empty() || !IsContainedRelativePath(relative)) {
    Problem("unsafe", Shown(itemRelative) + ": a delta item whose target is not a plain name");
    return;
  }
  const size_t slash = relative.rfind('/');
  if (Skipped(relative, relative.c_str() + (slash == std::string::npos ? 0 : slash + 1))) {
    out_(Label("skip") + Shown(relative) + " (delta)");
    ++totals_.skipped;
    return;
  }
  DeltaHeader header;
  {
    // The delta's header only, unsealed as far as it goes.
    CopySource item;
    uint8_t head[kDeltaHeaderSize];
    const int32_t got = item.Open(fm_, source) ? item.ReadHead(&unsealer_, head, sizeof head) : -1;
    MemoryFile headFile(std::vector<uint8_t>(head, head + std::max<int32_t>(got, 0)));
    if (got < 0 || ReadDeltaHeader(&headFile, &header) != 0) {
      Problem("damaged", Shown(itemRelative) + ": not a delta item the patcher can read");
      return;
    }
  }
  const std::string target = settings_.installDir + "/" + relative;
  if (target.size() > static_cast<size_t>(kMaxPath)) {
    Problem("in the way", Shown(relative) + ": path too long");
    return;
  }
  const std::string shown = Shown(relative) + " " + std::to_string(header.oldSize) + " -> " +
                            std::to_string(header.newSize);
  // What the run checks: the installed file (or package item) itself, by
  // size and MD5, read in slices.
  const char* state = "differs from the version the patch was made for";
  const bool inPackage = !fm_->WritesToDisk(target.c_str());
  platform::NodeStatus status;
  FileInfo info;
  bool readable = false;
  if (inPackage ? fm_->Stat(target.c_str(), &info) != 0
                : !platform::LinkStatusOf(target.c_str(), &status, nullptr)) {
    state = "is missing";
  } else if (inPackage ? (info.flags & kFileInfoFolder) != 0
                       : status.kind == platform::NodeKind::kFolder) {
    Problem("in the way", Shown(relative) + ": a folder where a file goes");
    return;
  } else if (!inPackage && status.kind != platform::NodeKind::kFile) {
    state = "is not a regular file";
  } else {
    readable = true;
  }
  if (readable) {
    uint32_t size = 0;
    std::array<uint8_t, 16> digest;
    if (!StreamedIdentity(fm_, target, &unsealer_, &size, &digest)) {
      state = "cannot be read";
    } else if (size == header.oldSize && digest == header.oldDigest) {
      state = nullptr;
    } else if (size == header.newSize && digest == header.newDigest) {
      out_(Label("delta") + shown + " (the installed file already is the new version)");
      carried_.push_back(relative);
      ++totals_.replaced;
      return;
    }
  }
  if (state == nullptr) {
    out_(Label("delta") + shown + " (the installed file matches)");
    carried_.push_back(relative);
    totals_.bytesWritten += header.newSize;
    ++totals_.replaced;
    return;
  }
  const std::string full = source.substr(0, source.size() - std::strlen(kDeltaSuffix)) +
                           kDeltaFullSuffix;
  if (fm_->Exists(full.c_str())) {
    out_(Label("delta") + shown + " (the installed file " + state +
         ": the whole new file is carried instead)");
    carried_.push_back(relative);
    totals_.bytesWritten += header.newSize;
    ++totals_.replaced;
    return;
  }
  Problem("delta", shown + ": the installed file " + state);
}

void DryRun::WalkUpdate(const std::string& sourceRoot) {
  UpdateWalk walk(fm_, this);
  int32_t rc = walk.Search(sourceRoot.c_str(), 1);
  if (rc < 0) Problem("damaged", "the update folder cannot be listed (code " +
                                     std::to_string(rc) + ")");
}

void DryRun::ListDeletes(const std::string& sourceRoot) {
  // The delete list the run takes is the one in the folder after the copy:
  // the update's own when it carries one.
  std::string carriedList = sourceRoot + kDeleteListPath;
  bool carries = false;
  for (const std::string& name : carried_) {
    if (ListNameWithin(name, std::string_view(kDeleteListPath).substr(1)) &&
        name.size() == std::string_view(kDeleteListPath).size() - 1) {
      carries = true;
    }
  }
  std::string listPath = carries ? carriedList : settings_.installDir + kDeleteListPath;
  Owned<VirtualFile> list(fm_->Open(listPath.c_str(), kOpenRead));
  if (!list) return;
  std::string content;
  char buffer[4096];
  int32_t got;
  while ((got = list->Read(buffer, sizeof buffer)) > 0) content.append(buffer, got);
  std::set<std::string> listed;
  size_t at = 0;
  while (at < content.size()) {
    size_t end = content.find('\n', at);
    if (end == std::string::npos) end = content.size();
    std::string_view line = TrimView(std::string_view(content).substr(at, end - at));
    at = end + 1;
    std::string relative;
    if (line.empty() || !NormaliseListName(line, &relative)) continue;
    if (HoldsBookkeeping(relative) || RemovesCarried(relative, carried_)) continue;
    if (!listed.insert(relative).second) continue;
    std::string path = settings_.installDir + "/" + relative;
    platform::NodeStatus status;
    bool onDisk = platform::LinkStatusOf(path.c_str(), &status, nullptr);
    if (onDisk && status.kind == platform::NodeKind::kFolder) {
      SizeWalk walk(fm_);
      walk.Search(path.c_str(), 1);
      out_(Label("delete") + Shown(relative) + " (folder, " + std::to_string(walk.files) +
           " files, " + std::to_string(walk.bytes) + " bytes)");
      totals_.bytesDeleted += walk.bytes;
    } else if (onDisk) {
      uint64_t size = status.kind == platform::NodeKind::kFile ? status.size : 0;
      out_(Label("delete") + Shown(relative) + " " + std::to_string(size));
      totals_.bytesDeleted += size;
    } else {
      FileInfo info;
      if (fm_->Stat(path.c_str(), &info) < 0) continue;  // matches nothing
      if (info.flags & kFileInfoFolder) {
        SizeWalk walk(fm_);
        walk.Search(path.c_str(), 1);
        out_(Label("delete") + Shown(relative) + " (folder in a package, " +
             std::to_string(walk.files) + " files, " + std::to_string(walk.bytes) + " bytes)");
        totals_.bytesDeleted += walk.bytes;
      } else {
        out_(Label("delete") + Shown(relative) + " " +
             std::to_string(static_cast<uint32_t>(info.size)) + " (in a package)");
        totals_.bytesDeleted += static_cast<uint32_t>(info.size);
      }
    }
    ++totals_.deleted;
  }
}

void DryRun::Summary() {
  out_(std::to_string(totals_.newFiles + totals_.replaced + totals_.heldBack) + " to write (" +
       std::to_string(totals_.bytesWritten) + " bytes): " + std::to_string(totals_.newFiles) +
       " new, " + std::to_string(totals_.replaced) + " replaced, " +
       std::to_string(totals_.heldBack) + " held back; " + std::to_string(totals_.skipped) +
       " skipped, " + std::to_string(totals_.deleted) + " to delete (" +
       std::to_string(totals_.bytesDeleted) + " bytes), " +
       std::to_string(totals_.packagesMade) + " packages to create; " +
       (totals_.problems == 0 ? std::string("the patch would apply")
                              : "the patch would not apply (" +
                                    std::to_string(totals_.problems) + " problems)"));
}

DryRunResult DryRun::Run() {
  // Every package is opened read-only, the patch's own and the folder's
  // (a version file inside a package included).
  FileManagerOptions options = settings_.options;
  options.acceptHosts = 1;
  options.defaultMode = kOpenRead;
  std::string failure;
  if (!LoadMessageFile(options, settings_.modulePath, &messages_, &failure)) {
    Problem("damaged", Shown(failure));
    Summary();
    return kDryRunWouldFail;
  }
  LineSink sink(&messages_, out_);
  if (!ReadInstalledVersion(options, settings_.installDir, &sink, &installed_)) {
    ++totals_.problems;
    Summary();
    return kDryRunWouldFail;
  }

  FlexUpdate update;
  update.SetFileManager(CreateFileManager(options));
  fm_ = update.file_manager();
  if (fm_ == nullptr) {
    Problem("damaged", "cannot create a file manager");
    Summary();
    return kDryRunWouldFail;
  }
  const std::string selfBase = SelfBaseOf(settings_.modulePath);
  if (MountOwnPackage(fm_, settings_.modulePath) == nullptr) {
    Problem("damaged", Shown(settings_.modulePath) + ": carries no readable patch");
    Summary();
    return kDryRunWouldFail;
  }
  std::string damage;
  if (!CheckPayload(settings_.modulePath, nullptr, &damage)) {
    Problem("damaged", std::string(kTextPatchDamaged) + " (" + damage + ")");
    Summary();
    return kDryRunWouldFail;
  }
  if (!ReadConfiguration(&update, selfBase)) {
    Summary();
    return kDryRunWouldFail;
  }
  // The version the patch brings, judged as the run judges it.
  PatchFacts facts;
  if (ReadPatchFacts(settings_.modulePath, &facts, nullptr) && !facts.targetVersion.empty()) {
    const std::string pending = settings_.installDir + kNewFileListPath;
    platform::NodeStatus leftover;
    if (ScanClientVersion(installed_.c_str()) == ScanClientVersion(facts.targetVersion.c_str()) &&
        !platform::LinkStatusOf(pending.c_str(), &leftover, nullptr)) {
      out_(Label("version") + kTextAlreadyUpToDate + " (" + Shown(facts.targetVersion) +
           "): nothing would be written");
      Summary();
      return kDryRunWouldApply;
    }
    if (IsVersionLower(facts.targetVersion.c_str(), installed_.c_str()) &&
        !settings_.allowDowngrade) {
      Problem("downgrade", "installed " + Shown(installed_) + ", the patch brings " +
                               Shown(facts.targetVersion));
      Summary();
      return kDryRunWouldFail;
    }
    out_(Label("version") + "the patch brings " + Shown(facts.targetVersion));
  }
  CheckPackages(&update);
  BuildNameRules();
  const std::string sourceRoot = selfBase + "/" + update.szUpdateDir;
  WalkUpdate(sourceRoot);
  ListDeletes(sourceRoot);
  Summary();
  return totals_.problems == 0 ? kDryRunWouldApply : kDryRunWouldFail;
}

}  // namespace

DryRunResult DryRunInstall(const DryRunSettings& settings, const LineOut& line,
                           DryRunTotals* totals) {
  DryRunTotals local;
  LineOut out = line ? line : [](const std::string&) {};
  try {
    DryRun run(settings, out, totals != nullptr ? totals : &local);
    return run.Run();
  } catch (...) {
    out(Label("damaged") + "the dry run could not be completed");
    return kDryRunWouldFail;
  }
}

}  // namespace marrowgate
