// The file manager settings of the patcher application: the message file,
// the version check and the file lists are all read through a FileManager
// made with these options.
#ifndef MARROWGATE_APP_APP_FILE_MANAGER_H_
#define MARROWGATE_APP_APP_FILE_MANAGER_H_

#include "package/manager/file_manager.h"

namespace marrowgate {

// The two package passwords of the patcher (11 bytes each).
inline constexpr char kPatcherPasswordA[] = "morvelkatun";
inline constexpr char kPatcherPasswordB[] = "pelsowdirak";

// Search mode 3 (packages first, then disk), packages inside executables
// accepted, packages opened on demand in mode 3 (update), cipher kind 0,
// key A kPatcherPasswordA, key B kPatcherPasswordB.
FileManagerOptions AppFileManagerOptions();

}  // namespace marrowgate

#endif  // MARROWGATE_APP_APP_FILE_MANAGER_H_
