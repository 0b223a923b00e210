#include "tools/pack_items.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "package/file/memory_file.h"
#include "platform/env.h"
#include "platform/path_within.h"
#include "util/md5.h"
#include "util/safe_path.h"

namespace marrowgate::pack {

ItemResult Failed(std::string text) { return {std::move(text), false}; }

std::string Hex(const uint8_t* bytes, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < n; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

std::string FormatTime(uint32_t seconds) {
  platform::CalendarTime t;
  if (!platform::ToLocalCalendar(static_cast<int64_t>(seconds), &t)) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

std::string CleanInnerPath(std::string path) {
  while (!path.empty() && (path.back() == '/' || path.back() == '\\')) path.pop_back();
  if (!IsContainedRelativePath(path)) return std::string();
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

std::string Count(int64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Files(int64_t n) { return Count(n, "file", "files"); }

std::string Join(const std::string& folder, const std::string& inner) {
  if (inner.empty()) return folder;
  if (folder.empty()) return inner;
  if (folder.back() == '/') return folder + inner;
  return folder + "/" + inner;
}

std::string ParentOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsWithin(const std::string& path, const std::string& folder) {
  return platform::PathIsAtOrBelow(path, folder);
}

std::string ResolvedTarget(const std::string& path) {
  std::string folder;
  if (!platform::ResolvedPath(ParentOf(path).c_str(), &folder, nullptr)) return std::string();
  return Join(folder, BaseName(path));
}

ItemResult StoreItem(Package* package, const SourceItem& item, std::vector<uint8_t>* buffer,
                     const std::function<void(uint64_t)>& onRead,
                     const std::function<void(uint64_t, uint64_t)>& onSeal) {
  std::string reason;
  std::unique_ptr<platform::RawFile> in =
      platform::RawFile::OpenForReading(item.diskPath.c_str(), &reason);
  if (!in) return Failed(item.diskPath + ": cannot be read: " + reason);
  Owned<VirtualFile> out(package->OpenItem(item.innerPath.c_str(), kOpenCreate));
  if (!out)
    return Failed(item.diskPath + ": cannot be added: the package has no room for " +
                  item.innerPath + " (a file and a folder of that name?)");
  auto* sealed = dynamic_cast<SealedFile*>(out.get());
  // 0 would mean "now" to the item; the first second of 1970 stands in.
  const int32_t time = static_cast<int32_t>(item.time != 0 ? item.time : 1);
  if (sealed != nullptr && item.size > kWorkerItemLimit) {
    // Too long to hold: sealed straight from the disk file, which is read
    // again from its start for each pass.
    uint64_t next = 0;
    PlainSource source = [&](uint64_t offset, uint8_t* bytes, size_t n) -> int64_t {
      if (offset == 0 && next != 0) {
        in = platform::RawFile::OpenForReading(item.diskPath.c_str(), &reason);
        next = 0;
      }
      if (!in || offset != next) return -1;
      const int64_t got = in->Read(bytes, n, &reason);
      if (got > 0) next += static_cast<uint64_t>(got);
      return got;
    };
    // Reading and sealing go together here: the reading share is told at
    // once, and the seal's progress (every pass) moves the bar on.
    if (onRead) onRead(item.size);
    out->SetTime(time);
    if (onSeal) sealed->SetSealProgress(onSeal);
    const int code = sealed->SealFrom(source, item.size);
    sealed->SetSealProgress(nullptr);
    if (code == kSealSourceFailed) return Failed(item.diskPath + ": cannot be read: " + reason);
    if (code == kSealSourceChanged)
      return Failed(item.diskPath + ": cannot be stored: it changed while being read");
    if (code == kSealOutOfMemory) return Failed(item.diskPath + ": cannot be stored: out of memory");
    if (code != kSealNoPieces) {
      if (code < 0)
        return Failed(item.diskPath + ": cannot be stored: writing the package file failed");
      return {};
    }
    // A cipher that cannot encipher in pieces: the content is held whole.
    in = platform::RawFile::OpenForReading(item.diskPath.c_str(), &reason);
    if (!in) return Failed(item.diskPath + ": cannot be read: " + reason);
  }
  // The content is held whole until it is sealed: room for the size the
  // scan saw, so it is not grown in doubling steps.
  if (sealed != nullptr) sealed->Reserve(static_cast<size_t>(item.size));
  buffer->resize(kChunk);
  uint64_t total = 0;
  for (;;) {
    int64_t n = in->Read(buffer->data(), buffer->size(), &reason);
    if (n < 0) return Failed(item.diskPath + ": cannot be read: " + reason);
    if (n == 0) break;
    total += static_cast<uint64_t>(n);
    if (total > kMaxItemSize)
      return Failed(item.diskPath + ": cannot be stored: it grew past " +
                    std::to_string(kMaxItemSize) + " bytes while being read");
    if (out->Write(buffer->data(), static_cast<int32_t>(n)) != n)
      return Failed(item.diskPath + ": cannot be stored: out of memory");
    if (onRead) onRead(total);
  }
  out->SetTime(time);
  if (sealed != nullptr) {
    if (onSeal) sealed->SetSealProgress(onSeal);
    const int sealedCode = sealed->Seal();
    sealed->SetSealProgress(nullptr);
    if (sealedCode != 0)
      return Failed(item.diskPath + ": cannot be stored: writing the package file failed");
  }
  return {};
}

namespace {

std::mutex unsealer_pool_lock;
std::vector<std::unique_ptr<Unsealer>>& UnsealerPool() {
  static auto* pool = new std::vector<std::unique_ptr<Unsealer>>;
  return *pool;
}

}  // namespace

UnsealerLoan::UnsealerLoan() {
  {
    std::lock_guard<std::mutex> hold(unsealer_pool_lock);
    auto& pool = UnsealerPool();
    if (!pool.empty()) {
      unsealer_ = std::move(pool.back());
      pool.pop_back();
    }
  }
  if (!unsealer_) unsealer_ = std::make_unique<Unsealer>();
}

UnsealerLoan::~UnsealerLoan() {
  std::lock_guard<std::mutex> hold(unsealer_pool_lock);
  UnsealerPool().push_back(std::move(unsealer_));
}

std::string UnsealProblem(int code) {
  switch (code) {
    case kSealShortHeader:
    case kSealBadHeader: return "its header is damaged";
    case kSealShortContent: return "its stored bytes are cut short or unreadable";
    case kSealNoCipher: return "it is enciphered with a key that was not given";
    case kSealDecipherFailed: return "it cannot be deciphered";
    case kSealNoCodec: return "it is compressed and no decompressor is at hand";
    case kSealWrongPlainSize:
    case kSealStoredSizeMismatch: return "its content does not have the size its header gives";
    default:
      return code < kSealInflateOffset && code >= kSealInflateOffset - 1000
                 ? "its compressed bytes are damaged"
                 : "the item is damaged";
  }
}

ItemResult VerifyItem(Package* package, const PackEntry& entry) {
  return ReadCheckedItem(package, entry.path, nullptr,
                         [](const uint8_t*, size_t) { return ItemResult(); });
}

ItemResult PrepareExtract(const PackEntry& entry, ExtractTarget* target,
                          OverwritePolicy overwrite, std::string* disk, std::string* diskFolder) {
  size_t slash = entry.path.find_last_of('/');
  std::string folder = slash == std::string::npos ? std::string() : entry.path.substr(0, slash);
  ItemResult made = target->MakeFolder(folder);
  if (!made.ok()) return made;
  *disk = Join(target->root(), entry.path);
  *diskFolder = Join(target->root(), folder);
  platform::NodeStatus existing;
  if (platform::LinkStatusOf(disk->c_str(), &existing, nullptr)) {
    if (existing.kind == platform::NodeKind::kFolder)
      return Failed(*disk + ": cannot be replaced: Is a directory");
    if (overwrite == OverwritePolicy::kNever) {
      ItemResult kept;
      kept.skipped = true;
      return kept;
    }
  }
  return {};
}

ItemResult ExtractItem(Package* package, const PackEntry& entry, ExtractTarget* target,
                       OverwritePolicy overwrite) {
  std::string disk, diskFolder;
  ItemResult ready = PrepareExtract(entry, target, overwrite, &disk, &diskFolder);
  if (!ready.ok() || ready.skipped) return ready;
  return WriteExtracted(disk, diskFolder, target, [&](uint32_t* time, auto sink) {
    return ReadCheckedItem(package, entry.path, time, sink);
  });
}

ItemResult SealSourceItem(const SourceItem& item, WorkerCodecs* worker,
                          std::vector<uint8_t>* stream) {
  std::string reason;
  std::unique_ptr<platform::RawFile> in =
      platform::RawFile::OpenForReading(item.diskPath.c_str(), &reason);
  if (!in) return Failed(item.diskPath + ": cannot be read: " + reason);
  std::vector<uint8_t> plain;
  try {
    // One byte more than the scan saw, so that the end shows without
    // growing the buffer.
    plain.resize(static_cast<size_t>(item.size) + 1);
    size_t used = 0;
    for (;;) {
      if (used == plain.size()) plain.resize(used + kChunk);
      int64_t n = in->Read(plain.data() + used, plain.size() - used, &reason);
      if (n < 0) return Failed(item.diskPath + ": cannot be read: " + reason);
      if (n == 0) break;
      used += static_cast<size_t>(n);
      if (used > kMaxItemSize)
        return Failed(item.diskPath + ": cannot be stored: it grew past " +
                      std::to_string(kMaxItemSize) + " bytes while being read");
    }
    plain.resize(used);
  } catch (const std::bad_alloc&) {
    return Failed(item.diskPath + ": cannot be stored: out of memory");
  }
  // 0 would mean "now" to the item; the first second of 1970 stands in.
  int code = SealStream(worker->seal, plain.data(), plain.size(),
                        static_cast<uint32_t>(item.time != 0 ? item.time : 1), stream);
  if (code == kSealOutOfMemory) return Failed(item.diskPath + ": cannot be stored: out of memory");
  if (code < 0)
    return Failed(item.diskPath + ": cannot be stored: writing the package file failed");
  return {};
}

ItemResult StoreSealedItem(Package* package, const SourceItem& item,
                           const std::vector<uint8_t>& stream) {
  int code = package->WriteSealedItem(item.innerPath.c_str(), stream.data(), stream.size());
  if (code == -1)
    return Failed(item.diskPath + ": cannot be added: the package has no room for " +
                  item.innerPath + " (a file and a folder of that name?)");
  if (code < 0)
    return Failed(item.diskPath + ": cannot be stored: writing the package file failed");
  return {};
}

size_t WorkerBytesFor(const std::vector<uint8_t>& stream) {
  SealHeader header;
  if (stream.size() < kSealHeaderSize || !DecodeSealHeader(stream.data(), &header) ||
      header.plainSize > kWorkerItemLimit)
    return 0;
  // The stream, the stored bytes unsealing copies out of it, the plain
  // content and a buffer.
  return 2 * stream.size() + header.plainSize + kChunk;
}

}  // namespace marrowgate::pack
