#include "util/charset.h"

#include <cstring>

#include "platform/env.h"
#include "util/hash_table.h"

namespace marrowgate {
namespace {

LibSettings g_settings;
int g_codePage = 0;  // CodePageFromName(g_settings.szCodePage), kept in step

}  // namespace

const LibSettings& GetLibSettings() { return g_settings; }

bool SetCodePageName(const char* name) {
  if (name == nullptr) name = "";
  size_t length = std::strlen(name);
  if (length >= sizeof g_settings.szCodePage) return false;
  std::memcpy(g_settings.szCodePage, name, length + 1);
  g_codePage = CodePageFromName(name);
  return true;
}

int CodePageFromName(const char* name) {
  if (name == nullptr) return 0;
  if (EqualIgnoreCase(name, "UTF8")) return 65001;
  if (EqualIgnoreCase(name, "euckr")) return 949;
  // Read as a decimal number the way atoi reads it (leading white space and
  // a sign allowed); anything that gives no positive number is the default
  // code page.
  const char* p = name;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  if (*p == '-') return 0;
  if (*p == '+') ++p;
  long long value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > 0x7fffffff) return 0;
  }
  return value > 0 ? static_cast<int>(value) : 0;
}

bool IsDoubleBytePair(char lead, char trail) {
  if (g_settings.szCodePage[0] == '\0' || trail == '\0') return false;
  // Every code page the library handles keeps ASCII single-byte, so a lead
  // byte below 0x80 never starts a double-byte character.
  if (static_cast<unsigned char>(lead) < 0x80) return false;
  const char pair[2] = {lead, trail};
  return platform::CountCharacters(g_codePage, pair, 2) == 1;
}

bool IsDoubleByteAt(const char* text) {
  if (text == nullptr || text[0] == '\0') return false;
  return IsDoubleBytePair(text[0], text[1]);
}

char* CopyChars(char* destination, const char* source, size_t n) {
  size_t copied = 0;
  const bool named = g_settings.szCodePage[0] != '\0';
  while (source[copied] != '\0' && copied < n) {
    if (named && source[copied + 1] != '\0' &&
        IsDoubleBytePair(source[copied], source[copied + 1])) {
      if (copied + 2 > n) break;
      destination[copied] = source[copied];
      destination[copied + 1] = source[copied + 1];
      copied += 2;
    } else {
      destination[copied] = source[copied];
      ++copied;
    }
  }
  destination[copied] = '\0';
  return destination;
}

}  // namespace marrowgate
