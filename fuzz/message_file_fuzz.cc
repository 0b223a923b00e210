// libFuzzer target: the message file (the numbered lines of "cfg.txt"),
// parsed from text and read through a file in pieces.
//
// Beyond "no crash": both ways give the same table, every message number
// is at least kFirstMessageNumber, and no text holds a line end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "app/message_file.h"
#include "app/message_table.h"
#include "package/file/memory_file.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace marrowgate;
  const std::string_view content(reinterpret_cast<const char*>(data), size);
  MessageTable parsed;
  const int added = ParseMessageText(content, &parsed);
  Check(added >= 0 && static_cast<size_t>(added) == parsed.size());
  for (const auto& [number, text] : parsed.entries()) {
    Check(number >= kFirstMessageNumber);
    Check(text.find('\n') == std::string::npos);
  }

  MemoryFile file(std::vector<uint8_t>(data, data + size));
  MessageTable read;
  Check(ReadMessageFile(&file, &read) == added);
  Check(read.entries() == parsed.entries());

  // Each line alone agrees with the whole text (a first line wins).
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    end = end == std::string_view::npos ? content.size() : end + 1;
    int32_t number = 0;
    std::string text;
    if (ParseMessageLine(content.substr(start, end - start), &number, &text)) {
      const std::string* kept = parsed.Find(number);
      Check(kept != nullptr);
    }
    start = end;
  }
  return 0;
}
