#include "package/store/tail_file.h"

#include <algorithm>
#include <cstdint>

#include "util/releaser.h"

namespace marrowgate {

TailFile::~TailFile() { Detach(); }

int TailFile::Attach(VirtualFile* host, bool ownsHost, int mode) {
  if (host_ != nullptr) return -1;
  if (host == nullptr) return -2;
  mode_ = mode;
  ownsHost_ = ownsHost;
  host_ = host;
  dirty_ = false;
  record_ = TailRecord();
  if (mode != kOpenRead && mode != kOpenCreate && mode != kOpenUpdate) {
    mode_ = kOpenRead;  // nothing is ever written back
    return -3;
  }

  int32_t hostSize = host_->Size();
  if (hostSize >= kTailRecordSize) {
    uint8_t bytes[kTailRecordSize];
    if (host_->Seek(hostSize - kTailRecordSize, 0) == 0 &&
        host_->Read(bytes, kTailRecordSize) == kTailRecordSize &&
        DecodeTailRecord(bytes, &record_)) {
      if (uint64_t{record_.baseOffset} + record_.dataSize >
          static_cast<uint64_t>(hostSize - kTailRecordSize)) {
        // The record names bytes the host does not have: nothing is read
        // through it and nothing is ever written back.
        record_ = TailRecord();
        mode_ = kOpenRead;
        return -11;
      }
      if (mode_ == kOpenCreate) record_.dataSize = 0;
      host_->Seek(record_.baseOffset, 0);
      return 0;
    }
  }
  record_ = TailRecord();
  if (mode_ == kOpenRead) return -10;
  // A new, empty window at the end of the host; writes start there.
  record_.baseOffset = static_cast<uint32_t>(std::max(hostSize, 0));
  host_->Seek(record_.baseOffset, 0);
  return 0;
}

int TailFile::Detach() {
  if (host_ == nullptr) return 0;
  int result = 0;
  if (mode_ != kOpenRead && dirty_) {
    dirty_ = false;
    uint8_t bytes[kTailRecordSize];
    EncodeTailRecord(record_, bytes);
    int64_t recordAt = WindowEnd();
    if (host_->Seek(recordAt, 0) != 0 || host_->Write(bytes, kTailRecordSize) != kTailRecordSize) {
      result = -1;
    } else if (recordAt + kTailRecordSize != host_->Size()) {
      // The host goes on past the new record (an old, longer window, or
      // bytes between the window and the old record): the host keeps its
      // length, so the record must also sit where Attach looks for it.
      int64_t lastAt = static_cast<int64_t>(host_->Size()) - kTailRecordSize;
      if (host_->Seek(lastAt, 0) != 0 || host_->Write(bytes, kTailRecordSize) != kTailRecordSize) {
        result = -2;
      }
    }
    if (host_->Flush() != 0 && result == 0) result = -3;
  }
  VirtualFile* host = host_;
  host_ = nullptr;
  if (ownsHost_) host->Release();
  ownsHost_ = false;
  return result;
}

int32_t TailFile::Size() {
  return record_.dataSize > INT32_MAX ? INT32_MAX : static_cast<int32_t>(record_.dataSize);
}

int32_t TailFile::GetTime() { return static_cast<int32_t>(record_.time); }

int32_t TailFile::SetTime(int32_t seconds) {
  record_.time = static_cast<uint32_t>(seconds);
  return 0;
}

int32_t TailFile::Read(void* buffer, int32_t n) {
  if (host_ == nullptr || n < 0) return -1;
  int64_t position = host_->Tell();
  if (position < 0) return -1;
  int64_t left = WindowEnd() - position;
  if (left <= 0) return 0;
  return host_->Read(buffer, static_cast<int32_t>(std::min<int64_t>(n, left)));
}

bool TailFile::ReadExactlyAt(int64_t offset, void* buffer, size_t n) {
  if (host_ == nullptr || offset < 0 || static_cast<uint64_t>(offset) > record_.dataSize ||
      n > record_.dataSize - static_cast<uint64_t>(offset))
    return false;
  return host_->ReadExactlyAt(static_cast<int64_t>(record_.baseOffset) + offset, buffer, n);
}

int32_t TailFile::Seek(int64_t offset, int origin) {
  if (host_ == nullptr) return -1;
  int64_t from;
  switch (origin) {
    case 0: from = 0; break;
    case 1: from = Tell(); break;
    case 2: from = record_.dataSize; break;
    default: return -1;
  }
  if (from < 0) return -1;
  // from lies in 0 .. 2^32 and so does baseOffset: clamp before adding.
  const int64_t kLimit = INT64_MAX - static_cast<int64_t>(UINT32_MAX);
  int64_t target = offset > kLimit - from ? kLimit : from + offset;
  if (target < 0) target = 0;
  return host_->Seek(record_.baseOffset + target, 0);
}

bool TailFile::AtEnd() {
  return host_ == nullptr || host_->Tell() >= WindowEnd();
}

int64_t TailFile::Tell() {
  if (host_ == nullptr) return -1;
  int64_t position = host_->Tell();
  return position < 0 ? position : position - record_.baseOffset;
}

int32_t TailFile::Write(const void* buffer, int32_t n) {
  if (host_ == nullptr || mode_ == kOpenRead) return -1;
  // The window length is a 32-bit field; refuse to grow it past that.
  int64_t position = host_->Tell();
  if (position < 0 || position - record_.baseOffset + n > static_cast<int64_t>(UINT32_MAX)) return -1;
  dirty_ = true;
  int32_t written = host_->Write(buffer, n);
  if (written > 0) {
    int64_t end = host_->Tell() - record_.baseOffset;
    if (end > static_cast<int64_t>(record_.dataSize)) record_.dataSize = static_cast<uint32_t>(end);
  }
  return written;
}

int32_t TailFile::Flush() { return host_ != nullptr ? host_->Flush() : -1; }

namespace {

// True when the file's first bytes form a valid package header.
bool StartsWithPackageHeader(VirtualFile* file) {
  uint8_t bytes[kPackageHeaderSize];
  if (file->Seek(0, 0) != 0 || !file->ReadExactly(bytes, sizeof(bytes))) return false;
  PackageHeader header;
  return DecodePackageHeader(bytes, &header);
}

}  // namespace

int ProbePackage(VirtualFile* file) {
  if (file == nullptr) return 0;
  if (StartsWithPackageHeader(file)) {
    file->Seek(0, 0);
    return 1;
  }
  // A window is accepted only when it holds a plain package, so one level
  // of attaching is enough (no recursion into nested hosts).
  Owned<TailFile> window(new TailFile);
  int result = 0;
  if (window->Attach(file, /*ownsHost=*/false, kOpenRead) == 0 && StartsWithPackageHeader(window.get())) {
    result = 2;
  }
  window->Detach();
  file->Seek(0, 0);
  return result;
}

int ProbePackageFile(FileSystem* fileSystem, const char* path) {
  if (fileSystem == nullptr || path == nullptr) return -1;
  Owned<VirtualFile> file(fileSystem->Open(path, kOpenRead));
  if (!file) return -1;
  return ProbePackage(file.get());
}

}  // namespace marrowgate
