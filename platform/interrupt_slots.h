// The table of files an interrupt removes, shared by the POSIX signal
// handler and the Windows console control handler (interrupt_posix.cc,
// interrupt_win.cc); the registration side is interrupt.cc. Only this
// folder includes it.
//
// A slot goes kFree -> kClaimed (its path being copied in) -> kCreating
// or kHeld -> kFree. The handler sets `ending`, waits briefly for claimed
// and creating slots to settle, and removes the file of every creating or
// held slot.
#ifndef MARROWGATE_PLATFORM_INTERRUPT_SLOTS_H_
#define MARROWGATE_PLATFORM_INTERRUPT_SLOTS_H_

#include <atomic>
#include <cstddef>

namespace marrowgate::platform::interrupt_slots {

constexpr int kSlots = 64;
constexpr size_t kPathBytes = 4096;

constexpr int kFree = 0;
constexpr int kCreating = 1;  // holds a path; its file is being created
constexpr int kHeld = 2;      // holds a path
constexpr int kClaimed = 3;   // the path is being copied in

struct Slot {
  std::atomic<int> state{kFree};
  char path[kPathBytes];
};

extern Slot slots[kSlots];
extern std::atomic<bool> ending;         // an interrupt is being handled
extern std::atomic<bool> asksToStop;     // the first interrupt only asks to stop
extern std::atomic<bool> stopRequested;  // ... and it has come

// True when the handler should treat this interrupt as a stop request
// only (the first one while asking to stop is on) and return.
inline bool TakeAsStopRequest() { return asksToStop.load() && !stopRequested.exchange(true); }

// Installs the system's handler (once); defined per system.
void InstallHandler();
// Blocks for good: the process is ending under the handler; per system.
void WaitForProcessEnd();

}  // namespace marrowgate::platform::interrupt_slots

#endif  // MARROWGATE_PLATFORM_INTERRUPT_SLOTS_H_
