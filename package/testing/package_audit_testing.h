// Test helpers that audit a package: its items (path and first block,
// gathered through listings) and the block structure of its file. Only
// for tests.
#ifndef MARROWGATE_PACKAGE_TESTING_PACKAGE_AUDIT_TESTING_H_
#define MARROWGATE_PACKAGE_TESTING_PACKAGE_AUDIT_TESTING_H_

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "package/store/package.h"
#include "package/store/package_check.h"
#include "util/releaser.h"

namespace marrowgate::testing_audit {

// Every file item below `folder` of an open package, with its first block.
inline void CollectItems(Package* package, const std::string& folder,
                         std::vector<PackageItemRef>* items) {
  Owned<DirListing> listing(package->List(folder.c_str()));
  if (!listing) return;
  std::vector<std::pair<std::string, bool>> entries;
  std::vector<uint32_t> blocks;
  while (const ListingEntry* entry = listing->Next()) {
    std::string path = folder.empty() ? entry->name : folder + "/" + entry->name;
    entries.emplace_back(path, entry->isFolder != 0);
    blocks.push_back(entry->value);
  }
  listing.reset();
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].second) CollectItems(package, entries[i].first, items);
    else items->emplace_back(entries[i].first, blocks[i]);
  }
}

// The plain content of every file item, by path.
inline std::map<std::string, std::string> Contents(Package* package) {
  std::vector<PackageItemRef> items;
  CollectItems(package, "", &items);
  std::map<std::string, std::string> contents;
  for (const auto& [path, block] : items) {
    Owned<VirtualFile> item(package->OpenItem(path.c_str(), kOpenRead));
    std::string content;
    if (!item) {
      content = "<unreadable>";
    } else {
      content.resize(static_cast<size_t>(item->Size()));
      if (!content.empty() &&
          item->Read(content.data(), static_cast<int32_t>(content.size())) != item->Size())
        content = "<short>";
    }
    contents[path] = content;
  }
  return contents;
}

// The problems CheckPackageBlocks finds in `file`, given the open package
// over it (items listed from its tree).
inline std::vector<std::string> BlockProblems(Package* package, VirtualFile* file) {
  std::vector<PackageItemRef> items;
  CollectItems(package, "", &items);
  return CheckPackageBlocks(file, items);
}

}  // namespace marrowgate::testing_audit

#endif  // MARROWGATE_PACKAGE_TESTING_PACKAGE_AUDIT_TESTING_H_
