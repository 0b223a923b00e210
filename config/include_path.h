// The rule that joins an including file's directory with the name given to
// "#include".
#ifndef MARROWGATE_CONFIG_INCLUDE_PATH_H_
#define MARROWGATE_CONFIG_INCLUDE_PATH_H_

#include <string>
#include <string_view>

namespace marrowgate {

// The directory part of `path`: everything before its last '/' or '\\'
// ("" when it has none).
std::string_view DirectoryOf(std::string_view path);

// Joins `directory` and `name`:
// 1. a name with ':' as its second character or beginning with '/' or
//    '\\', or an empty directory: the name unchanged;
// 2. a name not beginning with '.': directory "/" name;
// 3. otherwise the directory (backslashes turned into slashes) loses one
//    component for every leading "../" (or "..\\") of the name, and leading
//    "./" prefixes are dropped; the result is directory "/" rest. Two-dot
//    prefixes beyond a relative directory's components are kept ("../x"),
//    so the result stays relative; above a root ("/", "C:") they are
//    dropped.
// False when the result is longer than kMaxPath (package/file/file_system.h)
// bytes; *path is then empty.
bool JoinIncludePath(std::string_view directory, std::string_view name, std::string* path);

}  // namespace marrowgate

#endif  // MARROWGATE_CONFIG_INCLUDE_PATH_H_
