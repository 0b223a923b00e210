// PackageAwareListing: a disk folder listing in which package files look
// like folders. A file entry whose name ends in ".dpk" or ".exe" (exactly,
// lower case) is probed (ProbePackageFile):
//   1 (a plain package)            a folder entry named without extension;
//   2 (a host carrying a package)  the same when hosts are accepted,
//                                  otherwise the entry is left out;
//   anything else                  the file entry as it is.
// Folder entries and other files pass unchanged.
#ifndef MARROWGATE_PACKAGE_MANAGER_PACKAGE_AWARE_LISTING_H_
#define MARROWGATE_PACKAGE_MANAGER_PACKAGE_AWARE_LISTING_H_

#include "package/file/file_system.h"
#include "util/releaser.h"

namespace marrowgate {

class PackageAwareListing : public DirListing {
 public:
  // Takes ownership of `diskListing`; `fileSystem` (used for probing) must
  // outlive the listing.
  PackageAwareListing(DirListing* diskListing, FileSystem* fileSystem, bool acceptHosts);

  // Without a disk listing (a file system that gave none) it lists nothing.
  const char* BasePath() override { return listing_ ? listing_->BasePath() : ""; }
  const ListingEntry* Next() override;
  void Rewind() override {
    if (listing_) listing_->Rewind();
  }

 private:
  Owned<DirListing> listing_;
  FileSystem* fileSystem_;
  bool acceptHosts_;
  ListingEntry entry_;
};

}  // namespace marrowgate

#endif  // MARROWGATE_PACKAGE_MANAGER_PACKAGE_AWARE_LISTING_H_
