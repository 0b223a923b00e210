#include "transfer/staged_target.h"

#include <cstring>
#include <vector>

#include "util/releaser.h"

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

std::string FolderPartOf(const std::string& path) {
  size_t separator = LastSeparator(path);
  return separator == std::string::npos ? std::string() : path.substr(0, separator);
}

std::string StagingPathFor(const std::string& target) {
  const size_t limit = static_cast<size_t>(kMaxPath);
  size_t separator = LastSeparator(target);
  size_t nameStart = separator == std::string::npos ? 0 : separator + 1;
  // At least one character of the name, so that the staging file never
  // begins with the suffix alone.
  if (nameStart + 1 + kSuffixLength > limit || nameStart >= target.size()) return std::string();
  std::string staged = target;
  if (staged.size() + kSuffixLength > limit) staged.resize(limit - kSuffixLength);
  return staged + kStagingSuffix;
}

int RemoveLeftoverStagingFiles(FileSystem* fs, const std::string& folder) {
  if (fs == nullptr) return 0;
  std::vector<std::string> leftovers;
  {
    Owned<DirListing> listing(fs->OpenListing(folder.c_str()));
    if (!listing) return 0;
    while (const ListingEntry* entry = listing->Next()) {
      if (entry->isFolder || !IsStagingName(entry->name)) continue;
      leftovers.push_back(folder.empty() ? std::string(entry->name) : folder + "/" + entry->name);
    }
  }
  int removed = 0;
  for (const std::string& path : leftovers) {
    if (path.size() <= static_cast<size_t>(kMaxPath) && fs->DeleteFile(path.c_str()) == 0)
      ++removed;
  }
  return removed;
}

}  // namespace marrowgate
