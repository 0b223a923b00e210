#include "tools/pack_names.h"

#include <cstdio>

namespace marrowgate {

namespace {

// Matches one bracket expression at pattern[*p] (just after '[') against
// `c`. Advances *p past the closing ']'. False in `*valid` when the
// bracket is not closed (the '[' is then an ordinary character).
bool MatchBracket(std::string_view pattern, size_t* p, char c, bool* valid) {
  size_t i = *p;
  bool negate = false;
  if (i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^')) {
    negate = true;
    ++i;
  }
  bool matched = false;
  bool first = true;
  while (i < pattern.size() && (pattern[i] != ']' || first)) {
    first = false;
    char low = pattern[i];
    if (low == '\\' && i + 1 < pattern.size()) low = pattern[++i];
    char high = low;
    if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
      high = pattern[i + 2];
      if (high == '\\' && i + 3 < pattern.size()) {
        high = pattern[i + 3];
        ++i;
      }
      i += 2;
    }
    unsigned char u = static_cast<unsigned char>(c);
    if (u >= static_cast<unsigned char>(low) && u <= static_cast<unsigned char>(high)) matched = true;
    ++i;
  }
  if (i >= pattern.size()) {
    *valid = false;
    return false;
  }
  *valid = true;
  *p = i + 1;
  return matched != negate;
}

}  // namespace

bool GlobMatch(std::string_view pattern, std::string_view text) {
  size_t p = 0, t = 0;
  // Where to resume after the last '*': its pattern position and the text
  // position it has swallowed up to.
  size_t starP = std::string_view::npos, starT = 0;
  while (t < text.size()) {
    if (p < pattern.size()) {
      char pc = pattern[p];
      if (pc == '*') {
        starP = ++p;
        starT = t;
        continue;
      }
      if (pc == '?' && text[t] != '/') {
        ++p;
        ++t;
        continue;
      }
      if (pc == '[' && text[t] != '/') {
        size_t next = p + 1;
        bool valid = true;
        bool ok = MatchBracket(pattern, &next, text[t], &valid);
        if (valid) {
          if (ok) {
            p = next;
            ++t;
            continue;
          }
        } else if (text[t] == '[') {
          ++p;
          ++t;
          continue;
        }
      } else if (pc == '\\' && p + 1 < pattern.size()) {
        if (pattern[p + 1] == text[t]) {
          p += 2;
          ++t;
          continue;
        }
      } else if (pc != '?' && pc != '[' && pc == text[t]) {
        ++p;
        ++t;
        continue;
      }
    }
    // Mismatch: let the last '*' swallow one more character (not a '/').
    if (starP == std::string_view::npos || text[starT] == '/') return false;
    p = starP;
    t = ++starT;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool MatchesPathPattern(std::string_view pattern, std::string_view path) {
  while (!pattern.empty() && pattern.back() == '/') pattern.remove_suffix(1);
  if (GlobMatch(pattern, path)) return true;
  for (size_t i = 0; i < path.size(); ++i)
    if (path[i] == '/' && GlobMatch(pattern, path.substr(0, i))) return true;
  return false;
}

bool MatchesExcludePattern(std::string_view pattern, std::string_view path) {
  if (pattern.find('/') != std::string_view::npos) return MatchesPathPattern(pattern, path);
  size_t start = 0;
  for (;;) {
    size_t end = path.find('/', start);
    if (GlobMatch(pattern, path.substr(start, end == std::string_view::npos ? end : end - start)))
      return true;
    if (end == std::string_view::npos) return false;
    start = end + 1;
  }
}

std::string FoldedName(std::string_view name) {
  std::string folded(name);
  for (char& c : folded)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return folded;
}

std::string EscapedName(std::string_view name) {
  std::string text;
  text.reserve(name.size());
  for (char c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '\\') {
      text += "\\\\";
    } else if (c == '\n') {
      text += "\\n";
    } else if (c == '\t') {
      text += "\\t";
    } else if (c == '\r') {
      text += "\\r";
    } else if (u < 0x20 || u == 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", u);
      text += hex;
    } else {
      text += c;
    }
  }
  return text;
}

std::string JsonString(std::string_view text) {
  std::string json = "\"";
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    switch (c) {
      case '"': json += "\\\""; break;
      case '\\': json += "\\\\"; break;
      case '\n': json += "\\n"; break;
      case '\t': json += "\\t"; break;
      case '\r': json += "\\r"; break;
      case '\b': json += "\\b"; break;
      case '\f': json += "\\f"; break;
      default:
        if (u < 0x20 || u == 0x7f) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\u%04x", u);
          json += hex;
        } else {
          json += c;
        }
    }
  }
  return json + "\"";
}

std::string HumanSize(uint64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes);
  static const char kUnits[] = "KMGT";
  double value = static_cast<double>(bytes);
  int unit = -1;
  while (value >= 1024.0 && unit < 3) {
    value /= 1024.0;
    ++unit;
  }
  char text[32];
  if (value < 10.0) {
    std::snprintf(text, sizeof text, "%.1f%c", value, kUnits[unit]);
  } else {
    std::snprintf(text, sizeof text, "%.0f%c", value, kUnits[unit]);
  }
  return text;
}

}  // namespace marrowgate
