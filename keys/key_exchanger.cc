#include "keys/key_exchanger.h"

namespace marrowgate {

int MixIntoSecret(uint8_t* secret, int secretLength, const void* data, int32_t length) {
  if (data == nullptr || length < 1) return -1;
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  for (int k = 0; k < secretLength; ++k) secret[k] ^= bytes[k % length];
  return 0;
}

}  // namespace marrowgate
