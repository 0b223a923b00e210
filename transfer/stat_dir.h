// StatDir: the statistics pass that counts files, folders and bytes of a
// source tree before it is copied, so that a receiver can size its
// progress display. It is also the first check that every source file can
// be examined.
#ifndef MARROWGATE_TRANSFER_STAT_DIR_H_
#define MARROWGATE_TRANSFER_STAT_DIR_H_

#include <cstdint>

#include "package/file/file_system.h"

namespace marrowgate {

// Told of every counted entry; answers are ignored.
class StatSink {
 public:
  StatSink() = default;
  StatSink(const StatSink&) = delete;
  StatSink& operator=(const StatSink&) = delete;
  virtual ~StatSink() = default;

  virtual int32_t Release() {
    delete this;
    return 0;
  }
  virtual int32_t OnStatFile(const char* name) = 0;
  virtual int32_t OnStatDir(const char* name) = 0;
};

struct SRCDIRSTAT_T {
  int32_t nTotalFile = 0;  // files counted
  int32_t nTotalSize = 0;  // sum of their sizes, 32-bit, wrapping
  int32_t nTotalDir = 0;   // folders counted, the root not included
  StatSink* pSink = nullptr;  // may be null
  char* szStop = nullptr;     // stop text, may be null
};

// Results of StatDir besides 0 and the walk codes -1, -2, -3 of DirSearch
// (transfer/dir_search.h; a folder that cannot be listed gives -2).
constexpr int32_t kStatStoppedAtFile = -1001;
constexpr int32_t kStatStoppedAtDir = -101;
constexpr int32_t kStatFileInfoFailed = -1010;  // Stat of a file failed
constexpr int32_t kStatNegativeSize = -1020;    // an opened file's size < 0

// Sets the three counters of `stat` to 0 and counts the tree below `root`
// through `fs`, recursively. With `useInfo` non-zero each file's size comes
// from Stat (a failure ends the pass with -1010; so does a file path longer
// than kMaxPath). Otherwise each file is opened for reading and its size
// taken; a file that cannot be opened (or whose path is too long) counts
// with size 0. Every file of the tree is counted, whatever a later copy
// excludes, except that the counts follow what delta items write
// (transfer/delta/delta_item.h): a delta item counts with its target's new
// size, and a full file beside one is not counted (it is written, when it
// is, in the delta's place). Once stat->szStop holds a non-empty text the pass fails at the
// next file (-1001) or folder (-101).
int32_t StatDir(FileSystem* fs, const char* root, uint8_t useInfo, SRCDIRSTAT_T* stat);

}  // namespace marrowgate

#endif  // MARROWGATE_TRANSFER_STAT_DIR_H_
