// Small in-place and copying string functions used across the library.
// Whitespace is space, tab, carriage return and line feed (IsTextSpace in
// util/values.h).
#ifndef MARROWGATE_UTIL_TEXT_H_
#define MARROWGATE_UTIL_TEXT_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace marrowgate {

// Removes whitespace at both ends of the zero-terminated `text` in place.
// Returns the new length.
size_t Trim(char* text);
// Removes the characters of `set` at both ends of `text` in place.
// Returns the new length.
size_t TrimChars(char* text, const char* set);
// The view without whitespace at either end.
std::string_view TrimView(std::string_view text);

// Copies at most size - 1 bytes of `text` into `buffer` and always
// terminates it (size 0 writes nothing). True when the whole text fit.
bool CopyBounded(char* buffer, size_t size, const char* text);

// Copies `text` with its terminator into `destination`, which holds
// `capacity` bytes. Returns the position just after the source's terminator
// (handy for walking zero-separated lists), or null when the text does not
// fit (then `destination` holds the empty text if capacity > 0).
const char* CopyText(char* destination, size_t capacity, const char* text);

// Index of the entry of the null-terminated `list` equal to `text`, or -1.
int FindInList(const char* const* list, const char* text);

// The last character of `text` that is in `set`: its position, with the
// character stored in *found (if given); null when there is none.
const char* FindLastOf(const char* text, const char* set, char* found);

// Copies `text` into `destination` (capacity bytes), writing one
// `replacement` for every run of characters from `set`. Returns the length
// written, or -1 when it does not fit (destination then holds "").
int CollapseRuns(char* destination, size_t capacity, const char* text, const char* set,
                 char replacement);

// Replaces every `from` by `to` (when `to` is not 0) within the first
// `limit` bytes of `buffer` (at least one byte is looked at; the bytes must
// be there). Returns how many `from` bytes were found.
int ReplaceChar(char* buffer, size_t limit, char from, char to);

// Splits `text` at '|' into (pointer, length) pieces. An empty text gives
// no pieces. Returns the number of pieces, or -1 when the text ends with
// '|' (pieces then empty).
int SplitAlternatives(std::string_view text, std::vector<std::string_view>* pieces);

// Fills n bytes from the C library's pseudo-random generator.
void RandomBytes(void* buffer, size_t n);

// printf-style formatting into a string of whatever length it needs.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// `text` fit for a terminal line: control characters (below 0x20, and
// 0x7f) become \n, \t, \r or \xHH, every other byte is kept, so that a
// name or message can neither break the line nor steer the terminal.
std::string EscapeControlCharacters(std::string_view text);

}  // namespace marrowgate

#endif  // MARROWGATE_UTIL_TEXT_H_
