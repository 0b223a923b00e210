#include "util/rolling_des_cipher.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace marrowgate {
namespace {

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

std::string ToHex(const std::vector<uint8_t>& bytes) {
  std::string out;
  char two[3];
  for (uint8_t b : bytes) {
    std::snprintf(two, sizeof(two), "%02x", b);
    out += two;
  }
  return out;
}

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

const std::vector<uint8_t> kKey1 = FromHex("133457799BBCDFF1");
const std::vector<uint8_t> kKey2 = FromHex("0E329232EA6D0D73");
const std::vector<uint8_t> kKey3 = FromHex("0123456789ABCDEF");

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

std::vector<uint8_t> EncryptOnce(RollingDesCipher& cipher, const std::vector<uint8_t>& plain) {
  std::vector<uint8_t> out(plain.size());
  EXPECT_EQ(cipher.Encrypt(plain.data(), static_cast<int32_t>(plain.size()), out.data()), 0);
  return out;
}

std::vector<uint8_t> DecryptOnce(RollingDesCipher& cipher, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out(data.size());
  EXPECT_EQ(cipher.Decrypt(data.data(), static_cast<int32_t>(data.size()), out.data()), 0);
  return out;
}

// Expected values below come from an independent DES implementation
// (openssl enc -des-cbc / -des-ecb with a zero IV, no padding).

TEST(RollingDesCipherTest, OneKeyStepOneIsDesCbcWithZeroIv) {
  RollingDesCipher cipher(1);
  ASSERT_TRUE(cipher.SetKey(kKey1.data(), 8, DesDirection::kEncrypt));
  const auto plain = Bytes("Now is the time for all good men");
  EXPECT_EQ(ToHex(EncryptOnce(cipher, plain)),
            "aaea30f286270f21233d25aff3a4e90e8996b85bd9b6edd8084742bceb01d56f");

  RollingDesCipher decipher(1);
  ASSERT_TRUE(decipher.SetKey(kKey1.data(), 8, DesDirection::kDecrypt));
  EXPECT_EQ(DecryptOnce(decipher, FromHex("aaea30f286270f21233d25aff3a4e90e"
                                          "8996b85bd9b6edd8084742bceb01d56f")),
            plain);
}

// After a call the chaining value is XORed with the counter (1: low byte at
// even positions), so the next call's first block is
// DES(P2 ^ C1 ^ 0100010001000100).
TEST(RollingDesCipherTest, CounterPerturbsTheNextCall) {
  RollingDesCipher cipher(1);
  ASSERT_TRUE(cipher.SetKey(kKey1.data(), 8, DesDirection::kEncrypt));
  EXPECT_EQ(ToHex(EncryptOnce(cipher, FromHex("0123456789abcdef"))), "85e813540f0ab405");
  EXPECT_EQ(ToHex(EncryptOnce(cipher, FromHex("fedcba9876543210"))), "58a1f4a5996d12f7");
  EXPECT_EQ(cipher.counter(), 2);

  // ResetChain starts over.
  cipher.ResetChain();
  EXPECT_EQ(cipher.counter(), 0);
  EXPECT_EQ(ToHex(EncryptOnce(cipher, FromHex("0123456789abcdef"))), "85e813540f0ab405");
}

TEST(RollingDesCipherTest, KeyBlocksRotateByStep) {
  const auto plain = Bytes("Now is the time for all good men");
  // Two keys, step 1: K1 K2 K1.
  RollingDesCipher two(1);
  ASSERT_TRUE(two.SetKey(Concat({kKey1, kKey2}).data(), 16, DesDirection::kEncrypt));
  EXPECT_EQ(ToHex(EncryptOnce(two, {plain.begin(), plain.begin() + 24})),
            "aaea30f286270f2187fc26de9bd8ef129f4b68e087e61ff7");

  // Three keys, step 2: K1 K3 K2 K1.
  const auto three_keys = Concat({kKey1, kKey2, kKey3});
  RollingDesCipher three(2);
  ASSERT_TRUE(three.SetKey(three_keys.data(), 24, DesDirection::kEncrypt));
  const auto expected = "aaea30f286270f2150c8fa9b611de9f73528f009e98a84cae93ab1656afc15cb";
  EXPECT_EQ(ToHex(EncryptOnce(three, plain)), expected);

  RollingDesCipher back(2);
  ASSERT_TRUE(back.SetKey(three_keys.data(), 24, DesDirection::kDecrypt));
  EXPECT_EQ(DecryptOnce(back, FromHex(expected)), plain);
}

TEST(RollingDesCipherTest, ShortKeyIsPaddedWith44) {
  const auto five = Bytes("abcde");
  RollingDesCipher cipher(1);
  ASSERT_TRUE(cipher.SetKey(five.data(), 5, DesDirection::kEncrypt));
  EXPECT_EQ(cipher.key_block_count(), 1);
  EXPECT_EQ(ToHex({cipher.key_material(), cipher.key_material() + 8}), "6162636465444444");

  RollingDesCipher padded(1);
  ASSERT_TRUE(padded.SetKey(Bytes("abcdeDDD").data(), 8, DesDirection::kEncrypt));
  const auto plain = Bytes("sixteen bytes ok");
  EXPECT_EQ(EncryptOnce(cipher, plain), EncryptOnce(padded, plain));
}

TEST(RollingDesCipherTest, TwentyByteKeyGivesTwoBlocks) {
  const auto key = Concat({kKey1, kKey2, FromHex("DEADBEEF")});
  RollingDesCipher cipher(1);
  ASSERT_TRUE(cipher.SetKey(key.data(), 20, DesDirection::kEncrypt));
  EXPECT_EQ(cipher.key_block_count(), 2);
  // The last four bytes play no part.
  RollingDesCipher sixteen(1);
  ASSERT_TRUE(sixteen.SetKey(key.data(), 16, DesDirection::kEncrypt));
  const auto plain = Bytes("Now is the time for all ");
  EXPECT_EQ(EncryptOnce(cipher, plain), EncryptOnce(sixteen, plain));
}

TEST(RollingDesCipherTest, OversizedOrNegativeKeyKeepsThePreviousKey) {
  RollingDesCipher cipher(1);
  ASSERT_TRUE(cipher.SetKey(kKey1.data(), 8, DesDirection::kEncrypt));
  std::vector<uint8_t> big(600, 0x5A);
  EXPECT_FALSE(cipher.SetKey(big.data(), 520, DesDirection::kEncrypt));  // 65 blocks
  EXPECT_FALSE(cipher.SetKey(big.data(), 600, DesDirection::kEncrypt));
  EXPECT_FALSE(cipher.SetKey(big.data(), -1, DesDirection::kEncrypt));
  EXPECT_FALSE(cipher.SetKey(nullptr, 8, DesDirection::kEncrypt));
  EXPECT_EQ(cipher.key_block_count(), 1);
  EXPECT_EQ(ToHex(EncryptOnce(cipher, FromHex("0123456789abcdef"))), "85e813540f0ab405");

  // 512 bytes (and up to 519) give the full 64 blocks.
  EXPECT_TRUE(cipher.SetKey(big.data(), 519, DesDirection::kEncrypt));
  EXPECT_EQ(cipher.key_block_count(), 64);
}

TEST(RollingDesCipherTest, StepIsReducedAgainstKeyCount) {
  RollingDesCipher one(3);
  ASSERT_TRUE(one.SetKey(kKey1.data(), 8, DesDirection::kEncrypt));
  EXPECT_EQ(one.step(), 1);

  const auto keys = Concat({kKey1, kKey2});
  RollingDesCipher two(3);  // 3 mod 2 = 1
  ASSERT_TRUE(two.SetKey(keys.data(), 16, DesDirection::kEncrypt));
  EXPECT_EQ(two.step(), 1);
  RollingDesCipher even(4);  // 4 mod 2 = 0, taken as 1
  ASSERT_TRUE(even.SetKey(keys.data(), 16, DesDirection::kEncrypt));
  EXPECT_EQ(even.step(), 1);

  std::vector<uint8_t> eleven_blocks(88, 1);
  RollingDesCipher kept(7);
  ASSERT_TRUE(kept.SetKey(eleven_blocks.data(), 88, DesDirection::kEncrypt));
  EXPECT_EQ(kept.step(), 7);
}

TEST(RollingDesCipherTest, ThirteenBytesRoundTripAndChainAcrossCalls) {
  const auto key = Concat({kKey1, kKey2, kKey3});
  RollingDesCipher sender(5), receiver(5);
  ASSERT_TRUE(sender.SetKey(key.data(), 24, DesDirection::kEncrypt));
  ASSERT_TRUE(receiver.SetKey(key.data(), 24, DesDirection::kDecrypt));
  const auto plain = Bytes("thirteen byte");
  ASSERT_EQ(plain.size(), 13u);

  const auto first = EncryptOnce(sender, plain);
  const auto second = EncryptOnce(sender, plain);
  EXPECT_EQ(first.size(), 13u);
  EXPECT_NE(first, plain);
  EXPECT_NE(first, second);

  EXPECT_EQ(DecryptOnce(receiver, first), plain);
  EXPECT_EQ(DecryptOnce(receiver, second), plain);
}

// Worked by hand: with a zero chaining value a 3-byte message is only
// chained-XORed with the key's first bytes (13 34 57): 12 24 70; then
// 0x12 + 0x70 is even, as is the single pair, so the ends swap: 70 24 12.
TEST(RollingDesCipherTest, TailIsChainXoredAndPairSwapped) {
  RollingDesCipher cipher(1);
  ASSERT_TRUE(cipher.SetKey(kKey1.data(), 8, DesDirection::kEncrypt));
  EXPECT_EQ(ToHex(EncryptOnce(cipher, FromHex("010203"))), "702412");

  // One byte: no swap, just the XOR with the key byte.
  RollingDesCipher single(1);
  ASSERT_TRUE(single.SetKey(kKey1.data(), 8, DesDirection::kEncrypt));
  EXPECT_EQ(ToHex(EncryptOnce(single, FromHex("01"))), "12");

  RollingDesCipher back(1);
  ASSERT_TRUE(back.SetKey(kKey1.data(), 8, DesDirection::kDecrypt));
  EXPECT_EQ(ToHex(DecryptOnce(back, FromHex("702412"))), "010203");
}

TEST(RollingDesCipherTest, RoundTripsManyLengthsInPlace) {
  const auto key = Concat({kKey3, kKey1, kKey2, kKey1});
  RollingDesCipher sender(3), receiver(3);
  ASSERT_TRUE(sender.SetKey(key.data(), 32, DesDirection::kEncrypt));
  ASSERT_TRUE(receiver.SetKey(key.data(), 32, DesDirection::kDecrypt));
  for (int length = 0; length <= 70; ++length) {
    std::vector<uint8_t> plain(length);
    for (int i = 0; i < length; ++i) plain[i] = static_cast<uint8_t>(i * 37 + length);
    std::vector<uint8_t> data = plain;
    ASSERT_EQ(sender.Encrypt(data.data(), length, data.data()), 0);
    ASSERT_EQ(receiver.Decrypt(data.data(), length, data.data()), 0);
    EXPECT_EQ(data, plain) << "length " << length;
  }
}

TEST(RollingDesCipherTest, PairSwapUndoesItselfForEveryTailLength) {
  // The decrypting side undoes the swap with the same routine; every tail
  // length from 2 to 7 with bytes of both parities must survive.
  for (int tail = 1; tail < 8; ++tail) {
    for (int seed = 0; seed < 16; ++seed) {
      std::vector<uint8_t> plain(tail);
      for (int i = 0; i < tail; ++i) plain[i] = static_cast<uint8_t>(seed * 13 + i * (seed | 1));
      RollingDesCipher sender(1), receiver(1);
      ASSERT_TRUE(sender.SetKey(kKey2.data(), 8, DesDirection::kEncrypt));
      ASSERT_TRUE(receiver.SetKey(kKey2.data(), 8, DesDirection::kDecrypt));
      EXPECT_EQ(DecryptOnce(receiver, EncryptOnce(sender, plain)), plain);
    }
  }
}

TEST(RollingDesCipherTest, RefusesCallsItCannotServe) {
  RollingDesCipher cipher(1);
  uint8_t data[16] = {};
  EXPECT_EQ(cipher.Encrypt(data, 16, data), -1);  // no key yet
  EXPECT_EQ(cipher.Decrypt(data, 16, data), -1);
  ASSERT_TRUE(cipher.SetKey(kKey1.data(), 8, DesDirection::kEncrypt));
  EXPECT_EQ(cipher.Encrypt(data, -8, data), -1);
  EXPECT_EQ(cipher.Encrypt(nullptr, 8, data), -1);
  EXPECT_EQ(cipher.counter(), 0);
  EXPECT_EQ(cipher.Encrypt(nullptr, 0, nullptr), 0);
  EXPECT_EQ(cipher.counter(), 1);
}

// Deciphering in batches gives exactly what the block-by-block path gives:
// for every key count and step, across calls (the key index, chaining value
// and counter carry over), with every tail length, in place or not, and at
// any alignment of the buffers.
TEST(RollingDesCipherBatchTest, EveryEngineMatchesBlockByBlockDeciphering) {
  int engine_count = 0;
  const DesBatchEngine* const* engines = DesBatchEngines(&engine_count);
  std::mt19937 random(77);
  int combination = 0;
  for (int e = 0; e < engine_count; ++e) {
    const DesBatchEngine& engine = *engines[e];
    SCOPED_TRACE(engine.name);
    const int lanes = engine.blocks();
    for (int keys = 1; keys <= 64; ++keys) {
      std::vector<uint8_t> key(static_cast<size_t>(keys) * 8 + random() % 8);
      for (uint8_t& b : key) b = static_cast<uint8_t>(random());
      // On the widest engine steps 1 .. keys - 1 each, and one beyond the
      // count (reduced by SetKey); on the others the steps keys are made with.
      std::vector<int> steps = {1, 3, 5, 7, 11};
      if (e == 0) {
        steps.clear();
        for (int step = 1; step <= std::max(1, keys - 1) + 1; ++step) steps.push_back(step);
      }
      for (int step : steps) {
        ++combination;
        SCOPED_TRACE(testing::Message() << "keys " << keys << " step " << step);
        RollingDesCipher batched(step), reference(step);
        batched.UseBatchEngine(&engine);
        reference.UseBatchEngine(nullptr);
        ASSERT_TRUE(batched.SetKey(key.data(), static_cast<int32_t>(key.size()),
                                   DesDirection::kDecrypt));
        ASSERT_TRUE(reference.SetKey(key.data(), static_cast<int32_t>(key.size()),
                                     DesDirection::kDecrypt));
        // A short call first moves the key index off 0; then a long one runs
        // full and partial batches and a serial remainder.
        const int tail = combination % 8;
        const size_t lengths[] = {static_cast<size_t>(8 * (combination % 5) + 3),
                                  static_cast<size_t>(8 * (lanes + lanes / 2 + 3) + tail)};
        const bool in_place = combination % 2 == 0;
        const size_t offset = static_cast<size_t>(combination % 8);
        for (size_t length : lengths) {
          std::vector<uint8_t> cipher(length);
          for (uint8_t& b : cipher) b = static_cast<uint8_t>(random());
          std::vector<uint8_t> expected(length);
          ASSERT_EQ(0, reference.Decrypt(cipher.data(), static_cast<int32_t>(length),
                                         expected.data()));
          std::vector<uint8_t> storage(length + 16);
          uint8_t* data = storage.data() + offset;
          std::vector<uint8_t> out_storage(length + 16);
          uint8_t* out = in_place ? data : out_storage.data() + (offset + 3) % 8;
          std::copy(cipher.begin(), cipher.end(), data);
          ASSERT_EQ(0, batched.Decrypt(data, static_cast<int32_t>(length), out));
          ASSERT_TRUE(std::equal(expected.begin(), expected.end(), out)) << "length " << length;
          if (!in_place) {
            ASSERT_TRUE(std::equal(cipher.begin(), cipher.end(), data));
          }
        }
        EXPECT_EQ(batched.counter(), reference.counter());
      }
    }
  }
}

// A round trip through an enciphering object and a batch-deciphering one.
TEST(RollingDesCipherBatchTest, LongMessagesRoundTrip) {
  std::mt19937 random(5);
  std::vector<uint8_t> key(40);
  for (uint8_t& b : key) b = static_cast<uint8_t>(random());
  RollingDesCipher sender(3), receiver(3);
  ASSERT_TRUE(sender.SetKey(key.data(), 40, DesDirection::kEncrypt));
  ASSERT_TRUE(receiver.SetKey(key.data(), 40, DesDirection::kDecrypt));
  for (size_t length : {size_t{100003}, size_t{4096}, size_t{7}, size_t{65536}}) {
    std::vector<uint8_t> plain(length);
    for (uint8_t& b : plain) b = static_cast<uint8_t>(random());
    std::vector<uint8_t> data = plain;
    ASSERT_EQ(0, sender.Encrypt(data.data(), static_cast<int32_t>(length), data.data()));
    ASSERT_EQ(0, receiver.Decrypt(data.data(), static_cast<int32_t>(length), data.data()));
    EXPECT_EQ(data, plain);
  }
}

}  // namespace
}  // namespace marrowgate

