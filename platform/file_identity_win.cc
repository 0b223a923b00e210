// Windows implementation of file identities: the volume serial number and
// the file index of GetFileInformationByHandle (the C run-time's stat has
// no inode numbers: they are all 0).
#include "platform/file_identity.h"

#include <windows.h>
#include <io.h>

#include <cstdio>

namespace marrowgate::platform {

bool IdentityOfStream(FileStream* stream, FileIdentity* identity) {
  if (stream == nullptr || identity == nullptr) return false;
  auto* file = reinterpret_cast<FILE*>(stream->Handle());
  if (file == nullptr) return false;
  const intptr_t handle = _get_osfhandle(_fileno(file));
  if (handle == -1) return false;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(reinterpret_cast<HANDLE>(handle), &info)) return false;
  identity->volume = info.dwVolumeSerialNumber;
  identity->file = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

}  // namespace marrowgate::platform
