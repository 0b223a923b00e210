#include "platform/path_within.h"

namespace marrowgate::platform {
namespace {

std::string_view WithoutTrailingSlashes(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  return path;
}

}  // namespace

bool PathIsAtOrBelow(std::string_view inner, std::string_view outer) {
  inner = WithoutTrailingSlashes(inner);
  outer = WithoutTrailingSlashes(outer);
  if (outer.empty()) return false;
  if (inner == outer) return true;
  if (outer == "/") return !inner.empty() && inner.front() == '/';
  return inner.size() > outer.size() && inner.substr(0, outer.size()) == outer &&
         inner[outer.size()] == '/';
}

}  // namespace marrowgate::platform
