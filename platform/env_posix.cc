// POSIX implementation of the platform layer (Linux first).
#include "platform/env.h"

#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <stdio_ext.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>

namespace marrowgate::platform {

namespace {
FILE* AsFile(void* p) { return static_cast<FILE*>(p); }
// The buffer every stream is given (the C library's own choice for a disk
// file is the block size, 4 KiB, found by a status call).
constexpr size_t kStreamBufferBytes = 8192;
}  // namespace

// ---------------------------------------------------------------- streams

namespace {

// Access and modification times in whole seconds, as utimensat and
// futimens take them.
struct FileTimes {
  FileTimes(int64_t accessTime, int64_t modificationTime)
      : value{{static_cast<time_t>(accessTime), 0}, {static_cast<time_t>(modificationTime), 0}} {}
  struct timespec value[2];
};

// The open(2) flags of an fopen-style mode text; false for a text that
// names no access ('r', 'w' or 'a' first).
bool OpenFlagsOf(const char* mode, int* flags) {
  bool update = std::strchr(mode, '+') != nullptr;
  switch (mode[0]) {
    case 'r': *flags = update ? O_RDWR : O_RDONLY; break;
    case 'w': *flags = (update ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC; break;
    case 'a': *flags = (update ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND; break;
    default: return false;
  }
  // 'x': a new file only, never made through a link at the path.
  if (mode[0] == 'w' && std::strchr(mode, 'x') != nullptr) *flags |= O_EXCL | O_NOFOLLOW;
  return true;
}

}  // namespace

std::unique_ptr<FileStream> FileStream::Open(const char* path, const char* mode) {
  if (path == nullptr || mode == nullptr) return nullptr;
  int flags = 0;
  if (!OpenFlagsOf(mode, &flags)) return nullptr;
  // Only ordinary files: a device, FIFO or socket is never opened (opening
  // one can block or have effects of its own), and a folder is no file.
  FILE* f = nullptr;
  int64_t size = 0;
#ifdef __GLIBC__
  // A new file: the C library's own 'x' and 'e' make the same open
  // (O_EXCL refuses a link or FIFO at the name, so no flag more is needed),
  // and fopen spares the status call fdopen makes.
  if ((flags & O_EXCL) != 0) {
    f = std::fopen(path, (std::string(mode) + "e").c_str());
    if (f == nullptr) return nullptr;
  }
#endif
  if (f == nullptr) {
    struct stat st;
    if ((flags & O_EXCL) == 0 && ::stat(path, &st) == 0 && !S_ISREG(st.st_mode)) return nullptr;
    // Without blocking, in case something else took the name since.
    int fd = ::open(path, flags | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    if ((flags & O_EXCL) != 0) {
      st.st_size = 0;  // made by this open: an empty ordinary file
    } else if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd);
      return nullptr;
    }
    // The flag goes again where it could matter; on Linux it changes
    // nothing for an ordinary file and is left, which saves two calls.
#ifndef __linux__
    int status = ::fcntl(fd, F_GETFL);
    if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
      ::close(fd);
      return nullptr;
    }
#endif
    // fdopen takes the mode without 'x', which only matters to open.
    std::string streamMode;
    for (const char* c = mode; *c != '\0'; ++c) {
      if (*c != 'x') streamMode.push_back(*c);
    }
    f = ::fdopen(fd, streamMode.c_str());
    if (f == nullptr) {
      ::close(fd);
      return nullptr;
    }
    size = static_cast<int64_t>(st.st_size);
  }
  std::unique_ptr<FileStream> stream(new FileStream(f));
  stream->sizeAtOpen_ = size;
  // A buffer of its own spares the C library the status call it makes to
  // size one at the first transfer.
  stream->buffer_.reset(new (std::nothrow) char[kStreamBufferBytes]);
  if (stream->buffer_ != nullptr)
    std::setvbuf(f, stream->buffer_.get(), _IOFBF, kStreamBufferBytes);
  return stream;
}

FileStream::~FileStream() {
  if (stream_ != nullptr) std::fclose(AsFile(stream_));
}

size_t FileStream::Read(void* buffer, size_t n) {
  return std::fread(buffer, 1, n, AsFile(stream_));
}

size_t FileStream::Write(const void* buffer, size_t n) {
  sizeAtOpen_ = -1;
  return std::fwrite(buffer, 1, n, AsFile(stream_));
}

int FileStream::Seek(int64_t offset, int origin) {
  int whence = origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : SEEK_SET;
  return fseeko(AsFile(stream_), static_cast<off_t>(offset), whence) == 0 ? 0 : -1;
}

int64_t FileStream::Tell() { return static_cast<int64_t>(ftello(AsFile(stream_))); }

bool FileStream::AtEnd() { return std::feof(AsFile(stream_)) != 0; }

int FileStream::Flush() { return std::fflush(AsFile(stream_)) == 0 ? 0 : -1; }

int64_t FileStream::Size() {
  if (sizeAtOpen_ >= 0) return sizeAtOpen_;
  FILE* f = AsFile(stream_);
  if (__fpending(f) > 0 && std::fflush(f) != 0) return -1;
  struct stat st;
  if (::fstat(fileno(f), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

int64_t FileStream::ReadAt(int64_t offset, void* buffer, size_t n) {
  FILE* f = AsFile(stream_);
  if (offset < 0 || (__fpending(f) > 0 && std::fflush(f) != 0)) return -1;
  const int fd = fileno(f);
  auto* out = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < n) {
    const ssize_t got = ::pread(fd, out + done, n - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return static_cast<int64_t>(done);
}

int64_t FileStream::ModificationTime() {
  struct stat st;
  if (fstat(fileno(AsFile(stream_)), &st) != 0) return 0;
  return static_cast<int64_t>(st.st_mtime);
}

bool FileStream::SetTimes(int64_t accessTime, int64_t modificationTime) {
  FILE* f = AsFile(stream_);
  if (std::fflush(f) != 0) return false;
  const FileTimes times(accessTime, modificationTime);
  return ::futimens(fileno(f), times.value) == 0;
}

intptr_t FileStream::Handle() { return reinterpret_cast<intptr_t>(stream_); }

// ---------------------------------------------------------- path status

bool PathAccessible(const char* path) {
  return path != nullptr && ::access(path, F_OK) == 0;
}

bool SetFileTimes(const char* path, int64_t accessTime, int64_t modificationTime) {
  const FileTimes times(accessTime, modificationTime);
  return ::utimensat(AT_FDCWD, path, times.value, 0) == 0;
}

bool SetWritable(const char* path, bool writable) {
  struct stat st;
  if (::stat(path, &st) != 0) return false;
  mode_t mode = st.st_mode & 07777;
  mode = writable ? (mode | S_IWUSR) : (mode & ~(S_IWUSR | S_IWGRP | S_IWOTH));
  return ::chmod(path, mode) == 0;
}

bool CopyPermissions(const char* model, const char* path) {
  struct stat st;
  if (::stat(model, &st) != 0) return false;
  return ::chmod(path, st.st_mode & 07777) == 0;
}

bool MakeFolder(const char* path) { return ::mkdir(path, 0777) == 0; }
bool RemoveFolder(const char* path) { return ::rmdir(path) == 0; }
bool RemoveFile(const char* path) { return ::unlink(path) == 0; }
bool RenamePath(const char* from, const char* to) { return std::rename(from, to) == 0; }

namespace {

// The working folder as last read; empty until read, and again after
// SetCurrentFolder.
std::mutex& CurrentFolderLock() {
  static std::mutex lock;
  return lock;
}
std::string& KnownCurrentFolder() {
  static std::string folder;
  return folder;
}

}  // namespace

std::string CurrentFolder() {
  std::lock_guard<std::mutex> hold(CurrentFolderLock());
  std::string& known = KnownCurrentFolder();
  if (!known.empty()) return known;
  std::string buffer(4096, '\0');
  if (::getcwd(buffer.data(), buffer.size()) == nullptr) return std::string();
  buffer.resize(std::strlen(buffer.c_str()));
  known = buffer;
  return buffer;
}

bool SetCurrentFolder(const char* path) {
  std::lock_guard<std::mutex> hold(CurrentFolderLock());
  KnownCurrentFolder().clear();
  return ::chdir(path) == 0;
}

// ------------------------------------------------------- folder listing

std::unique_ptr<FolderEnumerator> FolderEnumerator::Open(const char* path) {
  if (path == nullptr) return nullptr;
  DIR* dir = ::opendir(*path ? path : ".");
  if (dir == nullptr) return nullptr;
  return std::unique_ptr<FolderEnumerator>(new FolderEnumerator(dir, path));
}

FolderEnumerator::~FolderEnumerator() {
  if (dir_ != nullptr) ::closedir(static_cast<DIR*>(dir_));
}

bool FolderEnumerator::Next(std::string* name, bool* isFolder) {
  struct dirent* entry = ::readdir(static_cast<DIR*>(dir_));
  if (entry == nullptr) return false;
  *name = entry->d_name;
  if (entry->d_type == DT_DIR) {
    *isFolder = true;
  } else if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
    std::string full = path_ + "/" + *name;
    struct stat st;
    *isFolder = ::stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  } else {
    *isFolder = false;
  }
  return true;
}

// --------------------------------------------------------------- clock

int64_t TimeNow() { return static_cast<int64_t>(std::time(nullptr)); }

uint32_t TickMilliseconds() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                               static_cast<uint64_t>(ts.tv_nsec / 1000000));
}

bool ToLocalCalendar(int64_t t, CalendarTime* out) {
  time_t value = static_cast<time_t>(t);
  struct tm fields;
  if (::localtime_r(&value, &fields) == nullptr) return false;
  out->year = fields.tm_year + 1900;
  out->month = fields.tm_mon + 1;
  out->day = fields.tm_mday;
  out->hour = fields.tm_hour;
  out->minute = fields.tm_min;
  out->second = fields.tm_sec;
  return true;
}

int64_t FromLocalCalendar(const CalendarTime& in) {
  struct tm fields;
  std::memset(&fields, 0, sizeof fields);
  fields.tm_year = in.year - 1900;
  fields.tm_mon = in.month - 1;
  fields.tm_mday = in.day;
  fields.tm_hour = in.hour;
  fields.tm_min = in.minute;
  fields.tm_sec = in.second;
  fields.tm_isdst = -1;
  time_t value = std::mktime(&fields);
  return static_cast<int64_t>(value);
}

bool SetTimeZone(const char* zone) {
  int rc = zone != nullptr ? ::setenv("TZ", zone, 1) : ::unsetenv("TZ");
  ::tzset();
  return rc == 0;
}

// ---------------------------------------------------------- randomness

int CRand() { return std::rand(); }
void CSeedRand(unsigned seed) { std::srand(seed); }

bool SystemRandom(void* buffer, size_t n) {
  auto* out = static_cast<unsigned char*>(buffer);
  while (n > 0) {
    ssize_t got = ::getrandom(out, n, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    out += got;
    n -= static_cast<size_t>(got);
  }
  return true;
}

// ----------------------------------------------------- character sets

int CountCharacters(int codePage, const char* bytes, size_t n) {
  std::string from;
  if (codePage == 65001) {
    from = "UTF-8";
  } else if (codePage == 949) {
    from = "CP949";
  } else if (codePage == 0) {
    static std::once_flag once;
    std::call_once(once, [] { std::setlocale(LC_CTYPE, ""); });
    from = nl_langinfo(CODESET);
  } else {
    from = "CP" + std::to_string(codePage);
  }
  iconv_t cd = ::iconv_open("UTF-32LE", from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return -1;
  char out[64];
  char* in = const_cast<char*>(bytes);
  size_t inLeft = n;
  char* outPtr = out;
  size_t outLeft = sizeof out;
  size_t rc = ::iconv(cd, &in, &inLeft, &outPtr, &outLeft);
  ::iconv_close(cd);
  if (rc == static_cast<size_t>(-1) || inLeft != 0) return -1;
  return static_cast<int>((sizeof out - outLeft) / 4);
}

// ------------------------------------------------------------- process

void DebugOutput(const char* text) {
  if (text == nullptr || std::getenv("MARROWGATE_DEBUG") == nullptr) return;
  std::fputs(text, stderr);
  std::fputc('\n', stderr);
}

std::string OwnExecutablePath() {
  std::string buffer(4096, '\0');
  ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return std::string();
  buffer.resize(static_cast<size_t>(n));
  return buffer;
}

std::string ProcessCommandLine() {
  std::unique_ptr<FileStream> stream = FileStream::Open("/proc/self/cmdline", "rb");
  if (!stream) return std::string();
  std::string line;
  char buffer[4096];
  size_t n = 0;
  while ((n = stream->Read(buffer, sizeof buffer)) > 0) line.append(buffer, n);
  while (!line.empty() && line.back() == '\0') line.pop_back();
  for (char& c : line) {
    if (c == '\0') c = ' ';
  }
  return line;
}

bool AttachStartingConsole() { return true; }

bool StderrIsTerminal() { return ::isatty(2) != 0; }

const char* GetEnvironment(const char* name) { return std::getenv(name); }

bool SetEnvironment(const char* name, const char* value) {
  if (name == nullptr) return false;
  return (value != nullptr ? ::setenv(name, value, 1) : ::unsetenv(name)) == 0;
}

bool WriteStandardOutput(const void* data, size_t n) {
  return std::fwrite(data, 1, n, stdout) == n && std::fflush(stdout) == 0;
}

bool WriteStandardError(const void* data, size_t n) {
  return std::fwrite(data, 1, n, stderr) == n;
}

}  // namespace marrowgate::platform
