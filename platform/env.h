// The operating-system layer. Every call into the OS that the rest of the
// tree needs (stdio streams, file status, folders, file times, the clock,
// the C library's pseudo-random generator, character-set conversion, debug
// output, the running program's path) goes through the headers of platform/
// (this one and its neighbours: durable files, file trees, file kinds and
// identities, sockets, interrupts, processor count) and nothing else.
// Another platform replaces the *_posix.cc files; no other folder changes.
//
// Conventions: functions report failure with false, a negative value or a
// null pointer; none of them throws.
#ifndef MARROWGATE_PLATFORM_ENV_H_
#define MARROWGATE_PLATFORM_ENV_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace marrowgate::platform {

// Longest path text the system takes, without the terminator.
#ifdef _WIN32
inline constexpr int kMaxNativePath = 259;
#else
inline constexpr int kMaxNativePath = 4095;
#endif

// ---------------------------------------------------------------- streams

// A buffered file stream with 64-bit positions (stdio underneath).
class FileStream {
 public:
  // Opens `path` with an fopen-style mode text ("rb", "wb+", "rb+", "ab").
  // Only ordinary files are opened: a folder, device, FIFO or socket gives
  // null without being opened (and a name taken by one meanwhile is opened
  // without blocking and refused), so no open or read can wait forever.
  // "wxb+" creates a new file and fails when anything, a link included, is
  // at `path` already. Returns null when the file cannot be opened.
  static std::unique_ptr<FileStream> Open(const char* path, const char* mode);

  ~FileStream();  // closes the stream
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;

  size_t Read(void* buffer, size_t n);         // bytes read
  size_t Write(const void* buffer, size_t n);  // bytes written
  // origin: 0 start, 1 current, 2 end. Returns 0 or -1.
  int Seek(int64_t offset, int origin);
  int64_t Tell();  // -1 on failure
  bool AtEnd();    // the end-of-file indicator
  int Flush();     // 0 or -1
  // The file's size in bytes, from its status (bytes still buffered for
  // writing are handed to the system first); -1 on failure. Asks no
  // position of the stream and moves none. Until the stream writes, the
  // status read when it was opened answers, without a call.
  int64_t Size();
  // Reads up to n bytes at `offset` without moving the stream's position
  // (bytes still buffered for writing are handed to the system first): the
  // count read, less than n only at the end of the file; -1 on failure.
  int64_t ReadAt(int64_t offset, void* buffer, size_t n);
  // Modification time of the open file in seconds since 1970, or 0.
  int64_t ModificationTime();
  // Hands buffered bytes to the system and sets the open file's access
  // and modification times (seconds since 1970), so that closing it
  // changes neither. False where the system cannot do so through an open
  // file (Windows: the caller then sets them by path after closing).
  bool SetTimes(int64_t accessTime, int64_t modificationTime);
  // The underlying handle as an integer (for callers that want one).
  intptr_t Handle();

 private:
  explicit FileStream(void* stream) : stream_(stream) {}
  void* stream_;
  int64_t sizeAtOpen_ = -1;  // -1: not known, or written since
  std::unique_ptr<char[]> buffer_;  // the stream's buffer, when it is given one
};

// ---------------------------------------------------------- path status

// True when the path exists and can be reached.
bool PathAccessible(const char* path);
// Sets access and modification time (seconds since 1970).
bool SetFileTimes(const char* path, int64_t accessTime, int64_t modificationTime);
// Clears or restores the write permission bits of a file.
bool SetWritable(const char* path, bool writable);
// Gives `path` the permission bits of `model` (used to keep a copied
// program runnable).
bool CopyPermissions(const char* model, const char* path);

bool MakeFolder(const char* path);    // one level
bool RemoveFolder(const char* path);  // an empty folder
bool RemoveFile(const char* path);
// Replaces `to` by `from` (atomically where the OS allows it).
bool RenamePath(const char* from, const char* to);

// The working folder, with '/' separators; empty on failure. It is read
// from the system once and kept until SetCurrentFolder changes it, so the
// working folder is to be changed through SetCurrentFolder only.
std::string CurrentFolder();
bool SetCurrentFolder(const char* path);

// ------------------------------------------------------- folder listing

// Enumerates one folder's entries, "." and ".." included.
class FolderEnumerator {
 public:
  // Null when the folder cannot be opened.
  static std::unique_ptr<FolderEnumerator> Open(const char* path);
  ~FolderEnumerator();
  FolderEnumerator(const FolderEnumerator&) = delete;
  FolderEnumerator& operator=(const FolderEnumerator&) = delete;

  // The next entry; false at the end.
  bool Next(std::string* name, bool* isFolder);

 private:
  FolderEnumerator(void* dir, std::string path) : dir_(dir), path_(std::move(path)) {}
  void* dir_;
  std::string path_;
};

// --------------------------------------------------------------- clock

int64_t TimeNow();             // calendar time, seconds since 1970 UTC
uint32_t TickMilliseconds();   // a millisecond tick (wraps)

struct CalendarTime {
  int year = 1970;  // e.g. 2017
  int month = 1;    // 1..12
  int day = 1;      // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
};
// Breaks `t` down into local calendar fields; false when it cannot.
bool ToLocalCalendar(int64_t t, CalendarTime* out);
// Local calendar fields to calendar time (daylight saving decided by the
// system, fields normalised as mktime does); -1 when not representable.
int64_t FromLocalCalendar(const CalendarTime& fields);
// Sets the time zone used by the local-calendar conversions (a TZ text such
// as "UTC0" or "KST-9"); null restores the system's default zone.
bool SetTimeZone(const char* zone);

// ---------------------------------------------------------- randomness

int CRand();                 // the C library's rand()
void CSeedRand(unsigned seed);
// Fills `buffer` from the operating system's random source.
bool SystemRandom(void* buffer, size_t n);

// ----------------------------------------------------- character sets

// Converts `n` bytes from code page `codePage` (65001 UTF-8, 949 the Korean
// double-byte code page, any other number n as "CP<n>", 0 the locale's
// character set) and returns how many characters they make, or -1 when the
// bytes do not convert.
int CountCharacters(int codePage, const char* bytes, size_t n);

// ------------------------------------------------------------- process

// Writes `text` to the debugger channel: stderr when the environment
// variable MARROWGATE_DEBUG is set, otherwise nowhere.
void DebugOutput(const char* text);
// Full path of the running program; empty when unknown.
std::string OwnExecutablePath();
// The process's whole command line, program path included, as the system
// keeps it (Windows: GetCommandLineA; POSIX: the arguments joined by single
// spaces). Empty when unknown.
std::string ProcessCommandLine();
// Connects standard output and error of a program without a console of
// its own (a Windows GUI program) to the console of the process that
// started it, where they are not redirected already, so that its text
// reaches the terminal or script that ran it. True when both lead
// somewhere (POSIX: always, nothing changes).
bool AttachStartingConsole();
// Whether standard error is an interactive terminal.
bool StderrIsTerminal();
// The value of an environment variable, or null.
const char* GetEnvironment(const char* name);
// Sets (value non-null) or removes (value null) an environment variable of
// this process. False on failure.
bool SetEnvironment(const char* name, const char* value);
// Writes `n` bytes to standard output / standard error (for command-line
// tools); false when not everything was written.
bool WriteStandardOutput(const void* data, size_t n);
bool WriteStandardError(const void* data, size_t n);

}  // namespace marrowgate::platform

#endif  // MARROWGATE_PLATFORM_ENV_H_
