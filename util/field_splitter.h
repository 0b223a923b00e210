// FieldSplitter: walks a text field by field under a separator
// specification, the common engine of ScanFields and SplitToArray.
//
// Separator specification:
//   ""            runs of whitespace separate; whitespace before a field is
//                 skipped.
//   "\x01" chars  every following byte is a one-character separator (the
//                 path set "\x01/\\" splits at '/' and '\\').
//   anything else the whole string is one literal separator ("=", "::").
// In the last two forms adjacent separators enclose an empty field and a
// separator at the start gives an empty first field. Whitespace at the end
// of the input is ignored; a separator at the very end adds no field.
// Double-byte characters of the configured code page (util/charset.h) are
// stepped over whole, so their second byte never separates.
#ifndef MARROWGATE_UTIL_FIELD_SPLITTER_H_
#define MARROWGATE_UTIL_FIELD_SPLITTER_H_

#include <cstddef>
#include <string_view>

namespace marrowgate {

class FieldSplitter {
 public:
  // Walks `input` from byte offset `start`. Both views must outlive the
  // splitter.
  FieldSplitter(std::string_view input, std::string_view separator, size_t start = 0);

  // The next field, untrimmed; false when the input is used up.
  bool Next(std::string_view* field);
  // Everything from the start of the last field returned by Next to the end
  // of the input, separators included (untrimmed), and moves to the end.
  std::string_view TakeRest();
  // Offset where the next field's search starts.
  size_t position() const { return position_; }

 private:
  enum class Form { kWhitespace, kCharacterSet, kLiteral };
  bool SeparatorAt(size_t pos) const;
  size_t CharacterLength(size_t pos) const;

  std::string_view input_;
  std::string_view separator_;  // the set (without the 1) or the literal
  Form form_;
  size_t end_;       // input length without trailing whitespace
  size_t position_;  // where the next field's search starts
  size_t fieldStart_;
};

}  // namespace marrowgate

#endif  // MARROWGATE_UTIL_FIELD_SPLITTER_H_
