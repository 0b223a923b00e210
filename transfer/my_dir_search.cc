#include "transfer/my_dir_search.h"

#include "transfer/delta/delta_source.h"
#include "transfer/staged_target.h"
#include "platform/write_check.h"
#include "util/safe_path.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace marrowgate {

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
  return params_.pNotify->cb_ENTERDIR(path) != 0 ? -1 : 0;
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
  if (rel.empty() || !IsContainedRelativePath(below) || IsStagingName(below)) {
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
  Owned<VirtualFile> source(params_.pSrcFM->Open(source_path.c_str(), kOpenRead));
  if (!source)
    return SendError(kNotifyCanNotOpen, kTextCanNotOpen, source_path) != 0 ? kFileOpenStopped : 0;
  return CopyOpenedFile(std::move(source), source_path, target);
}

void MyDirSearch::SweepStagingLeftovers(const std::string& folder) {
  if (!swept_folders_.insert(folder).second) return;
  RemoveLeftoverStagingFiles(params_.pDstFM, folder);
}

int32_t MyDirSearch::OpenDeltaItem(Owned<VirtualFile>* source, const std::string& source_path,
                                   std::string* target_path) {
  const std::string item_target = *target_path;
  switch (OpenDeltaSource(source, params_.pDstFM, target_path)) {
    case 0:
      return 0;
    case kDeltaBadTarget:
      return RefuseUnsafe(item_target.substr(std::min(item_target.size(), std::strlen(params_.szDstDir) + 1)));
    case kDeltaBasisDiffers:
      return SendError(kNotifyDeltaBasisDiffers, kTextDeltaBasisDiffers, *target_path) != 0
                 ? kFileOpenStopped
                 : 0;
    case kDeltaTargetNotOnDisk:
      return SendError(kNotifyWriteError, kTextCanNotWrite, *target_path, kReasonDeltaInPackage) !=
                     0
                 ? kFileNoTarget
                 : 0;
    default:
      return SendError(kNotifyReadError, kTextReadError, source_path) != 0 ? kFileReadStopped : 0;
  }
}

int32_t MyDirSearch::CopyOpenedFile(Owned<VirtualFile> source, const std::string& source_path,
                                    const std::string& listed_target) {
  // A delta item stands for its target and copies as the target's rebuilt
  // content (transfer/delta/delta_source.h).
  std::string target_path = listed_target;
  if (IsDeltaName(target_path)) {
    int32_t code = OpenDeltaItem(&source, source_path, &target_path);
    if (!source) return code;
  }
  CPackNotify* notify = params_.pNotify;
  FileSystem* destination = params_.pDstFM;
  if (notify->cb_FILEBEGIN(source_path.c_str(), target_path.c_str(), source->Size()) != 0)
    return kFileRefused;
  if (destination->MakeParentFolder(target_path.c_str()) < 0)
    return RefuseTarget(target_path, target_path, kFileNoFolders);
  // A disk target is written under its staging name and replaces the old
  // file only once complete (transfer/staged_target.h).
  const bool staged = destination->WritesToDisk(target_path.c_str());
  std::string write_path = target_path;
  if (staged) {
    // A read-only target or a folder in the target's place is not replaced,
    // nor is a package this run holds open.
    FileInfo existing;
    if (destination->Stat(target_path.c_str(), &existing) == 0 &&
        (existing.flags & (kFileInfoReadOnly | kFileInfoFolder)) != 0)
      return RefuseTarget(target_path, target_path, kFileNoTarget);
    if (destination->IsOpenPackageFile(target_path.c_str())) {
      return SendError(kNotifyWriteError, kTextCanNotWrite, target_path, kReasonPackageInUse) != 0
                 ? kFileNoTarget
                 : 0;
    }
    SweepStagingLeftovers(FolderPartOf(target_path));
    write_path = StagingPathFor(target_path);
    if (write_path.empty()) return RefuseTooLong(target_path + kStagingSuffix);
  }
  Owned<VirtualFile> target(destination->Open(write_path.c_str(), kOpenCreate));
  if (!target) return RefuseTarget(target_path, write_path, kFileNoTarget);
  // Gives up the file: the staging file goes, the old target stays.
  auto give_up = [&](int32_t code) {
    target.reset();
    if (staged) destination->DeleteFile(write_path.c_str());
    return code;
  };
  uint32_t total = 0;
  while (!source->AtEnd()) {
    int32_t n = source->Read(buffer_.data(), params_.nBufSize);
    if (n == 0) break;
    if (n < 0)
      return give_up(SendError(kNotifyReadError, kTextReadError, source_path) != 0
                         ? kFileReadStopped
                         : 0);
    int32_t written = target->Write(buffer_.data(), n);
    if (written != n)
      return give_up(SendError(kNotifyWriteError, kTextWriteError, target_path) != 0
                         ? kFileWriteStopped
                         : 0);
    total += static_cast<uint32_t>(written);
    if (notify->cb_PROGRESS(static_cast<int32_t>(total)) != 0)
      return give_up(kFileProgressStopped);
  }
  if (params_.byFlags & kCopyFileTimes) target->SetTime(source->GetTime());
  if (staged && target->Flush() != 0)
    return give_up(SendError(kNotifyWriteError, kTextWriteError, target_path) != 0
                       ? kFileWriteStopped
                       : 0);
  source.reset();
  target.reset();
  if (staged && destination->ReplaceFile(write_path.c_str(), target_path.c_str()) != 0) {
    destination->DeleteFile(write_path.c_str());
    return SendError(kNotifyWriteError, kTextWriteError, target_path) != 0 ? kFileWriteStopped : 0;
  }
  return notify->cb_FILEEND() != 0 ? kFileEndStopped : 0;
}

}  // namespace marrowgate
