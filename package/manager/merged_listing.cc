#include "package/manager/merged_listing.h"

namespace marrowgate {

MergedListing::MergedListing(std::vector<DirListing*> listings) {
  for (DirListing* listing : listings) {
    if (listing == nullptr) continue;
    listings_.emplace_back(listing);
    while (const ListingEntry* entry = listing->Next()) {
      entries_.emplace(entry->name, *entry);  // an existing name is kept
    }
  }
  cursor_ = entries_.begin();
}

const char* MergedListing::BasePath() {
  return listings_.empty() ? "" : listings_.front()->BasePath();
}

const ListingEntry* MergedListing::Next() {
  if (cursor_ == entries_.end()) return nullptr;
  const ListingEntry* entry = &cursor_->second;
  ++cursor_;
  return entry;
}

void MergedListing::Rewind() { cursor_ = entries_.begin(); }

}  // namespace marrowgate
