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
// Registration is safe from several threads. A file that a thread creates
// while another thread may be interrupted is registered in two steps, so
// that the handler never misses it:
//
//   int slot = platform::RegisterFileToCreate("f.tmp");  // before creating
//   ... create f.tmp ...
//   platform::CleanupFileCreated(slot);
//
// The handler waits (briefly) for creations under way before it removes
// the files, and a registration made once an interrupt is being handled
// never returns: the process is ending.
#ifndef MARROWGATE_PLATFORM_INTERRUPT_H_
#define MARROWGATE_PLATFORM_INTERRUPT_H_

namespace marrowgate::platform {

// Installs the handlers (once; later calls do nothing).
void InstallInterruptCleanup();

// Remembers `path` for removal on an interrupt. Returns a slot number, or
// -1 when the path is too long or every slot is taken (the file is then
// simply not removed on an interrupt).
int RegisterCleanupFile(const char* path);
// As RegisterCleanupFile, for a file the caller is about to create: the
// handler waits for CleanupFileCreated (or the slot being forgotten)
// before it removes the file.
int RegisterFileToCreate(const char* path);
// The file of `slot` now exists (a negative slot is ignored).
void CleanupFileCreated(int slot);
// Forgets a slot (a negative slot is ignored).
void UnregisterCleanupFile(int slot);

// Asking to stop instead of ending at once. While on, the first SIGINT
// only sets the stop request (CancelRequested) and returns, so a program
// can finish the step it is in and stop cleanly; a second SIGINT, and
// SIGTERM or SIGXFSZ at any time, end the process as above. Switching it
// off clears the request. Installs the handlers when needed.
void SetInterruptAsksToStop(bool on);
// True once a SIGINT asked to stop while SetInterruptAsksToStop was on.
bool CancelRequested();

}  // namespace marrowgate::platform

#endif  // MARROWGATE_PLATFORM_INTERRUPT_H_
