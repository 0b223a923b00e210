// The in-memory folder tree of a package and its name pool, with the
// reader and writer of the folder-tree records.
//
// NamePool: zero-terminated names, each spelling stored once (names that
// differ only in letter case are stored apart, so every entry keeps its own
// spelling); a name is referred to by the offset of its first byte.
//
// Folder: a hash table of nodes following the library's table rules
// (util/hash_table.h) with the case-insensitive hash: 17 buckets at first,
// grown before an insertion that would make the count exceed the buckets,
// new nodes at the front of their bucket. Iteration in bucket order, then
// chain order, is the order of the records on disk and of listings.
//
// Folder-tree records: tag 1, nameOffset, firstBlock (a file); tag 2,
// nameOffset (a sub-folder begins; its records follow); tag 3 (it ends).
// The root has no closing tag. All integers little-endian 32-bit.
#ifndef MARROWGATE_PACKAGE_STORE_FOLDER_TREE_H_
#define MARROWGATE_PACKAGE_STORE_FOLDER_TREE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace marrowgate {

// Deepest folder nesting accepted from a file (a path of kMaxPath
// characters cannot name anything deeper).
inline constexpr int kMaxFolderDepth = 130;

// True for a name an entry may have: 1 .. 259 bytes, not made of dots
// only ("." and ".." among them), and none of '/', '\\', ':' or a zero
// byte (util/safe_path.h's component rule).
bool IsValidEntryName(std::string_view name);

// A table of name offsets keyed by the names they refer to (compared
// without regard to ASCII case), following the library's table rules.
// Entries are owned by the table.
template <class Entry>
class FoldedNameTable;

class NamePool {
 public:
  NamePool();
  ~NamePool();
  NamePool(const NamePool&) = delete;
  NamePool& operator=(const NamePool&) = delete;

  // Replaces the pool by `bytes`: every zero byte ends a name starting after
  // the previous one (a missing final zero is supplied). False when a name
  // repeats an earlier one of the same spelling (a pool written by Intern
  // never does) or the set of names cannot be built; the bytes are kept,
  // the set then holds only the names before it.
  bool Load(std::vector<uint8_t> bytes);
  void Clear();

  // Offset of `name`, appending it when no name of the same spelling is
  // present (*added tells which). The name must be valid.
  uint32_t Intern(std::string_view name, bool* added);
  // Offset of `name`, or -1 when it is not in the pool.
  int64_t Find(std::string_view name) const;
  // The name starting at `offset`; false when the offset lies outside the
  // pool.
  bool NameAt(uint32_t offset, std::string_view* name) const;

  const std::vector<uint8_t>& bytes() const { return bytes_; }
  size_t name_count() const;

 private:
  struct Entry;
  std::vector<uint8_t> bytes_;
  std::unique_ptr<FoldedNameTable<Entry>> set_;
};

class Folder;

struct FolderNode {
  uint32_t nameOffset = 0;
  bool isFolder = false;
  uint32_t firstBlock = 0;           // files: first block of the item
  std::unique_ptr<Folder> children;  // folders
  FolderNode* next = nullptr;        // chain within the bucket
};

class Folder {
 public:
  explicit Folder(const NamePool* pool);
  ~Folder();
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  FolderNode* Find(std::string_view name);
  // Inserts a node named by the pool offset; null when the name is already
  // in this folder or the offset is not a name. A folder node gets an
  // empty child table.
  FolderNode* Insert(uint32_t nameOffset, bool isFolder);
  // Removes the node (and anything below it); false when absent.
  bool Remove(std::string_view name);

  size_t size() const { return count_; }
  size_t bucket_count() const { return buckets_.size(); }
  FolderNode* bucket(size_t index) const { return buckets_[index]; }
  std::string_view NameOf(const FolderNode& node) const;

  // Calls fn(node) in bucket order and chain order.
  template <class Fn>
  void ForEach(Fn&& fn) const {
    for (FolderNode* head : buckets_)
      for (FolderNode* node = head; node != nullptr; node = node->next) fn(*node);
  }

 private:
  uint32_t HashOf(const FolderNode& node) const;

  const NamePool* pool_;
  std::vector<FolderNode*> buckets_;
  size_t count_ = 0;
};

// Parse results besides 0.
enum FolderTreeCode : int {
  kTreeShortRecord = -1,
  kTreeDuplicateName = -3,
  kTreeBadTag = -200,
  kTreeBadNameOffset = -300,
  kTreeBadName = -301,
  kTreeTooDeep = -302,
};

// Reads the records into `root` (which should be empty). 0 or a
// FolderTreeCode. Never recurses; bounded by the stream and
// kMaxFolderDepth.
int ParseFolderTree(const uint8_t* data, size_t size, const NamePool& pool, Folder* root);
// Appends the records of `root`'s contents to `out`.
void WriteFolderTree(const Folder& root, std::vector<uint8_t>* out);

}  // namespace marrowgate

#endif  // MARROWGATE_PACKAGE_STORE_FOLDER_TREE_H_
