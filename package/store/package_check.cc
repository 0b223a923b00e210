#include "package/store/package_check.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "package/store/free_record.h"
#include "package/store/layout.h"

namespace marrowgate {

namespace {

// Problems beyond this many are counted, not listed.
constexpr size_t kMaxListedProblems = 50;

class BlockAudit {
 public:
  BlockAudit(VirtualFile* file, std::vector<std::string>* problems,
             std::vector<ItemHeaderFacts>* headers)
      : file_(file), problems_(problems), headers_(headers) {}

  bool ReadHeader() {
    uint8_t bytes[kPackageHeaderSize];
    if (file_->Seek(0, 0) != 0 || file_->Read(bytes, kPackageHeaderSize) != kPackageHeaderSize) {
      Problem("the package header cannot be read");
      return false;
    }
    if (!DecodePackageHeader(bytes, &header_) || !IsValidPackageHeader(header_)) {
      Problem("the package header is not valid");
      return false;
    }
    if (header_.blockSize < kMinBlockSize || header_.blockSize > kMaxBlockSize ||
        header_.blockCount < 1) {
      Problem("the header's block size or block count is impossible");
      return false;
    }
    uint64_t expected = uint64_t{header_.blockCount} * header_.blockSize;
    uint64_t actual = static_cast<uint64_t>(file_->Size());
    // Bytes past the last block are not part of the package: a session
    // interrupted before its commit leaves the blocks it appended there.
    if (actual < expected) {
      Problem("the file holds " + std::to_string(actual) + " bytes, but " +
              std::to_string(header_.blockCount) + " blocks of " +
              std::to_string(header_.blockSize) + " make " + std::to_string(expected));
      return false;
    }
    owners_.assign(header_.blockCount, -1);
    return true;
  }

  const PackageHeader& header() const { return header_; }

  // Walks the item chain starting at `first` and claims its blocks; the
  // header facts of a listed `item` are kept.
  void ItemChain(const std::string& label, uint32_t first, bool item = false) {
    int owner = NewOwner(label);
    if (!InRange(first)) {
      Problem(label + ": first block " + std::to_string(first) + " lies outside the package");
      return;
    }
    BlockLink link;
    uint8_t entryBytes[kEntryHeaderSize];
    if (!ReadLink(first, &link) || !ReadAt(first, kBlockLinkSize, entryBytes, kEntryHeaderSize)) {
      Problem(label + ": block " + std::to_string(first) + " cannot be read");
      return;
    }
    if (link.prev != 0)
      Problem(label + ": first block " + std::to_string(first) + " has prev " +
              std::to_string(link.prev) + " instead of 0");
    EntryHeader entry = DecodeEntryHeader(entryBytes);
    CheckSealedSize(label, first, entry, item);

    uint32_t current = first, previous = 0;
    uint64_t count = 0;
    while (true) {
      if (!Claim(current, owner, label)) return;
      ++count;
      if (!ReadLink(current, &link)) {
        Problem(label + ": block " + std::to_string(current) + " cannot be read");
        return;
      }
      if (count > 1 && link.prev != previous)
        Problem(label + ": block " + std::to_string(current) + " has prev " +
                std::to_string(link.prev) + " instead of " + std::to_string(previous));
      if (link.next == 0) break;
      if (!InRange(link.next)) {
        Problem(label + ": block " + std::to_string(current) + " links to block " +
                std::to_string(link.next) + " outside the package");
        return;
      }
      previous = current;
      current = link.next;
    }
    if (entry.lastBlock != current)
      Problem(label + ": its header names block " + std::to_string(entry.lastBlock) +
              " as the last, but the chain ends at block " + std::to_string(current));
    uint64_t needed = ChainBlocksFor(entry.size, header_.blockSize);
    if (count != needed)
      Problem(label + ": " + std::to_string(entry.size) + " bytes need " + std::to_string(needed) +
              " blocks, the chain has " + std::to_string(count));
  }

  void FreeList() {
    int owner = NewOwner("the free list");
    // A run of free records owns the blocks it lists, whatever their links.
    std::vector<uint32_t> run, listed;
    PackageReader reader = [this](uint64_t offset, void* buffer, size_t n) {
      return file_->Seek(static_cast<int64_t>(offset), 0) == 0 &&
             file_->Read(buffer, static_cast<int32_t>(n)) == static_cast<int32_t>(n);
    };
    if (ReadFreeRecordRun(reader, header_, &run, &listed)) {
      for (uint32_t block : run)
        if (!Claim(block, owner, "the free list")) return;
      int listedOwner = NewOwner("the blocks listed as free");
      for (uint32_t block : listed) Claim(block, listedOwner, "the blocks listed as free");
      return;
    }
    uint32_t current = header_.freeHead;
    while (current != 0) {
      if (!InRange(current)) {
        Problem("the free list reaches block " + std::to_string(current) +
                " outside the package");
        return;
      }
      if (!Claim(current, owner, "the free list")) return;
      BlockLink link;
      if (!ReadLink(current, &link)) {
        Problem("the free list: block " + std::to_string(current) + " cannot be read");
        return;
      }
      current = link.next;
    }
  }

  void Unclaimed() {
    size_t lost = 0;
    uint32_t firstLost = 0;
    for (uint32_t block = 1; block < owners_.size(); ++block) {
      if (owners_[block] >= 0) continue;
      if (lost++ == 0) firstLost = block;
    }
    if (lost > 0)
      Problem(std::to_string(lost) + " block(s) belong to no item and are not free (the first is block " +
              std::to_string(firstLost) + ")");
  }

