// POSIX implementation of platform/write_check.h.
#include "platform/write_check.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace marrowgate::platform {
namespace {

std::string TextOf(int code) { return std::strerror(code); }

// The folder part of `path`, "" at the top of a relative path, "/" at the
// root.
std::string ParentOf(const std::string& path) {
  size_t end = path.size();
  while (end > 1 && path[end - 1] == '/') --end;
  size_t slash = path.find_last_of('/', end - 1);
  if (slash == std::string::npos) return std::string();
  while (slash > 0 && path[slash - 1] == '/') --slash;
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// Why a new entry cannot be made in the existing `folder`; empty when it
// can.
std::string FolderBlocked(const std::string& folder) {
  const char* at = folder.empty() ? "." : folder.c_str();
  struct stat st;
  if (::stat(at, &st) != 0) return TextOf(errno);
  if (!S_ISDIR(st.st_mode)) return TextOf(ENOTDIR);
  if (::access(at, W_OK | X_OK) != 0) return TextOf(errno);
  return std::string();
}

}  // namespace

std::string WriteBlockedReason(const char* path) {
  if (path == nullptr || *path == '\0') return TextOf(ENOENT);
  std::string text(path);
  for (char& c : text) {
    if (c == '\\') c = '/';
  }
  struct stat st;
  if (::lstat(text.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return TextOf(EISDIR);
    if (S_ISREG(st.st_mode)) {
      if ((st.st_mode & S_IWUSR) == 0) return TextOf(EACCES);
      if (::access(text.c_str(), W_OK) != 0) return TextOf(errno);
    }
    // Replacing the entry means writing its folder.
    return FolderBlocked(ParentOf(text));
  }
  // Up to the nearest existing entry: it must be a writable folder.
  std::string folder = ParentOf(text);
  while (!folder.empty() && folder != "/" && ::lstat(folder.c_str(), &st) != 0) {
    if (errno != ENOENT) return TextOf(errno);
    folder = ParentOf(folder);
  }
  return FolderBlocked(folder);
}

}  // namespace marrowgate::platform
