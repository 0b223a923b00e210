// FileIdentity: what names one file whatever path reached it (on POSIX the
// device and inode numbers; on Windows the volume serial number and file
// index), so that two different path texts can be found to name the same
// file: "d:/a" and "D:\\A" on a case-blind volume, "/x" and "//x" on POSIX.
#ifndef MARROWGATE_PLATFORM_FILE_IDENTITY_H_
#define MARROWGATE_PLATFORM_FILE_IDENTITY_H_

#include <cstdint>

#include "platform/env.h"

namespace marrowgate::platform {

struct FileIdentity {
  uint64_t volume = 0;
  uint64_t file = 0;

  bool operator==(const FileIdentity& other) const {
    return volume == other.volume && file == other.file;
  }
  bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};

// The identity of the file an open stream reads and writes. False when it
// cannot be read.
bool IdentityOfStream(FileStream* stream, FileIdentity* identity);

// The identity of the file `path` names (a link is followed, as an open
// would follow it), found without opening the file. False when nothing is
// there or it cannot be read.
bool IdentityOfPath(const char* path, FileIdentity* identity);

}  // namespace marrowgate::platform

#endif  // MARROWGATE_PLATFORM_FILE_IDENTITY_H_
