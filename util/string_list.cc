#include "util/string_list.h"

#include <cstring>

namespace marrowgate {
namespace {
constexpr size_t kMaxPool = 0xffffffffu;
}

StringList::StringList(char joiningCharacter) : joining_(joiningCharacter) {}

bool StringList::Reserve(size_t extra) {
  if (extra > kMaxPool - used_) return false;
  size_t needed = used_ + extra;
  if (needed > capacity_) {
    size_t grown = capacity_ * 2 > needed ? capacity_ * 2 : needed;
    if (grown > kMaxPool) grown = kMaxPool;
    auto bigger = std::make_unique<char[]>(grown);
    if (used_ > 0) std::memcpy(bigger.get(), pool_.get(), used_);
    pool_ = std::move(bigger);
    capacity_ = grown;
  }
  if (offsets_.size() == offsets_.capacity())
    offsets_.reserve(offsets_.empty() ? 8 : offsets_.size() * 2);
  return true;
}

const char* StringList::Push(std::string_view text) {
  // The previous entry's terminator becomes the joining character, so the
  // new entry needs its text and one terminator.
  if (!Reserve(text.size() + 1)) return nullptr;
  size_t offset = used_;
  if (used_ > 0) pool_[used_ - 1] = joining_;
  if (!text.empty()) std::memcpy(pool_.get() + offset, text.data(), text.size());
  pool_[offset + text.size()] = '\0';
  used_ = offset + text.size() + 1;
  offsets_.push_back(static_cast<uint32_t>(offset));
  return pool_.get() + offset;
}

const char* StringList::Pop(uint32_t* offset) {
  if (offsets_.empty()) return nullptr;
  uint32_t last = offsets_.back();
  offsets_.pop_back();
  if (offset != nullptr) *offset = last;
  // The removed entry's bytes stay in place; the previous entry gets its
  // terminator back.
  if (last > 0) pool_[last - 1] = '\0';
  used_ = last;
  return pool_.get() + last;
}

void StringList::Clear() {
  used_ = 0;
  offsets_.clear();
}

int StringList::Split(std::string_view text, std::string_view separators) {
  Clear();
  if (text.empty()) return 0;
  if (!Reserve(text.size() + 1)) return -1;
  offsets_.push_back(0);
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (separators.find(c) != std::string_view::npos) {
      pool_[i] = joining_;
      offsets_.push_back(static_cast<uint32_t>(i + 1));
    } else {
      pool_[i] = c;
    }
  }
  pool_[text.size()] = '\0';
  used_ = text.size() + 1;
  return 0;
}

const char* StringList::Entry(size_t index) const {
  if (index >= offsets_.size()) return nullptr;
  return pool_.get() + offsets_[index];
}

}  // namespace marrowgate
