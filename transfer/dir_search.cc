#include "transfer/dir_search.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "util/releaser.h"

namespace marrowgate {
namespace {

// r - offset without overflowing for hooks that return INT32_MIN.
int32_t LessOffset(int32_t r, int32_t offset) {
  int64_t value = static_cast<int64_t>(r) - offset;
  return value < INT32_MIN ? INT32_MIN : static_cast<int32_t>(value);
}

}  // namespace

DirSearch::DirSearch(FileSystem* fs) : fs_(fs) {}

DirSearch::~DirSearch() = default;

int32_t DirSearch::ActionOnDir(const char*) { return 0; }
int32_t DirSearch::ActionOnEnterDir(const char*) { return 0; }
int32_t DirSearch::ActionOnLeaveDir(const char*) { return 0; }

int DirSearch::AddExcludedName(const char* name) {
  if (name == nullptr) return -1;
  try {
    return excluded_names_.Insert(name) ? 1 : 0;
  } catch (const std::bad_alloc&) {
    return -1;
  }
}

bool DirSearch::SetExcludedSuffixes(const char* text) {
  excluded_suffixes_.clear();
  if (text == nullptr || text[0] == '\0') return true;
  const char* begin = text;
  for (;;) {
    const char* bar = std::strchr(begin, '|');
    if (bar == nullptr) {
      excluded_suffixes_.emplace_back(begin);
      return true;
    }
    excluded_suffixes_.emplace_back(begin, static_cast<size_t>(bar - begin));
    if (bar[1] == '\0') return false;  // a trailing "|"
    begin = bar + 1;
  }
}

bool DirSearch::MatchesSuffix(const char* name) const {
  size_t name_length = std::strlen(name);
  for (const std::string& suffix : excluded_suffixes_) {
    if (suffix.size() > name_length) continue;
    if (std::memcmp(name + name_length - suffix.size(), suffix.data(), suffix.size()) == 0)
      return true;
  }
  return false;
}

bool DirSearch::PassesFilters(const char* name) {
  if (excluded_names_.size() != 0 && excluded_names_.Contains(name)) return false;
  return excluded_suffixes_.empty() || !MatchesSuffix(name);
}

const char* DirSearch::ComposeEntryPath(const char* name) {
  size_t length = current_folder_.size() + 1 + std::strlen(name);
  if (length > static_cast<size_t>(kMaxPath)) return nullptr;
  entry_path_.assign(current_folder_).append("/").append(name);
  return entry_path_.c_str();
}

int32_t DirSearch::Search(const char* root, uint8_t recursive) {
  if (stop_ != nullptr) stop_[0] = '\0';
  if (root == nullptr) return kListingFailed;
  root_length_ = std::strlen(root);
  depth_ = 0;
  try {
    return Walk(root, recursive);
  } catch (const std::bad_alloc&) {
    depth_ = 0;
    return kListingFailed;
  }
}

int32_t DirSearch::Walk(const std::string& folder, uint8_t recursive) {
  // A folder whose path does not fit a path buffer is refused like one
  // that cannot be listed.
  if (folder.size() > static_cast<size_t>(kMaxPath)) return kListingFailed;
  current_folder_ = folder;
  if (ActionOnEnterDir(folder.c_str()) < 0) return kEnterDirFailed;
  Owned<DirListing> listing(fs_->OpenListing(folder.c_str()));
  if (!listing) return kListingFailed;
  ++depth_;
  int32_t result = 0;
  while (!Stopped()) {
    const ListingEntry* entry = listing->Next();
    if (entry == nullptr) break;
    // Copy the name: a hook may list folders through the same FileSystem.
    std::string name(entry->name, std::find(entry->name, entry->name + sizeof entry->name, '\0'));
    if (entry->isFolder) {
      if (name == "." || name == "..") continue;
      int32_t r = ActionOnDir(name.c_str());
      if (r < 0) {
        result = LessOffset(r, kDirHookOffset);
        break;
      }
      if (recursive) {
        std::string sub_folder = folder + "/" + name;
        r = Walk(sub_folder, recursive);
        current_folder_ = folder;
        if (r < 0) {
          result = r;
          break;
        }
      }
    } else {
      if (!PassesFilters(name.c_str())) continue;
      int32_t r = ActionOnFile(name.c_str());
      if (r < 0) {
        result = LessOffset(r, kFileHookOffset);
        break;
      }
    }
  }
  --depth_;
  listing.reset();
  if (result != 0) return result;
  return ActionOnLeaveDir(folder.c_str()) < 0 ? kLeaveDirFailed : 0;
}

}  // namespace marrowgate
