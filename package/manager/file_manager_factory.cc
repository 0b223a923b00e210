// CreateFileManager: a FileManager with its own disk file system and
// package codecs.
#include <cstring>
#include <memory>

#include "package/manager/file_manager.h"
#include "package/store/package_codecs.h"
#include "util/releaser.h"

namespace marrowgate {

namespace {

bool KeyLengthFits(int length, size_t capacity) {
  return length >= 0 && static_cast<size_t>(length) <= capacity;
}

}  // namespace

FileManager* CreateFileManager(const FileManagerOptions& options) {
  FileManagerConfig config;
  if (!KeyLengthFits(options.keyALen, sizeof(options.keyA)) ||
      !KeyLengthFits(options.keyBLen, sizeof(options.keyB)) ||
      !KeyLengthFits(options.keyALen, sizeof(config.keyA)) ||
      !KeyLengthFits(options.keyBLen, sizeof(config.keyB))) {
    return nullptr;
  }
  Owned<FileSystem> fileSystem(CreateFileSystem());
  auto codecs = std::make_shared<PackageCodecs>();
  if (!fileSystem || !codecs->Create(options.cipherKind, options.keyBLen > 0)) return nullptr;
  if (options.keyBLen > 0) {
    std::memcpy(config.keyB, options.keyB, static_cast<size_t>(options.keyBLen));
    config.keyBLen = options.keyBLen;
  }
  config.searchMode = options.searchMode;
  config.acceptHosts = options.acceptHosts;
  config.ownFileSystem = 1;
  config.reservedFlags[0] = 0;
  config.reservedFlags[1] = 0;
  config.reservedFlags[2] = 1;
  config.fileSystem = fileSystem.release();
  config.defaultMode = options.defaultMode;
  codecs->ApplyTo(&config);
  config.blockSize = 1024;
  std::memcpy(config.keyA, options.keyA, static_cast<size_t>(options.keyALen));
  config.keyALen = options.keyALen;
  config.mountList = nullptr;

  FileManager* manager = new FileManager(config);
  // The codecs outlive every package (the destructor closes those first).
  manager->releaseParts_ = [codecs]() mutable { codecs.reset(); };
  return manager;
}

}  // namespace marrowgate
