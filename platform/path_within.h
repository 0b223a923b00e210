// Whether one resolved path lies within another, as the system spells
// paths: on Windows '\' and '/' both separate names and names match
// without regard to ASCII case; elsewhere only '/' separates and names
// match byte for byte.
#ifndef MARROWGATE_PLATFORM_PATH_WITHIN_H_
#define MARROWGATE_PLATFORM_PATH_WITHIN_H_

#include <string_view>

namespace marrowgate::platform {

// True when `inner` is `outer` or lies below it. Both are absolute paths
// with their links resolved (ResolvedPath), possibly with names joined to
// them by '/'; a trailing separator on either is ignored.
bool PathIsAtOrBelow(std::string_view inner, std::string_view outer);

}  // namespace marrowgate::platform

#endif  // MARROWGATE_PLATFORM_PATH_WITHIN_H_
