#include "tools/make_patch.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include "app/client_version.h"
#include "app/flex_update.h"
#include "app/install_bookkeeping.h"
#include "app/local_file_list.h"
#include "app/message_file.h"
#include "app/message_table.h"
#include "app/patch_job.h"
#include "package/file/disk_file.h"
#include "package/file/file_system.h"
#include "package/manager/file_manager.h"
#include "platform/env.h"
#include "platform/file_tree.h"
#include "tools/pack_items.h"
#include "tools/pack_tool.h"
#include "transfer/delta/delta_item.h"
#include "transfer/make_sure_package.h"
#include "util/md5.h"
#include "util/releaser.h"
#include "util/safe_path.h"

namespace marrowgate {

namespace {

using pack::kChunk;
using pack::kPartialSuffix;

constexpr char kPackageSuffix[] = ".dpk";
constexpr char kUpdateFolder[] = "update";
constexpr char kNewFileListName[] = "update/newfile.txt";
constexpr char kDeleteListName[] = "update/dellist.txt";
constexpr char kLocalFileListName[] = "update/localfilelist.txt";
constexpr int kSkipCountMessage = 900;
constexpr int kHoldBackCountMessage = 10001;
constexpr int kFailureMessage = 203;

std::string Join(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return a + "/" + b;
}

bool EndsWithPackageSuffix(const std::string& name) {
  const size_t n = sizeof kPackageSuffix - 1;
  if (name.size() <= n) return false;
  for (size_t i = 0; i < n; ++i) {
    char c = name[name.size() - n + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kPackageSuffix[i]) return false;
  }
  return true;
}

// The install folder's own bookkeeping: never carried, never deleted.
bool IsBookkeeping(const std::string& rel) {
  return rel == kNewFileListName || rel == kDeleteListName || rel == kLocalFileListName;
}

// Reads a whole regular file; false with `reason`.
bool ReadWhole(const std::string& path, std::string* bytes, std::string* reason) {
  std::unique_ptr<platform::RawFile> in = platform::RawFile::OpenForReading(path.c_str(), reason);
  if (!in) return false;
  bytes->clear();
  std::vector<char> buffer(kChunk);
  for (;;) {
    int64_t n = in->Read(buffer.data(), buffer.size(), reason);
    if (n < 0) return false;
    if (n == 0) return true;
    bytes->append(buffer.data(), static_cast<size_t>(n));
  }
}

bool WriteWhole(const std::string& path, const std::string& bytes, std::string* reason) {
  platform::RemoveNode(path.c_str());
  std::unique_ptr<platform::RawFile> out = platform::RawFile::CreateNew(path.c_str(), reason);
  return out && out->WriteAll(bytes.data(), bytes.size(), reason) && out->Close(reason);
}

// Size and MD5 of a regular file, read in slices.
bool DigestFile(const std::string& path, std::array<uint8_t, 16>* digest, std::string* reason) {
  std::unique_ptr<platform::RawFile> in = platform::RawFile::OpenForReading(path.c_str(), reason);
  if (!in) return false;
  Md5 md5;
  Md5Init(&md5);
  std::vector<uint8_t> buffer(kChunk);
  for (;;) {
    int64_t n = in->Read(buffer.data(), buffer.size(), reason);
    if (n < 0) return false;
    if (n == 0) break;
    Md5Update(&md5, buffer.data(), static_cast<size_t>(n));
  }
  Md5Final(&md5, digest->data());
  return true;
}

// Makes `path` and the folders above it.
bool MakeFolders(const std::string& path, std::string* reason) {
  for (size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1))
    if (!platform::MakeOneFolder(path.substr(0, at).c_str(), reason)) return false;
  return platform::MakeOneFolder(path.c_str(), reason);
}

// Copies a file with its modification time.
bool CopyWithTime(const std::string& from, const std::string& to, int64_t time,
                  std::string* reason) {
  size_t slash = to.rfind('/');
  if (slash != std::string::npos && !MakeFolders(to.substr(0, slash), reason)) return false;
  {
    std::unique_ptr<platform::RawFile> in = platform::RawFile::OpenForReading(from.c_str(), reason);
    if (!in) return false;
    platform::RemoveNode(to.c_str());
    std::unique_ptr<platform::RawFile> out = platform::RawFile::CreateNew(to.c_str(), reason);
    if (!out) return false;
    std::vector<uint8_t> buffer(kChunk);
    for (;;) {
      int64_t n = in->Read(buffer.data(), buffer.size(), reason);
      if (n < 0) return false;
      if (n == 0) break;
      if (!out->WriteAll(buffer.data(), static_cast<size_t>(n), reason)) return false;
    }
    if (!out->Close(reason)) return false;
  }
  Owned<VirtualFile> file(DiskFile::Open(to.c_str(), "rb"));
  if (!file) {
    *reason = "cannot be opened again";
    return false;
  }
  const int64_t clamped = std::clamp<int64_t>(time, 0, INT32_MAX);
  if (file->SetTime(static_cast<int32_t>(clamped)) != 0) {
    *reason = "its time cannot be set";
    return false;
  }
  return true;
}

// A folder removed with everything in it when this goes.
class WorkFolder {
 public:
  explicit WorkFolder(std::string path) : path_(std::move(path)) {
    std::string ignored;
    platform::RemoveTreeNoFollow(path_.c_str(), &ignored);
  }
  ~WorkFolder() {
    std::string ignored;
    if (!kept_) platform::RemoveTreeNoFollow(path_.c_str(), &ignored);
  }
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;
  const std::string& path() const { return path_; }
  void Keep() { kept_ = true; }

