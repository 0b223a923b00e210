// Why a file cannot be created or replaced at a path, in the system's own
// words, found before or after a write failed: a folder in the file's
// place, a read-only file, a folder on the way that is a file, a folder
// that may not be written, a read-only file system.
#ifndef MARROWGATE_PLATFORM_WRITE_CHECK_H_
#define MARROWGATE_PLATFORM_WRITE_CHECK_H_

#include <string>

namespace marrowgate::platform {

// The first thing that keeps a file at `path` from being created or
// replaced, as the system's text ("Is a directory", "Permission denied",
// "Read-only file system", "Not a directory", ...): the path itself when
// it exists (a folder, or a file without write permission for its owner),
// else the nearest existing folder above it (not a folder, or not
// writable). Empty when none of these stands in the way.
std::string WriteBlockedReason(const char* path);

}  // namespace marrowgate::platform

#endif  // MARROWGATE_PLATFORM_WRITE_CHECK_H_
