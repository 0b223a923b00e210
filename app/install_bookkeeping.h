// The install folder's bookkeeping files, read before and rewritten after
// a patch run:
//   "/mb/etc/version.txt"         the installed client version (read)
//   "/update/localfilelist.txt"   installed files with sizes and digests
//                                 (app/local_file_list.h; read, replaced)
//   "/update/newfile.txt"         names to (re)record in the list, one a
//                                 line (read, then deleted)
//   "/update/dellist.txt"         names of files and folders to remove,
//                                 one a line (read, left in place)
// The paths are appended as they stand to the install folder text. All
// access goes through a FileManager made with the given options.
#ifndef MARROWGATE_APP_INSTALL_BOOKKEEPING_H_
#define MARROWGATE_APP_INSTALL_BOOKKEEPING_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "app/local_file_list.h"
#include "app/message_sink.h"
#include "package/manager/file_manager.h"
#include "util/releaser.h"

namespace marrowgate {

inline constexpr char kVersionFilePath[] = "/mb/etc/version.txt";
inline constexpr char kLocalFileListPath[] = "/update/localfilelist.txt";
inline constexpr char kNewFileListPath[] = "/update/newfile.txt";
inline constexpr char kDeleteListPath[] = "/update/dellist.txt";

// Message numbers of the bookkeeping failures.
constexpr int32_t kMessageNoListFileManager = 205;
constexpr int32_t kMessageLocalListUnreadable = 206;
constexpr int32_t kMessageNewListUnreadable = 207;
constexpr int32_t kMessageNewFileUnreadable = 208;
constexpr int32_t kMessageLocalListUnwritable = 209;
constexpr int32_t kMessageNoVersionFileManager = 211;
constexpr int32_t kMessageVersionFileMissing = 212;
constexpr int32_t kMessageVersionUnusable = 213;

// Longest version text kept, and the shortest usable one.
constexpr size_t kMaxClientVersion = 15;
constexpr size_t kMinClientVersion = 7;

// The version a version file's bytes give: the word of the first line that
// scans as "%d%s" with the integer 1 and a word not beginning with '.'
// (at most 15 characters of it); when no line does, the first 15 bytes
// (line end included, up to a NUL byte). Lines are read 254 bytes at a
// time, as the file reader does.
std::string VersionFromText(std::string_view content);

// Why the installed version of `installDir` cannot be read, naming the
// folder or file and giving the system's reason.
std::string VersionFileTrouble(const std::string& installDir);

// Reads "<installDir>/mb/etc/version.txt" into *version. True when the
// version has 7 to 15 characters. On false the user has been told:
// message 211 (no file manager), 212 (no version file, followed by a line
// from VersionFileTrouble) or 213 followed by the text
// (ShowMessageText(213, ...)).
bool ReadInstalledVersion(const FileManagerOptions& options, std::string_view installDir,
                          MessageSink* messages, std::string* version);

// True when removing `relative` (a normalised delete-list name) would
// remove a bookkeeping file: the file itself, a folder holding it, or the
// package file standing for such a folder. Such a line is never applied.
bool HoldsBookkeeping(std::string_view relative);

// True when removing `relative` would remove one of `carried` (names the
// update writes, relative to the install folder): the file itself, a
// folder holding it, or the package file standing for such a folder.
bool RemovesCarried(std::string_view relative, const std::vector<std::string>& carried);

// Brings the file lists up to date after a successful copy:
//  1. loads the local file list (missing or damaged: message 206, no list
//     is touched);
//  2. records the size and digest of every file named in the new-file list
//     (missing list, or one that fails while being read, as a damaged
//     package item does: message 207, nothing else happens; a file that
//     does not open: message 208 followed by its path, that name is
//     skipped);
//  3. writes the local file list with the new records (app/local_file_list.h;
//     failure: message 209, the old list stays whole and nothing is
//     deleted);
//  4. removes every file or folder named in the delete list (a read
//     failure ends the list there; it stays for the next run), as names:
//     a link is removed as a link, and nothing is reached through one
//     (transfer/delete_tree.h). Then the records under the line go whose
//     files are gone (the line as the disk side took it: either
//     separator, ASCII case inside packages); a record whose file stayed
//     keeps it. A line that would leave the install folder (absolute, a
//     drive, a "." or ".." component, empty, or a folder reached through
//     a link that leads outside) or would remove a bookkeeping file is
//     refused with a debug line and removes nothing; so is a line naming
//     a file the update carries (`carried`: the names, relative to the
//     install folder, of the files the run just copied), a folder holding
//     one, or the package standing for such a folder: what the patch
//     installs stays, and so do its records;
//  5. when records went (or the list went), writes the list again
//     (failure: message 209);
//  6. only then deletes the new-file list, so a failure before leaves it
//     for the next run.
// `known` holds the records of files the run itself wrote and checked
// (or found up to date), by their names relative to the install folder
// with "/" between folders: a new-file name found there (its "\\" taken
// as "/") is recorded from it without reading the file again; any other
// name is read as above. The list's bytes are the same either way.
// Every name of the new-file list must be a contained relative path
// (util/safe_path.h); another is refused with a debug line and never
// opened. Only ordinary files are read: a FIFO or device is unreadable.
// Returns 0, or the message number of the failure that ended it (205,
// 206, 207, 209); messages 208 do not end it.
using KnownRecords = std::unordered_map<std::string, FileRecord>;

int UpdateFileLists(const FileManagerOptions& options, std::string_view installDir,
                    MessageSink* messages, const std::vector<std::string>& carried = {},
                    const KnownRecords& known = {});

// The same through `fileManager` (taken over; not null), which reads and
// writes every list; returns 0 or 206, 207, 209.
int UpdateFileLists(Owned<FileManager> fileManager, std::string_view installDir,
                    MessageSink* messages, const std::vector<std::string>& carried = {},
                    const KnownRecords& known = {});

}  // namespace marrowgate

#endif  // MARROWGATE_APP_INSTALL_BOOKKEEPING_H_
