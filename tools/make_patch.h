// The publisher's patch commands of marrowgate-pack:
//
//   make-patch OLD NEW OUTPUT   a patch taking the install folder OLD to NEW:
//                               the files and package items of NEW that are
//                               new or differ (size and MD5), the new-file
//                               and delete lists, and a cfg.txt; written as
//                               a patch program or (--folder) a patch folder
//   check [OLD] PATCH           the problems of a patch folder or program;
//                               given the install OLD, every delta item is
//                               rebuilt from OLD's file and checked
//   file-list FOLDER            FOLDER/update/localfilelist.txt for a fresh
//                               install
//
// A patch folder holds "cfg.txt" (messages and the UPDATE block) and the
// update tree "update/", which the patcher copies into the install folder;
// the lists it reads afterwards travel inside that tree as
// "update/update/newfile.txt" and "update/update/dellist.txt".
#ifndef MARROWGATE_TOOLS_MAKE_PATCH_H_
#define MARROWGATE_TOOLS_MAKE_PATCH_H_

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tools/pack_command_line.h"

namespace marrowgate {

// The message numbers the patcher shows (captions, status texts and
// failures); a patch's cfg.txt must give each of them.
const std::vector<int>& PatcherMessageNumbers();

// The built-in English message set of make-patch (CR LF lines).
const char* DefaultPatchMessages();

// What check knows besides the patch itself.
struct PatchCheckContext {
  // The version of the install the patch was made from; when it differs
  // from the requirement, the update must carry a version file.
  std::optional<std::string> newVersion;
  // The install the patch applies to: each delta item must find there the
  // old file it was made from and rebuild the new one from it.
  std::optional<std::string> oldRoot;
  // The package passwords with which OLD's packages are read (a delta
  // item may rebuild a package item).
  std::string keyA, keyB;
};

// Every problem of the patch folder `folder`, one line each (empty: none).
std::vector<std::string> CheckPatchFolder(const std::string& folder,
                                          const PatchCheckContext& context = {});

// The commands; results on `out`, errors and problems on `err`. Each
// returns the exit status (0, or 1 on failure or problems).
int RunMakePatch(const PackCommandLine& line, std::ostream& out, std::ostream& err);
int RunCheckPatch(const PackCommandLine& line, std::ostream& out, std::ostream& err);
int RunFileList(const PackCommandLine& line, std::ostream& out, std::ostream& err);

}  // namespace marrowgate

#endif  // MARROWGATE_TOOLS_MAKE_PATCH_H_
