// The file-system interface shared by the local FileSystem (the disk) and
// the FileManager (disk and packages as one namespace), with the records
// it hands out: FileInfo, ListingEntry and DirListing.
//
// Paths are narrow byte strings; '/' and '\\' both separate components.
#ifndef MARROWGATE_PACKAGE_FILE_FILE_SYSTEM_H_
#define MARROWGATE_PACKAGE_FILE_FILE_SYSTEM_H_

#include <cstdint>
#include <string>
#include <vector>

#include "package/file/open_mode.h"
#include "platform/env.h"
#include "package/file/virtual_file.h"

namespace marrowgate {

// Longest path text held in a fixed path buffer (259 characters and the
// terminator): the limit of a path inside a package (which packages
// store), and of every path the copy engine composes.
constexpr int kMaxPath = 259;

// Longest disk path, or disk path and path inside a package, that the
// file systems take: as long as the system allows, so that where a
// package lies never limits what it holds.
constexpr int kMaxDiskPath = platform::kMaxNativePath;

enum FileInfoFlags : int32_t {
  kFileInfoFolder = 0x01,
  kFileInfoReadOnly = 0x08,
  // The name is a symbolic link on disk (the other fields describe what it
  // leads to). A link is a name: callers that must not read beyond the
  // folder they work in check this before reading through it.
  kFileInfoLink = 0x40,
};

// File status filled by Stat.
struct FileInfo {
  int32_t flags = 0;  // kFileInfoFolder, kFileInfoReadOnly, kFileInfoLink
  int32_t time = 0;   // modification time (0 for folders inside packages)
  int32_t size = 0;   // length in bytes (not set for folders)
};

// One entry of a folder listing.
struct ListingEntry {
  uint8_t isFolder = 0;  // 1 folder, 0 file
  char name[263] = {};   // zero-terminated, no path
  uint32_t value = 0;    // first block of a package item; 0 otherwise
};

// Stores `name` into entry->name; false (entry unchanged) when it does not
// fit.
bool SetListingName(ListingEntry* entry, const char* name);

class DirListing {
 public:
  DirListing() = default;
  DirListing(const DirListing&) = delete;
  DirListing& operator=(const DirListing&) = delete;

  virtual void Release() { delete this; }
  // The listed folder's path.
  virtual const char* BasePath() = 0;
  // The next entry, valid until the next call; null at the end.
  virtual const ListingEntry* Next() = 0;
  // Starts the listing again from its first entry.
  virtual void Rewind() = 0;

 protected:
  virtual ~DirListing() = default;
};

class FileSystem {
 public:
  FileSystem() = default;
  FileSystem(const FileSystem&) = delete;
  FileSystem& operator=(const FileSystem&) = delete;

  virtual void Release() { delete this; }

