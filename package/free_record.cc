#include "package/free_record.h"

#include <cstring>

namespace marrowgate {

size_t FreeRecordCapacity(uint32_t blockSize) {
  const size_t payload = BlockPayload(blockSize);
  return payload <= kFreeRecordHeaderSize ? 0 : (payload - kFreeRecordHeaderSize) / 4;
}

bool EncodeFreeRecord(const FreeRecord& record, uint8_t* payload, size_t payloadSize) {
  if (payloadSize < kFreeRecordHeaderSize ||
      record.blocks.size() > (payloadSize - kFreeRecordHeaderSize) / 4)
    return false;
  std::memset(payload, 0, payloadSize);
  std::memcpy(payload, kFreeRecordMagic, sizeof(kFreeRecordMagic));
  StoreLittle32(payload + 8, record.self);
  StoreLittle32(payload + 12, record.runIndex);
  StoreLittle32(payload + 16, record.runLength);
  StoreLittle32(payload + 20, record.dirBlock);
  StoreLittle32(payload + 24, record.namesBlock);
  StoreLittle32(payload + 28, record.blockCount);
  StoreLittle32(payload + 32, static_cast<uint32_t>(record.blocks.size()));
  for (size_t i = 0; i < record.blocks.size(); ++i)
    StoreLittle32(payload + kFreeRecordHeaderSize + 4 * i, record.blocks[i]);
  return true;
}

bool DecodeFreeRecord(const uint8_t* payload, size_t payloadSize, FreeRecord* record) {
  if (payloadSize < kFreeRecordHeaderSize ||
      std::memcmp(payload, kFreeRecordMagic, sizeof(kFreeRecordMagic)) != 0)
    return false;
  const uint32_t count = LoadLittle32(payload + 32);
  if (count > (payloadSize - kFreeRecordHeaderSize) / 4) return false;
  record->self = LoadLittle32(payload + 8);
  record->runIndex = LoadLittle32(payload + 12);
  record->runLength = LoadLittle32(payload + 16);
  record->dirBlock = LoadLittle32(payload + 20);
  record->namesBlock = LoadLittle32(payload + 24);
  record->blockCount = LoadLittle32(payload + 28);
  record->blocks.resize(count);
  for (uint32_t i = 0; i < count; ++i)
    record->blocks[i] = LoadLittle32(payload + kFreeRecordHeaderSize + 4 * i);
  return true;
}

bool ReadFreeRecordRun(const PackageReader& read, const PackageHeader& header,
                       std::vector<uint32_t>* runBlocks, std::vector<uint32_t>* listed) {
  runBlocks->clear();
  listed->clear();
  const uint32_t blockSize = header.blockSize;
  const uint32_t count = header.blockCount;
  if (blockSize < kMinBlockSize || blockSize > kMaxBlockSize) return false;
  std::vector<uint8_t> bytes(blockSize);
  std::vector<bool> seen(count, false);
  uint32_t block = header.freeHead;
  uint32_t runLength = 0;
  for (uint32_t index = 0; index == 0 || index < runLength; ++index) {
    if (block < 1 || block >= count || seen[block]) return false;
    if (!read(static_cast<uint64_t>(block) * blockSize, bytes.data(), blockSize)) return false;
    FreeRecord record;
    if (!DecodeFreeRecord(bytes.data() + kBlockLinkSize, BlockPayload(blockSize), &record))
      return false;
    if (index == 0) runLength = record.runLength;
    if (record.self != block || record.runIndex != index || record.runLength != runLength ||
        runLength == 0 || runLength >= count || record.dirBlock != header.dirBlock ||
        record.namesBlock != header.namesBlock || record.blockCount != header.blockCount)
      return false;
    seen[block] = true;
    runBlocks->push_back(block);
    for (uint32_t listedBlock : record.blocks) {
      if (listedBlock < 1 || listedBlock >= count) return false;
      listed->push_back(listedBlock);
    }
    block = DecodeBlockLink(bytes.data()).next;
  }
  for (uint32_t listedBlock : *listed) {
    if (seen[listedBlock]) return false;
    seen[listedBlock] = true;
  }
  return true;
}

}  // namespace marrowgate
