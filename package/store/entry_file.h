// EntryFile: the raw bytes of one package item, stored in a doubly-linked
// chain of blocks (see package/store/layout.h). A SealedFile normally sits on top
// of it; callers of a Package never see an EntryFile.
//
// The chain is reached through a BlockStore (the package): block numbers
// read from the file are checked against the store's block count before
// use, and no walk takes more steps than there are blocks, so a damaged
// chain gives an error instead of a loop or a read outside the package.
//
// Writes past the end extend the item: new blocks are allocated from the
// store and linked in at once; the EntryHeader (last block, size, time) is
// rewritten when the entry closes.
#ifndef MARROWGATE_PACKAGE_STORE_ENTRY_FILE_H_
#define MARROWGATE_PACKAGE_STORE_ENTRY_FILE_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "package/store/layout.h"
#include "package/file/open_mode.h"
#include "package/file/virtual_file.h"

namespace marrowgate {

// What an EntryFile needs from its package.
class BlockStore {
 public:
  virtual ~BlockStore() = default;
  virtual uint32_t BlockSize() const = 0;
  virtual uint32_t BlockCount() const = 0;
  // True when nothing may be written (package opened read-only).
  virtual bool ReadOnly() const = 0;
  // Exact transfers at an offset of the package file.
  virtual bool ReadAt(uint64_t offset, void* buffer, size_t n) = 0;
  virtual bool WriteAt(uint64_t offset, const void* buffer, size_t n) = 0;
  // A block for a chain (from the free list, else appended); 0 on failure.
  virtual uint32_t AllocateBlock() = 0;
  // `count` blocks in a row appended at the end of the store, for a chain
  // that grows by many blocks at once: the first of them, or 0 when the
  // store hands out no such run now (it has free blocks to reuse first, or
  // cannot): the chain then takes blocks one by one.
  virtual uint32_t AllocateRun(uint32_t /*count*/) { return 0; }
  // Told the code of a failure no caller can receive (a close at
  // destruction).
  virtual void ReportFailure(int /*code*/) {}
};

class EntryFile : public VirtualFile {
 public:
  explicit EntryFile(BlockStore* store) : store_(store) {}

  // Mode 2: allocates a new first block (-2 none, -3 link write, -4 header
  // write) and stores its number in *firstBlock. Other modes: opens the
  // chain at *firstBlock (-11 unreachable or unreadable, -12 not a chain
  // start, -13 implausible EntryHeader), reading the link, the EntryHeader
  // and the item's first bytes at once. A writable mode on a read-only
  // store: -1. Any mode outside 1..4: -100.
  int Open(int mode, uint32_t* firstBlock);
  // Rewrites the EntryHeader when written: 0; -1 read-only; -2 the first
  // block cannot be reached (or no longer starts a chain); -3 the write
  // failed. Also done on destruction (a failure then goes to
  // ReportFailure).
  int Close();
  // Grows the item by d bytes (allocating blocks); position unchanged.
  int Extend(uint32_t d);
  // Closes the entry (Close's result) and lets go of the store: every later
  // transfer fails and destruction writes nothing. For a package that
  // closes while the entry is still open.
  int Detach();

  int32_t Size() override { return static_cast<int32_t>(entry_.size); }
  int32_t GetTime() override { return static_cast<int32_t>(entry_.time); }
  // Read-only modes return the mode; otherwise 0 means now.
  int32_t SetTime(int32_t seconds) override;
  int32_t Read(void* buffer, int32_t n) override;
  // Origin 1 counts from the position, 2 from the end, anything else from
  // 0. Walks the chain to the target's block, so a broken chain shows
  // here: -1, -2, -3 when the block of the origin (current, last, first)
  // cannot be reached, -21 when the chain breaks on the way to the target
  // or to the last block. A negative target becomes 0. Past the end:
  // read-only modes stop at the end, writable modes grow the item to the
  // target (-31 no block or too large, -32/-33 a link write failed).
  int32_t Seek(int64_t offset, int origin) override;
  bool AtEnd() override { return position_ >= entry_.size; }
  int64_t Tell() override { return position_; }
  int32_t Write(const void* buffer, int32_t n) override;
  int32_t Flush() override { return 0; }

