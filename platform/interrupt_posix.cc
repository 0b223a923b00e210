// POSIX implementation of platform/interrupt.h. The handler only calls
// async-signal-safe functions (unlink, _exit) on paths copied into static
// slots beforehand.
#include "platform/interrupt.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace marrowgate::platform {

namespace {

constexpr int kSlots = 64;

// Slot states.
constexpr int kFree = 0;
constexpr int kClaimed = 3;   // the path is being copied in
constexpr int kCreating = 1;  // holds a path; its file is being created
constexpr int kHeld = 2;      // holds a path

struct Slot {
  std::atomic<int> state{kFree};
  char path[PATH_MAX];
};

Slot g_slots[kSlots];
std::atomic<bool> g_installed{false};
std::atomic<bool> g_ending{false};
std::atomic<bool> g_asksToStop{false};
std::atomic<bool> g_stopRequested{false};

// How long the handler waits for another thread's slot to settle (loop
// turns; a thread interrupted in the middle of its own registration never
// settles it).
constexpr long kSettleTurns = 20000000;

void OnInterrupt(int signal) {
  // The first SIGINT of a run that can stop by itself is only a request.
  if (signal == SIGINT && g_asksToStop.load() && !g_stopRequested.exchange(true)) return;
  g_ending.store(true);
  for (Slot& slot : g_slots) {
    int state = slot.state.load();
    for (long turn = 0; (state == kClaimed || state == kCreating) && turn < kSettleTurns; ++turn)
      state = slot.state.load();
    if (state == kCreating || state == kHeld) ::unlink(slot.path);
  }
  ::_exit(128 + signal);
}

// Once an interrupt is being handled, no thread registers (and so creates)
// another file: it waits for the process to end.
void WaitIfEnding() {
  while (g_ending.load()) ::pause();
}

int Register(const char* path, int state) {
  size_t length = std::strlen(path);
  if (length >= sizeof g_slots[0].path) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = kFree;
    if (!g_slots[i].state.compare_exchange_strong(expected, kClaimed)) continue;
    std::memcpy(g_slots[i].path, path, length + 1);
    g_slots[i].state.store(state);
    if (g_ending.load()) {
      g_slots[i].state.store(kFree);
      WaitIfEnding();
    }
    return i;
  }
  return -1;
}

}  // namespace

void InstallInterruptCleanup() {
  if (g_installed.exchange(true)) return;
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

int RegisterCleanupFile(const char* path) { return Register(path, kHeld); }

int RegisterFileToCreate(const char* path) { return Register(path, kCreating); }

void CleanupFileCreated(int slot) {
  if (slot < 0 || slot >= kSlots) return;
  g_slots[slot].state.store(kHeld);
}

void UnregisterCleanupFile(int slot) {
  if (slot < 0 || slot >= kSlots) return;
  g_slots[slot].state.store(kFree);
}

void SetInterruptAsksToStop(bool on) {
  InstallInterruptCleanup();
  g_stopRequested.store(false);
  g_asksToStop.store(on);
}

bool CancelRequested() { return g_stopRequested.load(); }

}  // namespace marrowgate::platform
