// Fixed-width integers read from and written to byte arrays in a stated
// byte order, whatever the machine's own.
#ifndef MARROWGATE_UTIL_BYTE_ORDER_H_
#define MARROWGATE_UTIL_BYTE_ORDER_H_

#include <cstdint>

namespace marrowgate {

inline uint32_t LoadBe32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

inline void StoreBe32(uint32_t v, uint8_t* p) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

inline uint64_t LoadBe64(const uint8_t* p) {
  return (static_cast<uint64_t>(LoadBe32(p)) << 32) | LoadBe32(p + 4);
}

inline void StoreBe64(uint64_t v, uint8_t* p) {
  StoreBe32(static_cast<uint32_t>(v >> 32), p);
  StoreBe32(static_cast<uint32_t>(v), p + 4);
}

inline uint32_t LoadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline void StoreLe32(uint32_t v, uint8_t* p) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace marrowgate

#endif  // MARROWGATE_UTIL_BYTE_ORDER_H_
