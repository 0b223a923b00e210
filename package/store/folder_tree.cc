#include "package/store/folder_tree.h"

#include <cstring>
#include <new>

#include "package/file/file_system.h"
#include "package/store/layout.h"
#include "util/hash_table.h"
#include "util/safe_path.h"
#include "util/byte_order.h"

namespace marrowgate {

bool IsValidEntryName(std::string_view name) {
  return name.size() <= static_cast<size_t>(kMaxPath) && IsSafePathComponent(name);
}

// ------------------------------------------------------------- name pool

template <class Entry>
class FoldedNameTable {
 public:
  // `exact`: names are equal only byte for byte (the hash still folds
  // case, so the buckets are those of the folded table).
  FoldedNameTable(const NamePool* pool, bool exact)
      : pool_(pool), exact_(exact), buckets_(kInitialBucketCount) {}
  ~FoldedNameTable() { Clear(); }

  Entry* Find(std::string_view name) const {
    for (Entry* e = buckets_[HashTextIgnoreCase(name) % buckets_.size()]; e; e = e->next)
      if (exact_ ? NameOf(*e) == name : EqualIgnoreCase(NameOf(*e), name)) return e;
    return nullptr;
  }
  // Takes the entry; false (entry deleted) when its name is present.
  bool Insert(Entry* entry) {
    const std::string_view name = NameOf(*entry);
    if (Find(name) != nullptr) {
      delete entry;
      return false;
    }
    const uint32_t wanted = BucketCountForInsert(static_cast<uint32_t>(count_),
                                                 static_cast<uint32_t>(buckets_.size()));
    if (wanted != buckets_.size()) {
      std::vector<Entry*> grown(wanted, nullptr);
      for (Entry* head : buckets_) {
        while (head) {
          Entry* next = head->next;
          Entry*& slot = grown[HashTextIgnoreCase(NameOf(*head)) % wanted];
          head->next = slot;
          slot = head;
          head = next;
        }
      }
      buckets_.swap(grown);
    }
    Entry*& head = buckets_[HashTextIgnoreCase(name) % buckets_.size()];
    entry->next = head;
    head = entry;
    ++count_;
    return true;
  }
  void Clear() {
    for (Entry*& head : buckets_) {
      while (head) {
        Entry* next = head->next;
        delete head;
        head = next;
      }
    }
    count_ = 0;
  }
  size_t size() const { return count_; }

 private:
  std::string_view NameOf(const Entry& entry) const {
    std::string_view name;
    pool_->NameAt(entry.offset, &name);
    return name;
  }

