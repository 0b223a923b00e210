#include "package/store/free_record.h"
#include "util/byte_order.h"

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
  StoreLe32(record.self, payload + 8);
  StoreLe32(record.runIndex, payload + 12);
  StoreLe32(record.runLength, payload + 16);
  StoreLe32(record.dirBlock, payload + 20);
  StoreLe32(record.namesBlock, payload + 24);
  StoreLe32(record.blockCount, payload + 28);
  StoreLe32(static_cast<uint32_t>(record.blocks.size()), payload + 32);
  for (size_t i = 0; i < record.blocks.size(); ++i)
    StoreLe32(record.blocks[i], payload + kFreeRecordHeaderSize + 4 * i);
  return true;
}

bool DecodeFreeRecord(const uint8_t* payload, size_t payloadSize, FreeRecord* record) {
  if (payloadSize < kFreeRecordHeaderSize ||
      std::memcmp(payload, kFreeRecordMagic, sizeof(kFreeRecordMagic)) != 0)
    return false;
  const uint32_t count = LoadLe32(payload + 32);
  if (count > (payloadSize - kFreeRecordHeaderSize) / 4) return false;
  record->self = LoadLe32(payload + 8);
  record->runIndex = LoadLe32(payload + 12);
  record->runLength = LoadLe32(payload + 16);
  record->dirBlock = LoadLe32(payload + 20);
  record->namesBlock = LoadLe32(payload + 24);
  record->blockCount = LoadLe32(payload + 28);
  record->blocks.resize(count);
  for (uint32_t i = 0; i < count; ++i)
    record->blocks[i] = LoadLe32(payload + kFreeRecordHeaderSize + 4 * i);
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

bool WriteFreeRecordRun(const PackageWriter& write, const PackageHeader& owner,
                        const std::vector<uint32_t>& run, const std::vector<uint32_t>& listed,
                        bool linkRun) {
  const uint32_t blockSize = owner.blockSize;
  const size_t capacity = FreeRecordCapacity(blockSize);
  if (capacity == 0 || run.size() * capacity < listed.size()) return false;
  std::vector<uint8_t> payload(BlockPayload(blockSize));
  size_t next = 0;
  for (size_t i = 0; i < run.size(); ++i) {
    const uint64_t blockOffset = static_cast<uint64_t>(run[i]) * blockSize;
    if (linkRun) {
      uint8_t link[kBlockLinkSize];
      EncodeBlockLink(BlockLink{i == 0 ? 0 : run[i - 1], i + 1 < run.size() ? run[i + 1] : 0},
                      link);
      if (!write(blockOffset, link, sizeof(link))) return false;
    }
    FreeRecord record;
    record.self = run[i];
    record.runIndex = static_cast<uint32_t>(i);
    record.runLength = static_cast<uint32_t>(run.size());
    record.dirBlock = owner.dirBlock;
    record.namesBlock = owner.namesBlock;
    record.blockCount = owner.blockCount;
    while (next < listed.size() && record.blocks.size() < capacity)
      record.blocks.push_back(listed[next++]);
    if (!EncodeFreeRecord(record, payload.data(), payload.size()) ||
        !write(blockOffset + kBlockLinkSize, payload.data(), payload.size()))
      return false;
  }
  return true;
}

}  // namespace marrowgate
