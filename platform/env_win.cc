// Windows implementation of the platform layer: narrow (system code page)
// paths, the C run-time's streams over handles opened with CreateFileA.
#include "platform/env.h"

#include <windows.h>
#include <bcrypt.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include "platform/win_error.h"

namespace marrowgate::platform {

namespace {
FILE* AsFile(void* p) { return static_cast<FILE*>(p); }

// Seconds since 1970 as a FILETIME (100 ns since 1601).
FILETIME ToFileTime(int64_t seconds) {
  const int64_t ticks = (seconds + 11644473600LL) * 10000000LL;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) & 0xffffffffu);
  ft.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
  return ft;
}

// The narrow calls take at most MAX_PATH - 1 characters; a longer path is
// refused with its reason before the system could shorten or misread it.
bool PathFits(const char* path) {
  if (std::strlen(path) <= static_cast<size_t>(kMaxNativePath)) return true;
  errno = ENAMETOOLONG;
  return false;
}

// Standard streams pass bytes unchanged, as on POSIX.
void BinaryStandardStreams() {
  static std::once_flag once;
  std::call_once(once, [] {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
  });
}

}  // namespace

// ---------------------------------------------------------------- streams

std::unique_ptr<FileStream> FileStream::Open(const char* path, const char* mode) {
  if (path == nullptr || mode == nullptr || *path == '\0' || !PathFits(path)) return nullptr;
  const bool update = std::strchr(mode, '+') != nullptr;
  DWORD access = 0;
  DWORD disposition = 0;
  int crtFlags = _O_BINARY;
  switch (mode[0]) {
    case 'r':
      access = GENERIC_READ | (update ? GENERIC_WRITE : 0);
      disposition = OPEN_EXISTING;
      crtFlags |= update ? _O_RDWR : _O_RDONLY;
      break;
    case 'w':
      access = GENERIC_WRITE | (update ? GENERIC_READ : 0);
      disposition = std::strchr(mode, 'x') != nullptr ? CREATE_NEW : CREATE_ALWAYS;
      crtFlags |= update ? _O_RDWR : _O_WRONLY;
      break;
    case 'a':
      access = GENERIC_WRITE | (update ? GENERIC_READ : 0);
      disposition = OPEN_ALWAYS;
      crtFlags |= (update ? _O_RDWR : _O_WRONLY) | _O_APPEND;
      break;
    default:
      return nullptr;
  }
  // Only ordinary files: a folder is refused before anything is opened.
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    errno = EISDIR;
    return nullptr;
  }
  // Shared for deletion too, so that a file being written can still be
  // removed or replaced (an interrupt's cleanup, another process).
  HANDLE handle = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    ReasonFromLastWindowsError(nullptr);
    return nullptr;
  }
  // Devices (CON, NUL, COM1, pipes) are not files.
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    errno = EINVAL;
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), crtFlags);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  std::string streamMode;
  for (const char* c = mode; *c != '\0'; ++c) {
    if (*c != 'x' && *c != 'b') streamMode.push_back(*c);
  }
  streamMode.push_back('b');
  FILE* f = _fdopen(fd, streamMode.c_str());
  if (f == nullptr) {
    _close(fd);
    return nullptr;
  }
  return std::unique_ptr<FileStream>(new FileStream(f));
}

FileStream::~FileStream() {
  if (stream_ != nullptr) std::fclose(AsFile(stream_));
}

size_t FileStream::Read(void* buffer, size_t n) { return std::fread(buffer, 1, n, AsFile(stream_)); }

size_t FileStream::Write(const void* buffer, size_t n) {
  return std::fwrite(buffer, 1, n, AsFile(stream_));
}

int FileStream::Seek(int64_t offset, int origin) {
  int whence = origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : SEEK_SET;
  if (_fseeki64(AsFile(stream_), offset, whence) != 0) return -1;
  // A seek ends the end-of-file state, as the C standard has it; the 64-bit
  // seek of this run-time leaves the indicator set, and a reader that asks
  // AtEnd() before it reads would take a file read from its start again
  // (a basis checked, then copied) for an empty one.
  std::clearerr(AsFile(stream_));
  return 0;
}

int64_t FileStream::Tell() { return _ftelli64(AsFile(stream_)); }

bool FileStream::AtEnd() { return std::feof(AsFile(stream_)) != 0; }

int FileStream::Flush() { return std::fflush(AsFile(stream_)) == 0 ? 0 : -1; }

int64_t FileStream::Size() {
  FILE* f = AsFile(stream_);
  if (std::fflush(f) != 0) return -1;
  const intptr_t handle = _get_osfhandle(_fileno(f));
  LARGE_INTEGER size;
  if (handle == -1 || !GetFileSizeEx(reinterpret_cast<HANDLE>(handle), &size)) return -1;
  return static_cast<int64_t>(size.QuadPart);
}

