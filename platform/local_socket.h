// Local packet sockets: connection-oriented, message-preserving sockets
// between processes of one machine, addressed by a name (on Linux an
// abstract-namespace Unix socket of type SOCK_SEQPACKET; no file is made).
//
// A name is at most kMaxLocalSocketName bytes. Every call reports failure
// through its result; none throws, and writing to a peer that has gone
// never raises a signal. The calls that take a timeout never wait longer
// than it (a negative timeout waits without limit), whatever the peer does:
// a listener that never accepts, or a peer that stops reading.
#ifndef MARROWGATE_PLATFORM_LOCAL_SOCKET_H_
#define MARROWGATE_PLATFORM_LOCAL_SOCKET_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace marrowgate::platform {

constexpr size_t kMaxLocalSocketName = 100;
// Largest packet ReceivePacket accepts; a longer one is an error.
constexpr size_t kMaxLocalPacket = 1 << 20;

// Results of ReceivePacket.
enum ReceiveResult : int {
  kReceivedPacket = 1,
  kPeerClosed = 0,
  kReceiveFailed = -1,
  kReceiveTimedOut = -2,
};

// Results of SendPacketWithin.
enum SendResult : int {
  kSentPacket = 1,
  kSendFailed = -1,
  kSendTimedOut = -2,
};

// The effective user id of this process.
uint32_t ProcessUserId();

class LocalSocket {
 public:
  // Connects to the listener at `name`; null when none listens there (or
  // the name is too long). Waits at most `timeoutMs` for a listener whose
  // queue of connections is full to take this one (negative: no limit);
  // null when it did not in time.
  static std::unique_ptr<LocalSocket> Connect(std::string_view name, int timeoutMs = -1);
  // Two connected sockets (for tests); false when they cannot be made.
  static bool MakePair(std::unique_ptr<LocalSocket>* first, std::unique_ptr<LocalSocket>* second);

  ~LocalSocket();  // closes
  LocalSocket(const LocalSocket&) = delete;
  LocalSocket& operator=(const LocalSocket&) = delete;

  // Sends `n` bytes as one packet. False when it was not sent whole (the
  // peer has gone, the packet is too large).
  bool SendPacket(const void* data, size_t n);
  // Sends `n` bytes as one packet, waiting at most `timeoutMs` for room
  // when the peer does not read (negative: no limit). kSendTimedOut: the
  // packet was not sent at all.
  SendResult SendPacketWithin(const void* data, size_t n, int timeoutMs);
  // The user id of the process at the other end, as the system recorded it
  // when the connection was made; false when it cannot be told.
  bool PeerUserId(uint32_t* user) const;
  // Waits up to `timeoutMs` milliseconds (negative: no limit) for one
  // packet and stores it whole into *packet. An empty packet cannot be told
  // from the peer's end and reads as kPeerClosed, so never send one.
  ReceiveResult ReceivePacket(std::string* packet, int timeoutMs);

 private:
  explicit LocalSocket(int handle) : handle_(handle) {}
  friend class LocalListener;
  int handle_;
};

class LocalListener {
 public:
  // Binds and listens at `name`; null when the name is taken or too long.
  // `backlog`: connections the system queues before one is accepted.
  static std::unique_ptr<LocalListener> Listen(std::string_view name, int backlog = 4);

  ~LocalListener();  // stops listening; the name is free again
  LocalListener(const LocalListener&) = delete;
  LocalListener& operator=(const LocalListener&) = delete;

  // Waits up to `timeoutMs` (negative: no limit) for one connection; null
  // on timeout or failure.
  std::unique_ptr<LocalSocket> Accept(int timeoutMs);

 private:
  explicit LocalListener(int handle) : handle_(handle) {}
  int handle_;
};

}  // namespace marrowgate::platform

#endif  // MARROWGATE_PLATFORM_LOCAL_SOCKET_H_
