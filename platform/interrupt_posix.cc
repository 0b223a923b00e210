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

struct Slot {
  // 0 free, 1 being filled, 2 holds a path.
  std::atomic<int> state{0};
  char path[PATH_MAX];
};

Slot g_slots[kSlots];
std::atomic<bool> g_installed{false};

void OnInterrupt(int signal) {
  for (Slot& slot : g_slots) {
    if (slot.state.load() == 2) ::unlink(slot.path);
  }
  ::_exit(128 + signal);
}

}  // namespace

void InstallInterruptCleanup() {
  if (g_installed.exchange(true)) return;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaddset(&action.sa_mask, SIGINT);
  sigaddset(&action.sa_mask, SIGTERM);
  sigaddset(&action.sa_mask, SIGXFSZ);
  for (int signal : {SIGINT, SIGTERM, SIGXFSZ}) ::sigaction(signal, &action, nullptr);
}

int RegisterCleanupFile(const char* path) {
  size_t length = std::strlen(path);
  if (length >= sizeof g_slots[0].path) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = 0;
    if (!g_slots[i].state.compare_exchange_strong(expected, 1)) continue;
    std::memcpy(g_slots[i].path, path, length + 1);
    g_slots[i].state.store(2);
    return i;
  }
  return -1;
}

void UnregisterCleanupFile(int slot) {
  if (slot < 0 || slot >= kSlots) return;
  g_slots[slot].state.store(0);
}

}  // namespace marrowgate::platform
