// For tests: a file manager set up as a patch run's (packages first, hosts
// accepted, packages opened for update, the patcher's first password).
#ifndef MARROWGATE_TRANSFER_TESTING_RUN_FILE_MANAGER_TESTING_H_
#define MARROWGATE_TRANSFER_TESTING_RUN_FILE_MANAGER_TESTING_H_

#include <cstring>

#include "package/manager/file_manager.h"

namespace marrowgate {

inline FileManager* NewRunFileManager() {
  FileManagerOptions options;
  options.searchMode = 3;
  options.acceptHosts = 1;
  options.defaultMode = kOpenUpdate;
  std::memcpy(options.keyA, "morvelkatun", 11);
  options.keyALen = 11;
  return CreateFileManager(options);
}

}  // namespace marrowgate

#endif  // MARROWGATE_TRANSFER_TESTING_RUN_FILE_MANAGER_TESTING_H_
