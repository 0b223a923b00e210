// Walking and writing real folder trees: what a path is without following
// a final symbolic link, device and inode numbers (to tell the same file
// reached by two names, and loops of links), folder names with the
// system's reason when a folder cannot be read, files read and written by
// descriptor (a new file is created exclusively, never through a link),
// and the system's own words for a failure.
//
// Every function that can fail returns false (or null) and, when `reason`
// is given, stores the system's text for the failure ("Permission denied",
// "No space left on device", ...).
#ifndef MARROWGATE_PLATFORM_FILE_TREE_H_
#define MARROWGATE_PLATFORM_FILE_TREE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace marrowgate::platform {

enum class NodeKind { kFile, kFolder, kLink, kFifo, kSocket, kDevice, kOther };

struct NodeStatus {
  NodeKind kind = NodeKind::kOther;
  uint64_t device = 0;
  uint64_t inode = 0;
  bool writable = false;           // the owner may write
  uint64_t size = 0;               // bytes, for files
  int64_t modificationTime = 0;    // seconds since 1970 (negative before)
};

// The one way to ask what a path is: its kind, identity, size, time and
// write permission. Status of `path` itself (a link is reported as a link).
bool LinkStatusOf(const char* path, NodeStatus* status, std::string* reason);
// Why a path could not be reached.
enum class PathFailure { kNone, kMissing, kLinkLoop, kOther };

// Status of what `path` leads to (links followed). `failure` (optional)
// tells a missing target and a loop of links apart from other failures.
bool StatusOf(const char* path, NodeStatus* status, std::string* reason,
              PathFailure* failure = nullptr);
// True when both paths exist and are the same file (device and inode).
bool SameNode(const char* a, const char* b);

// The names in a folder, "." and ".." left out, in the order the system
// gives them.
bool FolderNames(const char* path, std::vector<std::string>* names, std::string* reason);

// The absolute path with every link resolved.
bool ResolvedPath(const char* path, std::string* out, std::string* reason);

// Longest path the system takes (PATH_MAX where it has one).
size_t MaxSystemPath();

// Makes one folder; an existing folder is fine.
bool MakeOneFolder(const char* path, std::string* reason);
// Replaces `to` (a file, or a link, which is replaced, not followed) by `from`.
bool RenameReplacing(const char* from, const char* to, std::string* reason);
// Removes a file or a link (not followed); false when it could not.
bool RemoveNode(const char* path);
// Removes `path` as a name, never following a link: a link, file, FIFO,
// socket or device entry is unlinked; a folder goes with everything in it,
// links inside removed as links. A folder on another device than `path`
// (something mounted below it) is left as it is and counts as a failure.
// True when nothing is left at `path` (a missing path is fine); on false
// what could be removed is gone and `reason` holds the first failure.
bool RemoveTreeNoFollow(const char* path, std::string* reason);

// Makes a FIFO (a named pipe) at `path`; for checks that nothing blocks
// on one. Windows has none: false there.
bool MakeFifo(const char* path, std::string* reason);
// Makes a symbolic link at `path` leading to `target` (`folder`: the
// target is a folder, which Windows wants to know). False, with a reason,
// when the system makes none: Windows without the privilege (or developer
// mode) for links, and emulations that report a link they never made.
bool MakeSymbolicLink(const char* target, const char* path, bool folder, std::string* reason);
// True when this process is not held back by file permissions (root).
bool PermissionsAreBypassed();

// The system's text for the last failure of a C library call in this
// thread.
std::string LastSystemError();
// Forgets the last failure, so that a failure of the calls after it can be
// told from none: RecordedSystemError() then gives the system's text for
// a failure since, or "" when none was recorded (a call that failed
// without the system's word, as a stream written into memory).
void ClearSystemError();
std::string RecordedSystemError();

// A file read or written by descriptor.
class RawFile {
 public:
  // Opens an existing regular file for reading (never blocks on a FIFO).
  static std::unique_ptr<RawFile> OpenForReading(const char* path, std::string* reason);
  // Creates a new file for writing; fails when anything (a link too) is
  // at `path` already.
  static std::unique_ptr<RawFile> CreateNew(const char* path, std::string* reason);

  ~RawFile();
  RawFile(const RawFile&) = delete;
  RawFile& operator=(const RawFile&) = delete;

  // Bytes read (0 at the end) or -1.
  int64_t Read(void* buffer, size_t n, std::string* reason);
  bool WriteAll(const void* buffer, size_t n, std::string* reason);
  // Sets the open file's access and modification times (seconds since
  // 1970), for a file that is written no more. False where the system
  // cannot do so through an open file (Windows): set them by path after
  // Close instead.
  bool SetTimes(int64_t accessTime, int64_t modificationTime);
  // Closes; a failure of the last writes shows here.
  bool Close(std::string* reason);

 private:
  explicit RawFile(int fd) : fd_(fd) {}
  int fd_;
};

}  // namespace marrowgate::platform

#endif  // MARROWGATE_PLATFORM_FILE_TREE_H_
