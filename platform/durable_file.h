// Durable writes: pushing a stream's bytes through to the storage device
// and replacing one file by another so that a crash leaves either of them,
// never a mix. Used where a write must survive power loss or a killed
// process (the copy engine's whole-file replacement, a package's commit).
//
// Conventions as in env.h: false on failure, nothing throws.
#ifndef MARROWGATE_PLATFORM_DURABLE_FILE_H_
#define MARROWGATE_PLATFORM_DURABLE_FILE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/env.h"

namespace marrowgate::platform {

// Empties the stream's buffer and asks the system to put the file's data on
// the device before returning (a buffered flush alone only reaches the
// system's cache).
bool SyncStream(FileStream* stream);

// Moves `from` over `to` in one step: afterwards `to` names what `from`
// held, and a crash in between leaves `to` as it was or as it became, with
// `from` possibly still present. When `to` existed, the moved file first
// takes its permission bits (a replaced program stays runnable, a read-only
// file stays read-only). Both paths must lie in the same folder. The
// folder's new entry is made durable where the system allows.
bool ReplacePath(const char* from, const char* to);

// ReplacePath without making the folder's new entry durable: after a crash
// `to` may still be the old file until SyncFolder of its folder returned.
// For a writer that moves many files into one folder and syncs it once.
bool ReplacePathUnsynced(const char* from, const char* to);

// ReplacePathUnsynced for a `to` that was free a moment ago: moved there in
// one call while it still is; a file found there after all is replaced as
// ReplacePathUnsynced replaces it.
bool MoveToFreeNameUnsynced(const char* from, const char* to);

// Moves the folder `from`, with everything in it, to the name `to` in the
// same folder, only while nothing is at `to`: a folder, file or link found
// there fails the move and is left as it is. Not durable until SyncFolder
// of the folder (or a sync of its file system) returned.
bool MoveFolderToFreeName(const char* from, const char* to);

// The permission bits of a file as the system keeps them (on POSIX the
// mode's low 12 bits), -1 when they cannot be read. For checks only.
int PermissionBits(const char* path);

// Makes a folder's entries (files created, renamed or removed in it)
// durable. False when the folder cannot be opened or synced.
bool SyncFolder(const char* path);

// Puts on the device everything written to the file systems that hold the
// given folders (file data and folder entries alike), once per file system
// (on Linux syncfs). For a writer that wrote many files and pays for them
// together instead of one flush per file. False when a folder cannot be
// opened, a sync reports an error, or the system has no such call (on
// Windows): the caller then flushes each file itself (SyncStream).
bool SyncFileSystemsOf(const std::vector<std::string>& folders);

// SyncFileSystemsOf for a writer that must learn of every write error of
// a batch. A sync reports the write-back errors of a file system that
// happened since the handle it syncs through was opened (Linux keeps one
// error mark per file system and open handle): a handle opened only after
// the writes misses an error that struck before. So the writer watches the
// folders it is about to write into (before the first write) and syncs
// through the handles kept from then on; each sync reports the errors since
// the previous one through the same handle.
class FileSystemWatch {
 public:
  FileSystemWatch() = default;
  ~FileSystemWatch();
  FileSystemWatch(const FileSystemWatch&) = delete;
  FileSystemWatch& operator=(const FileSystemWatch&) = delete;

  // Keeps a handle on the file system holding `folder` unless one is kept
  // already. False when the folder cannot be opened or the system has no
  // such sync (Windows).
  bool Watch(const std::string& folder);
  // Syncs the file systems holding `folders`, each once, through the handle
  // kept for it (a folder on a file system not watched gets a handle now,
  // kept from then on). False as SyncFileSystemsOf.
  bool Sync(const std::vector<std::string>& folders);

 private:
  struct Kept {
    uint64_t device;
    intptr_t handle;
  };
  // The kept handle of the file system holding `folder` (kept now when
  // there was none), or -1.
  intptr_t HandleFor(const std::string& folder);
  std::vector<Kept> kept_;
};

}  // namespace marrowgate::platform

#endif  // MARROWGATE_PLATFORM_DURABLE_FILE_H_
