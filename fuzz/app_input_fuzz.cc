// libFuzzer target for the patcher's parsers of untrusted bytes: the
// message file, the local file list, the version file, launcher records
// and message texts used as formats. The first byte picks the parser.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/code_format.h"
#include "app/install_bookkeeping.h"
#include "app/local_file_list.h"
#include "app/message_file.h"
#include "app/parent_record.h"
#include "util/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace marrowgate;
  if (size == 0) return 0;
  std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 5) {
    case 0: {
      MessageTable table;
      ParseMessageText(input, &table);
      break;
    }
    case 1: {
      FileTable table;
      if (ParseLocalFileList(input, &table)) {
        // What was read writes back to the same bytes once duplicates are
        // gone; a second read gives the same table.
        FileTable again;
        if (!ParseLocalFileList(SerializeLocalFileList(table), &again) || again != table) {
          std::abort();
        }
      }
      break;
    }
    case 2: {
      std::string version = VersionFromText(input);
      if (version.size() > kMaxClientVersion) std::abort();
      break;
    }
    case 3: {
      ParentRecord record;
      if (DecodeParentRecord(input, &record) &&
          EncodeParentRecord(record.tag, record.value, record.text) != input) {
        std::abort();
      }
      break;
    }
    default: {
      int32_t code = size >= 5 ? static_cast<int32_t>(data[1] | data[2] << 8 | data[3] << 16 |
                                                      static_cast<uint32_t>(data[4]) << 24)
                               : 0;
      // The text is whole, one conversion of at most 1023 bytes in place of
      // its spec; the launcher's copy fits its buffer.
      const std::string text = FormatWithCode(input, code);
      if (text.size() > input.size() + 1023) std::abort();
      if (CutText(text, kMaxFormattedMessage).size() > kMaxFormattedMessage) std::abort();
      break;
    }
  }
  return 0;
}