namespace marrowgate {
namespace {

// A message enciphered or deciphered in pieces of whole blocks and a final
// piece gives the bytes of one call over it, and the same state after (the
// next message, taken whole by both, comes out alike).
TEST(RollingDesCipherPieceTest, PiecesMatchOneCallForEveryTailAndSplit) {
  std::mt19937 random(17);
  for (const DesDirection direction : {DesDirection::kDecrypt, DesDirection::kEncrypt}) {
    const bool enciphering = direction == DesDirection::kEncrypt;
    auto one = [&](RollingDesCipher& c, const uint8_t* in, size_t n, uint8_t* out) {
      const int32_t length = static_cast<int32_t>(n);
      return enciphering ? c.Encrypt(in, length, out) : c.Decrypt(in, length, out);
    };
    auto piece = [&](RollingDesCipher& c, const uint8_t* in, size_t n, uint8_t* out, bool last) {
      const int32_t length = static_cast<int32_t>(n);
      return enciphering ? c.EncryptPiece(in, length, out, last)
                         : c.DecryptPiece(in, length, out, last);
    };
    for (int keyBlocks : {1, 3, 64}) {
      std::vector<uint8_t> key(static_cast<size_t>(keyBlocks) * 8);
      for (uint8_t& b : key) b = static_cast<uint8_t>(random());
      for (int tail = 0; tail < 8; ++tail) {
        const size_t length = 8 * 700 + static_cast<size_t>(tail);
        std::vector<uint8_t> wire(length), next(29);
        for (uint8_t& b : wire) b = static_cast<uint8_t>(random());
        for (uint8_t& b : next) b = static_cast<uint8_t>(random());
        RollingDesCipher whole(5), pieces(5);
        ASSERT_TRUE(whole.SetKey(key.data(), static_cast<int32_t>(key.size()), direction));
        ASSERT_TRUE(pieces.SetKey(key.data(), static_cast<int32_t>(key.size()), direction));
        std::vector<uint8_t> expected(length), got(length);
        ASSERT_EQ(0, one(whole, wire.data(), length, expected.data()));
        // Uneven pieces, some empty, the last one possibly only the tail.
        size_t at = 0;
        for (size_t n : {size_t{0}, size_t{8}, size_t{256}, size_t{8 * 300}, size_t{0}}) {
          ASSERT_EQ(0, piece(pieces, wire.data() + at, n, got.data() + at, false));
          at += n;
        }
        ASSERT_EQ(0, piece(pieces, wire.data() + at, length - at, got.data() + at, true));
        EXPECT_EQ(got, expected) << "keys " << keyBlocks << " tail " << tail << " enciphering "
                                 << enciphering;
        EXPECT_EQ(pieces.counter(), whole.counter());
        std::vector<uint8_t> a(next.size()), b(next.size());
        one(whole, next.data(), next.size(), a.data());
        one(pieces, next.data(), next.size(), b.data());
        EXPECT_EQ(a, b);
      }
    }
  }
}

TEST(RollingDesCipherPieceTest, RefusesAPieceThatIsNotWholeBlocks) {
  RollingDesCipher cipher(1);
  ASSERT_TRUE(cipher.SetKey(kKey1.data(), 8, DesDirection::kDecrypt));
  uint8_t bytes[16] = {};
  EXPECT_EQ(-1, cipher.DecryptPiece(bytes, 12, bytes, false));
  EXPECT_EQ(-1, cipher.EncryptPiece(bytes, 12, bytes, false));
  EXPECT_EQ(0, cipher.counter());
  EXPECT_EQ(0, cipher.DecryptPiece(bytes, 12, bytes, true));
  EXPECT_EQ(1, cipher.counter());
}

}  // namespace
}  // namespace marrowgate