  const NamePool* pool_;
  bool exact_;
  std::vector<Entry*> buckets_;
  size_t count_ = 0;
};

struct NamePool::Entry {
  uint32_t offset = 0;
  Entry* next = nullptr;
};

// The pool shares a name only when it is spelled the same: sharing across
// case would hand one entry another entry's spelling ("Font.h" in one
// folder read back as "font.h" from another). Pools written either way
// read the same, since entries refer to names by offset.
NamePool::NamePool() : set_(std::make_unique<FoldedNameTable<Entry>>(this, /*exact=*/true)) {
  bytes_.reserve(4096);
}

NamePool::~NamePool() = default;

void NamePool::Clear() {
  set_->Clear();
  bytes_.clear();
}

bool NamePool::Load(std::vector<uint8_t> bytes) {
  Clear();
  bytes_ = std::move(bytes);
  try {
    if (!bytes_.empty() && bytes_.back() != 0) bytes_.push_back(0);
    size_t start = 0;
    for (size_t i = 0; i < bytes_.size(); ++i) {
      if (bytes_[i] != 0) continue;
      auto* entry = new (std::nothrow) Entry{static_cast<uint32_t>(start), nullptr};
      if (entry == nullptr || !set_->Insert(entry)) return false;
      start = i + 1;
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

uint32_t NamePool::Intern(std::string_view name, bool* added) {
  if (Entry* entry = set_->Find(name)) {
    *added = false;
    return entry->offset;
  }
  const uint32_t offset = static_cast<uint32_t>(bytes_.size());
  bytes_.insert(bytes_.end(), name.begin(), name.end());
  bytes_.push_back(0);
  set_->Insert(new Entry{offset, nullptr});
  *added = true;
  return offset;
}

int64_t NamePool::Find(std::string_view name) const {
  Entry* entry = set_->Find(name);
  return entry ? static_cast<int64_t>(entry->offset) : -1;
}

bool NamePool::NameAt(uint32_t offset, std::string_view* name) const {
  if (offset >= bytes_.size()) return false;
  const auto* start = reinterpret_cast<const char*>(bytes_.data()) + offset;
  // The pool always ends with a zero byte.
  *name = std::string_view(start, std::strlen(start));
  return true;
}

size_t NamePool::name_count() const { return set_->size(); }

// ---------------------------------------------------------------- folder

Folder::Folder(const NamePool* pool) : pool_(pool), buckets_(kInitialBucketCount, nullptr) {}

Folder::~Folder() {
  for (FolderNode*& head : buckets_) {
    while (head) {
      FolderNode* next = head->next;
      delete head;
      head = next;
    }
  }
}

std::string_view Folder::NameOf(const FolderNode& node) const {
  std::string_view name;
  pool_->NameAt(node.nameOffset, &name);
  return name;
}

uint32_t Folder::HashOf(const FolderNode& node) const { return HashTextIgnoreCase(NameOf(node)); }

FolderNode* Folder::Find(std::string_view name) {
  for (FolderNode* node = buckets_[HashTextIgnoreCase(name) % buckets_.size()]; node;
       node = node->next)
    if (EqualIgnoreCase(NameOf(*node), name)) return node;
  return nullptr;
}

FolderNode* Folder::Insert(uint32_t nameOffset, bool isFolder) {
  std::string_view name;
  if (!pool_->NameAt(nameOffset, &name) || Find(name) != nullptr) return nullptr;
  const uint32_t wanted = BucketCountForInsert(static_cast<uint32_t>(count_),
                                               static_cast<uint32_t>(buckets_.size()));
  if (wanted != buckets_.size()) {
    std::vector<FolderNode*> grown(wanted, nullptr);
    for (FolderNode* head : buckets_) {
      while (head) {
        FolderNode* next = head->next;
        FolderNode*& slot = grown[HashOf(*head) % wanted];
        head->next = slot;
        slot = head;
        head = next;
      }
    }
    buckets_.swap(grown);
  }
  auto* node = new FolderNode;
  node->nameOffset = nameOffset;
  node->isFolder = isFolder;
  if (isFolder) node->children = std::make_unique<Folder>(pool_);
  FolderNode*& head = buckets_[HashTextIgnoreCase(name) % buckets_.size()];
  node->next = head;
  head = node;
  ++count_;
  return node;
}

bool Folder::Remove(std::string_view name) {
  FolderNode** link = &buckets_[HashTextIgnoreCase(name) % buckets_.size()];
  for (; *link; link = &(*link)->next) {
    if (EqualIgnoreCase(NameOf(**link), name)) {
      FolderNode* dead = *link;
      *link = dead->next;
      delete dead;
      --count_;
      return true;
    }
  }
  return false;
}

// --------------------------------------------------------- tree records

namespace {

enum Tag : uint8_t { kTagFile = 1, kTagFolder = 2, kTagEnd = 3 };

void PutWord(std::vector<uint8_t>* out, uint32_t value) {
  uint8_t bytes[4];
  StoreLe32(value, bytes);
  out->insert(out->end(), bytes, bytes + 4);
}

}  // namespace

int ParseFolderTree(const uint8_t* data, size_t size, const NamePool& pool, Folder* root) {
  std::vector<Folder*> levels{root};
  size_t at = 0;
  auto nameOf = [&](uint32_t offset, std::string_view* name) -> int {
    if (!pool.NameAt(offset, name)) return kTreeBadNameOffset;
    return IsValidEntryName(*name) ? 0 : kTreeBadName;
  };
  while (at < size) {
    const uint8_t tag = data[at++];
    Folder* current = levels.back();
    switch (tag) {
      case kTagFile: {
        if (size - at < 8) return kTreeShortRecord;
        const uint32_t offset = LoadLe32(data + at);
        const uint32_t firstBlock = LoadLe32(data + at + 4);
        at += 8;
        std::string_view name;
        if (const int code = nameOf(offset, &name)) return code;
        FolderNode* node = current->Insert(offset, false);
        if (node == nullptr) return kTreeDuplicateName;
        node->firstBlock = firstBlock;
        break;
      }
      case kTagFolder: {
        if (size - at < 4) return kTreeShortRecord;
        const uint32_t offset = LoadLe32(data + at);
        at += 4;
        std::string_view name;
        if (const int code = nameOf(offset, &name)) return code;
        if (levels.size() > static_cast<size_t>(kMaxFolderDepth)) return kTreeTooDeep;
        FolderNode* node = current->Insert(offset, true);
        if (node == nullptr) return kTreeDuplicateName;
        levels.push_back(node->children.get());
        break;
      }
      case kTagEnd:
        // The end of the root level ends the tree.
        if (levels.size() == 1) return 0;
        levels.pop_back();
        break;
      default:
        return kTreeBadTag;
    }
  }
  return 0;
}

namespace {

void WriteLevel(const Folder& folder, std::vector<uint8_t>* out) {
  folder.ForEach([&](const FolderNode& node) {
    if (node.isFolder) {
      out->push_back(kTagFolder);
      PutWord(out, node.nameOffset);
      // In-memory depth is bounded by the longest path that can name it.
      WriteLevel(*node.children, out);
      out->push_back(kTagEnd);
    } else {
      out->push_back(kTagFile);
      PutWord(out, node.nameOffset);
      PutWord(out, node.firstBlock);
    }
  });
}

}  // namespace

void WriteFolderTree(const Folder& root, std::vector<uint8_t>* out) { WriteLevel(root, out); }

}  // namespace marrowgate
