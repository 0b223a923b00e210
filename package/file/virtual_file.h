// VirtualFile: the one abstract file through which everything in the
// package store reads and writes: files on disk (DiskFile), items inside
// packages (EntryFile, SealedFile) and windows at the end of executables
// (TailFile).
//
// Results are integers: a count or 0 on success, a negative code on
// failure. No operation throws. A file is disposed of only through
// Release(); Owned<VirtualFile> (util/releaser.h) does that automatically.
#ifndef MARROWGATE_PACKAGE_FILE_VIRTUAL_FILE_H_
#define MARROWGATE_PACKAGE_FILE_VIRTUAL_FILE_H_

#include <cstddef>
#include <cstdint>

namespace marrowgate {

class VirtualFile {
 public:
  VirtualFile() = default;
  VirtualFile(const VirtualFile&) = delete;
  VirtualFile& operator=(const VirtualFile&) = delete;

  // Destroys the object (closing whatever it holds).
  virtual void Release() { delete this; }

  // Length of the content in bytes.
  virtual int32_t Size() = 0;
  // Modification time, seconds since 1970.
  virtual int32_t GetTime() = 0;
  // Sets the time (0 means "now" where the implementation says so).
  virtual int32_t SetTime(int32_t seconds) = 0;
  // Reads up to n bytes: the count read, 0 at the end, negative on error.
  virtual int32_t Read(void* buffer, int32_t n) = 0;
  // origin 0 start, 1 current, 2 end. 0 or a negative code.
  virtual int32_t Seek(int64_t offset, int origin) = 0;
  virtual bool AtEnd() = 0;
  virtual int64_t Tell() = 0;
  // Writes n bytes: the count written, or negative.
  virtual int32_t Write(const void* buffer, int32_t n) = 0;
  virtual int32_t Flush() = 0;
  // Writes the same n bytes `count` times: the total, or -1 at the first
  // short write.
  virtual int32_t WriteRepeated(const void* buffer, int32_t n, int32_t count);
  // MD5 of the whole content: seeks to 0 and reads to the end. 0 on success.
  virtual int32_t Digest(uint8_t digest[16]);
  // The implementation's own handle, 0 when it has none.
  virtual intptr_t NativeHandle() { return 0; }
  // Hands what the file still buffers to the system without waiting for
  // the device (a disk file's write buffer); the device is reached by
  // Flush, or for many files at once by FileSystem::SyncFileSystemsOf.
  // 0 or negative. Defaults to Flush.
  virtual int32_t FlushBuffers() { return Flush(); }

  // Reads one line into `buffer` (at most size - 1 bytes), keeping the '\n'
  // and stopping after it; always terminates. Returns the bytes stored.
  // '\r' is not removed. A size below 2 stores an empty text and returns 0.
  // A failing Read (a negative result) ends with that negative code and an
  // empty text: a damaged line is never handed out as good.
  int32_t ReadLine(char* buffer, int32_t size);

  // Reads exactly n bytes at the current position, taking them in as many
  // pieces as Read hands out. False when the file ends or a read fails
  // first (what was read stays in `buffer`).
  bool ReadExactly(void* buffer, size_t n);
  // Writes exactly n bytes, in as many pieces as Write takes. False when a
  // write fails or stores nothing.
  bool WriteExactly(const void* buffer, size_t n);

  // Reads exactly n bytes at `offset`. The position afterwards is the
  // implementation's: the default seeks and reads (so it stands after the
  // bytes read), a disk file reads in place without moving it. Callers
  // that read on at the position seek first. False as ReadExactly.
  virtual bool ReadExactlyAt(int64_t offset, void* buffer, size_t n);

 protected:
  virtual ~VirtualFile() = default;
};

}  // namespace marrowgate

#endif  // MARROWGATE_PACKAGE_FILE_VIRTUAL_FILE_H_
