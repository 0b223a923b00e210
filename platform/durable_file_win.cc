// Windows implementation of durable writes: FlushFileBuffers, and
// MoveFileExA with write-through for the replacement.
#include "platform/durable_file.h"

#include <windows.h>
#include <io.h>

#include <cstdio>

#include "platform/win_error.h"

namespace marrowgate::platform {

bool SyncStream(FileStream* stream) {
  if (stream == nullptr) return false;
  FILE* file = reinterpret_cast<FILE*>(stream->Handle());
  if (file == nullptr || std::fflush(file) != 0) return false;
  const intptr_t handle = _get_osfhandle(_fileno(file));
  if (handle == -1) return false;
  return FlushFileBuffers(reinterpret_cast<HANDLE>(handle)) != 0;
}

// A folder's entries cannot be flushed through a handle on Windows; the
// write-through move of ReplacePath makes its own entry durable. Here the
// folder must exist and be a folder.
bool SyncFolder(const char* path) {
  if (path == nullptr) return false;
  const DWORD attributes = GetFileAttributesA(*path ? path : ".");
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Flushing a whole volume needs administrator rights on Windows: the
// caller flushes each file (FlushFileBuffers through SyncStream) instead.
bool SyncFileSystemsOf(const std::vector<std::string>& /*folders*/) { return false; }

// Likewise nothing to watch: each file is flushed by itself.
FileSystemWatch::~FileSystemWatch() = default;
intptr_t FileSystemWatch::HandleFor(const std::string& /*folder*/) { return -1; }
bool FileSystemWatch::Watch(const std::string& /*folder*/) { return false; }
bool FileSystemWatch::Sync(const std::vector<std::string>& /*folders*/) { return false; }

// POSIX-like bits from the attributes: read-only files 0444, others
// 0666; folders add the search bits.
int PermissionBits(const char* path) {
  if (path == nullptr) return -1;
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return -1;
  int bits = (attributes & FILE_ATTRIBUTE_READONLY) != 0 ? 0444 : 0666;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) bits |= 0111;
  return bits;
}

// The write-through move is the only durable replace here; the unsynced
// one is the same move.
bool ReplacePathUnsynced(const char* from, const char* to) { return ReplacePath(from, to); }

bool MoveToFreeNameUnsynced(const char* from, const char* to) {
  if (from == nullptr || to == nullptr) return false;
  if (MoveFileExA(from, to, MOVEFILE_WRITE_THROUGH)) return true;
  // Taken meanwhile: the full way.
  return ReplacePath(from, to);
}

// Without MOVEFILE_REPLACE_EXISTING a move never replaces what is there.
bool MoveFolderToFreeName(const char* from, const char* to) {
  if (from == nullptr || to == nullptr) return false;
  if (MoveFileExA(from, to, 0)) return true;
  ReasonFromLastWindowsError(nullptr);
  return false;
}

bool ReplacePath(const char* from, const char* to) {
  if (from == nullptr || to == nullptr) return false;
  const DWORD existing = GetFileAttributesA(to);
  bool readOnly = false;
  if (existing != INVALID_FILE_ATTRIBUTES) {
    if ((existing & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
    // A read-only file cannot be moved over: the attribute is taken off
    // for the move and put on the new file afterwards.
    readOnly = (existing & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly && !SetFileAttributesA(to, existing & ~FILE_ATTRIBUTE_READONLY)) return false;
  }
  if (!MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    ReasonFromLastWindowsError(nullptr);
    if (readOnly) SetFileAttributesA(to, existing);
    return false;
  }
  if (readOnly) {
    const DWORD moved = GetFileAttributesA(to);
    if (moved == INVALID_FILE_ATTRIBUTES ||
        !SetFileAttributesA(to, moved | FILE_ATTRIBUTE_READONLY)) {
      return false;
    }
  }
  return true;
}

}  // namespace marrowgate::platform
