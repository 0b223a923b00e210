// PackArchive: one package opened directly from its file for the tool,
// whether a package file or a program carrying one. The package is reached
// without the FileManager's path handling, so where the file lies (however
// deep) never counts against the length limit of paths inside a package.
#ifndef MARROWGATE_TOOLS_PACK_ARCHIVE_H_
#define MARROWGATE_TOOLS_PACK_ARCHIVE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "package/store/package.h"
#include "package/store/package_codecs.h"

namespace marrowgate {

// One entry of a package tree.
struct PackEntry {
  std::string path;  // inside the package, '/' separated
  bool isFolder = false;
  uint32_t firstBlock = 0;
};

class PackArchive {
 public:
  PackArchive(std::string keyA, std::string keyB);
  ~PackArchive();  // closes without reporting
  PackArchive(const PackArchive&) = delete;
  PackArchive& operator=(const PackArchive&) = delete;

  // Opens the package held in the file `path` in kOpenRead or kOpenUpdate.
  // False with `problem` ("is not a package and carries none", ...) when
  // it cannot.
  bool Open(const std::string& path, int mode, std::string* problem);
  // Makes a new package in the file `path` (replacing what is there).
  bool Create(const std::string& path, std::string* problem);
  // Saves (when writable) and closes: false with `problem` when saving
  // failed.
  bool Close(std::string* problem);

  Package* package() { return package_; }

  // Every entry below the folder `inner` ("" for the root), each folder
  // directly followed by its contents, names in byte order within a
  // folder. False with `problem` when a folder cannot be listed.
  bool Walk(std::vector<PackEntry>* entries, std::string* problem,
            const std::string& inner = std::string());
  // The names directly in the folder `inner` as stored; false when it is
  // no folder of the package.
  bool Names(const std::string& inner, std::vector<std::string>* names);

 private:
  bool Start(VirtualFile* file, int mode, const std::string& path, std::string* problem);

  std::string keyA_;
  std::string keyB_;
  PackageCodecs codecs_;
  Package* package_ = nullptr;
};

}  // namespace marrowgate

#endif  // MARROWGATE_TOOLS_PACK_ARCHIVE_H_
