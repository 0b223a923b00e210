// Free records: how a package keeps its free blocks accounted for while a
// writing session reuses them.
//
// The free list of the format is threaded through the blocks' links, so a
// session that hands a free block to a new chain rewrites links the last
// saved header still relies on. Before that happens the free blocks are
// listed one by one in free records, kept in the payload of free blocks
// (a part of the file the format leaves to the writer); a header whose
// free list starts with a valid run of records owns the listed blocks
// through the records, whatever their links say. A package interrupted at
// any point therefore still accounts for every block.
//
// A record run is `runLength` blocks reached from the header's freeHead
// through the links' `next`; the `next` of the run's last block is not
// followed. Record i of a run sits at payload offset 0 of its block:
//
//   offset  size  field
//   0       8     magic "mgfreer1"
//   8       4     self        the block holding the record
//   12      4     runIndex    i (0 for the block freeHead names)
//   16      4     runLength
//   20      4     dirBlock    of the header the run belongs to
//   24      4     namesBlock  (the same)
//   28      4     blockCount  (the same)
//   32      4     count       blocks listed in this record
//   36      4n    blocks
//
// A run is valid only for the header whose fields it repeats, and only at
// that header's freeHead. A writer turns a run back into a plain free list
// once the header that needs it is replaced, and clears the magic of the
// blocks involved.
#ifndef MARROWGATE_PACKAGE_STORE_FREE_RECORD_H_
#define MARROWGATE_PACKAGE_STORE_FREE_RECORD_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "package/store/layout.h"

namespace marrowgate {

inline constexpr char kFreeRecordMagic[8] = {'m', 'g', 'f', 'r', 'e', 'e', 'r', '1'};
inline constexpr size_t kFreeRecordHeaderSize = 36;

struct FreeRecord {
  uint32_t self = 0;
  uint32_t runIndex = 0;
  uint32_t runLength = 0;
  uint32_t dirBlock = 0;
  uint32_t namesBlock = 0;
  uint32_t blockCount = 0;
  std::vector<uint32_t> blocks;
};

// Blocks one record lists in a block of `blockSize` bytes.
size_t FreeRecordCapacity(uint32_t blockSize);

// Writes the record into `payload` (BlockPayload(blockSize) bytes; the rest
// is zeroed). False when its blocks do not fit.
bool EncodeFreeRecord(const FreeRecord& record, uint8_t* payload, size_t payloadSize);
// True when `payload` holds a record (magic and a count that fits).
bool DecodeFreeRecord(const uint8_t* payload, size_t payloadSize, FreeRecord* record);

// Reads `n` bytes at a file offset; false when they cannot all be read.
using PackageReader = std::function<bool(uint64_t offset, void* buffer, size_t n)>;

// The record run at `header`'s freeHead. True when there is a valid one:
// `runBlocks` receives the blocks holding it, `listed` the blocks it lists
// (each within 1 .. blockCount - 1, none twice, none a run block). False
// when the free list is plain (or empty) or the run is not valid.
bool ReadFreeRecordRun(const PackageReader& read, const PackageHeader& header,
                       std::vector<uint32_t>* runBlocks, std::vector<uint32_t>* listed);

// Writes `n` bytes at a file offset; false when they cannot all be written.
using PackageWriter = std::function<bool(uint64_t offset, const void* buffer, size_t n)>;

// Writes the record run held by the blocks of `run` (record i in run[i])
// listing the blocks of `listed` in order, each record repeating the
// fields of `owner`, the header the run belongs to (its block size too).
// With `linkRun`, the links of the run blocks are rewritten first to chain
// them in order; without, they stay as they are. False when `listed` does
// not fit in the run or a write fails.
bool WriteFreeRecordRun(const PackageWriter& write, const PackageHeader& owner,
                        const std::vector<uint32_t>& run, const std::vector<uint32_t>& listed,
                        bool linkRun);

}  // namespace marrowgate

#endif  // MARROWGATE_PACKAGE_STORE_FREE_RECORD_H_
