#include "package/store/package.h"

#include "package/store/package_impl.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "package/store/entry_file.h"
#include "package/store/folder_tree.h"
#include "package/store/free_record.h"
#include "package/store/layout.h"
#include "package/seal/sealed_file.h"
#include "util/md5.h"
#include "util/releaser.h"
#include "util/scan_fields.h"

namespace marrowgate {

bool SetPackageKeyA(PackageParams* params, const void* key, int length) {
  if (params == nullptr || length < 0 || length > static_cast<int>(sizeof(params->keyA)) ||
      (key == nullptr && length > 0))
    return false;
  if (length > 0) std::memcpy(params->keyA, key, static_cast<size_t>(length));
  params->keyALen = length;
  return true;
}

bool SetPackageKeyB(PackageParams* params, const void* key, int length) {
  if (params == nullptr || length < 0 || length > static_cast<int>(sizeof(params->keyB)) ||
      (key == nullptr && length > 0))
    return false;
  if (length > 0) std::memcpy(params->keyB, key, static_cast<size_t>(length));
  params->keyBLen = length;
  return true;
}

bool SetPackageName(PackageParams* params, const char* name) {
  if (params == nullptr || name == nullptr) return false;
  try {
    params->name = name;
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

namespace {

// Splits a path into its components at '/' and '\\' (each trimmed of
// whitespace); empty components are skipped.
bool SplitPath(const char* path, std::vector<std::string>* parts) {
  parts->clear();
  if (path == nullptr) return false;
  const std::string_view text(path);
  if (text.size() > static_cast<size_t>(kMaxPath)) return false;
  size_t cursor = 0;
  std::string part;
  while (cursor < text.size()) {
    const size_t before = cursor;
    if (ScanFieldsAt(&cursor, "s", text, "\x01/\\", &part) != 1 || cursor <= before) break;
    if (!part.empty()) parts->push_back(part);
  }
  return true;
}

// A listing of one folder of an open package: its entries in bucket order
// and chain order, as they were when the listing was made, so that the
// folder may change (entries deleted while a walk goes through it) without
// the listing reaching freed nodes. It ends when the package closes.
class PackageListing : public DirListing {
 public:
  PackageListing(std::string basePath, const Folder& folder,
                 std::shared_ptr<const OpenItems> package)
      : basePath_(std::move(basePath)), package_(std::move(package)) {
    entries_.reserve(folder.size());
    folder.ForEach([&](const FolderNode& node) {
      ListingEntry entry;
      entry.isFolder = node.isFolder ? 1 : 0;
      SetListingName(&entry, std::string(folder.NameOf(node)).c_str());
      entry.value = node.isFolder ? 0 : node.firstBlock;
      entries_.push_back(entry);
    });
  }
  const char* BasePath() override { return basePath_.c_str(); }
  const ListingEntry* Next() override {
    if (!package_->packageOpen || next_ >= entries_.size()) return nullptr;
    entry_ = entries_[next_++];
    return &entry_;
  }
  void Rewind() override { next_ = 0; }

 private:
  std::string basePath_;
  std::shared_ptr<const OpenItems> package_;
  std::vector<ListingEntry> entries_;
  size_t next_ = 0;
  ListingEntry entry_;
};

}  // namespace

// --------------------------------------------------------------- file I/O

bool PackageImpl::ReadAt(uint64_t offset, void* buffer, size_t n) {
  if (offset + n > kMaxPackageBytes) return false;
  return params_.file->ReadExactlyAt(static_cast<int64_t>(offset), buffer, n);
}

bool PackageImpl::WriteAt(uint64_t offset, const void* buffer, size_t n) {
  if (ReadOnly()) return false;
  VirtualFile* file = params_.file;
  const bool written = offset + n <= kMaxPackageBytes &&
                       file->Seek(static_cast<int64_t>(offset), 0) >= 0 &&
                       file->WriteExactly(buffer, n);
  // A session in which a write failed is not committed.
  if (!written) writeFailed_ = true;
  return written;
}

int PackageImpl::WriteHeader() {
  uint8_t bytes[kPackageHeaderSize];
  EncodePackageHeader(header_, bytes);
  if (params_.file->Seek(0, 0) < 0) return -1;
  if (!WriteAt(0, bytes, sizeof(bytes))) return -2;
  if (!FlushFile()) return -3;
  committed_ = header_;
  headerDirty_ = false;
  return 0;
}

void PackageImpl::ReleaseFile() {
  if (params_.ownFile && params_.file != nullptr && !fileReleased_) params_.file->Release();
  fileReleased_ = true;
}

// ---------------------------------------------------------- system items

SealParams PackageImpl::ItemSealParams(int mode, EntryFile* entry) {
  SealParams seal;
  seal.mode = mode;
  seal.file = entry;
  CopyCodecs(params_, &seal);
  seal.ownFile = true;
  std::shared_ptr<int> failure = itemFailure_;
  seal.sealFailed = [failure](int code) {
    if (*failure == 0) *failure = code;
  };
  return seal;
}

int PackageImpl::CreateSystemItem(uint32_t* block) {
  auto* entry = new (std::nothrow) EntryFile(this);
  if (entry == nullptr) return -1;
  Owned<EntryFile> owned(entry);
  return entry->Open(kOpenCreate, block) < 0 ? -2 : 0;
}

// Reads the whole plain content of a system item: -1 no item object, -2
// item open failed, -3 no sealed object, -4 unseal failed, -5 short read.
int PackageImpl::LoadSystemItem(uint32_t block, std::vector<uint8_t>* content) {
  auto* entry = new (std::nothrow) EntryFile(this);
  if (entry == nullptr) return -1;
  uint32_t first = block;
  if (entry->Open(kOpenRead, &first) < 0) {
    entry->Release();
    return -2;
  }
  auto* sealed = new (std::nothrow) SealedFile;
  if (sealed == nullptr) {
    entry->Release();
    return -3;
  }
  Owned<SealedFile> owner(sealed);
  if (sealed->Open(ItemSealParams(kOpenRead, entry)) < 0) return -4;
  content->assign(static_cast<size_t>(sealed->Size()), 0);
  if (!content->empty() &&
      sealed->Read(content->data(), static_cast<int32_t>(content->size())) != sealed->Size())
    return -5;
  return 0;
}

// Rewrites a system item with the compressor and key A only: -1 no item
// object, -2 item unreadable, -3 no sealed object, -4 sealed open failed,
// -5 short write, -6 seal failed, -7 entry header not written.
int PackageImpl::SaveSystemItem(uint32_t block, const std::vector<uint8_t>& content) {
  auto* entry = new (std::nothrow) EntryFile(this);
  if (entry == nullptr) return -1;
  Owned<EntryFile> entryOwner(entry);
  uint32_t first = block;
  if (entry->Open(kOpenUpdate, &first) < 0) return -2;
  auto* sealed = new (std::nothrow) SealedFile;
  if (sealed == nullptr) return -3;
  Owned<SealedFile> sealedOwner(sealed);
  SealParams seal = ItemSealParams(kOpenCreate, entry);
  seal.cipherBEnc = nullptr;
  seal.cipherBDec = nullptr;
  seal.ownFile = false;
  seal.sealFailed = nullptr;
  if (sealed->Open(seal) < 0) return -4;
  if (!content.empty() &&
      sealed->Write(content.data(), static_cast<int32_t>(content.size())) !=
          static_cast<int32_t>(content.size()))
    return -5;
  if (sealed->Seal() < 0) return -6;
  sealedOwner.reset();
  if (entry->Close() < 0) return -7;
  return 0;
}

// -------------------------------------------------------------- opening

int PackageImpl::Open(const PackageParams& params) {
  itemFacts_.clear();
  if (open_ || used_) return kPackageReused;
  used_ = true;
  params_ = params;
  if (params_.file == nullptr) return kPackageBadParams;
  if (!IsValidOpenMode(params_.mode) || params_.keyALen < 0 ||
      params_.keyALen > static_cast<int>(sizeof(params_.keyA)) || params_.keyBLen < 0 ||
      params_.keyBLen > static_cast<int>(sizeof(params_.keyB))) {
    ReleaseFile();
    return kPackageBadParams;
  }
  if (params_.file->Seek(0, 0) < 0) {
    ReleaseFile();
    return kPackageCannotSeek;
  }
  open_ = true;

  uint8_t keyDigest[16];
  Md5Digest(params_.keyA, static_cast<size_t>(std::max(params_.keyALen, 0)), keyDigest);
  if (params_.keyALen < 1) {
    params_.cipherAEnc = nullptr;
    params_.cipherADec = nullptr;
  } else {
    if (params_.cipherAEnc) params_.cipherAEnc->SetEncryptKey(params_.keyA, params_.keyALen);
    if (params_.cipherADec) params_.cipherADec->SetDecryptKey(params_.keyA, params_.keyALen);
  }
  if (params_.keyBLen < 1) {
    params_.cipherBEnc = nullptr;
    params_.cipherBDec = nullptr;
  } else {
    if (params_.cipherBEnc) params_.cipherBEnc->SetEncryptKey(params_.keyB, params_.keyBLen);
    if (params_.cipherBDec) params_.cipherBDec->SetDecryptKey(params_.keyB, params_.keyBLen);
  }

  int code = 0;
  if (params_.mode == kOpenCreate) {
    if (params_.blockSize < static_cast<int>(kMinBlockSize) ||
        params_.blockSize > static_cast<int>(kMaxBlockSize)) {
      code = kPackageBadBlockSize;
    } else {
      header_ = NewPackageHeader(static_cast<uint32_t>(params_.blockSize), keyDigest);
      header_.blockCount = 1;
      const uint8_t zero = 0;
      pool_.Clear();
      if (!WriteAt(header_.blockSize - 1, &zero, 1)) {
        code = kPackageBadBlockSize;
      } else if (const int tree = CreateSystemItem(&header_.dirBlock); tree < 0) {
        code = tree == -1 ? kPackageNoTreeObject : kPackageTreeNotWritten;
      } else if (root_.reset(new (std::nothrow) Folder(&pool_)); root_ == nullptr) {
        code = kPackageNoRootTable;
      } else if (const int names = CreateSystemItem(&header_.namesBlock); names < 0) {
        code = names == -1 ? kPackageNoNamesObject : kPackageNamesNotWritten;
      } else {
        headerDirty_ = treeDirty_ = namesDirty_ = true;
      }
    }
  } else {
    uint8_t bytes[kPackageHeaderSize];
    if (!ReadAt(0, bytes, sizeof(bytes))) {
      code = kPackageShortHeader;
    } else if (!DecodePackageHeader(bytes, &header_) || header_.blockSize < kMinBlockSize ||
               header_.blockSize > kMaxBlockSize) {
      code = kPackageBadHeader;
    } else if (std::memcmp(header_.keyDigest, keyDigest, 16) != 0) {
      code = kPackageWrongKey;
    } else {
      // The blocks the header counts must be in the file (checkSize asks
      // for the exact length).
      const int64_t length = params_.file->Size();
      const uint64_t blocksInFile =
          length <= 0 ? 0
                      : (static_cast<uint64_t>(length) + header_.blockSize - 1) / header_.blockSize;
      if (header_.blockCount > blocksInFile ||
          (params_.checkSize &&
           static_cast<uint64_t>(length) / header_.blockSize != header_.blockCount)) {
        code = kPackageMissingBlocks;
      }
    }
    if (code == 0) {
      committed_ = header_;
      // A run of free records left by an interrupted session: the listed
      // blocks are free and may be used again; the run itself waits for
      // the next commit.
      if (params_.mode == kOpenUpdate && header_.freeHead != 0) {
        std::vector<uint32_t> run, listed;
        PackageReader reader = [this](uint64_t offset, void* buffer, size_t n) {
          return ReadAt(offset, buffer, n);
        };
        if (ReadFreeRecordRun(reader, header_, &run, &listed)) {
          committedRun_ = run;
          pending_ = run;
          reusable_.assign(listed.begin(), listed.end());
          freeListTaken_ = true;
        }
      }
      std::vector<uint8_t> names;
      if (const int c = LoadSystemItem(header_.namesBlock, &names); c < 0) {
        code = kPackageNamesItemOffset + c;
      } else if (!pool_.Load(std::move(names))) {
        code = kPackageNamesRepeated;
      } else {
        std::vector<uint8_t> tree;
        // One chain cannot hold both system items.
        const int t = header_.dirBlock == header_.namesBlock
                          ? -2
                          : LoadSystemItem(header_.dirBlock, &tree);
        if (t < 0) {
          // A records stream that reads short is a tree that cannot be
          // parsed.
          code = t == -5 ? kPackageBadTree : kPackageTreeItemOffset + t;
        } else if (root_.reset(new (std::nothrow) Folder(&pool_)); root_ == nullptr) {
          code = kPackageNoRoot;
        } else {
          const int parsed = ParseFolderTree(tree.data(), tree.size(), pool_, root_.get());
          if (parsed == kTreeBadName) code = kPackageUnreachableName;
          else if (parsed < 0) code = kPackageBadTree;
        }
      }
    }
  }
  if (code < 0) {
    // Unusable: nothing is saved when it is destroyed.
    open_ = false;
    root_.reset();
    pool_.Clear();
    ReleaseFile();
  }
  return code;
}

// -------------------------------------------------------------- closing

int PackageImpl::Save() {
  int first = 0;
  if (namesDirty_) {
    const int code = SaveSystemItem(header_.namesBlock, pool_.bytes());
    if (code < 0 && first == 0) first = kPackageNamesSaveOffset + code;
    namesDirty_ = false;
  }
  if (treeDirty_) {
    std::vector<uint8_t> records;
    WriteFolderTree(*root_, &records);
    const int code = SaveSystemItem(header_.dirBlock, records);
    if (code < 0 && first == 0) first = kPackageTreeSaveOffset + code;
    treeDirty_ = false;
  }
  return first;
}

int PackageImpl::Close() {
  if (!open_) {
    ReleaseFile();
    return 0;
  }
  // Items still open are sealed now and let go of the package: their
  // blocks must be in place before the tree and header are saved, and the
  // package file is gone once the package closes.
  std::vector<PackageItem*> stillOpen;
  stillOpen.swap(openItems_->items);
  for (PackageItem* item : stillOpen) {
    if (!ReadOnly()) {
      if (const int code = item->Seal(); code < 0) ReportFailure(code);
    }
    item->Detach();  // the codecs may go with the package
    if (const int code = item->entry()->Detach(); code < 0) ReportFailure(code);
  }
  int first = *itemFailure_;
  if (params_.mode == kOpenCreate) {
    // A new package: nothing on disk to keep, the header written last
    // makes the file a package.
    const int saved = Save();
    if (first == 0) first = saved;
    if (!pending_.empty()) {
      if (const int code = Finalize(pending_, {}); code < 0 && first == 0) first = code;
      pending_.clear();
    }
    if (headerDirty_) {
      const int code = WriteHeader();
      if (first == 0) first = code;
    }
  } else if (!ReadOnly()) {
    // A session in which an item or any write failed is never committed:
    // the package stays as it was opened.
    if (first == 0 && writeFailed_) first = kPackageSessionFailed;
    if (first == 0) {
      if (namesDirty_ || treeDirty_ || headerDirty_ || !pending_.empty()) {
        first = Commit();
      } else if (!committedRun_.empty()) {
        // Nothing changed, but the package was left with a record run by
        // an interrupted session: give it a plain free list again.
        std::vector<uint32_t> listed(reusable_.begin(), reusable_.end());
        first = Finalize(listed, committedRun_);
      }
    }
  }
  openItems_->packageOpen = false;
  root_.reset();
  pool_.Clear();
  ReleaseFile();
  open_ = false;
  return first;
}

// --------------------------------------------------------------- lookup

PackageImpl::Lookup PackageImpl::Find(const char* path) {
  Lookup result;
  if (!SplitPath(path, &result.parts)) return result;
  Folder* folder = root_.get();
  for (size_t i = 0; i < result.parts.size(); ++i) {
    FolderNode* node = folder->Find(result.parts[i]);
    if (node == nullptr) {
      result.kind = Lookup::kMiss;
      result.folder = folder;
      result.missing = i;
      return result;
    }
    if (i + 1 == result.parts.size()) {
      result.kind = Lookup::kHit;
      result.folder = folder;
      result.node = node;
      return result;
    }
    if (!node->isFolder) return result;  // a file in the middle of the path
    folder = node->children.get();
  }
  result.kind = Lookup::kHit;  // the root
  result.folder = folder;
  return result;
}

FolderNode* PackageImpl::CreateRemainder(const Lookup& lookup, bool leafIsFile) {
  for (size_t i = lookup.missing; i < lookup.parts.size(); ++i)
    if (!IsValidEntryName(lookup.parts[i])) return nullptr;
  Folder* folder = lookup.folder;
  FolderNode* node = nullptr;
  for (size_t i = lookup.missing; i < lookup.parts.size(); ++i) {
    bool added = false;
    const uint32_t offset = pool_.Intern(lookup.parts[i], &added);
    if (added) namesDirty_ = true;
    const bool isFile = leafIsFile && i + 1 == lookup.parts.size();
    node = folder->Insert(offset, !isFile);
    if (node == nullptr) return nullptr;
    treeDirty_ = true;
    if (!isFile) folder = node->children.get();
  }
  return node;
}

// ----------------------------------------------------------- operations

VirtualFile* PackageImpl::OpenItem(const char* path, int mode, uint32_t* firstBlock) {
  uint32_t first = 0;
  EntryFile* entry = OpenEntry(path, mode, &first);
  if (entry == nullptr) return nullptr;
  PackageItem* sealed = nullptr;
  try {
    sealed = new PackageItem(openItems_, entry, mode);
  } catch (const std::bad_alloc&) {
    entry->Release();
    return nullptr;
  }
  if (sealed->Open(ItemSealParams(mode, entry)) < 0) {
    sealed->Release();  // releases the entry
    return nullptr;
  }
  if (firstBlock != nullptr) *firstBlock = first;
  return sealed;
}

EntryFile* PackageImpl::OpenEntry(const char* path, int mode, uint32_t* firstBlock) {
  if (!open_) return nullptr;
  if (ReadOnly() && !IsReadOnlyMode(mode)) return nullptr;
  Lookup lookup = Find(path);
  if (lookup.kind == Lookup::kError || !IsValidOpenMode(mode)) return nullptr;
  FolderNode* node = lookup.node;
  Folder* parent = lookup.folder;
  if (mode == kOpenCreate) {
    if (lookup.kind == Lookup::kHit) {
      if (node == nullptr || node->isFolder) return nullptr;
      if (FreeChain(node->firstBlock) < 0) return nullptr;
      node->firstBlock = 0;
    } else {
      node = CreateRemainder(lookup, true);
      if (node == nullptr) return nullptr;
      // The new leaf's parent: walk again (creation may have made folders).
      Lookup again = Find(path);
      parent = again.folder;
    }
    treeDirty_ = true;
  } else if (lookup.kind != Lookup::kHit || node == nullptr || node->isFolder) {
    return nullptr;
  }

  auto* entry = new (std::nothrow) EntryFile(this);
  if (entry == nullptr) return nullptr;
  uint32_t first = node->firstBlock;
  if (ReadOnly() && !itemFacts_.empty()) {
    auto known = itemFacts_.find(first);
    if (known != itemFacts_.end()) entry->ExpectItemBytes(known->second.itemBytes);
  }
  if (entry->Open(mode, &first) < 0) {
    entry->Release();
    // A file whose new chain could not be made does not stay in the tree.
    if (mode == kOpenCreate) parent->Remove(parent->NameOf(*node));
    return nullptr;
  }
  if (mode == kOpenCreate) node->firstBlock = first;
  *firstBlock = first;
  // An item of a read-only package is read whole by its callers.
  entry->SetReadAhead(ReadOnly());
  return entry;
}

int PackageImpl::ReadSealedItem(const char* path, size_t limit, std::vector<uint8_t>* stream) {
  stream->clear();
  uint32_t first = 0;
  if (path == nullptr) return -1;
  Owned<EntryFile> entry(OpenEntry(path, kOpenRead, &first));
  if (!entry) return -1;
  const int32_t size = entry->Size();
  if (size < 0) return -2;
  if (static_cast<size_t>(size) > limit) return 1;
  try {
    stream->resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    return -2;
  }
  if (!entry->ReadExactly(stream->data(), stream->size())) {
    stream->clear();
    return -2;
  }
  // What Stat would read of the item, known now without another read.
  SealHeader header;
  if (ReadOnly() && stream->size() >= kSealHeaderSize && DecodeSealHeader(stream->data(), &header)) {
    try {
      itemFacts_.emplace(first, ItemFacts{header.time, header.plainSize});
    } catch (const std::bad_alloc&) {
    }
  }
  return 0;
}

int PackageImpl::WriteSealedItem(const char* path, const uint8_t* stream, size_t size) {
  if (!open_ || ReadOnly() || path == nullptr || (stream == nullptr && size != 0)) return -1;
  SealHeader header;
  if (size < kSealHeaderSize || !DecodeSealHeader(stream, &header) ||
      size - kSealHeaderSize != header.storedSize)
    return -2;
  uint32_t first = 0;
  Owned<EntryFile> entry(OpenEntry(path, kOpenCreate, &first));
  if (!entry) return -1;
  // Header and stored bytes are written as a seal writes them.
  const size_t parts[2][2] = {{0, kSealHeaderSize}, {kSealHeaderSize, size - kSealHeaderSize}};
  for (const auto& part : parts) {
    if (!entry->WriteExactly(stream + part[0], part[1])) {
      ReportFailure(part[0] == 0 ? -11 : -12);
      return -3;
    }
  }
  if (entry->Close() < 0) {
    ReportFailure(-12);
    return -3;
  }
  return 0;
}

int PackageImpl::Stat(const char* path, FileInfo* info) {
  if (info == nullptr) return -1;
  info->flags = 0;
  if (!open_) return -1;
  Lookup lookup = Find(path);
  if (lookup.kind != Lookup::kHit) return -1;
  if (lookup.node == nullptr || lookup.node->isFolder) {
    info->flags |= kFileInfoFolder;
    info->time = 0;
    return 0;
  }
  uint32_t first = lookup.node->firstBlock;
  if (ReadOnly()) {
    auto known = itemFacts_.find(first);
    if (known != itemFacts_.end()) {
      info->time = static_cast<int32_t>(known->second.time);
      info->size = static_cast<int32_t>(known->second.plainSize);
      return 0;
    }
  }
  auto* entry = new (std::nothrow) EntryFile(this);
  if (entry == nullptr) return -31;
  Owned<EntryFile> owner(entry);
  if (entry->Open(kOpenRead, &first) < 0) return -31;
  SealHeader header;
  if (ReadSealHeader(entry, &header) < 0) return -41;
  info->time = static_cast<int32_t>(header.time);
  info->size = static_cast<int32_t>(header.plainSize);
  if (ReadOnly()) {
    try {
      itemFacts_[first] = ItemFacts{header.time, header.plainSize};
    } catch (...) {
      // Not kept: read again next time.
    }
  }
  return 0;
}

void PackageImpl::LearnItemHeaders(const std::vector<ItemHeaderFacts>& headers) {
  if (!open_ || !ReadOnly()) return;
  try {
    itemFacts_.reserve(itemFacts_.size() + headers.size());
    for (const ItemHeaderFacts& header : headers)
      itemFacts_.emplace(header.firstBlock,
                         ItemFacts{header.time, header.plainSize, header.itemBytes});
  } catch (const std::bad_alloc&) {
    // Those not kept are read when asked for.
  }
}

int PackageImpl::MakeFolder(const char* path) {
  if (!open_ || ReadOnly()) return -1;
  Lookup lookup = Find(path);
  switch (lookup.kind) {
    case Lookup::kHit:
      return lookup.node == nullptr || lookup.node->isFolder ? 0 : -2;
    case Lookup::kMiss:
      return CreateRemainder(lookup, false) == nullptr ? -11 : 0;
    default:
      return -100;
  }
}

// Frees every chain below `folder` and removes its nodes.
int PackageImpl::DeleteContents(Folder* folder) {
  std::vector<std::string> names;
  folder->ForEach([&](const FolderNode& node) { names.emplace_back(folder->NameOf(node)); });
  for (const std::string& name : names) {
    FolderNode* node = folder->Find(name);
    if (node == nullptr) return -3;
    if (node->isFolder) {
      if (DeleteContents(node->children.get()) < 0) return -1;
    } else if (FreeChain(node->firstBlock) < 0) {
      return -2;
    }
    if (!folder->Remove(name)) return -3;
  }
  return 0;
}

int PackageImpl::Delete(const char* path) {
  if (!open_ || ReadOnly()) return -1;
  Lookup lookup = Find(path);
  // The root is not an item that can be deleted.
  if (lookup.kind != Lookup::kHit || lookup.node == nullptr) return -2;
  FolderNode* node = lookup.node;
  if (node->isFolder) {
    const int code = DeleteContents(node->children.get());
    treeDirty_ = true;
    if (code < 0) return code - 100;
  } else if (FreeChain(node->firstBlock) < 0) {
    return -11;
  }
  treeDirty_ = true;
  if (!lookup.folder->Remove(lookup.folder->NameOf(*node))) return -31;
  return 0;
}

DirListing* PackageImpl::List(const char* path) {
  if (!open_) return nullptr;
  Lookup lookup = Find(path);
  if (lookup.kind != Lookup::kHit) return nullptr;
  const Folder* folder = lookup.node == nullptr ? root_.get() : nullptr;
  if (lookup.node != nullptr) {
    if (!lookup.node->isFolder) return nullptr;
    folder = lookup.node->children.get();
  }
  std::string base = params_.name + "/" + (path ? path : "");
  try {
    return new PackageListing(std::move(base), *folder, openItems_);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

// ------------------------------------------------------- public wrapper

Package::Package() : impl_(new PackageImpl) {}
Package::~Package() { delete impl_; }

int Package::Open(const PackageParams& params) { return impl_->Open(params); }
int Package::Close() { return impl_->Close(); }
VirtualFile* Package::OpenItem(const char* path, int mode, uint32_t* firstBlock) {
  return impl_->OpenItem(path, mode, firstBlock);
}
int Package::ReadSealedItem(const char* path, size_t limit, std::vector<uint8_t>* stream) {
  return impl_->ReadSealedItem(path, limit, stream);
}
int Package::WriteSealedItem(const char* path, const uint8_t* stream, size_t size) {
  return impl_->WriteSealedItem(path, stream, size);
}
int Package::Stat(const char* path, FileInfo* info) { return impl_->Stat(path, info); }
void Package::LearnItemHeaders(const std::vector<ItemHeaderFacts>& headers) {
  impl_->LearnItemHeaders(headers);
}
int Package::MakeFolder(const char* path) { return impl_->MakeFolder(path); }
int Package::Delete(const char* path) { return impl_->Delete(path); }
DirListing* Package::List(const char* path) { return impl_->List(path); }
bool Package::IsOpen() const { return impl_->IsOpen(); }
int Package::Mode() const { return impl_->Params().mode; }
const PackageParams& Package::Params() const { return impl_->Params(); }

}  // namespace marrowgate
