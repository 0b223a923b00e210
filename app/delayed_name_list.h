// DelayedNameList: the names of files the copy engine holds back until the
// rest is copied (transfer/dir_copy.h), taken from the message table.
//
// Message 10001 holds the count N (decimal); messages 10002 to 10001+N
// hold the names. The list stops at the first missing or empty name, so
// with 10001 = 3 and 10003 missing it holds one name. Until built the list
// holds only its null end, which is also what a missing or non-positive
// count leaves.
#ifndef MARROWGATE_APP_DELAYED_NAME_LIST_H_
#define MARROWGATE_APP_DELAYED_NAME_LIST_H_

#include <cstdint>
#include <vector>

#include "app/message_table.h"

namespace marrowgate {

constexpr int32_t kMessageDelayedCount = 10001;

class DelayedNameList {
 public:
  DelayedNameList() : names_{nullptr} {}

  // Builds the list from `table` (once; later calls do nothing). The
  // pointers point into the table's texts, which must outlive the list.
  void Build(const MessageTable& table);

  bool built() const { return built_; }
  // The null-ended array of names, in message order.
  const char* const* names() const { return names_.data(); }
  // Number of names (the null end not counted).
  size_t size() const { return names_.size() - 1; }

 private:
  bool built_ = false;
  std::vector<const char*> names_;
};

}  // namespace marrowgate

#endif  // MARROWGATE_APP_DELAYED_NAME_LIST_H_
