#include "app/client_version.h"

#include <limits>

#include "util/values.h"

namespace marrowgate {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads one part at `*at`; false (and `*at` unchanged) when no digit is
// there.
bool ScanPart(std::string_view text, size_t* at, uint32_t* part) {
  size_t i = *at;
  while (i < text.size() && IsScanSpace(text[i])) ++i;
  if (i < text.size() && text[i] == '+') ++i;
  if (i >= text.size() || !IsDigit(text[i])) return false;
  constexpr uint32_t kMax = std::numeric_limits<uint32_t>::max();
  uint32_t value = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    uint32_t digit = static_cast<uint32_t>(text[i] - '0');
    value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
  }
  *part = value;
  *at = i;
  return true;
}

}  // namespace

ClientVersion ScanClientVersion(std::string_view text) {
  ClientVersion version{};
  size_t at = 0;
  for (size_t index = 0; index < version.size(); ++index) {
    if (index > 0) {
      if (at >= text.size() || text[at] != '.') break;
      ++at;
    }
    if (!ScanPart(text, &at, &version[index])) break;
  }
  return version;
}

ClientVersion ScanClientVersion(const char* text) {
  return ScanClientVersion(text != nullptr ? std::string_view(text) : std::string_view());
}

bool IsClientVersionText(std::string_view text) {
  size_t at = 0;
  for (int part = 0; part < 4; ++part) {
    size_t start = at;
    uint64_t value = 0;
    for (; at < text.size() && IsDigit(text[at]); ++at) {
      value = value * 10 + static_cast<uint64_t>(text[at] - '0');
      if (value > std::numeric_limits<uint32_t>::max()) return false;
    }
    if (at == start) return false;
    if (at == text.size()) return true;
    if (text[at] != '.') return false;
    ++at;
  }
  return false;
}

bool IsVersionLower(const char* installed, const char* required) {
  ClientVersion have = ScanClientVersion(installed);
  ClientVersion need = ScanClientVersion(required);
  for (size_t index = 0; index < have.size(); ++index) {
    if (have[index] != need[index]) return have[index] < need[index];
  }
  return false;
}

}  // namespace marrowgate
