// StringList: a list of strings held as one character pool plus the offsets
// of the entries in it, with a joining character fixed at creation.
//
// Entries lie one after another in the pool; each new entry replaces the
// terminator of the previous one with the joining character. With joining
// character 0 the entries are separate strings; with '/' the pool reads as
// the path of all entries joined:
//
//   StringList path('/');
//   path.Push("a"); path.Push("b");   // path.Text() == "a/b"
//   path.Pop(nullptr);                // path.Text() == "a"
//
// Pointers handed out point into the pool and stay valid until the next
// Push or Split.
#ifndef MARROWGATE_UTIL_STRING_LIST_H_
#define MARROWGATE_UTIL_STRING_LIST_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace marrowgate {

class StringList {
 public:
  explicit StringList(char joiningCharacter = '\0');

  // Appends `text`; returns the new entry in the pool, or null when the pool
  // would exceed 32-bit offsets.
  const char* Push(std::string_view text);
  // Removes the last entry and returns it (readable until the next Push),
  // storing its pool offset in *offset if given; null when the list is
  // empty.
  const char* Pop(uint32_t* offset);
  void Clear();
  // Clears the list, copies `text` into the pool with every character of
  // `separators` replaced by the joining character, and records an entry at
  // the start and after every separator (empty entries included). An empty
  // text gives no entries. Returns 0, or -1 when the text is too long.
  int Split(std::string_view text, std::string_view separators);

  size_t Count() const { return offsets_.size(); }
  // Entry `index` (it reads up to the pool's end when the joining character
  // is not 0); null when out of range.
  const char* Entry(size_t index) const;
  // The whole pool as one text ("" when empty).
  const char* Text() const { return used_ == 0 ? "" : pool_.get(); }
  char joining_character() const { return joining_; }

 private:
  // Makes room for `extra` more bytes, doubling (or growing to the size
  // needed, if larger).
  bool Reserve(size_t extra);

  char joining_;
  // The entries, the last one terminated; bytes past used_ keep what a Pop
  // left there.
  std::unique_ptr<char[]> pool_;
  size_t used_ = 0;
  size_t capacity_ = 0;
  std::vector<uint32_t> offsets_;
};

}  // namespace marrowgate

#endif  // MARROWGATE_UTIL_STRING_LIST_H_
