// The POSIX handler of platform/interrupt.h (SIGINT, SIGTERM, SIGXFSZ). It
// calls only async-signal-safe functions (unlink, _exit) on paths copied
// into the slots beforehand.
#include <signal.h>
#include <unistd.h>

#include <cstring>

#include "platform/interrupt_slots.h"

namespace marrowgate::platform::interrupt_slots {

namespace {

// How long the handler waits for another thread's slot to settle (loop
// turns; a thread interrupted in the middle of its own registration never
// settles it).
constexpr long kSettleTurns = 20000000;

void OnInterrupt(int signal) {
  if (signal == SIGINT && TakeAsStopRequest()) return;
  ending.store(true);
  for (Slot& slot : slots) {
    int state = slot.state.load();
    for (long turn = 0; (state == kClaimed || state == kCreating) && turn < kSettleTurns; ++turn)
      state = slot.state.load();
    if (state == kCreating || state == kHeld) ::unlink(slot.path);
  }
  ::_exit(128 + signal);
}

}  // namespace

void InstallHandler() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnInterrupt;
  // A handler that returns (a stop request) must not fail the call it
  // interrupted.
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaddset(&action.sa_mask, SIGINT);
  sigaddset(&action.sa_mask, SIGTERM);
  sigaddset(&action.sa_mask, SIGXFSZ);
  for (int signal : {SIGINT, SIGTERM, SIGXFSZ}) ::sigaction(signal, &action, nullptr);
}

void WaitForProcessEnd() {
  while (ending.load()) ::pause();
}

}  // namespace marrowgate::platform::interrupt_slots
