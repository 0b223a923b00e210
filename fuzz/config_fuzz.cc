// libFuzzer target: reads arbitrary configuration text, with includes,
// defines, macros and conditions, binding into records that hold every
// field type (config/testing/cfg_records_testing.h).
//
// Input: up to four texts separated by zero bytes. The first is the main
// text; the others are written beside it as "a.txt", "b.txt" and
// "sub/c.txt", so that "#include" lines can reach them (and each other).
// The files live in the folder "config_fuzz_work" of the current folder.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/cfg_std_reader.h"
#include "config/testing/cfg_records_testing.h"
#include "package/file/file_system.h"
#include "util/releaser.h"

namespace marrowgate {
namespace {

const char kFolder[] = "config_fuzz_work";
const char* const kNames[] = {"main.txt", "a.txt", "b.txt", "sub/c.txt"};

bool Store(FileSystem* disk, const std::string& path, std::string_view text) {
  Owned<VirtualFile> file(disk->Open(path.c_str(), kOpenCreate));
  if (!file) return false;
  return text.empty() ||
         file->Write(text.data(), static_cast<int32_t>(text.size())) ==
             static_cast<int32_t>(text.size());
}

}  // namespace
}  // namespace marrowgate

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace marrowgate;
  static FileSystem* disk = [] {
    FileSystem* fs = CreateFileSystem();
    fs->MakeFolder((std::string(kFolder) + "/sub").c_str());
    return fs;
  }();
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> texts;
  while (texts.size() < 3) {
    const size_t zero = input.find('\0');
    if (zero == std::string_view::npos) break;
    texts.push_back(input.substr(0, zero));
    input.remove_prefix(zero + 1);
  }
  texts.push_back(input);
  // Only the texts that changed since the last input are written again.
  static std::string stored[4];
  static bool written[4] = {};
  for (size_t i = 0; i < 4; ++i) {
    const std::string_view text = i < texts.size() ? texts[i] : std::string_view();
    if (written[i] && stored[i] == text) continue;
    written[i] = Store(disk, std::string(kFolder) + "/" + kNames[i], text);
    if (!written[i]) return 0;
    stored[i] = text;
  }

  testing_records::MAIN_T update;
  testing_records::NET_INFO_T net;
  CfgStdReader reader;
  reader.RegisterObject("UPDATE", &update);
  reader.RegisterObject("NET", &net);
  reader.set_unregistered_block_depth_limit(1 + static_cast<int32_t>(size % 3));
  const std::string main = std::string(kFolder) + "/" + kNames[0];
  const uint32_t mask = size % 5 == 0 ? 0x2 : 0;
  if (reader.ReadFile(main.c_str(), true, mask) < 0) {
    char small[40];
    int32_t smallSize = static_cast<int32_t>(sizeof small);
    reader.GetErrorText(small, &smallSize);
    reader.GetErrorText();
  }
  // Read again into the same records, as a second file of the same run.
  reader.ReadFile(main.c_str(), false, 0);
  return 0;
}
