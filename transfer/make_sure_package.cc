#include "transfer/make_sure_package.h"

#include "util/safe_path.h"

#include <cstdio>
#include <string>
#include <string_view>

#include "package/file/open_mode.h"

namespace marrowgate {
namespace {

using Buffer = char[kMakeSurePackageBufferSize];

// Bytes of an overlong name shown in an error text before "...".
constexpr size_t kShownNameBytes = 900;

// snprintf into the buffer; false when the text does not fit whole.
template <class... Args>
bool Format(Buffer& buffer, const char* format, Args... args) {
  int written = std::snprintf(buffer, sizeof(Buffer), format, args...);
  return written >= 0 && static_cast<size_t>(written) < sizeof(Buffer);
}

void SendError(CPackNotify* notify, const char* name, int code) {
  if (notify == nullptr) return;
  Buffer text;
  if (!Format(text, kTextCreatePackageError, name != nullptr ? name : "", code)) {
    // Only an overlong name gets here: show its beginning.
    std::string shown(std::string_view(name).substr(0, kShownNameBytes));
    shown += "...";
    if (!Format(text, kTextCreatePackageError, shown.c_str(), code)) return;
  }
  notify->cb_ERROR(kNotifyCreatePackage, text);
}

}  // namespace

bool IsPackageNameContained(const char* name) {
  return name != nullptr && IsContainedRelativePath(name);
}

int CheckPackageName(const FileManager* fileManager, const char* installDir, CPackNotify* notify,
                     const char* name) {
  if (fileManager == nullptr || installDir == nullptr || !IsPackageNameContained(name)) {
    SendError(notify, name, kPackageNameRefused);
    return kPackageNameRefused;
  }
  Buffer text;
  if (!Format(text, kTextMakeSurePackage, name) || !Format(text, "%s/%s", installDir, name)) {
    SendError(notify, name, kPackageNameTooLong);
    return kPackageNameTooLong;
  }
  return 0;
}

int MakeSurePackage(FileManager* fileManager, const char* installDir, CPackNotify* notify,
                    const char* name) {
  int refused = CheckPackageName(fileManager, installDir, notify, name);
  if (refused != 0) return refused;
  Buffer text;
  Format(text, kTextMakeSurePackage, name);
  if (notify != nullptr) notify->cb_INFO(0, text);
  Format(text, "%s/%s", installDir, name);
  int err = fileManager->EnsurePackage(text, kPackageExtension, kOpenUpdate);
  if (err != 0) SendError(notify, name, err);
  return err;
}

}  // namespace marrowgate
