#include "app/install_verify.h"

#include "app/install_bookkeeping.h"
#include "app/local_file_list.h"
#include "util/releaser.h"
#include "util/safe_path.h"

namespace marrowgate {

VerifyResult VerifyInstall(const FileManagerOptions& options, std::string_view installDir,
                           const std::function<void(const std::string&)>& line,
                           VerifyCounts* counts) {
  VerifyCounts tally;
  Owned<FileManager> fileManager(CreateFileManager(options));
  if (!fileManager) return kVerifyNoFileManager;
  const std::string folder(installDir);

  FileTable table;
  {
    std::string listPath = folder + kLocalFileListPath;
    Owned<VirtualFile> list(fileManager->Open(listPath.c_str(), kOpenRead));
    if (!list) return kVerifyNoList;
    FileListResult read = ReadLocalFileList(list.get(), &table);
    if (read == kFileListDamaged) return kVerifyDamagedList;
    if (read != kFileListOk) return kVerifyNoList;
  }

  for (const auto& [name, record] : table) {
    // A name that would leave the folder is never opened.
    if (!IsContainedRelativePath(name)) {
      ++tally.differing;
      line("unsafe   " + name);
      continue;
    }
    std::string path = folder + "/" + name;
    Owned<VirtualFile> file(fileManager->Open(path.c_str(), kOpenRead));
    if (!file || fileManager->IsFolder(path.c_str())) {
      ++tally.missing;
      line("missing  " + name);
      continue;
    }
    int32_t size = file->Size();
    if (size < 0 || static_cast<uint32_t>(size) != record.size) {
      ++tally.differing;
      line("size     " + name + " (listed " + std::to_string(record.size) + ", found " +
           std::to_string(size) + ")");
      continue;
    }
    FileRecord found;
    found.size = record.size;
    if (file->Digest(found.digest.data()) != 0 || found.digest != record.digest) {
      ++tally.differing;
      line("digest   " + name);
      continue;
    }
    ++tally.matched;
    line("ok       " + name);
  }
  if (counts != nullptr) *counts = tally;
  return tally.missing == 0 && tally.differing == 0 ? kVerifyWhole : kVerifyDiffers;
}

}  // namespace marrowgate
