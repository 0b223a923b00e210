// Client version texts: up to four dot-separated unsigned 32-bit numbers
// ("1.10.0.3"), compared part by part as numbers.
//
// Scanning, part by part: white space (space, tab, CR, LF, VT, FF) before
// a number is skipped and one '+' may precede its digits; a part ends at
// the first non-digit, and the next part is read only when a '.' follows
// at once. Parts that were not read count 0, so "1.2" is 1.2.0.0, a text
// without a leading number (garbage, empty, null) is 0.0.0.0 and anything
// after the fourth part or after a part that is not followed by '.'
// ("1.2.3.4\r\n", "1.2beta") is ignored. A '-' sign is no number: "1.-2"
// is 1.0.0.0. A digit run above 4294967295 saturates at 4294967295, so a
// longer number never compares lower than a shorter one.
#ifndef MARROWGATE_APP_CLIENT_VERSION_H_
#define MARROWGATE_APP_CLIENT_VERSION_H_

#include <array>
#include <cstdint>
#include <string_view>

namespace marrowgate {

using ClientVersion = std::array<uint32_t, 4>;

// The four parts of `text` (see above).
ClientVersion ScanClientVersion(std::string_view text);
// A null text counts as empty.
ClientVersion ScanClientVersion(const char* text);

// True when `text` is a version as a publisher writes one: one to four
// parts of decimal digits, each at most 4294967295, joined by single dots,
// nothing before or after ("1.2", "1.10.0.3"). "v1.1", "1.2beta", "1..2",
// " 1.2", "1.2.3.4.5" and the empty text are not.
bool IsClientVersionText(std::string_view text);

// True when `installed` is lower than `required`, comparing part 1, then
// 2, 3 and 4 as unsigned numbers; equal versions are not lower. An empty
// requirement (0.0.0.0) is never above any installed version.
bool IsVersionLower(const char* installed, const char* required);

}  // namespace marrowgate

#endif  // MARROWGATE_APP_CLIENT_VERSION_H_
