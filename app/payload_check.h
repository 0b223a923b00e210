// The patch's own package, checked and described before a run touches the
// install folder.
//
// CheckPayload reads the package appended to the patcher's program file
// the way `marrowgate-pack verify` does: the tail record that finds it,
// the package header and folder tree, every item unsealed to its end and
// compared with its stored MD5 (streamed in slices: memory does not grow
// with an item's size), and the block structure (CheckPackageBlocks of
// package/store/package_check.h). A program whose end was cut off (a
// download stopped early) has no tail record and fails here too.
//
//   PayloadSummary summary;
//   std::string problem;
//   if (!CheckPayload(modulePath, &summary, &problem))
//     show kTextPatchDamaged; the run does not start.
//
// With PayloadDepth::kStructure the items are not unsealed: the tail
// record, the header, the folder tree and the block structure are read,
// and of each item its sealed-stream header and that its stored length
// lies within the item (the block audit does both). A cut download still
// fails there. The patch run checks this much before it writes anything
// and leaves the content to the copy, which judges each item's MD5 before
// the file written from it is moved into place; `--about`, `--dry-run`
// and `marrowgate-pack verify` read everything.
//
// ReadPatchFacts adds what the patch is for: the lowest client version of
// its "cfg.txt" (szValidityStr) and the version it brings, the version
// file it carries ("<szUpdateDir>/mb/etc/version.txt" inside the package,
// read by the rule of the install folder's version file). Nothing outside
// the program file is read.
#ifndef MARROWGATE_APP_PAYLOAD_CHECK_H_
#define MARROWGATE_APP_PAYLOAD_CHECK_H_

#include <cstdint>
#include <string>
#include <vector>

#include "package/store/package.h"

namespace marrowgate {

// What the player is told when the patch's own package is unsound.
inline constexpr char kTextPatchDamaged[] =
    "the patch file is damaged or incomplete; download it again";

struct PayloadSummary {
  int64_t packageBytes = 0;  // the package's own length in the program file
  int32_t itemCount = 0;     // files in it
  int32_t folderCount = 0;   // folders in it
};

// How much of the package CheckPayload reads (see above).
enum class PayloadDepth {
  kWhole,      // every item unsealed to its end and its MD5 compared
  kStructure,  // the structure and each item's sealed-stream header only
};

// True when the package carried by the program file `programPath` is whole
// and sound to `depth`; *summary (optional) is then filled, and *headers
// (optional) with the item headers the block audit read, for
// Package::LearnItemHeaders of the same package opened for the run. False
// with *problem (optional) in plain words naming the first fault found.
bool CheckPayload(const std::string& programPath, PayloadSummary* summary, std::string* problem,
                  PayloadDepth depth = PayloadDepth::kWhole,
                  std::vector<ItemHeaderFacts>* headers = nullptr);

// Reads the version file the update in `package` carries, at
// "<updateDir>/mb/etc/version.txt". 1 with *version (the version text,
// white space around it cut) when there is one and it is a version; 0
// when the update carries none; -1 when it cannot be read or holds no
// version (*version then holds what it held, for messages).
int ReadCarriedVersion(Package* package, const std::string& updateDir, std::string* version);

struct PatchFacts {
  PayloadSummary summary;
  std::string requiredVersion;  // szValidityStr; empty: any client
  std::string targetVersion;    // the carried version; empty: none
};

// The facts of the program's package without the whole check (its tree
// and two small items are read). False with *problem when the package
// cannot be opened or listed; a "cfg.txt" that cannot be read leaves the
// versions empty.
bool ReadPatchFacts(const std::string& programPath, PatchFacts* facts, std::string* problem);

// "from <required> or later to <target>" (no "from" part without a
// required version); empty without a target version.
std::string DescribePatch(const PatchFacts& facts);

}  // namespace marrowgate

#endif  // MARROWGATE_APP_PAYLOAD_CHECK_H_
