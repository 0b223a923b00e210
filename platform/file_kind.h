// What kind of object a path names, for readers that must not block on
// devices, pipes or sockets.
#ifndef MARROWGATE_PLATFORM_FILE_KIND_H_
#define MARROWGATE_PLATFORM_FILE_KIND_H_

namespace marrowgate::platform {

// True when `path` (links followed) names an ordinary file: not a folder,
// device, pipe or socket. False when it cannot be reached.
bool IsRegularFile(const char* path);

}  // namespace marrowgate::platform

#endif  // MARROWGATE_PLATFORM_FILE_KIND_H_
