// MemoryFileSystem: an in-memory FileSystem for the transfer tests, with
// switches that make single operations fail (Stat, Open, a read, a short
// write, a listing, folder creation, deletion) and a log of deletions.
// Listings yield ".", "..", then the children in the order they were added,
// then any raw entries added with AddRawEntry (e.g. a file named "..").
// Only for tests.
#ifndef MARROWGATE_TRANSFER_TESTING_MEMORY_FILE_SYSTEM_TESTING_H_
#define MARROWGATE_TRANSFER_TESTING_MEMORY_FILE_SYSTEM_TESTING_H_

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "package/file/file_system.h"

namespace marrowgate::testing_fs {

inline void SetEntryName(ListingEntry* entry, const char* name) {
  std::strncpy(entry->name, name, sizeof entry->name - 1);
}

struct Node {
  bool folder = false;
  std::string content;
  int32_t time = 0;
  bool readOnly = false;
  bool statFails = false;
  bool openFails = false;
  bool createFails = false;
  bool listFails = false;
  bool deleteFails = false;
  int readFailsAtCall = -1;   // the n-th Read (0-based) returns -1
  int64_t writeLimit = -1;    // writes beyond this many bytes come up short
  bool fakeSize = false;      // Stat and Size report `size` instead
  int32_t size = 0;
  std::vector<std::string> children;  // names in insertion order
  std::vector<ListingEntry> rawEntries;
};

class MemoryFileSystem : public FileSystem {
 public:
  MemoryFileSystem() { nodes_[""].folder = true; }

  // Adds a file (and its missing parent folders); returns its node.
  Node* AddFile(const std::string& path, const std::string& content, int32_t time = 0) {
    Node* node = Create(path, false);
    node->content = content;
    node->time = time;
    return node;
  }
  Node* AddFolder(const std::string& path) { return Create(path, true); }
  void AddRawEntry(const std::string& folder, bool isFolder, const char* name) {
    ListingEntry entry;
    entry.isFolder = isFolder ? 1 : 0;
    SetEntryName(&entry, name);
    nodes_.at(folder).rawEntries.push_back(entry);
  }
  Node* Find(const std::string& path) {
    auto it = nodes_.find(path);
    return it == nodes_.end() ? nullptr : &it->second;
  }
  bool HasFile(const std::string& path) {
    Node* node = Find(path);
    return node != nullptr && !node->folder;
  }
  std::string Content(const std::string& path) {
    Node* node = Find(path);
    return node == nullptr ? "<missing>" : node->content;
  }
  std::vector<std::string>& Log() { return log_; }
  size_t NodeCount() const { return nodes_.size(); }
  bool makeFolderFails = false;

  void Release() override { delete this; }

  VirtualFile* Open(const char* path, int mode) override;
  DirListing* OpenListing(const char* path) override;
  int MakeFolder(const char* path) override {
    if (makeFolderFails) return -2;
    Node* node = Find(path);
    if (node != nullptr) return node->folder ? 0 : -1;
    std::string parent = Parent(path);
    if (!parent.empty() && MakeFolder(parent.c_str()) < 0) return -1;
    Create(path, true);
    return 0;
  }
  int MakeParentFolder(const char* path) override {
    std::string parent = Parent(path);
    return parent.empty() ? 0 : MakeFolder(parent.c_str());
  }
  bool Exists(const char* path) override { return Find(path) != nullptr; }
  bool IsFolder(const char* path) override {
    Node* node = Find(path);
    return node != nullptr && node->folder;
  }
  int Stat(const char* path, FileInfo* info) override {
    Node* node = Find(path);
    if (node == nullptr || node->statFails) return -1;
    info->flags = (node->folder ? kFileInfoFolder : 0) | (node->readOnly ? kFileInfoReadOnly : 0);
    info->time = node->time;
    if (!node->folder)
      info->size = node->fakeSize ? node->size : static_cast<int32_t>(node->content.size());
    return 0;
  }
  int DeleteFile(const char* path) override {
    Node* node = Find(path);
    if (node == nullptr || node->folder || node->deleteFails) return -1;
    Remove(path);
    log_.push_back(std::string("file ") + path);
    return 0;
  }
  int DeleteFolder(const char* path) override {
    Node* node = Find(path);
    if (node == nullptr || !node->folder || !node->children.empty() || node->deleteFails)
      return -1;
    Remove(path);
    log_.push_back(std::string("folder ") + path);
    return 0;
  }

  static std::string Parent(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
  }

 private:
  Node* Create(const std::string& path, bool folder) {
    std::string parent = Parent(path);
    if (Find(parent) == nullptr) Create(parent, true);
    auto [it, added] = nodes_.try_emplace(path);
    if (added) {
      it->second.folder = folder;
      nodes_[parent].children.push_back(path.substr(parent.empty() ? 0 : parent.size() + 1));
    }
    return &it->second;
  }
  void Remove(const std::string& path) {
    std::string parent = Parent(path);
    std::string name = path.substr(parent.empty() ? 0 : parent.size() + 1);
    auto& siblings = nodes_[parent].children;
    siblings.erase(std::find(siblings.begin(), siblings.end(), name));
    nodes_.erase(path);
  }

