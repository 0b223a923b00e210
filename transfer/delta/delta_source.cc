#include "transfer/delta/delta_source.h"

#include <algorithm>
#include <new>

#include "package/file/memory_file.h"
#include "package/file/open_mode.h"

namespace marrowgate {

DeltaTargetStream::DeltaTargetStream(Owned<VirtualFile> basis, const DeltaHeader& header)
    : basis_(std::move(basis)), header_(header), rebuild_(nullptr, basis_.get(), header_) {}

int32_t DeltaTargetStream::Take(const uint8_t* bytes, size_t n, const DeltaSink& out) {
  // The header was read and judged before the stream was made.
  const size_t skip = std::min(headerLeft_, n);
  headerLeft_ -= skip;
  return rebuild_.Feed(bytes + skip, n - skip, out);
}

int32_t DeltaTargetStream::Finish(const DeltaSink& out) {
  if (headerLeft_ > 0) return kDeltaBadHeader;
  return rebuild_.Finish(out);
}

int32_t OpenDeltaTarget(const uint8_t* head, size_t headSize, FileSystem* destination,
                        std::string* target, std::unique_ptr<DeltaTargetStream>* stream,
                        Owned<VirtualFile>* current) {
  const std::string own = DeltaTargetOf(*target);
  if (own.empty()) return kDeltaBadTarget;
  *target = own;
  DeltaHeader header;
  MemoryFile headFile(std::vector<uint8_t>(head, head + headSize));
  int32_t rc = ReadDeltaHeader(&headFile, &header);
  if (rc != 0) return rc;
  FileInfo info;
  // Only a regular file of the install folder (or an item of one of its
  // packages) is a basis: a link is a name, and what it leads to is not
  // read.
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
    *current = std::move(basis);
    return 0;
  }
  if (rc != 0) return rc;
  stream->reset(new (std::nothrow) DeltaTargetStream(std::move(basis), header));
  return *stream ? 0 : kDeltaReadFailed;
}

}  // namespace marrowgate
