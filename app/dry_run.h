// DryRunInstall: what a patch run would do to an install folder, found
// without writing anything. It reads the patch's own package and its
// "cfg.txt" as a run does, checks the installed version against the
// patch's requirement, and walks the update tree through a FileManager
// that opens every package read-only, with the name rules of the copy:
// the skip list (messages 900 onward, the names present in the folder),
// the held-back list (messages 10001 onward, the version file last), paths
// into packages (a PACKAGE line's package, or a package already in the
// folder). One line per entry, sizes in bytes:
//
//   version    installed 1.5.0.0, needs 1.2.0.0
//   package    data/sound.dpk would create package
//   package    data/music.dpk exists
//   new        data/a.bin 3000
//   replace    readme.txt 11 -> 12
//   hold back  bin/game.exe 19 (new)
//   hold back  mb/etc/version.txt 10 (replaces 10)
//   delta      data/big.bin 2097152 -> 2097171 (the installed file matches)
//   delta      data/map.bin 900 -> 950 (the installed file differs from the
//              version the patch was made for: the whole new file is carried instead)
//   delta      data/old.bin 900 -> 950: the installed file is missing
//   delta      data/maps/hill.map 4000 -> 4100 (the installed file matches)
//              (an item of an installed package, rebuilt in the package)
//   skip       launcher.exe 37
//   delete     old (folder, 2 files, 10 bytes)
//   delete     stale.txt 5
//   in the way data/a.bin: Is a directory
//   damaged    data/b.bin: cannot be read from the patch
//   unsafe     ../x: not a path inside the install folder
//   too old    installed 1.0.0.0, needs 1.2.0.0
//
// then a summary line. Files and items are read in slices (an item is
// unsealed as it is read, never held whole). Nothing is created, written or deleted: not the
// log, not the packages of PACKAGE lines, not the bookkeeping files.
#ifndef MARROWGATE_APP_DRY_RUN_H_
#define MARROWGATE_APP_DRY_RUN_H_

#include <cstdint>
#include <functional>
#include <string>

#include "package/manager/file_manager.h"

namespace marrowgate {

struct DryRunTotals {
  int64_t newFiles = 0;
  int64_t replaced = 0;
  int64_t heldBack = 0;
  int64_t skipped = 0;
  int64_t deleted = 0;       // delete-list lines that match something
  int64_t packagesMade = 0;  // PACKAGE lines whose package is not there yet
  int64_t problems = 0;      // entries that would make the run fail
  uint64_t bytesWritten = 0; // what the copy would write, held back included
  uint64_t bytesDeleted = 0;
};

enum DryRunResult : int {
  kDryRunWouldApply = 0,
  kDryRunWouldFail = 1,  // too old, a damaged patch, a target in the way
};

struct DryRunSettings {
  FileManagerOptions options;  // the application's (app/app_file_manager.h)
  std::string modulePath;      // the program that carries the patch
  std::string installDir;      // no trailing separator
  bool allowDowngrade = false; // --allow-downgrade: a newer client is no problem
};

// `line` receives each line above without its line end, the summary last.
// *totals optional.
DryRunResult DryRunInstall(const DryRunSettings& settings,
                           const std::function<void(const std::string&)>& line,
                           DryRunTotals* totals);

}  // namespace marrowgate

#endif  // MARROWGATE_APP_DRY_RUN_H_
