// Local packet sockets over abstract-namespace Unix sockets
// (SOCK_SEQPACKET).
#include "platform/local_socket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <ctime>

namespace marrowgate::platform {
namespace {

// Fills an abstract address (leading NUL, then the name). False when the
// name does not fit.
bool AbstractAddress(std::string_view name, sockaddr_un* address, socklen_t* length) {
  if (name.empty() || name.size() > kMaxLocalSocketName ||
      name.size() + 1 > sizeof(address->sun_path)) {
    return false;
  }
  std::memset(address, 0, sizeof(*address));
  address->sun_family = AF_UNIX;
  std::memcpy(address->sun_path + 1, name.data(), name.size());
  *length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  return true;
}

// Waits until `handle` has one of `events` (POLLIN: a packet or the peer's
// end; POLLOUT: room for a packet). 1 ready, 0 timeout, -1 failure.
int WaitFor(int handle, short events, int timeoutMs) {
  pollfd entry{};
  entry.fd = handle;
  entry.events = events;
  for (;;) {
    int rc = poll(&entry, 1, timeoutMs < 0 ? -1 : timeoutMs);
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0) return -1;
    return rc == 0 ? 0 : 1;
  }
}

int WaitReadable(int handle, int timeoutMs) { return WaitFor(handle, POLLIN, timeoutMs); }
int WaitWritable(int handle, int timeoutMs) { return WaitFor(handle, POLLOUT, timeoutMs); }

// Milliseconds of a monotonic clock.
int64_t MonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// What is left of a wait that ends at `deadline` (-1: no deadline).
int Remaining(int64_t deadline) {
  if (deadline < 0) return -1;
  int64_t left = deadline - MonotonicMs();
  return left <= 0 ? 0 : static_cast<int>(left);
}

void CloseHandle(int handle) {
  if (handle >= 0) close(handle);
}

}  // namespace

uint32_t ProcessUserId() { return static_cast<uint32_t>(geteuid()); }

// The socket is non-blocking while it connects, so no listener can hold
// the caller: a full queue of a listener that never accepts makes connect
// fail with EAGAIN at once, and it is tried again until the deadline.
std::unique_ptr<LocalSocket> LocalSocket::Connect(std::string_view name, int timeoutMs) {
  sockaddr_un address;
  socklen_t length = 0;
  if (!AbstractAddress(name, &address, &length)) return nullptr;
  int handle = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (handle < 0) return nullptr;
  const int64_t deadline = timeoutMs < 0 ? -1 : MonotonicMs() + timeoutMs;
  for (;;) {
    int rc = connect(handle, reinterpret_cast<const sockaddr*>(&address), length);
    if (rc == 0) break;
    if (errno == EINTR) continue;
    if (errno == EINPROGRESS) {
      int error = 0;
      socklen_t size = sizeof(error);
      if (WaitWritable(handle, Remaining(deadline)) == 1 &&
          getsockopt(handle, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0) {
        break;
      }
      CloseHandle(handle);
      return nullptr;
    }
    if (errno != EAGAIN || Remaining(deadline) == 0) {
      CloseHandle(handle);
      return nullptr;
    }
    poll(nullptr, 0, std::min(10, Remaining(deadline) < 0 ? 10 : Remaining(deadline)));
  }
  // Blocking again: SendPacket and ReceivePacket wait as they say.
  int flags = fcntl(handle, F_GETFL);
  if (flags < 0 || fcntl(handle, F_SETFL, flags & ~O_NONBLOCK) < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  return std::unique_ptr<LocalSocket>(new LocalSocket(handle));
}

bool LocalSocket::MakePair(std::unique_ptr<LocalSocket>* first,
                           std::unique_ptr<LocalSocket>* second) {
  int handles[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, handles) < 0) return false;
  first->reset(new LocalSocket(handles[0]));
  second->reset(new LocalSocket(handles[1]));
  return true;
}

LocalSocket::~LocalSocket() { CloseHandle(handle_); }

bool LocalSocket::SendPacket(const void* data, size_t n) {
  for (;;) {
    ssize_t sent = send(handle_, data, n, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    return sent >= 0 && static_cast<size_t>(sent) == n;
  }
}

SendResult LocalSocket::SendPacketWithin(const void* data, size_t n, int timeoutMs) {
  const int64_t deadline = timeoutMs < 0 ? -1 : MonotonicMs() + timeoutMs;
  for (;;) {
    ssize_t sent = send(handle_, data, n, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent >= 0) return static_cast<size_t>(sent) == n ? kSentPacket : kSendFailed;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return kSendFailed;
    int left = Remaining(deadline);
    if (left == 0) return kSendTimedOut;
    int ready = WaitWritable(handle_, left);
    if (ready < 0) return kSendFailed;
    // Room is reported per peer queue; a packet larger than the room left
    // is tried again until the deadline.
    if (ready == 0) return kSendTimedOut;
    if (Remaining(deadline) != 0) poll(nullptr, 0, 1);
  }
}

bool LocalSocket::PeerUserId(uint32_t* user) const {
  ucred credentials{};
  socklen_t size = sizeof(credentials);
  if (getsockopt(handle_, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 ||
      size != sizeof(credentials)) {
    return false;
  }
  *user = static_cast<uint32_t>(credentials.uid);
  return true;
}

ReceiveResult LocalSocket::ReceivePacket(std::string* packet, int timeoutMs) {
  int ready = WaitReadable(handle_, timeoutMs);
  if (ready == 0) return kReceiveTimedOut;
  if (ready < 0) return kReceiveFailed;
  // The packet's real length first, so that it is received whole.
  char probe;
  ssize_t length;
  do {
    length = recv(handle_, &probe, 1, MSG_PEEK | MSG_TRUNC);
  } while (length < 0 && errno == EINTR);
  if (length < 0) return kReceiveFailed;
  // An empty packet cannot be told from the peer's end; the protocols over
  // these sockets never send one.
  if (length == 0) return kPeerClosed;
  if (static_cast<size_t>(length) > kMaxLocalPacket) {
    recv(handle_, &probe, 1, 0);  // drop it
    return kReceiveFailed;
  }
  packet->resize(static_cast<size_t>(length));
  ssize_t got;
  do {
    got = recv(handle_, packet->data(), packet->size(), 0);
  } while (got < 0 && errno == EINTR);
  if (got != length) return kReceiveFailed;
  return kReceivedPacket;
}

std::unique_ptr<LocalListener> LocalListener::Listen(std::string_view name, int backlog) {
  sockaddr_un address;
  socklen_t length = 0;
  if (!AbstractAddress(name, &address, &length)) return nullptr;
  int handle = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (handle < 0) return nullptr;
  if (bind(handle, reinterpret_cast<const sockaddr*>(&address), length) < 0 ||
      listen(handle, backlog < 0 ? 0 : backlog) < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  return std::unique_ptr<LocalListener>(new LocalListener(handle));
}

LocalListener::~LocalListener() { CloseHandle(handle_); }

std::unique_ptr<LocalSocket> LocalListener::Accept(int timeoutMs) {
  if (WaitReadable(handle_, timeoutMs) != 1) return nullptr;
  int handle;
  do {
    handle = accept4(handle_, nullptr, nullptr, SOCK_CLOEXEC);
  } while (handle < 0 && errno == EINTR);
  if (handle < 0) return nullptr;
  return std::unique_ptr<LocalSocket>(new LocalSocket(handle));
}

}  // namespace marrowgate::platform
