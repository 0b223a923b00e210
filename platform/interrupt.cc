// The registration side of platform/interrupt.h, the same on every system;
// the handlers themselves are in interrupt_posix.cc and interrupt_win.cc.
#include "platform/interrupt.h"

#include <cstring>

#include "platform/interrupt_slots.h"

namespace marrowgate::platform {

namespace interrupt_slots {

Slot slots[kSlots];
std::atomic<bool> ending{false};
std::atomic<bool> asksToStop{false};
std::atomic<bool> stopRequested{false};

}  // namespace interrupt_slots

namespace {

using namespace interrupt_slots;

std::atomic<bool> g_installed{false};

int Register(const char* path, int state) {
  const size_t length = std::strlen(path);
  if (length >= kPathBytes) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = kFree;
    if (!slots[i].state.compare_exchange_strong(expected, kClaimed)) continue;
    std::memcpy(slots[i].path, path, length + 1);
    slots[i].state.store(state);
    // Once an interrupt is being handled no thread creates another file:
    // it waits for the process to end.
    if (ending.load()) {
      slots[i].state.store(kFree);
      WaitForProcessEnd();
    }
    return i;
  }
  return -1;
}

}  // namespace

void InstallInterruptCleanup() {
  if (g_installed.exchange(true)) return;
  InstallHandler();
}

int RegisterCleanupFile(const char* path) { return Register(path, kHeld); }

int RegisterFileToCreate(const char* path) { return Register(path, kCreating); }

void CleanupFileCreated(int slot) {
  if (slot < 0 || slot >= kSlots) return;
  slots[slot].state.store(kHeld);
}

void UnregisterCleanupFile(int slot) {
  if (slot < 0 || slot >= kSlots) return;
  slots[slot].state.store(kFree);
}

void SetInterruptAsksToStop(bool on) {
  InstallInterruptCleanup();
  stopRequested.store(false);
  asksToStop.store(on);
}

bool CancelRequested() { return stopRequested.load(); }

}  // namespace marrowgate::platform