  std::map<std::string, Node> nodes_;
  std::vector<std::string> log_;
};

class MemoryReadFile : public VirtualFile {
 public:
  explicit MemoryReadFile(Node* node) : node_(node) {}
  int32_t Size() override {
    return node_->fakeSize ? node_->size : static_cast<int32_t>(node_->content.size());
  }
  int32_t GetTime() override { return node_->time; }
  int32_t SetTime(int32_t) override { return -1; }
  int32_t Read(void* buffer, int32_t n) override {
    if (reads_++ == node_->readFailsAtCall) return -1;
    size_t left = node_->content.size() - position_;
    size_t count = std::min(left, static_cast<size_t>(n));
    std::memcpy(buffer, node_->content.data() + position_, count);
    position_ += count;
    return static_cast<int32_t>(count);
  }
  int32_t Seek(int64_t offset, int) override {
    position_ = static_cast<size_t>(offset);
    return 0;
  }
  bool AtEnd() override { return position_ >= node_->content.size(); }
  int64_t Tell() override { return static_cast<int64_t>(position_); }
  int32_t Write(const void*, int32_t) override { return -1; }
  int32_t Flush() override { return 0; }

 private:
  Node* node_;
  size_t position_ = 0;
  int reads_ = 0;
};

class MemoryWriteFile : public VirtualFile {
 public:
  explicit MemoryWriteFile(Node* node) : node_(node) { node_->content.clear(); }
  ~MemoryWriteFile() override {
    if (time_ != 0) node_->time = time_;
  }
  int32_t Size() override { return static_cast<int32_t>(node_->content.size()); }
  int32_t GetTime() override { return node_->time; }
  int32_t SetTime(int32_t seconds) override {
    time_ = seconds;
    return 0;
  }
  int32_t Read(void*, int32_t) override { return -1; }
  int32_t Seek(int64_t, int) override { return -1; }
  bool AtEnd() override { return true; }
  int64_t Tell() override { return static_cast<int64_t>(node_->content.size()); }
  int32_t Write(const void* buffer, int32_t n) override {
    int64_t room = node_->writeLimit < 0
                       ? n
                       : std::max<int64_t>(0, node_->writeLimit -
                                                  static_cast<int64_t>(node_->content.size()));
    int32_t count = static_cast<int32_t>(std::min<int64_t>(room, n));
    node_->content.append(static_cast<const char*>(buffer), static_cast<size_t>(count));
    return count;
  }
  int32_t Flush() override { return 0; }

 private:
  Node* node_;
  int32_t time_ = 0;
};

class MemoryListing : public DirListing {
 public:
  MemoryListing(std::string path, std::vector<ListingEntry> entries)
      : path_(std::move(path)), entries_(std::move(entries)) {}
  const char* BasePath() override { return path_.c_str(); }
  const ListingEntry* Next() override {
    return next_ < entries_.size() ? &entries_[next_++] : nullptr;
  }
  void Rewind() override { next_ = 0; }

 private:
  std::string path_;
  std::vector<ListingEntry> entries_;
  size_t next_ = 0;
};

inline VirtualFile* MemoryFileSystem::Open(const char* path, int mode) {
  Node* node = Find(path);
  if (mode == kOpenRead) {
    if (node == nullptr || node->folder || node->openFails) return nullptr;
    return new MemoryReadFile(node);
  }
  if (mode != kOpenCreate) return nullptr;
  if (node != nullptr && (node->folder || node->createFails)) return nullptr;
  Node* parent = Find(Parent(path));
  if (parent == nullptr || !parent->folder) return nullptr;
  if (node == nullptr) node = Create(path, false);
  return new MemoryWriteFile(node);
}

inline DirListing* MemoryFileSystem::OpenListing(const char* path) {
  Node* node = Find(path);
  if (node == nullptr || !node->folder || node->listFails) return nullptr;
  std::vector<ListingEntry> entries;
  for (const char* dots : {".", ".."}) {
    ListingEntry entry;
    entry.isFolder = 1;
    SetEntryName(&entry, dots);
    entries.push_back(entry);
  }
  std::string prefix = std::string(path) + (std::string(path).empty() ? "" : "/");
  for (const std::string& child : node->children) {
    ListingEntry entry;
    entry.isFolder = nodes_.at(prefix + child).folder ? 1 : 0;
    SetEntryName(&entry, child.c_str());
    entries.push_back(entry);
  }
  entries.insert(entries.end(), node->rawEntries.begin(), node->rawEntries.end());
  return new MemoryListing(path, std::move(entries));
}

}  // namespace marrowgate::testing_fs

#endif  // MARROWGATE_TRANSFER_TESTING_MEMORY_FILE_SYSTEM_TESTING_H_
