#include "transfer/dir_copy.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "transfer/my_dir_search.h"
#include "transfer/my_dir_search_delayed.h"

namespace marrowgate {
namespace {

// Checks the record and the two root paths. Returns 0 when the run may
// start, else the run's result.
int32_t CheckRun(const DIRCP_PARAM_T& params) {
  if (!DirCopyParamsValid(params)) return kDirCopyBadParams;
  for (const char* root : {params.szSrcDir, params.szDstDir}) {
    if (std::strlen(root) > static_cast<size_t>(kMaxPath)) {
      char text[1024];
      std::snprintf(text, sizeof text, kTextPathTooLong, root);
      params.pNotify->cb_ERROR(kNotifyPathTooLong, text);
      return DirSearch::kListingFailed;
    }
  }
  return 0;
}

// The statistics pass when requested: 0, or the run's result.
int32_t RunStatPass(const DIRCP_PARAM_T& params) {
  if (params.byStatMode == kStatNone) return 0;
  CPackNotify* notify = params.pNotify;
  notify->cb_INFO(0, kTextCalculating);
  SRCDIRSTAT_T stat;
  stat.pSink = params.pStatSink;
  stat.szStop = params.szStop;
  int32_t r = StatDir(params.pSrcFM, params.szSrcDir,
                      params.byStatMode == kStatByOpening ? 0 : 1, &stat);
  if (r < 0) {
    notify->cb_ERROR(kNotifyReadError, kTextCorrupted);
    return r - kStatPassOffset;
  }
  notify->cb_SRCDIRSTAT(&stat);
  return 0;
}

}  // namespace

int32_t dircp::DoIt(const DIRCP_PARAM_T& params) {
  int32_t r = CheckRun(params);
  if (r == 0) r = RunStatPass(params);
  if (r != 0) return r;
  try {
    MyDirSearch walker(params);
    r = walker.Search(params.szSrcDir, 1);
    // What the walk wrote is placed even when it ended early.
    int32_t placed = walker.CommitStaged();
    return r != 0 ? r : (placed != 0 ? placed - DirSearch::kFileHookOffset : 0);
  } catch (const std::bad_alloc&) {
    return kDirCopyNoMemory;
  }
}

delayed_dircp::delayed_dircp(HeldBackNames delayedNames, const char* lastName)
    : delayed_names_(delayedNames), last_name_(lastName) {}

int32_t delayed_dircp::DoIt(const DIRCP_PARAM_T& params) {
  int32_t r = CheckRun(params);
  if (r == 0) r = RunStatPass(params);
  if (r != 0) return r;
  try {
    MyDirSearchDelayed walker(params, delayed_names_, last_name_);
    r = walker.Search(params.szSrcDir, 1);
    // Every file of the walk is in place before a held-back one is copied.
    int32_t placed = walker.CommitStaged();
    if (r == 0 && placed != 0) r = placed - DirSearch::kFileHookOffset;
    if (r == 0) r = walker.ActionOnDelayedFiles();
    return r;
  } catch (const std::bad_alloc&) {
    return kDirCopyNoMemory;
  }
}

dircp* CreateDirCopy(int kind, HeldBackNames delayedNames, const char* lastName) {
  if (kind == kDelayedDirCopy) return new (std::nothrow) delayed_dircp(delayedNames, lastName);
  return new (std::nothrow) dircp();
}

}  // namespace marrowgate