 private:
  bool InRange(uint32_t block) const { return block >= 1 && block < header_.blockCount; }

  int NewOwner(const std::string& label) {
    labels_.push_back(label);
    return static_cast<int>(labels_.size() - 1);
  }

  // False when the block already belongs to a chain (a cycle or a shared
  // block), which ends the walk of this chain.
  bool Claim(uint32_t block, int owner, const std::string& label) {
    int& slot = owners_[block];
    if (slot == owner) {
      Problem(label + ": the chain runs in a cycle through block " + std::to_string(block));
      return false;
    }
    if (slot >= 0) {
      Problem(label + ": block " + std::to_string(block) + " also belongs to " + labels_[slot]);
      return false;
    }
    slot = owner;
    return true;
  }

  void CheckSealedSize(const std::string& label, uint32_t first, const EntryHeader& entry,
                       bool item) {
    if (entry.size < static_cast<uint32_t>(kSealHeaderSize)) {
      Problem(label + ": its " + std::to_string(entry.size) + " bytes cannot hold a sealed stream");
      return;
    }
    if (BlockPayload(header_.blockSize) < kEntryHeaderSize + kSealHeaderSize) return;
    uint8_t sealBytes[kSealHeaderSize];
    SealHeader seal;
    if (!ReadAt(first, kBlockLinkSize + kEntryHeaderSize, sealBytes, kSealHeaderSize) ||
        !DecodeSealHeader(sealBytes, &seal)) {
      Problem(label + ": its sealed-stream header is not valid");
      return;
    }
    if (uint64_t{entry.size} < uint64_t{kSealHeaderSize} + seal.storedSize) {
      Problem(label + ": its size " + std::to_string(entry.size) + " is shorter than its sealed stream (" +
              std::to_string(kSealHeaderSize + uint64_t{seal.storedSize}) + " bytes)");
      return;
    }
    if (item && headers_ != nullptr)
      headers_->push_back({first, seal.time, seal.plainSize, entry.size});
  }

  bool ReadLink(uint32_t block, BlockLink* link) {
    uint8_t bytes[kBlockLinkSize];
    if (!ReadAt(block, 0, bytes, kBlockLinkSize)) return false;
    *link = DecodeBlockLink(bytes);
    return true;
  }

  // Reads within one block. Blocks come from a window of neighbouring
  // blocks read at once: chains mostly run forward through neighbours, so
  // the audit of a package costs a read per window, not a seek per block.
  bool ReadAt(uint32_t block, uint32_t offset, uint8_t* out, int32_t n) {
    if (n < 0 || uint64_t{offset} + static_cast<uint32_t>(n) > header_.blockSize) return false;
    if (block < windowFirst_ || block - windowFirst_ >= windowBlocks_) {
      if (!FillWindow(block)) return false;
    }
    const size_t at = size_t{block - windowFirst_} * header_.blockSize + offset;
    std::memcpy(out, window_.data() + at, static_cast<size_t>(n));
    return true;
  }

  bool FillWindow(uint32_t block) {
    windowBlocks_ = 0;
    if (block >= header_.blockCount) return false;
    const uint32_t wanted =
        std::min<uint32_t>(std::max<uint32_t>(1, kWindowBytes / header_.blockSize),
                           header_.blockCount - block);
    window_.resize(size_t{wanted} * header_.blockSize);
    // The file holds every block (ReadHeader): a positioned read takes the
    // window whole.
    if (!file_->ReadExactlyAt(int64_t{block} * header_.blockSize, window_.data(), window_.size()))
      return false;
    windowFirst_ = block;
    windowBlocks_ = wanted;
    return true;
  }

  void Problem(std::string text) {
    if (problems_->size() < kMaxListedProblems) {
      problems_->push_back(std::move(text));
    } else if (problems_->size() == kMaxListedProblems) {
      problems_->push_back("(further problems not listed)");
    }
  }

  VirtualFile* file_;
  std::vector<std::string>* problems_;
  std::vector<ItemHeaderFacts>* headers_;
  PackageHeader header_;
  std::vector<int> owners_;
  std::vector<std::string> labels_;
  static constexpr uint32_t kWindowBytes = 256 * 1024;
  std::vector<uint8_t> window_;
  uint32_t windowFirst_ = 0;
  uint32_t windowBlocks_ = 0;
};

}  // namespace

std::vector<std::string> CheckPackageBlocks(VirtualFile* file,
                                            const std::vector<PackageItemRef>& items,
                                            std::vector<ItemHeaderFacts>* headers) {
  std::vector<std::string> problems;
  if (file == nullptr) {
    problems.push_back("no file to check");
    return problems;
  }
  BlockAudit audit(file, &problems, headers);
  if (!audit.ReadHeader()) return problems;
  audit.ItemChain("the folder tree", audit.header().dirBlock);
  audit.ItemChain("the name pool", audit.header().namesBlock);
  // Chains are walked in the order of their first blocks, so the windows
  // run forward through the file instead of jumping with the tree's order.
  std::vector<const PackageItemRef*> byFirstBlock;
  byFirstBlock.reserve(items.size());
  for (const PackageItemRef& item : items) byFirstBlock.push_back(&item);
  std::stable_sort(byFirstBlock.begin(), byFirstBlock.end(),
                   [](const PackageItemRef* a, const PackageItemRef* b) { return a->second < b->second; });
  for (const PackageItemRef* item : byFirstBlock)
    audit.ItemChain(item->first, item->second, /*item=*/true);
  audit.FreeList();
  audit.Unclaimed();
  return problems;
}

}  // namespace marrowgate
