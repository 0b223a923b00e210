// The SplitToArray family: fills a typed array from a separated list.
//
//   int32_t ports[3];
//   int n = SplitToArray("80, 443,8080", ",", std::span(ports));   // 3
//
// The separator specification is that of util/field_splitter.h. Every
// element is trimmed of whitespace and converted for the element type:
// bool ParseBool; 8/16/32-bit integers EvalInt (stored truncated); 64-bit
// integers EvalInt64; float ParseFloat; time values (SplitToTimeArray)
// ParseDateTime; std::string and TextSlot receive the text. Filling stops
// when the array is full; a separator at the very end adds no element;
// elements the text does not reach are left unchanged.
//
// Limit: an element longer than kMaxArrayElementText bytes after trimming
// (or longer than its TextSlot can hold) is refused: it is set to 0 /
// false / "", filling stops and kSplitRefused is returned.
#ifndef MARROWGATE_UTIL_SPLIT_TO_ARRAY_H_
#define MARROWGATE_UTIL_SPLIT_TO_ARRAY_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace marrowgate {

inline constexpr int kSplitRefused = -1;

// A character buffer of `capacity` bytes (terminator included) that one
// text element is copied into.
struct TextSlot {
  char* data = nullptr;
  size_t capacity = 0;
};

// Each returns the number of elements filled, or kSplitRefused.
int SplitToArray(std::string_view input, std::string_view separator, std::span<TextSlot> out);
int SplitToArray(std::string_view input, std::string_view separator, std::span<std::string> out);
int SplitToArray(std::string_view input, std::string_view separator, std::span<bool> out);
int SplitToArray(std::string_view input, std::string_view separator, std::span<int8_t> out);
int SplitToArray(std::string_view input, std::string_view separator, std::span<uint8_t> out);
int SplitToArray(std::string_view input, std::string_view separator, std::span<int16_t> out);
int SplitToArray(std::string_view input, std::string_view separator, std::span<uint16_t> out);
int SplitToArray(std::string_view input, std::string_view separator, std::span<int32_t> out);
int SplitToArray(std::string_view input, std::string_view separator, std::span<uint32_t> out);
int SplitToArray(std::string_view input, std::string_view separator, std::span<int64_t> out);
int SplitToArray(std::string_view input, std::string_view separator, std::span<float> out);
// Time values (ParseDateTime) share their type with 32-bit integers, hence
// the separate name.
int SplitToTimeArray(std::string_view input, std::string_view separator, std::span<int32_t> out);

}  // namespace marrowgate

#endif  // MARROWGATE_UTIL_SPLIT_TO_ARRAY_H_