  // Opens a file in an OpenMode; null on failure.
  virtual VirtualFile* Open(const char* path, int mode) = 0;
  // Lists a folder; see each implementation for a missing folder.
  virtual DirListing* OpenListing(const char* path) = 0;
  // Makes a folder and its missing parents. 0 or negative.
  virtual int MakeFolder(const char* path) = 0;
  // Makes the folder part of a file path (0 when there is none).
  virtual int MakeParentFolder(const char* path) = 0;
  // True when Stat succeeds (the local disk: the path is accessible).
  virtual bool Exists(const char* path) = 0;
  // True when Stat succeeds and reports a folder.
  virtual bool IsFolder(const char* path) = 0;
  virtual int Stat(const char* path, FileInfo* info) = 0;
  virtual int DeleteFile(const char* path) = 0;
  // Removes an empty folder.
  virtual int DeleteFolder(const char* path) = 0;
  // Puts the file `from` in the place of the file `to` in one step: a crash
  // leaves `to` as it was or as `from` held it, never a mix. A replaced
  // file keeps its permission bits. Both lie in the same folder. 0, or
  // negative when it cannot be done (-1 where the file system has no such
  // operation).
  virtual int ReplaceFile(const char* /*from*/, const char* /*to*/) { return -1; }
  // ReplaceFile whose new folder entry is not yet durable: until
  // SyncFolder of the folder returned, a crash may leave `to` as it was
  // (still whole). For a writer that replaces many files of a folder and
  // pays for the folder once. Defaults to ReplaceFile.
  virtual int ReplaceFileUnsynced(const char* from, const char* to) {
    return ReplaceFile(from, to);
  }
  // ReplaceFileUnsynced for a `to` that was free when `from` was made: the
  // same outcome (a file found there after all is replaced, and keeps its
  // permission bits), at a call fewer while the name is still free.
  // Defaults to ReplaceFileUnsynced.
  virtual int ReplaceFreeNameUnsynced(const char* from, const char* to) {
    return ReplaceFileUnsynced(from, to);
  }
  // Moves the disk folder `from`, with everything in it, to the free name
  // `to` in the same folder, in one step: afterwards every file of the
  // folder is at its name below `to`. Fails, leaving both as they are,
  // when anything is at `to`. Durable as ReplaceFileUnsynced. 0, or
  // negative (-1 where the file system has no such move).
  virtual int MoveFolderToFreeName(const char* /*from*/, const char* /*to*/) { return -1; }
  // Removes what is at the disk path `path` as a name: a file or a link
  // (never followed) is deleted, a folder with everything in it. 0 when
  // nothing is left there (also when nothing was). By default DeleteFile,
  // else DeleteFolder of an empty folder.
  virtual int RemoveTree(const char* path) {
    if (DeleteFile(path) == 0 || DeleteFolder(path) == 0) return 0;
    return Exists(path) ? -1 : 0;
  }
  // Makes the entries of the disk folder `path` (created, replaced,
  // removed) durable. 0, or negative; 0 where nothing needs doing.
  virtual int SyncFolder(const char* /*path*/) { return 0; }
  // Puts on the device everything written so far to the disk file systems
  // holding the given folders: the data of files written and closed there,
  // and their folders' entries. 0, or negative when it cannot be done
  // (-1 where the file system has no such operation, as on Windows): the
  // writer then flushes each file (VirtualFile::Flush) and syncs each
  // folder itself.
  virtual int SyncFileSystemsOf(const std::vector<std::string>& /*folders*/) { return -1; }
  // Called before the first write into the disk folder `path` of a batch
  // that SyncFileSystemsOf will put on the device: from here on that sync
  // reports every write error of the folder's file system, also one that
  // strikes before the sync is called. 0, or negative (-1 where there is no
  // such sync).
  virtual int WatchFileSystemOf(const char* /*path*/) { return -1; }
  // True when a file created at `path` goes to the local disk, where
  // replacing it whole is done by writing a staged file and ReplaceFile.
  // (An item inside a package is replaced whole by the package's commit.)
  virtual bool WritesToDisk(const char* /*path*/) { return false; }
  // True when nothing is at the disk path `path` as far as this file
  // system knows without asking the disk: it made the folder empty during
  // its life and has made nothing of that name there since. False says
  // nothing (Stat tells). A writer may then skip its Stat of a new name;
  // what another process put there meanwhile is still replaced whole.
  virtual bool NameKnownFree(const char* /*path*/) { return false; }
  // True when `path` is the file of a package this file system holds open
  // (mounted); such a file must not be replaced or truncated through it.
  virtual bool IsOpenPackageFile(const char* /*path*/) { return false; }
  // Creates `path` as a new, empty file opened as mode 2 opens it, after
  // removing the entry of that name: a link there is removed as a link and
  // never written through, and another name of the same file (a hard link)
  // keeps its content. For the names a writer makes for itself (temporary
  // and staging files), where whatever lies at the name must not redirect
  // the write. Null on failure. Where there are no links (the default) this
  // is DeleteFile and Open in mode 2.
  virtual VirtualFile* CreateFresh(const char* path) {
    DeleteFile(path);
    return Open(path, kOpenCreate);
  }
  // Lists the folder's own entries as the disk holds them, for clean-ups
  // of files a writer left on the disk: no package file is opened or shown
  // as a folder. Null where the folder is not on the disk. By default (a
  // file system without packages) this is OpenListing.
  virtual DirListing* OpenDiskListing(const char* path) { return OpenListing(path); }

 protected:
  virtual ~FileSystem() = default;
};

// A new local (disk) file system.
FileSystem* CreateFileSystem();

}  // namespace marrowgate

#endif  // MARROWGATE_PACKAGE_FILE_FILE_SYSTEM_H_
