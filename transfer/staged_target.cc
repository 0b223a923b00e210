#include "transfer/staged_target.h"

#include <cstring>
#include <utility>
#include <vector>

#include "util/releaser.h"

namespace marrowgate {

int RemoveLeftoverStagingFiles(FileSystem* fs, const std::string& folder) {
  if (fs == nullptr) return 0;
  std::vector<std::pair<std::string, bool>> leftovers;  // path, a folder
  {
    Owned<DirListing> listing(fs->OpenDiskListing(folder.c_str()));
    if (!listing) return 0;
    while (const ListingEntry* entry = listing->Next()) {
      if (!IsStagingName(entry->name)) continue;
      leftovers.emplace_back(
          folder.empty() ? std::string(entry->name) : folder + "/" + entry->name,
          entry->isFolder != 0);
    }
  }
  int removed = 0;
  for (const auto& [path, is_folder] : leftovers) {
    if (path.size() > static_cast<size_t>(kMaxPath)) continue;
    if ((is_folder ? fs->RemoveTree(path.c_str()) : fs->DeleteFile(path.c_str())) == 0) ++removed;
  }
  return removed;
}

}  // namespace marrowgate
