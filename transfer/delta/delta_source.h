// The copy engines' side of delta items: a delta item met in the source
// tree stands for its target (transfer/delta/delta_item.h), and the bytes
// to copy are the target's new content, rebuilt from the delta and the
// file installed there now.
//
// OpenDeltaTarget checks, before anything is written, that the installed
// target is the file the delta was made from (its size and MD5; a record
// of it in some list is no proof) and hands back a DeltaTargetStream: the
// item's content is pushed through it as it is read (an item unsealed
// slice by slice, see transfer/copy_source.h), and what comes out is the
// new content, rebuilt in bounded memory whatever the size of the file or
// of the delta. Its size and MD5 are the new file's, known beforehand; its
// end fails unless the rebuilt bytes have them. The engine writes them to
// the target's staging file like any other source, so a failure or a
// crash leaves the old file in place. An installed target that already is
// the new version (a run stopped after placing it) is its own source, so
// that running the patch again completes it.
#ifndef MARROWGATE_TRANSFER_DELTA_DELTA_SOURCE_H_
#define MARROWGATE_TRANSFER_DELTA_DELTA_SOURCE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "package/file/file_system.h"
#include "transfer/delta/delta_item.h"
#include "util/releaser.h"

namespace marrowgate {

constexpr int32_t kDeltaBadTarget = -20;  // the item's name stands for no plain target

// Rebuilds one target from its delta item's content, pushed in as read.
class DeltaTargetStream {
 public:
  DeltaTargetStream(Owned<VirtualFile> basis, const DeltaHeader& header);
  DeltaTargetStream(const DeltaTargetStream&) = delete;
  DeltaTargetStream& operator=(const DeltaTargetStream&) = delete;

  const DeltaHeader& header() const { return header_; }
  // Takes the next n bytes of the item's content (its header included;
  // any slicing) and hands the rebuilt bytes to `out`: 0 or a kDelta code,
  // kDeltaWriteFailed when `out` stopped. A failure stays.
  int32_t Take(const uint8_t* bytes, size_t n, const DeltaSink& out);
  // The item ended: the last rebuilt bytes, and the check of the whole.
  int32_t Finish(const DeltaSink& out);

 private:
  Owned<VirtualFile> basis_;
  DeltaHeader header_;
  DeltaRebuild rebuild_;
  size_t headerLeft_ = kDeltaHeaderSize;
};

// `head` holds the first `headSize` bytes of the delta item at `*target`
// (its name, delta suffix included) on the target side `destination`. On
// success returns 0 and the target's own path in `*target`, with either
// the rebuilding stream in `*stream` or, when the installed target already
// is the new version, that file opened for reading in `*current`.
// The target may be a file on disk or an item of a package of
// `destination` (read through it; an item is read whole into memory).
// Otherwise returns kDeltaBadTarget, kDeltaBadHeader, kDeltaReadFailed or
// kDeltaBasisDiffers (also for a missing target), with `*target` set to
// the target's path where there is one.
int32_t OpenDeltaTarget(const uint8_t* head, size_t headSize, FileSystem* destination,
                        std::string* target, std::unique_ptr<DeltaTargetStream>* stream,
                        Owned<VirtualFile>* current);

}  // namespace marrowgate

#endif  // MARROWGATE_TRANSFER_DELTA_DELTA_SOURCE_H_
