// The per-item work of marrowgate-pack: storing one source file, reading
// one item back with its digest checked, extracting one item into the
// target folder, and the sealing and unsealing that workers do apart from
// the package. Each function has its own buffer, so items can be spread
// over workers. For the tool's own files only.
#ifndef MARROWGATE_TOOLS_PACK_ITEMS_H_
#define MARROWGATE_TOOLS_PACK_ITEMS_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "package/file/disk_file.h"
#include "package/file/memory_file.h"
#include "package/seal/sealed_file.h"
#include "package/seal/unsealer.h"
#include "package/store/layout.h"
#include "package/store/package.h"
#include "package/store/sealed_stream.h"
#include "platform/file_tree.h"
#include "platform/interrupt.h"
#include "tools/pack_archive.h"
#include "tools/pack_command_line.h"
#include "tools/pack_names.h"
#include "tools/pack_source_scan.h"
#include "util/releaser.h"

namespace marrowgate::pack {

inline constexpr size_t kChunk = 1 << 20;
inline constexpr const char* kPartialSuffix = ".partial";

// What became of one item: `problem` ("PATH: what failed: reason") is
// empty on success.
struct ItemResult {
  std::string problem;
  bool skipped = false;  // left alone on purpose (extract -n)
  bool ok() const { return problem.empty(); }
};

ItemResult Failed(std::string text);

std::string Hex(const uint8_t* bytes, size_t n);

std::string FormatTime(uint32_t seconds);

// A path inside a package as the user names it, with a trailing separator
// allowed: '/' separators and no trailing '/', or an empty text when it
// could leave the package (see util/safe_path.h).
std::string CleanInnerPath(std::string path);

std::string Count(int64_t n, const char* one, const char* many);
std::string Files(int64_t n);

std::string Join(const std::string& folder, const std::string& inner);

std::string ParentOf(const std::string& path);

std::string BaseName(const std::string& path);

// True when the resolved path `path` is `folder` or lies below it.
bool IsWithin(const std::string& path, const std::string& folder);

// Where a path would be once written: its folder resolved, its own name
// kept. Empty when its folder does not exist.
std::string ResolvedTarget(const std::string& path);

// A file written under a temporary name and renamed into place: removed
// again unless kept, also when the process is interrupted.
class TemporaryFile {
 public:
  enum Creation { kCreatedLater, kCreatedByCaller };
  // kCreatedByCaller: the caller creates the file right after this and
  // then calls Created(), so that an interrupt handled on another thread
  // meanwhile still removes it.
  explicit TemporaryFile(std::string path, Creation creation = kCreatedLater)
      : path_(std::move(path)),
        slot_(creation == kCreatedByCaller ? platform::RegisterFileToCreate(path_.c_str())
                                           : platform::RegisterCleanupFile(path_.c_str())) {}
  void Created() { platform::CleanupFileCreated(slot_); }
  ~TemporaryFile() {
    if (!kept_) platform::RemoveNode(path_.c_str());
    platform::UnregisterCleanupFile(slot_);
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  const std::string& path() const { return path_; }
  bool MoveTo(const std::string& target, std::string* reason) {
    if (!platform::RenameReplacing(path_.c_str(), target.c_str(), reason)) return false;
    kept_ = true;
    return true;
  }

 private:
  std::string path_;
  int slot_;
  bool kept_ = false;
};

// ------------------------------------------------------ per-item work
//
// Each item of create/add, extract and verify is handled by one of these
// functions with its own buffer, so that items can be spread over workers.

// Copies one disk file into the package as `item.innerPath`. `onRead`,
// when set, is told the bytes read so far after every chunk; `onSeal`,
// how far the item's seal has come (done, total), slice by slice. A file
// longer than kWorkerItemLimit is sealed in pieces straight from the disk
// (SealedFile::SealFrom), so memory does not follow its size.
ItemResult StoreItem(Package* package, const SourceItem& item, std::vector<uint8_t>* buffer,
                     const std::function<void(uint64_t)>& onRead = {},
                     const std::function<void(uint64_t, uint64_t)>& onSeal = {});

// Why an item could not be unsealed, in words.
std::string UnsealProblem(int code);

// An Unsealer lent from a process-wide pool for as long as this lives: its
// buffers serve item after item, and none is left to a thread's end.
class UnsealerLoan {
 public:
  UnsealerLoan();
  ~UnsealerLoan();
  UnsealerLoan(const UnsealerLoan&) = delete;
  UnsealerLoan& operator=(const UnsealerLoan&) = delete;
  Unsealer& get() { return *unsealer_; }

