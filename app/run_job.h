// RunJob: the job record of one patch run together with the objects it
// owns (the local file system, the codec and four cipher objects taken
// from a KeyFactory), filled with the patcher's settings:
//   passwords "morvelkatun" and "pelsowdirak", block size 1024, transfer
//   buffer 100000 bytes, targets get the source's modification time and
//   read-only sources are copied, a statistics pass from file information,
//   nothing cut from or appended to names, no stop text, no excluded
//   endings.
// The owned objects are released with the RunJob; the texts and the sink
// given to it are borrowed and must outlive it.
#ifndef MARROWGATE_APP_RUN_JOB_H_
#define MARROWGATE_APP_RUN_JOB_H_

#include <cstdint>

#include "app/patch_job.h"
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
  Owned<ZlibCodec> codec_;
  Owned<CipherObject> cipherA_, cipherB_, cipherC_, cipherD_;
  PatchJob job_;
};

}  // namespace marrowgate

#endif  // MARROWGATE_APP_RUN_JOB_H_
