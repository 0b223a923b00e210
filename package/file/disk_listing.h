// DiskListing: a DirListing over one folder of the local disk.
//
// Every entry is handed out, "." and ".." included. A folder that cannot
// be opened (missing, not a folder, path longer than kMaxDiskPath) lists
// nothing. An entry whose name does not fit ListingEntry::name is skipped
// (and reported on the debug output).
#ifndef MARROWGATE_PACKAGE_FILE_DISK_LISTING_H_
#define MARROWGATE_PACKAGE_FILE_DISK_LISTING_H_

#include <memory>
#include <string>

#include "package/file/file_system.h"
#include "platform/env.h"

namespace marrowgate {

class DiskListing : public DirListing {
 public:
  explicit DiskListing(std::string basePath) : basePath_(std::move(basePath)) {}

  const char* BasePath() override { return basePath_.c_str(); }
  const ListingEntry* Next() override;
  void Rewind() override;

 private:
  std::string basePath_;
  std::unique_ptr<platform::FolderEnumerator> enumerator_;
  bool started_ = false;
  ListingEntry entry_;
};

}  // namespace marrowgate

#endif  // MARROWGATE_PACKAGE_FILE_DISK_LISTING_H_
