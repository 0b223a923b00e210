#include "app/install_bookkeeping.h"

#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

#include "platform/env.h"
#include "platform/file_tree.h"
#include "transfer/delete_tree.h"
#include "util/releaser.h"
#include "util/safe_path.h"
#include "util/text.h"
#include "util/values.h"

namespace marrowgate {
namespace {

// Scans `line` as "%d%s". True when both fields were read.
bool ScanNumberAndWord(std::string_view line, int64_t* number, std::string_view* word) {
  size_t at = 0;
  while (at < line.size() && IsScanSpace(line[at])) ++at;
  bool negative = false;
  if (at < line.size() && (line[at] == '+' || line[at] == '-')) {
    negative = line[at] == '-';
    ++at;
  }
  size_t digits = at;
  int64_t value = 0;
  for (; at < line.size() && line[at] >= '0' && line[at] <= '9'; ++at) {
    if (value < std::numeric_limits<int32_t>::max()) value = value * 10 + (line[at] - '0');
  }
  if (at == digits) return false;
  while (at < line.size() && IsScanSpace(line[at])) ++at;
  size_t wordStart = at;
  while (at < line.size() && !IsScanSpace(line[at])) ++at;
  if (at == wordStart) return false;
  *number = negative ? -value : value;
  *word = line.substr(wordStart, at - wordStart);
  return true;
}

// Reads one whole line (line end included) through pieces of the file
// reader. False at the end of the file, and when a read fails (*failed is
// then set: a damaged list must not pass for a shorter one). A line longer
// than `maxLength` is read to its end but reported through *tooLong with
// only its start.
bool ReadWholeLine(VirtualFile* file, size_t maxLength, std::string* line, bool* tooLong,
                   bool* failed) {
  line->clear();
  *tooLong = false;
  char piece[1024];
  bool any = false;
  for (;;) {
    int32_t got = file->ReadLine(piece, static_cast<int32_t>(sizeof(piece)));
    if (got < 0) {
      *failed = true;
      return false;
    }
    if (got == 0) break;
    any = true;
    if (line->size() + static_cast<size_t>(got) > maxLength) {
      *tooLong = true;
    } else {
      line->append(piece, static_cast<size_t>(got));
    }
    if (piece[got - 1] == '\n') break;
  }
  return any;
}

void Debug(const std::string& text) { platform::DebugOutput(text.c_str()); }

constexpr size_t kMaxListLine = 64 * 1024;
constexpr int64_t kMaxVersionFileScan = 1024 * 1024;

}  // namespace

// True when removing `relative` (a normalised delete path) would remove a
// bookkeeping file: the file itself, a folder holding it, or the package
// file standing for such a folder.
bool HoldsBookkeeping(std::string_view relative) {
  std::string name(relative);
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  constexpr std::string_view kPackageEnding = ".dpk";
  const bool package = name.size() > kPackageEnding.size() &&
                       name.compare(name.size() - kPackageEnding.size(), kPackageEnding.size(),
                                    kPackageEnding) == 0;
  for (const char* kept : {kVersionFilePath, kLocalFileListPath, kNewFileListPath,
                           kDeleteListPath}) {
    std::string_view path = std::string_view(kept).substr(1);  // without the leading '/'
    auto holds = [&path](std::string_view folder) {
      return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
             path[folder.size()] == '/';
    };
    if (path == name || holds(name)) return true;
    if (package && holds(std::string_view(name).substr(0, name.size() - kPackageEnding.size()))) {
      return true;
    }
  }
  return false;
}

// True when removing `relative` (a normalised delete path) would remove
// one of the `carried` files: the file itself, a folder holding it, or the
// package file standing for such a folder.
bool RemovesCarried(std::string_view relative, const std::vector<std::string>& carried) {
  constexpr std::string_view kPackageEnding = ".dpk";
  std::string_view folder;
  if (relative.size() > kPackageEnding.size() &&
      ListNameWithin(relative.substr(relative.size() - kPackageEnding.size()), kPackageEnding)) {
    folder = relative.substr(0, relative.size() - kPackageEnding.size());
  }
  for (const std::string& name : carried) {
    if (ListNameWithin(name, relative)) return true;
    if (!folder.empty() && ListNameWithin(name, folder)) return true;
  }
  return false;
}

std::string VersionFromText(std::string_view content) {
  // Lines as the file reader gives them: at most 254 bytes, ending after
  // '\n'; each is a C text, so it ends at a NUL byte.
  size_t at = 0;
  while (at < content.size()) {
    size_t end = std::min(content.size(), at + 254);
    size_t newline = content.find('\n', at);
    if (newline != std::string_view::npos && newline < end) end = newline + 1;
    std::string_view line = content.substr(at, end - at);
    line = line.substr(0, line.find('\0'));
    int64_t number = 0;
    std::string_view word;
    if (ScanNumberAndWord(line, &number, &word) && number == 1 && word.front() != '.') {
      return std::string(word.substr(0, kMaxClientVersion));
    }
    at = end;
  }
  std::string_view raw = content.substr(0, kMaxClientVersion);
  return std::string(raw.substr(0, raw.find('\0')));
}

// Why the installed version could not be read, naming the folder or file
// and giving the system's reason.
std::string VersionFileTrouble(const std::string& installDir) {
  if (installDir.empty()) return "no install folder";
  platform::NodeStatus status;
  std::string reason;
  if (!platform::StatusOf(installDir.c_str(), &status, &reason)) return installDir + ": " + reason;
  if (status.kind != platform::NodeKind::kFolder) return installDir + ": not a folder";
  const std::string path = installDir + kVersionFilePath;
  if (!platform::StatusOf(path.c_str(), &status, &reason)) return path + ": " + reason;
  if (status.kind != platform::NodeKind::kFile) return path + ": not a regular file";
  if (platform::RawFile::OpenForReading(path.c_str(), &reason) == nullptr)
    return path + ": " + reason;
  return path + ": no usable version in it";
}

bool ReadInstalledVersion(const FileManagerOptions& options, std::string_view installDir,
                          MessageSink* messages, std::string* version) {
  version->clear();
  Owned<FileManager> fileManager(CreateFileManager(options));
  if (fileManager == nullptr) {
    messages->ShowMessageById(kMessageNoVersionFileManager);
    return false;
  }
  std::string path = std::string(installDir) + kVersionFilePath;
  Owned<VirtualFile> file(fileManager->Open(path.c_str(), kOpenRead));
  if (file == nullptr) {
    // The message says what; the line after it says where and why.
    messages->ShowMessageText(kMessageVersionFileMissing,
                              messages->MessageText(kMessageVersionFileMissing) + "\n" +
                                  VersionFileTrouble(std::string(installDir)));
    return false;
  }
  std::string content;
  char buffer[4096];
  for (;;) {
    int32_t got = file->Read(buffer, static_cast<int32_t>(sizeof(buffer)));
    if (got <= 0) break;
    content.append(buffer, static_cast<size_t>(got));
    if (static_cast<int64_t>(content.size()) >= kMaxVersionFileScan) break;
  }
  *version = VersionFromText(content);
  if (version->size() >= kMinClientVersion && version->size() <= kMaxClientVersion) return true;
  messages->ShowMessageText(kMessageVersionUnusable,
                            messages->MessageText(kMessageVersionUnusable) + *version);
  return false;
}

int UpdateFileLists(const FileManagerOptions& options, std::string_view installDir,
                    MessageSink* messages, const std::vector<std::string>& carried,
                    const KnownRecords& known) {
  Owned<FileManager> fileManager(CreateFileManager(options));
  if (fileManager == nullptr) {
    messages->ShowMessageById(kMessageNoListFileManager);
    return kMessageNoListFileManager;
  }
  return UpdateFileLists(std::move(fileManager), installDir, messages, carried, known);
}

int UpdateFileLists(Owned<FileManager> fileManager, std::string_view installDir,
                    MessageSink* messages, const std::vector<std::string>& carried,
                    const KnownRecords& known) {
  const std::string dir(installDir);

  // 1. The local file list. Without an install folder every path below
  // would be rooted at the top of the disk: treated as a missing list.
  FileTable table;
  const std::string listPath = dir + kLocalFileListPath;
  {
    Owned<VirtualFile> list(dir.empty() ? nullptr
                                        : fileManager->Open(listPath.c_str(), kOpenRead));
    FileListResult read = list == nullptr ? kFileListReadFailed
                                          : ReadLocalFileList(list.get(), &table);
    if (read != kFileListOk) {
      if (read == kFileListDamaged) {
        Debug("marrowgate, damaged local file list left as it is: " + listPath + "\n");
      }
      fileManager.reset();
      messages->ShowMessageText(kMessageLocalListUnreadable,
                                messages->MessageText(kMessageLocalListUnreadable));
      return kMessageLocalListUnreadable;
    }
  }

  // 2. The new-file list.
  const std::string newListPath = dir + kNewFileListPath;
  {
    Owned<VirtualFile> newList(fileManager->Open(newListPath.c_str(), kOpenRead));
    if (newList == nullptr) {
      messages->ShowMessageText(kMessageNewListUnreadable,
                                messages->MessageText(kMessageNewListUnreadable));
      return kMessageNewListUnreadable;
    }
    std::string line;
    bool tooLong = false;
    bool failed = false;
    while (ReadWholeLine(newList.get(), kMaxListLine, &line, &tooLong, &failed)) {
      std::string name(TrimView(line));
      if (name.empty() && !tooLong) continue;
      // A name that would leave the folder is never opened.
      if (!tooLong && !IsContainedRelativePath(name)) {
        Debug("marrowgate, new-file line refused (outside the install folder): " +
              EscapeControlCharacters(name) + "\n");
        continue;
      }
      std::string path = dir + "/" + name;
      FileRecord record;
      bool recorded = false;
      if (!tooLong && name.size() <= kMaxFileListName && !known.empty()) {
        std::string key = name;
        std::replace(key.begin(), key.end(), '\\', '/');
        auto found = known.find(key);
        if (found != known.end()) {
          record = found->second;
          recorded = true;
        }
      }
      if (!recorded && !tooLong && name.size() <= kMaxFileListName) {
        Owned<VirtualFile> file(fileManager->Open(path.c_str(), kOpenRead));
        if (file != nullptr) {
          int32_t size = file->Size();
          if (size >= 0 && file->Digest(record.digest.data()) == 0) {
            record.size = static_cast<uint32_t>(size);
            recorded = true;
          }
        }
      }
      if (!recorded) {
        messages->ShowMessageText(kMessageNewFileUnreadable,
                                  messages->MessageText(kMessageNewFileUnreadable) + path);
        continue;
      }
      table.insert_or_assign(std::move(name), record);
    }
    if (failed) {
      // Nothing has been deleted or written yet: the lists stay for the
      // next run.
      messages->ShowMessageText(kMessageNewListUnreadable,
                                messages->MessageText(kMessageNewListUnreadable));
      return kMessageNewListUnreadable;
    }
  }

  // 3. The list with the new files goes to disk before anything is
  // deleted: a list that cannot be written leaves the folder as it is, and
  // until the deletes are recorded it only lists more than the folder has.
  if (!WriteLocalFileList(fileManager.get(), listPath, table)) {
    messages->ShowMessageById(kMessageLocalListUnwritable);
    return kMessageLocalListUnwritable;
  }

  // 4. The delete list. A record goes only when its file is gone.
  bool removedRecords = false;
  {
    Owned<VirtualFile> deleteList(fileManager->Open((dir + kDeleteListPath).c_str(), kOpenRead));
    std::string line;
    bool tooLong = false;
    bool failed = false;
    while (deleteList != nullptr &&
           ReadWholeLine(deleteList.get(), kMaxListLine, &line, &tooLong, &failed)) {
      std::string_view name = TrimView(line);
      if (name.empty() && !tooLong) continue;
      std::string relative;
      if (tooLong || !NormaliseListName(name, &relative)) {
        Debug("marrowgate, delete line refused (outside the install folder): " +
              EscapeControlCharacters(name) + "\n");
        continue;
      }
      // The lists being kept up to date, and the version file the next
      // run reads, are never the patch's to delete.
      if (HoldsBookkeeping(relative)) {
        Debug("marrowgate, delete line refused (a bookkeeping file): " +
              EscapeControlCharacters(relative) + "\n");
        continue;
      }
      // What this update has just installed is never its to delete.
      if (RemovesCarried(relative, carried)) {
        Debug("marrowgate, delete line skipped (the update carries it): " +
              EscapeControlCharacters(relative) + "\n");
        continue;
      }
      std::string path = dir + "/" + relative;
      Debug("orb5k," + EscapeControlCharacters(path) + "\n");
      std::string reason;
      DeleteWithinResult deleted = DeleteWithin(fileManager.get(), dir, relative, &reason);
      if (deleted == kDeleteWithinRefused) {
        Debug("marrowgate, delete line refused (" + reason + "): " +
              EscapeControlCharacters(relative) + "\n");
        continue;
      }
      if (deleted != kDeleteWithinDone) {
        Debug("marrowgate, not everything of " + EscapeControlCharacters(path) +
              " could be deleted: " + reason + "\n");
      }
      // The records under the line, spelled as the disk side took it
      // (either separator; ASCII case within packages), whose files are
      // gone; one that stayed on the disk keeps its record.
      for (auto entry = table.begin(); entry != table.end();) {
        if (ListNameBeginsWith(entry->first, relative) &&
            (!IsContainedRelativePath(entry->first) ||
             !fileManager->Exists((dir + "/" + entry->first).c_str()))) {
          entry = table.erase(entry);
          removedRecords = true;
        } else {
          ++entry;
        }
      }
    }
    // The list stays in place, so the next run applies the rest.
    if (failed) {
      Debug("marrowgate, delete list unreadable past this point: " + dir + kDeleteListPath +
            "\n");
    }
  }

  // 5. The removals are recorded; the list is replaced whole, or not at all.
  // (A line reaching the list's folder through a link may have taken the
  // list away: it is written again then too, or the run learns it cannot.)
  if ((removedRecords || !fileManager->Exists(listPath.c_str())) &&
      !WriteLocalFileList(fileManager.get(), listPath, table)) {
    messages->ShowMessageById(kMessageLocalListUnwritable);
    return kMessageLocalListUnwritable;
  }

  // 6. The new-file list has done its work only now.
  fileManager->DeleteFile(newListPath.c_str());
  return 0;
}

}  // namespace marrowgate
