#include "package/file/staging_name.h"

namespace marrowgate {

namespace {

constexpr size_t kSuffixLength = sizeof(kStagingSuffix) - 1;

size_t LastSeparator(const std::string& path) { return path.find_last_of("/\\"); }

}  // namespace

bool IsStagingName(const std::string& path) {
  size_t separator = LastSeparator(path);
  size_t nameStart = separator == std::string::npos ? 0 : separator + 1;
  if (path.size() - nameStart < kSuffixLength) return false;
  return path.compare(path.size() - kSuffixLength, kSuffixLength, kStagingSuffix) == 0;
}

bool HasStagingComponent(const std::string& path) {
  for (size_t end = path.size(); end > 0;) {
    const size_t separator = path.find_last_of("/\\", end - 1);
    const size_t start = separator == std::string::npos ? 0 : separator + 1;
    if (end - start >= kSuffixLength &&
        path.compare(end - kSuffixLength, kSuffixLength, kStagingSuffix) == 0)
      return true;
    if (separator == std::string::npos) break;
    end = separator;
  }
  return false;
}

std::string FolderPartOf(const std::string& path) {
  size_t separator = LastSeparator(path);
  return separator == std::string::npos ? std::string() : path.substr(0, separator);
}

std::string StagingPathFor(const std::string& target, size_t limit) {
  size_t separator = LastSeparator(target);
  size_t nameStart = separator == std::string::npos ? 0 : separator + 1;
  // At least one character of the name, so that the staging file never
  // begins with the suffix alone.
  if (nameStart + 1 + kSuffixLength > limit || nameStart >= target.size()) return std::string();
  std::string staged = target;
  if (staged.size() + kSuffixLength > limit) staged.resize(limit - kSuffixLength);
  return staged + kStagingSuffix;
}

}  // namespace marrowgate
