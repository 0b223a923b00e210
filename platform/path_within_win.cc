#include "platform/path_within.h"

#include <string>

namespace marrowgate::platform {
namespace {

// One spelling for comparing: '/' between names, ASCII letters in lower
// case, no trailing separator (a drive root keeps its own: "c:/").
std::string Comparable(std::string_view path) {
  std::string out(path);
  for (char& c : out) {
    if (c == '\\') c = '/';
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  while (out.size() > 1 && out.back() == '/' && !(out.size() == 3 && out[1] == ':')) {
    out.pop_back();
  }
  return out;
}

}  // namespace

bool PathIsAtOrBelow(std::string_view inner, std::string_view outer) {
  const std::string in = Comparable(inner);
  const std::string out = Comparable(outer);
  if (out.empty()) return false;
  if (in == out) return true;
  if (out.back() == '/') return in.size() > out.size() && in.compare(0, out.size(), out) == 0;
  return in.size() > out.size() && in.compare(0, out.size(), out) == 0 && in[out.size()] == '/';
}

}  // namespace marrowgate::platform
