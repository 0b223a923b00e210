// The header of a sealed stream: the record in front of an item's stored
// bytes (compressed and/or enciphered), with its encoder and decoder, and the
// zero-padded magic fields that every record of the package format starts
// with. Little-endian, field by field, independent of struct padding.
#ifndef MARROWGATE_PACKAGE_SEAL_SEAL_LAYOUT_H_
#define MARROWGATE_PACKAGE_SEAL_SEAL_LAYOUT_H_

#include <cstdint>

namespace marrowgate {

inline constexpr int kSealHeaderSize = 48;
inline constexpr char kSealMagic[] = "zksc1.0";

// True when the `width`-byte field holds `magic` as a zero-terminated string
// (a field without any zero byte does not).
bool MagicFieldEquals(const uint8_t* field, int width, const char* magic);
// Writes `magic` into the `width`-byte field, zero-padded.
void StoreMagicField(uint8_t* field, int width, const char* magic);

// ----------------------------------------------------------- seal header

enum SealFlags : uint8_t {
  kSealCompressed = 0x01,
  kSealEnciphered = 0x02,
  kSealCipherB = 0x04,  // enciphered with cipher B instead of A
};

struct SealHeader {
  uint8_t flags = 0;          // offset 15: SealFlags
  uint8_t digest[16] = {};    // 16: MD5 of the plain content
  uint32_t plainSize = 0;     // 36
  uint32_t storedSize = 0;    // 40: bytes following the header
  uint32_t time = 0;          // 44: creation time of the stream
};

// Writes kSealHeaderSize bytes: magic "zksc1.0" zero-padded to 15 bytes,
// the flags, the digest, a zero reserved word, sizes and time.
void EncodeSealHeader(const SealHeader& header, uint8_t* out);
// Reads kSealHeaderSize bytes; true when valid (the reserved word at offset
// 32 is 0 and the magic equals kSealMagic as a zero-terminated string).
bool DecodeSealHeader(const uint8_t* in, SealHeader* header);

}  // namespace marrowgate

#endif  // MARROWGATE_PACKAGE_SEAL_SEAL_LAYOUT_H_