  // In a read-only package, reads fetch the item's blocks up to its end
  // (at most 256 KiB at once) and keep them, so that reading an item in
  // pieces, or its head twice, costs one read of the package file.
  void SetReadAhead(bool on) { readAhead_ = on; }
  // Called before Open on an item of a read-only package whose size is
  // known already (`itemBytes`, the chain's content): the opening read
  // takes its blocks whole (up to the run buffer) instead of the first
  // 8 KiB, so an item read whole costs one read of the package file.
  void ExpectItemBytes(uint64_t itemBytes) { expectedBytes_ = itemBytes; }

  uint32_t first_block() const { return first_; }
  const EntryHeader& entry_header() const { return entry_; }

 protected:
  ~EntryFile() override;

 private:
  // Makes chain block `index` current, walking the links from the current
  // block (backward or forward) or from the first. False when the chain is
  // broken.
  bool GoTo(uint32_t index);
  // The chain index of the block holding item position `position`.
  uint32_t IndexOf(uint32_t position) const;
  bool LoadLink(uint32_t block, BlockLink* link);
  bool StoreLink(uint32_t block, const BlockLink& link);
  bool ValidBlock(uint32_t block) const { return block >= 1 && block < store_->BlockCount(); }
  uint64_t BlockOffset(uint32_t block) const {
    return static_cast<uint64_t>(block) * store_->BlockSize();
  }
  // Appends blocks so the chain covers `newSize`; sets size and last block.
  int GrowTo(uint64_t newSize);
  // Blocks from the current one that one call may read or write together:
  // at most `wanted`, within the package and the run buffer.
  uint32_t RunLength(uint64_t wanted) const;
  // Reads blocks [currentBlock_, currentBlock_ + run) whole into run_.
  bool LoadRun(uint32_t run);
  // True when run_ still holds blocks [currentBlock_, currentBlock_ + run)
  // from an earlier read (read-only packages); *base is where they start.
  bool KeptRunHolds(uint32_t run, size_t* base) const;
  // Makes the block after the current one current when it is the next
  // block of the package and of the chain, its link (at `link` in run_)
  // pointing back. False otherwise (nothing changes).
  bool StepIntoRun(const uint8_t* link);

  BlockStore* store_;
  int mode_ = 0;
  bool opened_ = false;
  bool dirty_ = false;
  uint32_t first_ = 0;
  EntryHeader entry_;
  uint32_t position_ = 0;
  // The current block, its index in the chain and its link; index
  // kNoBlock when unknown.
  static constexpr uint32_t kNoBlock = 0xFFFFFFFFu;
  uint32_t currentBlock_ = 0;
  uint32_t currentIndex_ = kNoBlock;
  BlockLink currentLink_;
  // Whole blocks of a run of the chain that lies in consecutive blocks of
  // the package, read or written in one call instead of block by block.
  std::vector<uint8_t> run_;
  // The blocks run_ holds as read, kept for later reads; none when
  // keptBlocks_ is 0.
  bool readAhead_ = false;
  uint64_t expectedBytes_ = 0;  // ExpectItemBytes; 0: not known
  // The item's first bytes (a sealed stream's header), read with the
  // EntryHeader when the entry was opened in a read-only mode, so that
  // reading the head costs no call; headBytes_ 0 when none are kept.
  static constexpr uint32_t kHeadBytes = 48;
  uint8_t head_[kHeadBytes] = {};
  uint32_t headBytes_ = 0;
  uint32_t keptFirst_ = 0;
  uint32_t keptBlocks_ = 0;
};

}  // namespace marrowgate

#endif  // MARROWGATE_PACKAGE_STORE_ENTRY_FILE_H_
