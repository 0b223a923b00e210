// FileManager: one file system over the local disk and packages. A path may
// run through a package as if it were a folder: "d:/game/patch/a.txt" is
// item "a.txt" of the package "d:/game/patch.dpk", or of the package
// appended to "d:/game/patch.exe" (when hosts are accepted), or of the
// package mounted under "d:/game/patch" by OpenPackage. Packages are
// mounted on first use and stay mounted (in the mode of that first use)
// until the file manager is destroyed, which closes and so saves them.
//
// Every path is normalised first (package/manager/normalise_path.h); relative
// paths resolve against the working folder at the time of each call.
//
// What a lookup learns about a disk prefix (no package file there, or a
// ".dpk" there that is not a package and so ends the search) and the disk
// folders the file manager has made or found are kept for its lifetime, so
// that a path costs its disk probes once and not on every call. The file
// manager's own changes keep this up to date: mounting and closing
// packages, and writing, replacing or deleting a ".dpk" or ".exe" file or
// deleting a folder on the disk side. A folder it made itself (one that was
// not there) holds no package until it writes a ".dpk" or ".exe" file into
// it, so the names in it cost no probes. A file changed behind its back (not
// through it) may be seen late; a package file it writes through Open is
// probed afresh on every lookup. Likewise a disk path IsOpenPackageFile
// found not to be a mounted package's file, or one the file manager wrote
// or replaced itself, is not looked at again until a package is mounted.
// A whole path may be as long as the system allows (kMaxDiskPath); the
// part of it inside a package is the item's path, relative to the
// package, and is held to kMaxPath. So where a package lies never limits
// what can be reached in it.
//
// Search modes (FileManagerConfig::searchMode):
//   0  disk only.
//   1  packages only.
//   2  disk, then packages; listings are merged with disk entries winning;
//      folders are made on the disk only.
//   3  packages first. Open and OpenListing turn to the disk only when the
//      path reached no package; Stat and the deletes turn to the disk when
//      the package call fails; MakeFolder turns to the disk only when no
//      package was found.
// Any other search mode makes every operation fail (-1 or null).
//
// Codes: Stat/DeleteFile/DeleteFolder give -100 on the package side when
// no package was found. MakeFolder on the package side gives -1 when no
// package was found and the package's code less 10 when it fails; in mode
// 3 a disk failure d is returned as d - 2000 and a package failure p as
// p - 1000.
#ifndef MARROWGATE_PACKAGE_MANAGER_FILE_MANAGER_H_
#define MARROWGATE_PACKAGE_MANAGER_FILE_MANAGER_H_

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "keys/cipher_object.h"
#include "package/file/file_system.h"
#include "package/store/package.h"
#include "package/seal/zlib_codec.h"
#include "platform/file_identity.h"
#include "util/hash_table.h"

namespace marrowgate {

// The settings of CreateFileManager.
struct FileManagerOptions {
  uint8_t searchMode = 3;
  uint8_t acceptHosts = 0;        // mount packages appended to executables
  int defaultMode = kOpenRead;    // OpenMode of packages opened on demand
  int cipherKind = 0;             // handed to KeyFactory::CreateCipher
  int blockSizeHint = 1024;       // not used: new packages use 1024
  uint8_t keyA[128] = {};         // first password
  int keyALen = 0;                // 0..128
  uint8_t keyB[128] = {};         // second password
  int keyBLen = 0;                // 0..128; 0 = no key B
};

// A package path and the OpenMode to open it in (see SetPackageMode).
struct PackageModeEntry {
  const char* path;  // null ends a list
  int mode;
};

// The settings a FileManager is constructed with (copied whole).
struct FileManagerConfig {
  uint8_t searchMode = 3;
  uint8_t acceptHosts = 0;
  uint8_t ownFileSystem = 0;         // release fileSystem at destruction
  uint8_t reservedFlags[3] = {0, 0, 1};  // carried, not consulted
  FileSystem* fileSystem = nullptr;  // the local file system (required)
  int defaultMode = kOpenRead;       // OpenMode of packages opened on demand
  ZlibCodec* compressor = nullptr;   // handed to every package
  CipherObject* cipherAEnc = nullptr;
  CipherObject* cipherADec = nullptr;
  CipherObject* cipherBEnc = nullptr;
  CipherObject* cipherBDec = nullptr;
  int blockSize = 1024;              // for new packages
  uint8_t keyA[128] = {};
  int keyALen = 0;                   // 0..128; other lengths refuse packages
  uint8_t keyB[128] = {};
  int keyBLen = 0;
  // Applied through SetPackageMode at construction; null for none.
  const PackageModeEntry* mountList = nullptr;
};

class FileManager : public FileSystem {
 public:
  explicit FileManager(const FileManagerConfig& config);

