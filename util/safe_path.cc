#include "util/safe_path.h"

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

}  // namespace marrowgate
