#include "app/message_file.h"

#include <limits>
#include <vector>

#include "app/own_package.h"
#include "util/releaser.h"
#include "util/values.h"

namespace marrowgate {
namespace {

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

// Reads a number in C notation (base chosen by its prefix) from `line`.
// True with *value and *end (one past the last digit) when there were
// digits and the value fits 32 bits.
bool ScanNumber(std::string_view line, int32_t* value, size_t* end) {
  size_t at = 0;
  while (at < line.size() && IsScanSpace(line[at])) ++at;
  bool negative = false;
  if (at < line.size() && (line[at] == '+' || line[at] == '-')) {
    negative = line[at] == '-';
    ++at;
  }
  int base = 10;
  if (at < line.size() && line[at] == '0') {
    if (at + 2 < line.size() && (line[at + 1] == 'x' || line[at + 1] == 'X') &&
        DigitValue(line[at + 2]) < 16) {
      base = 16;
      at += 2;
    } else {
      base = 8;
    }
  }
  size_t digitsStart = at;
  int64_t magnitude = 0;
  bool tooLarge = false;
  constexpr int64_t kLimit = static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1;
  while (at < line.size() && DigitValue(line[at]) < base) {
    magnitude = magnitude * base + DigitValue(line[at]);
    if (magnitude > kLimit) {
      tooLarge = true;
      magnitude = kLimit;
    }
    ++at;
  }
  if (at == digitsStart || tooLarge) return false;
  if (!negative && magnitude == kLimit) return false;
  *value = static_cast<int32_t>(negative ? -magnitude : magnitude);
  *end = at;
  return true;
}

}  // namespace

std::string_view CutLineEnd(std::string_view line) {
  if (line.size() >= 2 && line.substr(line.size() - 2) == "\r\n") {
    return line.substr(0, line.size() - 2);
  }
  if (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
    return line.substr(0, line.size() - 1);
  }
  return line;
}

bool ParseMessageLine(std::string_view line, int32_t* number, std::string* text) {
  line = CutLineEnd(line);
  int32_t value = 0;
  size_t end = 0;
  if (!ScanNumber(line, &value, &end) || value < kFirstMessageNumber) return false;
  *number = value;
  // One separator character follows the number; the text is the rest.
  if (end + 1 < line.size()) {
    text->assign(line.substr(end + 1));
  } else {
    text->clear();
  }
  return true;
}

int ParseMessageText(std::string_view content, MessageTable* table) {
  int added = 0;
  size_t start = 0;
  while (start < content.size()) {
    size_t newline = content.find('\n', start);
    size_t end = newline == std::string_view::npos ? content.size() : newline + 1;
    int32_t number = 0;
    std::string text;
    if (ParseMessageLine(content.substr(start, end - start), &number, &text) &&
        table->Insert(number, std::move(text))) {
      ++added;
    }
    start = end;
  }
  return added;
}

int ReadMessageFile(VirtualFile* file, MessageTable* table) {
  if (file == nullptr) return -1;
  std::string content;
  std::vector<char> buffer(64 * 1024);
  for (;;) {
    int32_t got = file->Read(buffer.data(), static_cast<int32_t>(buffer.size()));
    if (got < 0) return -1;
    if (got == 0) break;
    if (static_cast<int64_t>(content.size()) + got > kMaxMessageFileBytes) return -1;
    content.append(buffer.data(), static_cast<size_t>(got));
  }
  return ParseMessageText(content, table);
}

bool LoadMessageFile(const FileManagerOptions& options, std::string_view modulePath,
                     MessageTable* table, std::string* failureText) {
  Owned<FileManager> fileManager(CreateFileManager(options));
  if (fileManager == nullptr) {
    if (failureText != nullptr) *failureText = kTextCantCreateFileManager;
    return false;
  }
  MountOwnPackage(fileManager.get(), modulePath);
  std::string path = SelfBaseOf(modulePath) + "/" + kMessageFileName;
  Owned<VirtualFile> file(fileManager->Open(path.c_str(), kOpenRead));
  if (file == nullptr || ReadMessageFile(file.get(), table) < 0) {
    if (failureText != nullptr) *failureText = std::string(kTextCantOpenMessageFile) + path;
    return false;
  }
  return true;
}

}  // namespace marrowgate
