// Delta items: a patch's way of carrying only the bytes of a file that
// changed.
//
// Naming. The delta item of target "bin/game.dat" is named "bin/game.dat"
// followed by kDeltaSuffix (".mgdelta"): "bin/game.dat.mgdelta". Names
// ending in the suffix are reserved: the copy engines never install a file
// under such a name; they rebuild the target the name stands for
// (transfer/delta/delta_source.h). The target must be a plain name again:
// not empty, not itself a delta, full-file or staging name.
//
// A patch made with full files carries beside a delta item the whole new
// file, named by the target followed by kDeltaFullSuffix ("bin/game.dat"
// travels as "bin/game.dat.mgdelta" and "bin/game.dat.mgfull"). That name
// is reserved too: the copy never installs it under its own name; it takes
// it as the target's content only when the installed target is not the
// file the delta was made from (changed or missing), instead of failing.
//
// Format, little-endian:
//
//   offset size  field
//        0    8  magic "mgdelta1"
//        8    4  format version (1)
//       12    4  size of the old file the delta was made from
//       16   16  MD5 of that old file
//       32    4  size of the new file it rebuilds
//       36   16  MD5 of the new file
//       52  ...  the delta proper: a librsync delta stream against the old
//                file
//
// Applying reads the old file at random (the delta's copy commands), streams
// the rebuilt bytes to a sink in slices, and judges the outcome by the new
// size and MD5: memory stays bounded by the slice size whatever the file's.
#ifndef MARROWGATE_TRANSFER_DELTA_DELTA_ITEM_H_
#define MARROWGATE_TRANSFER_DELTA_DELTA_ITEM_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "package/file/virtual_file.h"

namespace marrowgate {

inline constexpr char kDeltaSuffix[] = ".mgdelta";
inline constexpr char kDeltaFullSuffix[] = ".mgfull";
inline constexpr char kDeltaMagic[] = "mgdelta1";  // 8 bytes, no terminator stored
constexpr uint32_t kDeltaVersion = 1;
constexpr size_t kDeltaHeaderSize = 52;

// Results of the delta operations (0 is success).
constexpr int32_t kDeltaBadHeader = -1;      // not a delta item, or another version
constexpr int32_t kDeltaBasisDiffers = -2;   // the old file is not the one expected
constexpr int32_t kDeltaReadFailed = -3;     // a read of the delta, old or new file failed
constexpr int32_t kDeltaWriteFailed = -4;    // the sink took fewer bytes than given
constexpr int32_t kDeltaCorrupt = -5;        // the delta stream is damaged
constexpr int32_t kDeltaResultDiffers = -6;  // rebuilt size or MD5 not the expected
constexpr int32_t kDeltaTooLarge = -7;       // encoding passed the caller's limit
constexpr int32_t kDeltaStopped = -8;        // the progress callback asked to stop

// True when the last component of `path` ends with kDeltaSuffix.
bool IsDeltaName(const std::string& path);
// The delta item name for `target` (target + kDeltaSuffix).
std::string DeltaNameFor(const std::string& target);
// The target a delta item name stands for; empty when `path` is not a delta
// name or its target would not be a plain name (see above).
std::string DeltaTargetOf(const std::string& path);

// The same for the full file beside a delta item (target + kDeltaFullSuffix).
bool IsDeltaFullName(const std::string& path);
std::string DeltaFullNameFor(const std::string& target);
std::string DeltaFullTargetOf(const std::string& path);

struct DeltaHeader {
  uint32_t oldSize = 0;
  std::array<uint8_t, 16> oldDigest{};
  uint32_t newSize = 0;
  std::array<uint8_t, 16> newDigest{};
};

void StoreDeltaHeader(const DeltaHeader& header, uint8_t out[kDeltaHeaderSize]);
// Reads the header at the current position of `delta`: 0 or kDeltaBadHeader
// (short, wrong magic or version) or kDeltaReadFailed.
int32_t ReadDeltaHeader(VirtualFile* delta, DeltaHeader* header);

// Whether `file` (read from its start) has the given size and MD5: 0,
// kDeltaBasisDiffers or kDeltaReadFailed.
int32_t CheckFileIs(VirtualFile* file, uint32_t expectedSize,
                    const std::array<uint8_t, 16>& expectedDigest);
// CheckFileIs with the header's old size and MD5.
int32_t CheckDeltaBasis(VirtualFile* basis, const DeltaHeader& header);

struct DeltaEncodeStats {
  uint64_t signatureBytes = 0;  // the old file's signature, held in memory
  uint64_t deltaBytes = 0;      // the librsync stream, header not counted
};

// Writes the delta item that turns `oldFile` into `newFile` to `out` (from
// its current position, which must be seekable back to write the header):
// both inputs are read once from their start, the old one for its
// signature, the new one for the delta. With `limit` above 0, stops with
// kDeltaTooLarge as soon as the item would be longer than `limit` bytes.
int32_t EncodeDelta(VirtualFile* oldFile, VirtualFile* newFile, VirtualFile* out,
                    uint64_t limit = 0, DeltaEncodeStats* stats = nullptr);

// Takes the next slice of rebuilt bytes; false stops the rebuild.
using DeltaSink = std::function<bool(const uint8_t* bytes, size_t n)>;

// Step-wise rebuilding: feeds the delta proper (after the header) and the
// old file to librsync and hands out the new file's bytes, either as asked
// for (Read, pulling the delta from `delta`) or as the delta comes (Feed
// and Finish, for a delta pushed slice by slice, as an unsealed item is).
// Either way memory stays bounded by a few slices.
// The old file must have been checked (CheckDeltaBasis) by the caller; the
// result is checked here: a stream that would pass the header's new size,
// or ends short of it or with another MD5, fails.
class DeltaRebuild {
 public:
  // Borrows `delta` (positioned after the header; null for Feed) and
  // `basis`.
  DeltaRebuild(VirtualFile* delta, VirtualFile* basis, const DeltaHeader& header);
  ~DeltaRebuild();
  DeltaRebuild(const DeltaRebuild&) = delete;
  DeltaRebuild& operator=(const DeltaRebuild&) = delete;

