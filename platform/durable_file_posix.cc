// POSIX implementation of durable writes.
#include "platform/durable_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>

namespace marrowgate::platform {

namespace {

// The folder part of a path ("." when there is none).
std::string FolderOf(const char* path) {
  std::string text(path);
  size_t last = text.find_last_of('/');
  if (last == std::string::npos) return ".";
  if (last == 0) return "/";
  return text.substr(0, last);
}

}  // namespace

bool SyncStream(FileStream* stream) {
  if (stream == nullptr) return false;
  FILE* file = reinterpret_cast<FILE*>(stream->Handle());
  if (file == nullptr || std::fflush(file) != 0) return false;
  int fd = fileno(file);
  if (fd < 0) return false;
  while (::fsync(fd) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

bool SyncFolder(const char* path) {
  if (path == nullptr) return false;
  int fd = ::open(*path ? path : ".", O_RDONLY | O_DIRECTORY);
  if (fd < 0) return false;
  int rc;
  do {
    rc = ::fsync(fd);
  } while (rc != 0 && errno == EINTR);
  ::close(fd);
  return rc == 0;
}

bool SyncFileSystemsOf(const std::vector<std::string>& folders) {
#ifdef __linux__
  if (folders.empty()) return true;
  std::vector<dev_t> synced;
  for (const std::string& folder : folders) {
    const char* path = folder.empty() ? "." : folder.c_str();
    int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0;
    if (ok && std::find(synced.begin(), synced.end(), st.st_dev) == synced.end()) {
      int rc;
      do {
        rc = ::syncfs(fd);
      } while (rc != 0 && errno == EINTR);
      ok = rc == 0;
      if (ok) synced.push_back(st.st_dev);
    }
    ::close(fd);
    if (!ok) return false;
  }
  return true;
#else
  (void)folders;
  return false;
#endif
}

FileSystemWatch::~FileSystemWatch() {
  for (const Kept& kept : kept_) ::close(static_cast<int>(kept.handle));
}

intptr_t FileSystemWatch::HandleFor(const std::string& folder) {
#ifdef __linux__
  const char* path = folder.empty() ? "." : folder.c_str();
  struct stat st;
  if (!kept_.empty() && ::stat(path, &st) == 0) {
    for (const Kept& kept : kept_)
      if (kept.device == static_cast<uint64_t>(st.st_dev)) return kept.handle;
  }
  const int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -1;
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return -1;
  }
  for (const Kept& kept : kept_) {
    if (kept.device == static_cast<uint64_t>(st.st_dev)) {
      ::close(fd);
      return kept.handle;
    }
  }
  kept_.push_back({static_cast<uint64_t>(st.st_dev), fd});
  return fd;
#else
  (void)folder;
  return -1;
#endif
}

bool FileSystemWatch::Watch(const std::string& folder) { return HandleFor(folder) >= 0; }

bool FileSystemWatch::Sync(const std::vector<std::string>& folders) {
#ifdef __linux__
  std::vector<intptr_t> synced;
  for (const std::string& folder : folders) {
    const intptr_t handle = HandleFor(folder);
    if (handle < 0) return false;
    if (std::find(synced.begin(), synced.end(), handle) != synced.end()) continue;
    int rc;
    do {
      rc = ::syncfs(static_cast<int>(handle));
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) return false;
    synced.push_back(handle);
  }
  return true;
#else
  (void)folders;
  return false;
#endif
}

int PermissionBits(const char* path) {
  struct stat st;
  if (path == nullptr || ::stat(path, &st) != 0) return -1;
  return static_cast<int>(st.st_mode & 07777);
}

bool ReplacePathUnsynced(const char* from, const char* to) {
  if (from == nullptr || to == nullptr) return false;
  // A link at `to` is replaced as a name: what it leads to is not looked
  // at, and the new file keeps its own permission bits.
  struct stat existing;
  if (::lstat(to, &existing) == 0 && !S_ISLNK(existing.st_mode)) {
    if (S_ISDIR(existing.st_mode)) return false;
    if (::chmod(from, existing.st_mode & 07777) != 0) return false;
  }
  return std::rename(from, to) == 0;
}

bool MoveToFreeNameUnsynced(const char* from, const char* to) {
  if (from == nullptr || to == nullptr) return false;
  if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
  // Taken meanwhile, or a file system without the flag: the full way.
  return ReplacePathUnsynced(from, to);
}

bool MoveFolderToFreeName(const char* from, const char* to) {
  if (from == nullptr || to == nullptr) return false;
  if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the flag: moved only while the name is free
  // (rename would replace an empty folder found there).
  struct stat existing;
  if (::lstat(to, &existing) == 0 || errno != ENOENT) return false;
  return std::rename(from, to) == 0;
}

bool ReplacePath(const char* from, const char* to) {
  if (!ReplacePathUnsynced(from, to)) return false;
  // The rename is done; a folder that cannot be synced (some file systems
  // refuse) does not undo it.
  SyncFolder(FolderOf(to).c_str());
  return true;
}

}  // namespace marrowgate::platform