 private:
  std::string path_;
  bool kept_ = false;
};

// One file or folder of an install, package items included: an item of
// "data/maps.dpk" is "data/maps/<item>".
struct InstallEntry {
  bool folder = false;
  uint64_t size = 0;
  int64_t time = 0;
  std::string source;    // where its bytes lie on disk (an item: extracted)
  std::string package;   // the package holding it ("data/maps"), or empty
  mutable std::optional<std::array<uint8_t, 16>> digest;
};

struct Install {
  std::map<std::string, InstallEntry> entries;
  std::map<std::string, std::string> packages;  // "data/maps" -> "data/maps.dpk"
};

// Reads install folders, unpacking their packages into a work folder.
class InstallScanner {
 public:
  InstallScanner(const PackCommandLine& line, std::string work)
      : line_(line), work_(std::move(work)) {}

  bool Scan(const std::string& root, Install* install, std::string* problem) {
    return Walk(root, std::string(), std::string(), install, problem);
  }

  bool Digest(const InstallEntry& e, std::string* problem) {
    if (e.digest) return true;
    std::array<uint8_t, 16> d;
    std::string reason;
    if (!DigestFile(e.source, &d, &reason)) {
      *problem = e.source + ": cannot be read: " + reason;
      return false;
    }
    e.digest = d;
    return true;
  }

 private:
  bool Walk(const std::string& disk, const std::string& rel, const std::string& package,
            Install* install, std::string* problem) {
    std::vector<std::string> names;
    std::string reason;
    if (!platform::FolderNames(disk.c_str(), &names, &reason)) {
      *problem = disk + ": cannot be listed: " + reason;
      return false;
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      const std::string path = disk + "/" + name;
      const std::string below = Join(rel, name);
      platform::NodeStatus status;
      if (!platform::LinkStatusOf(path.c_str(), &status, &reason)) {
        *problem = path + ": cannot be read: " + reason;
        return false;
      }
      if (!IsSafePathComponent(name)) {
        *problem = path + ": the patcher cannot carry this name";
        return false;
      }
      if (status.kind == platform::NodeKind::kFolder) {
        InstallEntry& e = install->entries[below];
        e.folder = true;
        e.package = package;
        if (!Walk(path, below, package, install, problem)) return false;
      } else if (status.kind == platform::NodeKind::kFile) {
        if (package.empty() && EndsWithPackageSuffix(name)) {
          if (!Unpack(path, below, install, problem)) return false;
          continue;
        }
        InstallEntry& e = install->entries[below];
        e.size = status.size;
        e.time = status.modificationTime;
        e.source = path;
        e.package = package;
      } else {
        *problem = path + ": is not a regular file or folder; only those are carried";
        return false;
      }
    }
    return true;
  }

  // The items of the package file `path` ("data/maps.dpk" at `rel`) as
  // entries below "data/maps".
  bool Unpack(const std::string& path, const std::string& rel, Install* install,
              std::string* problem) {
    const std::string base = rel.substr(0, rel.size() - (sizeof kPackageSuffix - 1));
    if (install->packages.count(base) != 0 || install->entries.count(base) != 0) {
      *problem = path + ": a folder or package of the same name is there too";
      return false;
    }
    install->packages[base] = rel;
    const std::string into = work_ + "/" + std::to_string(++unpacked_);
    std::ostringstream out, err;
    int status = RunPackTool({"-q", "-j", "1", "--key-a", *line_.keyA, "--key-b", *line_.keyB,
                              "extract", path, into},
                             out, err, false);
    if (status != kPackExitOk) {
      *problem = path + ": its items cannot be read:\n" + err.str();
      return false;
    }
    std::string reason;
    if (!platform::MakeOneFolder(into.c_str(), &reason)) {
      *problem = into + ": cannot be made: " + reason;
      return false;
    }
    return Walk(into, base, base, install, problem);
  }

  const PackCommandLine& line_;
  std::string work_;
  int unpacked_ = 0;
};

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string Trimmed(std::string_view text) {
  const char* space = " \t\r\n";
  size_t first = text.find_first_not_of(space);
  if (first == std::string_view::npos) return std::string();
  size_t last = text.find_last_not_of(space);
  return std::string(text.substr(first, last - first + 1));
}

std::vector<std::string> ListLines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::istringstream in(bytes);
  std::string line;
  while (std::getline(in, line)) {
    std::string t = Trimmed(line);
    if (!t.empty()) lines.push_back(t);
  }
  return lines;
}

// The installed version an install folder's version file gives, as the
// patcher reads it, trimmed of white space.
bool InstallVersion(const std::string& root, std::string* version, std::string* problem) {
  std::string bytes, reason;
  const std::string path = root + kVersionFilePath;
  if (!ReadWhole(path, &bytes, &reason)) {
    *problem = path + ": cannot be read: " + reason;
    return false;
  }
  *version = Trimmed(VersionFromText(bytes));
  return true;
}

// Number of integer placeholders in a message text, counted as the
// patcher's formatting finds them.
int IntegerPlaceholders(std::string_view text) {
  int count = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') continue;
    size_t j = i + 1;
    if (j < text.size() && text[j] == '%') {
      i = j;
      continue;
    }
    while (j < text.size() && std::string_view("-+ #0").find(text[j]) != std::string_view::npos) ++j;
    while (j < text.size() && (std::isdigit(static_cast<unsigned char>(text[j])) || text[j] == '.'))
      ++j;
    while (j < text.size() && std::string_view("hlzjt").find(text[j]) != std::string_view::npos) ++j;
    if (j < text.size() && std::string_view("diuxXo").find(text[j]) != std::string_view::npos) {
      ++count;
      i = j;
    }
  }
  return count;
}

