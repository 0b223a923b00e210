// For tests: a patcher program on disk carrying a package appended to it,
// as the publisher's tool makes one, with the package passwords of the
// patcher application.
#ifndef MARROWGATE_APP_TESTING_PATCHER_PROGRAM_TESTING_H_
#define MARROWGATE_APP_TESTING_PATCHER_PROGRAM_TESTING_H_

#include <map>
#include <string>
#include <vector>

#include "app/app_file_manager.h"
#include "package/manager/file_manager.h"
#include "package/store/tail_file.h"
#include "platform/env.h"
#include "util/releaser.h"

namespace marrowgate {

// Writes `programPath` (some program bytes) and appends a package holding
// `files` (item path -> content). The package is built beside it as
// `programPath` + ".build.dpk", which is removed again. True on success.
inline bool MakePatcherProgram(const std::string& programPath,
                               const std::map<std::string, std::string>& files) {
  std::string stem = programPath + ".build";
  {
    Owned<FileManager> fileManager(CreateFileManager(AppFileManagerOptions()));
    if (fileManager == nullptr) return false;
    if (fileManager->EnsurePackage(stem.c_str(), ".dpk", kOpenCreate) != 0) return false;
    for (const auto& [name, content] : files) {
      std::string itemPath = stem + "/" + name;
      if (fileManager->MakeParentFolder(itemPath.c_str()) < 0) return false;
      Owned<VirtualFile> item(fileManager->Open(itemPath.c_str(), kOpenCreate));
      if (item == nullptr) return false;
      int32_t n = static_cast<int32_t>(content.size());
      if (item->Write(content.data(), n) != n) return false;
    }
    if (fileManager->ClosePackage(stem.c_str()) != 0) return false;
  }
  std::string packagePath = stem + ".dpk";
  {
    auto program = platform::FileStream::Open(programPath.c_str(), "wb");
    if (program == nullptr) return false;
    static const char kProgramBytes[] = "\x7f" "ELF this stands for the patcher's own code";
    program->Write(kProgramBytes, sizeof(kProgramBytes) - 1);
  }
  Owned<FileSystem> disk(CreateFileSystem());
  Owned<VirtualFile> package(disk->Open(packagePath.c_str(), kOpenRead));
  VirtualFile* host = disk->Open(programPath.c_str(), kOpenUpdate);
  if (package == nullptr || host == nullptr) {
    if (host != nullptr) host->Release();
    return false;
  }
  Owned<TailFile> tail(new TailFile);
  if (tail->Attach(host, true, kOpenCreate) != 0) return false;
  std::vector<char> buffer(64 * 1024);
  int32_t n;
  while ((n = package->Read(buffer.data(), static_cast<int32_t>(buffer.size()))) > 0) {
    if (tail->Write(buffer.data(), n) != n) return false;
  }
  if (n < 0 || tail->Detach() != 0) return false;
  package.reset();
  platform::RemoveFile(packagePath.c_str());
  return true;
}

}  // namespace marrowgate

#endif  // MARROWGATE_APP_TESTING_PATCHER_PROGRAM_TESTING_H_
