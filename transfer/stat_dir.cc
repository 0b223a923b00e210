#include "transfer/stat_dir.h"

#include <cstdint>
#include <vector>

#include "package/file/memory_file.h"
#include "transfer/copy_source.h"
#include "transfer/delta/delta_item.h"
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
    // A full file beside a delta item is never written under its own name;
    // when it is used, it is written as the delta's target, which the delta
    // item counts.
    if (IsDeltaFullName(name) && !DeltaFullTargetOf(name).empty()) return 0;
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
    // A delta item writes its target's new size.
    if (path != nullptr && IsDeltaName(name) && !DeltaTargetOf(name).empty())
      size = DeltaNewSize(path, size);
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
  // The new size in the header of the delta item at `path` (only the
  // header is unsealed); `fallback` when it cannot be read.
  int32_t DeltaNewSize(const char* path, int32_t fallback) {
    CopySource item;
    uint8_t head[kDeltaHeaderSize];
    if (!item.Open(FileSystemInUse(), path)) return fallback;
    const int32_t got = item.ReadHead(&unsealer_, head, sizeof head);
    if (got != static_cast<int32_t>(sizeof head)) return fallback;
    MemoryFile headFile(std::vector<uint8_t>(head, head + sizeof head));
    DeltaHeader header;
    if (ReadDeltaHeader(&headFile, &header) != 0 || header.newSize > INT32_MAX) return fallback;
    return static_cast<int32_t>(header.newSize);
  }

  bool Stopped() const { return stat_->szStop != nullptr && stat_->szStop[0] != '\0'; }

  uint8_t use_info_;
  SRCDIRSTAT_T* stat_;
  Unsealer unsealer_;
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
