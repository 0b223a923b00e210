// Checks that keep copies inside their target folder.
//
// A component made only of dots ("." "..", "...") is refused everywhere:
// path normalisation reads a run of k dots as k - 1 levels up, so any of
// them could climb. A ':' is refused because it can start a drive. '/' and
// '\\' both separate components.
#ifndef MARROWGATE_UTIL_SAFE_PATH_H_
#define MARROWGATE_UTIL_SAFE_PATH_H_

#include <string_view>

namespace marrowgate {

// One name inside a folder: not empty, not only dots, and free of '/',
// '\\', ':' and NUL.
bool IsSafePathComponent(std::string_view name);

// A path that stays below the folder it is joined to: not empty, no
// leading separator, and every component (between separators) is a safe
// component; so no empty component either.
bool IsContainedRelativePath(std::string_view path);

}  // namespace marrowgate

#endif  // MARROWGATE_UTIL_SAFE_PATH_H_
