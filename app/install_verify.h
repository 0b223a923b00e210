// VerifyInstall: whether an install folder is whole, judged by its local
// file list "update/localfilelist.txt" (app/local_file_list.h). Every
// record's file is opened through a FileManager (so files kept inside the
// folder's packages are found too), its size and MD5 compared:
//
//   ok       data/maps/valley.map
//   missing  data/old.bin
//   size     bin/game.cfg (listed 36, found 40)
//   digest   readme.txt
//   unsafe   ../outside.txt     (a name that would leave the folder; not
//                               opened, counted as differing)
//
// One line per record in list order (by name). Support staff read these
// lines; the result says whether every record matched.
#ifndef MARROWGATE_APP_INSTALL_VERIFY_H_
#define MARROWGATE_APP_INSTALL_VERIFY_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "package/manager/file_manager.h"

namespace marrowgate {

struct VerifyCounts {
  int64_t matched = 0;
  int64_t missing = 0;
  int64_t differing = 0;  // size or digest
};

enum VerifyResult : int {
  kVerifyWhole = 0,        // every record matched
  kVerifyDiffers = 1,      // some file is missing or differs
  kVerifyNoList = 2,       // the list cannot be opened or read
  kVerifyDamagedList = 3,  // the list is not a valid local file list
  kVerifyNoFileManager = 4,
};

// Checks `installDir` with a FileManager made from `options`; `line`
// receives each record's line (without its line end). *counts optional.
VerifyResult VerifyInstall(const FileManagerOptions& options, std::string_view installDir,
                           const std::function<void(const std::string&)>& line,
                           VerifyCounts* counts);

}  // namespace marrowgate

#endif  // MARROWGATE_APP_INSTALL_VERIFY_H_
