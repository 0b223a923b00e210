#include "app/delayed_name_list.h"

#include <cstdint>

namespace marrowgate {

void DelayedNameList::Build(const MessageTable& table) {
  if (built_) return;
  const std::string* countText = table.Find(kMessageDelayedCount);
  if (countText == nullptr) return;
  int32_t count = MessageCount(*countText);
  if (count < 1) return;
  built_ = true;
  std::vector<const char*> names;
  for (int64_t i = 1; i <= count && kMessageDelayedCount + i <= INT32_MAX; ++i) {
    const std::string* name = table.Find(static_cast<int32_t>(kMessageDelayedCount + i));
    if (name == nullptr || name->empty()) break;
    names.push_back(name->c_str());
  }
  names.push_back(nullptr);
  names_ = std::move(names);
}

}  // namespace marrowgate
