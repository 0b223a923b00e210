#include "package/file/local_file_system.h"

#include <cstring>
#include <string>
#include <vector>

#include "package/file/disk_file.h"
#include "package/file/disk_listing.h"
#include "platform/durable_file.h"
#include "platform/env.h"
#include "platform/file_tree.h"

namespace marrowgate {

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// The path as the operating system takes it ('\\' becomes '/'); false when
// it is missing or too long.
bool NativePath(const char* path, std::string* out) {
  if (path == nullptr) return false;
  size_t length = std::strlen(path);
  if (length > static_cast<size_t>(kMaxDiskPath)) return false;
  out->assign(path, length);
  for (char& c : *out) {
    if (c == '\\') c = '/';
  }
  return true;
}

// "c:" style and "//" style paths get a second try with '/' appended.
bool WantsRootRetry(const std::string& path) {
  return path.size() >= 2 && (path[1] == '/' || path[1] == ':' || path[1] == '\\');
}

}  // namespace

FileSystem* CreateFileSystem() { return new LocalFileSystem(); }

VirtualFile* LocalFileSystem::Open(const char* path, int mode) {
  const char* streamMode = nullptr;
  switch (mode) {
    case kOpenRead: streamMode = "rb"; break;
    case kOpenCreate: streamMode = "wb+"; break;
    case kOpenUpdate: streamMode = "rb+"; break;
    default: return nullptr;
  }
  std::string native;
  if (!NativePath(path, &native)) return nullptr;
  return DiskFile::Open(native.c_str(), streamMode);
}

DirListing* LocalFileSystem::OpenListing(const char* path) {
  return new DiskListing(path != nullptr ? path : "");
}

int LocalFileSystem::MakeFolder(const char* path) {
  std::string native;
  if (!NativePath(path, &native)) return -1;
  if (native.empty()) return 0;
  platform::NodeStatus status;
  if (platform::StatusOf(native.c_str(), &status, nullptr))
    return (status.kind == platform::NodeKind::kFolder) ? 0 : -1;

  // Prefix ends: every separator that closes a non-empty component, and the
  // end of the path.
  std::vector<size_t> ends;
  for (size_t i = 1; i < native.size(); ++i) {
    if (native[i] == '/' && native[i - 1] != '/') ends.push_back(i);
  }
  if (native.back() != '/') ends.push_back(native.size());
  if (ends.empty()) return -1;

  // The longest prefix that exists; creation starts after it.
  size_t first = 0;
  for (size_t i = ends.size(); i > 0; --i) {
    std::string prefix = native.substr(0, ends[i - 1]);
    if (platform::PathAccessible(prefix.c_str())) {
      first = i;
      break;
    }
  }
  for (size_t i = first; i < ends.size(); ++i) {
    std::string prefix = native.substr(0, ends[i]);
    if (!platform::MakeFolder(prefix.c_str())) return -2;
  }
  return 0;
}

int LocalFileSystem::MakeParentFolder(const char* path) {
  if (path == nullptr) return -1;
  std::string text(path);
  size_t last = text.find_last_of("/\\");
  if (last == std::string::npos || last == 0) return 0;
  std::string folder = text.substr(0, last);
  if (Exists(folder.c_str())) return 0;
  return MakeFolder(folder.c_str());
}

bool LocalFileSystem::Exists(const char* path) {
  if (path != nullptr && *path == '\0') return true;
  std::string native;
  if (!NativePath(path, &native)) return false;
  return platform::PathAccessible(native.c_str());
}

bool LocalFileSystem::IsFolder(const char* path) {
  std::string native;
  if (!NativePath(path, &native)) return false;
  platform::NodeStatus status;
  if (platform::StatusOf(native.c_str(), &status, nullptr))
    return status.kind == platform::NodeKind::kFolder;
  std::string retry;
  if (!native.empty() && IsSeparator(native.back())) {
    retry = native;
    while (!retry.empty() && IsSeparator(retry.back())) retry.pop_back();
  } else if (WantsRootRetry(native)) {
    retry = native + "/";
  } else {
    return false;
  }
  return !retry.empty() && platform::StatusOf(retry.c_str(), &status, nullptr) &&
         status.kind == platform::NodeKind::kFolder;
}