// The files below `root` as names relative to it.
void FilesBelow(const std::string& root, const std::string& rel, std::set<std::string>* files,
                std::set<std::string>* folders, std::vector<std::string>* problems) {
  std::vector<std::string> names;
  std::string reason;
  const std::string disk = Join(root, rel);
  if (!platform::FolderNames(disk.c_str(), &names, &reason)) {
    problems->push_back(disk + ": cannot be listed: " + reason);
    return;
  }
  for (const std::string& name : names) {
    const std::string below = Join(rel, name);
    platform::NodeStatus status;
    if (!platform::LinkStatusOf((disk + "/" + name).c_str(), &status, &reason)) continue;
    if (!IsSafePathComponent(name))
      problems->push_back("update/" + below + ": an unsafe name the patcher refuses");
    if (status.kind == platform::NodeKind::kFolder) {
      folders->insert(below);
      FilesBelow(root, below, files, folders, problems);
    } else if (status.kind == platform::NodeKind::kFile) {
      files->insert(below);
    } else {
      problems->push_back("update/" + below + ": is not a regular file or folder");
    }
  }
}

// A sink that keeps the texts ParseCfg reports.
class CollectingNotify : public CPackNotify {
 public:
  int32_t cb_ERROR(int32_t, const char* text) override {
    if (text != nullptr) texts.push_back(Trimmed(text));
    return 0;
  }
  std::vector<std::string> texts;
};

}  // namespace

const std::vector<int>& PatcherMessageNumbers() {
  static const std::vector<int> numbers = [] {
    std::vector<int> n;
    for (int i = 100; i <= 104; ++i) n.push_back(i);
    for (int i = 200; i <= 213; ++i) n.push_back(i);
    for (int i = 300; i <= 307; ++i) n.push_back(i);
    return n;
  }();
  return numbers;
}

const char* DefaultPatchMessages() {
  return "100 Game patch\r\n"
         "101 Install folder:\r\n"
         "102 Browse...\r\n"
         "103 Start\r\n"
         "104 Exit\r\n"
         "200 Patching, please wait...\r\n"
         "201 The patch was applied.\r\n"
         "202 Close\r\n"
         "203 The patch failed (code %d).\r\n"
         "204 Choose the install folder first.\r\n"
         "205 Cannot open the install folder.\r\n"
         "206 Cannot open the local file list.\r\n"
         "207 Cannot open the new-file list.\r\n"
         "208 Cannot open a new file: \r\n"
         "209 Cannot write the local file list.\r\n"
         "210 Choose the folder where the game is installed\r\n"
         "211 Cannot open the install folder.\r\n"
         "212 Cannot read the installed version.\r\n"
         "213 The installed version is not usable: \r\n"
         "300 Patch\r\n"
         "301 Cannot open a file\r\n"
         "302 Cannot create a package\r\n"
         "303 Cannot read a file\r\n"
         "304 Cannot write a file\r\n"
         "305 The installed game is too old for this patch\r\n"
         "306 Stopped\r\n"
         "307 Error\r\n";
}

namespace {

// Rebuilds `target` of the install `oldRoot` through the delta item at
// `itemPath` (shown as `shown`), without writing anything, and names what
// goes wrong.
// A target inside one of OLD's packages is read through `packages`, a
// read-only file manager over OLD.
void CheckDeltaAgainst(const std::string& oldRoot, const std::string& target,
                       const std::string& itemPath, const std::string& shown,
                       FileManager* packages,
                       const std::function<void(const std::string&)>& problem) {
  const std::string oldPath = oldRoot + "/" + target;
  const bool inPackage = packages != nullptr && !packages->WritesToDisk(oldPath.c_str());
  FileInfo info;
  if (inPackage) {
    if (packages->Stat(oldPath.c_str(), &info) != 0 || (info.flags & kFileInfoFolder) != 0) {
      problem(shown + ": " + oldPath + " is not an item of its package, so the delta has "
              "nothing to rebuild from");
      return;
    }
  } else {
    platform::NodeStatus status;
    std::string reason;
    if (!platform::LinkStatusOf(oldPath.c_str(), &status, &reason) ||
        status.kind != platform::NodeKind::kFile) {
      problem(shown + ": " + oldPath + " is not a file, so the delta has nothing to rebuild from");
      return;
    }
  }
  Owned<VirtualFile> item(DiskFile::Open(itemPath.c_str(), "rb"));
  Owned<VirtualFile> basis(inPackage ? packages->Open(oldPath.c_str(), kOpenRead)
                                     : DiskFile::Open(oldPath.c_str(), "rb"));
  DeltaHeader header;
  if (!item || !basis || ReadDeltaHeader(item.get(), &header) != 0) {
    problem(shown + ": cannot be read with " + oldPath);
    return;
  }
  int32_t rc = CheckDeltaBasis(basis.get(), header);
  if (rc == kDeltaBasisDiffers) {
    problem(shown + ": was made from another " + target + " than " + oldPath);
    return;
  }
  // The whole rebuild, its size and MD5 checked at the end; the bytes are
  // dropped.
  DeltaRebuild rebuild(item.get(), basis.get(), header);
  std::vector<char> slice(64 * 1024);
  int32_t n = 0;
  if (rc == 0) {
    while ((n = rebuild.Read(slice.data(), static_cast<int32_t>(slice.size()))) > 0) {
    }
    rc = n;
  }
  if (rc != 0) problem(shown + ": does not rebuild " + target + " from " + oldPath + ": " +
                       DeltaResultText(rc));
}

}  // namespace

