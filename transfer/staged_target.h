// Whole-file replacement of disk targets by the copy engines.
//
// A target on the local disk is never written under its own name. The copy
// engine writes the new content to a staging file in the target's folder,
// puts it on the device (Flush), and only when the whole source was read
// without error moves it over the target (FileSystem::ReplaceFile), which
// keeps the replaced file's permission bits. After a crash or a kill every
// target is the old file or the new one, never a mix.
//
// Staging names follow package/file/staging_name.h: "bin/game.exe" is
// staged as "bin/game.exe.~mgpart". Names ending in ".~mgpart" are
// reserved for this: the copy engines refuse to install a file so named
// (as an unsafe path), and before they first write into a folder during a
// run they remove every file there whose name ends so, which are the
// leftovers of an interrupted run. A package a FileManager creates is
// staged the same way until it is closed (package/manager/file_manager.h).
#ifndef MARROWGATE_TRANSFER_STAGED_TARGET_H_
#define MARROWGATE_TRANSFER_STAGED_TARGET_H_

#include <string>

#include "package/file/file_system.h"
#include "package/file/staging_name.h"

namespace marrowgate {

// Deletes the files of `folder` on `fs` whose names end with
// kStagingSuffix. Returns how many were deleted.
int RemoveLeftoverStagingFiles(FileSystem* fs, const std::string& folder);

}  // namespace marrowgate

#endif  // MARROWGATE_TRANSFER_STAGED_TARGET_H_
