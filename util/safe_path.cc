#include "util/safe_path.h"

#include <string>
#include <utility>

namespace marrowgate {

bool IsSafePathComponent(std::string_view name) {
  if (name.empty() || name.find_first_not_of('.') == std::string_view::npos) return false;
  return name.find_first_of(std::string_view("/\\:\0", 4)) == std::string_view::npos;
}

bool IsContainedRelativePath(std::string_view path) {
  if (path.empty()) return false;
  for (;;) {
    size_t end = path.find_first_of("/\\");
    if (!IsSafePathComponent(path.substr(0, end))) return false;
    if (end == std::string_view::npos) return true;
    path.remove_prefix(end + 1);
  }
}

bool NormaliseListName(std::string_view line, std::string* out) {
  std::string path;
  for (char c : line) {
    char separator = c == '\\' ? '/' : c;
    if (separator == '/' && !path.empty() && path.back() == '/') continue;
    path.push_back(separator);
  }
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (!IsContainedRelativePath(path)) return false;
  *out = std::move(path);
  return true;
}

bool ListNameBeginsWith(std::string_view name, std::string_view prefix) {
  if (name.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char a = name[i] == '\\' ? '/' : name[i];
    char b = prefix[i] == '\\' ? '/' : prefix[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

bool ListNameWithin(std::string_view name, std::string_view folder) {
  if (!ListNameBeginsWith(name, folder)) return false;
  return name.size() == folder.size() || name[folder.size()] == '/' ||
         name[folder.size()] == '\\';
}

}  // namespace marrowgate