 private:
  std::unique_ptr<Unsealer> unsealer_;
};

// Reads the sealed stream held in `raw` (as stored: header first) from
// start to end in slices, unsealed with the codec and ciphers of `codecs`,
// handing its content to `sink`, and compares its MD5 with the stored
// digest. The digest is known only at the end: what the sink wrote must
// be kept aside until this returns success. Memory stays at a few slices
// whatever the item's size.
template <typename Sink>
ItemResult ReadCheckedStream(VirtualFile* raw, const SealParams& codecs, const std::string& inner,
                             uint32_t* time, Sink sink) {
  if (raw == nullptr) return Failed(inner + ": cannot be unsealed: the item is damaged");
  const SealParams params = SealParamsWithCodecs(codecs, kOpenRead, raw);
  UnsealerLoan loan;
  SealHeader header;
  ItemResult written;
  const int code = loan.get().Unseal(
      params,
      [&](const uint8_t* bytes, size_t n) {
        written = sink(bytes, n);
        return written.ok();
      },
      &header);
  if (code == kUnsealSinkFailed) return written;
  if (code == kSealDigestMismatch)
    return Failed(inner + ": damaged: its content does not match the stored MD5 (stored " +
                  Hex(header.digest, 16) + ")");
  if (code < 0) return Failed(inner + ": cannot be unsealed: " + UnsealProblem(code));
  if (time != nullptr) *time = header.time;
  return {};
}

// ReadCheckedStream over the item `inner` of `package`, with the
// package's own codec and ciphers (the package's owner thread only).
template <typename Sink>
ItemResult ReadCheckedItem(Package* package, const std::string& inner, uint32_t* time,
                           Sink sink) {
  Owned<VirtualFile> raw(package->OpenItem(inner.c_str(), kOpenRaw));
  SealParams codecs;
  CopyCodecs(package->Params(), &codecs);
  return ReadCheckedStream(raw.get(), codecs, inner, time, sink);
}

ItemResult VerifyItem(Package* package, const PackEntry& entry);

// The folder `extract` writes into. Nothing is written outside it: a
// folder on the way that is a link leading elsewhere is refused, and a
// link at a file's own path is replaced, never followed.
class ExtractTarget {
 public:
  // `root` as the user gave it (for messages and for the paths written).
  bool Prepare(const std::string& root, std::string* problem) {
    root_ = root;
    std::string reason;
    // Make the folder and its missing parents.
    for (size_t i = 1; i <= root.size(); ++i) {
      if (i != root.size() && root[i] != '/') continue;
      std::string prefix = root.substr(0, i);
      if (prefix.empty() || prefix.back() == '/') continue;
      if (!platform::MakeOneFolder(prefix.c_str(), &reason)) {
        *problem = prefix + ": cannot be created: " + reason;
        return false;
      }
    }
    if (!platform::ResolvedPath(root.c_str(), &resolvedRoot_, &reason)) {
      *problem = root + ": cannot be used: " + reason;
      return false;
    }
    return true;
  }

  // Makes the folder `inner` (and its parents) inside the target.
  ItemResult MakeFolder(const std::string& inner) {
    if (inner.empty() || made_.count(inner) != 0) return {};
    size_t slash = inner.find_last_of('/');
    if (slash != std::string::npos) {
      ItemResult parent = MakeFolder(inner.substr(0, slash));
      if (!parent.ok()) return parent;
    }
    std::string disk = Join(root_, inner);
    platform::NodeStatus status;
    std::string reason;
    if (!platform::LinkStatusOf(disk.c_str(), &status, &reason)) {
      if (!platform::MakeOneFolder(disk.c_str(), &reason))
        return Failed(disk + ": cannot be created: " + reason);
    } else if (status.kind == platform::NodeKind::kLink) {
      std::string resolved;
      platform::NodeStatus target;
      if (!platform::ResolvedPath(disk.c_str(), &resolved, nullptr) ||
          !IsWithin(resolved, resolvedRoot_) ||
          !platform::StatusOf(disk.c_str(), &target, nullptr) ||
          target.kind != platform::NodeKind::kFolder)
        return Failed(disk + ": not followed: a symbolic link that leads outside " + root_);
    } else if (status.kind != platform::NodeKind::kFolder) {
      return Failed(disk + ": cannot be created: File exists (not a folder)");
    }
    made_.insert(inner);
    return {};
  }

