#include "transfer/my_dir_search.h"

#include "package/file/memory_file.h"
#include "transfer/delta/delta_source.h"
#include "transfer/staged_target.h"
#include "platform/file_tree.h"
#include "platform/path_within.h"
#include "platform/write_check.h"
#include "util/safe_path.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

namespace marrowgate {

namespace {

// The system's words for the write that just failed (after
// platform::ClearSystemError() before it).
std::string WriteFailureReason() {
  std::string reason = platform::RecordedSystemError();
  return reason.empty() ? std::string(kReasonUnknown) : reason;
}

// True when `path` lies below the folder `folder`.
bool IsBelowFolder(const std::string& path, const std::string& folder) {
  return path.size() > folder.size() + 1 && path.compare(0, folder.size(), folder) == 0 &&
         (path[folder.size()] == '/' || path[folder.size()] == '\\');
}

}  // namespace

bool DirCopyParamsValid(const DIRCP_PARAM_T& params) {
  return params.pSrcFM != nullptr && params.pDstFM != nullptr && params.szSrcDir != nullptr &&
         params.szDstDir != nullptr && params.pNotify != nullptr && params.nBufSize > 0;
}

MyDirSearch::MyDirSearch(const DIRCP_PARAM_T& params)
    : DirSearch(params.pSrcFM), params_(params), buffer_(static_cast<size_t>(params.nBufSize)) {
  SetStopText(params.szStop);
  if (params.ppszExcludeNames != nullptr) {
    for (const char* const* name = params.ppszExcludeNames; *name != nullptr; ++name) {
      // A name never copied is not rebuilt from a delta item either.
      if (AddExcludedName(*name) < 0 || AddExcludedName(DeltaNameFor(*name).c_str()) < 0)
        throw std::bad_alloc();
      std::string path;
      if (NormaliseListName(*name, &path)) {
        excluded_paths_.push_back(DeltaNameFor(path));
        excluded_paths_.push_back(std::move(path));
      }
    }
  }
  // A trailing "|" only ends the list early; the entries before it apply.
  SetExcludedSuffixes(params.szExcludeSuffixes);
  read_ahead_ = std::make_unique<CopyReadAhead>(
      params.pSrcFM, [this](const char* name) { return PassesFilters(name); }, CopyWorkerCount());
}

bool MyDirSearch::ExcludedPath(std::string_view below) const {
  for (const std::string& path : excluded_paths_) {
    if (below.size() == path.size() && ListNameBeginsWith(below, path)) return true;
  }
  return false;
}

int32_t MyDirSearch::SendError(int32_t code, const char* format, const std::string& arg) {
  char text[1024];
  std::snprintf(text, sizeof text, format, arg.c_str());
  int32_t answer = params_.pNotify->cb_ERROR(code, text);
  if (answer == 0) ++files_left_out_;
  return answer;
}

int32_t MyDirSearch::SendError(int32_t code, const char* format, const std::string& arg,
                               const std::string& reason) {
  char text[1024];
  std::snprintf(text, sizeof text, format, arg.c_str(), reason.c_str());
  int32_t answer = params_.pNotify->cb_ERROR(code, text);
  if (answer == 0) ++files_left_out_;
  return answer;
}

int32_t MyDirSearch::RefuseTarget(const std::string& target, const std::string& written,
                                  int32_t stop_code) {
  // The system's words for what stands in the way; on the package side, or
  // when nothing can be seen, those of the failed call.
  std::string reason = params_.pDstFM->WritesToDisk(written.c_str())
                           ? platform::WriteBlockedReason(written.c_str())
                           : std::string();
  if (reason.empty() && written != target && params_.pDstFM->WritesToDisk(target.c_str()))
    reason = platform::WriteBlockedReason(target.c_str());
  if (reason.empty()) reason = kReasonUnknown;
  return SendError(kNotifyWriteError, kTextCanNotWrite, target, reason) != 0 ? stop_code : 0;
}

int32_t MyDirSearch::RefuseUnsafe(const std::string& relative) {
  return SendError(kNotifyUnsafePath, kTextUnsafePath, relative) != 0 ? kFileUnsafeStopped : 0;
}

int32_t MyDirSearch::RefuseTooLong(const std::string& path) {
  return SendError(kNotifyPathTooLong, kTextPathTooLong, path) != 0 ? kFileOpenStopped : 0;
}

int32_t MyDirSearch::ActionOnDir(const char* name) {
  size_t length = std::strlen(CurrentFolder()) + 1 + std::strlen(name);
  if (length > static_cast<size_t>(kMaxPath)) {
    SendError(kNotifyPathTooLong, kTextPathTooLong, std::string(CurrentFolder()) + "/" + name);
  }
  return 0;
}

int32_t MyDirSearch::ActionOnEnterDir(const char* path) {
  if (params_.pNotify->cb_ENTERDIR(path) != 0) return -1;
  return CheckTargetFolderInside(path);
}

int32_t MyDirSearch::CheckTargetFolderInside(const char* path) {
  if (std::strlen(path) <= RootLength()) return 0;  // the root itself
  const std::string relative(path + RootLength());
  const std::string target = std::string(params_.szDstDir) + relative;
  if (!params_.pDstFM->WritesToDisk(target.c_str())) return 0;
  std::string resolved;
  // A folder not there yet is made as a folder when a file needs it.
  if (!platform::ResolvedPath(target.c_str(), &resolved, nullptr)) return 0;
  if (resolved_root_.empty() &&
      !platform::ResolvedPath(params_.szDstDir, &resolved_root_, nullptr))
    resolved_root_.clear();
  if (!resolved_root_.empty() && platform::PathIsAtOrBelow(resolved, resolved_root_)) return 0;
  RefuseUnsafe(relative.substr(1));
  return -1;
}

int32_t MyDirSearch::ActionOnLeaveDir(const char* path) {
  return params_.pNotify->cb_LEAVEDIR(path) != 0 ? -1 : 0;
}

bool MyDirSearch::PrepareListedFile(const char* name, std::string* source_path,
                                    std::string* relative, std::string* target, int32_t* code) {
  const char* source = ComposeEntryPath(name);
  if (source == nullptr) {
    *code = RefuseTooLong(std::string(CurrentFolder()) + "/" + name);
    return false;
  }
  // The source path is the current folder, which begins with the root, then
  // "/" and the name: the relative part begins with "/".
  std::string rel(source + RootLength());
  rel.resize(rel.size() - std::min<size_t>(params_.nCutTail, rel.size()));
  const char* suffix = params_.szDstSuffix != nullptr ? params_.szDstSuffix : "";
  std::string below = (rel.empty() ? std::string() : rel.substr(1)) + suffix;
  if (rel.empty() || !IsContainedRelativePath(below) || HasStagingComponent(below)) {
    *code = RefuseUnsafe(std::string(source + RootLength()) + suffix);
    return false;
  }
  if (ExcludedPath(rel.substr(1))) {
    *code = 0;
    return false;
  }
  std::string dst = std::string(params_.szDstDir) + rel + suffix;
  if (dst.size() > static_cast<size_t>(kMaxPath)) {
    *code = RefuseTooLong(dst);
    return false;
  }
  *source_path = source;
  FileInfo info;
  if (params_.pSrcFM->Stat(source, &info) < 0) {
    *code = kFileStatFailed;
    return false;
  }
  if ((params_.byFlags & kCopySkipReadOnly) && (info.flags & kFileInfoReadOnly)) {
    params_.pNotify->cb_READONLY(source);
    *code = 0;
    return false;
  }
  *relative = std::move(rel);
  *target = std::move(dst);
  return true;
}

int32_t MyDirSearch::ActionOnFile(const char* name) {
  std::string source_path, relative, target;
  int32_t code = 0;
  if (!PrepareListedFile(name, &source_path, &relative, &target, &code)) return code;
  CopySource source;
  if (!OpenSource(source_path, &source))
    return SendError(kNotifyCanNotOpen, kTextCanNotOpen, source_path) != 0 ? kFileOpenStopped : 0;
  return CopyOpenedFile(&source, source_path, target);
}

bool MyDirSearch::OpenSource(const std::string& source_path, CopySource* source) {
  read_ahead_->After(source_path);
  // An item unsealed ahead needs no opening of its own.
  return read_ahead_->Take(source_path, source) || source->Open(params_.pSrcFM, source_path);
}

void MyDirSearch::SweepStagingLeftovers(const std::string& folder) {
  if (!swept_folders_.insert(folder).second) return;
  RemoveLeftoverStagingFiles(params_.pDstFM, folder);
}

MyDirSearch::~MyDirSearch() {
  for (StagedFile& staged : batch_) {
    staged.file.reset();
    params_.pDstFM->DeleteFile(staged.staging.c_str());
  }
  for (const NewFolder& folder : new_folders_) params_.pDstFM->RemoveTree(folder.staging.c_str());
}

MyDirSearch::NewFolder* MyDirSearch::NewFolderFor(const std::string& target) {
  NewFolder* found = nullptr;
  for (NewFolder& folder : new_folders_) {
    if (IsBelowFolder(target, folder.target)) {
      found = &folder;
      folder.walk_left = false;
    } else {
      folder.walk_left = true;
    }
  }
  if (found != nullptr) return found;
  const std::string parent = FolderPartOf(target);
  if (parent == folder_on_disk_) return nullptr;
  FileSystem* destination = params_.pDstFM;
  const std::string root = params_.szDstDir;
  // The topmost missing folder of the path below the root, and what holds it.
  std::string missing;
  std::string holder = parent;
  FileInfo info;
  bool held = false;
  while (holder.size() > root.size() && IsBelowFolder(holder, root)) {
    if (destination->Stat(holder.c_str(), &info) == 0) {
      held = true;
      break;
    }
    missing = holder;
    holder = FolderPartOf(holder);
  }
  if (missing.empty()) {
    folder_on_disk_ = parent;
    return nullptr;
  }
  // What holds it must be a folder, not a link to one (the target folder
  // check stands guard there) nor the missing root itself.
  if ((!held && destination->Stat(holder.c_str(), &info) != 0) ||
      (info.flags & kFileInfoFolder) == 0 || (info.flags & kFileInfoLink) != 0)
    return nullptr;
  SweepStagingLeftovers(holder);
  const std::string staging = StagingPathFor(missing);
  if (staging.size() != missing.size() + std::strlen(kStagingSuffix) ||
      destination->Exists(staging.c_str()) || destination->MakeFolder(staging.c_str()) != 0)
    return nullptr;
  NewFolder& made = new_folders_.emplace_back();
  made.staging = staging;
  made.target = missing;
  made.closes_files = WatchFolder(holder);
  return &made;
}

void MyDirSearch::PlaceNewFolders(bool all, int32_t* result) {
  FileSystem* destination = params_.pDstFM;
  auto give_up = [&](const std::string& target) {
    if (SendError(kNotifyWriteError, kTextWriteErrorWithReason, target, WriteFailureReason()) !=
            0 &&
        *result == 0)
      *result = kFileWriteStopped;
  };
  for (auto folder = new_folders_.begin(); folder != new_folders_.end();) {
    if (!all && !folder->walk_left) {
      ++folder;
      continue;
    }
    std::vector<const WrittenFile*> in_place;
    if (destination->MoveFolderToFreeName(folder->staging.c_str(), folder->target.c_str()) == 0) {
      NoteUnsettled(FolderPartOf(folder->target));
      for (const WrittenFile& file : folder->placed) in_place.push_back(&file);
    } else {
      // The name was taken meanwhile, or the file system has no such
      // move: each file goes to its name as a staged file does.
      for (const WrittenFile& file : folder->placed) {
        const std::string from = folder->staging + file.target.substr(folder->target.size());
        platform::ClearSystemError();
        if (destination->MakeParentFolder(file.target.c_str()) < 0 ||
            destination->ReplaceFileUnsynced(from.c_str(), file.target.c_str()) != 0) {
          give_up(file.target);
          continue;
        }
        NoteUnsettled(FolderPartOf(file.target));
        in_place.push_back(&file);
      }
      destination->RemoveTree(folder->staging.c_str());
    }
    for (const WrittenFile* file : in_place)
      params_.pNotify->cb_VERIFIED(file->target.c_str(), file->size, file->digest.data(), 0);
    folder = new_folders_.erase(folder);
  }
}

void MyDirSearch::NoteUnsettled(const std::string& folder) {
  if (std::find(unsettled_folders_.begin(), unsettled_folders_.end(), folder) ==
      unsettled_folders_.end())
    unsettled_folders_.push_back(folder);
}

bool MyDirSearch::TargetIsIdentical(const std::string& target, const FileInfo& existing,
                                    int32_t size, const uint8_t digest[16], int32_t time) {
  FileSystem* destination = params_.pDstFM;
  // A link is replaced by the file, never read through.
  if (existing.size != size ||
      (existing.flags & (kFileInfoFolder | kFileInfoReadOnly | kFileInfoLink)) != 0)
    return false;
  uint8_t found[16];
  {
    Owned<VirtualFile> file(destination->Open(target.c_str(), kOpenRead));
    if (!file || file->Size() != size) return false;
    Md5 md5;
    Md5Init(&md5);
    int64_t total = 0;
    while (!file->AtEnd()) {
      int32_t n = file->Read(buffer_.data(), params_.nBufSize);
      if (n == 0) break;
      if (n < 0) return false;
      Md5Update(&md5, buffer_.data(), static_cast<size_t>(n));
      total += n;
    }
    if (total != size) return false;
    Md5Final(&md5, found);
  }
  if (std::memcmp(found, digest, 16) != 0) return false;
  if ((params_.byFlags & kCopyFileTimes) && existing.time != time) {
    // Only the time changes; a target whose time cannot be set is still
    // the right content.
    Owned<VirtualFile> file(destination->Open(target.c_str(), kOpenUpdate));
    if (file) file->SetTime(time);
  }
  return true;
}

int32_t MyDirSearch::CommitStaged() { return PlaceBatch(true); }

int32_t MyDirSearch::PlaceBatch(bool settle) {
  FileSystem* destination = params_.pDstFM;
  if (batch_.empty()) {
    // Every file of a new folder was put on the device by its own batch.
    int32_t result = 0;
    PlaceNewFolders(settle, &result);
    if (settle) SettleMoves();
    return result;
  }
  std::vector<StagedFile> batch;
  batch.swap(batch_);
  batch_targets_.clear();
  batch_bytes_ = 0;
  batch_open_files_ = 0;
  int32_t result = 0;
  auto give_up = [&](StagedFile& staged) {
    // Taken before the clean-up's own calls.
    const std::string reason = WriteFailureReason();
    staged.file.reset();
    destination->DeleteFile(staged.staging.c_str());
    if (SendError(kNotifyWriteError, kTextWriteErrorWithReason, staged.target, reason) != 0 &&
        result == 0)
      result = kFileWriteStopped;
    staged.target.clear();
  };
  // 1. Every staged file on the device: its buffers to the system, then
  // one sync of the file system, or where there is none a flush per file.
  std::vector<std::string> folders;
  for (StagedFile& staged : batch) {
    platform::ClearSystemError();
    if (staged.file && staged.file->FlushBuffers() != 0) {
      give_up(staged);
      continue;
    }
    // A batch's files come folder by folder: only a change of folder is
    // looked up.
    const size_t folder_end = staged.staging.find_last_of("/\\");
    const std::string_view folder(staged.staging.data(),
                                  folder_end == std::string::npos ? 0 : folder_end);
    if ((folders.empty() || folders.back() != folder) &&
        std::find(folders.begin(), folders.end(), folder) == folders.end())
      folders.emplace_back(folder);
  }
  // The sync also settles the moves of the batches before this one.
  std::vector<std::string> synced = folders;
  for (const std::string& folder : unsettled_folders_)
    if (std::find(synced.begin(), synced.end(), folder) == synced.end()) synced.push_back(folder);
  const bool together = !folders.empty() && destination->SyncFileSystemsOf(synced) == 0;
  if (together) {
    unsettled_folders_.clear();
  } else {
    SettleMoves();
  }
  // Closed last opened first: the C library keeps its open streams in a
  // list newest first, so each close finds its own at the head.
  for (auto staged = batch.rbegin(); staged != batch.rend(); ++staged) {
    if (staged->target.empty()) continue;
    platform::ClearSystemError();
    if (!together &&
        (staged->file ? staged->file->Flush() != 0 : !FlushClosedFile(staged->staging))) {
      give_up(*staged);
      continue;
    }
    staged->file.reset();
  }
  // 2. Each over its target; 3. the folders' new entries on the device.
  for (StagedFile& staged : batch) {
    if (staged.target.empty()) continue;
    if (staged.in_new_folder) {
      // Moved with its folder.
      for (NewFolder& folder : new_folders_) {
        if (!IsBelowFolder(staged.target, folder.target)) continue;
        folder.placed.push_back({staged.target, staged.size, staged.digest});
        break;
      }
      continue;
    }
    platform::ClearSystemError();
    const int moved =
        staged.target_was_free
            ? destination->ReplaceFreeNameUnsynced(staged.staging.c_str(), staged.target.c_str())
            : destination->ReplaceFileUnsynced(staged.staging.c_str(), staged.target.c_str());
    if (moved != 0) {
      give_up(staged);
      continue;
    }
    NoteUnsettled(FolderPartOf(staged.target));
  }
  PlaceNewFolders(settle, &result);
  if (settle) SettleMoves();
  for (const StagedFile& staged : batch) {
    if (staged.target.empty() || staged.in_new_folder) continue;
    params_.pNotify->cb_VERIFIED(staged.target.c_str(), staged.size, staged.digest.data(), 0);
  }
  return result;
}

bool MyDirSearch::FlushClosedFile(const std::string& path) {
  Owned<VirtualFile> reopened(params_.pDstFM->Open(path.c_str(), kOpenUpdate));
  return reopened && reopened->Flush() == 0;
}

bool MyDirSearch::WatchFolder(const std::string& folder) {
  auto [known, added] = watched_folders_.emplace(folder, false);
  if (added) known->second = params_.pDstFM->WatchFileSystemOf(folder.c_str()) == 0;
  return known->second;
}

void MyDirSearch::SettleMoves() {
  if (unsettled_folders_.empty()) return;
  FileSystem* destination = params_.pDstFM;
  // A folder that cannot be synced (some file systems refuse) does not
  // undo its moves.
  if (destination->SyncFileSystemsOf(unsettled_folders_) != 0) {
    for (const std::string& folder : unsettled_folders_) destination->SyncFolder(folder.c_str());
  }
  unsettled_folders_.clear();
}

int32_t MyDirSearch::OpenDeltaItem(CopySource* source, const std::string& source_path,
                                   std::string* target_path, bool* opened) {
  const std::string item_target = *target_path;
  if (!unsealer_) unsealer_ = std::make_unique<Unsealer>();
  uint8_t head[kDeltaHeaderSize];
  const int32_t got = source->ReadHead(unsealer_.get(), head, sizeof head);
  std::unique_ptr<DeltaTargetStream> stream;
  Owned<VirtualFile> current;
  const int32_t code = got < 0 ? kDeltaReadFailed
                               : OpenDeltaTarget(head, static_cast<size_t>(got), params_.pDstFM,
                                                 target_path, &stream, &current);
  switch (code) {
    case 0:
      if (current) {
        source->Adopt(std::move(current));
      } else {
        source->Rebuild(std::move(stream));
      }
      *opened = true;
      return 0;
    case kDeltaBadTarget:
      return RefuseUnsafe(item_target.substr(std::min(item_target.size(), std::strlen(params_.szDstDir) + 1)));
    case kDeltaBasisDiffers: {
      // The whole new file, when the patch carries it, instead.
      const std::string full = DeltaFullNameFor(DeltaTargetOf(source_path));
      source->Close();
      if (params_.pSrcFM->Exists(full.c_str()) && source->Open(params_.pSrcFM, full)) {
        *opened = true;
        return 0;
      }
      return SendError(kNotifyDeltaBasisDiffers, kTextDeltaBasisDiffers, *target_path) != 0
                 ? kFileOpenStopped
                 : 0;
    }
    default:
      return SendError(kNotifyReadError, kTextReadError, source_path) != 0 ? kFileReadStopped : 0;
  }
}

int32_t MyDirSearch::HoldSourceInMemory(CopySource* source, const std::string& source_path,
                                        bool* opened) {
  // A package item is sealed whole when it is released, whatever was
  // written into it, and opening it for writing drops the old content: the
  // source (an item judged by its digest, a rebuilt delta target judged by
  // size and MD5, a plain file read to its end) is read whole first, so a
  // damaged source leaves the item as it was.
  const int32_t time = source->Time();
  const int32_t size = source->Size();
  Owned<MemoryFile> rebuilt(new MemoryFile);
  if (size > 0) rebuilt->mutable_bytes().reserve(static_cast<size_t>(size));
  uint8_t digest[16];
  if (!unsealer_ && source->streamed()) unsealer_ = std::make_unique<Unsealer>();
  const int pumped = source->Pump(
      &buffer_, unsealer_.get(),
      [&](const uint8_t* bytes, size_t n) {
        rebuilt->mutable_bytes().insert(rebuilt->mutable_bytes().end(), bytes, bytes + n);
        return true;
      },
      digest);
  source->Close();
  if (pumped != CopySource::kPumped)
    return SendError(kNotifyReadError, kTextReadError, source_path) != 0 ? kFileReadStopped : 0;
  rebuilt->SetTime(time);
  source->Adopt(Owned<VirtualFile>(rebuilt.release()));
  *opened = true;
  return 0;
}

int32_t MyDirSearch::CopyOpenedFile(CopySource* source, const std::string& source_path,
                                    const std::string& listed_target) {
  // A delta item stands for its target and copies as the target's rebuilt
  // content (transfer/delta/delta_source.h), read like a plain file.
  std::string target_path = listed_target;
  // A full file beside a delta item is taken only through the delta item.
  if (IsDeltaFullName(target_path) && !DeltaFullTargetOf(target_path).empty()) {
    source->Close();
    return 0;
  }
  if (IsDeltaName(target_path)) {
    bool opened = false;
    int32_t code = OpenDeltaItem(source, source_path, &target_path, &opened);
    if (!opened) return code;
  }
  CPackNotify* notify = params_.pNotify;
  FileSystem* destination = params_.pDstFM;
  const int32_t size = source->Size();
  if (notify->cb_FILEBEGIN(source_path.c_str(), target_path.c_str(), size) != 0)
    return kFileRefused;
  // A disk target is written under its staging name and replaces the old
  // file only once complete, or under its own name in a new folder, which
  // is moved to its name whole (transfer/staged_target.h).
  const bool staged = destination->WritesToDisk(target_path.c_str());
  std::string write_path = target_path;
  NewFolder* new_folder = staged && !place_each_ ? NewFolderFor(target_path) : nullptr;
  if (new_folder != nullptr) {
    write_path = new_folder->staging + target_path.substr(new_folder->target.size());
    // Written once already, or too long a path there: the folder is
    // placed first, and the target replaced as any other.
    if (new_folder->targets.count(target_path) != 0 ||
        write_path.size() > static_cast<size_t>(kMaxPath)) {
      new_folder->walk_left = true;
      new_folder = nullptr;
      write_path = target_path;
      const int32_t r = PlaceBatch(false);
      if (r != 0) return r;
    }
  }
  if (destination->MakeParentFolder(write_path.c_str()) < 0)
    return RefuseTarget(target_path, write_path, kFileNoFolders);
  bool target_was_free = false;
  // Closed once written (see below).
  bool close_now = new_folder != nullptr && new_folder->closes_files;
  if (staged && new_folder == nullptr) {
    // A read-only target or a folder in the target's place is not replaced,
    // nor is a package this run holds open. A link there is a name, replaced
    // whatever it leads to.
    FileInfo existing;
    const bool exists = !destination->NameKnownFree(target_path.c_str()) &&
                        destination->Stat(target_path.c_str(), &existing) == 0;
    target_was_free = !exists;
    if (exists && (existing.flags & kFileInfoLink) == 0 &&
        (existing.flags & (kFileInfoReadOnly | kFileInfoFolder)) != 0)
      return RefuseTarget(target_path, target_path, kFileNoTarget);
    if (destination->IsOpenPackageFile(target_path.c_str())) {
      return SendError(kNotifyWriteError, kTextCanNotWrite, target_path, kReasonPackageInUse) != 0
                 ? kFileNoTarget
                 : 0;
    }
    // Up to date already: nothing is written.
    uint8_t stored[16];
    if (exists && size >= 0 && source->StoredDigest(stored) &&
        TargetIsIdentical(target_path, existing, size, stored, source->Time())) {
      ++files_identical_;
      source->Close();
      if (notify->cb_PROGRESS(size) != 0) return kFileProgressStopped;
      notify->cb_VERIFIED(target_path.c_str(), static_cast<uint32_t>(size), stored, 1);
      return notify->cb_FILEEND() != 0 ? kFileEndStopped : 0;
    }
    // A target already waiting in the batch is placed before it is
    // staged again.
    if (batch_targets_.count(target_path) != 0) {
      int32_t r = PlaceBatch(false);
      if (r != 0) return r;
    }
    const std::string folder = FolderPartOf(target_path);
    SweepStagingLeftovers(folder);
    close_now = WatchFolder(folder) && !place_each_;
    write_path = StagingPathFor(target_path);
    if (write_path.empty()) return RefuseTooLong(target_path + kStagingSuffix);
  }
  if (!staged) {
    bool held = false;
    const int32_t code = HoldSourceInMemory(source, source_path, &held);
    if (!held) return code;
  }
  // The staging name is made afresh: whatever lies there goes as a name.
  Owned<VirtualFile> target(staged ? destination->CreateFresh(write_path.c_str())
                                   : destination->Open(write_path.c_str(), kOpenCreate));
  if (!target) return RefuseTarget(target_path, write_path, kFileNoTarget);
  if (new_folder != nullptr) new_folder->targets.insert(target_path);
  // Gives up the file: the staging file goes, the old target stays.
  auto give_up = [&](int32_t code) {
    target.reset();
    if (staged) destination->DeleteFile(write_path.c_str());
    return code;
  };
  if (!unsealer_ && source->streamed()) unsealer_ = std::make_unique<Unsealer>();
  int32_t stop = 0;
  uint32_t total = 0;
  uint8_t digest[16];
  const int pumped = source->Pump(
      &buffer_, unsealer_.get(),
      [&](const uint8_t* bytes, size_t n) {
        // The unsealer's slices may be larger than a write takes at once.
        while (n > 0) {
          const int32_t piece = static_cast<int32_t>(std::min<size_t>(n, 1u << 30));
          platform::ClearSystemError();
          if (target->Write(bytes, piece) != piece) {
            stop = SendError(kNotifyWriteError, kTextWriteErrorWithReason, target_path,
                             WriteFailureReason()) != 0
                       ? kFileWriteStopped
                       : 0;
            return false;
          }
          bytes += piece;
          n -= static_cast<size_t>(piece);
          total += static_cast<uint32_t>(piece);
          if (notify->cb_PROGRESS(static_cast<int32_t>(total)) != 0) {
            stop = kFileProgressStopped;
            return false;
          }
        }
        return true;
      },
      digest);
  if (pumped == CopySource::kSinkStopped) return give_up(stop);
  if (pumped != CopySource::kPumped) {
    // A damaged item is known only at its end: nothing of it is placed.
    return give_up(SendError(kNotifyReadError, kTextReadError, source_path) != 0
                       ? kFileReadStopped
                       : 0);
  }
  if (params_.byFlags & kCopyFileTimes) target->SetTime(source->Time());
  source->Close();
  if (!staged) {
    target.reset();
    return notify->cb_FILEEND() != 0 ? kFileEndStopped : 0;
  }
  if (close_now) {
    // Closed at once where the file system is synced whole: the batch's
    // sync puts it on the device, so it holds no handle meanwhile.
    platform::ClearSystemError();
    if (target->FlushBuffers() != 0) {
      return give_up(SendError(kNotifyWriteError, kTextWriteErrorWithReason, target_path,
                               WriteFailureReason()) != 0
                         ? kFileWriteStopped
                         : 0);
    }
    target.reset();
  } else {
    ++batch_open_files_;
  }
  StagedFile entry;
  entry.file = std::move(target);
  entry.staging = write_path;
  entry.target = target_path;
  entry.size = total;
  entry.target_was_free = target_was_free;
  entry.in_new_folder = new_folder != nullptr;
  std::memcpy(entry.digest.data(), digest, 16);
  batch_.push_back(std::move(entry));
  // (A new folder's own list catches a second write into it.)
  if (new_folder == nullptr) batch_targets_.insert(target_path);
  batch_bytes_ += total;
  // A file placed alone is in place when its cb_FILEEND comes.
  int32_t placed = place_each_ ? CommitStaged() : 0;
  int32_t end = notify->cb_FILEEND() != 0 ? kFileEndStopped : 0;
  if (end != 0) {
    placed = CommitStaged();
  } else if (batch_open_files_ >= kStagedBatchFiles || batch_bytes_ >= kStagedBatchBytes) {
    placed = PlaceBatch(false);
  }
  return end != 0 ? end : placed;
}

}  // namespace marrowgate
