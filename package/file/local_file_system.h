// LocalFileSystem: the FileSystem of the local disk (made by
// CreateFileSystem in package/file/file_system.h). Its only state is the
// handles SyncFileSystemsOf syncs through, kept from WatchFileSystemOf on.
//
// Both '/' and '\\' separate path components. Paths longer than kMaxDiskPath
// characters are refused (null or a negative code; Exists and IsFolder
// give false).
//
//   Open          mode 1 "rb", 2 "wb+", 3 "rb+" as a DiskFile; else null.
//   OpenListing   a DiskListing; never null, a missing folder lists nothing.
//   MakeFolder    0 made or already a folder; -1 the path exists as a file
//                 or has no component; -2 a level could not be created.
//   ReplaceFile   0, or -1 (see FileSystem::ReplaceFile).
//   Stat          0; -1 unreadable; -2 unreadable also as "<path>/" when the
//                 second character is '/', ':' or '\\'; -3 unreadable path
//                 ending in a separator; -4 path too long.
#ifndef MARROWGATE_PACKAGE_FILE_LOCAL_FILE_SYSTEM_H_
#define MARROWGATE_PACKAGE_FILE_LOCAL_FILE_SYSTEM_H_

#include <memory>
#include <mutex>

#include "package/file/file_system.h"

namespace marrowgate::platform {
class FileSystemWatch;
}

namespace marrowgate {

class LocalFileSystem : public FileSystem {
 public:
  LocalFileSystem();
  ~LocalFileSystem() override;

  VirtualFile* Open(const char* path, int mode) override;
  DirListing* OpenListing(const char* path) override;
  int MakeFolder(const char* path) override;
  int MakeParentFolder(const char* path) override;
  bool Exists(const char* path) override;
  bool IsFolder(const char* path) override;
  int Stat(const char* path, FileInfo* info) override;
  int DeleteFile(const char* path) override;
  int DeleteFolder(const char* path) override;
  // Through platform::ReplacePath; -1 when either path is unusable or the
  // move fails.
  int ReplaceFile(const char* from, const char* to) override;
  int ReplaceFileUnsynced(const char* from, const char* to) override;
  int ReplaceFreeNameUnsynced(const char* from, const char* to) override;
  int MoveFolderToFreeName(const char* from, const char* to) override;
  // Through platform::RemoveTreeNoFollow: links inside go as links, and a
  // file system mounted below is left alone (-1).
  int RemoveTree(const char* path) override;
  int SyncFolder(const char* path) override;
  int SyncFileSystemsOf(const std::vector<std::string>& folders) override;
  int WatchFileSystemOf(const char* path) override;
  bool WritesToDisk(const char* /*path*/) override { return true; }
  // Unlinks the name (a folder there makes it fail) and creates the file
  // exclusively, so nothing planted at the name is followed.
  VirtualFile* CreateFresh(const char* path) override;

 private:
  std::mutex watchLock_;
  std::unique_ptr<platform::FileSystemWatch> watch_;
};

}  // namespace marrowgate

#endif  // MARROWGATE_PACKAGE_FILE_LOCAL_FILE_SYSTEM_H_
