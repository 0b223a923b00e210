// DeleteTree: removes a file, or a folder with everything in it, through a
// FileSystem (the local disk or a FileManager).
#ifndef MARROWGATE_TRANSFER_DELETE_TREE_H_
#define MARROWGATE_TRANSFER_DELETE_TREE_H_

#include "package/file/file_system.h"

namespace marrowgate {

// A path that is not a folder is deleted as a file. A folder is walked
// depth first: each file is deleted when met, each folder after its
// contents, the given folder last. Stops at the first failure and returns
// false; what was deleted before it stays deleted. True on success.
bool DeleteTree(FileSystem* fs, const char* path);

}  // namespace marrowgate

#endif  // MARROWGATE_TRANSFER_DELETE_TREE_H_
