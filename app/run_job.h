// RunJob: the job record of one patch run together with the objects it
// owns (the local file system, the codec set with the codec and four
// cipher objects from a KeyFactory, the exclude array), filled with the
// patcher's settings:
//   passwords "morvelkatun" and "pelsowdirak", block size 1024, transfer
//   buffer 100000 bytes, targets get the source's modification time and
//   read-only sources are copied, a statistics pass from file information,
//   nothing cut from or appended to names, no stop text, no excluded
//   endings.
// The owned objects are released with the RunJob; the texts and the sink
// given to it (the exclude names' texts among them) are borrowed and must
// outlive it.
#ifndef MARROWGATE_APP_RUN_JOB_H_
#define MARROWGATE_APP_RUN_JOB_H_

#include <cstdint>
#include <vector>

#include "app/patch_job.h"
#include "package/store/package_codecs.h"
#include "util/releaser.h"

namespace marrowgate {

constexpr int32_t kRunBlockSize = 1024;
constexpr int32_t kRunBufferSize = 100000;

class RunJob {
 public:
  // `excludeNames` is a null-ended array of bare names (may be null for
  // none); `clientVersion` the installed version text.
  RunJob(const char* packageRoot, const char* installDir, CPackNotify* notify,
         const char* clientVersion, const char* const* excludeNames);
  RunJob(const RunJob&) = delete;
  RunJob& operator=(const RunJob&) = delete;
  ~RunJob();

  PatchJob& job() { return job_; }

 private:
  Owned<FileSystem> fileSystem_;
  PackageCodecs codecs_;
  std::vector<const char*> excludeNames_;  // null-ended
  PatchJob job_;
};

}  // namespace marrowgate

#endif  // MARROWGATE_APP_RUN_JOB_H_
