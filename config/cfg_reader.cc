#include "config/cfg_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "config/include_path.h"
#include "package/file/open_mode.h"
#include "platform/file_tree.h"
#include "util/text.h"

namespace marrowgate {

CfgReader::CfgReader() : fileOpener_(CreateFileSystem()) {}
CfgReader::~CfgReader() = default;

int CfgReader::SetRegistry(const CfgRegistry* registry) {
  registry_ = registry;
  return 0;
}

int CfgReader::SetLineParser(CfgLineParser* parser) {
  parser_ = parser;
  return 0;
}

int CfgReader::ReadStream(VirtualFile* file, bool reset, uint32_t mask) {
  if (reset) {
    records_.clear();
    blockDepth_ = 0;
    skipping_ = false;
    skipDepth_ = 0;
    if (parser_ != nullptr) parser_->Reset();
  }
  if (file == nullptr || file->AtEnd()) return 0;
  if (readDepth_ == 0) {
    linesConsumed_ = 0;
    bytesConsumed_ = 0;
  }
  ++readDepth_;
  const int result = ReadLines(file, mask);
  --readDepth_;
  return result;
}

int CfgReader::ReadLines(VirtualFile* file, uint32_t mask) {
  int32_t linesRead = 0;
  for (;;) {
    int32_t got = file->ReadLine(line_, kMaxLineBytes + 1);
    if (got < 0) {
      lineNumber_ = linesRead + 1;
      return Fail(-12, -15);
    }
    if (got == 0) return 0;
    lineNumber_ = ++linesRead;
    bytesConsumed_ += got;
    if (++linesConsumed_ > kMaxReadLines || bytesConsumed_ > kMaxReadBytes) {
      line_[0] = '\0';
      return Fail(-13, -16);
    }
    Trim(line_);
    int result = HandleLine(line_, mask);
    if (result < 0) return result;
    if (file->AtEnd()) return 0;
  }
}

int CfgReader::ReadFile(const char* path, bool reset, uint32_t mask) {
  if (path == nullptr || path[0] == '\0') return 0;
  // A fresh read forgets the files of an earlier (failed) one before the
  // recursion check, so the same file can be read again.
  if (reset) {
    includeStack_.Clear();
    openFiles_.Clear();
  }
  if (openFiles_.Contains(path)) return Fail(-2, -1);
  if (includeStack_.Count() >= kMaxIncludeDepth) return Fail(-1, -2);
  // Both separators are accepted; the check sees the path as it is opened.
  std::string native(path);
  std::replace(native.begin(), native.end(), '\\', '/');
  platform::NodeStatus status;
  if (!platform::StatusOf(native.c_str(), &status, nullptr) ||
      status.kind != platform::NodeKind::kFile)
    return Fail(-1, -2);
  Owned<VirtualFile> file(fileOpener_ ? fileOpener_->Open(path, kOpenRead) : nullptr);
  if (!file) return Fail(-1, -2);
  includeStack_.Push(path);
  openFiles_.Insert(path);
  int result = ReadStream(file.get(), reset, mask);
  file.reset();
  if (result >= 0) {
    includeStack_.Pop(nullptr);
    openFiles_.Erase(path);
  }
  return result;
}

int CfgReader::OpenBlock(const char* name) {
  ++blockDepth_;
  CfgRecord* record = nullptr;
  if (!records_.empty()) {
    record = records_.back()->FindSubRecord(name);
  } else if (registry_ != nullptr) {
    auto it = registry_->find(std::string_view(name));
    if (it != registry_->end()) record = it->second;
  }
  if (record != nullptr) {
    record->OnBlockBegin();
    records_.push_back(record);
    return 0;
  }
  --blockDepth_;
  if (blockDepth_ >= unknownBlockDepthLimit_) return Fail(-10, -11);
  skipping_ = true;
  skipDepth_ = 1;
  return 0;
}

int CfgReader::HandleLine(std::string_view line, uint32_t mask) {
  if (line.data() != line_) CopyBounded(line_, sizeof line_, std::string(line).c_str());
  if (parser_ == nullptr) return Fail(-11, -14);
  const LineKind kind = parser_->Classify(line);

  if (skipping_) {
    switch (kind) {
      case LK_ERROR: return Fail(-11, -1);
      case LK_OPEN: ++skipDepth_; return 0;
      case LK_CLOSE:
        if (--skipDepth_ == 0) skipping_ = false;
        return 0;
      case LK_SECTION: skipping_ = false; break;
      default: return 0;
    }
  }

  switch (kind) {
    case LK_INCLUDE: {
      std::string_view directory;
      if (includeStack_.Count() > 0)
        directory = DirectoryOf(includeStack_.Entry(includeStack_.Count() - 1));
      std::string path;
      if (!JoinIncludePath(directory, parser_->Name(), &path)) return Fail(-1, -2);
      return ReadFile(path.c_str(), false, mask);
    }
    case LK_SECTION:
      if (!records_.empty()) {
        records_.back()->OnBlockEnd();
        records_.pop_back();
        --blockDepth_;
      }
      return OpenBlock(parser_->Name());
    case LK_OPEN:
      return OpenBlock(parser_->Name());
    case LK_CLOSE:
      if (records_.empty()) return Fail(-11, -12);
      --blockDepth_;
      records_.back()->OnBlockEnd();
      records_.pop_back();
      return 0;
    case LK_ASSIGN:
      if (records_.empty()) return 0;
      if (records_.back()->SetValue(parser_->Name(), parser_->Value(), mask) < 0 &&
          !tolerateRejectedKeys_)
        return Fail(-11, -13);
      return 0;
    case LK_ERROR:
      return Fail(parser_->ErrorCode(), -14);
    default:
      return 0;
  }
}

const char* CfgReader::GetErrorText(char* buffer, int32_t* size) {
  static char shared[kErrorTextSize];
  int32_t localSize = 0;
  if (size == nullptr) size = &localSize;
  if (buffer == nullptr) {
    buffer = shared;
    *size = static_cast<int32_t>(sizeof shared);
  }
  if (*size <= 0) return buffer;
  const size_t capacity = static_cast<size_t>(*size);
  size_t used = 0;
  buffer[0] = '\0';
  // Appends `text` bounded by the space left; false once it is full.
  auto append = [&](const char* text) {
    size_t length = std::strlen(text);
    size_t room = capacity - 1 - used;
    size_t copied = length < room ? length : room;
    std::memcpy(buffer + used, text, copied);
    used += copied;
    buffer[used] = '\0';
    return copied == length;
  };
  bool room = append("fileinclude:") && append("[");
  while (includeStack_.Count() > 0) {
    const char* path = includeStack_.Pop(nullptr);
    if (!room) continue;
    room = append(path) && append("<-");
  }
  if (!room) return buffer;
  append("]");
  char tail[96];
  std::snprintf(tail, sizeof tail, " errcode:%d line:%d content:", errorCode_, lineNumber_);
  if (append(tail)) append(line_);
  return buffer;
}

std::string CfgReader::GetErrorText() {
  std::vector<char> buffer(kErrorTextSize + kLineBufferSize + 64 * 270);
  int32_t size = static_cast<int32_t>(buffer.size());
  return std::string(GetErrorText(buffer.data(), &size));
}

}  // namespace marrowgate
