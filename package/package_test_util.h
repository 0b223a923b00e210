// Helpers shared by the package tests: a BlockStore over a MemoryFile (to
// reach chains of a package file directly) and a few content generators.
#ifndef MARROWGATE_PACKAGE_PACKAGE_TEST_UTIL_H_
#define MARROWGATE_PACKAGE_PACKAGE_TEST_UTIL_H_

#include <cstring>
#include <vector>

#include "package/entry_file.h"
#include "package/layout.h"
#include "package/memory_file.h"

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
        blockSize_(LoadLittle32(bytes->data() + 20)),
        blockCount_(LoadLittle32(bytes->data() + 28)) {}

  uint32_t BlockSize() const override { return blockSize_; }
  uint32_t BlockCount() const override { return blockCount_; }
  bool ReadOnly() const override { return false; }
  bool ReadAt(uint64_t offset, void* buffer, size_t n) override {
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

 private:
  std::vector<uint8_t>* bytes_;
  uint32_t blockSize_;
  uint32_t blockCount_;
};

inline std::vector<uint8_t> TextBytes(size_t n, uint32_t seed = 0) {
  static const char kWords[] = "the patch copies every folder of the package into the client ";
  std::vector<uint8_t> out(n);
  for (size_t i = 0; i < n; ++i)
    out[i] = static_cast<uint8_t>(kWords[(i * 7 + i / 61 + seed) % (sizeof(kWords) - 1)]);
  return out;
}

inline std::vector<uint8_t> NoiseBytes(size_t n, uint32_t seed = 1) {
  std::vector<uint8_t> out(n);
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1664525u + 1013904223u;
    out[i] = static_cast<uint8_t>(seed >> 24);
  }
  return out;
}

}  // namespace marrowgate

#endif  // MARROWGATE_PACKAGE_PACKAGE_TEST_UTIL_H_
