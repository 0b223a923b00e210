// ListenerOfUser: a local-socket listener run by another user, for tests of
// who may be a peer. A forked child takes the user id (it needs the rights
// to), listens at the name, accepts one connection and answers every packet
// it receives with `answer`, until the peer closes or nothing comes for a
// while. Wait() gives the number of packets the child received. Only for
// tests.
#ifndef MARROWGATE_PLATFORM_TESTING_LOCAL_SOCKET_TESTING_H_
#define MARROWGATE_PLATFORM_TESTING_LOCAL_SOCKET_TESTING_H_

#include <cstdint>
#include <string>

#include "platform/local_socket.h"

#ifdef _WIN32

namespace marrowgate::platform {

// A test process cannot take another account's identity on Windows: the
// tests that need one skip, as they do for a user other than root.
class ListenerOfUser {
 public:
  static bool CanSwitchUser() { return false; }
  bool Start(const std::string&, uint32_t, const std::string&) { return false; }
  int Wait() { return -1; }
};

}  // namespace marrowgate::platform

#else

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace marrowgate::platform {

class ListenerOfUser {
 public:
  // True when this process may take another user's id (it runs as root).
  static bool CanSwitchUser() { return geteuid() == 0; }

  // Starts the child; false when it could not listen as `user`.
  bool Start(const std::string& name, uint32_t user, const std::string& answer) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return false;
    child_ = fork();
    if (child_ < 0) return false;
    if (child_ == 0) {
      close(pipeEnds[0]);
      int received = -1;
      if (setgid(user) == 0 && setuid(user) == 0) {
        auto listener = LocalListener::Listen(name);
        char ready = listener != nullptr ? 1 : 0;
        if (write(pipeEnds[1], &ready, 1) != 1 || listener == nullptr) _exit(1);
        received = 0;
        if (auto peer = listener->Accept(10000)) {
          std::string packet;
          while (peer->ReceivePacket(&packet, 3000) == kReceivedPacket) {
            ++received;
            peer->SendPacket(answer.data(), answer.size());
          }
        }
      } else {
        char ready = 0;
        if (write(pipeEnds[1], &ready, 1) != 1) _exit(1);
      }
      if (write(pipeEnds[1], &received, sizeof received) != sizeof received) _exit(1);
      _exit(0);
    }
    close(pipeEnds[1]);
    reader_ = pipeEnds[0];
    char ready = 0;
    return read(reader_, &ready, 1) == 1 && ready == 1;
  }

  // Packets the child received (-1 when it could not tell); reaps it.
  int Wait() {
    int received = -1;
    if (reader_ >= 0) {
      if (read(reader_, &received, sizeof received) != sizeof received) received = -1;
      close(reader_);
      reader_ = -1;
    }
    if (child_ > 0) {
      int status = 0;
      waitpid(child_, &status, 0);
      child_ = -1;
    }
    return received;
  }

  ~ListenerOfUser() { Wait(); }

 private:
  pid_t child_ = -1;
  int reader_ = -1;
};

}  // namespace marrowgate::platform

#endif  // _WIN32

#endif  // MARROWGATE_PLATFORM_TESTING_LOCAL_SOCKET_TESTING_H_
