// Formatting a message text that holds one integer placeholder (message
// 203: "Update failed (%d)") with a result code.
//
// The text comes from the package, so it is never handed to printf as a
// format: the first integer conversion (%d, %i, %u, %x, %X or %o, with
// flags, width, precision and h/l/ll/z/j/t length letters) receives the
// code; "%%" gives '%'; every other '%' sequence, and any later integer
// conversion, is copied as it stands. The result is not cut (widths above
// 999 are); the launcher's copy of it is, by CutText (util/utf8.h) to
// kMaxFormattedMessage bytes (the 128-byte buffer of the original texts),
// never inside a character.
#ifndef MARROWGATE_APP_CODE_FORMAT_H_
#define MARROWGATE_APP_CODE_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace marrowgate {

// The launcher gets at most this many bytes of a formatted message.
constexpr size_t kMaxFormattedMessage = 127;

std::string FormatWithCode(std::string_view format, int32_t code);

}  // namespace marrowgate

#endif  // MARROWGATE_APP_CODE_FORMAT_H_
