#include "keys/block_cipher_object.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "keys/key_factory.h"
#include "util/releaser.h"

namespace marrowgate {
namespace {

class BlockCipherObjectTest : public ::testing::Test {
 protected:
  Owned<CipherObject> Create(int kind) { return Owned<CipherObject>(factory_->CreateCipher(kind)); }

  Owned<KeyFactory> factory_{CreateKeyFactory()};
};

int32_t StepOf(CipherObject* cipher) { return static_cast<BlockCipherObject*>(cipher)->step(); }

TEST_F(BlockCipherObjectTest, StepFollowsKindModuloFive) {
  ASSERT_NE(factory_, nullptr);
  // A key of 16 blocks leaves every step of the table unreduced.
  const std::string key(128, 'k');
  const int32_t expected[] = {1, 3, 5, 7, 11, 1, 3, 5, 7, 11, 1};
  for (int kind = 0; kind <= 10; ++kind) {
    auto cipher = Create(kind);
    ASSERT_NE(cipher, nullptr);
    ASSERT_EQ(cipher->SetEncryptKey(key.data(), static_cast<int32_t>(key.size())), 1);
    EXPECT_EQ(StepOf(cipher.get()), expected[kind]) << "kind " << kind;
  }
  EXPECT_EQ(factory_->CreateCipher(-1), nullptr);
}

TEST_F(BlockCipherObjectTest, KeyResultsAreOneOrZero) {
  auto cipher = Create(0);
  std::vector<uint8_t> key(520, 7);
  EXPECT_EQ(cipher->SetEncryptKey(key.data(), 8), 1);
  EXPECT_EQ(cipher->SetDecryptKey(key.data(), 512), 1);
  EXPECT_EQ(cipher->SetEncryptKey(key.data(), 520), 0);
  EXPECT_EQ(cipher->SetDecryptKey(key.data(), -4), 0);
}

TEST_F(BlockCipherObjectTest, UnkeyedObjectRefusesWork) {
  auto cipher = Create(2);
  uint8_t data[24] = {};
  EXPECT_EQ(cipher->Encrypt(data, 24, data), -1);
  EXPECT_EQ(cipher->Decrypt(data, 24, data), -1);
}

// A sender and a receiver made from different kinds of the same step class
// (kinds 3 and 8 both give step 7) stay in step over odd lengths.
TEST_F(BlockCipherObjectTest, PairRoundTripsOddLengthsAcrossCalls) {
  const std::string key = "a password of some length, 37 bytes.";
  auto sender = Create(3);
  auto receiver = Create(8);
  ASSERT_EQ(sender->SetEncryptKey(key.data(), static_cast<int32_t>(key.size())), 1);
  ASSERT_EQ(receiver->SetDecryptKey(key.data(), static_cast<int32_t>(key.size())), 1);

  std::vector<std::vector<uint8_t>> sent;
  for (int length : {1, 7, 9, 13, 31, 101, 1023}) {
    std::vector<uint8_t> plain(length);
    for (int i = 0; i < length; ++i) plain[i] = static_cast<uint8_t>(i * 11 + length);
    std::vector<uint8_t> wire(length);
    ASSERT_EQ(sender->Encrypt(plain.data(), length, wire.data()), 0);
    EXPECT_NE(wire, plain);
    std::vector<uint8_t> back(length);
    ASSERT_EQ(receiver->Decrypt(wire.data(), length, back.data()), 0);
    EXPECT_EQ(back, plain) << "length " << length;
    sent.push_back(wire);
  }

  // Re-keying restarts the chain: the first message enciphers as before.
  ASSERT_EQ(sender->SetEncryptKey(key.data(), static_cast<int32_t>(key.size())), 1);
  std::vector<uint8_t> again(1);
  const uint8_t first = static_cast<uint8_t>(1);
  ASSERT_EQ(sender->Encrypt(&first, 1, again.data()), 0);
  EXPECT_EQ(again, sent[0]);
}

}  // namespace
}  // namespace marrowgate
