// libFuzzer target: the new-file list and the delete list of an install
// folder, applied by UpdateFileLists to a small install folder on the disk.
//
// Input: the new-file list, a zero byte, the delete list, a zero byte, and
// the local file list's bytes (any of them may be missing).
//
// The install folder is an unlucky player's: links to a folder outside, to
// "..", to a file outside and dangling ones, FIFOs where lists and files
// are looked for, and a dangling link at the list's temporary name.
//
// Beyond "no crash" and "no hang": nothing outside the install folder is
// ever deleted, written or made, the local file list afterwards is whole
// (it parses) or the old one, and after a successful run the new-file list
// is gone.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "app/install_bookkeeping.h"
#include "app/local_file_list.h"
#include "app/message_sink.h"
#include "package/file/file_system.h"
#include "platform/file_tree.h"
#include "util/releaser.h"

namespace marrowgate {
namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

class QuietSink : public MessageSink {
 public:
  std::string MessageText(int32_t) override { return {}; }
  void ShowMessageById(int32_t) override {}
  void ShowMessageText(int32_t, const std::string&) override {}
  void ReportError(int32_t, int32_t) override {}
};

// Inside the current folder: the install folder, and files beside it that
// no list may reach.
const char kRoot[] = "file_lists_fuzz_work";
const char kInstall[] = "file_lists_fuzz_work/install";
const char* const kOutside[] = {"file_lists_fuzz_work/outside.txt",
                                "file_lists_fuzz_work/installed.txt",
                                "file_lists_fuzz_work/other/keep.txt"};
const char* const kInside[] = {"a.txt", "bin/game.exe", "bin/data/b.dat", "update/readme.txt"};
// Links in the install folder (name, target), and FIFOs.
const char* const kLinks[][2] = {
    {"old/cache", "../../other"},            // a folder outside
    {"old/up", ".."},                        // the install folder again
    {"bin/data/out.txt", "../../../outside.txt"},  // a file outside
    {"dangling", "../nowhere/made.txt"},     // to nothing (outside)
    {"update/localfilelist.txt.tmp", "../../planted.txt"},
    {"fifo_link", "fifo"},
};
const char* const kFifos[] = {"fifo", "bin/pipe"};
// Outside names nothing may create.
const char* const kNeverMade[] = {"file_lists_fuzz_work/planted.txt",
                                  "file_lists_fuzz_work/nowhere"};

bool Store(FileSystem* disk, const std::string& path, std::string_view text) {
  Owned<VirtualFile> file(disk->Open(path.c_str(), kOpenCreate));
  return file && (text.empty() || file->Write(text.data(), static_cast<int32_t>(text.size())) ==
                                      static_cast<int32_t>(text.size()));
}

std::string Load(FileSystem* disk, const std::string& path, bool* exists) {
  Owned<VirtualFile> file(disk->Open(path.c_str(), kOpenRead));
  *exists = file != nullptr;
  std::string out;
  if (!file) return out;
  char piece[4096];
  int32_t got;
  while ((got = file->Read(piece, sizeof piece)) > 0) out.append(piece, static_cast<size_t>(got));
  return out;
}

}  // namespace
}  // namespace marrowgate

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace marrowgate;
  static FileSystem* disk = CreateFileSystem();
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string_view pieces[3];
  for (int i = 0; i < 2; ++i) {
    const size_t zero = input.find('\0');
    if (zero == std::string_view::npos) {
      pieces[i] = input;
      input = {};
      break;
    }
    pieces[i] = input.substr(0, zero);
    input.remove_prefix(zero + 1);
  }
  pieces[2] = input;

  // The same starting state for every input.
  const std::string install = kInstall;
  for (const char* folder : {"/bin/data", "/update"})
    if (disk->MakeFolder((install + folder).c_str()) < 0) return 0;
  if (disk->MakeFolder((std::string(kRoot) + "/other").c_str()) < 0) return 0;
  for (const char* path : kOutside)
    if (!Store(disk, path, "outside")) return 0;
  for (const char* path : kInside)
    if (!Store(disk, install + "/" + path, path)) return 0;
  if (disk->MakeFolder((install + "/old").c_str()) < 0) return 0;
  std::error_code ignored;
  for (const auto& link : kLinks) {
    const std::string at = install + "/" + link[0];
    std::filesystem::remove(at, ignored);
    std::filesystem::create_symlink(link[1], at, ignored);
    if (ignored) return 0;
  }
  for (const char* fifo : kFifos) {
    const std::string at = install + "/" + fifo;
    std::filesystem::remove(at, ignored);
    if (!platform::MakeFifo(at.c_str(), nullptr)) return 0;
  }
  if (!Store(disk, install + kNewFileListPath, pieces[0]) ||
      !Store(disk, install + kDeleteListPath, pieces[1]) ||
      !Store(disk, install + kLocalFileListPath, pieces[2]))
    return 0;

  QuietSink sink;
  const int result = UpdateFileLists(FileManagerOptions(), install, &sink);

  bool exists = false;
  for (const char* path : kOutside) {
    Check(Load(disk, path, &exists) == "outside");
    Check(exists);
  }
  for (const char* path : kNeverMade) {
    Check(!std::filesystem::exists(std::filesystem::symlink_status(path, ignored)));
  }
  Check(std::filesystem::is_directory(std::string(kRoot) + "/other", ignored));
  const std::string list = Load(disk, install + kLocalFileListPath, &exists);
  FileTable table;
  if (result == 0) {
    Check(exists && ParseLocalFileList(list, &table));
    Load(disk, install + kNewFileListPath, &exists);
    Check(!exists);
  } else if (exists) {
    Check(list == pieces[2] || ParseLocalFileList(list, &table));
  }
  return 0;
}
