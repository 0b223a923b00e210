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

// True when `path` is already in its normal form: absolute ("/..." with
// one leading separator, or "d:/..."), only '/' as separator, no empty
// component and none made of dots alone. Such a path normalises to itself.
bool AlreadyNormal(const char* path, size_t length) {
  size_t at;
  if (length >= 2 && path[1] == ':' && path[0] == '/') {
    return false;  // "/:" reads as a drive
  } else if (length >= 1 && path[0] == '/') {
    at = 1;
  } else if (length >= 3 && !IsSeparator(path[0]) && path[1] == ':' && path[2] == '/') {
    at = 3;
  } else {
    return false;
  }
  if (at < length && path[at] == '/') return false;
  // `start` is where the current component began.
  size_t start = at;
  bool dotsOnly = true;
  for (size_t i = at; i <= length; ++i) {
    const char c = i < length ? path[i] : '/';
    if (c == '\\') return false;
    if (c != '/') {
      if (c != '.') dotsOnly = false;
      continue;
    }
    const bool empty = i == start;
    // An empty component is a doubled separator, except a trailing one.
    if (empty && i < length) return false;
    if (!empty && dotsOnly) return false;
    start = i + 1;
    dotsOnly = true;
  }
  return true;
}

}  // namespace

bool NormalisePath(const char* path, std::string* out) {
  if (path == nullptr || out == nullptr) return false;
  const size_t length = std::strlen(path);
  if (!AlreadyNormal(path, length)) return NormalisePathStepByStep(path, out);
  if (length > static_cast<size_t>(kMaxDiskPath)) return false;
  out->assign(path, length);
  return true;
}

bool NormalisePathStepByStep(const char* path, std::string* out) {
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
