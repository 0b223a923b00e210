#include "transfer/copy_source.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "package/manager/file_manager.h"
#include "package/seal/seal_layout.h"
#include "package/store/package.h"

namespace marrowgate {

bool CopySource::Open(FileSystem* fs, const std::string& path) {
  Close();
  auto* manager = dynamic_cast<FileManager*>(fs);
  if (manager != nullptr &&
      (manager->config().searchMode == 1 || manager->config().searchMode == 3)) {
    std::string inner;
    Package* package = manager->FindPackage(path.c_str(), true, &inner);
    FileInfo info;
    if (package != nullptr && package->Stat(inner.c_str(), &info) == 0 &&
        (info.flags & kFileInfoFolder) == 0) {
      item_fs_ = fs;
      item_path_ = path;
      item_ = OpenRaw();
      return item_;
    }
  }
  file_.reset(fs->Open(path.c_str(), kOpenRead));
  return file_ != nullptr;
}

bool CopySource::OpenUnsealed(FileSystem* fs, const std::string& path, const SealHeader& header,
                              std::vector<uint8_t> content, std::vector<uint32_t> slices) {
  Close();
  size_t total = 0;
  for (uint32_t n : slices) total += n;
  if (header.plainSize > 0x7fffffffu || content.size() != header.plainSize ||
      total != content.size())
    return false;
  item_ = true;
  item_fs_ = fs;
  item_path_ = path;
  header_ = header;
  unsealed_ = std::make_unique<Unsealed>();
  unsealed_->content = std::move(content);
  unsealed_->slices = std::move(slices);
  return true;
}

bool CopySource::OpenRaw() {
  if (raw_) return true;
  auto* manager = dynamic_cast<FileManager*>(item_fs_);
  if (manager == nullptr) return false;
  std::string inner;
  Package* package = manager->FindPackage(item_path_.c_str(), true, &inner);
  if (package == nullptr) return false;
  Owned<VirtualFile> raw(package->OpenItem(inner.c_str(), kOpenRaw));
  if (raw == nullptr) return false;
  uint8_t bytes[kSealHeaderSize];
  SealHeader header;
  if (raw->Read(bytes, kSealHeaderSize) != kSealHeaderSize || !DecodeSealHeader(bytes, &header) ||
      header.plainSize > 0x7fffffffu)
    return false;
  // Opened after its content came from elsewhere: it must be that item.
  if (item_ && (header.flags != header_.flags || header.storedSize != header_.storedSize ||
                header.plainSize != header_.plainSize || header.time != header_.time ||
                std::memcmp(header.digest, header_.digest, 16) != 0))
    return false;
  header_ = header;
  codecs_ = SealParams();
  CopyCodecs(package->Params(), &codecs_);
  raw_ = std::move(raw);
  return true;
}

int32_t CopySource::ReadHead(Unsealer* unsealer, uint8_t* into, size_t n) {
  size_t have = 0;
  if (item_ && unsealed_) {
    have = std::min(n, unsealed_->content.size());
    std::memcpy(into, unsealed_->content.data(), have);
    return static_cast<int32_t>(have);
  }
  if (item_) {
    if (!OpenRaw()) return -1;
    const SealParams params = SealParamsWithCodecs(codecs_, kOpenRead, raw_.get());
    int code = unsealer->Unseal(params, [&](const uint8_t* bytes, size_t got) {
      const size_t take = std::min(got, n - have);
      std::memcpy(into + have, bytes, take);
      have += take;
      return have < n;
    });
    // Stopped once the head was in, or the whole (shorter) content read.
    return code == 0 || (code == kUnsealSinkFailed && have == n) ? static_cast<int32_t>(have)
                                                                  : -1;
  }
  if (!file_ || file_->Seek(0, 0) != 0) return -1;
  while (have < n) {
    int32_t got = file_->Read(into + have, static_cast<int32_t>(n - have));
    if (got < 0) return -1;
    if (got == 0) break;
    have += static_cast<size_t>(got);
  }
  return file_->Seek(0, 0) == 0 ? static_cast<int32_t>(have) : -1;
}

int32_t CopySource::Size() {
  if (rebuild_) return static_cast<int32_t>(rebuild_->header().newSize);
  if (item_) return static_cast<int32_t>(header_.plainSize);
  return file_ ? file_->Size() : -1;
}

int32_t CopySource::Time() {
  if (item_) return static_cast<int32_t>(header_.time);
  return file_ ? file_->GetTime() : 0;
}

bool CopySource::StoredDigest(uint8_t digest[16]) const {
  if (rebuild_) {
    std::memcpy(digest, rebuild_->header().newDigest.data(), 16);
    return true;
  }
  if (item_) {
    std::memcpy(digest, header_.digest, 16);
    return true;
  }
  // A sealed stream checks its stored digest when read to the end.
  if (auto* sealed = dynamic_cast<SealedFile*>(file_.get())) {
    std::memcpy(digest, sealed->header().digest, 16);
    return true;
  }
  return false;
}

int CopySource::Pump(std::vector<char>* buffer, Unsealer* unsealer, const CopySink& sink,
                     uint8_t digest[16]) {
  if (rebuild_) {
    // The content read is the delta; what it rebuilds goes to the sink.
    std::unique_ptr<DeltaTargetStream> stream = std::move(rebuild_);
    bool stopped = false;
    const DeltaSink out = [&](const uint8_t* bytes, size_t n) {
      if (sink(bytes, n)) return true;
      stopped = true;
      return false;
    };
    int32_t failure = 0;
    uint8_t ignored[16];
    const int pumped = Pump(
        buffer, unsealer,
        [&](const uint8_t* bytes, size_t n) {
          failure = stream->Take(bytes, n, out);
          return failure == 0;
        },
        ignored);
    if (pumped == kPumped) failure = stream->Finish(out);
    rebuild_ = std::move(stream);
    if (stopped) return kSinkStopped;
    if (pumped != kPumped || failure != 0) return kReadFailed;
    std::memcpy(digest, rebuild_->header().newDigest.data(), 16);
    return kPumped;
  }
  if (item_ && unsealed_) {
    // Unsealed ahead: the same slices the unsealing hands out.
    std::unique_ptr<Unsealed> unsealed = std::move(unsealed_);
    const uint8_t* bytes = unsealed->content.data();
    for (uint32_t n : unsealed->slices) {
      if (!sink(bytes, n)) return kSinkStopped;
      bytes += n;
    }
    std::memcpy(digest, header_.digest, 16);
    return kPumped;
  }
  if (item_) {
    if (!OpenRaw()) return kReadFailed;
    bool stopped = false;
    const SealParams params = SealParamsWithCodecs(codecs_, kOpenRead, raw_.get());
    int code = unsealer->Unseal(params, [&](const uint8_t* bytes, size_t n) {
      if (sink(bytes, n)) return true;
      stopped = true;
      return false;
    });
    if (code == kUnsealSinkFailed && stopped) return kSinkStopped;
    if (code != 0) return kReadFailed;
    std::memcpy(digest, header_.digest, 16);
    return kPumped;
  }
  if (!file_) return kReadFailed;
  if (file_->Tell() != 0 && file_->Seek(0, 0) != 0) return kReadFailed;
  uint8_t stored[16];
  const bool known = StoredDigest(stored);
  Md5 md5;
  if (!known) Md5Init(&md5);
  const int32_t size = static_cast<int32_t>(buffer->size());
  const int32_t expected = file_->Size();
  int64_t total = 0;
  while (!file_->AtEnd()) {
    int32_t n = file_->Read(buffer->data(), size);
    if (n == 0) break;
    if (n < 0) return kReadFailed;
    total += n;
    if (!known) Md5Update(&md5, buffer->data(), static_cast<size_t>(n));
    if (!sink(reinterpret_cast<const uint8_t*>(buffer->data()), static_cast<size_t>(n)))
      return kSinkStopped;
  }
  // Fewer or more bytes than the file has (it changed under the copy, or
  // the reading stopped early) is no copy of it.
  if (expected >= 0 && expected < INT32_MAX && total != expected) return kReadFailed;
  if (known) {
    std::memcpy(digest, stored, 16);
  } else {
    Md5Final(&md5, digest);
  }
  return kPumped;
}

}  // namespace marrowgate
