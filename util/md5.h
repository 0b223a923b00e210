// MD5 message digest (RFC 1321), the library's own implementation.
#ifndef MARROWGATE_UTIL_MD5_H_
#define MARROWGATE_UTIL_MD5_H_

#include <cstddef>
#include <cstdint>

namespace marrowgate {

// Streaming context: bit count (low word first), four state words and the
// pending 64-byte block.
struct Md5 {
  uint32_t count[2];
  uint32_t state[4];
  uint8_t buffer[64];
};

void Md5Init(Md5* context);
void Md5Update(Md5* context, const void* data, size_t length);
// Writes the 16-byte digest (state words little-endian).
void Md5Final(Md5* context, uint8_t digest[16]);
// One-shot digest of `length` bytes; returns `digest`.
uint8_t* Md5Digest(const void* data, size_t length, uint8_t digest[16]);

}  // namespace marrowgate

#endif  // MARROWGATE_UTIL_MD5_H_
