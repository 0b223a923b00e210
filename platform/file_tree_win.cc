// Windows implementation of platform/file_tree.h. A reparse point
// (symbolic link, junction) plays the part of a link; identities come from
// GetFileInformationByHandle (volume serial number and file index).
#include "platform/file_tree.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstring>

#include "platform/win_error.h"

namespace marrowgate::platform {

namespace {

void SetReason(std::string* reason) { ReasonFromLastWindowsError(reason); }

void SetReasonCode(int code, std::string* reason) {
  errno = code;
  if (reason != nullptr) *reason = TextOfErrno(code);
}

int64_t SecondsOf(const FILETIME& ft) {
  const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  // Floor division, so times before 1970 round down as POSIX times do.
  const int64_t since1601 = static_cast<int64_t>(ticks / 10000000u);
  return since1601 - 11644473600LL;
}

// Status through a handle; `follow` false opens a reparse point itself.
bool StatusThroughHandle(const char* path, bool follow, NodeStatus* status, std::string* reason) {
  if (path == nullptr || *path == '\0') {
    SetReasonCode(ENOENT, reason);
    return false;
  }
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS;
  if (!follow) flags |= FILE_FLAG_OPEN_REPARSE_POINT;
  HANDLE handle = CreateFileA(path, FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    SetReason(reason);
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info;
  const BOOL ok = GetFileInformationByHandle(handle, &info);
  const DWORD type = GetFileType(handle);
  if (!ok && type == FILE_TYPE_CHAR) {
    // A device ("NUL", "CON") has no file information.
    CloseHandle(handle);
    *status = NodeStatus();
    status->kind = NodeKind::kDevice;
    return true;
  }
  if (!ok) SetReason(reason);
  CloseHandle(handle);
  if (!ok) return false;
  const DWORD attributes = info.dwFileAttributes;
  if (!follow && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    status->kind = NodeKind::kLink;
  } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    status->kind = NodeKind::kFolder;
  } else if (type == FILE_TYPE_DISK) {
    status->kind = NodeKind::kFile;
  } else if (type == FILE_TYPE_PIPE) {
    status->kind = NodeKind::kFifo;
  } else if (type == FILE_TYPE_CHAR) {
    status->kind = NodeKind::kDevice;
  } else {
    status->kind = NodeKind::kOther;
  }
  status->device = info.dwVolumeSerialNumber;
  status->inode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  status->writable = (attributes & FILE_ATTRIBUTE_READONLY) == 0;
  status->size = status->kind == NodeKind::kFile
                     ? (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow
                     : 0;
  status->modificationTime = SecondsOf(info.ftLastWriteTime);
  return true;
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

}  // namespace

std::string LastSystemError() { return TextOfErrno(errno); }

void ClearSystemError() { errno = 0; }

std::string RecordedSystemError() {
  int code = errno;
  return code == 0 ? std::string() : TextOfErrno(code);
}

bool LinkStatusOf(const char* path, NodeStatus* status, std::string* reason) {
  return StatusThroughHandle(path, false, status, reason);
}

bool StatusOf(const char* path, NodeStatus* status, std::string* reason, PathFailure* failure) {
  if (StatusThroughHandle(path, true, status, reason)) {
    if (failure != nullptr) *failure = PathFailure::kNone;
    return true;
  }
  if (failure != nullptr) {
    *failure = errno == ENOENT || errno == ENOTDIR ? PathFailure::kMissing
               : errno == ELOOP                    ? PathFailure::kLinkLoop
                                                   : PathFailure::kOther;
  }
  return false;
}

bool SameNode(const char* a, const char* b) {
  NodeStatus sa, sb;
  if (!StatusOf(a, &sa, nullptr) || !StatusOf(b, &sb, nullptr)) return false;
  return sa.device == sb.device && sa.inode == sb.inode;
}

bool FolderNames(const char* path, std::vector<std::string>* names, std::string* reason) {
  names->clear();
  if (path == nullptr) return false;
  const DWORD attributes = GetFileAttributesA(*path ? path : ".");
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    SetReason(reason);
    return false;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    SetReasonCode(ENOTDIR, reason);
    return false;
  }
  std::string pattern = *path ? path : ".";
  if (!IsSeparator(pattern.back())) pattern.push_back('\\');
  pattern.push_back('*');
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) {
    if (GetLastError() == ERROR_FILE_NOT_FOUND) return true;  // an empty root
    SetReason(reason);
    return false;
  }
  bool ok = true;
  do {
    if (std::strcmp(data.cFileName, ".") == 0 || std::strcmp(data.cFileName, "..") == 0) continue;
    names->emplace_back(data.cFileName);
  } while (FindNextFileA(find, &data));
  if (GetLastError() != ERROR_NO_MORE_FILES) {
    ok = false;
    SetReason(reason);
  }
  FindClose(find);
  return ok;
}

bool ResolvedPath(const char* path, std::string* out, std::string* reason) {
  HANDLE handle = CreateFileA(path, FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    SetReason(reason);
    return false;
  }
  std::string buffer(MAX_PATH + 8, '\0');
  DWORD got = GetFinalPathNameByHandleA(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                        FILE_NAME_NORMALIZED);
  if (got >= buffer.size()) {
    buffer.resize(got + 1);
    got = GetFinalPathNameByHandleA(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                    FILE_NAME_NORMALIZED);
  }
  if (got == 0 || got >= buffer.size()) {
    SetReason(reason);
    CloseHandle(handle);
    return false;
  }
  CloseHandle(handle);
  buffer.resize(got);
  // "\\?\C:\..." to "C:\...".
  if (buffer.rfind("\\\\?\\UNC\\", 0) == 0) {
    buffer = "\\\\" + buffer.substr(8);
  } else if (buffer.rfind("\\\\?\\", 0) == 0) {
    buffer = buffer.substr(4);
  }
  *out = buffer;
  return true;
}

size_t MaxSystemPath() { return MAX_PATH - 1; }

bool MakeOneFolder(const char* path, std::string* reason) {
  if (CreateDirectoryA(path, nullptr)) return true;
  const DWORD code = GetLastError();
  const DWORD attributes = GetFileAttributesA(path);
  if (code == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return true;
  }
  if (code == ERROR_ALREADY_EXISTS) {
    SetReasonCode(ENOTDIR, reason);
  } else {
    SetLastError(code);
    SetReason(reason);
  }
  return false;
}

bool RenameReplacing(const char* from, const char* to, std::string* reason) {
  if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING)) return true;
  SetReason(reason);
  return false;
}

