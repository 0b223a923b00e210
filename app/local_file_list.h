// The local file list "update/localfilelist.txt" of an install folder: a
// binary table of installed files with their sizes and MD5 digests.
//
// Records follow each other to the end of the file, little-endian, no
// header or count:
//   uint32 name length (at most kMaxFileListName)
//   bytes  name, relative to the install folder, no terminator
//   uint32 size
//   16     MD5 digest of the content
#ifndef MARROWGATE_APP_LOCAL_FILE_LIST_H_
#define MARROWGATE_APP_LOCAL_FILE_LIST_H_

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "package/file/file_system.h"
#include "package/file/virtual_file.h"

namespace marrowgate {

constexpr uint32_t kMaxFileListName = 1023;

struct FileRecord {
  uint32_t size = 0;
  std::array<uint8_t, 16> digest{};
  bool operator==(const FileRecord&) const = default;
};

// Names ordered by plain byte comparison (case-sensitive).
using FileTable = std::map<std::string, FileRecord>;

// Adds the records of `bytes` to `table` (a name already present keeps its
// first record). False when the list is damaged: a record cut short by the
// end, or a name length above kMaxFileListName. Nothing is allocated from
// a length before it has been checked.
bool ParseLocalFileList(std::string_view bytes, FileTable* table);

// The list's bytes for `table`, in key order.
std::string SerializeLocalFileList(const FileTable& table);

// Results of ReadLocalFileList.
enum FileListResult : int {
  kFileListOk = 0,
  kFileListReadFailed = -1,
  kFileListDamaged = -2,
};
// Reads `file` from its start into `table`. On failure `table` is left as
// it was.
FileListResult ReadLocalFileList(VirtualFile* file, FileTable* table);

// Replaces the list at `path` (through `fs`) by `table` without ever
// leaving a half-written list: on the disk the records go to `path` +
// ".tmp" in the same folder (made afresh: a stale entry or link of that
// name is removed, never written through), are flushed, and that file
// replaces `path`
// (FileSystem::ReplaceFile); on failure the temporary file is removed and
// the old list is unchanged. Inside a package the item is written whole
// (the package's commit replaces it in one step). True on success.
bool WriteLocalFileList(FileSystem* fs, const std::string& path, const FileTable& table);

}  // namespace marrowgate

#endif  // MARROWGATE_APP_LOCAL_FILE_LIST_H_
