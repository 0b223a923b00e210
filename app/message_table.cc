#include "app/message_table.h"

#include <limits>

#include "util/values.h"

namespace marrowgate {

bool MessageTable::Insert(int32_t number, std::string text) {
  return texts_.emplace(number, std::move(text)).second;
}

const std::string& MessageTable::Text(int32_t number) {
  return texts_.try_emplace(number).first->second;
}

const std::string* MessageTable::Find(int32_t number) const {
  auto found = texts_.find(number);
  return found == texts_.end() ? nullptr : &found->second;
}

int32_t MessageCount(const std::string& text) {
  size_t at = 0;
  while (at < text.size() && IsScanSpace(text[at])) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    negative = text[at] == '-';
    ++at;
  }
  int64_t value = 0;
  constexpr int64_t kLimit = static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    value = value * 10 + (text[at] - '0');
    if (value > kLimit) value = kLimit;
  }
  if (negative) return static_cast<int32_t>(-value);
  return value >= kLimit ? std::numeric_limits<int32_t>::max() : static_cast<int32_t>(value);
}

}  // namespace marrowgate
