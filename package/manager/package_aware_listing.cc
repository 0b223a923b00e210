#include "package/manager/package_aware_listing.h"

#include <cstring>
#include <string>

#include "package/store/tail_file.h"

namespace marrowgate {

namespace {

bool EndsWith(const char* name, const char* suffix) {
  size_t nameLength = std::strlen(name);
  size_t suffixLength = std::strlen(suffix);
  return nameLength > suffixLength && std::strcmp(name + nameLength - suffixLength, suffix) == 0;
}

}  // namespace

PackageAwareListing::PackageAwareListing(DirListing* diskListing, FileSystem* fileSystem,
                                         bool acceptHosts)
    : listing_(diskListing), fileSystem_(fileSystem), acceptHosts_(acceptHosts) {}

const ListingEntry* PackageAwareListing::Next() {
  if (!listing_) return nullptr;
  while (const ListingEntry* entry = listing_->Next()) {
    entry_ = *entry;
    if (entry_.isFolder || !(EndsWith(entry_.name, ".dpk") || EndsWith(entry_.name, ".exe"))) {
      return &entry_;
    }
    std::string full = std::string(listing_->BasePath()) + "/" + entry_.name;
    int probe = ProbePackageFile(fileSystem_, full.c_str());
    if (probe == 2 && !acceptHosts_) continue;
    if (probe == 1 || probe == 2) {
      entry_.name[std::strlen(entry_.name) - 4] = '\0';
      entry_.isFolder = 1;
    }
    return &entry_;
  }
  return nullptr;
}

}  // namespace marrowgate
