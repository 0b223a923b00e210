// Helpers of the shared file-system records.
#include "package/file/file_system.h"

#include <cstring>

namespace marrowgate {

bool SetListingName(ListingEntry* entry, const char* name) {
  if (entry == nullptr || name == nullptr) return false;
  size_t length = std::strlen(name);
  if (length >= sizeof(entry->name)) return false;
  std::memcpy(entry->name, name, length + 1);
  return true;
}

}  // namespace marrowgate
