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

bool IdentityOfPath(const char* path, FileIdentity* identity) {
  if (path == nullptr || identity == nullptr) return false;
  // No access is asked for: the handle only reads the file's attributes,
  // and backup semantics let it name a folder too.
  HANDLE handle = CreateFileA(*path != '\0' ? path : ".", 0,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool known = GetFileInformationByHandle(handle, &info) != 0;
  CloseHandle(handle);
  if (!known) return false;
  identity->volume = info.dwVolumeSerialNumber;
  identity->file = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

}  // namespace marrowgate::platform