std::vector<std::string> CheckPatchFolder(const std::string& folder,
                                          const PatchCheckContext& context) {
  std::vector<std::string> problems;
  auto problem = [&](const std::string& text) { problems.push_back(text); };

  // cfg.txt: the patcher's reader, then its messages.
  const std::string cfgPath = folder + "/" + kCfgFileName;
  std::string cfg, reason;
  FlexUpdate update;
  std::vector<std::string> packageNames;
  MessageTable messages;
  if (!ReadWhole(cfgPath, &cfg, &reason)) {
    problem(std::string(kCfgFileName) + ": cannot be read: " + reason);
  } else {
    Owned<VirtualFile> file(DiskFile::Open(cfgPath.c_str(), "rb"));
    CollectingNotify notify;
    PatchJob job;
    job.szInstallDir = folder.c_str();
    job.pNotify = &notify;
    update.SetJob(&job);
    update.SetFileManager(CreateFileManager(FileManagerOptions()));
    int rc = file ? update.ParseCfg(file.get()) : -1;
    update.SetJob(nullptr);
    if (rc != 0) {
      std::string why;
      for (const std::string& t : notify.texts) why += (why.empty() ? "" : "; ") + t;
      problem(std::string(kCfgFileName) + ": the patcher cannot read it (" +
              std::to_string(rc) + ")" + (why.empty() ? "" : ": " + why));
    }
    packageNames = update.package_names();
    ParseMessageText(cfg, &messages);
    for (int n : PatcherMessageNumbers())
      if (!messages.Contains(n))
        problem("message " + std::to_string(n) + " is missing: the patcher shows it");
    if (const std::string* failed = messages.Find(kFailureMessage);
        failed != nullptr && IntegerPlaceholders(*failed) != 1)
      problem("message 203 must hold exactly one integer placeholder (%d): \"" + *failed + "\"");
    const std::string validity = update.szValidityStr;
    if (rc == 0 && !validity.empty() && !IsClientVersionText(validity))
      problem("szValidityStr " + validity + " is not a version");
  }

  // The update tree and its lists.
  const std::string updateDir = Join(folder, update.szUpdateDir);
  std::set<std::string> files, folders;
  platform::NodeStatus status;
  if (!platform::StatusOf(updateDir.c_str(), &status, &reason) ||
      status.kind != platform::NodeKind::kFolder) {
    problem(std::string(update.szUpdateDir) + ": the update folder is missing");
  } else {
    FilesBelow(updateDir, std::string(), &files, &folders, &problems);
    // OLD's packages, read-only, for the targets that are items.
    Owned<FileManager> oldPackages;
    if (context.oldRoot) {
      FileManagerOptions options;
      options.searchMode = 3;
      options.defaultMode = kOpenRead;
      if (context.keyA.size() <= sizeof options.keyA && context.keyB.size() <= sizeof options.keyB) {
        std::memcpy(options.keyA, context.keyA.data(), context.keyA.size());
        options.keyALen = static_cast<int>(context.keyA.size());
        std::memcpy(options.keyB, context.keyB.data(), context.keyB.size());
        options.keyBLen = static_cast<int>(context.keyB.size());
        oldPackages.reset(CreateFileManager(options));
      }
    }
    // A delta item carries its target; a full file stands beside one.
    std::vector<std::string> targets;
    for (const std::string& name : files) {
      if (IsDeltaFullName(name)) {
        const std::string target = DeltaFullTargetOf(name);
        if (target.empty() || files.count(DeltaNameFor(target)) == 0)
          problem("update/" + name + ": a full file without its delta item (the patcher never "
                  "installs it)");
        continue;
      }
      if (!IsDeltaName(name)) continue;
      const std::string target = DeltaTargetOf(name);
      if (target.empty()) {
        problem("update/" + name + ": a delta item whose target is not a plain name");
        continue;
      }
      Owned<VirtualFile> item(DiskFile::Open((updateDir + "/" + name).c_str(), "rb"));
      DeltaHeader header;
      if (!item || ReadDeltaHeader(item.get(), &header) != 0)
        problem("update/" + name + ": not a delta item the patcher can read");
      else if (context.oldRoot)
        CheckDeltaAgainst(*context.oldRoot, target, updateDir + "/" + name, "update/" + name,
                          oldPackages.get(), problem);
      if (files.count(target) != 0)
        problem("update/" + name + ": the update carries " + target + " whole as well");
      targets.push_back(target);
    }
    files.insert(targets.begin(), targets.end());
  }
  auto carried = [&](const std::string& name) {
    std::string normal;
    return NormaliseListName(name, &normal) && files.count(normal) != 0;
  };

  // Held-back names (10002...) and skip names (901...).
  for (int countNumber : {kHoldBackCountMessage, kSkipCountMessage}) {
    const std::string* count = messages.Find(countNumber);
    if (count == nullptr) continue;
    const long n = std::strtol(count->c_str(), nullptr, 10);
    const char* kind = countNumber == kSkipCountMessage ? "skip" : "held-back";
    for (long i = 1; i <= n && i <= 100000; ++i) {
      const std::string* name = messages.Find(countNumber + static_cast<int>(i));
      if (name == nullptr || Trimmed(*name).empty()) {
        problem(std::string(kind) + " name " + std::to_string(i) + " (message " +
                std::to_string(countNumber + i) + ") is missing");
        continue;
      }
      if (!carried(Trimmed(*name)))
        problem(std::string(kind) + " name " + Trimmed(*name) + " is not in the update");
    }
  }

  // Without skip names the patcher skips two names of its own: a patch
  // that carries one of them would never install it.
  {
    const std::string* count = messages.Find(kSkipCountMessage);
    if (count == nullptr || std::strtol(count->c_str(), nullptr, 10) == 0)
      for (const char* name : {"vave.exe", "zivoridor.dll"})
        if (files.count(name) != 0)
          problem(std::string(name) + " is carried, but without skip names (900...) the patcher "
                  "never copies it; give the skip names");
  }

  // The lists the patcher reads after the copy.
  std::vector<std::string> newLines, deleteLines;
  std::string bytes;
  if (files.count(kNewFileListName) != 0 &&
      ReadWhole(updateDir + "/" + kNewFileListName, &bytes, &reason))
    newLines = ListLines(bytes);
  if (files.count(kDeleteListName) != 0 &&
      ReadWhole(updateDir + "/" + kDeleteListName, &bytes, &reason))
    deleteLines = ListLines(bytes);
  if (files.count(kNewFileListName) == 0 && files.size() > 0)
    problem(std::string(kNewFileListName) +
            " is missing: the patched client's file list would not record the new files");
  for (const std::string& line : newLines) {
    std::string normal;
    if (!NormaliseListName(line, &normal))
      problem("new-file line " + line + ": an unsafe name the patcher refuses");
    else if (!carried(normal))
      problem("new-file line " + line + ": the patch does not carry this file");
  }
  for (const std::string& line : deleteLines) {
    std::string normal;
    if (!NormaliseListName(line, &normal)) {
      problem("delete line " + line + ": an unsafe name the patcher refuses");
      continue;
    }
    for (const std::string& file : files) {
      if (file == kNewFileListName || file == kDeleteListName) continue;
      if (ListNameBeginsWith(file, normal) || ListNameWithin(file, normal)) {
        problem("delete line " + line + ": the update carries " + file);
        break;
      }
    }
  }
  for (const std::string& name : packageNames)
    if (!IsPackageNameContained(name.c_str()))
      problem("PACKAGE " + name + ": an unsafe name the patcher refuses");

  // The version the patched client will show.
  const bool carriesVersion = files.count(kUpdateVersionFile) != 0;
  const std::string validity = update.szValidityStr;
  if (carriesVersion) {
    if (ReadWhole(updateDir + "/" + kUpdateVersionFile, &bytes, &reason)) {
      const std::string version = Trimmed(VersionFromText(bytes));
      if (version.size() < kMinClientVersion || version.size() > kMaxClientVersion)
        problem(std::string(kUpdateVersionFile) + ": the version " + version +
                " is not usable by the patcher (7 to 15 characters)");
      else if (!validity.empty() && !IsVersionLower(validity.c_str(), version.c_str()))
        problem(std::string(kUpdateVersionFile) + ": the version " + version +
                " is not above the version the patch requires (" + validity + ")");
    }
  } else if (context.newVersion && *context.newVersion != validity) {
    problem(std::string("the update carries no ") + kUpdateVersionFile +
            ": patched clients would keep their old version");
  }
  return problems;
}

