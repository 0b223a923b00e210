#include "tools/pack_source_scan.h"

#include <algorithm>
#include <map>
#include <utility>

#include "package/file/file_system.h"
#include "platform/file_tree.h"
#include "tools/pack_names.h"
#include "util/safe_path.h"

namespace marrowgate {

namespace {

using platform::NodeKind;
using platform::NodeStatus;

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

const char* SpecialKind(NodeKind kind) {
  switch (kind) {
    case NodeKind::kFifo: return "is a FIFO";
    case NodeKind::kSocket: return "is a socket";
    case NodeKind::kDevice: return "is a device";
    default: return "is not a regular file or folder";
  }
}

class Scanner {
 public:
  Scanner(const ScanOptions& options, ScanResult* result) : options_(options), result_(*result) {}

  void Folder(const std::string& disk, const std::string& inner, const NodeStatus& status) {
    std::vector<std::string> names;
    std::string reason;
    if (!platform::FolderNames(disk.c_str(), &names, &reason)) {
      Problem(disk + ": cannot be read: " + reason);
      return;
    }
    std::sort(names.begin(), names.end());
    ancestors_.emplace_back(status.device, status.inode);
    // Folded name -> disk path of the first entry kept under it.
    std::map<std::string, std::string> kept;
    for (const std::string& name : names) {
      std::string childDisk = Join(disk, name);
      std::string childInner = Join(inner, name);
      if (Excluded(childInner)) continue;
      NodeStatus child;
      if (!Examine(childDisk, &child)) continue;
      if (!IsSafePathComponent(name)) {
        Problem(childDisk + ": cannot be stored: a name in a package holds no ':' or '\\'");
        continue;
      }
      if (childInner.size() > static_cast<size_t>(kMaxPath)) {
        Problem(childDisk + ": cannot be stored: its path inside the package is longer than " +
                std::to_string(kMaxPath) + " characters");
        continue;
      }
      if (child.kind == NodeKind::kFolder) {
        if (IsAncestor(child)) {
          Special(childDisk + ": skipped: a symbolic link loop (it leads back to a folder "
                  "that contains it)");
          continue;
        }
      } else if (child.kind == NodeKind::kFile) {
        if (child.size > options_.maxItemSize) {
          Problem(childDisk + ": cannot be stored: " + std::to_string(child.size) + " bytes " +
                  (child.size > kFormatMaxItemSize
                       ? "is more than the package format allows (" +
                             std::to_string(kFormatMaxItemSize) + " bytes)"
                       : "is more than a package item can hold (" +
                             std::to_string(options_.maxItemSize) + " bytes)"));
          continue;
        }
        std::unique_ptr<platform::RawFile> file =
            platform::RawFile::OpenForReading(childDisk.c_str(), &reason);
        if (!file) {
          Problem(childDisk + ": cannot be read: " + reason);
          continue;
        }
      } else {
        Special(childDisk + ": skipped: " + SpecialKind(child.kind));
        continue;
      }
      auto [at, fresh] = kept.emplace(FoldedName(name), childDisk);
      if (!fresh) {
        result_.collisions.push_back(at->second + " and " + childDisk +
                                     ": would be one entry in a package, which ignores the case "
                                     "of names");
        continue;
      }
      SourceItem item;
      item.diskPath = childDisk;
      item.innerPath = childInner;
      item.isFolder = child.kind == NodeKind::kFolder;
      if (!item.isFolder) {
        item.size = child.size;
        bool clamped = false;
        item.time = ToPackageTime(child.modificationTime, &clamped);
        if (clamped)
          result_.warnings.push_back(childDisk + ": its time lies outside 1970-2106; stored as " +
                                     (child.modificationTime < 0 ? "1970" : "2106"));
        result_.totalBytes += item.size;
      }
      result_.items.push_back(item);
      if (item.isFolder) Folder(childDisk, childInner, child);
    }
    ancestors_.pop_back();
  }

 private:
  // The status of what the entry leads to; false (after reporting) when
  // there is nothing to store.
  bool Examine(const std::string& disk, NodeStatus* status) {
    std::string reason;
    if (!platform::LinkStatusOf(disk.c_str(), status, &reason)) {
      Problem(disk + ": cannot be examined: " + reason);
      return false;
    }
    if (status->kind != NodeKind::kLink) return true;
    platform::PathFailure failure;
    if (platform::StatusOf(disk.c_str(), status, &reason, &failure)) return true;
    if (failure == platform::PathFailure::kLinkLoop) {
      Special(disk + ": skipped: a symbolic link loop");
    } else if (failure == platform::PathFailure::kMissing) {
      Special(disk + ": skipped: a dangling symbolic link (" + reason + ")");
    } else {
      Problem(disk + ": cannot be followed: " + reason);
    }
    return false;
  }

  bool Excluded(const std::string& inner) const {
    for (const std::string& pattern : options_.excludes)
      if (MatchesExcludePattern(pattern, inner)) return true;
    return false;
  }

  bool IsAncestor(const NodeStatus& status) const {
    return std::find(ancestors_.begin(), ancestors_.end(),
                     std::make_pair(status.device, status.inode)) != ancestors_.end();
  }

  void Problem(std::string text) { result_.problems.push_back(std::move(text)); }
  void Special(std::string text) {
    (options_.skipSpecial ? result_.warnings : result_.problems).push_back(std::move(text));
  }

  const ScanOptions& options_;
  ScanResult& result_;
  std::vector<std::pair<uint64_t, uint64_t>> ancestors_;
};

}  // namespace

uint32_t ToPackageTime(int64_t seconds, bool* clamped) {
  *clamped = seconds < 0 || seconds > static_cast<int64_t>(UINT32_MAX);
  if (seconds < 0) return 0;
  if (seconds > static_cast<int64_t>(UINT32_MAX)) return UINT32_MAX;
  return static_cast<uint32_t>(seconds);
}

ScanResult ScanSourceTree(const std::string& root, const std::string& prefix,
                          const ScanOptions& options) {
  ScanResult result;
  NodeStatus status;
  std::string reason;
  if (!platform::StatusOf(root.c_str(), &status, &reason)) {
    result.problems.push_back(root + ": cannot be read: " + reason);
    return result;
  }
  if (status.kind != NodeKind::kFolder) {
    result.problems.push_back(root + ": cannot be packed: Not a directory");
    return result;
  }
  Scanner scanner(options, &result);
  scanner.Folder(root, prefix, status);
  return result;
}

}  // namespace marrowgate
