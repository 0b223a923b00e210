#include "package/seal/seal_layout.h"

#include <cstring>

#include "util/byte_order.h"

namespace marrowgate {

bool MagicFieldEquals(const uint8_t* field, int width, const char* magic) {
  const size_t length = std::strlen(magic);
  if (length >= static_cast<size_t>(width)) return false;
  return std::memcmp(field, magic, length + 1) == 0;
}

void StoreMagicField(uint8_t* field, int width, const char* magic) {
  std::memset(field, 0, width);
  std::memcpy(field, magic, std::strlen(magic));
}

// ----------------------------------------------------------- seal header

void EncodeSealHeader(const SealHeader& header, uint8_t* out) {
  std::memset(out, 0, kSealHeaderSize);
  StoreMagicField(out, 15, kSealMagic);
  out[15] = header.flags;
  std::memcpy(out + 16, header.digest, 16);
  StoreLe32(0, out + 32);
  StoreLe32(header.plainSize, out + 36);
  StoreLe32(header.storedSize, out + 40);
  StoreLe32(header.time, out + 44);
}

bool DecodeSealHeader(const uint8_t* in, SealHeader* header) {
  header->flags = in[15];
  std::memcpy(header->digest, in + 16, 16);
  header->plainSize = LoadLe32(in + 36);
  header->storedSize = LoadLe32(in + 40);
  header->time = LoadLe32(in + 44);
  return LoadLe32(in + 32) == 0 && MagicFieldEquals(in, 15, kSealMagic);
}

}  // namespace marrowgate
