// Local packet sockets over named pipes in message mode
// ("\\.\pipe\marrowgate.<name>"), with overlapped I/O so that every wait
// has its bound. Pipe handles are kept in the classes' int fields (kernel
// handles keep their value when cut to 32 bits and widened again).
#include "platform/local_socket.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace marrowgate::platform {
namespace {

// What a pipe holds for a reader that is not reading yet: about what a
// Linux packet socket queues, so that a sender does not stall where it
// would not on Linux (a packet larger than what is left waits for the
// reader, as there).
constexpr DWORD kPipeBuffer = 256 * 1024;
// The piece one read takes; a longer packet comes in several.
constexpr DWORD kReadChunk = 64 * 1024;

int ToInt(HANDLE handle) { return static_cast<int>(reinterpret_cast<intptr_t>(handle)); }
HANDLE ToHandle(int value) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(value)); }

bool PipeName(std::string_view name, std::string* out) {
  if (name.empty() || name.size() > kMaxLocalSocketName) return false;
  if (name.find('\\') != std::string_view::npos || name.find('\0') != std::string_view::npos) {
    return false;
  }
  *out = "\\\\.\\pipe\\marrowgate.";
  out->append(name.data(), name.size());
  return true;
}

int64_t MonotonicMs() { return static_cast<int64_t>(GetTickCount64()); }

int Remaining(int64_t deadline) {
  if (deadline < 0) return -1;
  const int64_t left = deadline - MonotonicMs();
  return left <= 0 ? 0 : static_cast<int>(left);
}

// How long a cancelled operation may take to end before it is left to the
// system (with its buffer and event) instead of being waited for.
constexpr DWORD kCancelWaitMs = 2000;

// One overlapped operation at a time, with its event and its buffer. Each
// wait is bounded: an operation that outlives its time is cancelled, and
// one that does not even end after its cancellation is abandoned (its
// state is never freed, so the system can still complete into it) rather
// than waited for.
class Operation {
 public:
  Operation() : state_(new State) {
    state_->overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  }
  ~Operation() {
    if (inFlight_) return;  // abandoned: see above
    if (state_->overlapped.hEvent != nullptr) CloseHandle(state_->overlapped.hEvent);
    delete state_;
  }
  Operation(const Operation&) = delete;
  Operation& operator=(const Operation&) = delete;

  bool ok() const { return state_->overlapped.hEvent != nullptr; }
  OVERLAPPED* overlapped() {
    ResetEvent(state_->overlapped.hEvent);
    return &state_->overlapped;
  }
  std::vector<char>& buffer() { return state_->buffer; }

  // Finishes the operation just started on `handle` (`started`: what the
  // starting call returned), waiting at most `timeoutMs` (negative: no
  // limit). 1 done, 0 timed out (nothing transferred), -1 failed with
  // GetLastError telling why; ERROR_MORE_DATA (a longer message) comes
  // with `transferred` set.
  int Finish(HANDLE handle, BOOL started, int timeoutMs, DWORD* transferred) {
    OVERLAPPED* overlapped = &state_->overlapped;
    *transferred = 0;
    if (!started) {
      const DWORD code = GetLastError();
      if (code == ERROR_MORE_DATA) {
        GetOverlappedResult(handle, overlapped, transferred, FALSE);
        SetLastError(ERROR_MORE_DATA);
        return -1;
      }
      if (code != ERROR_IO_PENDING) return -1;
      inFlight_ = true;
      const DWORD wait = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
      if (WaitForSingleObject(overlapped->hEvent, wait) != WAIT_OBJECT_0) {
        CancelIoEx(handle, overlapped);
        if (WaitForSingleObject(overlapped->hEvent, kCancelWaitMs) != WAIT_OBJECT_0) return 0;
        inFlight_ = false;
        // Completed after all: its result stands.
        if (GetOverlappedResult(handle, overlapped, transferred, FALSE)) return 1;
        return GetLastError() == ERROR_OPERATION_ABORTED ? 0 : -1;
      }
      inFlight_ = false;
    }
    return GetOverlappedResult(handle, overlapped, transferred, FALSE) ? 1 : -1;
  }

  bool abandoned() const { return inFlight_; }

 private:
  struct State {
    OVERLAPPED overlapped{};
    std::vector<char> buffer;
  };
  State* state_;
  bool inFlight_ = false;
};

HANDLE NewInstance(const std::string& pipe, bool first) {
  DWORD openMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED;
  if (first) openMode |= FILE_FLAG_FIRST_PIPE_INSTANCE;
  return CreateNamedPipeA(pipe.c_str(), openMode,
                          PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT |
                              PIPE_REJECT_REMOTE_CLIENTS,
                          PIPE_UNLIMITED_INSTANCES, kPipeBuffer, kPipeBuffer, 0, nullptr);
}

// What a listener needs beyond its waiting pipe instance: the pipe's name
// for the instances that follow, and the named object that claims the name
// for it (FILE_FLAG_FIRST_PIPE_INSTANCE alone does not keep a second
// listener out everywhere: Wine ignores it).
struct ListenerState {
  std::string pipe;
  HANDLE claim = nullptr;
};
std::mutex g_listenersMutex;
std::map<int, ListenerState> g_listeners;