  VirtualFile* Open(const char* path, int mode) override;
  // Disk listings show package files as folders (package_aware_listing.h),
  // and such a folder path lists the package's root. Mode 0 gives null
  // for a path that is not a disk folder.
  DirListing* OpenListing(const char* path) override;
  int MakeFolder(const char* path) override;
  // Makes the folder part of `path`; 0 when the path has no separator.
  int MakeParentFolder(const char* path) override;
  bool Exists(const char* path) override;
  bool IsFolder(const char* path) override;
  int Stat(const char* path, FileInfo* info) override;
  int DeleteFile(const char* path) override;
  // On the package side this removes the folder with everything below it.
  int DeleteFolder(const char* path) override;
  // On the disk side only: both paths must be ones WritesToDisk accepts
  // (-1 otherwise).
  int ReplaceFile(const char* from, const char* to) override;
  // As ReplaceFile, on the disk side only.
  int ReplaceFileUnsynced(const char* from, const char* to) override;
  int ReplaceFreeNameUnsynced(const char* from, const char* to) override;
  // On the disk side only, as ReplaceFile; what was known of the paths
  // below either name is forgotten.
  int MoveFolderToFreeName(const char* from, const char* to) override;
  // On the disk side only; a mounted package's file is not removed (-1).
  int RemoveTree(const char* path) override;
  // The disk folder `path` (a path that reaches no package); -1 otherwise.
  int SyncFolder(const char* path) override;
  // The disk folders (paths that reach no package); -1 otherwise.
  int SyncFileSystemsOf(const std::vector<std::string>& folders) override;
  // The disk folder `path` (a path that reaches no package); -1 otherwise.
  int WatchFileSystemOf(const char* path) override;
  // Search modes 0 and 2: true; mode 1: false; mode 3: true when the path
  // reaches no package.
  bool WritesToDisk(const char* path) override;
  bool NameKnownFree(const char* path) override;
  // True when `path` is the file of a mounted package: its mount path with
  // the extension ".dpk" or ".exe" (or none), or the same disk file under
  // another name. Open for writing (modes 2 and 4 on the disk side) and
  // ReplaceFile refuse such a path, so that a package in use is never
  // overwritten under the file manager.
  bool IsOpenPackageFile(const char* path) override;
  // On the disk side the disk's CreateFresh; inside a package (where there
  // are no links) an item opened in mode 2.
  VirtualFile* CreateFresh(const char* path) override;
  // The disk folder as the disk lists it (packages are neither probed nor
  // shown as folders); null in search mode 1 and where the path leads into
  // a package.
  DirListing* OpenDiskListing(const char* path) override;

  // Opens path + extension in packages opened afterwards in `mode` (0
  // removes the entry). 0, or -1 when the path is unusable.
  int SetPackageMode(const char* path, int mode);

  // Mounts the package file path + extension under `path` (extension may
  // be "", e.g. for a program without one) and returns it. A mode set by
  // SetPackageMode wins over `mode`. A path already mounted gives its
  // package when it was opened in the same mode, otherwise null; so does a
  // path that names the file of a mounted package in another spelling (a
  // disk file is never mounted twice). Null when
  // the file is not a package (a host carrying one needs acceptHosts) or
  // cannot be opened. Mode 2 re-creates the package (for a host: its
  // window) and needs the file to exist. The file manager owns the result.
  Package* OpenPackage(const char* path, const char* extension, int mode);

