#include "package/file/disk_listing.h"

#include <string>

namespace marrowgate {

const ListingEntry* DiskListing::Next() {
  if (!started_) {
    started_ = true;
    if (basePath_.size() <= static_cast<size_t>(kMaxDiskPath)) {
      std::string folder = basePath_;
      for (char& c : folder) {
        if (c == '\\') c = '/';
      }
      // "" is the root of the current drive.
      enumerator_ = platform::FolderEnumerator::Open(folder.empty() ? "/" : folder.c_str());
    }
  }
  if (!enumerator_) return nullptr;
  std::string name;
  bool isFolder = false;
  while (enumerator_->Next(&name, &isFolder)) {
    entry_ = ListingEntry();
    if (!SetListingName(&entry_, name.c_str())) {
      platform::DebugOutput(("marrowgate, listing entry name too long, skipped: " + name + "\n").c_str());
      continue;
    }
    entry_.isFolder = isFolder ? 1 : 0;
    entry_.value = 0;
    return &entry_;
  }
  enumerator_.reset();
  return nullptr;
}

void DiskListing::Rewind() {
  enumerator_.reset();
  started_ = false;
}

}  // namespace marrowgate
