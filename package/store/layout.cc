#include "package/store/layout.h"
#include "util/byte_order.h"

#include <cstring>

namespace marrowgate {

// -------------------------------------------------------- package header

PackageHeader NewPackageHeader(uint32_t blockSize, const uint8_t keyDigest[16]) {
  PackageHeader header;
  std::memcpy(header.magic, kPackageMagic, sizeof(kPackageMagic));
  header.version = kPackageVersion;
  header.blockSize = blockSize;
  std::memcpy(header.keyDigest, keyDigest, 16);
  return header;
}

void EncodePackageHeader(const PackageHeader& header, uint8_t* out) {
  std::memset(out, 0, kPackageHeaderSize);
  std::memcpy(out, header.magic, 16);
  StoreLe32(header.version, out + 16);
  StoreLe32(header.blockSize, out + 20);
  StoreLe32(header.freeHead, out + 24);
  StoreLe32(header.blockCount, out + 28);
  std::memcpy(out + 32, header.keyDigest, 16);
  StoreLe32(header.dirBlock, out + 132);
  StoreLe32(header.namesBlock, out + 136);
}

bool IsValidPackageHeader(const PackageHeader& header) {
  return MagicFieldEquals(reinterpret_cast<const uint8_t*>(header.magic), 16, kPackageMagic) &&
         header.version == kPackageVersion;
}

bool DecodePackageHeader(const uint8_t* in, PackageHeader* header) {
  std::memcpy(header->magic, in, 16);
  header->version = LoadLe32(in + 16);
  header->blockSize = LoadLe32(in + 20);
  header->freeHead = LoadLe32(in + 24);
  header->blockCount = LoadLe32(in + 28);
  std::memcpy(header->keyDigest, in + 32, 16);
  header->dirBlock = LoadLe32(in + 132);
  header->namesBlock = LoadLe32(in + 136);
  return IsValidPackageHeader(*header);
}

// ------------------------------------------------------------ block link

void EncodeBlockLink(const BlockLink& link, uint8_t* out) {
  StoreLe32(link.prev, out);
  StoreLe32(link.next, out + 4);
}

BlockLink DecodeBlockLink(const uint8_t* in) {
  return BlockLink{LoadLe32(in), LoadLe32(in + 4)};
}

// ---------------------------------------------------------- entry header

void EncodeEntryHeader(const EntryHeader& header, uint8_t* out) {
  std::memset(out, 0, kEntryHeaderSize);
  StoreLe32(header.lastBlock, out);
  StoreLe32(header.size, out + 4);
  StoreLe32(header.time, out + 8);
}

EntryHeader DecodeEntryHeader(const uint8_t* in) {
  return EntryHeader{LoadLe32(in), LoadLe32(in + 4), LoadLe32(in + 8)};
}

// ----------------------------------------------------------- tail record

void EncodeTailRecord(const TailRecord& record, uint8_t* out) {
  std::memset(out, 0, kTailRecordSize);
  StoreMagicField(out, 16, kTailMagic);
  StoreLe32(0, out + 16);
  StoreLe32(record.baseOffset, out + 20);
  StoreLe32(record.dataSize, out + 24);
  StoreLe32(record.time, out + 28);
}

bool DecodeTailRecord(const uint8_t* in, TailRecord* record) {
  record->baseOffset = LoadLe32(in + 20);
  record->dataSize = LoadLe32(in + 24);
  record->time = LoadLe32(in + 28);
  return LoadLe32(in + 16) == 0 && std::memcmp(in, kTailMagic, sizeof(kTailMagic)) == 0;
}

// -------------------------------------------------------- item positions

ChainPosition MapItemPosition(uint64_t position, uint64_t size, uint32_t blockSize) {
  const uint64_t payload = BlockPayload(blockSize);
  const uint64_t absolute = position + kEntryHeaderSize;
  ChainPosition where{static_cast<uint32_t>(absolute / payload),
                      static_cast<uint32_t>(absolute % payload)};
  if (where.offset == 0 && position >= size && where.index > 0) {
    --where.index;
    where.offset = static_cast<uint32_t>(payload);
  }
  return where;
}

uint64_t ChainBlocksFor(uint64_t size, uint32_t blockSize) {
  return static_cast<uint64_t>(MapItemPosition(size, size, blockSize).index) + 1;
}

}  // namespace marrowgate