// Claims `name` for one listener on this machine; null when another holds
// it.
HANDLE ClaimName(std::string_view name) {
  const std::string object = "Local\\marrowgate.listener." + std::string(name);
  SetLastError(ERROR_SUCCESS);
  HANDLE claim = CreateMutexA(nullptr, FALSE, object.c_str());
  if (claim != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(claim);
    return nullptr;
  }
  return claim;
}

// Whether a listener holds `name` now. A pipe outlives its listener while
// sockets accepted from it stay open, so the pipe's name alone does not
// tell.
bool NameIsClaimed(std::string_view name) {
  const std::string object = "Local\\marrowgate.listener." + std::string(name);
  HANDLE claim = OpenMutexA(SYNCHRONIZE, FALSE, object.c_str());
  if (claim == nullptr) return false;
  CloseHandle(claim);
  return true;
}

// The relative id of the account a process runs under (its SID's last
// sub-authority); false when it cannot be read.
bool UserIdOfProcess(HANDLE process, uint32_t* user) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return false;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::string buffer(size > 0 ? size : 1, '\0');
  bool ok = size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size);
  if (ok) {
    const auto* info = reinterpret_cast<const TOKEN_USER*>(buffer.data());
    const UCHAR count = *GetSidSubAuthorityCount(info->User.Sid);
    ok = count > 0;
    if (ok) *user = static_cast<uint32_t>(*GetSidSubAuthority(info->User.Sid, count - 1));
  }
  CloseHandle(token);
  return ok;
}

}  // namespace

uint32_t ProcessUserId() {
  uint32_t user = 0;
  UserIdOfProcess(GetCurrentProcess(), &user);
  return user;
}

std::unique_ptr<LocalSocket> LocalSocket::Connect(std::string_view name, int timeoutMs) {
  std::string pipe;
  if (!PipeName(name, &pipe)) return nullptr;
  const int64_t deadline = timeoutMs < 0 ? -1 : MonotonicMs() + timeoutMs;
  for (;;) {
    HANDLE handle = CreateFileA(pipe.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      DWORD mode = PIPE_READMODE_MESSAGE;
      if (!SetNamedPipeHandleState(handle, &mode, nullptr, nullptr)) {
        CloseHandle(handle);
        return nullptr;
      }
      return std::unique_ptr<LocalSocket>(new LocalSocket(ToInt(handle)));
    }
    // Every instance busy: the listener has not taken the last one yet,
    // or there is no listener any more, only its accepted sockets.
    if (GetLastError() != ERROR_PIPE_BUSY || !NameIsClaimed(name)) return nullptr;
    const int left = Remaining(deadline);
    if (left == 0) return nullptr;
    WaitNamedPipeA(pipe.c_str(), static_cast<DWORD>(left < 0 ? 50 : std::min(left, 50)));
  }
}

bool LocalSocket::MakePair(std::unique_ptr<LocalSocket>* first,
                           std::unique_ptr<LocalSocket>* second) {
  static std::atomic<unsigned> counter{0};
  const std::string name = "pair." + std::to_string(GetCurrentProcessId()) + "." +
                           std::to_string(counter.fetch_add(1)) + "." +
                           std::to_string(GetTickCount64());
  auto listener = LocalListener::Listen(name);
  if (listener == nullptr) return false;
  auto client = Connect(name, 5000);
  if (client == nullptr) return false;
  auto server = listener->Accept(5000);
  if (server == nullptr) return false;
  *first = std::move(client);
  *second = std::move(server);
  return true;
}

LocalSocket::~LocalSocket() {
  if (handle_ != 0) CloseHandle(ToHandle(handle_));
}

bool LocalSocket::SendPacket(const void* data, size_t n) {
  return SendPacketWithin(data, n, -1) == kSentPacket;
}

SendResult LocalSocket::SendPacketWithin(const void* data, size_t n, int timeoutMs) {
  if (n > kMaxLocalPacket) return kSendFailed;
  Operation operation;
  if (!operation.ok()) return kSendFailed;
  HANDLE handle = ToHandle(handle_);
  // The bytes travel from the operation's own buffer, which outlives an
  // abandoned write.
  std::vector<char>& bytes = operation.buffer();
  bytes.assign(static_cast<const char*>(data), static_cast<const char*>(data) + n);
  DWORD written = 0;
  const BOOL started = WriteFile(handle, bytes.data(), static_cast<DWORD>(n), nullptr,
                                 operation.overlapped());
  const int rc = operation.Finish(handle, started, timeoutMs, &written);
  if (rc == 0) return kSendTimedOut;
  if (rc < 0) return kSendFailed;
  return written == n ? kSentPacket : kSendFailed;
}

