// CPackNotify: the progress and error sink of the directory copy and of the
// steps around it. The sender borrows the sink. Every operation answers a
// 32-bit int; what a non-zero answer does is the sender's (for the copy
// engine see transfer/dir_copy.h). The base answers 0 everywhere, so a
// receiver overrides only what it wants to see.
#ifndef MARROWGATE_TRANSFER_PACK_NOTIFY_H_
#define MARROWGATE_TRANSFER_PACK_NOTIFY_H_

#include <cstdint>

namespace marrowgate {

struct SRCDIRSTAT_T;  // transfer/stat_dir.h

class CPackNotify {
 public:
  CPackNotify() = default;
  CPackNotify(const CPackNotify&) = delete;
  CPackNotify& operator=(const CPackNotify&) = delete;
  virtual ~CPackNotify() = default;

  // Destroys a heap-made sink; never called by the copy engine.
  virtual int32_t Release() {
    delete this;
    return 0;
  }
  // A folder is entered (source side path), the root first.
  virtual int32_t cb_ENTERDIR(const char* /*path*/) { return 0; }
  // A folder whose entries were all handled is left.
  virtual int32_t cb_LEAVEDIR(const char* /*path*/) { return 0; }
  // A file is about to be copied.
  virtual int32_t cb_FILEBEGIN(const char* /*source*/, const char* /*target*/, int32_t /*size*/) {
    return 0;
  }
  // A file was copied: the source is closed and the target written whole
  // (a disk target of the walk waits in its batch to be put in place, see
  // transfer/staged_target.h; a held-back one is in place).
  virtual int32_t cb_FILEEND() { return 0; }
  // Bytes of the current file written so far, after every block.
  virtual int32_t cb_PROGRESS(int32_t /*written*/) { return 0; }
  // A read-only source file was left out (answer ignored).
  virtual int32_t cb_READONLY(const char* /*source*/) { return 0; }
  // An error: code and text.
  virtual int32_t cb_ERROR(int32_t /*code*/, const char* /*text*/) { return 0; }
  // Information (level 0 here; answer ignored).
  virtual int32_t cb_INFO(int32_t /*level*/, const char* /*text*/) { return 0; }
  // The statistics pass succeeded; the record is valid during the call only
  // (answer ignored).
  virtual int32_t cb_SRCDIRSTAT(SRCDIRSTAT_T* /*stat*/) { return 0; }
  // A target on the disk holds content of known size and MD5 (16 bytes):
  // either it was written, checked against its source and is now in place
  // (identical 0, sent when its batch is placed: after its cb_FILEEND, but
  // before it for a held-back file, which is placed alone), or
  // it was found equal to its source and left unwritten (identical 1, sent
  // before its cb_FILEEND). Answer ignored.
  virtual int32_t cb_VERIFIED(const char* /*target*/, uint32_t /*size*/,
                              const uint8_t* /*digest*/, int32_t /*identical*/) {
    return 0;
  }
};

}  // namespace marrowgate

#endif  // MARROWGATE_TRANSFER_PACK_NOTIFY_H_