namespace {

class MakePatch {
 public:
  MakePatch(const PackCommandLine& line, std::ostream& out, std::ostream& err)
      : line_(line), out_(out), err_(err) {}

  int Run() {
    const std::string& oldRoot = line_.operands[0];
    const std::string& newRoot = line_.operands[1];
    const std::string& output = line_.operands[2];
    for (const std::string* root : {&oldRoot, &newRoot}) {
      platform::NodeStatus status;
      std::string reason;
      if (!platform::StatusOf(root->c_str(), &status, &reason))
        return Fail(*root + ": cannot be opened: " + reason);
      if (status.kind != platform::NodeKind::kFolder) return Fail(*root + ": is not a folder");
    }
    {
      platform::NodeStatus status;
      std::string reason;
      if (platform::LinkStatusOf(output.c_str(), &status, &reason)) {
        if (line_.folderOutput) return Fail(output + ": is there already; nothing written");
        if (status.kind != platform::NodeKind::kFile && status.kind != platform::NodeKind::kLink)
          return Fail(output + ": is not a regular file; nothing written");
      }
    }
    std::string patcher;
    if (!line_.folderOutput) {
      patcher = line_.patcher ? *line_.patcher
                              : DirectoryOf(platform::OwnExecutablePath()) + "/marrowgate";
      platform::NodeStatus status;
      std::string reason;
      if (!platform::StatusOf(patcher.c_str(), &status, &reason) ||
          status.kind != platform::NodeKind::kFile)
        return Fail(patcher + ": no patcher program there (give one with --patcher)");
    }

    // The minimum version: given, or OLD's installed one.
    std::string problem, oldVersion, newVersion;
    if (line_.minVersion) {
      oldVersion = *line_.minVersion;
      if (!IsClientVersionText(oldVersion)) return Fail("--min-version " + oldVersion + ": is not a version");
    } else {
      if (!InstallVersion(oldRoot, &oldVersion, &problem)) return Fail(problem + " (or give --min-version)");
      if (!IsClientVersionText(oldVersion))
        return Fail(oldRoot + kVersionFilePath + ": gives \"" + oldVersion +
                    "\", which is not a version (give --min-version)");
    }
    if (!InstallVersion(newRoot, &newVersion, &problem)) return Fail(problem);

    std::string messages = DefaultPatchMessages();
    if (line_.messages) {
      std::string reason;
      if (!ReadWhole(*line_.messages, &messages, &reason))
        return Fail(*line_.messages + ": cannot be read: " + reason);
      if (!messages.empty() && messages.back() != '\n') messages += "\r\n";
    }

    WorkFolder work(output + ".make-patch" + kPartialSuffix);
    std::string reason;
    if (!platform::MakeOneFolder(work.path().c_str(), &reason))
      return Fail(work.path() + ": cannot be made: " + reason);
    const std::string unpack = work.path() + "/unpacked";
    const std::string patch = work.path() + "/patch";
    const std::string tree = patch + "/" + kUpdateFolder;
    if (!platform::MakeOneFolder(unpack.c_str(), &reason) ||
        !platform::MakeOneFolder(patch.c_str(), &reason) ||
        !platform::MakeOneFolder(tree.c_str(), &reason))
      return Fail(work.path() + ": cannot be written: " + reason);

    InstallScanner scanner(line_, unpack);
    Install before, after;
    if (!scanner.Scan(oldRoot, &before, &problem) || !scanner.Scan(newRoot, &after, &problem))
      return Fail(problem);

    // What NEW adds or changes.
    std::vector<std::string> newFiles;
    std::set<std::string> packageLines;
    for (const auto& [base, file] : after.packages) packageLines.insert(base);
    uint64_t carriedBytes = 0, totalBytes = 0;
    int64_t added = 0, changed = 0, removed = 0;
    for (const auto& [rel, e] : after.entries) {
      if (IsBookkeeping(rel)) continue;
      auto old = before.entries.find(rel);
      if (old != before.entries.end() && old->second.folder != e.folder)
        return Fail(rel + ": is a " + (e.folder ? "folder" : "file") + " in " + newRoot +
                    " but a " + (e.folder ? "file" : "folder") + " in " + oldRoot +
                    "; the patcher cannot turn one into the other");
      if (e.folder) {
        if (old == before.entries.end() && !MakeFolders(tree + "/" + rel, &reason))
          return Fail(tree + "/" + rel + ": cannot be made: " + reason);
        continue;
      }
      totalBytes += e.size;
      bool differs = old == before.entries.end() || old->second.size != e.size;
      if (!differs) {
        if (!scanner.Digest(e, &problem) || !scanner.Digest(old->second, &problem))
          return Fail(problem);
        differs = *e.digest != *old->second.digest;
      }
      if (!differs) continue;
      if (rel.size() > kMaxFileListName) return Fail(rel + ": the name is too long for the file lists");
      ++(old == before.entries.end() ? added : changed);
      newFiles.push_back(rel);
      if (old != before.entries.end() && WantsDelta(rel, e, old->second)) {
        uint64_t itemSize = 0;
        if (!TryDelta(rel, old->second, e, tree, &itemSize, &problem)) return Fail(problem);
        if (itemSize > 0) {
          ++deltas_;
          carriedBytes += itemSize;
          deltaBytes_ += itemSize;
          deltaFileBytes_ += e.size;
          if (line_.verbosity == Verbosity::kVerbose)
            out_ << "delta   " << rel << " (" << itemSize << " of " << e.size << " bytes)\n";
          // The whole file too, for an install whose old file is not the
          // delta's.
          if (line_.withFullFiles) {
            const std::string full = tree + "/" + DeltaFullNameFor(rel);
            if (!CopyWithTime(e.source, full, e.time, &reason))
              return Fail(full + ": cannot be written: " + reason);
            carriedBytes += e.size;
          }
          continue;
        }
      }
      carriedBytes += e.size;
      if (!CopyWithTime(e.source, tree + "/" + rel, e.time, &reason))
        return Fail(tree + "/" + rel + ": cannot be written: " + reason);
      if (line_.verbosity == Verbosity::kVerbose)
        out_ << (old == before.entries.end() ? "added   " : "changed ") << rel << "\n";
    }

    // What NEW no longer has: a folder or package removed whole is one line.
    std::vector<std::string> deleteLines;
    std::vector<std::string> gone;  // folders already named
    auto under = [&](const std::string& rel) {
      for (const std::string& g : gone)
        if (rel.size() > g.size() && rel.compare(0, g.size(), g) == 0 && rel[g.size()] == '/')
          return true;
      return false;
    };
    for (const auto& [base, file] : before.packages) {
      if (after.packages.count(base) != 0) continue;
      // The package file, then the name its items are recorded under.
      deleteLines.push_back(file);
      deleteLines.push_back(base);
      gone.push_back(base);
    }
    for (const auto& [rel, e] : before.entries) {
      if (IsBookkeeping(rel) || rel == kUpdateFolder || after.entries.count(rel) != 0 ||
          under(rel))
        continue;
      if (after.packages.count(rel) != 0) continue;  // a folder that became a package
      deleteLines.push_back(rel);
      if (e.folder) gone.push_back(rel);
      if (!e.folder) ++removed;
      if (line_.verbosity == Verbosity::kVerbose) out_ << "removed " << rel << "\n";
    }
    for (const auto& [rel, e] : before.entries)
      if (!e.folder && under(rel) && after.entries.count(rel) == 0) ++removed;

    // The lists and cfg.txt.
    if (!MakeFolders(tree + "/" + kUpdateFolder, &reason))
      return Fail(tree + "/" + kUpdateFolder + ": cannot be made: " + reason);
    std::string text;
    for (const std::string& name : newFiles) text += name + "\r\n";
    if (!WriteWhole(tree + "/" + kNewFileListName, text, &reason))
      return Fail(kNewFileListName + std::string(": cannot be written: ") + reason);
    if (!deleteLines.empty()) {
      text.clear();
      for (const std::string& name : deleteLines) text += name + "\r\n";
      if (!WriteWhole(tree + "/" + kDeleteListName, text, &reason))
        return Fail(kDeleteListName + std::string(": cannot be written: ") + reason);
    }
    std::string cfg = messages;
    if (!line_.skipNames.empty()) {
      cfg += std::to_string(kSkipCountMessage) + " " + std::to_string(line_.skipNames.size()) + "\r\n";
      for (size_t i = 0; i < line_.skipNames.size(); ++i)
        cfg += std::to_string(kSkipCountMessage + 1 + i) + " " + line_.skipNames[i] + "\r\n";
    }
    if (!line_.holdBack.empty()) {
      cfg += std::to_string(kHoldBackCountMessage) + " " + std::to_string(line_.holdBack.size()) + "\r\n";
      for (size_t i = 0; i < line_.holdBack.size(); ++i)
        cfg += std::to_string(kHoldBackCountMessage + 1 + i) + " " + line_.holdBack[i] + "\r\n";
    }
    cfg += "\r\n// What the patch copies and what it needs\r\nUPDATE\r\n{\r\n";
    cfg += "    szUpdateDir = " + std::string(kUpdateFolder) + "\r\n";
    cfg += "    szValidityStr = " + oldVersion + "\r\n";
    for (const std::string& name : packageLines) cfg += "    PACKAGE = " + name + "\r\n";
    cfg += "}\r\n";
    if (!WriteWhole(patch + "/" + kCfgFileName, cfg, &reason))
      return Fail(kCfgFileName + std::string(": cannot be written: ") + reason);

    // Nothing ships that check finds fault with.
    PatchCheckContext context;
    context.newVersion = newVersion;
    std::vector<std::string> problems = CheckPatchFolder(patch, context);
    if (!problems.empty()) {
      for (const std::string& p : problems) err_ << "marrowgate-pack: " << p << "\n";
      return Fail(output + ": not written: the patch has " + std::to_string(problems.size()) +
                  (problems.size() == 1 ? " problem" : " problems"));
    }

    if (line_.folderOutput) {
      if (!platform::RenameReplacing(patch.c_str(), output.c_str(), &reason))
        return Fail(output + ": cannot be written: " + reason);
    } else {
      std::ostringstream attachOut, attachErr;
      int status = RunPackTool({"-q", "--key-a", *line_.keyA, "--key-b", *line_.keyB, "attach",
                                patcher, patch, output},
                               attachOut, attachErr, false);
      err_ << attachErr.str();
      if (status != kPackExitOk) return Fail(output + ": not written");
    }
    uint64_t patchSize = 0;
    platform::NodeStatus status;
    if (!line_.folderOutput && platform::StatusOf(output.c_str(), &status, &reason))
      patchSize = status.size;
    if (line_.verbosity != Verbosity::kQuiet) {
      out_ << "made " << output << ": " << added << " added, " << changed << " changed, "
           << removed << " removed; carried " << carriedBytes << " of " << totalBytes
           << " bytes of " << newRoot;
      if (deltas_ > 0)
        out_ << "; " << deltas_ << (deltas_ == 1 ? " file" : " files") << " as deltas ("
             << deltaBytes_ << " bytes for " << deltaFileBytes_ << ")";
      if (!line_.folderOutput) out_ << "; patch program " << patchSize << " bytes";
      out_ << "\n";
    }
    return kPackExitOk;
  }

