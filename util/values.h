// The value converters behind the splitters and the record binding:
// booleans, integer expressions, 64-bit integers and floats, and the size
// limits of the texts they accept.
//
// Limits: a text longer than its limit is refused, never cut. A refused
// text converts to 0 / false; the Try* forms report the refusal.
#ifndef MARROWGATE_UTIL_VALUES_H_
#define MARROWGATE_UTIL_VALUES_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace marrowgate {

// Longest numeric, boolean or time field of ScanFields (whitespace around
// it not counted).
inline constexpr size_t kMaxFieldValueText = 255;
// Longest element of a SplitToArray list (whitespace around it not counted).
inline constexpr size_t kMaxArrayElementText = 127;
// Longest integer expression of EvalInt / EvalInt64 (so also the longest
// operand).
inline constexpr size_t kMaxExpressionText = 1023;
// Longest date part and time part of ParseDateTime.
inline constexpr size_t kMaxDateTimePartText = 127;

// Whitespace of all text functions: space, tab, carriage return, line feed.
inline bool IsTextSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Whitespace a number scan skips, as scanf does in the C locale: the
// above, vertical tab and form feed.
inline bool IsScanSpace(char c) { return IsTextSpace(c) || c == '\v' || c == '\f'; }

// Skips at most 64 leading whitespace characters; true when the text then
// begins with "true" (any letter case), "1", "Y" or "y".
bool ParseBool(std::string_view text);

// An integer expression without parentheses: "+" and "-" bind loosest and
// associate to the left, then "*" and "/" (quotient truncated toward zero;
// division by 0 gives 0). An operand is read after leading whitespace:
// "0x"/"0X" starts a hexadecimal number, otherwise the leading decimal
// digits count (anything after them is ignored, no digits give 0). Numbers
// beyond the width saturate; the arithmetic wraps in 32 bits.
//   "2+3*4" -> 14, "10-3-2" -> 5, "-5" -> -5, "0xff" -> 255, "7/0" -> 0
// Returns 0 for a text longer than kMaxExpressionText.
int32_t EvalInt(std::string_view text);
// The same; false (and *value = 0) for a text longer than the limit.
bool TryEvalInt(std::string_view text, int32_t* value);

// EvalInt with 64-bit arithmetic.
int64_t EvalInt64(std::string_view text);
bool TryEvalInt64(std::string_view text, int64_t* value);

// Decimal text to float as the C library's atof reads it (leading
// whitespace skipped, the longest valid prefix converted, 0 if none).
// Returns 0 for a text longer than kMaxFieldValueText.
float ParseFloat(std::string_view text);
bool TryParseFloat(std::string_view text, float* value);

}  // namespace marrowgate

#endif  // MARROWGATE_UTIL_VALUES_H_
