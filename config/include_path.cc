#include "config/include_path.h"

#include <algorithm>

#include "package/file/file_system.h"

namespace marrowgate {

std::string_view DirectoryOf(std::string_view path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

namespace {

bool StartsWithDotsAndSlash(std::string_view name, size_t dots) {
  if (name.size() < dots + 1) return false;
  for (size_t i = 0; i < dots; ++i)
    if (name[i] != '.') return false;
  return name[dots] == '/' || name[dots] == '\\';
}

// Length of the part of `directory` that names a root and cannot be
// removed: "/" or a drive "C:" / "C:/".
size_t RootLength(const std::string& directory) {
  if (!directory.empty() && directory[0] == '/') return 1;
  if (directory.size() >= 2 && directory[1] == ':')
    return directory.size() >= 3 && directory[2] == '/' ? 3 : 2;
  return 0;
}

}  // namespace

bool JoinIncludePath(std::string_view directory, std::string_view name, std::string* path) {
  path->clear();
  std::string joined;
  const bool nameIsRooted = (name.size() >= 2 && name[1] == ':') ||
                            (!name.empty() && (name[0] == '/' || name[0] == '\\'));
  if (nameIsRooted || directory.empty()) {
    joined.assign(name);
  } else if (name.empty() || name[0] != '.') {
    joined.assign(directory).append("/").append(name);
  } else {
    std::string dir(directory);
    std::replace(dir.begin(), dir.end(), '\\', '/');
    const size_t root = RootLength(dir);
    while (!name.empty() && name[0] == '.') {
      if (StartsWithDotsAndSlash(name, 1)) {
        name.remove_prefix(2);
      } else if (StartsWithDotsAndSlash(name, 2)) {
        if (dir.size() > root) {
          size_t slash = dir.rfind('/');
          dir.resize(slash == std::string::npos || slash < root ? root : slash);
        } else if (root == 0) {
          break;  // a relative directory is used up: keep "../" in the name
        }
        name.remove_prefix(3);
      } else {
        break;
      }
    }
    if (dir.empty()) joined.assign(name);
    else if (dir.back() == '/') joined.assign(dir).append(name);
    else joined.assign(dir).append("/").append(name);
  }
  if (joined.size() > static_cast<size_t>(kMaxPath)) return false;
  *path = std::move(joined);
  return true;
}

}  // namespace marrowgate
