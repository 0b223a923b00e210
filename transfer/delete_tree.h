// DeleteTree: removes a file, or a folder with everything in it, through a
// FileSystem (the local disk or a FileManager). DeleteWithin: the same for
// a name below a folder that must not be left.
//
// On the disk a path is removed as a name, the way rm does it: a link is
// removed as a link, a folder with what it holds, links inside it removed
// as links and never followed, so nothing is reached through a link.
#ifndef MARROWGATE_TRANSFER_DELETE_TREE_H_
#define MARROWGATE_TRANSFER_DELETE_TREE_H_

#include <string>

#include "package/file/file_system.h"

namespace marrowgate {

// Inside a package (or a file system without links) a path that is not a
// folder is deleted as a file, and a folder is walked depth first: each
// file is deleted when met, each folder after its contents, the given
// folder last; the walk stops at the first failure. On the disk (where
// fs->WritesToDisk says the path lies) the name is removed without
// following links, as much of it as can be. False when the path was not
// there or something of it stays; true on success.
bool DeleteTree(FileSystem* fs, const char* path);

enum DeleteWithinResult : int {
  kDeleteWithinDone = 0,        // nothing is left at the name (or was there)
  kDeleteWithinRefused = -1,    // the name is no contained relative path, or
                                // the folder it lies in is outside `root`
  kDeleteWithinIncomplete = -2, // something of it could not be removed
};

// Removes `relative` (a contained relative path, util/safe_path.h) below
// the folder `root` through `fs`. On the disk, folders on the way may be
// links (the player's layout) as long as the folder holding the last
// component is `root` or lies below it once every link is resolved; the
// last component itself is removed as a name. `reason` (optional) gets
// the system's text for a failure.
DeleteWithinResult DeleteWithin(FileSystem* fs, const std::string& root,
                                const std::string& relative, std::string* reason);

}  // namespace marrowgate

#endif  // MARROWGATE_TRANSFER_DELETE_TREE_H_
