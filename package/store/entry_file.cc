#include "package/store/entry_file.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "util/clock.h"

namespace marrowgate {

namespace {

constexpr uint64_t kMaxItemSize = static_cast<uint64_t>(std::numeric_limits<int32_t>::max());

// Bytes of whole blocks one read or write of a run moves at most.
constexpr uint64_t kRunBytes = uint64_t{256} << 10;
// What opening an item of a read-only package reads and keeps.
constexpr uint64_t kOpenRunBytes = uint64_t{8} << 10;

uint32_t Now() { return static_cast<uint32_t>(LibClockNow()); }

// Item bytes a chain of `blocks` blocks can hold.
uint64_t ChainCapacity(uint64_t blocks, uint32_t blockSize) {
  return blocks * BlockPayload(blockSize) - kEntryHeaderSize;
}

}  // namespace

EntryFile::~EntryFile() {
  if (opened_ && dirty_) {
    const int code = Close();
    if (code < 0) store_->ReportFailure(code);
  }
}

bool EntryFile::LoadLink(uint32_t block, BlockLink* link) {
  if (!ValidBlock(block)) return false;
  uint8_t bytes[kBlockLinkSize];
  if (!store_->ReadAt(BlockOffset(block), bytes, sizeof(bytes))) return false;
  *link = DecodeBlockLink(bytes);
  return true;
}

bool EntryFile::StoreLink(uint32_t block, const BlockLink& link) {
  if (!ValidBlock(block)) return false;
  uint8_t bytes[kBlockLinkSize];
  EncodeBlockLink(link, bytes);
  return store_->WriteAt(BlockOffset(block), bytes, sizeof(bytes));
}

int EntryFile::Open(int mode, uint32_t* firstBlock) {
  if (!IsValidOpenMode(mode) || firstBlock == nullptr) return -100;
  if (store_->ReadOnly() && !IsReadOnlyMode(mode)) return -1;
  mode_ = mode;
  position_ = 0;
  dirty_ = false;
  if (mode == kOpenCreate) {
    const uint32_t block = store_->AllocateBlock();
    if (block == 0 || !ValidBlock(block)) return -2;
    *firstBlock = block;
    first_ = block;
    if (!StoreLink(block, BlockLink{0, 0})) return -3;
    entry_ = EntryHeader{block, 0, Now()};
    uint8_t bytes[kEntryHeaderSize];
    EncodeEntryHeader(entry_, bytes);
    if (!store_->WriteAt(BlockOffset(block) + kBlockLinkSize, bytes, sizeof(bytes))) return -4;
    currentLink_ = BlockLink{0, 0};
  } else {
    first_ = *firstBlock;
    // The link, the EntryHeader behind it and what the block holds of the
    // item's head, in one read. In a read-only package that read takes the
    // first blocks whole and keeps them, so a small item costs no further
    // read (blocks that turn out not to be the chain's are never used).
    constexpr size_t kFixed = kBlockLinkSize + kEntryHeaderSize;
    uint8_t head[kFixed + kHeadBytes];
    const uint8_t* bytes = head;
    const size_t wanted = std::min<size_t>(sizeof(head), store_->BlockSize());
    if (!ValidBlock(first_)) return -11;
    currentBlock_ = first_;
    keptBlocks_ = 0;
    const uint64_t openingBlocks =
        expectedBytes_ > 0 ? ChainBlocksFor(expectedBytes_, store_->BlockSize())
                           : kOpenRunBytes / store_->BlockSize();
    const uint32_t opening = IsReadOnlyMode(mode) && store_->ReadOnly()
                                 ? RunLength(std::max<uint64_t>(1, openingBlocks))
                                 : 0;
    if (opening > 0 && LoadRun(opening)) {
      keptFirst_ = first_;
      keptBlocks_ = opening;
      bytes = run_.data();
    } else if (!store_->ReadAt(BlockOffset(first_), head, wanted)) {
      return -11;
    }
    currentLink_ = DecodeBlockLink(bytes);
    if (currentLink_.prev != 0) return -12;
    entry_ = DecodeEntryHeader(bytes + kBlockLinkSize);
    headBytes_ = 0;
    if (IsReadOnlyMode(mode)) {
      headBytes_ = static_cast<uint32_t>(std::min<uint64_t>(wanted - kFixed, entry_.size));
      std::memcpy(head_, bytes + kFixed, headBytes_);
    }
    // The size must fit in the blocks the package has, and the last block
    // must be one of them.
    if (!ValidBlock(entry_.lastBlock) || entry_.size > kMaxItemSize ||
        ChainBlocksFor(entry_.size, store_->BlockSize()) > store_->BlockCount() - 1)
      return -13;
  }
  currentBlock_ = first_;
  currentIndex_ = 0;
  opened_ = true;
  return 0;
}

int EntryFile::Close() {
  if (!opened_ || !dirty_) return 0;
  if (IsReadOnlyMode(mode_)) return -1;
  BlockLink firstLink;
  if (!LoadLink(first_, &firstLink) || firstLink.prev != 0) return -2;
  uint8_t bytes[kEntryHeaderSize];
  EncodeEntryHeader(entry_, bytes);
  if (!store_->WriteAt(BlockOffset(first_) + kBlockLinkSize, bytes, sizeof(bytes))) return -3;
  dirty_ = false;
  return 0;
}

int EntryFile::Detach() {
  const int code = Close();
  opened_ = false;
  return code;
}

bool EntryFile::GoTo(uint32_t index) {
  if (currentIndex_ == index) return true;
  // No chain has more blocks than the package.
  if (index >= store_->BlockCount()) return false;
  uint32_t block;
  uint32_t at;
  BlockLink link;
  if (index == 0 || currentIndex_ == kNoBlock) {
    block = first_;
    at = 0;
    if (!LoadLink(first_, &link) || link.prev != 0) {
      currentIndex_ = kNoBlock;
      return false;
    }
  } else {
    block = currentBlock_;
    at = currentIndex_;
    link = currentLink_;
  }
  // Backward along the prev links: each block must name the one it came
  // from as its successor.
  while (at > index) {
    const uint32_t prev = link.prev;
    if (!LoadLink(prev, &link) || link.next != block) {
      currentIndex_ = kNoBlock;
      return false;
    }
    block = prev;
    --at;
  }
  while (at < index) {
    const uint32_t next = link.next;
    if (!LoadLink(next, &link) || link.prev != block) {
      currentIndex_ = kNoBlock;
      return false;
    }
    block = next;
    ++at;
  }
  currentBlock_ = block;
  currentIndex_ = index;
  currentLink_ = link;
  return true;
}

uint32_t EntryFile::RunLength(uint64_t wanted) const {
  const uint64_t blockSize = store_->BlockSize();
  const uint64_t byBuffer = std::max<uint64_t>(1, kRunBytes / blockSize);
  const uint64_t byPackage = store_->BlockCount() - currentBlock_;
  return static_cast<uint32_t>(std::min({wanted, byBuffer, byPackage}));
}

bool EntryFile::LoadRun(uint32_t run) {
  const size_t bytes = static_cast<size_t>(run) * store_->BlockSize();
  try {
    if (run_.size() < bytes) run_.resize(bytes);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return store_->ReadAt(BlockOffset(currentBlock_), run_.data(), bytes);
}

bool EntryFile::KeptRunHolds(uint32_t run, size_t* base) const {
  if (keptBlocks_ == 0 || currentBlock_ < keptFirst_ ||
      uint64_t{currentBlock_} + run > uint64_t{keptFirst_} + keptBlocks_)
    return false;
  *base = static_cast<size_t>(currentBlock_ - keptFirst_) * store_->BlockSize();
  return true;
}

bool EntryFile::StepIntoRun(const uint8_t* link) {
  if (currentLink_.next != currentBlock_ + 1) return false;
  const BlockLink next = DecodeBlockLink(link);
  if (next.prev != currentBlock_) return false;
  ++currentBlock_;
  ++currentIndex_;
  currentLink_ = next;
  return true;
}

uint32_t EntryFile::IndexOf(uint32_t position) const {
  return MapItemPosition(position, entry_.size, store_->BlockSize()).index;
}

int32_t EntryFile::Read(void* buffer, int32_t n) {
  if (!opened_ || n < 0 || (buffer == nullptr && n > 0)) return -1;
  if (n == 0 || position_ >= entry_.size) return 0;
  if (uint64_t{position_} + static_cast<uint32_t>(n) <= headBytes_) {
    std::memcpy(buffer, head_ + position_, static_cast<size_t>(n));
    position_ += static_cast<uint32_t>(n);
    return n;
  }
  const uint32_t blockSize = store_->BlockSize();
  const uint32_t payload = BlockPayload(blockSize);
  auto* out = static_cast<uint8_t*>(buffer);
  uint32_t remaining = std::min<uint32_t>(static_cast<uint32_t>(n), entry_.size - position_);
  int32_t copied = 0;
  // Reading ahead in a read-only package, the run read goes on to the
  // item's end (within the run buffer) and is kept: the reads that follow,
  // the same bytes read again after a seek included, cost no further call.
  const bool readAhead = readAhead_ && store_->ReadOnly();
  while (remaining > 0) {
    const ChainPosition where = MapItemPosition(position_, entry_.size, blockSize);
    if (!GoTo(where.index)) return copied > 0 ? copied : -2;
    const uint32_t toRead = readAhead ? entry_.size - position_ : remaining;
    const uint64_t wanted = (static_cast<uint64_t>(where.offset) + toRead + payload - 1) / payload;
    const uint32_t run = RunLength(wanted);
    size_t base = SIZE_MAX;  // where the run starts in run_; SIZE_MAX: not read
    if ((run > 1 || readAhead) && !KeptRunHolds(run, &base) && LoadRun(run)) {
      base = 0;
      if (readAhead) {
        keptFirst_ = currentBlock_;
        keptBlocks_ = run;
      }
    }
    if (base != SIZE_MAX) {
      // The blocks of the run as far as the chain goes through them in
      // order; the next turn walks the chain from where it left off.
      uint32_t offset = where.offset;
      for (uint32_t j = 0; j < run && remaining > 0; ++j, offset = 0) {
        const uint8_t* block = run_.data() + base + static_cast<size_t>(j) * blockSize;
        if (j > 0 && !StepIntoRun(block)) break;
        const uint32_t take = std::min(payload - offset, remaining);
        std::memcpy(out, block + kBlockLinkSize + offset, take);
        out += take;
        position_ += take;
        remaining -= take;
        copied += static_cast<int32_t>(take);
      }
      continue;
    }
    const uint32_t take = std::min(payload - where.offset, remaining);
    if (!store_->ReadAt(BlockOffset(currentBlock_) + kBlockLinkSize + where.offset, out, take))
      return copied > 0 ? copied : -10;
    out += take;
    position_ += take;
    remaining -= take;
    copied += static_cast<int32_t>(take);
  }
  return copied;
}

int32_t EntryFile::Write(const void* buffer, int32_t n) {
  if (!opened_ || IsReadOnlyMode(mode_)) return -1;
  keptBlocks_ = 0;  // the run buffer is reused for writing
  headBytes_ = 0;
  if (n < 0 || (buffer == nullptr && n > 0)) return -1;
  if (n == 0) return 0;
  const uint64_t end = static_cast<uint64_t>(position_) + static_cast<uint64_t>(n);
  if (end > entry_.size && Extend(static_cast<uint32_t>(end - entry_.size)) < 0) return -11;
  const uint32_t blockSize = store_->BlockSize();
  const uint32_t payload = BlockPayload(blockSize);
  const auto* in = static_cast<const uint8_t*>(buffer);
  uint32_t remaining = static_cast<uint32_t>(n);
  while (remaining > 0) {
    const ChainPosition where = MapItemPosition(position_, entry_.size, blockSize);
    if (!GoTo(where.index)) return -12;
    const uint64_t wanted = (static_cast<uint64_t>(where.offset) + remaining + payload - 1) / payload;
    const uint32_t run = RunLength(wanted);
    if (run > 1 && LoadRun(run)) {
      // The payloads of the blocks the chain goes through in order are
      // replaced in the run, which is written back whole (links as read).
      const uint32_t start = currentBlock_;
      uint32_t used = 0;
      uint32_t offset = where.offset;
      for (uint32_t j = 0; j < run && remaining > 0; ++j, offset = 0) {
        uint8_t* block = run_.data() + static_cast<size_t>(j) * blockSize;
        if (j > 0 && !StepIntoRun(block)) break;
        const uint32_t take = std::min(payload - offset, remaining);
        std::memcpy(block + kBlockLinkSize + offset, in, take);
        in += take;
        position_ += take;
        remaining -= take;
        used = j + 1;
      }
      if (!store_->WriteAt(BlockOffset(start), run_.data(), static_cast<size_t>(used) * blockSize))
        return -13;
      continue;
    }
    const uint32_t take = std::min(payload - where.offset, remaining);
    if (!store_->WriteAt(BlockOffset(currentBlock_) + kBlockLinkSize + where.offset, in, take))
      return -13;
    in += take;
    position_ += take;
    remaining -= take;
  }
  entry_.time = Now();
  dirty_ = true;
  return n;
}

int EntryFile::Extend(uint32_t d) {
  if (!opened_ || IsReadOnlyMode(mode_)) return -1;
  const int code = GrowTo(static_cast<uint64_t>(entry_.size) + d);
  return code < 0 ? code - 10 : 0;
}

int EntryFile::GrowTo(uint64_t newSize) {
  if (newSize <= entry_.size) return 0;
  if (newSize > kMaxItemSize) return -31;
  const uint32_t blockSize = store_->BlockSize();
  uint64_t blocks = ChainBlocksFor(entry_.size, blockSize);
  const uint64_t needed = ChainBlocksFor(newSize, blockSize);
  int code = 0;
  if (needed > blocks) {
    uint32_t last = entry_.lastBlock;
    const uint32_t oldLast = last;
    BlockLink lastLink;
    if (!LoadLink(last, &lastLink) || lastLink.next != 0) return -21;
    // Runs of new blocks at the end of the store are linked in memory and
    // written with one call each (their payload zero until written).
    const uint64_t runLimit = std::max<uint64_t>(1, kRunBytes / blockSize);
    while (needed - blocks > 1) {
      const uint32_t count = static_cast<uint32_t>(std::min(needed - blocks, runLimit));
      const uint32_t first = store_->AllocateRun(count);
      if (first == 0 || !ValidBlock(first) || !ValidBlock(first + count - 1)) break;
      std::vector<uint8_t> run;
      try {
        run.assign(static_cast<size_t>(count) * blockSize, 0);
      } catch (const std::bad_alloc&) {
        code = -31;
        break;
      }
      for (uint32_t i = 0; i < count; ++i) {
        const BlockLink link{i == 0 ? last : first + i - 1, i + 1 < count ? first + i + 1 : 0};
        EncodeBlockLink(link, run.data() + static_cast<size_t>(i) * blockSize);
      }
      if (!store_->WriteAt(BlockOffset(first), run.data(), run.size())) {
        code = -32;
        break;
      }
      lastLink.next = first;
      if (!StoreLink(last, lastLink)) {
        code = -33;
        break;
      }
      lastLink = BlockLink{count == 1 ? last : first + count - 2, 0};
      last = first + count - 1;
      entry_.lastBlock = last;
      blocks += count;
    }
    while (code == 0 && blocks < needed) {
      const uint32_t block = store_->AllocateBlock();
      if (block == 0 || !ValidBlock(block)) {
        code = -31;
        break;
      }
      if (!StoreLink(block, BlockLink{last, 0})) {
        code = -32;
        break;
      }
      lastLink.next = block;
      if (!StoreLink(last, lastLink)) {
        code = -33;
        break;
      }
      lastLink = BlockLink{last, 0};
      last = block;
      entry_.lastBlock = block;
      ++blocks;
    }
    // Only the old last block's link changed: the current block keeps its
    // place (walking back from the start would cost a read per block).
    if (currentIndex_ != kNoBlock && currentBlock_ == oldLast) {
      BlockLink link;
      if (LoadLink(oldLast, &link)) currentLink_ = link;
      else currentIndex_ = kNoBlock;
    }
  }
  // On failure the item covers what the chain now holds.
  entry_.size = static_cast<uint32_t>(std::min(newSize, ChainCapacity(blocks, blockSize)));
  entry_.time = Now();
  dirty_ = true;
  return code;
}

int32_t EntryFile::Seek(int64_t offset, int origin) {
  if (!opened_) return origin == 1 ? -1 : origin == 2 ? -2 : -3;
  // Reach the block the origin names: the current one, the last one, or
  // the first one.
  int64_t base = 0;
  if (origin == 1) {
    base = position_;
    if (!GoTo(IndexOf(position_))) return -1;
  } else if (origin == 2) {
    base = entry_.size;
    if (!GoTo(IndexOf(entry_.size))) return -2;
  } else {
    if (!GoTo(0)) return -3;
  }
  // base lies in 0 .. 2^32: only a huge positive offset can overflow.
  int64_t target = offset > INT64_MAX - base ? INT64_MAX : base + offset;
  if (target < 0) target = 0;
  if (target <= static_cast<int64_t>(entry_.size)) {
    if (!GoTo(IndexOf(static_cast<uint32_t>(target)))) return -21;
    position_ = static_cast<uint32_t>(target);
    return 0;
  }
  if (!GoTo(IndexOf(entry_.size))) return -21;
  if (IsReadOnlyMode(mode_)) {
    position_ = entry_.size;
    return 0;
  }
  if (static_cast<uint64_t>(target) > kMaxItemSize) return -31;
  const int code = GrowTo(static_cast<uint64_t>(target));
  if (code < 0) return code;
  position_ = static_cast<uint32_t>(target);
  return 0;
}

int32_t EntryFile::SetTime(int32_t seconds) {
  if (IsReadOnlyMode(mode_)) return mode_;
  entry_.time = seconds == 0 ? Now() : static_cast<uint32_t>(seconds);
  dirty_ = true;
  return 0;
}

}  // namespace marrowgate
