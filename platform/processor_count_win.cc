#include "platform/processor_count.h"

#include <windows.h>

#include <thread>

namespace marrowgate::platform {

int ProcessorCount() {
  // The processors this process may run on first, as on POSIX.
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0) {
    int count = 0;
    for (DWORD_PTR mask = process; mask != 0; mask &= mask - 1) ++count;
    return count;
  }
  const unsigned hardware = std::thread::hardware_concurrency();
  return hardware > 0 ? static_cast<int>(hardware) : 1;
}

}  // namespace marrowgate::platform
