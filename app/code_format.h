// Formatting a message text that holds one integer placeholder (message
// 203: "Update failed (%d)") with a result code.
//
// The text comes from the package, so it is never handed to printf as a
// format: the first integer conversion (%d, %i, %u, %x, %X or %o, with
// flags, width, precision and h/l/ll/z/j/t length letters) receives the
// code; "%%" gives '%'; every other '%' sequence, and any later integer
// conversion, is copied as it stands. The result is cut to 127 bytes (the
// 128-byte buffer of the original texts).
#ifndef MARROWGATE_APP_CODE_FORMAT_H_
#define MARROWGATE_APP_CODE_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace marrowgate {

constexpr size_t kMaxFormattedMessage = 127;

std::string FormatWithCode(std::string_view format, int32_t code);

}  // namespace marrowgate

#endif  // MARROWGATE_APP_CODE_FORMAT_H_
