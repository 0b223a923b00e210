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

// The install-folder lists (new files, deletes, skip names) name files as
// the file manager does: '/' and '\\' alike, a repeated or trailing
// separator ignored, ASCII case ignored inside packages.
//
// The name `line` gives, with '/' separators and no repeated or trailing
// separator, into *out; false (and *out unchanged) when it would leave the
// folder it is joined to (see IsContainedRelativePath) or names nothing.
bool NormaliseListName(std::string_view line, std::string* out);

// True when the list name `name` begins with `prefix` (a normalised list
// name), byte for byte but for '\\' counting as '/' and ASCII letters
// matching either case: plain text, so "data/a" begins "data/ab".
bool ListNameBeginsWith(std::string_view name, std::string_view prefix);

// True when `name` is `folder` or lies below it (both compared as above).
bool ListNameWithin(std::string_view name, std::string_view folder);

}  // namespace marrowgate

#endif  // MARROWGATE_UTIL_SAFE_PATH_H_
