#include "package/layout.h"

#include <cstring>

namespace marrowgate {

uint32_t LoadLittle32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
         (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

void StoreLittle32(uint8_t* bytes, uint32_t value) {
  bytes[0] = static_cast<uint8_t>(value);
  bytes[1] = static_cast<uint8_t>(value >> 8);
  bytes[2] = static_cast<uint8_t>(value >> 16);
  bytes[3] = static_cast<uint8_t>(value >> 24);
}

namespace {

// True when the `width`-byte field holds `magic` as a zero-terminated string
// (a field without any zero byte does not).
bool MagicEquals(const uint8_t* field, int width, const char* magic) {
  const size_t length = std::strlen(magic);
  if (length >= static_cast<size_t>(width)) return false;
  return std::memcmp(field, magic, length + 1) == 0;
}

void StoreMagic(uint8_t* field, int width, const char* magic) {
  std::memset(field, 0, width);
  std::memcpy(field, magic, std::strlen(magic));
}

}  // namespace

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
  StoreLittle32(out + 16, header.version);
  StoreLittle32(out + 20, header.blockSize);
  StoreLittle32(out + 24, header.freeHead);
  StoreLittle32(out + 28, header.blockCount);
  std::memcpy(out + 32, header.keyDigest, 16);
  StoreLittle32(out + 132, header.dirBlock);
  StoreLittle32(out + 136, header.namesBlock);
}

bool IsValidPackageHeader(const PackageHeader& header) {
  return MagicEquals(reinterpret_cast<const uint8_t*>(header.magic), 16, kPackageMagic) &&
         header.version == kPackageVersion;
}

bool DecodePackageHeader(const uint8_t* in, PackageHeader* header) {
  std::memcpy(header->magic, in, 16);
  header->version = LoadLittle32(in + 16);
  header->blockSize = LoadLittle32(in + 20);
  header->freeHead = LoadLittle32(in + 24);
  header->blockCount = LoadLittle32(in + 28);
  std::memcpy(header->keyDigest, in + 32, 16);
  header->dirBlock = LoadLittle32(in + 132);
  header->namesBlock = LoadLittle32(in + 136);
  return IsValidPackageHeader(*header);
}

// ------------------------------------------------------------ block link

void EncodeBlockLink(const BlockLink& link, uint8_t* out) {
  StoreLittle32(out, link.prev);
  StoreLittle32(out + 4, link.next);
}

BlockLink DecodeBlockLink(const uint8_t* in) {
  return BlockLink{LoadLittle32(in), LoadLittle32(in + 4)};
}

// ---------------------------------------------------------- entry header

void EncodeEntryHeader(const EntryHeader& header, uint8_t* out) {
  std::memset(out, 0, kEntryHeaderSize);
  StoreLittle32(out, header.lastBlock);
  StoreLittle32(out + 4, header.size);
  StoreLittle32(out + 8, header.time);
}

EntryHeader DecodeEntryHeader(const uint8_t* in) {
  return EntryHeader{LoadLittle32(in), LoadLittle32(in + 4), LoadLittle32(in + 8)};
}

// ----------------------------------------------------------- seal header

void EncodeSealHeader(const SealHeader& header, uint8_t* out) {
  std::memset(out, 0, kSealHeaderSize);
  StoreMagic(out, 15, kSealMagic);
  out[15] = header.flags;
  std::memcpy(out + 16, header.digest, 16);
  StoreLittle32(out + 32, 0);
  StoreLittle32(out + 36, header.plainSize);
  StoreLittle32(out + 40, header.storedSize);
  StoreLittle32(out + 44, header.time);
}

bool DecodeSealHeader(const uint8_t* in, SealHeader* header) {
  header->flags = in[15];
  std::memcpy(header->digest, in + 16, 16);
  header->plainSize = LoadLittle32(in + 36);
  header->storedSize = LoadLittle32(in + 40);
  header->time = LoadLittle32(in + 44);
  return LoadLittle32(in + 32) == 0 && MagicEquals(in, 15, kSealMagic);
}

// ----------------------------------------------------------- tail record

void EncodeTailRecord(const TailRecord& record, uint8_t* out) {
  std::memset(out, 0, kTailRecordSize);
  StoreMagic(out, 16, kTailMagic);
  StoreLittle32(out + 16, 0);
  StoreLittle32(out + 20, record.baseOffset);
  StoreLittle32(out + 24, record.dataSize);
  StoreLittle32(out + 28, record.time);
}

bool DecodeTailRecord(const uint8_t* in, TailRecord* record) {
  record->baseOffset = LoadLittle32(in + 20);
  record->dataSize = LoadLittle32(in + 24);
  record->time = LoadLittle32(in + 28);
  return LoadLittle32(in + 16) == 0 && std::memcmp(in, kTailMagic, sizeof(kTailMagic)) == 0;
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
