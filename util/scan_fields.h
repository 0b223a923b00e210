// ScanFields: the typed field splitter driven by a string of field letters.
//
//   char key[256], value[4096];
//   int used = ScanFields("sa", line, "=", key, value);   // key = value
//
//   char word[64];
//   size_t cursor = 0;
//   while (ScanFieldsAt(&cursor, "s", path, "\x01/\\", word) == 1) ...
//
// Field letters (each consumes one field and, except '*', one target):
//   s  text: the field, trimmed of whitespace
//   a  text: everything from this field's start to the end of the input,
//      separators included, trimmed; ends the scan
//   b  bool (ParseBool)          d  32-bit integer (EvalInt)
//   o  16-bit integer (EvalInt, truncated)
//   y  8-bit integer (EvalInt, truncated)
//   I  64-bit integer (EvalInt64)
//   f  float (ParseFloat)        t  time value (ParseDateTime; ScanTarget::Time)
//   *  the field is skipped
// Separators: see util/field_splitter.h. The last field needs no separator
// after it.
//
// Targets are typed: each letter accepts only its own kind of target, and
// text targets carry their capacity. The scan stops early (returning the
// count so far) at a letter not in the table, at a null target or when the
// targets run out.
//
// Limits (util/values.h): a numeric, boolean or time field longer than
// kMaxFieldValueText bytes after trimming, or a text field longer than its
// buffer can hold, is refused: its target gets 0 / false / "" and the scan
// returns kScanRefused. Fields before it keep their values.
#ifndef MARROWGATE_UTIL_SCAN_FIELDS_H_
#define MARROWGATE_UTIL_SCAN_FIELDS_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace marrowgate {

// A field was too long for its target or work buffer.
inline constexpr int kScanRefused = -1;
// A letter was given a target of another kind (a programming error).
inline constexpr int kScanWrongTarget = -2;

// One destination of ScanFields.
class ScanTarget {
 public:
  enum class Kind : uint8_t {
    kNull, kCharBuffer, kString, kBool, kInt8, kInt16, kInt32, kInt64, kFloat, kTime
  };

  ScanTarget(std::nullptr_t) {}
  // A character array: its capacity is its whole length (terminator
  // included).
  template <size_t N>
  ScanTarget(char (&buffer)[N]) : kind_(Kind::kCharBuffer), pointer_(buffer), capacity_(N) {}
  ScanTarget(std::string* text) : kind_(Kind::kString), pointer_(text) {}
  ScanTarget(bool* flag) : kind_(Kind::kBool), pointer_(flag) {}
  ScanTarget(int8_t* value) : kind_(Kind::kInt8), pointer_(value) {}
  ScanTarget(uint8_t* value) : kind_(Kind::kInt8), pointer_(value) {}
  ScanTarget(int16_t* value) : kind_(Kind::kInt16), pointer_(value) {}
  ScanTarget(uint16_t* value) : kind_(Kind::kInt16), pointer_(value) {}
  ScanTarget(int32_t* value) : kind_(Kind::kInt32), pointer_(value) {}
  ScanTarget(uint32_t* value) : kind_(Kind::kInt32), pointer_(value) {}
  ScanTarget(int64_t* value) : kind_(Kind::kInt64), pointer_(value) {}
  ScanTarget(uint64_t* value) : kind_(Kind::kInt64), pointer_(value) {}
  ScanTarget(float* value) : kind_(Kind::kFloat), pointer_(value) {}

  // A character buffer of `capacity` bytes (terminator included).
  static ScanTarget Text(char* buffer, size_t capacity) {
    ScanTarget target(nullptr);
    if (buffer != nullptr && capacity > 0) {
      target.kind_ = Kind::kCharBuffer;
      target.pointer_ = buffer;
      target.capacity_ = capacity;
    }
    return target;
  }
  // A 32-bit time value for the letter 't'.
  static ScanTarget Time(int32_t* seconds) {
    ScanTarget target(nullptr);
    if (seconds != nullptr) {
      target.kind_ = Kind::kTime;
      target.pointer_ = seconds;
    }
    return target;
  }

  Kind kind() const { return pointer_ != nullptr ? kind_ : Kind::kNull; }
  void* pointer() const { return pointer_; }
  size_t capacity() const { return capacity_; }

 private:
  Kind kind_ = Kind::kNull;
  void* pointer_ = nullptr;
  size_t capacity_ = 0;
};

// Scans `input` with `format` and `separator` into `targets`. Returns the
// number of letters used (assigned or skipped), kScanRefused or
// kScanWrongTarget.
int ScanFieldList(std::string_view format, std::string_view input, std::string_view separator,
                  std::span<const ScanTarget> targets);

// The same, starting at input + *cursor; *cursor is advanced past every
// field used (it stays at a refused field), so repeated calls with "s" hand
// out one field at a time and return 0 at the end.
int ScanFieldListAt(size_t* cursor, std::string_view format, std::string_view input,
                    std::string_view separator, std::span<const ScanTarget> targets);

template <class... Targets>
int ScanFields(std::string_view format, std::string_view input, std::string_view separator,
               Targets&&... targets) {
  const std::array<ScanTarget, sizeof...(Targets)> list{ScanTarget(targets)...};
  return ScanFieldList(format, input, separator, list);
}

template <class... Targets>
int ScanFieldsAt(size_t* cursor, std::string_view format, std::string_view input,
                 std::string_view separator, Targets&&... targets) {
  const std::array<ScanTarget, sizeof...(Targets)> list{ScanTarget(targets)...};
  return ScanFieldListAt(cursor, format, input, separator, list);
}

}  // namespace marrowgate

#endif  // MARROWGATE_UTIL_SCAN_FIELDS_H_
