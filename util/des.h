// DES, the Data Encryption Standard (FIPS 46-3), on 8-byte blocks.
//
// A schedule is built for one direction; the same block function then
// enciphers or deciphers with it. Keys are 8 bytes whose parity bits (the
// low bit of every byte) are ignored.
//
//   DesSchedule schedule;
//   DesSetKey(key, DesDirection::kEncrypt, &schedule);
//   DesCryptBytes(plain, cipher, schedule);   // 8 bytes each
#ifndef MARROWGATE_UTIL_DES_H_
#define MARROWGATE_UTIL_DES_H_

#include <cstdint>

namespace marrowgate {

enum class DesDirection { kEncrypt, kDecrypt };

// 16 rounds of two words each. The words hold the round's 48-bit subkey as
// eight 6-bit groups in the layout the block function consumes: word 2i the
// groups 1, 3, 5, 7 and word 2i+1 the groups 2, 4, 6, 8 of round i, one group
// in the low six bits of each byte, most significant byte first. A
// deciphering schedule holds the same rounds in reverse order.
struct DesSchedule {
  uint32_t words[32];
};

// Builds the schedule of the 8-byte `key` for `direction`.
void DesSetKey(const uint8_t key[8], DesDirection direction, DesSchedule* schedule);

// Enciphers or deciphers (by the schedule's direction) one block, given and
// returned as two 32-bit halves: block[0] holds bytes 0..3 big-endian,
// block[1] bytes 4..7.
void DesCryptBlock(uint32_t block[2], const DesSchedule& schedule);

// The same on bytes; `in` and `out` may be the same.
void DesCryptBytes(const uint8_t in[8], uint8_t out[8], const DesSchedule& schedule);

}  // namespace marrowgate

#endif  // MARROWGATE_UTIL_DES_H_
