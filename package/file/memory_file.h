// MemoryFile: a VirtualFile over a byte buffer in memory. Used to build
// packages without touching the disk (tools, tests, fuzzing) and as the
// reference file in tests.
//
// Seeking past the end is allowed; a write there fills the gap with zeros.
// An optional capacity limit makes writes beyond it short, which lets
// callers exercise their write-failure paths.
#ifndef MARROWGATE_PACKAGE_FILE_MEMORY_FILE_H_
#define MARROWGATE_PACKAGE_FILE_MEMORY_FILE_H_

#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "package/file/virtual_file.h"

namespace marrowgate {

class MemoryFile : public VirtualFile {
 public:
  MemoryFile() = default;
  explicit MemoryFile(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

  int32_t Size() override;
  int32_t GetTime() override { return time_; }
  // Stores the time as given.
  int32_t SetTime(int32_t seconds) override;
  int32_t Read(void* buffer, int32_t n) override;
  int32_t Seek(int64_t offset, int origin) override;
  bool AtEnd() override { return position_ >= bytes_.size(); }
  int64_t Tell() override { return static_cast<int64_t>(position_); }
  int32_t Write(const void* buffer, int32_t n) override;
  int32_t Flush() override { return 0; }

  const std::vector<uint8_t>& bytes() const { return bytes_; }
  std::vector<uint8_t>& mutable_bytes() { return bytes_; }
  // Writes stop at this length (short writes beyond it).
  void set_capacity_limit(size_t limit) { capacityLimit_ = limit; }

 private:
  std::vector<uint8_t> bytes_;
  size_t position_ = 0;
  int32_t time_ = 0;
  size_t capacityLimit_ = static_cast<size_t>(std::numeric_limits<int32_t>::max());
};

}  // namespace marrowgate

#endif  // MARROWGATE_PACKAGE_FILE_MEMORY_FILE_H_
