// Repeatable test contents: text-like bytes that compress well and noise
// that does not.
#ifndef MARROWGATE_PACKAGE_TESTING_CONTENT_TESTING_H_
#define MARROWGATE_PACKAGE_TESTING_CONTENT_TESTING_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace marrowgate {

inline std::vector<uint8_t> TextBytes(size_t n, uint32_t seed = 0) {
  static const char kWords[] = "the patch copies every folder of the package into the client ";
  std::vector<uint8_t> out(n);
  for (size_t i = 0; i < n; ++i)
    out[i] = static_cast<uint8_t>(kWords[(i * 7 + i / 61 + seed) % (sizeof(kWords) - 1)]);
  return out;
}

inline std::vector<uint8_t> NoiseBytes(size_t n, uint32_t seed = 1) {
  std::vector<uint8_t> out(n);
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1664525u + 1013904223u;
    out[i] = static_cast<uint8_t>(seed >> 24);
  }
  return out;
}

}  // namespace marrowgate

#endif  // MARROWGATE_PACKAGE_TESTING_CONTENT_TESTING_H_
