#include "package/file/memory_file.h"

#include <algorithm>
#include <cstring>

namespace marrowgate {

int32_t MemoryFile::Size() {
  return static_cast<int32_t>(std::min<size_t>(bytes_.size(), std::numeric_limits<int32_t>::max()));
}

int32_t MemoryFile::SetTime(int32_t seconds) {
  time_ = seconds;
  return 0;
}

int32_t MemoryFile::Read(void* buffer, int32_t n) {
  if (n < 0 || (buffer == nullptr && n > 0)) return -1;
  if (position_ >= bytes_.size()) return 0;
  const size_t count = std::min(static_cast<size_t>(n), bytes_.size() - position_);
  if (count > 0) std::memcpy(buffer, bytes_.data() + position_, count);
  position_ += count;
  return static_cast<int32_t>(count);
}

int32_t MemoryFile::Seek(int64_t offset, int origin) {
  int64_t base = 0;
  if (origin == 1) base = static_cast<int64_t>(position_);
  else if (origin == 2) base = static_cast<int64_t>(bytes_.size());
  else if (origin != 0) return -1;
  const int64_t target = base + offset;
  if (target < 0 || target > std::numeric_limits<int32_t>::max()) return -1;
  position_ = static_cast<size_t>(target);
  return 0;
}

int32_t MemoryFile::Write(const void* buffer, int32_t n) {
  if (n < 0 || (buffer == nullptr && n > 0)) return -1;
  if (position_ >= capacityLimit_) return 0;
  const size_t count = std::min(static_cast<size_t>(n), capacityLimit_ - position_);
  if (position_ + count > bytes_.size()) bytes_.resize(position_ + count);
  if (count > 0) std::memcpy(bytes_.data() + position_, buffer, count);
  position_ += count;
  return static_cast<int32_t>(count);
}

}  // namespace marrowgate
