// MergedListing: one listing made of several (a disk folder and a package
// folder of the same path). Entries are handed out in byte-wise name order;
// when two listings hold the same name, the earlier listing's entry wins.
// The base path is that of the first listing. The merged listing owns and
// releases its listings.
#ifndef MARROWGATE_PACKAGE_MANAGER_MERGED_LISTING_H_
#define MARROWGATE_PACKAGE_MANAGER_MERGED_LISTING_H_

#include <map>
#include <string>
#include <vector>

#include "package/file/file_system.h"
#include "util/releaser.h"

namespace marrowgate {

class MergedListing : public DirListing {
 public:
  // Takes ownership of every non-null listing, in priority order.
  explicit MergedListing(std::vector<DirListing*> listings);

  const char* BasePath() override;
  const ListingEntry* Next() override;
  void Rewind() override;

 private:
  std::vector<Owned<DirListing>> listings_;
  std::map<std::string, ListingEntry> entries_;
  std::map<std::string, ListingEntry>::const_iterator cursor_;
};

}  // namespace marrowgate

#endif  // MARROWGATE_PACKAGE_MANAGER_MERGED_LISTING_H_
