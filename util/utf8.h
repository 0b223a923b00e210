// UTF-8 checks, cuts at character boundaries, and the Windows-1252 reading
// of texts that are not UTF-8.
//
// Texts from a package (messages of "cfg.txt") are bytes: UTF-8 when the
// publisher wrote them so, else most often Windows-1252, the code page
// publishers on Windows write in. Display turns them into UTF-8 with
// DisplayText(); everything else (the launcher's records, the log) keeps
// the bytes.
#ifndef MARROWGATE_UTIL_UTF8_H_
#define MARROWGATE_UTIL_UTF8_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace marrowgate {

// True when `text` is well-formed UTF-8 (no overlong forms, surrogates or
// values above U+10FFFF).
bool IsValidUtf8(std::string_view text);

// The length of `text` cut to at most `maxBytes`. A valid UTF-8 text is cut
// before a character that would not fit whole; any other text, whose bytes
// are characters of their own, is cut at `maxBytes`.
size_t CutLength(std::string_view text, size_t maxBytes);
// `text` cut by CutLength.
std::string CutText(std::string_view text, size_t maxBytes);

// `text` read as Windows-1252, as UTF-8. The five bytes the code page
// leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become U+FFFD.
std::string Windows1252ToUtf8(std::string_view text);

// `text` as it is when it is valid UTF-8, else read as Windows-1252.
std::string DisplayText(std::string_view text);

}  // namespace marrowgate

#endif  // MARROWGATE_UTIL_UTF8_H_
