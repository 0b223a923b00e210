#include "transfer/my_dir_search.h"

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
    for (const char* const* name = params.ppszExcludeNames; *name != nullptr; ++name)
      if (AddExcludedName(*name) < 0) throw std::bad_alloc();
  }
  // A trailing "|" only ends the list early; the entries before it apply.
  SetExcludedSuffixes(params.szExcludeSuffixes);
}

int32_t MyDirSearch::SendError(int32_t code, const char* format, const std::string& arg) {
  char text[1024];
  std::snprintf(text, sizeof text, format, arg.c_str());
  return params_.pNotify->cb_ERROR(code, text);
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
  if (rel.empty() || !IsContainedRelativePath(below)) {
    *code = RefuseUnsafe(std::string(source + RootLength()) + suffix);
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

int32_t MyDirSearch::CopyOpenedFile(Owned<VirtualFile> source, const std::string& source_path,
                                    const std::string& target_path) {
  CPackNotify* notify = params_.pNotify;
  if (notify->cb_FILEBEGIN(source_path.c_str(), target_path.c_str(), source->Size()) != 0)
    return kFileRefused;
  if (params_.pDstFM->MakeParentFolder(target_path.c_str()) < 0) return kFileNoFolders;
  Owned<VirtualFile> target(params_.pDstFM->Open(target_path.c_str(), kOpenCreate));
  if (!target) return kFileNoTarget;
  uint32_t total = 0;
  while (!source->AtEnd()) {
    int32_t n = source->Read(buffer_.data(), params_.nBufSize);
    if (n == 0) break;
    if (n < 0)
      return SendError(kNotifyReadError, kTextReadError, source_path) != 0 ? kFileReadStopped : 0;
    int32_t written = target->Write(buffer_.data(), n);
    if (written != n)
      return SendError(kNotifyWriteError, kTextWriteError, target_path) != 0 ? kFileWriteStopped
                                                                             : 0;
    total += static_cast<uint32_t>(written);
    if (notify->cb_PROGRESS(static_cast<int32_t>(total)) != 0) return kFileProgressStopped;
  }
  if (params_.byFlags & kCopyFileTimes) target->SetTime(source->GetTime());
  source.reset();
  target.reset();
  return notify->cb_FILEEND() != 0 ? kFileEndStopped : 0;
}

}  // namespace marrowgate
