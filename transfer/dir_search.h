// DirSearch: a depth-first walk of a folder tree through a FileSystem (the
// local disk or a FileManager) that hands every entry to virtual hooks.
// Derived classes fill in the hooks; the walker lists folders, filters file
// names, keeps the current folder path and turns the hooks' negative results
// into the walk's result.
//
//   class Printer : public DirSearch {
//    public:
//     using DirSearch::DirSearch;
//     int32_t ActionOnFile(const char* name) override {
//       std::puts(ComposeEntryPath(name));
//       return 0;
//     }
//   };
//   Printer walker(fs);
//   int32_t rc = walker.Search("root", 1);
//
// Results of Search (0 or negative):
//   -1        ActionOnEnterDir returned a negative value
//   -2        a folder's listing cannot be opened, or a folder's path (the
//             root or a composed sub-folder path) is longer than kMaxPath
//             characters; no hook is called for such a folder
//   -3        ActionOnLeaveDir returned a negative value
//   r - 100   ActionOnDir returned the negative value r
//   r - 1000  ActionOnFile returned the negative value r
// A sub-walk's negative result is passed up unchanged, and ActionOnLeaveDir
// is not called for the folders on the way up. A stop text made non-empty
// (by a hook or by code a hook calls) ends the walk with 0 at the next entry;
// ActionOnLeaveDir is still called for every open folder.
#ifndef MARROWGATE_TRANSFER_DIR_SEARCH_H_
#define MARROWGATE_TRANSFER_DIR_SEARCH_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "package/file/file_system.h"
#include "util/hash_table.h"

namespace marrowgate {

class DirSearch {
 public:
  // `fs` is borrowed and must outlive the walker.
  explicit DirSearch(FileSystem* fs);
  virtual ~DirSearch();
  DirSearch(const DirSearch&) = delete;
  DirSearch& operator=(const DirSearch&) = delete;

  virtual void Release() { delete this; }

  // Hooks. Negative ends the walk, 0 or positive lets it go on.
  // A file that passed the filters; `name` has no folder part.
  virtual int32_t ActionOnFile(const char* name) = 0;
  // A sub-folder (not "." or ".."), before it is entered.
  virtual int32_t ActionOnDir(const char* name);
  // A folder, given its path, before it is listed.
  virtual int32_t ActionOnEnterDir(const char* path);
  // A folder, given its path, after all its entries were handled.
  virtual int32_t ActionOnLeaveDir(const char* path);

  // Walks `root` (sub-folders too when `recursive` is non-zero). Clears the
  // stop text first. 0 or a negative code (see above).
  int32_t Search(const char* root, uint8_t recursive);

  // Adds a bare file name that is never given to ActionOnFile (compared
  // exactly). 1 when added, 0 when already present, -1 when it cannot be
  // stored.
  int AddExcludedName(const char* name);

  // Replaces the excluded-suffix list by the entries of `text`, separated by
  // "|" (null or empty: no entries). A file whose name ends with any entry
  // is never given to ActionOnFile; an empty entry matches every name.
  // Returns false only when the text ends with "|"; the entries before it
  // are kept. The walker keeps its own copies of the entries.
  bool SetExcludedSuffixes(const char* text);

  // The stop text (borrowed, writable, may be null); see above.
  void SetStopText(char* stop) { stop_ = stop; }

  // Writes current folder, "/" and `name` into the entry-path buffer and
  // returns it; null (the buffer unchanged) when the result would be longer
  // than kMaxPath characters.
  const char* ComposeEntryPath(const char* name);

  // True when `name` passes both file filters.
  bool PassesFilters(const char* name);

  const char* CurrentFolder() const { return current_folder_.c_str(); }
  const char* EntryPath() const { return entry_path_.c_str(); }
  // Characters of the root given to the last Search.
  size_t RootLength() const { return root_length_; }
  // Folders currently open; 0 between walks.
  int Depth() const { return depth_; }
  FileSystem* FileSystemInUse() const { return fs_; }

  static constexpr int32_t kEnterDirFailed = -1;
  static constexpr int32_t kListingFailed = -2;
  static constexpr int32_t kLeaveDirFailed = -3;
  static constexpr int32_t kDirHookOffset = 100;
  static constexpr int32_t kFileHookOffset = 1000;

 private:
  int32_t Walk(const std::string& folder, uint8_t recursive);
  bool Stopped() const { return stop_ != nullptr && stop_[0] != '\0'; }
  bool MatchesSuffix(const char* name) const;

  FileSystem* fs_;
  char* stop_ = nullptr;
  size_t root_length_ = 0;
  std::string current_folder_;
  std::string entry_path_;
  int depth_ = 0;
  std::vector<std::string> excluded_suffixes_;
  StringHashSet excluded_names_;
};

}  // namespace marrowgate

#endif  // MARROWGATE_TRANSFER_DIR_SEARCH_H_
