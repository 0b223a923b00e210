// Interrupt cleanup for command-line tools: files that are being written
// under a temporary name are registered here, and SIGINT, SIGTERM and
// SIGXFSZ (a file grown past the process's limit) remove them before the
// process ends with status 128 + the signal's number.
//
//   platform::InstallInterruptCleanup();
//   int slot = platform::RegisterCleanupFile("out.partial");
//   ... write, rename ...
//   platform::UnregisterCleanupFile(slot);
//
// Registration is safe from several threads.
#ifndef MARROWGATE_PLATFORM_INTERRUPT_H_
#define MARROWGATE_PLATFORM_INTERRUPT_H_

namespace marrowgate::platform {

// Installs the handlers (once; later calls do nothing).
void InstallInterruptCleanup();

// Remembers `path` for removal on an interrupt. Returns a slot number, or
// -1 when the path is too long or every slot is taken (the file is then
// simply not removed on an interrupt).
int RegisterCleanupFile(const char* path);
// Forgets a slot (a negative slot is ignored).
void UnregisterCleanupFile(int slot);

}  // namespace marrowgate::platform

#endif  // MARROWGATE_PLATFORM_INTERRUPT_H_
