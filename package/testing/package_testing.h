// Helpers shared by the package tests: a BlockStore over a byte vector (to
// reach chains of a package file directly), and the content generators.
#ifndef MARROWGATE_PACKAGE_TESTING_PACKAGE_TESTING_H_
#define MARROWGATE_PACKAGE_TESTING_PACKAGE_TESTING_H_

#include <cstring>
#include <vector>

#include "package/store/entry_file.h"
#include "package/store/layout.h"
#include "package/file/memory_file.h"
#include "package/testing/content_testing.h"
#include "util/byte_order.h"

namespace marrowgate {

// Reads and writes the blocks of a package held in a byte vector; new
// blocks are appended.
class MemoryBlockStore : public BlockStore {
 public:
  MemoryBlockStore(std::vector<uint8_t>* bytes, uint32_t blockSize, uint32_t blockCount)
      : bytes_(bytes), blockSize_(blockSize), blockCount_(blockCount) {}
  // Takes block size and count from the package header in `bytes`.
  explicit MemoryBlockStore(std::vector<uint8_t>* bytes)
      : bytes_(bytes),
        blockSize_(LoadLe32(bytes->data() + 20)),
        blockCount_(LoadLe32(bytes->data() + 28)) {}

  uint32_t BlockSize() const override { return blockSize_; }
  uint32_t BlockCount() const override { return blockCount_; }
  bool ReadOnly() const override { return readOnly; }
  bool ReadAt(uint64_t offset, void* buffer, size_t n) override {
    ++reads;
    if (offset + n > bytes_->size()) return false;
    std::memcpy(buffer, bytes_->data() + offset, n);
    return true;
  }
  bool WriteAt(uint64_t offset, const void* buffer, size_t n) override {
    if (offset + n > bytes_->size()) bytes_->resize(offset + n);
    std::memcpy(bytes_->data() + offset, buffer, n);
    return true;
  }
  uint32_t AllocateBlock() override {
    bytes_->resize(static_cast<size_t>(blockCount_ + 1) * blockSize_);
    return blockCount_++;
  }

  bool readOnly = false;  // what ReadOnly answers
  int reads = 0;          // ReadAt calls so far

 private:
  std::vector<uint8_t>* bytes_;
  uint32_t blockSize_;
  uint32_t blockCount_;
};

}  // namespace marrowgate

#endif  // MARROWGATE_PACKAGE_TESTING_PACKAGE_TESTING_H_