  // A fresh temporary name in the folder `diskFolder`.
  std::string TemporaryName(const std::string& diskFolder) {
    return Join(diskFolder, ".marrowgate-pack-" + std::to_string(++counter_) + kPartialSuffix);
  }

  const std::string& root() const { return root_; }

 private:
  std::string root_;
  std::string resolvedRoot_;
  std::set<std::string> made_;
  std::atomic<uint64_t> counter_{0};
};

// Makes the folder of `entry` inside the target and looks at what is at
// its path: `*disk` and `*diskFolder` get where it is to be written. A
// result that is not ok, or skipped, ends the item.
ItemResult PrepareExtract(const PackEntry& entry, ExtractTarget* target,
                          OverwritePolicy overwrite, std::string* disk, std::string* diskFolder);

// Writes the file `disk` under a temporary name in `diskFolder`, taking
// its content from `read(&time, sink)` (a ReadChecked... call), and
// renames it into place when complete and checked.
template <typename Reader>
ItemResult WriteExtracted(const std::string& disk, const std::string& diskFolder,
                          ExtractTarget* target, Reader read) {
  TemporaryFile temporary(target->TemporaryName(diskFolder), TemporaryFile::kCreatedByCaller);
  std::string reason;
  std::unique_ptr<platform::RawFile> out =
      platform::RawFile::CreateNew(temporary.path().c_str(), &reason);
  temporary.Created();
  if (!out) return Failed(disk + ": cannot be created: " + reason);
  uint32_t time = 0;
  ItemResult result = read(&time, [&](const uint8_t* bytes, size_t n) -> ItemResult {
    if (!out->WriteAll(bytes, n, &reason)) return Failed(disk + ": cannot be written: " + reason);
    return {};
  });
  if (!result.ok()) return Failed(result.problem + "; not written");
  const bool timed = out->SetTimes(time, time);
  if (!out->Close(&reason)) return Failed(disk + ": cannot be written: " + reason);
  if (!timed) platform::SetFileTimes(temporary.path().c_str(), time, time);
  if (!temporary.MoveTo(disk, &reason)) return Failed(disk + ": cannot be written: " + reason);
  return {};
}

ItemResult ExtractItem(Package* package, const PackEntry& entry, ExtractTarget* target,
                       OverwritePolicy overwrite);

// -------------------------------------------------- work for workers
//
// The halves of the per-item work that need no package: sealing a source
// file into a stream, unsealing a stream read by the owner. An item is
// held whole a few times over while a worker has it, so only items up to
// this size (plain and stored) go to workers; larger ones take the
// single-item path on the owner, in their turn.
inline constexpr size_t kWorkerItemLimit = size_t{16} << 20;
// Memory the items in flight between the owner and the workers may hold,
// with what the workers need for them (one item larger than this goes
// alone).
inline constexpr size_t kBytesInFlight = size_t{64} << 20;

// One worker's codec and ciphers, keyed as the package keys its own.
struct WorkerCodecs {
  PackageCodecs codecs;
  SealParams seal;
  std::vector<uint8_t> buffer;
};

// Reads the disk file of `item` whole and seals it into `stream`.
ItemResult SealSourceItem(const SourceItem& item, WorkerCodecs* worker,
                          std::vector<uint8_t>* stream);

// Stores a stream sealed by SealSourceItem as `item.innerPath`.
ItemResult StoreSealedItem(Package* package, const SourceItem& item,
                           const std::vector<uint8_t>& stream);

// Unseals a stream the owner read from the package and checks it, handing
// the content to `sink`: the worker's ReadCheckedItem.
template <typename Sink>
ItemResult ReadCheckedSealed(std::vector<uint8_t> stream, const std::string& inner,
                             WorkerCodecs* worker, uint32_t* time, Sink sink) {
  MemoryFile raw(std::move(stream));
  return ReadCheckedStream(&raw, worker->seal, inner, time, sink);
}

// The memory an item read from the package takes in a worker, or 0 when
// it is to stay on the owner (too large, or its header unreadable).
size_t WorkerBytesFor(const std::vector<uint8_t>& stream);

}  // namespace marrowgate::pack

#endif  // MARROWGATE_TOOLS_PACK_ITEMS_H_
