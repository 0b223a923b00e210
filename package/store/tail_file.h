// TailFile: a VirtualFile that presents the window of a host file in which
// a package is appended after the host's own content. The window is closed
// by a 64-byte TailRecord (package/store/layout.h) at the end of the host:
//
//   [host content][window: baseOffset .. baseOffset + dataSize)[record]
//
// Attaching in mode 2 (create) or 3 (update) to a host without a record
// starts a new, empty window at the host's end; Detach (or destruction)
// then writes the record after the window.
//
//   Owned<TailFile> tail(new TailFile);
//   tail->Attach(host, /*ownsHost=*/true, kOpenUpdate);
//   ... a Package over tail.get() ...
//   int result = tail->Detach();   // negative: the record was not written
//
// ProbePackage tells a plain package (1), a host with an appended package
// (2) and anything else (0) apart.
#ifndef MARROWGATE_PACKAGE_STORE_TAIL_FILE_H_
#define MARROWGATE_PACKAGE_STORE_TAIL_FILE_H_

#include <cstdint>

#include "package/file/file_system.h"
#include "package/store/layout.h"
#include "package/file/virtual_file.h"

namespace marrowgate {

class TailFile : public VirtualFile {
 public:
  TailFile() = default;

  // Binds the object to `host` in an OpenMode (1 read, 2 create, 3 update).
  // 0; -1 already attached; -2 null host; -3 invalid mode; -10 no record in
  // mode 1; -11 (any mode) a record whose window runs past the bytes before
  // it, as only a damaged or hostile host has. After -3, -10 and -11 the
  // host stays bound (unusable) and is released by Detach or destruction
  // when owned.
  // Mode 2 over an existing record empties the window (its start stays).
  int Attach(VirtualFile* host, bool ownsHost, int mode);
  // Writes the record back when the window was written: after the window,
  // and also over the last 64 bytes when the host goes on past that point
  // (an old, longer window, or bytes between the window and its old
  // record), so that a written host always ends with a readable record.
  // Flushes, and releases the
  // host when owned. 0; -1 the record could not be written after the
  // window; -2 it could not be written at the host's end; -3 the host could
  // not be flushed. The host is let go in every case.
  int Detach();

  // The window's length.
  int32_t Size() override;
  // The record's time (0 when never set).
  int32_t GetTime() override;
  // Stores the value as it is (0 stays 0). It reaches the host with the
  // record, which is written back only when the window was written: a host
  // whose window was not written is left untouched.
  int32_t SetTime(int32_t seconds) override;
  // Never hands out bytes past the end of the window.
  int32_t Read(void* buffer, int32_t n) override;
  // Within the window only, through the host's ReadExactlyAt.
  bool ReadExactlyAt(int64_t offset, void* buffer, size_t n) override;
  // A negative target becomes 0; a target past the end is allowed (for
  // writing). The host's result.
  int32_t Seek(int64_t offset, int origin) override;
  bool AtEnd() override;
  int64_t Tell() override;
  int32_t Write(const void* buffer, int32_t n) override;
  // Flushes the host.
  int32_t Flush() override;

  bool attached() const { return host_ != nullptr; }
  const TailRecord& record() const { return record_; }

 protected:
  ~TailFile() override;

 private:
  int64_t WindowEnd() const {
    return static_cast<int64_t>(record_.baseOffset) + record_.dataSize;
  }

  int mode_ = kOpenRead;
  bool dirty_ = false;
  bool ownsHost_ = false;
  VirtualFile* host_ = nullptr;
  TailRecord record_;
};

// With `file` at any position: 1 when it starts with a valid PackageHeader,
// 2 when it carries a TailRecord whose window starts with one, 0 otherwise
// (also for a window that holds another host with a window).
int ProbePackage(VirtualFile* file);
// ProbePackage of the file at `path` opened for reading through
// `fileSystem`; -1 when it cannot be opened.
int ProbePackageFile(FileSystem* fileSystem, const char* path);

}  // namespace marrowgate

#endif  // MARROWGATE_PACKAGE_STORE_TAIL_FILE_H_
