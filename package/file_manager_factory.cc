// CreateFileManager: a FileManager with its own disk file system, zlib
// codec and cipher objects.
#include <cstring>
#include <memory>

#include "keys/key_factory.h"
#include "package/file_manager.h"
#include "package/zlib_codec.h"
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
  Owned<KeyFactory> keyFactory(CreateKeyFactory());
  Owned<FileSystem> fileSystem(CreateFileSystem());
  Owned<ZlibCodec> codec(CreateZlibCodec());
  if (!keyFactory || !fileSystem || !codec) return nullptr;
  Owned<CipherObject> aEnc(keyFactory->CreateCipher(options.cipherKind));
  Owned<CipherObject> aDec(keyFactory->CreateCipher(options.cipherKind));
  if (!aEnc || !aDec) return nullptr;
  Owned<CipherObject> bEnc;
  Owned<CipherObject> bDec;
  if (options.keyBLen > 0) {
    bEnc.reset(keyFactory->CreateCipher(options.cipherKind));
    bDec.reset(keyFactory->CreateCipher(options.cipherKind));
    if (!bEnc || !bDec) return nullptr;
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
  config.compressor = codec.get();
  config.cipherAEnc = aEnc.get();
  config.cipherADec = aDec.get();
  config.cipherBEnc = bEnc.get();
  config.cipherBDec = bDec.get();
  config.blockSize = 1024;
  std::memcpy(config.keyA, options.keyA, static_cast<size_t>(options.keyALen));
  config.keyALen = options.keyALen;
  config.mountList = nullptr;

  FileManager* manager = new FileManager(config);
  // The parts outlive every package (the destructor closes those first).
  auto parts = std::make_shared<std::tuple<Owned<ZlibCodec>, Owned<CipherObject>, Owned<CipherObject>,
                                           Owned<CipherObject>, Owned<CipherObject>, Owned<KeyFactory>>>(
      std::move(codec), std::move(aEnc), std::move(aDec), std::move(bEnc), std::move(bDec),
      std::move(keyFactory));
  manager->releaseParts_ = [parts]() mutable { parts.reset(); };
  return manager;
}

}  // namespace marrowgate
