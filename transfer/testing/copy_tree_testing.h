// For tests: one run of the copy engine that holds names back (as a patch
// run drives it) from `from` to `to` through `fs`, statistics taken from
// the listing.
#ifndef MARROWGATE_TRANSFER_TESTING_COPY_TREE_TESTING_H_
#define MARROWGATE_TRANSFER_TESTING_COPY_TREE_TESTING_H_

#include <cstdint>
#include <string>

#include "transfer/dir_copy.h"
#include "util/releaser.h"

namespace marrowgate {

inline int32_t CopyTreeForTest(FileSystem* fs, const std::string& from, const std::string& to,
                               CPackNotify* sink, int32_t bufferBytes, uint8_t flags,
                               HeldBackNames heldBack = nullptr) {
  DIRCP_PARAM_T params;
  params.pSrcFM = fs;
  params.pDstFM = fs;
  params.szSrcDir = from.c_str();
  params.szDstDir = to.c_str();
  params.pNotify = sink;
  params.nBufSize = bufferBytes;
  params.byFlags = flags;
  params.byStatMode = kStatFromInfo;
  const char* const none[] = {nullptr};
  Owned<dircp> engine(CreateDirCopy(kDelayedDirCopy, heldBack != nullptr ? heldBack : none));
  return engine->DoIt(params);
}

}  // namespace marrowgate

#endif  // MARROWGATE_TRANSFER_TESTING_COPY_TREE_TESTING_H_
