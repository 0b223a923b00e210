// Fault injection for tests: a FileSystem and a VirtualFile wrapper that
// count the operations that change storage (write, flush, replace and
// delete) and make the N-th one fail, or stop there as a process that is
// killed would: that operation and everything after it that would change
// storage does nothing (creating or truncating files included), while
// reads go on. A test runs an operation once per N, reopens what it
// wrote, and checks that it finds the old state or the new one. Only for
// tests.
#ifndef MARROWGATE_PACKAGE_TESTING_FAULT_INJECTION_TESTING_H_
#define MARROWGATE_PACKAGE_TESTING_FAULT_INJECTION_TESTING_H_

#include <cerrno>
#include <cstdint>

#include "package/file/file_system.h"
#include "package/file/open_mode.h"
#include "package/file/virtual_file.h"

namespace marrowgate::testing_faults {

class FaultPlan {
 public:
  enum class Effect { kFail, kStop };

  // Makes the n-th counted operation from now (1-based) fail or stop;
  // n = 0 lets everything through.
  void Arm(int64_t n, Effect effect) {
    failAt_ = n;
    effect_ = effect;
    count_ = 0;
    tripped_ = false;
    stopped_ = false;
  }
  // The system error (an errno value, ENOSPC for a full disk) that an
  // operation refused leaves behind, as the real call would; 0 (the
  // default) leaves the last error as it was.
  void SetFailureError(int code) { failureError_ = code; }
  // Called before a counted operation: false when it must not happen.
  bool Allow() {
    if (stopped_) return Refuse();
    ++count_;
    if (failAt_ != 0 && count_ == failAt_) {
      tripped_ = true;
      stopped_ = effect_ == Effect::kStop;
      return Refuse();
    }
    return true;
  }
  // After a stop nothing changes storage any more.
  bool stopped() const { return stopped_; }
  // Whether the armed operation was reached.
  bool tripped() const { return tripped_; }
  int64_t count() const { return count_; }

 private:
  bool Refuse() {
    if (failureError_ != 0) errno = failureError_;
    return false;
  }

  int failureError_ = 0;
  int64_t failAt_ = 0;
  Effect effect_ = Effect::kFail;
  int64_t count_ = 0;
  bool tripped_ = false;
  bool stopped_ = false;
};

class FaultFile : public VirtualFile {
 public:
  // Takes over `inner` (releases it) when `ownsInner`.
  FaultFile(VirtualFile* inner, FaultPlan* plan, bool ownsInner = true)
      : inner_(inner), plan_(plan), ownsInner_(ownsInner) {}

  int32_t Size() override { return inner_->Size(); }
  int32_t GetTime() override { return inner_->GetTime(); }
  int32_t SetTime(int32_t seconds) override {
    return plan_->stopped() ? -1 : inner_->SetTime(seconds);
  }
  int32_t Read(void* buffer, int32_t n) override { return inner_->Read(buffer, n); }
  int32_t Seek(int64_t offset, int origin) override { return inner_->Seek(offset, origin); }
  bool AtEnd() override { return inner_->AtEnd(); }
  int64_t Tell() override { return inner_->Tell(); }
  int32_t Write(const void* buffer, int32_t n) override {
    return plan_->Allow() ? inner_->Write(buffer, n) : -1;
  }
  int32_t Flush() override { return plan_->Allow() ? inner_->Flush() : -1; }
  intptr_t NativeHandle() override { return inner_->NativeHandle(); }
  int32_t FlushBuffers() override { return plan_->Allow() ? inner_->FlushBuffers() : -1; }

 protected:
  ~FaultFile() override {
    if (ownsInner_) inner_->Release();
  }

 private:
  VirtualFile* inner_;
  FaultPlan* plan_;
  bool ownsInner_;
};

class FaultFileSystem : public FileSystem {
 public:
  // Borrows `inner`; it must outlive the wrapper.
  FaultFileSystem(FileSystem* inner, FaultPlan* plan) : inner_(inner), plan_(plan) {}

  VirtualFile* Open(const char* path, int mode) override {
    if (plan_->stopped() && mode == kOpenCreate) return nullptr;
    VirtualFile* file = inner_->Open(path, mode);
    return file == nullptr ? nullptr : new FaultFile(file, plan_);
  }
  DirListing* OpenListing(const char* path) override { return inner_->OpenListing(path); }
  DirListing* OpenDiskListing(const char* path) override { return inner_->OpenDiskListing(path); }
  int MakeFolder(const char* path) override {
    return plan_->stopped() ? -1 : inner_->MakeFolder(path);
  }
  int MakeParentFolder(const char* path) override {
    return plan_->stopped() ? -1 : inner_->MakeParentFolder(path);
  }
  bool Exists(const char* path) override { return inner_->Exists(path); }
  bool IsFolder(const char* path) override { return inner_->IsFolder(path); }
  int Stat(const char* path, FileInfo* info) override { return inner_->Stat(path, info); }
  int DeleteFile(const char* path) override {
    return plan_->Allow() ? inner_->DeleteFile(path) : -1;
  }
  int DeleteFolder(const char* path) override {
    return plan_->Allow() ? inner_->DeleteFolder(path) : -1;
  }
  int ReplaceFile(const char* from, const char* to) override {
    return plan_->Allow() ? inner_->ReplaceFile(from, to) : -1;
  }
  int ReplaceFileUnsynced(const char* from, const char* to) override {
    return plan_->Allow() ? inner_->ReplaceFileUnsynced(from, to) : -1;
  }
  int MoveFolderToFreeName(const char* from, const char* to) override {
    return plan_->Allow() ? inner_->MoveFolderToFreeName(from, to) : -1;
  }
  int RemoveTree(const char* path) override {
    return plan_->Allow() ? inner_->RemoveTree(path) : -1;
  }
  int SyncFolder(const char* path) override {
    return plan_->Allow() ? inner_->SyncFolder(path) : -1;
  }
  int SyncFileSystemsOf(const std::vector<std::string>& folders) override {
    return plan_->Allow() ? inner_->SyncFileSystemsOf(folders) : -1;
  }
  // Changes no storage: not a fault point.
  int WatchFileSystemOf(const char* path) override { return inner_->WatchFileSystemOf(path); }
  bool WritesToDisk(const char* path) override { return inner_->WritesToDisk(path); }
  // Making a fresh file is one operation (its removal of a stale entry and
  // its creation go together).
  VirtualFile* CreateFresh(const char* path) override {
    if (plan_->stopped() || !plan_->Allow()) return nullptr;
    VirtualFile* file = inner_->CreateFresh(path);
    return file == nullptr ? nullptr : new FaultFile(file, plan_);
  }

 private:
  FileSystem* inner_;
  FaultPlan* plan_;
};

}  // namespace marrowgate::testing_faults

#endif  // MARROWGATE_PACKAGE_TESTING_FAULT_INJECTION_TESTING_H_
