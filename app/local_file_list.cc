#include "app/local_file_list.h"

#include <algorithm>
#include <vector>

#include "util/releaser.h"

namespace marrowgate {
namespace {

constexpr size_t kRecordFixedBytes = 4 + 4 + 16;  // length, size, digest
// Largest list read whole; a bigger file is not a list this program wrote.
constexpr int64_t kMaxLocalFileListBytes = 512LL * 1024 * 1024;

uint32_t GetUint32(std::string_view bytes, size_t at) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) {
    value |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + i])) << (8 * i);
  }
  return value;
}

void PutUint32(std::string* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

bool ParseLocalFileList(std::string_view bytes, FileTable* table) {
  FileTable parsed;
  size_t at = 0;
  while (at < bytes.size()) {
    size_t left = bytes.size() - at;
    if (left < 4) return false;
    uint32_t nameLength = GetUint32(bytes, at);
    if (nameLength > kMaxFileListName) return false;
    if (left < kRecordFixedBytes + nameLength) return false;
    std::string name(bytes.substr(at + 4, nameLength));
    FileRecord record;
    record.size = GetUint32(bytes, at + 4 + nameLength);
    for (size_t i = 0; i < record.digest.size(); ++i) {
      record.digest[i] = static_cast<uint8_t>(bytes[at + 8 + nameLength + i]);
    }
    parsed.emplace(std::move(name), record);
    at += kRecordFixedBytes + nameLength;
  }
  for (auto& entry : parsed) table->insert(std::move(entry));
  return true;
}

std::string SerializeLocalFileList(const FileTable& table) {
  std::string bytes;
  for (const auto& [name, record] : table) {
    PutUint32(&bytes, static_cast<uint32_t>(name.size()));
    bytes += name;
    PutUint32(&bytes, record.size);
    bytes.append(reinterpret_cast<const char*>(record.digest.data()), record.digest.size());
  }
  return bytes;
}

FileListResult ReadLocalFileList(VirtualFile* file, FileTable* table) {
  if (file == nullptr || file->Seek(0, 0) != 0) return kFileListReadFailed;
  std::string bytes;
  std::vector<char> buffer(64 * 1024);
  for (;;) {
    int32_t got = file->Read(buffer.data(), static_cast<int32_t>(buffer.size()));
    if (got < 0) return kFileListReadFailed;
    if (got == 0) break;
    if (static_cast<int64_t>(bytes.size()) + got > kMaxLocalFileListBytes) return kFileListDamaged;
    bytes.append(buffer.data(), static_cast<size_t>(got));
  }
  return ParseLocalFileList(bytes, table) ? kFileListOk : kFileListDamaged;
}

namespace {

// Writes `bytes` as the whole file `path` and flushes it; `fresh` makes a
// new file in place of whatever entry has that name. True on success.
bool WriteWhole(FileSystem* fs, const std::string& path, const std::string& bytes, bool fresh) {
  Owned<VirtualFile> file(fresh ? fs->CreateFresh(path.c_str())
                                : fs->Open(path.c_str(), kOpenCreate));
  if (file == nullptr) return false;
  size_t at = 0;
  while (at < bytes.size()) {
    size_t chunk = std::min<size_t>(bytes.size() - at, 1 << 20);
    if (file->Write(bytes.data() + at, static_cast<int32_t>(chunk)) !=
        static_cast<int32_t>(chunk)) {
      return false;
    }
    at += chunk;
  }
  return file->Flush() == 0;
}

}  // namespace

bool WriteLocalFileList(FileSystem* fs, const std::string& path, const FileTable& table) {
  if (fs == nullptr || path.empty()) return false;
  std::string bytes = SerializeLocalFileList(table);
  // Inside a package the package's commit replaces an item whole.
  if (!fs->WritesToDisk(path.c_str())) return WriteWhole(fs, path, bytes, false);
  std::string temporary = path + ".tmp";
  if (WriteWhole(fs, temporary, bytes, true) && fs->ReplaceFile(temporary.c_str(), path.c_str()) == 0) {
    return true;
  }
  fs->DeleteFile(temporary.c_str());
  return false;
}

}  // namespace marrowgate
