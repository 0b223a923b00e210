// MessageTable: the numbered texts the patcher shows, loaded from the
// package's "cfg.txt" (app/message_file.h).
//
// An ordered map from a 32-bit message number to a text. Looking up a
// number that is not there adds it with an empty text and returns that, so
// a missing message shows as an empty title, caption or box. Texts stay at
// the same address for the table's life: pointers into them (the
// DelayedNameList) remain valid while numbers are added.
#ifndef MARROWGATE_APP_MESSAGE_TABLE_H_
#define MARROWGATE_APP_MESSAGE_TABLE_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace marrowgate {

class MessageTable {
 public:
  // Adds `number` with `text` unless the number is already present (the
  // first text is kept). True when it was added.
  bool Insert(int32_t number, std::string text);

  // The text of `number`; a missing number is added with an empty text.
  const std::string& Text(int32_t number);

  // The text of `number`, or null when it is not in the table (adds
  // nothing).
  const std::string* Find(int32_t number) const;
  bool Contains(int32_t number) const { return Find(number) != nullptr; }

  size_t size() const { return texts_.size(); }
  bool empty() const { return texts_.empty(); }
  const std::map<int32_t, std::string>& entries() const { return texts_; }

 private:
  std::map<int32_t, std::string> texts_;
};

// Reads `text` as a decimal count the way the patcher reads the counts of
// messages 900 and 10001: white space first, an optional sign, then
// digits up to the first non-digit. No digits gives 0; a value outside the
// 32-bit range saturates.
int32_t MessageCount(const std::string& text);

}  // namespace marrowgate

#endif  // MARROWGATE_APP_MESSAGE_TABLE_H_