 private:
  int Fail(const std::string& text) {
    err_ << "marrowgate-pack: " << text << "\n";
    return kPackExitFailure;
  }

  // A changed file of at least the delta size, not held back (the
  // held-back pass copies names as they stand). A package item qualifies
  // when its old version is an item of the same package: the patcher
  // rebuilds it from that item.
  bool WantsDelta(const std::string& rel, const InstallEntry& now, const InstallEntry& was) const {
    if (!line_.delta || now.size < line_.deltaMinSize || now.size > INT32_MAX ||
        was.size > INT32_MAX || now.package != was.package)
      return false;
    for (const std::string& name : line_.holdBack) {
      std::string normal;
      if (NormaliseListName(name, &normal) && normal == rel) return false;
    }
    return true;
  }

  // Writes the delta item of `rel` into `tree` when it is smaller than
  // kDeltaShare of the file: *itemSize is its size then, else 0 (nothing
  // written). False with `problem` when a file cannot be read or written.
  bool TryDelta(const std::string& rel, const InstallEntry& was, const InstallEntry& now,
                const std::string& tree, uint64_t* itemSize, std::string* problem) {
    *itemSize = 0;
    const std::string path = tree + "/" + DeltaNameFor(rel);
    std::string reason;
    size_t slash = path.rfind('/');
    if (!MakeFolders(path.substr(0, slash), &reason)) {
      *problem = path + ": cannot be made: " + reason;
      return false;
    }
    Owned<VirtualFile> oldFile(DiskFile::Open(was.source.c_str(), "rb"));
    Owned<VirtualFile> newFile(DiskFile::Open(now.source.c_str(), "rb"));
    if (!oldFile || !newFile) {
      *problem = (oldFile ? now.source : was.source) + ": cannot be read";
      return false;
    }
    platform::RemoveNode(path.c_str());
    int32_t rc;
    {
      Owned<VirtualFile> out(DiskFile::Open(path.c_str(), "wb+"));
      if (!out) {
        *problem = path + ": cannot be written";
        return false;
      }
      const uint64_t limit = now.size * kDeltaSharePercent / 100;
      rc = limit > kDeltaHeaderSize ? EncodeDelta(oldFile.get(), newFile.get(), out.get(), limit)
                                    : kDeltaTooLarge;
      if (rc == 0) *itemSize = static_cast<uint64_t>(out->Size());
      if (rc == 0) out->SetTime(static_cast<int32_t>(std::clamp<int64_t>(now.time, 0, INT32_MAX)));
    }
    if (rc == 0) return true;
    platform::RemoveNode(path.c_str());
    *itemSize = 0;
    if (rc == kDeltaTooLarge) return true;
    *problem = rel + ": its delta cannot be made: " + DeltaResultText(rc);
    return false;
  }

