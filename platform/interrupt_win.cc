// Windows implementation of platform/interrupt.h. The console's control
// handler runs on a thread of its own; it removes the registered files
// (opened elsewhere with FILE_SHARE_DELETE, so an open file can go too)
// and ends the process with 128 + the matching POSIX signal number.
#include "platform/interrupt.h"

#include <windows.h>

#include <atomic>
#include <cstring>

namespace marrowgate::platform {

namespace {

constexpr int kSlots = 64;

constexpr int kFree = 0;
constexpr int kClaimed = 3;   // the path is being copied in
constexpr int kCreating = 1;  // holds a path; its file is being created
constexpr int kHeld = 2;      // holds a path

struct Slot {
  std::atomic<int> state{kFree};
  char path[MAX_PATH];
};

Slot g_slots[kSlots];
std::atomic<bool> g_installed{false};
// The first Ctrl-C only asks to stop while this is on.
std::atomic<bool> g_asksToStop{false};
std::atomic<bool> g_stopRequested{false};
std::atomic<bool> g_ending{false};

// How long the handler waits for another thread's slot to settle.
constexpr int kSettleMs = 2000;

BOOL WINAPI OnControl(DWORD event) {
  int signal;
  switch (event) {
    case CTRL_C_EVENT:
      if (g_asksToStop.load() && !g_stopRequested.exchange(true)) return TRUE;
      signal = 2;  // SIGINT
      break;
    case CTRL_BREAK_EVENT: signal = 15; break;   // SIGTERM
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: signal = 15; break;
    default: return FALSE;
  }
  g_ending.store(true);
  for (Slot& slot : g_slots) {
    int state = slot.state.load();
    for (int waited = 0; (state == kClaimed || state == kCreating) && waited < kSettleMs; ++waited) {
      Sleep(1);
      state = slot.state.load();
    }
    if (state == kCreating || state == kHeld) DeleteFileA(slot.path);
  }
  ExitProcess(static_cast<UINT>(128 + signal));
  return TRUE;
}

void WaitIfEnding() {
  while (g_ending.load()) Sleep(INFINITE);
}

int Register(const char* path, int state) {
  const size_t length = std::strlen(path);
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
  SetConsoleCtrlHandler(OnControl, TRUE);
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
  g_stopRequested.store(false);
  g_asksToStop.store(on);
  if (on) InstallInterruptCleanup();
}

bool CancelRequested() { return g_stopRequested.load(); }

}  // namespace marrowgate::platform
