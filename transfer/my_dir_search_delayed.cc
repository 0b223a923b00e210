#include "transfer/my_dir_search_delayed.h"

#include "transfer/staged_target.h"
#include "util/safe_path.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "platform/env.h"

namespace marrowgate {
namespace {

constexpr char kOnFileName[] = "delayed_dircp::DoIt::MyDirSearchDelayed::ActionOnFile";
constexpr char kOnFilesName[] = "delayed_dircp::DoIt::MyDirSearchDelayed::ActionOnDelayedFiles";

void Debug(const char* format, const char* where, const char* what) {
  char text[1024];
  std::snprintf(text, sizeof text, format, where, what);
  platform::DebugOutput(text);
}

}  // namespace

MyDirSearchDelayed::MyDirSearchDelayed(const DIRCP_PARAM_T& params, HeldBackNames names,
                                       const char* last_name)
    : MyDirSearch(params), names_(names), last_name_(last_name) {
  if (last_name_ != nullptr) delayed_set_.Insert(last_name_);
  if (names_ == nullptr) return;
  for (HeldBackNames name = names_; *name != nullptr; ++name) delayed_set_.Insert(*name);
}

int32_t MyDirSearchDelayed::ActionOnFile(const char* name) {
  std::string source_path, relative, target;
  int32_t code = 0;
  if (!PrepareListedFile(name, &source_path, &relative, &target, &code)) return code;
  if (delayed_set_.size() != 0 && delayed_set_.Contains(relative.substr(1))) {
    Debug("in %s,filedelayed,ignore %s when process", kOnFileName, name);
    held_back_ = true;
    return 0;
  }
  CopySource source;
  if (!OpenSource(source_path, &source))
    return SendError(kNotifyCanNotOpen, kTextCanNotOpen, source_path) != 0 ? kFileOpenStopped : 0;
  Debug("in %s,filedelayed, process file %s", kOnFileName, relative.c_str());
  return CopyOpenedFile(&source, source_path, target);
}

int32_t MyDirSearchDelayed::ActionOnDelayedFile(const char* name) {
  const char* suffix = params_.szDstSuffix != nullptr ? params_.szDstSuffix : "";
  std::string below = std::string(name) + suffix;
  if (!IsContainedRelativePath(below) || HasStagingComponent(below)) return RefuseUnsafe(below);
  std::string source_path = std::string(params_.szSrcDir) + "/" + name;
  if (source_path.size() > static_cast<size_t>(kMaxPath)) return RefuseTooLong(source_path);
  std::string target_path = std::string(params_.szDstDir) + "/" + below;
  if (target_path.size() > static_cast<size_t>(kMaxPath)) return RefuseTooLong(target_path);
  CopySource source;
  if (!OpenSource(source_path, &source)) {
    // A listed file the source lacks is passed over; one it holds but
    // cannot give (a damaged item) is an error like any other file's.
    FileInfo info;
    if (params_.pSrcFM->Stat(source_path.c_str(), &info) != 0) return 0;
    return SendError(kNotifyCanNotOpen, kTextCanNotOpen, source_path) != 0 ? kFileOpenStopped : 0;
  }
  int32_t r = CopyOpenedFile(&source, source_path, target_path);
  // A held-back file is in place before the next one is copied.
  int32_t placed = CommitStaged();
  return r != 0 ? r : placed;
}

int32_t MyDirSearchDelayed::ActionOnDelayedFiles() {
  if (!held_back_) return 0;
  PlaceEachFile();
  auto copy = [this](const char* name) -> int32_t {
    Debug("in %s,filedelayed,process %s ", kOnFilesName, name);
    int32_t r = ActionOnDelayedFile(name);
    if (r == 0) return 0;
    return r < INT32_MIN + kDelayedOffset ? INT32_MIN : r - kDelayedOffset;
  };
  for (HeldBackNames name = names_; name != nullptr && *name != nullptr; ++name) {
    if (last_name_ != nullptr && std::strcmp(*name, last_name_) == 0) continue;
    int32_t r = copy(*name);
    if (r != 0) return r;
  }
  if (last_name_ == nullptr) return 0;
  if (FilesLeftOut() > 0) {
    Debug("in %s,filedelayed,files were left out, %s stays as it was", kOnFilesName, last_name_);
    return 0;
  }
  return copy(last_name_);
}

}  // namespace marrowgate
