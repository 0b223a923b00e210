#include "package/manager/normalise_path.h"

#include <cstring>
#include <string>
#include <vector>

#include "package/file/file_system.h"
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

  // Separators: in the first two characters '\\' becomes '/' (so
  // "\\\\server" keeps both of its leading separators); from the third
  // character on, every run of separators becomes one '/'.
  std::string collapsed;
  collapsed.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (!IsSeparator(c)) {
      collapsed += c;
    } else if (i <= 2 || !IsSeparator(text[i - 1])) {
      collapsed += '/';
    }
  }
  text.swap(collapsed);

  // The root, which dot components never remove: "d:" with its separator,
  // or the leading separators ("/", "//", or "///" when a third follows the
  // first two).
  std::string root;
  size_t at = 0;
  if (text.size() >= 2 && text[1] == ':') {
    at = text.size() > 2 && text[2] == '/' ? 3 : 2;
  } else {
    while (at < text.size() && text[at] == '/') ++at;
  }
  root = text.substr(0, at);

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
    at = end < text.size() ? end + 1 : end;
  }

  std::string result = root;
  for (size_t i = 0; i < components.size(); ++i) {
    if (i > 0) result += '/';
    result += components[i];
  }
  if (trailingSeparator && !components.empty()) result += '/';
  if (result.size() > static_cast<size_t>(kMaxDiskPath)) return false;
  *out = std::move(result);
  return true;
}

}  // namespace marrowgate
