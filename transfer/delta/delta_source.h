// The copy engines' side of delta items: a delta item met in the source
// tree stands for its target (transfer/delta/delta_item.h), and the bytes
// to copy are the target's new content, rebuilt from the delta and the
// file installed there now.
//
// OpenDeltaSource checks, before anything is written, that the installed
// target is the file the delta was made from (its size and MD5; a record
// of it in some list is no proof) and hands back a read-only stream of the
// new content. The stream rebuilds as it is read, in bounded memory; its
// size is the new size, and its last read fails unless the rebuilt bytes
// have the new size and MD5 the item carries. The engine writes it to the
// target's staging file like any other source, so a failure or a crash
// leaves the old file in place. An installed target that already is the
// new version (a run stopped after placing it) is its own source, so that
// running the patch again completes it.
#ifndef MARROWGATE_TRANSFER_DELTA_DELTA_SOURCE_H_
#define MARROWGATE_TRANSFER_DELTA_DELTA_SOURCE_H_

#include <string>

#include "package/file/file_system.h"
#include "transfer/delta/delta_item.h"
#include "util/releaser.h"

namespace marrowgate {

constexpr int32_t kDeltaBadTarget = -20;      // the item's name stands for no plain target
constexpr int32_t kDeltaTargetNotOnDisk = -21;  // the target lies inside a package

// `item` is the opened delta item at `*target` (its name, delta suffix
// included) on the target side `destination`. On success returns 0, puts
// the rebuilding stream in `*item` (which now owns the item and the
// installed file) and the target's own path in `*target`. Otherwise
// returns kDeltaBadTarget, kDeltaTargetNotOnDisk, kDeltaBadHeader,
// kDeltaReadFailed or kDeltaBasisDiffers (also for a missing target), with
// `*target` set to the target's path where there is one; `*item` is
// released.
int32_t OpenDeltaSource(Owned<VirtualFile>* item, FileSystem* destination, std::string* target);

}  // namespace marrowgate

#endif  // MARROWGATE_TRANSFER_DELTA_DELTA_SOURCE_H_