// Through the stream, its position put back afterwards.
int64_t FileStream::ReadAt(int64_t offset, void* buffer, size_t n) {
  FILE* f = AsFile(stream_);
  const int64_t position = _ftelli64(f);
  if (offset < 0 || position < 0 || _fseeki64(f, offset, SEEK_SET) != 0) return -1;
  const size_t got = std::fread(buffer, 1, n, f);
  const bool failed = got < n && std::ferror(f) != 0;
  if (_fseeki64(f, position, SEEK_SET) != 0 || failed) return -1;
  return static_cast<int64_t>(got);
}

// From the handle's own times: the C run-time's _fstat64 cannot describe
// a time before 1970 and reports the present instead.
int64_t FileStream::ModificationTime() {
  const intptr_t handle = _get_osfhandle(_fileno(AsFile(stream_)));
  FILETIME modification;
  if (handle == -1 ||
      !GetFileTime(reinterpret_cast<HANDLE>(handle), nullptr, nullptr, &modification)) {
    return 0;
  }
  const uint64_t ticks =
      (static_cast<uint64_t>(modification.dwHighDateTime) << 32) | modification.dwLowDateTime;
  return static_cast<int64_t>(ticks / 10000000u) - 11644473600LL;
}

// The times are set by path once the file is closed: a close after
// writes through the handle may stamp the time again.
bool FileStream::SetTimes(int64_t /*accessTime*/, int64_t /*modificationTime*/) { return false; }

intptr_t FileStream::Handle() { return reinterpret_cast<intptr_t>(stream_); }

// ---------------------------------------------------------- path status

bool PathAccessible(const char* path) {
  return path != nullptr && *path != '\0' && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool SetFileTimes(const char* path, int64_t accessTime, int64_t modificationTime) {
  if (path == nullptr) return false;
  // SetFileTime takes times before 1970 too (the C run-time does not).
  if (accessTime < -11644473600LL || modificationTime < -11644473600LL) return false;
  HANDLE handle = CreateFileA(path, FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    ReasonFromLastWindowsError(nullptr);
    return false;
  }
  const FILETIME access = ToFileTime(accessTime);
  const FILETIME modification = ToFileTime(modificationTime);
  const BOOL ok = SetFileTime(handle, nullptr, &access, &modification);
  if (!ok) ReasonFromLastWindowsError(nullptr);
  CloseHandle(handle);
  return ok != 0;
}

bool SetWritable(const char* path, bool writable) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  const DWORD wanted = writable ? (attributes & ~FILE_ATTRIBUTE_READONLY)
                                : (attributes | FILE_ATTRIBUTE_READONLY);
  return wanted == attributes || SetFileAttributesA(path, wanted) != 0;
}

bool CopyPermissions(const char* model, const char* path) {
  const DWORD attributes = GetFileAttributesA(model);
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  return SetWritable(path, (attributes & FILE_ATTRIBUTE_READONLY) == 0);
}