  // A delta item is carried only when smaller than this share of its file.
  static constexpr uint64_t kDeltaSharePercent = 60;

  int64_t deltas_ = 0;
  uint64_t deltaBytes_ = 0, deltaFileBytes_ = 0;
  const PackCommandLine& line_;
  std::ostream& out_;
  std::ostream& err_;
};

}  // namespace

int RunMakePatch(const PackCommandLine& line, std::ostream& out, std::ostream& err) {
  try {
    return MakePatch(line, out, err).Run();
  } catch (const std::exception& e) {
    err << "marrowgate-pack: make-patch failed: " << e.what() << "\n";
    return kPackExitFailure;
  }
}

int RunCheckPatch(const PackCommandLine& line, std::ostream& out, std::ostream& err) {
  try {
    const std::string& patch = line.operands.back();
    platform::NodeStatus status;
    std::string reason;
    if (!platform::StatusOf(patch.c_str(), &status, &reason)) {
      err << "marrowgate-pack: " << patch << ": cannot be opened: " << reason << "\n";
      return kPackExitFailure;
    }
    std::optional<WorkFolder> work;
    std::string folder = patch;
    if (status.kind != platform::NodeKind::kFolder) {
      // A patch program: its package unpacked beside it for the look.
      work.emplace(patch + ".check" + kPartialSuffix);
      std::ostringstream extractOut, extractErr;
      int rc = RunPackTool({"-q", "--key-a", *line.keyA, "--key-b", *line.keyB, "extract", patch,
                            work->path()},
                           extractOut, extractErr, false);
      if (rc != kPackExitOk) {
        err << extractErr.str() << "marrowgate-pack: " << patch << ": cannot be checked\n";
        return kPackExitFailure;
      }
      folder = work->path();
    }
    PatchCheckContext context;
    if (line.operands.size() == 2) {
      if (!platform::StatusOf(line.operands[0].c_str(), &status, &reason) ||
          status.kind != platform::NodeKind::kFolder) {
        err << "marrowgate-pack: " << line.operands[0] << ": is not an install folder\n";
        return kPackExitFailure;
      }
      context.oldRoot = line.operands[0];
      context.keyA = line.keyA.value_or(std::string());
      context.keyB = line.keyB.value_or(std::string());
    }
    std::vector<std::string> problems = CheckPatchFolder(folder, context);
    for (const std::string& p : problems) err << "marrowgate-pack: " << patch << ": " << p << "\n";
    if (line.verbosity != Verbosity::kQuiet)
      out << patch << ": "
          << (problems.empty() ? std::string("ok")
                               : std::to_string(problems.size()) +
                                     (problems.size() == 1 ? " problem" : " problems"))
          << "\n";
    return problems.empty() ? kPackExitOk : kPackExitFailure;
  } catch (const std::exception& e) {
    err << "marrowgate-pack: check failed: " << e.what() << "\n";
    return kPackExitFailure;
  }
}

