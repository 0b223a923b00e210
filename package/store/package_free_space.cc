// Free space of a package: blocks handed to new chains, chains freed by a
// writing session, and the commit that switches from the old state to the
// new one while every block stays accounted for (see free_record.h).
#include <algorithm>
#include <cstring>
#include <new>

#include "package/store/free_record.h"
#include "package/store/package_impl.h"
#include "util/releaser.h"

namespace marrowgate {

uint32_t PackageImpl::AppendBlock() {
  const uint32_t block = header_.blockCount;
  const uint64_t end = (static_cast<uint64_t>(block) + 1) * header_.blockSize;
  if (block == std::numeric_limits<uint32_t>::max() || end > kMaxPackageBytes) {
    writeFailed_ = true;
    return 0;
  }
  const uint8_t zero = 0;
  if (!WriteAt(end - 1, &zero, 1)) return 0;
  header_.blockCount = block + 1;
  headerDirty_ = true;
  return block;
}

uint32_t PackageImpl::AllocateBlock() {
  if (ReadOnly()) return 0;
  if (!TakeFreeList()) return 0;
  if (!reusable_.empty()) {
    const uint32_t block = reusable_.front();
    reusable_.pop_front();
    headerDirty_ = true;
    return block;
  }
  return AppendBlock();
}

uint32_t PackageImpl::AllocateRun(uint32_t count) {
  if (ReadOnly() || count == 0 || !TakeFreeList() || !reusable_.empty()) return 0;
  const uint32_t first = header_.blockCount;
  const uint64_t end = (static_cast<uint64_t>(first) + count) * header_.blockSize;
  if (static_cast<uint64_t>(first) + count > std::numeric_limits<uint32_t>::max() ||
      end > kMaxPackageBytes)
    return 0;
  const uint8_t zero = 0;
  if (!WriteAt(end - 1, &zero, 1)) return 0;
  header_.blockCount = first + count;
  headerDirty_ = true;
  return first;
}

bool PackageImpl::TakeFreeList() {
  if (freeListTaken_) return true;
  // A new package has no committed state to keep.
  if (params_.mode == kOpenCreate || committed_.freeHead == 0) {
    freeListTaken_ = true;
    return true;
  }
  const uint32_t blockSize = committed_.blockSize;
  const uint32_t count = committed_.blockCount;
  // The plain list, walked no further than the package has blocks. A
  // damaged list is left alone: its blocks are not reused.
  std::vector<uint32_t> blocks;
  std::vector<bool> seen(count, false);
  for (uint32_t block = committed_.freeHead; block != 0;) {
    uint8_t bytes[kBlockLinkSize];
    if (block >= count || seen[block] ||
        !ReadAt(static_cast<uint64_t>(block) * blockSize, bytes, sizeof(bytes))) {
      freeListTaken_ = true;
      return true;
    }
    seen[block] = true;
    blocks.push_back(block);
    block = DecodeBlockLink(bytes).next;
  }
  // The first k blocks carry the records of the others; their links stay
  // as they are, so the plain list remains readable too.
  const size_t capacity = FreeRecordCapacity(blockSize);
  if (capacity == 0) {
    freeListTaken_ = true;
    return true;
  }
  size_t k = 1;
  while (k * capacity < blocks.size() - k) ++k;
  if (k > blocks.size()) k = blocks.size();
  const std::vector<uint32_t> run(blocks.begin(), blocks.begin() + static_cast<ptrdiff_t>(k));
  const std::vector<uint32_t> listed(blocks.begin() + static_cast<ptrdiff_t>(k), blocks.end());
  if (!WriteFreeRecordRun(Writer(), committed_, run, listed, /*linkRun=*/false)) return false;
  // The records must be on the device before a listed block is rewritten.
  if (!FlushFile()) return false;
  committedRun_.assign(blocks.begin(), blocks.begin() + static_cast<ptrdiff_t>(k));
  pending_.insert(pending_.end(), committedRun_.begin(), committedRun_.end());
  reusable_.assign(blocks.begin() + static_cast<ptrdiff_t>(k), blocks.end());
  freeListTaken_ = true;
  return true;
}

bool PackageImpl::CollectChain(uint32_t firstBlock, std::vector<uint32_t>* blocks) {
  const uint32_t blockSize = header_.blockSize;
  std::vector<uint32_t> chain;
  uint32_t block = firstBlock;
  for (uint32_t steps = 0; block != 0; ++steps) {
    uint8_t bytes[kBlockLinkSize];
    if (steps >= header_.blockCount || block >= header_.blockCount ||
        !ReadAt(static_cast<uint64_t>(block) * blockSize, bytes, sizeof(bytes)))
      return false;
    chain.push_back(block);
    block = DecodeBlockLink(bytes).next;
  }
  blocks->insert(blocks->end(), chain.begin(), chain.end());
  return true;
}

int PackageImpl::Finalize(const std::vector<uint32_t>& listed, const std::vector<uint32_t>& run) {
  std::vector<uint32_t> order(listed);
  order.insert(order.end(), run.begin(), run.end());
  const uint32_t blockSize = header_.blockSize;
  for (size_t i = 0; i < order.size(); ++i) {
    // The link, then the first payload bytes zeroed so that no stale
    // record magic stays in a plain free block.
    uint8_t bytes[kBlockLinkSize + sizeof(kFreeRecordMagic)] = {};
    EncodeBlockLink(BlockLink{i == 0 ? 0 : order[i - 1], i + 1 < order.size() ? order[i + 1] : 0},
                    bytes);
    // The run keeps its records until the header no longer names it.
    const size_t n = i < listed.size() ? sizeof(bytes) : kBlockLinkSize;
    if (!WriteAt(static_cast<uint64_t>(order[i]) * blockSize, bytes, n)) return kPackageFreeLinksNotWritten;
  }
  if (!FlushFile()) return kPackageFreeLinksNotFlushed;
  header_.freeHead = order.empty() ? 0 : order.front();
  if (const int code = WriteHeader(); code < 0) return kPackageFreeLinksNotFlushed + code;
  const uint8_t zero[sizeof(kFreeRecordMagic)] = {};
  for (uint32_t block : run) {
    if (!WriteAt(static_cast<uint64_t>(block) * blockSize + kBlockLinkSize, zero, sizeof(zero)))
      return kPackageRunNotCleared;
  }
  FlushFile();
  return 0;
}

int PackageImpl::Commit() {
  // The items' data first.
  if (!FlushFile()) return kPackageDataNotFlushed;
  if (!TakeFreeList()) return kPackageFreeListNotTaken;
  // New chains for the tree and the names; the old ones are freed once the
  // new header is in place.
  if (namesDirty_) {
    uint32_t block = 0;
    if (CreateSystemItem(&block) < 0) return kPackageNoNamesChain;
    if (const int code = SaveSystemItem(block, pool_.bytes()); code < 0) return kPackageNamesSaveOffset + code;
    if (!CollectChain(committed_.namesBlock, &pending_)) return kPackageOldNamesChainBroken;
    header_.namesBlock = block;
    namesDirty_ = false;
  }
  if (treeDirty_) {
    std::vector<uint8_t> records;
    WriteFolderTree(*root_, &records);
    uint32_t block = 0;
    if (CreateSystemItem(&block) < 0) return kPackageNoTreeChain;
    if (const int code = SaveSystemItem(block, records); code < 0) return kPackageTreeSaveOffset + code;
    if (!CollectChain(committed_.dirBlock, &pending_)) return kPackageOldTreeChainBroken;
    header_.dirBlock = block;
    treeDirty_ = false;
  }
  // The free blocks of the new state, listed in a record run held by
  // blocks that are free in the committed state (or appended).
  const size_t capacity = FreeRecordCapacity(header_.blockSize);
  if (capacity == 0) return kPackageBlocksTooSmall;
  std::vector<uint32_t> run;
  std::vector<uint32_t> listed(reusable_.begin(), reusable_.end());
  listed.insert(listed.end(), pending_.begin(), pending_.end());
  while (run.size() * capacity < listed.size()) {
    uint32_t block = 0;
    if (!reusable_.empty()) {
      block = reusable_.front();
      reusable_.pop_front();
      listed.erase(std::find(listed.begin(), listed.end(), block));
    } else {
      block = AppendBlock();
      if (block == 0) return kPackageNoRunBlock;
    }
    run.push_back(block);
  }
  if (!WriteFreeRecordRun(Writer(), header_, run, listed, /*linkRun=*/true)) return kPackageRunNotWritten;
  if (!FlushFile()) return kPackageDataNotFlushed;
  // The commit point: one header write, flushed.
  header_.freeHead = run.empty() ? 0 : run.front();
  if (const int code = WriteHeader(); code < 0) return kPackageHeaderWriteOffset + code;
  reusable_.clear();
  pending_.clear();
  committedRun_ = run;
  // From here on the old state is gone; what follows only tidies the free
  // list of the new one.
  const int tidied = Finalize(listed, run);
  if (tidied == 0) committedRun_.clear();
  return tidied;
}

int PackageImpl::FreeChain(uint32_t firstBlock) {
  const bool strict = params_.ignoreFreeErrors == 0;
  if (ReadOnly()) return strict ? -1 : 0;
  // An item open for writing still seals into its chain when released:
  // freeing it now would let that seal overwrite blocks given to others.
  // (An item open for reading holds its content in memory and never
  // writes.)
  for (const PackageItem* item : openItems_->items)
    if (item->writable() && item->entry()->first_block() == firstBlock) return -102;
  EntryHeader entryHeader;
  {
    auto* entry = new (std::nothrow) EntryFile(this);
    if (entry == nullptr) return -102;
    Owned<EntryFile> owner(entry);
    uint32_t first = firstBlock;
    const int code = entry->Open(kOpenUpdate, &first);
    if (code < 0) return strict ? code : 0;
    entryHeader = entry->entry_header();
  }
  // Walk to the last block (no further than the package has blocks) so
  // that only this chain goes to the free list.
  const uint32_t blockSize = header_.blockSize;
  auto load = [&](uint32_t block, BlockLink* link) {
    uint8_t bytes[kBlockLinkSize];
    if (block < 1 || block >= header_.blockCount ||
        !ReadAt(static_cast<uint64_t>(block) * blockSize, bytes, sizeof(bytes)))
      return false;
    *link = DecodeBlockLink(bytes);
    return true;
  };
  const uint32_t last = entryHeader.lastBlock;
  if (last < 1 || last >= header_.blockCount) return -102;
  uint32_t block = firstBlock;
  BlockLink link;
  if (!load(block, &link)) return -102;
  for (uint32_t steps = 0; block != last; ++steps) {
    if (steps >= header_.blockCount) return -102;
    const uint32_t next = link.next;
    if (!load(next, &link) || link.prev != block) return -102;
    block = next;
  }
  if (link.next != 0) return -102;
  // The blocks wait for the commit: the committed tree may still name
  // them.
  std::vector<uint32_t> blocks;
  if (!CollectChain(firstBlock, &blocks)) return -102;
  pending_.insert(pending_.end(), blocks.begin(), blocks.end());
  return 0;
}

}  // namespace marrowgate
