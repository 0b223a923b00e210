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

namespace marrowgate::platform {
namespace {

constexpr DWORD kPipeBuffer = 64 * 1024;

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

DWORD WaitTime(int timeoutMs) { return timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs); }

// One overlapped operation on `handle`, waited for at most `timeoutMs`.
// On timeout the operation is cancelled; when it completed anyway its
// result stands. 1 done, 0 timed out, -1 failed (GetLastError tells).
int FinishOverlapped(HANDLE handle, OVERLAPPED* overlapped, BOOL started, int timeoutMs,
                     DWORD* transferred) {
  if (!started) {
    const DWORD code = GetLastError();
    if (code != ERROR_IO_PENDING) return -1;
    if (WaitForSingleObject(overlapped->hEvent, WaitTime(timeoutMs)) != WAIT_OBJECT_0) {
      CancelIoEx(handle, overlapped);
      if (GetOverlappedResult(handle, overlapped, transferred, TRUE)) return 1;
      if (GetLastError() == ERROR_OPERATION_ABORTED) return 0;
      return -1;
    }
  }
  if (GetOverlappedResult(handle, overlapped, transferred, TRUE)) return 1;
  return -1;
}

struct Event {
  Event() { overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
  ~Event() {
    if (overlapped.hEvent != nullptr) CloseHandle(overlapped.hEvent);
  }
  bool ok() const { return overlapped.hEvent != nullptr; }
  OVERLAPPED overlapped{};
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
// for the instances that follow.
std::mutex g_listenersMutex;
std::map<int, std::string> g_listenerNames;

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
    // Every instance busy: the listener has not taken the last one yet.
    if (GetLastError() != ERROR_PIPE_BUSY) return nullptr;
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
  Event event;
  if (!event.ok()) return kSendFailed;
  HANDLE handle = ToHandle(handle_);
  DWORD written = 0;
  const BOOL started =
      WriteFile(handle, data, static_cast<DWORD>(n), nullptr, &event.overlapped);
  const int rc = FinishOverlapped(handle, &event.overlapped, started, timeoutMs, &written);
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
  Event event;
  if (!event.ok()) return kReceiveFailed;
  HANDLE handle = ToHandle(handle_);
  packet->clear();
  std::string chunk(kPipeBuffer, '\0');
  bool first = true;
  for (;;) {
    ResetEvent(event.overlapped.hEvent);
    DWORD got = 0;
    const BOOL started =
        ReadFile(handle, chunk.data(), static_cast<DWORD>(chunk.size()), nullptr, &event.overlapped);
    // Only the wait for the packet's start is bounded by the caller; the
    // rest of a packet is already in the pipe.
    const int rc = FinishOverlapped(handle, &event.overlapped, started, first ? timeoutMs : 5000,
                                    &got);
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
    if (packet->size() + got > kMaxLocalPacket) {
      // Drop the rest of it.
      while (more) {
        DWORD dropped = 0;
        ResetEvent(event.overlapped.hEvent);
        const BOOL again =
            ReadFile(handle, chunk.data(), static_cast<DWORD>(chunk.size()), nullptr,
                     &event.overlapped);
        more = FinishOverlapped(handle, &event.overlapped, again, 5000, &dropped) < 0 &&
               GetLastError() == ERROR_MORE_DATA;
      }
      return kReceiveFailed;
    }
    packet->append(chunk.data(), got);
    if (!more) break;
  }
  // An empty packet reads as the peer's end, as on POSIX.
  return packet->empty() ? kPeerClosed : kReceivedPacket;
}

std::unique_ptr<LocalListener> LocalListener::Listen(std::string_view name, int) {
  std::string pipe;
  if (!PipeName(name, &pipe)) return nullptr;
  HANDLE handle = NewInstance(pipe, true);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  {
    std::lock_guard<std::mutex> lock(g_listenersMutex);
    g_listenerNames[ToInt(handle)] = pipe;
  }
  return std::unique_ptr<LocalListener>(new LocalListener(ToInt(handle)));
}

LocalListener::~LocalListener() {
  {
    std::lock_guard<std::mutex> lock(g_listenersMutex);
    g_listenerNames.erase(handle_);
  }
  if (handle_ != 0) CloseHandle(ToHandle(handle_));
}

std::unique_ptr<LocalSocket> LocalListener::Accept(int timeoutMs) {
  std::string pipe;
  {
    std::lock_guard<std::mutex> lock(g_listenersMutex);
    auto it = g_listenerNames.find(handle_);
    if (it == g_listenerNames.end()) return nullptr;
    pipe = it->second;
  }
  Event event;
  if (!event.ok()) return nullptr;
  HANDLE handle = ToHandle(handle_);
  bool connected = ConnectNamedPipe(handle, &event.overlapped) != 0;
  if (!connected) {
    const DWORD code = GetLastError();
    if (code == ERROR_PIPE_CONNECTED) {
      connected = true;
    } else if (code == ERROR_NO_DATA) {
      // A client came and went already: the instance is freed for the next.
      DisconnectNamedPipe(handle);
    } else {
      DWORD ignored = 0;
      connected = FinishOverlapped(handle, &event.overlapped, FALSE, timeoutMs, &ignored) == 1;
    }
  }
  if (!connected) return nullptr;
  // The connected instance becomes the socket; a new one waits for the
  // next client under the same name.
  HANDLE next = NewInstance(pipe, false);
  if (next == INVALID_HANDLE_VALUE) return nullptr;
  {
    std::lock_guard<std::mutex> lock(g_listenersMutex);
    g_listenerNames.erase(handle_);
    handle_ = ToInt(next);
    g_listenerNames[handle_] = pipe;
  }
  return std::unique_ptr<LocalSocket>(new LocalSocket(ToInt(handle)));
}

}  // namespace marrowgate::platform
