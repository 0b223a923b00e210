// The behaviour shared by every VirtualFile: repeated writes, the MD5
// digest of the content and the line reader.
#include "package/file/virtual_file.h"

#include <algorithm>

#include <cstdint>

#include "util/md5.h"

namespace marrowgate {

int32_t VirtualFile::WriteRepeated(const void* buffer, int32_t n, int32_t count) {
  if (n < 0 || count < 0 || (n > 0 && buffer == nullptr)) return -1;
  int64_t total = 0;
  for (int32_t i = 0; i < count; ++i) {
    if (Write(buffer, n) != n) return -1;
    total += n;
  }
  // The total is a 32-bit count; a larger one cannot be reported.
  return total > INT32_MAX ? INT32_MAX : static_cast<int32_t>(total);
}

int32_t VirtualFile::Digest(uint8_t digest[16]) {
  if (digest == nullptr) return -1;
  Md5 context;
  Md5Init(&context);
  Seek(0, 0);
  uint8_t piece[4096];
  while (!AtEnd()) {
    int32_t got = Read(piece, sizeof(piece));
    if (got <= 0) break;
    Md5Update(&context, piece, static_cast<size_t>(got));
  }
  Md5Final(&context, digest);
  return 0;
}

bool VirtualFile::ReadExactly(void* buffer, size_t n) {
  auto* out = static_cast<uint8_t*>(buffer);
  while (n > 0) {
    const int32_t chunk = static_cast<int32_t>(std::min<size_t>(n, size_t{1} << 30));
    const int32_t got = Read(out, chunk);
    if (got <= 0) return false;
    out += got;
    n -= static_cast<size_t>(got);
  }
  return true;
}

bool VirtualFile::ReadExactlyAt(int64_t offset, void* buffer, size_t n) {
  return offset >= 0 && Seek(offset, 0) == 0 && ReadExactly(buffer, n);
}

bool VirtualFile::WriteExactly(const void* buffer, size_t n) {
  const auto* in = static_cast<const uint8_t*>(buffer);
  while (n > 0) {
    const int32_t chunk = static_cast<int32_t>(std::min<size_t>(n, size_t{1} << 30));
    const int32_t put = Write(in, chunk);
    if (put <= 0) return false;
    in += put;
    n -= static_cast<size_t>(put);
  }
  return true;
}

int32_t VirtualFile::ReadLine(char* buffer, int32_t size) {
  if (buffer == nullptr) return 0;
  if (size < 2) {
    if (size >= 1) buffer[0] = '\0';
    return 0;
  }
  int32_t stored = 0;
  while (stored < size - 1) {
    char byte;
    const int32_t got = Read(&byte, 1);
    if (got < 0) {
      buffer[0] = '\0';
      return got;
    }
    if (got != 1) break;
    buffer[stored++] = byte;
    if (byte == '\n') break;
  }
  buffer[stored] = '\0';
  return stored;
}

}  // namespace marrowgate
