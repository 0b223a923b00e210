#include "tools/pack_archive.h"

#include <algorithm>
#include <cstring>

#include "package/file/disk_file.h"
#include "package/store/layout.h"
#include "package/store/tail_file.h"
#include "platform/file_tree.h"
#include "util/md5.h"
#include "util/releaser.h"

namespace marrowgate {

namespace {

std::string Join(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

// The package's own name: its path without extension when that fits the
// record, otherwise its last component.
std::string PackageName(const std::string& path) {
  std::string name = path;
  size_t slash = name.find_last_of('/');
  size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) name.resize(dot);
  if (name.size() > 259) name = name.substr(slash == std::string::npos ? 0 : slash + 1);
  if (name.size() > 259) name.resize(259);
  return name;
}

// False when the package header in `file` (a package file or window) holds
// the digest of another key A than `keyA`.
bool KeyAFits(VirtualFile* file, const std::string& keyA) {
  uint8_t bytes[kPackageHeaderSize];
  PackageHeader header;
  bool read = file->Seek(0, 0) == 0 && file->Read(bytes, kPackageHeaderSize) == kPackageHeaderSize &&
              DecodePackageHeader(bytes, &header);
  file->Seek(0, 0);
  if (!read) return true;  // opening the package reports the damage
  Md5 md5;
  Md5Init(&md5);
  Md5Update(&md5, reinterpret_cast<const uint8_t*>(keyA.data()), keyA.size());
  uint8_t digest[16];
  Md5Final(&md5, digest);
  return std::memcmp(digest, header.keyDigest, 16) == 0;
}

constexpr const char* kWrongKey =
    "cannot be opened: wrong password (it was made with another key A)";

}  // namespace

PackArchive::PackArchive(std::string keyA, std::string keyB)
    : keyA_(std::move(keyA)), keyB_(std::move(keyB)) {}

PackArchive::~PackArchive() {
  if (package_ != nullptr) {
    package_->Close();
    package_->Release();
  }
}

bool PackArchive::Start(VirtualFile* file, int mode, const std::string& path,
                        std::string* problem) {
  Owned<VirtualFile> owned(file);
  if (!codecs_.compressor && !codecs_.Create(0, !keyB_.empty())) {
    *problem = "the package codecs cannot be made";
    return false;
  }
  PackageParams params;
  params.mode = mode;
  codecs_.ApplyTo(&params);
  if (!SetPackageKeyA(&params, keyA_.data(), static_cast<int>(keyA_.size())) ||
      !SetPackageKeyB(&params, keyB_.data(), static_cast<int>(keyB_.size())) ||
      !SetPackageName(&params, PackageName(path).c_str())) {
    *problem = "a password is too long";
    return false;
  }
  params.file = owned.release();
  params.ownFile = 1;
  auto* package = new Package;
  if (package->Open(params) != 0) {
    package->Release();
    *problem = mode == kOpenCreate ? "the package cannot be created"
                                   : "the package cannot be opened (wrong password, or damaged)";
    return false;
  }
  package_ = package;
  return true;
}

bool PackArchive::Open(const std::string& path, int mode, std::string* problem) {
  platform::NodeStatus status;
  std::string reason;
  if (!platform::StatusOf(path.c_str(), &status, &reason)) {
    *problem = "cannot be opened: " + reason;
    return false;
  }
  if (status.kind == platform::NodeKind::kFolder) {
    *problem = "is a folder, not a package";
    return false;
  }
  if (status.kind != platform::NodeKind::kFile) {
    *problem = "is not a regular file";
    return false;
  }
  Owned<VirtualFile> file(DiskFile::Open(path.c_str(), mode == kOpenRead ? "rb" : "rb+"));
  if (!file) {
    // The stream layer keeps no reason; ask the descriptor layer for it.
    std::unique_ptr<platform::RawFile> probe = platform::RawFile::OpenForReading(path.c_str(), &reason);
    *problem = "cannot be opened" + (probe ? std::string(mode == kOpenRead ? "" : " for writing")
                                           : ": " + reason);
    return false;
  }
  int kind = ProbePackage(file.get());
  if (kind == 1) {
    if (!KeyAFits(file.get(), keyA_)) {
      *problem = kWrongKey;
      return false;
    }
    return Start(file.release(), mode, path, problem);
  }
  if (kind == 2) {
    Owned<TailFile> window(new TailFile);
    if (window->Attach(file.release(), /*ownsHost=*/true, mode) != 0) {
      *problem = "its package window cannot be read";
      return false;
    }
    if (!KeyAFits(window.get(), keyA_)) {
      *problem = kWrongKey;
      return false;
    }
    return Start(window.release(), mode, path, problem);
  }
  *problem = "is not a package and carries none";
  return false;
}

bool PackArchive::Create(const std::string& path, std::string* problem) {
  Owned<VirtualFile> file(DiskFile::Open(path.c_str(), "wb+"));
  if (!file) {
    *problem = "cannot be created: " + platform::LastSystemError();
    return false;
  }
  return Start(file.release(), kOpenCreate, path, problem);
}

bool PackArchive::Close(std::string* problem) {
  if (package_ == nullptr) return true;
  int rc = package_->Close();
  package_->Release();
  package_ = nullptr;
  if (rc != 0) {
    *problem = "cannot be saved: writing the package file failed";
    return false;
  }
  return true;
}

bool PackArchive::Names(const std::string& inner, std::vector<std::string>* names) {
  names->clear();
  if (package_ == nullptr) return false;
  DirListing* listing = package_->List(inner.c_str());
  if (listing == nullptr) return false;
  while (const ListingEntry* entry = listing->Next()) {
    if (std::strcmp(entry->name, ".") == 0 || std::strcmp(entry->name, "..") == 0) continue;
    names->emplace_back(entry->name);
  }
  listing->Release();
  return true;
}

bool PackArchive::Walk(std::vector<PackEntry>* entries, std::string* problem,
                       const std::string& inner) {
  if (package_ == nullptr) return false;
  DirListing* listing = package_->List(inner.c_str());
  if (listing == nullptr) {
    *problem = (inner.empty() ? std::string("the package root") : inner) + ": cannot be listed";
    return false;
  }
  std::vector<PackEntry> level;
  while (const ListingEntry* entry = listing->Next()) {
    if (std::strcmp(entry->name, ".") == 0 || std::strcmp(entry->name, "..") == 0) continue;
    level.push_back({Join(inner, entry->name), entry->isFolder != 0, entry->value});
  }
  listing->Release();
  std::sort(level.begin(), level.end(),
            [](const PackEntry& a, const PackEntry& b) { return a.path < b.path; });
  for (const PackEntry& e : level) {
    entries->push_back(e);
    if (e.isFolder && !Walk(entries, problem, e.path)) return false;
  }
  return true;
}

}  // namespace marrowgate