int LocalFileSystem::Stat(const char* path, FileInfo* info) {
  if (info == nullptr) return -1;
  info->flags = 0;
  std::string native;
  if (path == nullptr) return -1;
  if (!NativePath(path, &native)) return -4;
  platform::NodeStatus status;
  // One call for anything but a link; a link is followed for the rest.
  bool found = platform::LinkStatusOf(native.c_str(), &status, nullptr);
  if (found && status.kind == platform::NodeKind::kLink) {
    info->flags |= kFileInfoLink;
    found = platform::StatusOf(native.c_str(), &status, nullptr);
  }
  if (!found) {
    if (!native.empty() && IsSeparator(native.back())) return -3;
    if (!WantsRootRetry(native)) return -1;
    std::string retry = native + "/";
    if (!platform::StatusOf(retry.c_str(), &status, nullptr)) return -2;
  }
  if (status.kind == platform::NodeKind::kFolder) {
    info->flags |= kFileInfoFolder;
  } else {
    info->size = status.size > INT32_MAX ? INT32_MAX : static_cast<int32_t>(status.size);
  }
  if (!status.writable) info->flags |= kFileInfoReadOnly;
  info->time = static_cast<int32_t>(status.modificationTime);
  return 0;
}

int LocalFileSystem::DeleteFile(const char* path) {
  std::string native;
  if (!NativePath(path, &native)) return -1;
  return platform::RemoveFile(native.c_str()) ? 0 : -1;
}

int LocalFileSystem::DeleteFolder(const char* path) {
  std::string native;
  if (!NativePath(path, &native)) return -1;
  return platform::RemoveFolder(native.c_str()) ? 0 : -1;
}

VirtualFile* LocalFileSystem::CreateFresh(const char* path) {
  std::string native;
  if (!NativePath(path, &native)) return nullptr;
  // Whatever holds the name already goes as a name, and the file is made
  // again; the name is mostly free, and then one call makes it.
  if (VirtualFile* file = DiskFile::Open(native.c_str(), "wxb+")) return file;
  platform::RemoveFile(native.c_str());
  return DiskFile::Open(native.c_str(), "wxb+");
}

int LocalFileSystem::ReplaceFile(const char* from, const char* to) {
  std::string nativeFrom, nativeTo;
  if (!NativePath(from, &nativeFrom) || !NativePath(to, &nativeTo)) return -1;
  return platform::ReplacePath(nativeFrom.c_str(), nativeTo.c_str()) ? 0 : -1;
}

int LocalFileSystem::ReplaceFileUnsynced(const char* from, const char* to) {
  std::string nativeFrom, nativeTo;
  if (!NativePath(from, &nativeFrom) || !NativePath(to, &nativeTo)) return -1;
  return platform::ReplacePathUnsynced(nativeFrom.c_str(), nativeTo.c_str()) ? 0 : -1;
}

int LocalFileSystem::ReplaceFreeNameUnsynced(const char* from, const char* to) {
  std::string nativeFrom, nativeTo;
  if (!NativePath(from, &nativeFrom) || !NativePath(to, &nativeTo)) return -1;
  return platform::MoveToFreeNameUnsynced(nativeFrom.c_str(), nativeTo.c_str()) ? 0 : -1;
}

int LocalFileSystem::MoveFolderToFreeName(const char* from, const char* to) {
  std::string nativeFrom, nativeTo;
  if (!NativePath(from, &nativeFrom) || !NativePath(to, &nativeTo)) return -1;
  return platform::MoveFolderToFreeName(nativeFrom.c_str(), nativeTo.c_str()) ? 0 : -1;
}

int LocalFileSystem::RemoveTree(const char* path) {
  std::string native;
  if (!NativePath(path, &native) || native.empty()) return -1;
  return platform::RemoveTreeNoFollow(native.c_str(), nullptr) ? 0 : -1;
}

int LocalFileSystem::SyncFolder(const char* path) {
  std::string native;
  if (!NativePath(path, &native)) return -1;
  return platform::SyncFolder(native.empty() ? "." : native.c_str()) ? 0 : -1;
}

LocalFileSystem::LocalFileSystem() : watch_(std::make_unique<platform::FileSystemWatch>()) {}

LocalFileSystem::~LocalFileSystem() = default;

int LocalFileSystem::SyncFileSystemsOf(const std::vector<std::string>& folders) {
  std::vector<std::string> natives;
  natives.reserve(folders.size());
  for (const std::string& folder : folders) {
    std::string native;
    if (!NativePath(folder.c_str(), &native)) return -1;
    natives.push_back(native.empty() ? "." : std::move(native));
  }
  std::lock_guard<std::mutex> hold(watchLock_);
  return watch_->Sync(natives) ? 0 : -1;
}

int LocalFileSystem::WatchFileSystemOf(const char* path) {
  std::string native;
  if (!NativePath(path, &native)) return -1;
  std::lock_guard<std::mutex> hold(watchLock_);
  return watch_->Watch(native.empty() ? "." : native) ? 0 : -1;
}

}  // namespace marrowgate
