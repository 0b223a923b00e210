// The package's implementation, shared by the files that make it up:
// package.cc (opening, closing, the folder tree and item I/O) and
// package_free_space.cc (block allocation, freed chains and the commit that
// keeps every block accounted for, see free_record.h). Not for use outside
// the package store.
#ifndef MARROWGATE_PACKAGE_STORE_PACKAGE_IMPL_H_
#define MARROWGATE_PACKAGE_STORE_PACKAGE_IMPL_H_

#include <algorithm>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "package/seal/sealed_file.h"
#include "package/store/entry_file.h"
#include "package/store/folder_tree.h"
#include "package/store/free_record.h"
#include "package/store/layout.h"
#include "package/store/package.h"

namespace marrowgate {

// The largest file offset a package reaches (file sizes are 32-bit).
inline constexpr uint64_t kMaxPackageBytes = static_cast<uint64_t>(std::numeric_limits<int32_t>::max());

// The items a package has handed out and that are not yet released, and
// whether the package is still open; shared with its items and listings,
// which may be released after the package.
class PackageItem;
struct OpenItems {
  std::vector<PackageItem*> items;
  bool packageOpen = true;
};

// An item handed out by OpenItem: a sealed stream over its entry that
// leaves the package's list of open items when it is released (the list
// outlives the package, so an item may be released after it).
class PackageItem final : public SealedFile {
 public:
  PackageItem(std::shared_ptr<OpenItems> openItems, EntryFile* entry, int mode)
      : openItems_(std::move(openItems)), entry_(entry), mode_(mode) {
    openItems_->items.push_back(this);
  }
  EntryFile* entry() const { return entry_; }
  bool writable() const { return !IsReadOnlyMode(mode_); }

 protected:
  ~PackageItem() override {
    auto& items = openItems_->items;
    items.erase(std::remove(items.begin(), items.end(), this), items.end());
  }

 private:
  std::shared_ptr<OpenItems> openItems_;
  EntryFile* entry_;
  int mode_;
};

class PackageImpl : public BlockStore {
 public:
  PackageImpl() : itemFailure_(std::make_shared<int>(0)) {}
  ~PackageImpl() override { Close(); }

  int Open(const PackageParams& params);
  int Close();
  VirtualFile* OpenItem(const char* path, int mode, uint32_t* firstBlock);
  int ReadSealedItem(const char* path, size_t limit, std::vector<uint8_t>* stream);
  int WriteSealedItem(const char* path, const uint8_t* stream, size_t size);
  int Stat(const char* path, FileInfo* info);
  void LearnItemHeaders(const std::vector<ItemHeaderFacts>& headers);
  int MakeFolder(const char* path);
  int Delete(const char* path);
  DirListing* List(const char* path);

  bool IsOpen() const { return open_; }
  const PackageParams& Params() const { return params_; }

  // BlockStore
  uint32_t BlockSize() const override { return header_.blockSize; }
  uint32_t BlockCount() const override { return header_.blockCount; }
  bool ReadOnly() const override { return IsReadOnlyMode(params_.mode); }
  bool ReadAt(uint64_t offset, void* buffer, size_t n) override;
  bool WriteAt(uint64_t offset, const void* buffer, size_t n) override;
  uint32_t AllocateBlock() override;
  uint32_t AllocateRun(uint32_t count) override;
  void ReportFailure(int code) override {
    if (*itemFailure_ == 0) *itemFailure_ = code;
  }

 private:
  // The outcome of looking a path up.
  struct Lookup {
    enum Kind { kHit, kMiss, kError } kind = kError;
    Folder* folder = nullptr;     // hit: the parent folder; miss: where it stops
    FolderNode* node = nullptr;   // hit: the node (null for the root)
    std::vector<std::string> parts;
    size_t missing = 0;           // miss: index of the first missing part
  };

  Lookup Find(const char* path);
  // The chain of the file at `path` opened in `mode` (made, or made anew,
  // in kOpenCreate), its first block stored through `firstBlock`; null on
  // failure.
  EntryFile* OpenEntry(const char* path, int mode, uint32_t* firstBlock);
  // Creates the missing parts of a miss; the last one a file when
  // `leafIsFile`. Null on failure (an invalid name, a clash).
  FolderNode* CreateRemainder(const Lookup& lookup, bool leafIsFile);
  uint32_t AppendBlock();
  int FreeChain(uint32_t firstBlock);
  int DeleteContents(Folder* folder);
  int CreateSystemItem(uint32_t* block);
  int LoadSystemItem(uint32_t block, std::vector<uint8_t>* content);
  int SaveSystemItem(uint32_t block, const std::vector<uint8_t>& content);
  int Save();
  // The writing session's commit (update mode): the tree and names go to
  // new chains, the free blocks of the new state are listed in a record
  // run, and one header write switches from the old state to the new one.
  int Commit();
  // Makes the committed free blocks known and usable: a record run at the
  // head is taken as it is; a plain free list is first listed in records
  // kept in its own first blocks. False when the records cannot be
  // written.
  bool TakeFreeList();
  // Turns `listed` then `run` into a plain free list (links rewritten,
  // record magic cleared) and writes the header naming it. Safe once the
  // committed header no longer relies on the links of these blocks.
  int Finalize(const std::vector<uint32_t>& listed, const std::vector<uint32_t>& run);
  int WriteHeader();
  bool FlushFile() {
    if (params_.file->Flush() == 0) return true;
    writeFailed_ = true;
    return false;
  }
  // WriteAt as a PackageWriter.
  PackageWriter Writer() {
    return [this](uint64_t offset, const void* buffer, size_t n) { return WriteAt(offset, buffer, n); };
  }
  // Appends the blocks of the chain at `firstBlock` to `blocks`; false
  // when the chain is broken.
  bool CollectChain(uint32_t firstBlock, std::vector<uint32_t>* blocks);
  SealParams ItemSealParams(int mode, EntryFile* entry);
  void ReleaseFile();

  PackageParams params_;
  bool open_ = false;
  bool used_ = false;
  bool fileReleased_ = false;
  PackageHeader header_;
  // The header as last read or written: what a crash would leave.
  PackageHeader committed_;
  // The session's view of free space. `reusable_`: free in the committed
  // state and not referenced by it through links, so a new chain may take
  // them. `pending_`: blocks the committed state still uses (chains freed
  // in this session, the committed record run); free after the commit.
  bool freeListTaken_ = false;
  std::deque<uint32_t> reusable_;
  std::vector<uint32_t> pending_;
  // The record run the committed header relies on (kept out of reuse).
  std::vector<uint32_t> committedRun_;
  bool headerDirty_ = false;
  // A write or flush of the package file failed during the session.
  bool writeFailed_ = false;
  bool treeDirty_ = false;
  bool namesDirty_ = false;
  NamePool pool_;
  std::unique_ptr<Folder> root_;
  // First failure of sealing or closing an item since the open.
  std::shared_ptr<int> itemFailure_;
  std::shared_ptr<OpenItems> openItems_ = std::make_shared<OpenItems>();
  // What Stat read of an item of a read-only package (its sealed-stream
  // header's time and plain size), by the item's first block: a path is
  // often asked about more than once in a run, and nothing changes here.
  struct ItemFacts {
    uint32_t time = 0;
    uint32_t plainSize = 0;
    uint32_t itemBytes = 0;  // the chain's content; 0 when not known
  };
  std::unordered_map<uint32_t, ItemFacts> itemFacts_;
};


}  // namespace marrowgate

#endif  // MARROWGATE_PACKAGE_STORE_PACKAGE_IMPL_H_
