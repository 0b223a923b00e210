// The bytes of a package file and of the records around it, with encoders
// and decoders that work on byte buffers (little-endian, field by field,
// independent of the host's byte order and of struct padding).
//
// A package is a sequence of blocks of `blockSize` bytes. Block 0 starts
// with the PackageHeader; blocks 1 .. blockCount - 1 belong to item chains
// or to the free list. Every chain block starts with a BlockLink; the first
// block of a chain then holds the EntryHeader, and the item's bytes follow
// it and continue in the payloads of the following blocks. Every item is a
// sealed stream: a SealHeader followed by `storedSize` bytes. A package
// appended to another file is closed by a TailRecord.
//
// Decoders never fail on the bytes themselves; the Is...Valid functions and
// the bool results tell whether a record is acceptable.
#ifndef MARROWGATE_PACKAGE_STORE_LAYOUT_H_
#define MARROWGATE_PACKAGE_STORE_LAYOUT_H_

#include <cstdint>

#include "package/seal/seal_layout.h"

namespace marrowgate {

inline constexpr int kPackageHeaderSize = 160;
inline constexpr int kBlockLinkSize = 8;
inline constexpr int kEntryHeaderSize = 24;
inline constexpr int kTailRecordSize = 64;

inline constexpr uint32_t kPackageVersion = 2;
inline constexpr uint32_t kDefaultBlockSize = 1024;
// The smallest block that can hold a link and an entry header with room to
// spare; anything smaller in a header is refused.
inline constexpr uint32_t kMinBlockSize = 64;
// The largest block size accepted from a file (keeps one block's buffer
// bounded).
inline constexpr uint32_t kMaxBlockSize = 1u << 20;

inline constexpr char kPackageMagic[] = "zkpackage1.0";
inline constexpr char kTailMagic[] = "zktailfile";


// -------------------------------------------------------- package header

// Block 0. Reserved bytes are written as zero.
struct PackageHeader {
  char magic[16] = {};        // "zkpackage1.0", zero-padded
  uint32_t version = 0;       // offset 16
  uint32_t blockSize = 0;     // 20
  uint32_t freeHead = 0;      // 24: first free block, 0 when none
  uint32_t blockCount = 0;    // 28: blocks in the file, header included
  uint8_t keyDigest[16] = {};  // 32: MD5 of key A (of "" when none)
  uint32_t dirBlock = 0;      // 132: first block of the folder tree
  uint32_t namesBlock = 0;    // 136: first block of the name pool
};

// A header with magic, version 2 and the given block size and key digest;
// everything else zero.
PackageHeader NewPackageHeader(uint32_t blockSize, const uint8_t keyDigest[16]);
// Writes kPackageHeaderSize bytes.
void EncodePackageHeader(const PackageHeader& header, uint8_t* out);
// Reads kPackageHeaderSize bytes; true when the header is valid (the magic
// equals kPackageMagic as a zero-terminated string and version is 2).
bool DecodePackageHeader(const uint8_t* in, PackageHeader* header);
bool IsValidPackageHeader(const PackageHeader& header);

// ------------------------------------------------------------ block link

struct BlockLink {
  uint32_t prev = 0;  // 0 for the first block of a chain
  uint32_t next = 0;  // 0 for the last block
};

void EncodeBlockLink(const BlockLink& link, uint8_t* out);  // 8 bytes
BlockLink DecodeBlockLink(const uint8_t* in);

// ---------------------------------------------------------- entry header

// At the start of the payload of a chain's first block.
struct EntryHeader {
  uint32_t lastBlock = 0;  // last block of the chain
  uint32_t size = 0;       // length of the item's stored bytes
  uint32_t time = 0;       // modification time
};

void EncodeEntryHeader(const EntryHeader& header, uint8_t* out);  // 24 bytes
EntryHeader DecodeEntryHeader(const uint8_t* in);

// ----------------------------------------------------------- tail record

// The last 64 bytes of a file that carries an appended package.
struct TailRecord {
  uint32_t baseOffset = 0;  // offset 20: where the window starts
  uint32_t dataSize = 0;    // 24: length of the window
  uint32_t time = 0;        // 28: 0 when never set
};

// Writes kTailRecordSize bytes: "zktailfile" zero-padded to 16 bytes, a zero
// reserved word, the three fields and 32 zero bytes.
void EncodeTailRecord(const TailRecord& record, uint8_t* out);
// Reads kTailRecordSize bytes; true when recognised (reserved word at 16 is
// 0 and the first 11 bytes are "zktailfile" with its terminating zero).
bool DecodeTailRecord(const uint8_t* in, TailRecord* record);

// -------------------------------------------------------- item positions

// Where an item position lies in its chain: block `index` (0 = the first
// block) at payload offset `offset` (the payload starts after the link).
struct ChainPosition {
  uint32_t index = 0;
  uint32_t offset = 0;
};

// Maps item position p of an item of `size` stored bytes: index = (p + 24)
// div (blockSize - 8), offset = (p + 24) mod (blockSize - 8); except that
// when the offset is 0 and p >= size the position is the end of the
// previous block (offset blockSize - 8), so that an item exactly filling its
// last block needs no further block. `blockSize` must exceed 32.
ChainPosition MapItemPosition(uint64_t position, uint64_t size, uint32_t blockSize);

// Payload bytes of one block.
inline uint32_t BlockPayload(uint32_t blockSize) { return blockSize - kBlockLinkSize; }

// Number of chain blocks an item of `size` bytes occupies (at least 1).
uint64_t ChainBlocksFor(uint64_t size, uint32_t blockSize);

}  // namespace marrowgate

#endif  // MARROWGATE_PACKAGE_STORE_LAYOUT_H_
