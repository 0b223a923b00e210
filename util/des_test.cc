#include "util/des.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace marrowgate {
namespace {

uint64_t Block(const DesSchedule& schedule, uint64_t value) {
  uint32_t block[2] = {static_cast<uint32_t>(value >> 32), static_cast<uint32_t>(value)};
  DesCryptBlock(block, schedule);
  return (static_cast<uint64_t>(block[0]) << 32) | block[1];
}

void KeyBytes(uint64_t key, uint8_t out[8]) {
  for (int i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(key >> (56 - 8 * i));
}

struct KnownAnswer {
  uint64_t key;
  uint64_t plain;
  uint64_t cipher;
};

// Published known-answer values: the worked example of FIPS 46 tutorials,
// the NIST SP 800-17 variable-plaintext and variable-key tables, and the
// classic "Now is t" block.
constexpr KnownAnswer kKnownAnswers[] = {
    {0x133457799BBCDFF1, 0x0123456789ABCDEF, 0x85E813540F0AB405},
    {0x0E329232EA6D0D73, 0x8787878787878787, 0x0000000000000000},
    {0x0101010101010101, 0x8000000000000000, 0x95F8A5E5DD31D900},
    {0x0101010101010101, 0x4000000000000000, 0xDD7F121CA5015619},
    {0x8001010101010101, 0x0000000000000000, 0x95A8D72813DAA94D},
    {0x0123456789ABCDEF, 0x4E6F772069732074, 0x3FA40E8A984D4815},
    {0x7CA110454A1A6E57, 0x01A1D6D039776742, 0x690F5B0D9A26939B},
    {0x0131D9619DC1376E, 0x5CD54CA83DEF57DA, 0x7A389D10354BD271},
};

TEST(DesTest, KnownAnswersBothDirections) {
  for (const KnownAnswer& kat : kKnownAnswers) {
    uint8_t key[8];
    KeyBytes(kat.key, key);
    DesSchedule encrypt, decrypt;
    DesSetKey(key, DesDirection::kEncrypt, &encrypt);
    DesSetKey(key, DesDirection::kDecrypt, &decrypt);
    EXPECT_EQ(Block(encrypt, kat.plain), kat.cipher) << std::hex << kat.key;
    EXPECT_EQ(Block(decrypt, kat.cipher), kat.plain) << std::hex << kat.key;
  }
}

TEST(DesTest, ParityBitsAreIgnored) {
  uint8_t key[8], flipped[8];
  KeyBytes(0x133457799BBCDFF1, key);
  for (int i = 0; i < 8; ++i) flipped[i] = key[i] ^ 1;
  DesSchedule a, b;
  DesSetKey(key, DesDirection::kEncrypt, &a);
  DesSetKey(flipped, DesDirection::kEncrypt, &b);
  EXPECT_EQ(Block(b, 0x0123456789ABCDEF), 0x85E813540F0AB405u);
  for (int i = 0; i < 32; ++i) EXPECT_EQ(a.words[i], b.words[i]);
}

// The decrypting schedule is the encrypting one with the rounds reversed.
TEST(DesTest, DecryptScheduleReversesRounds) {
  uint8_t key[8];
  KeyBytes(0x0123456789ABCDEF, key);
  DesSchedule encrypt, decrypt;
  DesSetKey(key, DesDirection::kEncrypt, &encrypt);
  DesSetKey(key, DesDirection::kDecrypt, &decrypt);
  for (int round = 0; round < 16; ++round) {
    EXPECT_EQ(decrypt.words[2 * round], encrypt.words[2 * (15 - round)]);
    EXPECT_EQ(decrypt.words[2 * round + 1], encrypt.words[2 * (15 - round) + 1]);
  }
}

TEST(DesTest, BytesAreBigEndianHalvesAndMayOverlap) {
  uint8_t key[8];
  KeyBytes(0x133457799BBCDFF1, key);
  DesSchedule schedule;
  DesSetKey(key, DesDirection::kEncrypt, &schedule);
  uint8_t data[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  DesCryptBytes(data, data, schedule);
  const uint8_t expected[8] = {0x85, 0xE8, 0x13, 0x54, 0x0F, 0x0A, 0xB4, 0x05};
  EXPECT_EQ(std::string(data, data + 8), std::string(expected, expected + 8));
}

}  // namespace
}  // namespace marrowgate
