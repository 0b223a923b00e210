#include "package/manager/file_manager.h"

#include "package/file/staging_name.h"
#include "package/seal/sealed_file.h"

#include <cstring>
#include <string>
#include <vector>

#include "package/file/disk_file.h"
#include "package/file/local_file_system.h"
#include "package/manager/merged_listing.h"
#include "package/manager/normalise_path.h"
#include "package/manager/package_aware_listing.h"
#include "package/store/tail_file.h"
#include "platform/env.h"
#include "platform/file_identity.h"
#include "util/releaser.h"

namespace marrowgate {

namespace {

constexpr const char* kPackageExtensions[] = {".dpk", ".exe"};

// The most paths FileManager::notPackageFiles_ keeps before it starts over.
constexpr size_t kNotPackageFilesKept = 4096;

// The identity of a file opened from the disk; false for any other file.
bool IdentityOf(VirtualFile* file, platform::FileIdentity* identity) {
  auto* disk = dynamic_cast<DiskFile*>(file);
  return disk != nullptr && disk->Identity(identity);
}

// The mount-table key of a package path: normalised, without a trailing
// separator.
bool PackageKey(const char* path, std::string* out) {
  if (!NormalisePath(path, out)) return false;
  while (out->size() > 1 && out->back() == '/') out->pop_back();
  return true;
}

// The lower-case text of `text` (ASCII letters only).
std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The stem of a path ending in a package extension (in any case), the
// path without it; empty for any other path.
std::string PackageStemOf(const std::string& path) {
  if (path.size() <= 4) return std::string();
  const std::string extension = Lower(path.substr(path.size() - 4));
  for (const char* candidate : kPackageExtensions) {
    if (extension == candidate) return path.substr(0, path.size() - 4);
  }
  return std::string();
}

// `path` without trailing separators (a root keeps its own).
std::string WithoutTrailingSeparator(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

FileManager::FileManager(const FileManagerConfig& config) : config_(config) {
  if (config_.mountList != nullptr) {
    for (const PackageModeEntry* entry = config_.mountList; entry->path != nullptr; ++entry) {
      SetPackageMode(entry->path, entry->mode);
    }
  }
}

FileManager::~FileManager() {
  mounted_.ForEach([](std::string_view path, Package*& package) {
    int result = package->Close();
    if (result != 0) {
      std::string message = "marrowgate, closing package " + std::string(path) +
                            " failed: " + std::to_string(result) + "\n";
      platform::DebugOutput(message.c_str());
    }
    package->Release();
    package = nullptr;
  });
  mounted_.Clear();
  mountedFiles_.clear();
  modes_.Clear();
  if (config_.ownFileSystem && config_.fileSystem != nullptr) config_.fileSystem->Release();
  if (releaseParts_) releaseParts_();
}

// ------------------------------------------------------------ prefix facts

uint8_t FileManager::KnownPackageFacts(const std::string& prefix) const {
  if (!unsettled_.empty() && unsettled_.count(Lower(prefix)) != 0) return 0;
  auto it = prefixFacts_.find(prefix);
  if (it != prefixFacts_.end() && (it->second & (kNoPackageHere | kStopsSearch)) != 0)
    return it->second & (kNoPackageHere | kStopsSearch);
  // A name in a folder this file manager made holds no package.
  return InFolderMadeEmpty(prefix) ? kNoPackageHere : 0;
}

bool FileManager::InFolderMadeEmpty(const std::string& key) const {
  const size_t slash = key.rfind('/');
  if (slash == std::string::npos || slash == 0) return false;
  auto folder = prefixFacts_.find(key.substr(0, slash));
  return folder != prefixFacts_.end() && (folder->second & kMadeEmpty) != 0;
}

void FileManager::LearnFact(const std::string& prefix, uint8_t fact) {
  if ((fact & (kNoPackageHere | kStopsSearch)) != 0 && !unsettled_.empty() &&
      unsettled_.count(Lower(prefix)) != 0)
    return;
  uint8_t& known = prefixFacts_[prefix];
  if ((fact & kDiskFolder) != 0) known &= static_cast<uint8_t>(~kNoDiskFolder);
  known |= fact;
}

bool FileManager::NoDiskFolderAt(const std::string& key) {
  auto it = prefixFacts_.find(key);
  if (it != prefixFacts_.end() && (it->second & (kDiskFolder | kNoDiskFolder)) != 0)
    return (it->second & kNoDiskFolder) != 0;
  const bool folder = config_.fileSystem->IsFolder(key.c_str());
  LearnFact(key, folder ? kDiskFolder : kNoDiskFolder);
  return !folder;
}

bool FileManager::KnownDiskFolder(const std::string& folder) const {
  auto it = prefixFacts_.find(folder);
  return it != prefixFacts_.end() && (it->second & kDiskFolder) != 0;
}

void FileManager::ForgetPackageFacts() {
  lastFolder_.folder.clear();
  namesMade_.clear();  // no folder is known made empty any more
  for (auto it = prefixFacts_.begin(); it != prefixFacts_.end();) {
    it->second &= static_cast<uint8_t>(~(kNoPackageHere | kStopsSearch | kMadeEmpty));
    it = it->second == 0 ? prefixFacts_.erase(it) : std::next(it);
  }
}

void FileManager::ForgetAllFacts() {
  prefixFacts_.clear();
  lastFolder_.folder.clear();
  namesMade_.clear();
}

void FileManager::DiskFileChanging(const std::string& path, bool open) {
  const std::string stem = PackageStemOf(path);
  if (stem.empty()) return;
  if (open) unsettled_.insert(Lower(stem));
  ForgetPackageFacts();
}

void FileManager::NoteNameMade(const std::string& key) {
  if (InFolderMadeEmpty(key)) namesMade_.insert(Lower(key));
}

bool FileManager::KnownFreeKey(const std::string& key) const {
  // A key ending in a separator names the folder, not a name in it.
  return !key.empty() && key.back() != '/' && InFolderMadeEmpty(key) &&
         namesMade_.count(Lower(key)) == 0;
}

bool FileManager::NameKnownFree(const char* path) {
  std::string key;
  return NormalisePath(path, &key) && WritesToDisk(key.c_str()) && KnownFreeKey(key);
}

int FileManager::DiskMakeFolder(const std::string& path) {
  const std::string folder = WithoutTrailingSeparator(path);
  if (KnownDiskFolder(folder)) return 0;
  const bool existed = config_.fileSystem->Exists(path.c_str());
  // Every folder on the way may be made here.
  NoteNameMade(folder);
  for (size_t i = folder.size(); i > 1; --i) {
    if (folder[i - 1] == '/' && folder[i - 2] != '/' && folder[i - 2] != ':')
      NoteNameMade(folder.substr(0, i - 1));
  }
  const int result = config_.fileSystem->MakeFolder(path.c_str());
  if (result != 0) return result;
  // The folder and every folder above it are there now; a folder made
  // here is empty.
  LearnFact(folder, static_cast<uint8_t>(existed ? kDiskFolder : kDiskFolder | kMadeEmpty));
  for (size_t i = folder.size(); i > 1; --i) {
    if (folder[i - 1] == '/' && folder[i - 2] != '/' && folder[i - 2] != ':')
      LearnFact(folder.substr(0, i - 1), kDiskFolder);
  }
  return 0;
}

// ------------------------------------------------------------ packages

int FileManager::SetPackageMode(const char* path, int mode) {
  std::string key;
  if (!PackageKey(path, &key)) return -1;
  modes_.Erase(key);
  if (mode != 0 && !modes_.Insert(key, mode)) return -1;
  return 0;
}

Package* FileManager::NewPackage(VirtualFile* file, int mode, const std::string& name) {
  Owned<VirtualFile> owned(file);
  PackageParams params;
  params.mode = mode;
  CopyCodecs(config_, &params);
  params.blockSize = config_.blockSize;
  if (!SetPackageKeyA(&params, config_.keyA, config_.keyALen) ||
      !SetPackageKeyB(&params, config_.keyB, config_.keyBLen) ||
      !SetPackageName(&params, name.c_str())) {
    return nullptr;
  }
  params.file = owned.release();
  params.ownFile = 1;
  Package* package = new Package;
  if (package->Open(params) != 0) {
    package->Release();  // releases the file it was given
    return nullptr;
  }
  return package;
}

int FileManager::ClosePackage(const char* path) {
  std::string key;
  if (!PackageKey(path, &key)) return -1;
  Package** mounted = mounted_.Find(key);
  if (mounted == nullptr) return -1;
  Package* package = *mounted;
  mounted_.Erase(key);
  ForgetPackageFacts();
  for (auto it = mountedFiles_.begin(); it != mountedFiles_.end(); ++it) {
    if (it->second == package) {
      mountedFiles_.erase(it);
      break;
    }
  }
  int result = package->Close();
  package->Release();
  return result;
}

bool FileManager::Mount(const std::string& path, Package* package,
                        const platform::FileIdentity* identity) {
  if (!mounted_.Insert(path, package)) return false;
  lastFolder_.folder.clear();
  if (identity != nullptr) mountedFiles_.emplace_back(*identity, package);
  notPackageFiles_.clear();
  return true;
}

Package* FileManager::MountedFile(const platform::FileIdentity& identity) const {
  for (const auto& [mountedIdentity, package] : mountedFiles_) {
    if (mountedIdentity == identity) return package;
  }
  return nullptr;
}

Package* FileManager::OpenPackage(const char* path, const char* extension, int mode) {
  std::string key;
  if (extension == nullptr || !PackageKey(path, &key)) return nullptr;
  return OpenNormalised(key, extension, mode);
}

Package* FileManager::OpenNormalised(const std::string& key, const char* extension, int mode,
                                     bool lookup) {
  if (const int* forced = modes_.Find(key)) mode = *forced;
  if (Package** mounted = mounted_.Find(key)) {
    return (*mounted)->Mode() == mode ? *mounted : nullptr;
  }
  if (!IsValidOpenMode(mode) || config_.fileSystem == nullptr) return nullptr;
  std::string filePath = key + extension;
  if (filePath.size() > static_cast<size_t>(kMaxDiskPath)) return nullptr;
  // Re-creating must not empty the file before it is known to be a
  // package (or a host whose own content has to stay): probe it as it is.
  int fileMode = mode == kOpenCreate ? kOpenUpdate : mode;
  if (fileMode != kOpenRead) NoteNameMade(filePath);
  Owned<VirtualFile> file(config_.fileSystem->Open(filePath.c_str(), fileMode));
  if (!file) return nullptr;
  // The same file mounted under another key (another spelling of its path)
  // is that package: a file is never mounted twice. A path lookup takes it
  // in whatever mode it was mounted, as it does a mounted key.
  platform::FileIdentity identity;
  const bool known = IdentityOf(file.get(), &identity);
  if (Package* same = known ? MountedFile(identity) : nullptr) {
    return lookup || same->Mode() == mode ? same : nullptr;
  }
  int probe = ProbePackage(file.get());
  VirtualFile* packageFile = nullptr;
  if (probe == 1) {
    if (mode == kOpenCreate) {
      file.reset();
      file.reset(config_.fileSystem->Open(filePath.c_str(), kOpenCreate));
      if (!file) return nullptr;
    }
    packageFile = file.release();
  } else if (probe == 2 && config_.acceptHosts) {
    Owned<TailFile> window(new TailFile);
    if (window->Attach(file.release(), /*ownsHost=*/true, mode) != 0) return nullptr;
    packageFile = window.release();
  } else {
    return nullptr;
  }
  Package* package = NewPackage(packageFile, mode, key);
  if (package == nullptr) return nullptr;
  if (!Mount(key, package, known ? &identity : nullptr)) {
    package->Close();
    package->Release();
    return nullptr;
  }
  return package;
}

int FileManager::EnsurePackage(const char* path, const char* extension, int mode) {
  std::string key;
  if (extension == nullptr || !PackageKey(path, &key)) return -11;
  if (mounted_.Find(key) != nullptr) return 0;
  FileSystem* disk = config_.fileSystem;
  if (disk == nullptr) return -21;
  std::string filePath = key + extension;
  if (filePath.size() > static_cast<size_t>(kMaxDiskPath)) return -11;
  if (mode != kOpenCreate && disk->Exists(filePath.c_str())) {
    int probe = ProbePackageFile(disk, filePath.c_str());
    if (probe != 1 && probe != 2) return -1;
    if (mode == 0) return 0;
    return OpenNormalised(key, extension, mode) != nullptr ? 0 : -2;
  }
  // Re-creating the package of a host program renews its window; the
  // program itself is kept.
  if (mode == kOpenCreate && disk->Exists(filePath.c_str()) &&
      ProbePackageFile(disk, filePath.c_str()) == 2) {
    return OpenNormalised(key, extension, mode) != nullptr ? 0 : -2;
  }
  // A file mounted under another key cannot be entered under this one
  // (and must not be emptied under its open package).
  const bool existed = disk->Exists(filePath.c_str());
  // What lookups learnt about this path goes: a package file is made here.
  ForgetPackageFacts();
  if (existed) {
    Owned<VirtualFile> present(disk->Open(filePath.c_str(), kOpenRead));
    platform::FileIdentity identity;
    if (IdentityOf(present.get(), &identity) && MountedFile(identity) != nullptr) return -23;
  }
  if (disk->MakeParentFolder(filePath.c_str()) != 0) return -11;
  // An explicit re-creation (mode 2) writes in place: its caller makes the
  // whole file at once (marrowgate-pack stages it itself).
  if (mode == kOpenCreate || !disk->WritesToDisk(filePath.c_str()))
    return CreateInPlace(key, filePath, existed);
  // The empty package is made under its staging name and moved into place
  // whole, so that no half-made package is ever found under its own name.
  const std::string staging = StagingPathFor(filePath, static_cast<size_t>(kMaxDiskPath));
  if (staging.empty()) return -21;
  // A stale entry at the staging name goes first; a link planted there
  // is removed, never written through.
  VirtualFile* file = disk->CreateFresh(staging.c_str());
  if (file == nullptr) return -21;
  Package* made = NewPackage(file, kOpenCreate, key);
  const int saved = made != nullptr ? made->Close() : -1;
  if (made != nullptr) made->Release();
  if (saved != 0 || disk->ReplaceFile(staging.c_str(), filePath.c_str()) != 0) {
    disk->DeleteFile(staging.c_str());
    return -22;
  }
  // Mounted for update: what is written into it commits as a whole.
  return OpenNormalised(key, extension, kOpenUpdate) != nullptr ? 0 : -23;
}

int FileManager::CreateInPlace(const std::string& key, const std::string& filePath,
                               bool existed) {
  FileSystem* disk = config_.fileSystem;
  ForgetPackageFacts();
  VirtualFile* file = disk->Open(filePath.c_str(), kOpenCreate);
  if (file == nullptr) return -21;
  platform::FileIdentity identity;
  const bool known = IdentityOf(file, &identity);
  Package* package = NewPackage(file, kOpenCreate, key);
  if (package == nullptr) {
    // Leave no empty file behind that would later pass for a broken package.
    if (!existed) disk->DeleteFile(filePath.c_str());
    return -22;
  }
  if (!Mount(key, package, known ? &identity : nullptr)) {
    package->Close();
    package->Release();
    return -23;
  }
  return 0;
}

Package* FileManager::FindPackage(const char* path, bool itemPath, std::string* remainder) {
  std::string key;
  if (!NormalisePath(path, &key)) return nullptr;
  size_t remainderAt = 0;
  Package* package = FindNormalised(key, itemPath, &remainderAt);
  if (package != nullptr && remainder != nullptr) remainder->assign(key, remainderAt);
  return package;
}

Package* FileManager::FindNormalised(const std::string& path, bool itemPath, size_t* remainderAt) {
  // An item path asks about the prefixes of its folder only.
  const size_t folderEnd = itemPath ? path.rfind('/') : std::string::npos;
  const bool memoable = folderEnd != std::string::npos && folderEnd > 0;
  if (memoable && !lastFolder_.folder.empty() && lastFolder_.folder.size() == folderEnd &&
      path.compare(0, folderEnd, lastFolder_.folder) == 0) {
    if (lastFolder_.package != nullptr) *remainderAt = lastFolder_.remainderAt;
    return lastFolder_.package;
  }
  // Kept only when every step was answered by a fact that stays until the
  // facts are forgotten (no name is being written under a package's name),
  // or by a mount.
  auto keep = [&](Package* package, size_t rest) -> Package* {
    if (memoable && unsettled_.empty()) {
      lastFolder_.folder.assign(path, 0, folderEnd);
      lastFolder_.package = package;
      lastFolder_.remainderAt = rest;
    }
    return package;
  };
  auto noPackage = [&]() -> Package* { return keep(nullptr, 0); };
  // Where each component ends; a trailing separator makes an empty last
  // component (the inside of the folder before it).
  std::vector<size_t> ends;
  size_t start = 0;
  while (start < path.size() && path[start] == '/') ++start;  // the root
  for (size_t i = start; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      ends.push_back(i);
    }
  }
  if (itemPath && !ends.empty()) ends.pop_back();
  // Below a mounted package whose key is no disk folder (a package file
  // "x.dpk" beside no folder "x", a program carrying one) there is nothing
  // on the disk to probe; only mounts deeper down are looked for.
  size_t diskFloor = 0;
  if (mounted_.size() != 0) {
    for (size_t end : ends) {
      if (end == 0 || path[end - 1] == '/') continue;
      std::string prefix = path.substr(0, end);
      if (mounted_.Find(prefix) != nullptr) {
        if (NoDiskFolderAt(prefix)) diskFloor = end;
        break;
      }
    }
  }
  while (!ends.empty()) {
    size_t end = ends.back();
    ends.pop_back();
    if (end == 0) break;
    if (path[end - 1] == '/') continue;  // an empty component names no package
    std::string prefix = path.substr(0, end);
    size_t rest = end < path.size() ? end + 1 : end;
    if (Package** mounted = mounted_.Find(prefix)) {
      *remainderAt = rest;
      return keep(*mounted, rest);
    }
    if (end > diskFloor && diskFloor != 0) continue;
    const uint8_t known = KnownPackageFacts(prefix);
    if ((known & kStopsSearch) != 0) return noPackage();
    if ((known & kNoPackageHere) != 0) continue;
    for (const char* extension : kPackageExtensions) {
      std::string candidate = prefix + extension;
      if (!config_.fileSystem->Exists(candidate.c_str())) continue;
      int probe = ProbePackageFile(config_.fileSystem, candidate.c_str());
      if (probe == 1 || probe == 2) {
        // Not learnt: a package that fails to open is tried again next time.
        Package* package = OpenNormalised(prefix, extension, config_.defaultMode, /*lookup=*/true);
        if (package != nullptr) *remainderAt = rest;
        return package;
      }
      if (std::strcmp(extension, ".dpk") == 0) {
        LearnFact(prefix, kStopsSearch);
        return noPackage();
      }
    }
    LearnFact(prefix, kNoPackageHere);
  }
  return noPackage();
}

// ------------------------------------------------------------ operations

VirtualFile* FileManager::Open(const char* path, int mode) {
  std::string key;
  if (!NormalisePath(path, &key) || config_.fileSystem == nullptr) return nullptr;
  int search = config_.searchMode;
  if (search > 3) return nullptr;
  reachedPackage_ = false;
  // A mounted package's own file is not written under it.
  const bool writing = mode == kOpenCreate || mode == kOpenUpdate;
  if (search == 0 || search == 2) {
    if (writing && IsOpenPackageFile(key.c_str())) return nullptr;
    if (mode != kOpenRead) {
      DiskFileChanging(key, /*open=*/true);
      NoteNameMade(key);
    }
    VirtualFile* file = config_.fileSystem->Open(key.c_str(), mode);
    if (file != nullptr || search == 0) return file;
  }
  size_t remainderAt = 0;
  Package* package = FindNormalised(key, /*itemPath=*/true, &remainderAt);
  reachedPackage_ = package != nullptr;
  // A path that reached a package is answered by the package alone.
  if (package != nullptr) return package->OpenItem(key.c_str() + remainderAt, mode);
  if (search == 3) {
    if (writing && IsOpenPackageFile(key.c_str())) return nullptr;
    if (mode != kOpenRead) {
      DiskFileChanging(key, /*open=*/true);
      NoteNameMade(key);
    }
    return config_.fileSystem->Open(key.c_str(), mode);
  }
  return nullptr;
}

DirListing* FileManager::OpenPackageAwareDiskListing(const std::string& path) {
  return new PackageAwareListing(config_.fileSystem->OpenListing(path.c_str()), config_.fileSystem,
                                 config_.acceptHosts != 0);
}

DirListing* FileManager::OpenPackageFolderListing(const std::string& path) {
  // A folder path may itself name a package (its root), as the
  // package-aware disk listing shows a package as a folder.
  size_t remainderAt = 0;
  Package* package = FindNormalised(path, /*itemPath=*/false, &remainderAt);
  reachedPackage_ = package != nullptr;
  return package != nullptr ? package->List(path.c_str() + remainderAt) : nullptr;
}

DirListing* FileManager::OpenListing(const char* path) {
  std::string key;
  if (!NormalisePath(path, &key) || config_.fileSystem == nullptr) return nullptr;
  reachedPackage_ = false;
  switch (config_.searchMode) {
    case 0:
      if (!config_.fileSystem->IsFolder(key.c_str())) return nullptr;
      return config_.fileSystem->OpenListing(key.c_str());
    case 1:
      return OpenPackageFolderListing(key);
    case 2: {
      DirListing* disk = OpenPackageAwareDiskListing(key);
      DirListing* inPackage = OpenPackageFolderListing(key);
      return new MergedListing({disk, inPackage});
    }
    case 3: {
      DirListing* inPackage = OpenPackageFolderListing(key);
      if (inPackage != nullptr || reachedPackage_) return inPackage;
      return OpenPackageAwareDiskListing(key);
    }
    default:
      return nullptr;
  }
}

int FileManager::PackageStat(const std::string& path, FileInfo* info) {
  size_t remainderAt = 0;
  Package* package = FindNormalised(path, /*itemPath=*/false, &remainderAt);
  if (package == nullptr) return -100;
  return package->Stat(path.c_str() + remainderAt, info);
}

int FileManager::PackageDelete(const std::string& path) {
  size_t remainderAt = 0;
  Package* package = FindNormalised(path, /*itemPath=*/false, &remainderAt);
  if (package == nullptr) return -100;
  return package->Delete(path.c_str() + remainderAt);
}

int FileManager::PackageMakeFolder(const std::string& path) {
  size_t remainderAt = 0;
  Package* package = FindNormalised(path, /*itemPath=*/false, &remainderAt);
  if (package == nullptr) return -1;
  int result = package->MakeFolder(path.c_str() + remainderAt);
  return result < 0 ? result - 10 : result;
}

int FileManager::Stat(const char* path, FileInfo* info) {
  std::string key;
  if (info == nullptr || !NormalisePath(path, &key) || config_.fileSystem == nullptr) return -1;
  switch (config_.searchMode) {
    case 0: return DiskStat(key, info);
    case 1: return PackageStat(key, info);
    case 2: {
      int result = DiskStat(key, info);
      return result == 0 ? 0 : PackageStat(key, info);
    }
    case 3: {
      int result = PackageStat(key, info);
      return result == 0 ? 0 : DiskStat(key, info);
    }
    default: return -1;
  }
}

int FileManager::DiskStat(const std::string& key, FileInfo* info) {
  const int result = config_.fileSystem->Stat(key.c_str(), info);
  // Where the disk finds nothing, nothing is a mounted package's file.
  if (result != 0) NoteNotPackageFile(key);
  return result;
}

int FileManager::DeleteFile(const char* path) {
  std::string key;
  if (!NormalisePath(path, &key) || config_.fileSystem == nullptr) return -1;
  switch (config_.searchMode) {
    case 0: return DiskDeleteFile(key);
    case 1: return PackageDelete(key);
    case 2: {
      int result = DiskDeleteFile(key);
      return result == 0 ? 0 : PackageDelete(key);
    }
    case 3: {
      int result = PackageDelete(key);
      return result == 0 ? 0 : DiskDeleteFile(key);
    }
    default: return -1;
  }
}

int FileManager::DeleteFolder(const char* path) {
  std::string key;
  if (!NormalisePath(path, &key) || config_.fileSystem == nullptr) return -1;
  switch (config_.searchMode) {
    case 0: return DiskDeleteFolder(key);
    case 1: return PackageDelete(key);
    case 2: {
      int result = DiskDeleteFolder(key);
      return result == 0 ? 0 : PackageDelete(key);
    }
    case 3: {
      int result = PackageDelete(key);
      return result == 0 ? 0 : DiskDeleteFolder(key);
    }
    default: return -1;
  }
}

int FileManager::MakeFolder(const char* path) {
  std::string key;
  if (!NormalisePath(path, &key) || config_.fileSystem == nullptr) return -1;
  switch (config_.searchMode) {
    case 0:
    case 2:
      return DiskMakeFolder(key);
    case 1:
      return PackageMakeFolder(key);
    case 3: {
      int result = PackageMakeFolder(key);
      if (result == -1) {
        int disk = DiskMakeFolder(key);
        return disk != 0 ? disk - 2000 : 0;
      }
      return result != 0 ? result - 1000 : 0;
    }
    default:
      return -1;
  }
}

int FileManager::MakeParentFolder(const char* path) {
  if (path == nullptr) return -1;
  const char* last = nullptr;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\') last = p;
  }
  if (last == nullptr) return 0;
  std::string folder(path, static_cast<size_t>(last - path));
  if (folder.empty()) return 0;  // the root
  return MakeFolder(folder.c_str());
}

bool FileManager::WritesToDisk(const char* path) {
  std::string key;
  if (!NormalisePath(path, &key) || config_.fileSystem == nullptr) return false;
  switch (config_.searchMode) {
    case 0:
    case 2:
      return true;
    case 3: {
      size_t remainderAt = 0;
      return FindNormalised(key, /*itemPath=*/true, &remainderAt) == nullptr;
    }
    default:
      return false;
  }
}

VirtualFile* FileManager::CreateFresh(const char* path) {
  std::string key;
  if (!NormalisePath(path, &key) || config_.fileSystem == nullptr) return nullptr;
  if (WritesToDisk(key.c_str())) {
    DiskFileChanging(key, /*open=*/true);
    NoteNameMade(key);
    VirtualFile* file = config_.fileSystem->CreateFresh(key.c_str());
    // A file made new is no mounted package's.
    if (file != nullptr) NoteNotPackageFile(key);
    return file;
  }
  return Open(key.c_str(), kOpenCreate);
}

int FileManager::ReplaceOnDisk(const char* from, const char* to, bool synced, bool freeName) {
  std::string fromKey, toKey;
  if (!NormalisePath(from, &fromKey) || !NormalisePath(to, &toKey)) return -1;
  if (!WritesToDisk(fromKey.c_str()) || !WritesToDisk(toKey.c_str())) return -1;
  if (IsOpenPackageFile(toKey.c_str()) || IsOpenPackageFile(fromKey.c_str())) return -1;
  DiskFileChanging(fromKey, /*open=*/false);
  DiskFileChanging(toKey, /*open=*/false);
  NoteNameMade(toKey);
  FileSystem* disk = config_.fileSystem;
  const int result = synced     ? disk->ReplaceFile(fromKey.c_str(), toKey.c_str())
                     : freeName ? disk->ReplaceFreeNameUnsynced(fromKey.c_str(), toKey.c_str())
                                : disk->ReplaceFileUnsynced(fromKey.c_str(), toKey.c_str());
  // The file now at `to` was at `from`, which is no mounted package's.
  if (result == 0) {
    notPackageFiles_.erase(fromKey);
    NoteNotPackageFile(std::move(toKey));
  }
  return result;
}

int FileManager::ReplaceFile(const char* from, const char* to) {
  return ReplaceOnDisk(from, to, /*synced=*/true);
}

int FileManager::ReplaceFileUnsynced(const char* from, const char* to) {
  return ReplaceOnDisk(from, to, /*synced=*/false);
}

int FileManager::ReplaceFreeNameUnsynced(const char* from, const char* to) {
  return ReplaceOnDisk(from, to, /*synced=*/false, /*freeName=*/true);
}

int FileManager::MoveFolderToFreeName(const char* from, const char* to) {
  std::string fromKey, toKey;
  if (!NormalisePath(from, &fromKey) || !NormalisePath(to, &toKey)) return -1;
  if (!WritesToDisk(fromKey.c_str()) || !WritesToDisk(toKey.c_str())) return -1;
  const int result = config_.fileSystem->MoveFolderToFreeName(fromKey.c_str(), toKey.c_str());
  // Every fact below both names is stale now.
  if (result == 0) ForgetAllFacts();
  return result;
}

int FileManager::RemoveTree(const char* path) {
  std::string key;
  if (!NormalisePath(path, &key) || !WritesToDisk(key.c_str())) return -1;
  if (IsOpenPackageFile(key.c_str())) return -1;
  const int result = config_.fileSystem->RemoveTree(key.c_str());
  ForgetAllFacts();
  return result;
}

int FileManager::SyncFolder(const char* path) {
  std::string key;
  if (!NormalisePath(path, &key) || !WritesToDisk(key.c_str())) return -1;
  return config_.fileSystem->SyncFolder(key.c_str());
}

int FileManager::WatchFileSystemOf(const char* path) {
  std::string key;
  if (!NormalisePath(path, &key) || !WritesToDisk(key.c_str())) return -1;
  return config_.fileSystem->WatchFileSystemOf(key.c_str());
}

int FileManager::SyncFileSystemsOf(const std::vector<std::string>& folders) {
  std::vector<std::string> keys;
  keys.reserve(folders.size());
  for (const std::string& folder : folders) {
    std::string key;
    if (!NormalisePath(folder.c_str(), &key) || !WritesToDisk(key.c_str())) return -1;
    keys.push_back(std::move(key));
  }
  return config_.fileSystem->SyncFileSystemsOf(keys);
}

void FileManager::NoteNotPackageFile(std::string key) {
  if (mountedFiles_.empty()) return;
  // A path is asked about a few times while its file is written and put in
  // place, so a bounded set of recent ones does.
  if (notPackageFiles_.size() >= kNotPackageFilesKept) notPackageFiles_.clear();
  notPackageFiles_.insert(std::move(key));
}

bool FileManager::IsOpenPackageFile(const char* path) {
  std::string key;
  if (mounted_.size() == 0 || !PackageKey(path, &key)) return false;
  if (mounted_.Find(key) != nullptr) return true;
  for (const char* extension : {".dpk", ".exe"}) {
    const size_t n = std::strlen(extension);
    if (key.size() > n && key.compare(key.size() - n, n, extension) == 0 &&
        mounted_.Find(key.substr(0, key.size() - n)) != nullptr)
      return true;
  }
  // The same disk file under another name.
  if (mountedFiles_.empty() || config_.fileSystem == nullptr) return false;
  if (notPackageFiles_.count(key) != 0) return false;
  // Nothing is there to be a package's file.
  if (KnownFreeKey(key)) return false;
  platform::FileIdentity identity;
  bool same;
  if (dynamic_cast<LocalFileSystem*>(config_.fileSystem) != nullptr) {
    // On the local disk the name's identity is read without opening it.
    same = platform::IdentityOfPath(key.c_str(), &identity) && MountedFile(identity) != nullptr;
  } else {
    Owned<VirtualFile> file(config_.fileSystem->Open(key.c_str(), kOpenRead));
    same = file && IdentityOf(file.get(), &identity) && MountedFile(identity) != nullptr;
  }
  if (!same) NoteNotPackageFile(std::move(key));
  return same;
}

int FileManager::CloseAllPackages(std::vector<std::string>* failed) {
  int first = 0;
  mounted_.ForEach([&](std::string_view path, Package*& package) {
    int result = package->Close();
    if (result != 0) {
      if (first == 0) first = result;
      if (failed != nullptr) failed->emplace_back(path);
    }
    package->Release();
    package = nullptr;
  });
  mounted_.Clear();
  mountedFiles_.clear();
  ForgetPackageFacts();
  return first;
}

int FileManager::DiskDeleteFile(const std::string& path) {
  DiskFileChanging(path, /*open=*/false);
  notPackageFiles_.erase(path);
  return config_.fileSystem->DeleteFile(path.c_str());
}

int FileManager::DiskDeleteFolder(const std::string& path) {
  const int result = config_.fileSystem->DeleteFolder(path.c_str());
  ForgetAllFacts();
  return result;
}

DirListing* FileManager::OpenDiskListing(const char* path) {
  std::string key;
  if (!NormalisePath(path, &key) || config_.fileSystem == nullptr) return nullptr;
  switch (config_.searchMode) {
    case 0:
    case 2:
      return config_.fileSystem->OpenListing(key.c_str());
    case 3: {
      size_t remainderAt = 0;
      if (FindNormalised(key, /*itemPath=*/false, &remainderAt) != nullptr) return nullptr;
      return config_.fileSystem->OpenListing(key.c_str());
    }
    default:
      return nullptr;
  }
}

bool FileManager::Exists(const char* path) {
  FileInfo info;
  return Stat(path, &info) == 0;
}

bool FileManager::IsFolder(const char* path) {
  FileInfo info;
  return Stat(path, &info) == 0 && (info.flags & kFileInfoFolder) != 0;
}

}  // namespace marrowgate
