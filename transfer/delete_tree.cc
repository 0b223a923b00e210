#include "transfer/delete_tree.h"

#include "platform/file_tree.h"
#include "platform/path_within.h"
#include "transfer/dir_search.h"
#include "util/safe_path.h"

namespace marrowgate {
namespace {

class TreeDeleter : public DirSearch {
 public:
  using DirSearch::DirSearch;

  int32_t ActionOnFile(const char* name) override {
    const char* path = ComposeEntryPath(name);
    if (path == nullptr) return -1;
    return FileSystemInUse()->DeleteFile(path);
  }
  int32_t ActionOnLeaveDir(const char* path) override {
    return FileSystemInUse()->DeleteFolder(path);
  }
};

// The path as the system takes it.
std::string NativeOf(const std::string& path) {
  std::string native = path;
  for (char& c : native) {
    if (c == '\\') c = '/';
  }
  return native;
}

// Through the file system's own operations (inside packages there are no
// links): a file is deleted, a folder walked.
bool DeleteByWalk(FileSystem* fs, const char* path) {
  if (!fs->IsFolder(path)) return fs->DeleteFile(path) == 0;
  TreeDeleter deleter(fs);
  return deleter.Search(path, 1) >= 0;
}

}  // namespace

bool DeleteTree(FileSystem* fs, const char* path) {
  if (fs == nullptr || path == nullptr) return false;
  if (fs->WritesToDisk(path)) {
    const std::string native = NativeOf(path);
    platform::NodeStatus status;
    if (!platform::LinkStatusOf(native.c_str(), &status, nullptr)) return false;
    return platform::RemoveTreeNoFollow(native.c_str(), nullptr);
  }
  return DeleteByWalk(fs, path);
}

DeleteWithinResult DeleteWithin(FileSystem* fs, const std::string& root,
                                const std::string& relative, std::string* reason) {
  if (fs == nullptr || root.empty() || !IsContainedRelativePath(relative)) {
    return kDeleteWithinRefused;
  }
  const std::string path = root + "/" + relative;
  if (!fs->WritesToDisk(path.c_str())) {
    // Inside a package: no links, and the package lies where it was found.
    if (!fs->Exists(path.c_str())) return kDeleteWithinDone;
    return DeleteByWalk(fs, path.c_str()) ? kDeleteWithinDone : kDeleteWithinIncomplete;
  }
  const std::string native = NativeOf(path);
  platform::NodeStatus status;
  if (!platform::LinkStatusOf(native.c_str(), &status, nullptr)) {
    // Not on the disk; a package's own folder (the package "a/b.dpk" seen
    // as the folder "a/b") empties through the package.
    if (!fs->Exists(path.c_str())) return kDeleteWithinDone;
    return DeleteByWalk(fs, path.c_str()) ? kDeleteWithinDone : kDeleteWithinIncomplete;
  }
  std::string resolvedRoot, resolvedParent;
  const std::string parent = native.substr(0, native.find_last_of('/'));
  if (!platform::ResolvedPath(NativeOf(root).c_str(), &resolvedRoot, reason) ||
      !platform::ResolvedPath(parent.c_str(), &resolvedParent, reason)) {
    return kDeleteWithinIncomplete;
  }
  if (!platform::PathIsAtOrBelow(resolvedParent, resolvedRoot)) {
    if (reason != nullptr) *reason = "lies outside the folder (through " + parent + ")";
    return kDeleteWithinRefused;
  }
  return platform::RemoveTreeNoFollow(native.c_str(), reason) ? kDeleteWithinDone
                                                              : kDeleteWithinIncomplete;
}

}  // namespace marrowgate
