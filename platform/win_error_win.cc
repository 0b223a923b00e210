// Windows error codes as errno values and texts.
#include "platform/win_error.h"

#include <windows.h>

#include <cerrno>
#include <cstring>

namespace marrowgate::platform {

int ErrnoOfWindowsError(unsigned long code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_PATHNAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_CURRENT_DIRECTORY:
      return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      return EEXIST;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    case ERROR_DIR_NOT_EMPTY:
      return ENOTEMPTY;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW:
      return ENAMETOOLONG;
    case ERROR_NOT_SAME_DEVICE:
      return EXDEV;
    case ERROR_CANT_RESOLVE_FILENAME:
      return ELOOP;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    default:
      return EINVAL;
  }
}

std::string TextOfErrno(int code) {
  switch (code) {
    case ENOENT: return "No such file or directory";
    case EACCES: return "Permission denied";
    case ENOSPC: return "No space left on device";
    case EEXIST: return "File exists";
    case ENOTDIR: return "Not a directory";
    case EISDIR: return "Is a directory";
    case EROFS: return "Read-only file system";
    case ENOTEMPTY: return "Directory not empty";
    case ENAMETOOLONG: return "File name too long";
    case EXDEV: return "Invalid cross-device link";
    case ELOOP: return "Too many levels of symbolic links";
    case ENOMEM: return "Cannot allocate memory";
    case EINVAL: return "Invalid argument";
    case EIO: return "Input/output error";
    case EBUSY: return "Device or resource busy";
    default: return std::strerror(code);
  }
}

void ReasonFromLastWindowsError(std::string* reason) {
  errno = ErrnoOfWindowsError(GetLastError());
  if (reason != nullptr) *reason = TextOfErrno(errno);
}

}  // namespace marrowgate::platform
