#include "transfer/stat_dir.h"

#include "transfer/dir_search.h"
#include "util/releaser.h"

namespace marrowgate {
namespace {

class StatWalker : public DirSearch {
 public:
  StatWalker(FileSystem* fs, uint8_t use_info, SRCDIRSTAT_T* stat)
      : DirSearch(fs), use_info_(use_info), stat_(stat) {}

  int32_t ActionOnFile(const char* name) override {
    if (Stopped()) return -1;
    const char* path = ComposeEntryPath(name);
    int32_t size = 0;
    if (use_info_) {
      FileInfo info;
      if (path == nullptr || FileSystemInUse()->Stat(path, &info) < 0) return -10;
      size = info.size;
    } else if (path != nullptr) {
      Owned<VirtualFile> file(FileSystemInUse()->Open(path, kOpenRead));
      if (file) {
        size = file->Size();
        if (size < 0) return -20;
      }
    }
    ++stat_->nTotalFile;
    stat_->nTotalSize = static_cast<int32_t>(static_cast<uint32_t>(stat_->nTotalSize) +
                                             static_cast<uint32_t>(size));
    if (stat_->pSink != nullptr) stat_->pSink->OnStatFile(name);
    return 0;
  }

  int32_t ActionOnDir(const char* name) override {
    if (Stopped()) return -1;
    ++stat_->nTotalDir;
    if (stat_->pSink != nullptr) stat_->pSink->OnStatDir(name);
    return 0;
  }

 private:
  bool Stopped() const { return stat_->szStop != nullptr && stat_->szStop[0] != '\0'; }

  uint8_t use_info_;
  SRCDIRSTAT_T* stat_;
};

}  // namespace

int32_t StatDir(FileSystem* fs, const char* root, uint8_t useInfo, SRCDIRSTAT_T* stat) {
  if (fs == nullptr || root == nullptr || stat == nullptr) return DirSearch::kListingFailed;
  stat->nTotalFile = 0;
  stat->nTotalSize = 0;
  stat->nTotalDir = 0;
  StatWalker walker(fs, useInfo, stat);
  return walker.Search(root, 1);
}

}  // namespace marrowgate
