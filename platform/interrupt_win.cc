// The Windows handler of platform/interrupt.h. The console's control
// handler runs on a thread of its own; it removes the registered files
// (opened elsewhere with FILE_SHARE_DELETE, so an open file can go too)
// and ends the process with 128 + the matching POSIX signal number.
#include <windows.h>

#include "platform/interrupt_slots.h"

namespace marrowgate::platform::interrupt_slots {

namespace {

// How long the handler waits for another thread's slot to settle.
constexpr int kSettleMs = 2000;

BOOL WINAPI OnControl(DWORD event) {
  int signal;
  switch (event) {
    case CTRL_C_EVENT:
      if (TakeAsStopRequest()) return TRUE;
      signal = 2;  // SIGINT
      break;
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      signal = 15;  // SIGTERM
      break;
    default:
      return FALSE;
  }
  ending.store(true);
  for (Slot& slot : slots) {
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

}  // namespace

void InstallHandler() { SetConsoleCtrlHandler(OnControl, TRUE); }

void WaitForProcessEnd() {
  while (ending.load()) Sleep(INFINITE);
}

}  // namespace marrowgate::platform::interrupt_slots
