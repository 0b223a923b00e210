// POSIX implementation of platform/file_tree.h.
#include "platform/file_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace marrowgate::platform {

namespace {

void SetReason(std::string* reason) {
  if (reason != nullptr) *reason = LastSystemError();
}

NodeKind KindOf(mode_t mode) {
  if (S_ISREG(mode)) return NodeKind::kFile;
  if (S_ISDIR(mode)) return NodeKind::kFolder;
  if (S_ISLNK(mode)) return NodeKind::kLink;
  if (S_ISFIFO(mode)) return NodeKind::kFifo;
  if (S_ISSOCK(mode)) return NodeKind::kSocket;
  if (S_ISCHR(mode) || S_ISBLK(mode)) return NodeKind::kDevice;
  return NodeKind::kOther;
}

void Fill(const struct stat& st, NodeStatus* status) {
  status->kind = KindOf(st.st_mode);
  status->device = static_cast<uint64_t>(st.st_dev);
  status->inode = static_cast<uint64_t>(st.st_ino);
  status->writable = (st.st_mode & S_IWUSR) != 0;
  status->size = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
  status->modificationTime = static_cast<int64_t>(st.st_mtime);
}

}  // namespace

std::string LastSystemError() {
  int code = errno;
  return std::strerror(code);
}

void ClearSystemError() { errno = 0; }

std::string RecordedSystemError() {
  int code = errno;
  return code == 0 ? std::string() : std::string(std::strerror(code));
}

bool LinkStatusOf(const char* path, NodeStatus* status, std::string* reason) {
  struct stat st;
  if (::lstat(path, &st) != 0) {
    SetReason(reason);
    return false;
  }
  Fill(st, status);
  return true;
}

bool StatusOf(const char* path, NodeStatus* status, std::string* reason, PathFailure* failure) {
  struct stat st;
  if (::stat(path, &st) != 0) {
    int code = errno;
    if (failure != nullptr) {
      *failure = code == ENOENT || code == ENOTDIR ? PathFailure::kMissing
                 : code == ELOOP                   ? PathFailure::kLinkLoop
                                                   : PathFailure::kOther;
    }
    SetReason(reason);
    return false;
  }
  if (failure != nullptr) *failure = PathFailure::kNone;
  Fill(st, status);
  return true;
}

bool SameNode(const char* a, const char* b) {
  struct stat sa, sb;
  if (::stat(a, &sa) != 0 || ::stat(b, &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool FolderNames(const char* path, std::vector<std::string>* names, std::string* reason) {
  names->clear();
  DIR* dir = ::opendir(path);
  if (dir == nullptr) {
    SetReason(reason);
    return false;
  }
  for (;;) {
    errno = 0;
    struct dirent* entry = ::readdir(dir);
    if (entry == nullptr) break;
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    names->emplace_back(entry->d_name);
  }
  bool ok = errno == 0;
  if (!ok) SetReason(reason);
  ::closedir(dir);
  return ok;
}

bool ResolvedPath(const char* path, std::string* out, std::string* reason) {
  char* resolved = ::realpath(path, nullptr);
  if (resolved == nullptr) {
    SetReason(reason);
    return false;
  }
  out->assign(resolved);
  std::free(resolved);
  return true;
}

size_t MaxSystemPath() { return PATH_MAX - 1; }

bool MakeOneFolder(const char* path, std::string* reason) {
  if (::mkdir(path, 0777) == 0) return true;
  int code = errno;
  struct stat st;
  if (code == EEXIST && ::stat(path, &st) == 0 && S_ISDIR(st.st_mode)) return true;
  errno = code == EEXIST ? ENOTDIR : code;
  SetReason(reason);
  return false;
}

bool RenameReplacing(const char* from, const char* to, std::string* reason) {
  if (::rename(from, to) == 0) return true;
  SetReason(reason);
  return false;
}

bool RemoveNode(const char* path) { return ::unlink(path) == 0; }

bool MakeFifo(const char* path, std::string* reason) {
  if (::mkfifo(path, 0600) == 0) return true;
  SetReason(reason);
  return false;
}

bool MakeSymbolicLink(const char* target, const char* path, bool, std::string* reason) {
  if (::symlink(target, path) == 0) return true;
  SetReason(reason);
  return false;
}

bool PermissionsAreBypassed() { return ::geteuid() == 0; }

namespace {

// One level of RemoveTreeNoFollow; `device` is that of the top.
bool RemoveBelow(const std::string& path, dev_t device, std::string* reason) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return true;
    SetReason(reason);
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    if (::unlink(path.c_str()) == 0 || errno == ENOENT) return true;
    SetReason(reason);
    return false;
  }
  if (st.st_dev != device) {
    if (reason != nullptr) *reason = "another file system is mounted there";
    return false;
  }
  std::vector<std::string> names;
  std::string failure;
  bool whole = FolderNames(path.c_str(), &names, &failure);
  for (const std::string& name : names) {
    std::string why;
    if (!RemoveBelow(path + "/" + name, device, &why)) {
      if (whole) failure = why;
      whole = false;
    }
  }
  if (whole && ::rmdir(path.c_str()) != 0 && errno != ENOENT) {
    failure = LastSystemError();
    whole = false;
  }
  if (!whole && reason != nullptr) *reason = failure;
  return whole;
}

}  // namespace

bool RemoveTreeNoFollow(const char* path, std::string* reason) {
  struct stat st;
  if (path == nullptr) return false;
  if (::lstat(path, &st) != 0) {
    if (errno == ENOENT) return true;
    SetReason(reason);
    return false;
  }
  return RemoveBelow(path, st.st_dev, reason);
}

std::unique_ptr<RawFile> RawFile::OpenForReading(const char* path, std::string* reason) {
  int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    SetReason(reason);
    return nullptr;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (reason != nullptr) *reason = S_ISDIR(st.st_mode) ? "Is a directory" : "not a regular file";
    ::close(fd);
    return nullptr;
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return std::unique_ptr<RawFile>(new RawFile(fd));
}

std::unique_ptr<RawFile> RawFile::CreateNew(const char* path, std::string* reason) {
  int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    SetReason(reason);
    return nullptr;
  }
  return std::unique_ptr<RawFile>(new RawFile(fd));
}

RawFile::~RawFile() {
  if (fd_ >= 0) ::close(fd_);
}

int64_t RawFile::Read(void* buffer, size_t n, std::string* reason) {
  for (;;) {
    ssize_t got = ::read(fd_, buffer, n);
    if (got >= 0) return static_cast<int64_t>(got);
    if (errno == EINTR) continue;
    SetReason(reason);
    return -1;
  }
}

bool RawFile::WriteAll(const void* buffer, size_t n, std::string* reason) {
  const char* bytes = static_cast<const char*>(buffer);
  while (n > 0) {
    ssize_t put = ::write(fd_, bytes, n);
    if (put < 0) {
      if (errno == EINTR) continue;
      SetReason(reason);
      return false;
    }
    bytes += put;
    n -= static_cast<size_t>(put);
  }
  return true;
}

bool RawFile::SetTimes(int64_t accessTime, int64_t modificationTime) {
  struct timespec times[2];
  times[0].tv_sec = static_cast<time_t>(accessTime);
  times[0].tv_nsec = 0;
  times[1].tv_sec = static_cast<time_t>(modificationTime);
  times[1].tv_nsec = 0;
  return ::futimens(fd_, times) == 0;
}

bool RawFile::Close(std::string* reason) {
  int fd = fd_;
  fd_ = -1;
  if (::close(fd) == 0) return true;
  SetReason(reason);
  return false;
}

}  // namespace marrowgate::platform
