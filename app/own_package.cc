#include "app/own_package.h"

#include <algorithm>

namespace marrowgate {

size_t ModulePathStemLength(std::string_view modulePath) {
  size_t n = modulePath.size();
  if (n > 4 && modulePath[n - 4] == '.') return n - 4;
  return n;
}

std::string PackageRootOf(std::string_view modulePath) {
  return std::string(modulePath.substr(0, ModulePathStemLength(modulePath)));
}

std::string SelfBaseOf(std::string_view modulePath) {
  std::string base = PackageRootOf(modulePath);
  std::replace(base.begin(), base.end(), '\\', '/');
  return base;
}

Package* MountOwnPackage(FileManager* fileManager, std::string_view modulePath) {
  if (fileManager == nullptr || modulePath.empty()) return nullptr;
  std::string base = SelfBaseOf(modulePath);
  std::string extension(modulePath.substr(ModulePathStemLength(modulePath)));
  fileManager->SetPackageMode(base.c_str(), kOpenRead);
  return fileManager->OpenPackage(base.c_str(), extension.c_str(), kOpenRead);
}

}  // namespace marrowgate
