// Windows implementation of platform/write_check.h, from file attributes.
#include "platform/write_check.h"

#include <windows.h>

#include <cerrno>

#include "platform/win_error.h"

namespace marrowgate::platform {
namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// The folder part of `path`; "" at the top of a relative path; a root
// ("C:\", "\") stays itself.
std::string ParentOf(const std::string& path) {
  size_t end = path.size();
  while (end > 1 && IsSeparator(path[end - 1])) --end;
  size_t slash = path.find_last_of("/\\", end - 1);
  if (slash == std::string::npos) {
    return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) + "\\" : std::string();
  }
  while (slash > 0 && IsSeparator(path[slash - 1])) --slash;
  if (slash == 0) return path.substr(0, 1);
  if (slash == 2 && path[1] == ':') return path.substr(0, 3);
  return path.substr(0, slash);
}

bool IsRoot(const std::string& folder) {
  return folder.size() == 1 || (folder.size() == 3 && folder[1] == ':');
}

std::string FolderBlocked(const std::string& folder) {
  const DWORD attributes = GetFileAttributesA(folder.empty() ? "." : folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    ReasonFromLastWindowsError(nullptr);
    return TextOfErrno(errno);
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return TextOfErrno(ENOTDIR);
  return std::string();
}

}  // namespace

std::string WriteBlockedReason(const char* path) {
  if (path == nullptr || *path == '\0') return TextOfErrno(ENOENT);
  const std::string text(path);
  const DWORD attributes = GetFileAttributesA(text.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return TextOfErrno(EISDIR);
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) return TextOfErrno(EACCES);
    return FolderBlocked(ParentOf(text));
  }
  std::string folder = ParentOf(text);
  while (!folder.empty() && !IsRoot(folder) &&
         GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = GetLastError();
    if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) {
      return TextOfErrno(ErrnoOfWindowsError(code));
    }
    folder = ParentOf(folder);
  }
  return FolderBlocked(folder);
}

}  // namespace marrowgate::platform
