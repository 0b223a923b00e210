#include "app/app_file_manager.h"

#include <cstring>

namespace marrowgate {

FileManagerOptions AppFileManagerOptions() {
  FileManagerOptions options;
  options.searchMode = 3;
  options.acceptHosts = 1;
  options.defaultMode = kOpenUpdate;
  options.cipherKind = 0;
  std::memcpy(options.keyA, kPatcherPasswordA, sizeof(kPatcherPasswordA) - 1);
  options.keyALen = static_cast<int>(sizeof(kPatcherPasswordA) - 1);
  std::memcpy(options.keyB, kPatcherPasswordB, sizeof(kPatcherPasswordB) - 1);
  options.keyBLen = static_cast<int>(sizeof(kPatcherPasswordB) - 1);
  return options;
}

}  // namespace marrowgate
