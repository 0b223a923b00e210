// MakeSurePackage: makes sure that the package `name` exists in a target
// folder and is mounted in a FileManager, creating an empty package when
// none is there. Afterwards every path below "<folder>/<name>" resolves
// into the package, so a copy through that FileManager writes what lies
// below that name into the package instead of into a folder on disk.
//
//   int rc = MakeSurePackage(fileManager, "d:/game", notify, "data/sound");
//   // mounts (or creates) d:/game/data/sound.dpk under d:/game/data/sound
//
// Steps: cb_INFO(0, "Make sure package <name> exist ...") (answer ignored);
// EnsurePackage("<folder>/<name>", ".dpk", kOpenUpdate) of the FileManager;
// on a non-zero result cb_ERROR(kNotifyCreatePackage,
// "Create package <name> err:<code>") (answer ignored) and that result.
//
// Results: 0 when the package exists and is mounted (also when it already
// was); otherwise the FileManager's code (package/manager/file_manager.h): -1 the
// file exists but is not a package (left unchanged), -2 a package that
// cannot be mounted, -11 folders cannot be made or the path is longer than
// kMaxDiskPath, -21/-22/-23 the new package cannot be created or mounted; or
// one of the refusals below, made before anything is touched and reported
// with the same cb_ERROR text:
//   kPackageNameRefused  a missing file manager, folder or name; an empty
//                        name; a name that is not a relative path of
//                        non-empty components (a leading or doubled
//                        separator, a component made only of dots, a ':'),
//                        which would place the package outside the folder;
//   kPackageNameTooLong  a text or the composed path does not fit the
//                        kMakeSurePackageBufferSize-byte buffer (the name
//                        is never cut; the error text then shows its first
//                        bytes followed by "...").
// The sink may be null (nothing is sent).
//
// A package mounted here stays mounted until the FileManager is destroyed;
// a package file created here stays on disk.
#ifndef MARROWGATE_TRANSFER_MAKE_SURE_PACKAGE_H_
#define MARROWGATE_TRANSFER_MAKE_SURE_PACKAGE_H_

#include <cstddef>
#include <cstdint>

#include "package/manager/file_manager.h"
#include "transfer/pack_notify.h"

namespace marrowgate {

inline constexpr char kTextMakeSurePackage[] = "Make sure package %s exist ...";
inline constexpr char kTextCreatePackageError[] = "Create package %s err:%d";
inline constexpr char kPackageExtension[] = ".dpk";

// The cb_ERROR code of a failure.
constexpr int32_t kNotifyCreatePackage = -2;

// Refusals of MakeSurePackage itself.
constexpr int kPackageNameRefused = -10;
constexpr int kPackageNameTooLong = -12;

// Size of the buffer the texts and the path are composed in.
constexpr size_t kMakeSurePackageBufferSize = 1024;

int MakeSurePackage(FileManager* fileManager, const char* installDir, CPackNotify* notify,
                    const char* name);

// The refusals of MakeSurePackage alone, made without touching anything:
// 0 when `name` may be made in `installDir`, else kPackageNameRefused or
// kPackageNameTooLong after the same cb_ERROR. A run checks every name
// this way while it reads its configuration and makes the packages later.
int CheckPackageName(const FileManager* fileManager, const char* installDir, CPackNotify* notify,
                     const char* name);

// True when `name` is a relative path of non-empty components, none made
// only of dots and none holding ':' ('/' and '\\' both separate).
bool IsPackageNameContained(const char* name);

}  // namespace marrowgate

#endif  // MARROWGATE_TRANSFER_MAKE_SURE_PACKAGE_H_