  // Makes sure a package for `path` exists.
  //   0    already mounted; or (mode 0) path + extension is a package; or
  //        it was mounted; or (mode 2, or no such file) a new one was
  //        created and mounted. Mode 2 over a host that carries a package
  //        re-creates the package in its window and keeps the host's own
  //        content; over any other file it replaces the file.
  //   -1   path + extension exists but is not a package (left unchanged);
  //   -2   it is a package but could not be opened;
  //   -11  its folders could not be made; -21 the file could not be
  //        created; -22 the package could not be created (a file made for
  //        it is removed again); -23 it could not be mounted: the file is
  //        the package already mounted under another spelling of the path
  //        (it is left as it is).
  // A package made because none was there (modes 0, 1 and 3, on the local
  // disk) is made whole under the staging name path + extension +
  // kStagingSuffix, saved empty and moved into place, then mounted for
  // update: from its first appearance it is a package, and what is
  // written into it later commits as any update does (package/store/package.h).
  // Mode 2 writes the new package in place and mounts it in mode 2.
  int EnsurePackage(const char* path, const char* extension, int mode);

  // Unmounts the package mounted under `path` and closes it, so that a
  // caller learns whether saving it succeeded (destruction closes packages
  // too, but cannot report). Returns Close's result, or -1 when nothing is
  // mounted there.
  int ClosePackage(const char* path);

  // Unmounts and closes every mounted package, as destruction would, but
  // reports: 0 when all of them were saved, else the first failing
  // Close's result, with the mount path of each package that failed
  // appended to `failed` (optional).
  int CloseAllPackages(std::vector<std::string>* failed);

  // The package a path leads into, mounting it when it is found on disk;
  // null when none. `remainder` (optional) receives the rest of the path
  // inside the package. With `itemPath` the last component names an item,
  // so the full path is never itself taken as a package.
  Package* FindPackage(const char* path, bool itemPath, std::string* remainder);

  // Whether the last package lookup of Open or OpenListing found a package.
  bool ReachedPackage() const { return reachedPackage_; }

  const FileManagerConfig& config() const { return config_; }
  // The disk side.
  FileSystem* fileSystem() const { return config_.fileSystem; }

 protected:
  ~FileManager() override;

 private:
  friend FileManager* CreateFileManager(const FileManagerOptions& options);

  Package* FindNormalised(const std::string& path, bool itemPath, size_t* remainderAt);
  // OpenPackage of a normalised path. With `lookup` (a path walk), a file
  // already mounted under another key is returned whatever its mode.
  Package* OpenNormalised(const std::string& path, const char* extension, int mode,
                          bool lookup = false);
  // A new Package over `file` (taken over), or null.
  Package* NewPackage(VirtualFile* file, int mode, const std::string& name);
  // Enters the package under `path`, and under the identity of its disk
  // file when known. False when the path is taken.
  // EnsurePackage's creation on a file system that is not the local disk:
  // the package is written in place and mounted in mode 2.
  int CreateInPlace(const std::string& key, const std::string& filePath, bool existed);
  bool Mount(const std::string& path, Package* package, const platform::FileIdentity* identity);
  // The package mounted over the disk file of `identity`, whatever key it
  // was mounted under; null when none.
  Package* MountedFile(const platform::FileIdentity& identity) const;
  // The disk folder at `path` with packages shown as folders (a
  // PackageAwareListing); the package folder at `path`.
  DirListing* OpenPackageAwareDiskListing(const std::string& path);
  DirListing* OpenPackageFolderListing(const std::string& path);
  int PackageStat(const std::string& path, FileInfo* info);
  // The disk side of Stat; a path the local disk does not find is noted as
  // no mounted package's file.
  int DiskStat(const std::string& key, FileInfo* info);
  // Notes `key` in notPackageFiles_ (only while a mounted file is known).
  void NoteNotPackageFile(std::string key);
  int PackageDelete(const std::string& path);
  int PackageMakeFolder(const std::string& path);
  // The disk side of MakeFolder, DeleteFile and DeleteFolder, keeping the
  // prefix facts.
  int DiskMakeFolder(const std::string& path);
  int DiskDeleteFile(const std::string& path);
  int DiskDeleteFolder(const std::string& path);