// A file goes even when read-only (as unlink takes it on POSIX); a link to
// a folder is a folder entry and goes with RemoveDirectoryA.
bool RemoveNode(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    ReasonFromLastWindowsError(nullptr);
    return false;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
      SetReasonCode(EISDIR, nullptr);
      return false;
    }
    return RemoveDirectoryA(path) != 0;
  }
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  if (DeleteFileA(path)) return true;
  ReasonFromLastWindowsError(nullptr);
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) SetFileAttributesA(path, attributes);
  return false;
}

// Windows has no FIFOs in the file system.
bool MakeFifo(const char*, std::string* reason) {
  SetReasonCode(ENOSYS, reason);
  if (reason != nullptr) *reason = "Function not implemented";
  return false;
}

bool MakeSymbolicLink(const char* target, const char* path, bool folder, std::string* reason) {
  // Unprivileged creation works in developer mode (and is ignored before).
  const DWORD flags = (folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) | 0x2;
  std::string windowsTarget = target;
  for (char& c : windowsTarget) {
    if (c == '/') c = '\\';
  }
  if (!CreateSymbolicLinkA(path, windowsTarget.c_str(), flags)) {
    SetReason(reason);
    return false;
  }
  // A link is a reparse point; success without one made nothing usable.
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return true;
  }
  if (attributes != INVALID_FILE_ATTRIBUTES) RemoveNode(path);
  SetReasonCode(ENOSYS, reason);
  if (reason != nullptr) *reason = "symbolic links are not available";
  return false;
}

// The read-only attribute holds for every account.
bool PermissionsAreBypassed() { return false; }

namespace {

bool RemoveBelow(const std::string& path, std::string* reason) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return true;
    SetReason(reason);
    return false;
  }
  // A reparse point is a name only: removed, never entered (this is also
  // where a mounted volume would be).
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    if (RemoveNode(path.c_str())) return true;
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
    if (reason != nullptr) *reason = LastSystemError();
    return false;
  }
  std::vector<std::string> names;
  std::string failure;
  bool whole = FolderNames(path.c_str(), &names, &failure);
  for (const std::string& name : names) {
    std::string why;
    if (!RemoveBelow(path + "\\" + name, &why)) {
      if (whole) failure = why;
      whole = false;
    }
  }
  if (whole && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  if (whole && !RemoveDirectoryA(path.c_str()) &&
      GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
    ReasonFromLastWindowsError(&failure);
    whole = false;
  }
  if (!whole && reason != nullptr) *reason = failure;
  return whole;
}

}  // namespace

bool RemoveTreeNoFollow(const char* path, std::string* reason) {
  if (path == nullptr) return false;
  return RemoveBelow(path, reason);
}

std::unique_ptr<RawFile> RawFile::OpenForReading(const char* path, std::string* reason) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    SetReasonCode(EISDIR, reason);
    return nullptr;
  }
  HANDLE handle = CreateFileA(path, GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    SetReason(reason);
    return nullptr;
  }
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    if (reason != nullptr) *reason = "not a regular file";
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    SetReasonCode(EMFILE, reason);
    return nullptr;
  }
  return std::unique_ptr<RawFile>(new RawFile(fd));
}

std::unique_ptr<RawFile> RawFile::CreateNew(const char* path, std::string* reason) {
  HANDLE handle = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    SetReason(reason);
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    SetReasonCode(EMFILE, reason);
    return nullptr;
  }
  return std::unique_ptr<RawFile>(new RawFile(fd));
}

RawFile::~RawFile() {
  if (fd_ >= 0) _close(fd_);
}

int64_t RawFile::Read(void* buffer, size_t n, std::string* reason) {
  const unsigned chunk = n > 0x40000000u ? 0x40000000u : static_cast<unsigned>(n);
  const int got = _read(fd_, buffer, chunk);
  if (got >= 0) return got;
  if (reason != nullptr) *reason = LastSystemError();
  return -1;
}

bool RawFile::WriteAll(const void* buffer, size_t n, std::string* reason) {
  const char* bytes = static_cast<const char*>(buffer);
  while (n > 0) {
    const unsigned chunk = n > 0x40000000u ? 0x40000000u : static_cast<unsigned>(n);
    const int put = _write(fd_, bytes, chunk);
    if (put <= 0) {
      if (reason != nullptr) *reason = put < 0 ? LastSystemError() : TextOfErrno(ENOSPC);
      return false;
    }
    bytes += put;
    n -= static_cast<size_t>(put);
  }
  return true;
}

// The times are set by path once the file is closed: a close after
// writes through the handle may stamp the time again.
bool RawFile::SetTimes(int64_t /*accessTime*/, int64_t /*modificationTime*/) { return false; }

bool RawFile::Close(std::string* reason) {
  const int fd = fd_;
  fd_ = -1;
  if (_close(fd) == 0) return true;
  if (reason != nullptr) *reason = LastSystemError();
  return false;
}

}  // namespace marrowgate::platform
