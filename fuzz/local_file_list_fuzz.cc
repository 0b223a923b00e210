// libFuzzer target: the binary local file list "update/localfilelist.txt".
//
// Beyond "no crash": a list that parses writes out and parses back to the
// same table, reading it through a file agrees with parsing its bytes, and
// a damaged list leaves the table as it was.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "app/local_file_list.h"
#include "package/file/memory_file.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace marrowgate;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  FileTable parsed;
  const bool good = ParseLocalFileList(bytes, &parsed);
  if (good) {
    for (const auto& [name, record] : parsed) Check(name.size() <= kMaxFileListName);
    const std::string written = SerializeLocalFileList(parsed);
    FileTable again;
    Check(ParseLocalFileList(written, &again));
    Check(again == parsed);
    Check(SerializeLocalFileList(again) == written);
  }

  // Through a file, into a table that already holds a record.
  FileTable table;
  table["kept/before.txt"].size = 7;
  const FileTable before = table;
  MemoryFile file(std::vector<uint8_t>(data, data + size));
  const FileListResult result = ReadLocalFileList(&file, &table);
  if (good) {
    Check(result == kFileListOk);
    for (const auto& [name, record] : parsed) Check(table.count(name) == 1);
  } else {
    Check(result == kFileListDamaged);
    Check(table == before);
  }
  return 0;
}
