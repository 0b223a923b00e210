#include "util/text.h"

#include <cstdarg>
#include <cstdio>

#include <cstring>

#include "platform/env.h"
#include "util/values.h"

namespace marrowgate {

size_t Trim(char* text) { return TrimChars(text, " \t\r\n"); }

size_t TrimChars(char* text, const char* set) {
  size_t length = std::strlen(text);
  size_t begin = 0;
  while (begin < length && std::strchr(set, text[begin]) != nullptr) ++begin;
  size_t end = length;
  while (end > begin && std::strchr(set, text[end - 1]) != nullptr) --end;
  size_t kept = end - begin;
  if (begin > 0) std::memmove(text, text + begin, kept);
  text[kept] = '\0';
  return kept;
}

std::string_view TrimView(std::string_view text) {
  size_t begin = 0;
  while (begin < text.size() && IsTextSpace(text[begin])) ++begin;
  size_t end = text.size();
  while (end > begin && IsTextSpace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

bool CopyBounded(char* buffer, size_t size, const char* text) {
  if (size == 0) return text[0] == '\0';
  size_t length = std::strlen(text);
  size_t copied = length < size - 1 ? length : size - 1;
  std::memcpy(buffer, text, copied);
  buffer[copied] = '\0';
  return copied == length;
}

const char* CopyText(char* destination, size_t capacity, const char* text) {
  size_t length = std::strlen(text);
  if (length + 1 > capacity) {
    if (capacity > 0) destination[0] = '\0';
    return nullptr;
  }
  std::memcpy(destination, text, length + 1);
  return text + length + 1;
}

int FindInList(const char* const* list, const char* text) {
  if (list == nullptr || text == nullptr) return -1;
  for (int i = 0; list[i] != nullptr; ++i)
    if (std::strcmp(list[i], text) == 0) return i;
  return -1;
}

const char* FindLastOf(const char* text, const char* set, char* found) {
  const char* last = nullptr;
  for (const char* p = text; *p != '\0'; ++p)
    if (std::strchr(set, *p) != nullptr) last = p;
  if (last != nullptr && found != nullptr) *found = *last;
  return last;
}

int CollapseRuns(char* destination, size_t capacity, const char* text, const char* set,
                 char replacement) {
  size_t written = 0;
  bool inRun = false;
  for (const char* p = text; *p != '\0'; ++p) {
    bool member = std::strchr(set, *p) != nullptr;
    if (member && inRun) continue;
    inRun = member;
    if (written + 1 >= capacity) {
      if (capacity > 0) destination[0] = '\0';
      return -1;
    }
    destination[written++] = member ? replacement : *p;
  }
  if (capacity == 0) return -1;
  destination[written] = '\0';
  return static_cast<int>(written);
}

int ReplaceChar(char* buffer, size_t limit, char from, char to) {
  if (limit == 0) limit = 1;
  int found = 0;
  for (size_t i = 0; i < limit; ++i) {
    if (buffer[i] != from) continue;
    ++found;
    if (to != '\0') buffer[i] = to;
  }
  return found;
}

int SplitAlternatives(std::string_view text, std::vector<std::string_view>* pieces) {
  pieces->clear();
  if (text.empty()) return 0;
  if (text.back() == '|') return -1;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != '|') continue;
    pieces->push_back(text.substr(start, i - start));
    start = i + 1;
  }
  return static_cast<int>(pieces->size());
}

void RandomBytes(void* buffer, size_t n) {
  auto* out = static_cast<unsigned char*>(buffer);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<unsigned char>(platform::CRand());
}

std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list measure;
  va_copy(measure, args);
  int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  std::string text;
  if (length > 0) {
    text.resize(static_cast<size_t>(length) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<size_t>(length));
  }
  va_end(args);
  return text;
}

std::string EscapeControlCharacters(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string shown;
  shown.reserve(text.size());
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (c == '\n') {
      shown += "\\n";
    } else if (c == '\t') {
      shown += "\\t";
    } else if (c == '\r') {
      shown += "\\r";
    } else if (byte < 0x20 || byte == 0x7f) {
      shown += "\\x";
      shown.push_back(kHex[byte >> 4]);
      shown.push_back(kHex[byte & 0xf]);
    } else {
      shown.push_back(c);
    }
  }
  return shown;
}

}  // namespace marrowgate
