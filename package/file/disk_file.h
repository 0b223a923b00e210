// DiskFile: a VirtualFile over a file on the local disk (a buffered stream
// with 64-bit positions).
//
// The size is found at open (from the file's status) and kept up to date
// by writes. Switching
// between reading and writing repositions the stream first, as buffered
// streams require. A time given to SetTime is applied to the file (access
// and modification time) when the object is released. Flush puts the
// written bytes on the storage device (not only in the system's cache).
#ifndef MARROWGATE_PACKAGE_FILE_DISK_FILE_H_
#define MARROWGATE_PACKAGE_FILE_DISK_FILE_H_

#include <cstdint>
#include <memory>
#include <string>

#include "package/file/virtual_file.h"
#include "platform/env.h"
#include "platform/file_identity.h"

namespace marrowgate {

class DiskFile : public VirtualFile {
 public:
  // Opens `path` with a stream mode text ("rb", "wb+", "rb+"). Null when
  // the file cannot be opened, its size cannot be found, or the path is
  // longer than the system takes.
  static DiskFile* Open(const char* path, const char* streamMode);

  int32_t Size() override;
  // Modification time of the open file as unsigned 32-bit seconds in the
  // int32_t (0 when it cannot be read or lies before 1970).
  int32_t GetTime() override;
  // Remembers the time (unsigned 32-bit seconds; 0 = now) to apply when
  // the file is closed.
  int32_t SetTime(int32_t seconds) override;
  int32_t Read(void* buffer, int32_t n) override;
  int32_t Seek(int64_t offset, int origin) override;
  bool AtEnd() override;
  int64_t Tell() override;
  int32_t Write(const void* buffer, int32_t n) override;
  int32_t Flush() override;
  intptr_t NativeHandle() override;
  int32_t FlushBuffers() override;
  // A positioned read: the stream's position stays where it was.
  bool ReadExactlyAt(int64_t offset, void* buffer, size_t n) override;

  const std::string& path() const { return path_; }
  // The identity of the open file, the same whatever path opened it; false
  // when it cannot be read.
  bool Identity(platform::FileIdentity* identity) const;

 protected:
  ~DiskFile() override;

 private:
  DiskFile(std::unique_ptr<platform::FileStream> stream, std::string path, int64_t size);

  std::unique_ptr<platform::FileStream> stream_;
  std::string path_;
  int64_t size_;
  int64_t timeAtClose_ = 0;  // 0: leave the file's times alone
  bool lastWasRead_ = false;
  bool lastWasWrite_ = false;
  // The stream's position as the reads, writes and seeks made it, so that
  // neither a seek to it nor Tell needs a call; -1 when not known (the
  // stream is then asked). Not kept in append mode (trackPosition_ false).
  int64_t position_ = 0;
  bool trackPosition_ = true;
};

}  // namespace marrowgate

#endif  // MARROWGATE_PACKAGE_FILE_DISK_FILE_H_
