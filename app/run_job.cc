#include "app/run_job.h"

#include "app/app_file_manager.h"
#include "transfer/dir_copy.h"

namespace marrowgate {

RunJob::RunJob(const char* packageRoot, const char* installDir, CPackNotify* notify,
               const char* clientVersion, const char* const* excludeNames)
    : fileSystem_(CreateFileSystem()) {
  // Left null when they cannot be made; the run then refuses the job.
  codecs_.Create(/*cipherKind=*/0, /*withKeyB=*/true);
  for (const char* const* name = excludeNames; name != nullptr && *name != nullptr; ++name)
    excludeNames_.push_back(*name);
  excludeNames_.push_back(nullptr);
  job_.pFileSystem = fileSystem_.get();
  job_.szPackageRoot = packageRoot;
  job_.szInstallDir = installDir;
  job_.nCutTail = 0;
  job_.szDstSuffix = nullptr;
  job_.szPassword = kPatcherPasswordA;
  job_.nPasswordLen = static_cast<int32_t>(sizeof kPatcherPasswordA - 1);
  job_.nBlockSize = kRunBlockSize;
  job_.pCodec = codecs_.compressor.get();
  job_.pCipherA = codecs_.cipherAEnc.get();
  job_.pCipherB = codecs_.cipherADec.get();
  job_.pNotify = notify;
  job_.pStatSink = nullptr;
  job_.nBufSize = kRunBufferSize;
  job_.byFlags = kCopyFileTimes;
  job_.byStatMode = kStatFromInfo;
  job_.szStop = nullptr;
  job_.ppszExcludeNames = excludeNames_.data();
  job_.szExcludeSuffixes = nullptr;
  job_.pszClientVersion = clientVersion;
  job_.szPassword2 = kPatcherPasswordB;
  job_.nPassword2Len = static_cast<int32_t>(sizeof kPatcherPasswordB - 1);
  job_.pCipherC = codecs_.cipherBEnc.get();
  job_.pCipherD = codecs_.cipherBDec.get();
}

RunJob::~RunJob() = default;

}  // namespace marrowgate
