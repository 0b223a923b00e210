// The patcher's own package: the package appended to the patcher's
// program file, seen by a FileManager as a folder under the program's path
// without its extension (the "self base").
//
//   program "C:\Game\patch.exe"   self base "C:/Game/patch"
//   program "/opt/game/patch"     self base "/opt/game/patch"
//
// A program on Windows carries ".exe", which the FileManager tries by
// itself; a program without an extension (or with another one) is mounted
// explicitly under its self base.
#ifndef MARROWGATE_APP_OWN_PACKAGE_H_
#define MARROWGATE_APP_OWN_PACKAGE_H_

#include <string>
#include <string_view>

#include "package/manager/file_manager.h"

namespace marrowgate {

// Length of `modulePath` without its extension: when the text is longer
// than 4 characters and its fourth character from the end is '.', the
// position of that '.'; otherwise the whole length (a shorter name is
// never cut).
size_t ModulePathStemLength(std::string_view modulePath);

// The module path cut at ModulePathStemLength, separators as given (the
// package root of a patch run).
std::string PackageRootOf(std::string_view modulePath);

// PackageRootOf with every '\\' turned into '/' (the dialog's self base).
std::string SelfBaseOf(std::string_view modulePath);

// Registers read mode for the self base of `modulePath` in `fileManager`
// (SetPackageMode) and mounts the program's package under that path,
// whatever extension the program file has (none included). Returns the
// package (owned by the file manager), or null when the program file
// carries no package or cannot be opened.
Package* MountOwnPackage(FileManager* fileManager, std::string_view modulePath);

}  // namespace marrowgate

#endif  // MARROWGATE_APP_OWN_PACKAGE_H_
