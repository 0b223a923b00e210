#include "transfer/delete_tree.h"

#include "transfer/dir_search.h"

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

}  // namespace

bool DeleteTree(FileSystem* fs, const char* path) {
  if (fs == nullptr || path == nullptr) return false;
  if (!fs->IsFolder(path)) return fs->DeleteFile(path) == 0;
  TreeDeleter deleter(fs);
  return deleter.Search(path, 1) >= 0;
}

}  // namespace marrowgate