bool LocalSocket::PeerUserId(uint32_t* user) const {
  HANDLE handle = ToHandle(handle_);
  ULONG peer = 0;
  // One end is the pipe's server, the other its client; the peer is
  // whichever this end is not.
  ULONG server = 0;
  ULONG client = 0;
  GetNamedPipeServerProcessId(handle, &server);
  GetNamedPipeClientProcessId(handle, &client);
  peer = server == GetCurrentProcessId() ? client : server;
  if (peer == 0) return false;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, peer);
  if (process == nullptr) return false;
  const bool ok = UserIdOfProcess(process, user);
  CloseHandle(process);
  return ok;
}

ReceiveResult LocalSocket::ReceivePacket(std::string* packet, int timeoutMs) {
  Operation operation;
  if (!operation.ok()) return kReceiveFailed;
  HANDLE handle = ToHandle(handle_);
  packet->clear();
  std::vector<char>& chunk = operation.buffer();
  chunk.resize(kReadChunk);
  bool first = true;
  bool tooLong = false;
  for (;;) {
    DWORD got = 0;
    const BOOL started = ReadFile(handle, chunk.data(), static_cast<DWORD>(chunk.size()), nullptr,
                                  operation.overlapped());
    // Only the wait for the packet's start is bounded by the caller; the
    // rest of a packet is already in the pipe.
    const int rc = operation.Finish(handle, started, first ? timeoutMs : 5000, &got);
    if (rc == 0) return first ? kReceiveTimedOut : kReceiveFailed;
    bool more = false;
    if (rc < 0) {
      const DWORD code = GetLastError();
      if (code == ERROR_MORE_DATA) {
        more = true;
      } else if (first && (code == ERROR_BROKEN_PIPE || code == ERROR_PIPE_NOT_CONNECTED ||
                           code == ERROR_NO_DATA)) {
        return kPeerClosed;
      } else {
        return kReceiveFailed;
      }
    }
    first = false;
    // A packet longer than the largest taken is read to its end and
    // dropped, so that the next one starts where it should.
    if (!tooLong && packet->size() + got > kMaxLocalPacket) {
      tooLong = true;
      packet->clear();
    }
    if (!tooLong) packet->append(chunk.data(), got);
    if (!more) break;
  }
  if (tooLong) return kReceiveFailed;
  // An empty packet reads as the peer's end, as on POSIX.
  return packet->empty() ? kPeerClosed : kReceivedPacket;
}

std::unique_ptr<LocalListener> LocalListener::Listen(std::string_view name, int) {
  std::string pipe;
  if (!PipeName(name, &pipe)) return nullptr;
  HANDLE claim = ClaimName(name);
  if (claim == nullptr) return nullptr;
  HANDLE handle = NewInstance(pipe, true);
  if (handle == INVALID_HANDLE_VALUE) {
    CloseHandle(claim);
    return nullptr;
  }
  {
    std::lock_guard<std::mutex> lock(g_listenersMutex);
    g_listeners[ToInt(handle)] = ListenerState{pipe, claim};
  }
  return std::unique_ptr<LocalListener>(new LocalListener(ToInt(handle)));
}

LocalListener::~LocalListener() {
  HANDLE claim = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_listenersMutex);
    auto it = g_listeners.find(handle_);
    if (it != g_listeners.end()) {
      claim = it->second.claim;
      g_listeners.erase(it);
    }
  }
  if (handle_ != 0) CloseHandle(ToHandle(handle_));
  if (claim != nullptr) CloseHandle(claim);
}

std::unique_ptr<LocalSocket> LocalListener::Accept(int timeoutMs) {
  std::string pipe;
  {
    std::lock_guard<std::mutex> lock(g_listenersMutex);
    auto it = g_listeners.find(handle_);
    if (it == g_listeners.end()) return nullptr;
    pipe = it->second.pipe;
  }
  Operation operation;
  if (!operation.ok()) return nullptr;
  HANDLE handle = ToHandle(handle_);
  const BOOL started = ConnectNamedPipe(handle, operation.overlapped());
  bool connected = false;
  if (!started && GetLastError() == ERROR_PIPE_CONNECTED) {
    connected = true;
  } else if (!started && GetLastError() == ERROR_NO_DATA) {
    // A client came and went already: the instance is freed for the next.
    DisconnectNamedPipe(handle);
  } else {
    DWORD ignored = 0;
    connected = operation.Finish(handle, started, timeoutMs, &ignored) == 1;
  }
  // An instance whose wait could not even be cancelled is given up with
  // the listener's handle: a fresh one takes its place below.
  if (!connected && !operation.abandoned()) return nullptr;
  // The connected instance becomes the socket; a new one waits for the
  // next client under the same name.
  HANDLE next = NewInstance(pipe, false);
  if (next == INVALID_HANDLE_VALUE) return nullptr;
  {
    std::lock_guard<std::mutex> lock(g_listenersMutex);
    auto node = g_listeners.extract(handle_);
    handle_ = ToInt(next);
    node.key() = handle_;
    g_listeners.insert(std::move(node));
  }
  if (!connected) {
    CloseHandle(handle);
    return nullptr;
  }
  return std::unique_ptr<LocalSocket>(new LocalSocket(ToInt(handle)));
}

}  // namespace marrowgate::platform