bool MakeFolder(const char* path) {
  if (path == nullptr || !PathFits(path)) return false;
  if (CreateDirectoryA(path, nullptr)) return true;
  ReasonFromLastWindowsError(nullptr);
  return false;
}
bool RemoveFolder(const char* path) { return RemoveDirectoryA(path) != 0; }
bool RemoveFile(const char* path) { return DeleteFileA(path) != 0; }
bool RenamePath(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

std::string CurrentFolder() {
  const DWORD needed = GetCurrentDirectoryA(0, nullptr);
  if (needed == 0) return std::string();
  std::string buffer(needed, '\0');
  const DWORD got = GetCurrentDirectoryA(needed, buffer.data());
  if (got == 0 || got >= needed) return std::string();
  buffer.resize(got);
  for (char& c : buffer) {
    if (c == '\\') c = '/';
  }
  return buffer;
}

bool SetCurrentFolder(const char* path) { return SetCurrentDirectoryA(path) != 0; }

// ------------------------------------------------------- folder listing

namespace {

struct FindState {
  HANDLE handle = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAA data;
  bool pending = true;  // `data` holds an entry not yet returned
};

}  // namespace

std::unique_ptr<FolderEnumerator> FolderEnumerator::Open(const char* path) {
  if (path == nullptr) return nullptr;
  std::string pattern = *path ? path : ".";
  if (pattern.back() != '/' && pattern.back() != '\\') pattern.push_back('\\');
  pattern.push_back('*');
  auto state = std::make_unique<FindState>();
  state->handle = FindFirstFileA(pattern.c_str(), &state->data);
  if (state->handle == INVALID_HANDLE_VALUE) return nullptr;
  return std::unique_ptr<FolderEnumerator>(new FolderEnumerator(state.release(), path));
}

FolderEnumerator::~FolderEnumerator() {
  auto* state = static_cast<FindState*>(dir_);
  if (state == nullptr) return;
  FindClose(state->handle);
  delete state;
}

bool FolderEnumerator::Next(std::string* name, bool* isFolder) {
  auto* state = static_cast<FindState*>(dir_);
  if (!state->pending) {
    if (!FindNextFileA(state->handle, &state->data)) return false;
  }
  state->pending = false;
  *name = state->data.cFileName;
  *isFolder = (state->data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return true;
}

// --------------------------------------------------------------- clock

int64_t TimeNow() { return static_cast<int64_t>(_time64(nullptr)); }

uint32_t TickMilliseconds() { return static_cast<uint32_t>(GetTickCount()); }

bool ToLocalCalendar(int64_t t, CalendarTime* out) {
  const __time64_t value = t;
  struct tm fields;
  if (_localtime64_s(&fields, &value) != 0) return false;
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
  return static_cast<int64_t>(_mktime64(&fields));
}

bool SetTimeZone(const char* zone) {
  const int rc = _putenv_s("TZ", zone != nullptr ? zone : "");
  _tzset();
  return rc == 0;
}

// ---------------------------------------------------------- randomness

int CRand() { return std::rand(); }
void CSeedRand(unsigned seed) { std::srand(seed); }

bool SystemRandom(void* buffer, size_t n) {
  auto* out = static_cast<unsigned char*>(buffer);
  while (n > 0) {
    const ULONG chunk = n > 0x10000000u ? 0x10000000u : static_cast<ULONG>(n);
    if (BCryptGenRandom(nullptr, out, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0) return false;
    out += chunk;
    n -= chunk;
  }
  return true;
}

// ----------------------------------------------------- character sets

int CountCharacters(int codePage, const char* bytes, size_t n) {
  if (n == 0) return 0;
  if (n > 0x7fffffff || codePage < 0) return -1;
  const UINT page = codePage == 0 ? CP_ACP : static_cast<UINT>(codePage);
  std::wstring wide(n, L'\0');
  const int units = MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(n),
                                        wide.data(), static_cast<int>(wide.size()));
  if (units <= 0) return -1;
  // Characters, not UTF-16 units: a surrogate pair is one.
  int count = 0;
  for (int i = 0; i < units; ++i) {
    if (wide[i] >= 0xdc00 && wide[i] <= 0xdfff && i > 0 && wide[i - 1] >= 0xd800 &&
        wide[i - 1] <= 0xdbff) {
      continue;
    }
    ++count;
  }
  return count;
}

// ------------------------------------------------------------- process

void DebugOutput(const char* text) {
  if (text == nullptr) return;
  OutputDebugStringA(text);
  if (std::getenv("MARROWGATE_DEBUG") == nullptr) return;
  std::fputs(text, stderr);
  std::fputc('\n', stderr);
}

std::string OwnExecutablePath() {
  std::string buffer(MAX_PATH, '\0');
  for (;;) {
    const DWORD got = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (got == 0) return std::string();
    if (got < buffer.size()) {
      buffer.resize(got);
      return buffer;
    }
    if (buffer.size() >= 32768) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}

std::string ProcessCommandLine() {
  const char* line = GetCommandLineA();
  return line != nullptr ? std::string(line) : std::string();
}

namespace {
// A standard handle that leads somewhere: a console, a pipe or a file.
bool StandardHandleConnected(DWORD which) {
  HANDLE handle = GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
  return GetFileType(handle) != FILE_TYPE_UNKNOWN;
}
}  // namespace

bool AttachStartingConsole() {
  const bool outConnected = StandardHandleConnected(STD_OUTPUT_HANDLE);
  const bool errConnected = StandardHandleConnected(STD_ERROR_HANDLE);
  if (outConnected && errConnected) return true;
  // The console of the process that started this one; a program started
  // from the desktop has none, and its text goes nowhere, as before.
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return false;
  bool ok = true;
  if (!outConnected) ok = std::freopen("CONOUT$", "w", stdout) != nullptr && ok;
  if (!errConnected) ok = std::freopen("CONOUT$", "w", stderr) != nullptr && ok;
  return ok;
}

bool StderrIsTerminal() { return _isatty(2) != 0; }

const char* GetEnvironment(const char* name) { return std::getenv(name); }

bool SetEnvironment(const char* name, const char* value) {
  if (name == nullptr || *name == '\0' || std::strchr(name, '=') != nullptr) return false;
  // An empty value removes the variable, as the C run-time has it.
  return _putenv_s(name, value != nullptr ? value : "") == 0;
}

bool WriteStandardOutput(const void* data, size_t n) {
  BinaryStandardStreams();
  return std::fwrite(data, 1, n, stdout) == n && std::fflush(stdout) == 0;
}

bool WriteStandardError(const void* data, size_t n) {
  BinaryStandardStreams();
  return std::fwrite(data, 1, n, stderr) == n;
}

}  // namespace marrowgate::platform
