// CopySource: what the copy engines read one file from. A package item of
// a FileManager in a packages-first search mode (1 or 3) is read as it is
// stored and unsealed on the way by an Unsealer, in memory that does not
// grow with the item; anything else is a VirtualFile of the source side
// read block by block. Either way the content's MD5 is known at the end:
// an item's is its stored digest (checked by the unsealing), another's
// is computed while it is read.
#ifndef MARROWGATE_TRANSFER_COPY_SOURCE_H_
#define MARROWGATE_TRANSFER_COPY_SOURCE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "package/file/file_system.h"
#include "package/seal/sealed_file.h"
#include "package/seal/unsealer.h"
#include "transfer/delta/delta_source.h"
#include "util/md5.h"
#include "util/releaser.h"

namespace marrowgate {

// Takes the next piece of content; false stops the reading.
using CopySink = std::function<bool(const uint8_t* bytes, size_t n)>;

class CopySource {
 public:
  // Results of Pump.
  static constexpr int kPumped = 0;
  static constexpr int kReadFailed = -1;  // the source failed or is damaged
  static constexpr int kSinkStopped = -2;

  // Opens `path` of `fs`. False when it cannot be opened (for an item:
  // not even its header reads).
  bool Open(FileSystem* fs, const std::string& path);

  // Reads `file` from now on, as a plain file (a stream made from another
  // source, such as a rebuilt delta target).
  void Adopt(Owned<VirtualFile> file) {
    raw_.reset();
    item_ = false;
    unsealed_.reset();
    file_ = std::move(file);
  }

  // Lets go of the source (and the package item).
  void Close() {
    file_.reset();
    raw_.reset();
    item_ = false;
    rebuild_.reset();
    unsealed_.reset();
  }

  // Opens the item `path` of `fs` (a FileManager reading packages first)
  // from its content, unsealed elsewhere from its stored form (`header` is
  // the one it was unsealed under, its digest checked), in the slices it
  // came in. Pump then hands those slices over; the item itself is opened
  // only if it is read again. False (nothing opened) when the content does
  // not match `header`.
  bool OpenUnsealed(FileSystem* fs, const std::string& path, const SealHeader& header,
                    std::vector<uint8_t> content, std::vector<uint32_t> slices);

  // Up to n bytes from the start of the content, read without using it
  // up: the count (fewer at the end), or -1 when the source fails.
  int32_t ReadHead(Unsealer* unsealer, uint8_t* into, size_t n);

  // From now on the content read goes through `stream` (a delta item
  // rebuilding its target), and what comes out is the content: its size
  // and stored digest are the rebuilt file's.
  void Rebuild(std::unique_ptr<DeltaTargetStream> stream) { rebuild_ = std::move(stream); }

  bool streamed() const { return item_; }
  int32_t Size();
  int32_t Time();
  // The stored digest of an item, known before it is read; false for a
  // plain file (whose MD5 is known only after Pump).
  bool StoredDigest(uint8_t digest[16]) const;

  // Hands the whole content to `sink`; `buffer` is the block buffer of a
  // plain file, `unsealer` the one used for items. On kPumped, `digest`
  // holds the MD5 of what the sink took.
  int Pump(std::vector<char>* buffer, Unsealer* unsealer, const CopySink& sink,
           uint8_t digest[16]);

 private:
  // The item's stored form, opened at once by Open and on first need
  // after OpenUnsealed; false when it cannot be, or its header is not the
  // one the content came with.
  bool OpenRaw();

  Owned<VirtualFile> file_;
  // A package item: where it is, and its stored form once opened.
  bool item_ = false;
  FileSystem* item_fs_ = nullptr;
  std::string item_path_;
  Owned<VirtualFile> raw_;
  SealParams codecs_;
  SealHeader header_;
  std::unique_ptr<DeltaTargetStream> rebuild_;
  struct Unsealed {
    std::vector<uint8_t> content;
    std::vector<uint32_t> slices;
  };
  std::unique_ptr<Unsealed> unsealed_;
};

}  // namespace marrowgate

#endif  // MARROWGATE_TRANSFER_COPY_SOURCE_H_
