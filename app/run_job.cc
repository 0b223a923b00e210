#include "app/run_job.h"

#include "app/app_file_manager.h"
#include "keys/key_factory.h"
#include "transfer/dir_copy.h"

namespace marrowgate {

RunJob::RunJob(const char* packageRoot, const char* installDir, CPackNotify* notify,
               const char* clientVersion, const char* const* excludeNames)
    : fileSystem_(CreateFileSystem()), codec_(CreateZlibCodec()) {
  {
    // Cipher objects do not refer to their factory once made.
    Owned<KeyFactory> keyFactory(CreateKeyFactory());
    if (keyFactory) {
      cipherA_.reset(keyFactory->CreateCipher(0));
      cipherB_.reset(keyFactory->CreateCipher(0));
      cipherC_.reset(keyFactory->CreateCipher(0));
      cipherD_.reset(keyFactory->CreateCipher(0));
    }
  }
  job_.pFileSystem = fileSystem_.get();
  job_.szPackageRoot = packageRoot;
  job_.szInstallDir = installDir;
  job_.nCutTail = 0;
  job_.szDstSuffix = nullptr;
  job_.szPassword = kPatcherPasswordA;
  job_.nPasswordLen = static_cast<int32_t>(sizeof kPatcherPasswordA - 1);
  job_.nBlockSize = kRunBlockSize;
  job_.pCodec = codec_.get();
  job_.pCipherA = cipherA_.get();
  job_.pCipherB = cipherB_.get();
  job_.pNotify = notify;
  job_.pStatSink = nullptr;
  job_.nBufSize = kRunBufferSize;
  job_.byFlags = kCopyFileTimes;
  job_.byStatMode = kStatFromInfo;
  job_.szStop = nullptr;
  // The copy engine takes const entries; the record keeps the driver's type.
  job_.ppszExcludeNames = const_cast<const char**>(excludeNames);
  job_.szExcludeSuffixes = nullptr;
  job_.pszClientVersion = clientVersion;
  job_.szPassword2 = kPatcherPasswordB;
  job_.nPassword2Len = static_cast<int32_t>(sizeof kPatcherPasswordB - 1);
  job_.pCipherC = cipherC_.get();
  job_.pCipherD = cipherD_.get();
}

RunJob::~RunJob() = default;

}  // namespace marrowgate