  // Prefix facts (see the head of this file). A prefix is a normalised
  // path without a trailing separator.
  enum PrefixFact : uint8_t {
    kNoPackageHere = 1,  // neither ".dpk" nor ".exe" of it is a package
    kStopsSearch = 2,    // its ".dpk" exists and is not a package
    kDiskFolder = 4,     // a folder on the disk
    kMadeEmpty = 8,      // a disk folder made here; no package file in it
    kNoDiskFolder = 16,  // no folder on the disk (a file, or nothing)
  };
  // The package facts of `prefix` (kNoPackageHere, kStopsSearch), or 0
  // when unknown.
  uint8_t KnownPackageFacts(const std::string& prefix) const;
  void LearnFact(const std::string& prefix, uint8_t fact);
  bool KnownDiskFolder(const std::string& folder) const;
  // True when the mount key `key` names no folder on the disk, so that no
  // disk path lies below it (asked of the disk once, then kept).
  bool NoDiskFolderAt(const std::string& key);
  // Forgets every package fact, kMadeEmpty included (a package file was
  // written, replaced or removed, or a package was mounted or closed).
  void ForgetPackageFacts();
  // Forgets everything learnt (a disk folder was removed).
  void ForgetAllFacts();
  // ReplaceFile and ReplaceFileUnsynced: the same checks, then the file
  // system's replace with or without the folder sync.
  int ReplaceOnDisk(const char* from, const char* to, bool synced, bool freeName = false);
  // Called before the disk side writes, replaces or removes `path`: a
  // package file there changes what lookups find. With `open`, the file
  // stays open for writing in the caller's hands, so its stem is probed
  // afresh on every lookup from now on.
  void DiskFileChanging(const std::string& path, bool open);

  FileManagerConfig config_;
  std::unordered_map<std::string, uint8_t> prefixFacts_;
  // The folder of the last item lookup answered from facts alone or by a
  // mounted package, and that answer (the package, or null for none, and
  // where the rest of the path begins): the next name in that folder is
  // answered without taking the path apart again. Cleared with the facts,
  // and by a mount.
  struct FolderAnswer {
    std::string folder;
    Package* package = nullptr;
    size_t remainderAt = 0;
  };
  FolderAnswer lastFolder_;
  // Names (folded to lower case) made on the disk through this manager
  // in folders it made empty: the rest of such a folder's names are free.
  std::unordered_set<std::string> namesMade_;
  void NoteNameMade(const std::string& key);
  // NameKnownFree for a normalised disk key.
  bool KnownFreeKey(const std::string& key) const;
  // True when `key`'s folder is one this manager made empty.
  bool InFolderMadeEmpty(const std::string& key) const;
  // Lower-case stems of package files opened for writing through Open.
  std::unordered_set<std::string> unsettled_;
  // Disk paths known not to be the file of a mounted package (see the head
  // of this file); emptied whenever a package is mounted.
  std::unordered_set<std::string> notPackageFiles_;
  StringHashMap<Package*> mounted_;
  // The disk files of the mounted packages, so that another spelling of a
  // mounted package's path reaches the same package.
  std::vector<std::pair<platform::FileIdentity, Package*>> mountedFiles_;
  StringHashMap<int> modes_;
  bool reachedPackage_ = false;

  // Releases the parts CreateFileManager made (codec, ciphers, key
  // factory), after everything else.
  std::function<void()> releaseParts_;
};

// A file manager over a new local file system, zlib codec and cipher
// objects made by a new key factory with options.cipherKind (cipher B only
// when keyBLen > 0); block size 1024; no mount list. Null when a password
// length lies outside 0..128 or a part cannot be made.
FileManager* CreateFileManager(const FileManagerOptions& options);

}  // namespace marrowgate

#endif  // MARROWGATE_PACKAGE_MANAGER_FILE_MANAGER_H_
