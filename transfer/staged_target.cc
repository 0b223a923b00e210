#include "transfer/staged_target.h"

#include <cstring>
#include <vector>

#include "util/releaser.h"

namespace marrowgate {

int RemoveLeftoverStagingFiles(FileSystem* fs, const std::string& folder) {
  if (fs == nullptr) return 0;
  std::vector<std::string> leftovers;
  {
    Owned<DirListing> listing(fs->OpenDiskListing(folder.c_str()));
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
