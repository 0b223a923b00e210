// CheckPackageBlocks: an audit of a package's block structure, for tools
// that verify packages. It reads the raw blocks of the file and checks that
//  - the header is valid and the file holds blockCount * blockSize bytes
//    (bytes past them, left by an interrupted session, are not part of
//    the package);
//  - every chain (the folder tree, the name pool, each listed item and the
//    free list) stays inside the file and has no cycle; a free list that
//    starts with a run of free records (package/store/free_record.h) owns the
//    blocks the records list;
//  - each item chain's first block has prev 0, each further block's prev
//    names its predecessor, its EntryHeader's lastBlock is the block whose
//    next is 0, and it has as many blocks as its size needs;
//  - each item's size covers its sealed stream (48 + storedSize);
//  - every block 1 .. blockCount - 1 belongs to exactly one chain or to the
//    free list.
#ifndef MARROWGATE_PACKAGE_STORE_PACKAGE_CHECK_H_
#define MARROWGATE_PACKAGE_STORE_PACKAGE_CHECK_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "package/file/virtual_file.h"

namespace marrowgate {

// An item of the folder tree: its path (for messages) and its first block.
using PackageItemRef = std::pair<std::string, uint32_t>;

// What an item's sealed-stream header says of its content, by the item's
// first block.
struct ItemHeaderFacts {
  uint32_t firstBlock = 0;
  uint32_t time = 0;
  uint32_t plainSize = 0;
  uint32_t itemBytes = 0;  // the chain's content: the sealed stream's length
};

// Checks `file` (a package file, or the window of a host) against the
// items of its folder tree. Returns the problems in plain words; empty
// when the structure is sound. With `headers`, the facts of each item
// header the audit read are added there (Package::LearnItemHeaders takes
// them).
std::vector<std::string> CheckPackageBlocks(VirtualFile* file,
                                            const std::vector<PackageItemRef>& items,
                                            std::vector<ItemHeaderFacts>* headers = nullptr);

}  // namespace marrowgate

#endif  // MARROWGATE_PACKAGE_STORE_PACKAGE_CHECK_H_
