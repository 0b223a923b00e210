// POSIX implementation of platform/file_kind.h.
#include "platform/file_kind.h"

#include <sys/stat.h>

namespace marrowgate::platform {

bool IsRegularFile(const char* path) {
  struct stat st;
  return path != nullptr && ::stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace marrowgate::platform
