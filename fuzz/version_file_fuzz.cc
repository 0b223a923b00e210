// libFuzzer target: the installed-version file "/mb/etc/version.txt", from
// its bytes and read from an install folder on the disk.
//
// Beyond "no crash": the version text never exceeds kMaxClientVersion
// characters, and reading the file agrees with the text rule.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/install_bookkeeping.h"
#include "app/message_sink.h"
#include "package/file/file_system.h"
#include "util/releaser.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

class QuietSink : public marrowgate::MessageSink {
 public:
  std::string MessageText(int32_t) override { return {}; }
  void ShowMessageById(int32_t) override {}
  void ShowMessageText(int32_t, const std::string&) override {}
  void ReportError(int32_t, int32_t) override {}
};

// The install folder the file is written into, inside the current folder.
const char kInstall[] = "version_fuzz_install";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace marrowgate;
  const std::string_view content(reinterpret_cast<const char*>(data), size);
  const std::string version = VersionFromText(content);
  Check(version.size() <= kMaxClientVersion);

  static FileSystem* disk = [] {
    FileSystem* fs = CreateFileSystem();
    fs->MakeFolder((std::string(kInstall) + "/mb/etc").c_str());
    return fs;
  }();
  {
    Owned<VirtualFile> file(
        disk->Open((std::string(kInstall) + kVersionFilePath).c_str(), kOpenCreate));
    if (!file) return 0;
    if (size > 0 && file->Write(data, static_cast<int32_t>(size)) != static_cast<int32_t>(size))
      return 0;
  }
  QuietSink sink;
  std::string read;
  const bool usable = ReadInstalledVersion(FileManagerOptions(), kInstall, &sink, &read);
  if (usable) {
    Check(read.size() >= kMinClientVersion && read.size() <= kMaxClientVersion);
  }
  return 0;
}
