// Staging names: where a whole-file replacement is written before it is
// moved over its target, next to it.
//
// The staging name of a target is its path followed by kStagingSuffix
// (".~mgpart"): "bin/game.exe" is staged as "bin/game.exe.~mgpart". When
// that would be longer than the caller's limit, the name is cut just
// enough for the path to fit before the suffix is added (never below one
// character). Names ending in the suffix are reserved: nothing installs a
// file so named, and leftovers of an interrupted run may be removed.
#ifndef MARROWGATE_PACKAGE_FILE_STAGING_NAME_H_
#define MARROWGATE_PACKAGE_FILE_STAGING_NAME_H_

#include <cstddef>
#include <string>

#include "package/file/file_system.h"

namespace marrowgate {

inline constexpr char kStagingSuffix[] = ".~mgpart";

// True when the last component of `path` ends with kStagingSuffix.
bool IsStagingName(const std::string& path);

// True when any component of `path` ends with kStagingSuffix: a path
// below a staging folder, or a staging file.
bool HasStagingComponent(const std::string& path);

// The staging path of `target` within `limit` characters (see above);
// empty when the target's folder leaves no room for a staging name.
std::string StagingPathFor(const std::string& target, size_t limit = kMaxPath);

// The folder part of `path` (before its last '/' or '\\'); empty when
// there is none.
std::string FolderPartOf(const std::string& path);

}  // namespace marrowgate

#endif  // MARROWGATE_PACKAGE_FILE_STAGING_NAME_H_
