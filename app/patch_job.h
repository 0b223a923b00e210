// PatchJob: the job record of one patch run, filled by the driver before
// the run and borrowed by FlexUpdate for its length.
//
// Every field starts zero. "Owned" fields belong to the driver (RunJob),
// which disposes of them after the run: the file system, codec and cipher
// objects through Release(), the exclude array by freeing it (its texts
// belong to the dialog's skip list). pNotify is borrowed. The copy settings (nCutTail, szDstSuffix, pNotify, pStatSink,
// nBufSize, byFlags, byStatMode, szStop, ppszExcludeNames,
// szExcludeSuffixes) reach the copy engine unchanged as the like-named
// fields of its DIRCP_PARAM_T (transfer/dir_copy.h).
#ifndef MARROWGATE_APP_PATCH_JOB_H_
#define MARROWGATE_APP_PATCH_JOB_H_

#include <cstdint>

#include "keys/cipher_object.h"
#include "package/file/file_system.h"
#include "package/seal/zlib_codec.h"
#include "transfer/pack_notify.h"
#include "transfer/stat_dir.h"

namespace marrowgate {

struct PatchJob {
  FileSystem* pFileSystem = nullptr;     // owned: the local disk for the run's FileManager
  const char* szPackageRoot = nullptr;   // own module path without its extension
  const char* szInstallDir = nullptr;    // target folder
  uint32_t nCutTail = 0;                 // copy: characters cut from copied names
  const char* szDstSuffix = nullptr;     // copy: appended to target names
  const char* szPassword = nullptr;      // first package password
  int32_t nPasswordLen = 0;
  int32_t nBlockSize = 0;                // block size of new packages
  ZlibCodec* pCodec = nullptr;           // owned
  CipherObject* pCipherA = nullptr;      // owned: key A, enciphering
  CipherObject* pCipherB = nullptr;      // owned: key A, deciphering
  CPackNotify* pNotify = nullptr;        // borrowed: progress and message sink
  StatSink* pStatSink = nullptr;         // copy: per-entry statistics sink
  int32_t nBufSize = 0;                  // copy: transfer buffer bytes
  uint8_t byFlags = 0;                   // copy: kCopySkipReadOnly | kCopyFileTimes
  uint8_t byStatMode = 0;                // copy: statistics pass mode
  char* szStop = nullptr;                // copy: stop text
  const char** ppszExcludeNames = nullptr;  // owned array, null-ended
  const char* szExcludeSuffixes = nullptr;  // copy: "|"-separated endings
  const char* pszClientVersion = nullptr;   // installed client version text
  const char* szPassword2 = nullptr;     // second package password
  int32_t nPassword2Len = 0;
  CipherObject* pCipherC = nullptr;      // owned: key B, enciphering
  CipherObject* pCipherD = nullptr;      // owned: key B, deciphering
};

}  // namespace marrowgate

#endif  // MARROWGATE_APP_PATCH_JOB_H_