  // Up to n rebuilt bytes into `buffer`: the count, 0 when the whole file
  // was handed out and found right, negative (kDelta...) on failure; a
  // failure stays.
  int32_t Read(void* buffer, int32_t n);
  // Takes the next n bytes of the delta proper and hands what they rebuild
  // to `out`: 0 or a kDelta code (kDeltaWriteFailed when `out` stopped);
  // a failure stays.
  int32_t Feed(const void* bytes, size_t n, const DeltaSink& out);
  // Ends the delta: hands out the last rebuilt bytes and checks the whole.
  int32_t Finish(const DeltaSink& out);
  bool Done() const { return done_; }
  uint32_t produced() const { return produced_; }

 private:
  struct Job;
  int32_t Fail(int32_t code);
  // Counts and digests `n` rebuilt bytes; with `finished`, checks the
  // whole. 0 or a failure.
  int32_t Account(const void* bytes, size_t n, bool finished);
  // Runs the job over the input set in its buffers until it wants more
  // (or, with `end`, until it is done), handing its output to `out`.
  int32_t Pass(const DeltaSink& out, bool end);

  VirtualFile* delta_;
  VirtualFile* basis_;
  DeltaHeader header_;
  Job* job_ = nullptr;
  uint32_t produced_ = 0;
  bool done_ = false;
  int32_t failure_ = 0;
};

// Rebuilds the whole new file into `sink`: reads the header from `delta`,
// checks `basis`, and streams. `progress`, when given, sees the bytes
// written so far and stops the rebuild with a non-zero answer.
int32_t ApplyDelta(VirtualFile* delta, VirtualFile* basis, VirtualFile* sink,
                   const std::function<int(uint32_t)>& progress = {});

// The text of a delta result code.
const char* DeltaResultText(int32_t code);

}  // namespace marrowgate

#endif  // MARROWGATE_TRANSFER_DELTA_DELTA_ITEM_H_
