#include "transfer/delta/delta_source.h"

#include <memory>
#include <new>

#include "package/file/open_mode.h"

namespace marrowgate {

namespace {

class DeltaSourceFile : public VirtualFile {
 public:
  DeltaSourceFile(Owned<VirtualFile> item, Owned<VirtualFile> basis, const DeltaHeader& header)
      : item_(std::move(item)),
        basis_(std::move(basis)),
        header_(header),
        rebuild_(item_.get(), basis_.get(), header_) {}

  int32_t Size() override { return static_cast<int32_t>(header_.newSize); }
  int32_t GetTime() override { return item_->GetTime(); }
  int32_t SetTime(int32_t) override { return -1; }
  int32_t Read(void* buffer, int32_t n) override { return rebuild_.Read(buffer, n); }
  // A rebuild runs forward only.
  int32_t Seek(int64_t offset, int origin) override {
    return (origin == 1 && offset == 0) ? 0 : -1;
  }
  bool AtEnd() override { return rebuild_.Done(); }
  int64_t Tell() override { return rebuild_.produced(); }
  int32_t Write(const void*, int32_t) override { return -1; }
  int32_t Flush() override { return -1; }
  int32_t Digest(uint8_t digest[16]) override {
    std::copy(header_.newDigest.begin(), header_.newDigest.end(), digest);
    return 0;
  }

 private:
  Owned<VirtualFile> item_;
  Owned<VirtualFile> basis_;
  DeltaHeader header_;
  DeltaRebuild rebuild_;
};

}  // namespace

int32_t OpenDeltaSource(Owned<VirtualFile>* item, FileSystem* destination, std::string* target) {
  Owned<VirtualFile> delta = std::move(*item);
  const std::string own = DeltaTargetOf(*target);
  if (own.empty()) return kDeltaBadTarget;
  *target = own;
  if (!destination->WritesToDisk(own.c_str())) return kDeltaTargetNotOnDisk;
  DeltaHeader header;
  int32_t rc = ReadDeltaHeader(delta.get(), &header);
  if (rc != 0) return rc;
  FileInfo info;
  // Only a regular file of the install folder is a basis: a link is a
  // name, and what it leads to is not read.
  if (destination->Stat(own.c_str(), &info) != 0 ||
      (info.flags & (kFileInfoFolder | kFileInfoLink)) != 0)
    return kDeltaBasisDiffers;
  Owned<VirtualFile> basis(destination->Open(own.c_str(), kOpenRead));
  if (!basis) return kDeltaBasisDiffers;
  rc = CheckDeltaBasis(basis.get(), header);
  if (rc == kDeltaBasisDiffers) {
    // Already the new version (a run stopped after this file was placed):
    // the file is its own source.
    rc = CheckFileIs(basis.get(), header.newSize, header.newDigest);
    if (rc == kDeltaBasisDiffers) return rc;
    if (rc == 0 && basis->Seek(0, 0) != 0) rc = kDeltaReadFailed;
    if (rc != 0) return rc;
    *item = std::move(basis);
    return 0;
  }
  if (rc != 0) return rc;
  std::unique_ptr<DeltaSourceFile> stream(
      new (std::nothrow) DeltaSourceFile(std::move(delta), std::move(basis), header));
  if (!stream) return kDeltaReadFailed;
  item->reset(stream.release());
  return 0;
}

}  // namespace marrowgate
