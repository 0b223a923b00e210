#include "package/normalise_path.h"

#include <cstring>
#include <string>
#include <vector>

#include "package/file_system.h"
#include "platform/env.h"

namespace marrowgate {

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool AllDots(const std::string& component) {
  if (component.empty()) return false;
  for (char c : component) {
    if (c != '.') return false;
  }
  return true;
}

}  // namespace

bool NormalisePath(const char* path, std::string* out) {
  if (path == nullptr || out == nullptr) return false;
  size_t length = std::strlen(path);
  std::string text;
  if ((length >= 2 && path[1] == ':') || (length >= 1 && IsSeparator(path[0]))) {
    text.assign(path, length);
  } else {
    text = platform::CurrentFolder();
    if (text.empty()) return false;
    if (!IsSeparator(text.back())) text += '/';
    text.append(path, length);
  }

  // The root stays as it is: "d:" with its separator, or the leading
  // separators of "/x" and "//server".
  std::string root;
  size_t at = 0;
  if (text.size() >= 2 && text[1] == ':') {
    root = text.substr(0, 2);
    at = 2;
    if (at < text.size() && IsSeparator(text[at])) {
      root += '/';
      ++at;
    }
  } else {
    size_t leading = 0;
    while (leading < text.size() && IsSeparator(text[leading])) ++leading;
    // Only the first two characters keep separate separators.
    root.assign(leading >= 2 && text.size() > 2 ? 2 : (leading > 0 ? 1 : 0), '/');
    at = leading;
  }

  std::vector<std::string> components;
  bool trailingSeparator = false;
  while (at < text.size()) {
    size_t end = at;
    while (end < text.size() && !IsSeparator(text[end])) ++end;
    std::string component = text.substr(at, end - at);
    if (AllDots(component)) {
      size_t remove = component.size() - 1;
      if (remove > components.size()) remove = components.size();
      components.resize(components.size() - remove);
    } else {
      components.push_back(std::move(component));
    }
    trailingSeparator = end < text.size();
    at = end;
    while (at < text.size() && IsSeparator(text[at])) ++at;
  }

  std::string result = root;
  for (size_t i = 0; i < components.size(); ++i) {
    if (i > 0) result += '/';
    result += components[i];
  }
  if (trailingSeparator && !components.empty()) result += '/';
  if (result.size() > static_cast<size_t>(kMaxPath)) return false;
  *out = std::move(result);
  return true;
}

}  // namespace marrowgate
