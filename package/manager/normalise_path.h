// NormalisePath: the canonical text of a path as the FileManager keys and
// walks it.
//
// 1. A path whose second character is ':' or whose first character is '/'
//    or '\\' is absolute; any other path is put behind the current working
//    folder (read at each call) and '/'.
// 2. In the first two characters '\\' becomes '/'; from the third on, every
//    run of '/' and '\\' becomes one '/'. So "d:\\\\x" and "d://x" give
//    "d:/x", "\\\\server" gives "//server", and "////a" gives "///a" (two
//    separators kept, then one for the run).
// 3. A component made of k dots (k >= 1) removes itself and the k - 1
//    components before it, never going above the root ("d:", "d:/", or
//    the leading separators).
//    A component with other characters besides dots ("name.") is kept.
// A trailing separator is kept: "d:/game/patch/" names the inside of a
// folder or package, "d:/game/patch" the item itself.
//
//   NormalisePath("d:/a//b/./c/../f", &out)   // out == "d:/a/b/f"
//
// False (out unchanged) for a null path or a result longer than
// kMaxDiskPath (package/file/file_system.h).
#ifndef MARROWGATE_PACKAGE_MANAGER_NORMALISE_PATH_H_
#define MARROWGATE_PACKAGE_MANAGER_NORMALISE_PATH_H_

#include <string>

namespace marrowgate {

bool NormalisePath(const char* path, std::string* out);

// The same, always through every step above. NormalisePath gives a path
// already in normal form (absolute, '/' only, no empty or dots-only
// component) back as it is without them; this is what it must agree with.
bool NormalisePathStepByStep(const char* path, std::string* out);

}  // namespace marrowgate

#endif  // MARROWGATE_PACKAGE_MANAGER_NORMALISE_PATH_H_
