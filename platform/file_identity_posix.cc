// POSIX implementation of file identities: device and inode numbers.
#include "platform/file_identity.h"

#include <sys/stat.h>

#include <cstdio>

namespace marrowgate::platform {

namespace {

void FromStatus(const struct stat& status, FileIdentity* identity) {
  identity->volume = static_cast<uint64_t>(status.st_dev);
  identity->file = static_cast<uint64_t>(status.st_ino);
}

}  // namespace

bool IdentityOfStream(FileStream* stream, FileIdentity* identity) {
  if (stream == nullptr || identity == nullptr) return false;
  auto* file = reinterpret_cast<FILE*>(stream->Handle());
  if (file == nullptr) return false;
  const int descriptor = fileno(file);
  struct stat status;
  if (descriptor < 0 || fstat(descriptor, &status) != 0) return false;
  FromStatus(status, identity);
  return true;
}

bool IdentityOfPath(const char* path, FileIdentity* identity) {
  if (path == nullptr || identity == nullptr) return false;
  struct stat status;
  if (::stat(*path != '\0' ? path : ".", &status) != 0) return false;
  FromStatus(status, identity);
  return true;
}

}  // namespace marrowgate::platform
