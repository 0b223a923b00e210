// Character-set awareness: the process-wide library settings record and
// the tests that keep splitting and copying from cutting a double-byte
// character in two.
//
// With no code page named (the default) every byte is a character and no
// conversion is ever attempted.
#ifndef MARROWGATE_UTIL_CHARSET_H_
#define MARROWGATE_UTIL_CHARSET_H_

#include <cstddef>

namespace marrowgate {

// The library's process-wide settings.
struct LibSettings {
  static constexpr size_t kCodePageNameSize = 32;
  // Name of the code page texts are in: "UTF8", "euckr" or a decimal code
  // page number; empty means byte-by-byte.
  char szCodePage[kCodePageNameSize] = {};
};

// The current settings (read-only; change them through the setters).
const LibSettings& GetLibSettings();

// Names the code page of the library's texts. Null or "" goes back to
// byte-by-byte handling. False (nothing changed) when the name does not fit
// LibSettings::szCodePage.
bool SetCodePageName(const char* name);

// "UTF8" -> 65001 and "euckr" -> 949 (ASCII case ignored); any other name
// is read as a decimal number; a name that gives no positive number -> 0
// (the system's default code page).
int CodePageFromName(const char* name);

// True when `lead` and `trail` together form one character of the configured
// code page. Always false with no code page named or a zero trail byte.
bool IsDoubleBytePair(char lead, char trail);

// True when the two bytes at `text` form one character of the configured
// code page (false when text[1] is the terminator).
bool IsDoubleByteAt(const char* text);

// Copies at most `n` bytes of `source` (stopping at its terminator) into
// `destination` without splitting a double-byte character, then terminates
// it. `destination` must hold n + 1 bytes. Returns `destination`.
char* CopyChars(char* destination, const char* source, size_t n);

}  // namespace marrowgate

#endif  // MARROWGATE_UTIL_CHARSET_H_
