#include "app/code_format.h"

#include <cstdio>

namespace marrowgate {
namespace {

bool IsFlag(char c) { return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::string FormatWithCode(std::string_view format, int32_t code) {
  std::string out;
  bool codeUsed = false;
  size_t at = 0;
  while (at < format.size()) {
    char c = format[at];
    if (c != '%') {
      out.push_back(c);
      ++at;
      continue;
    }
    if (at + 1 < format.size() && format[at + 1] == '%') {
      out.push_back('%');
      at += 2;
      continue;
    }
    // A conversion: flags, width, precision, length letters, conversion.
    size_t end = at + 1;
    std::string spec = "%";
    while (end < format.size() && IsFlag(format[end])) spec.push_back(format[end++]);
    size_t digits = 0;
    while (end < format.size() && IsDigit(format[end])) {
      if (++digits <= 3) spec.push_back(format[end]);  // widths above 999 are cut
      ++end;
    }
    if (end < format.size() && format[end] == '.') {
      spec.push_back(format[end++]);
      digits = 0;
      while (end < format.size() && IsDigit(format[end])) {
        if (++digits <= 3) spec.push_back(format[end]);
        ++end;
      }
    }
    while (end < format.size() && (format[end] == 'h' || format[end] == 'l' ||
                                   format[end] == 'z' || format[end] == 'j' ||
                                   format[end] == 't')) {
      ++end;  // the code is a 32-bit int whatever the letters say
    }
    char conversion = end < format.size() ? format[end] : '\0';
    bool integer = conversion == 'd' || conversion == 'i' || conversion == 'u' ||
                   conversion == 'x' || conversion == 'X' || conversion == 'o';
    if (!integer || codeUsed) {
      out.push_back('%');  // not ours to interpret: copied as it stands
      ++at;
      continue;
    }
    spec.push_back(conversion);
    char buffer[1024];
    int n;
    if (conversion == 'd' || conversion == 'i') {
      n = std::snprintf(buffer, sizeof(buffer), spec.c_str(), code);
    } else {
      n = std::snprintf(buffer, sizeof(buffer), spec.c_str(), static_cast<unsigned>(code));
    }
    if (n > 0) out.append(buffer, static_cast<size_t>(n) < sizeof(buffer) ? n : sizeof(buffer) - 1);
    codeUsed = true;
    at = end + 1;
  }
  return out;
}

}  // namespace marrowgate