int RunFileList(const PackCommandLine& line, std::ostream& out, std::ostream& err) {
  try {
    const std::string& root = line.operands[0];
    platform::NodeStatus status;
    std::string reason, problem;
    if (!platform::StatusOf(root.c_str(), &status, &reason) ||
        status.kind != platform::NodeKind::kFolder) {
      err << "marrowgate-pack: " << root << ": is not a folder\n";
      return kPackExitFailure;
    }
    std::string base = root;
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    WorkFolder work(base + ".file-list" + kPartialSuffix);
    if (!platform::MakeOneFolder((root + "/update").c_str(), &reason) ||
        !platform::MakeOneFolder(work.path().c_str(), &reason)) {
      err << "marrowgate-pack: " << root << "/update: cannot be written: " << reason << "\n";
      return kPackExitFailure;
    }
    InstallScanner scanner(line, work.path());
    Install install;
    if (!scanner.Scan(root, &install, &problem)) {
      err << "marrowgate-pack: " << problem << "\n";
      return kPackExitFailure;
    }
    FileTable table;
    for (const auto& [rel, e] : install.entries) {
      if (e.folder || IsBookkeeping(rel)) continue;
      if (rel.size() > kMaxFileListName || e.size > UINT32_MAX) {
        err << "marrowgate-pack: " << rel << ": cannot be recorded (name or size too large)\n";
        return kPackExitFailure;
      }
      if (!scanner.Digest(e, &problem)) {
        err << "marrowgate-pack: " << problem << "\n";
        return kPackExitFailure;
      }
      FileRecord record;
      record.size = static_cast<uint32_t>(e.size);
      record.digest = *e.digest;
      table[rel] = record;
    }
    Owned<FileSystem> fs(CreateFileSystem());
    const std::string path = root + kLocalFileListPath;
    if (!fs || !WriteLocalFileList(fs.get(), path, table)) {
      err << "marrowgate-pack: " << path << ": cannot be written\n";
      return kPackExitFailure;
    }
    if (line.verbosity != Verbosity::kQuiet)
      out << "wrote " << path << ": " << table.size() << " files\n";
    return kPackExitOk;
  } catch (const std::exception& e) {
    err << "marrowgate-pack: file-list failed: " << e.what() << "\n";
    return kPackExitFailure;
  }
}

}  // namespace marrowgate
