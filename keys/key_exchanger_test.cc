#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "keys/builtin_keys.h"
#include "keys/key_factory.h"
#include "platform/env.h"
#include "util/releaser.h"

namespace marrowgate {
namespace {

std::vector<uint8_t> Secret(IKeyExchanger* exchanger) {
  const uint8_t* s = exchanger->GetSecret();
  return {s, s + exchanger->GetSecretLen()};
}

std::vector<uint8_t> PubData(IKeyExchanger* exchanger) {
  const uint8_t* p = exchanger->GetPubData();
  return {p, p + exchanger->GetPubDataLen()};
}

class KeyExchangerTest : public ::testing::Test {
 protected:
  Owned<IKeyExchanger> Create(int kind) { return Owned<IKeyExchanger>(factory_->CreateKeyExchanger(kind)); }

  Owned<KeyFactory> factory_{CreateKeyFactory()};
};

// ------------------------------------------------------- Diffie-Hellman

TEST_F(KeyExchangerTest, DiffieHellmanBothSidesAgree) {
  ASSERT_NE(factory_, nullptr);
  struct Case {
    int kind;
    int length;
  };
  for (Case c : {Case{0, 128}, Case{2, 256}, Case{4, 128}}) {
    SCOPED_TRACE(c.kind);
    auto alice = Create(c.kind);
    auto bob = Create(c.kind);
    ASSERT_NE(alice, nullptr);
    ASSERT_NE(bob, nullptr);
    EXPECT_EQ(alice->GetPubDataLen(), c.length);
    EXPECT_EQ(alice->GetSecretLen(), c.length);
    ASSERT_EQ(alice->Generate(), 0);
    ASSERT_EQ(bob->Generate(), 0);
    EXPECT_NE(PubData(alice.get()), PubData(bob.get()));

    const auto alicePub = PubData(alice.get());
    const auto bobPub = PubData(bob.get());
    ASSERT_EQ(alice->Initiate(bobPub.data(), c.length), 0);
    ASSERT_EQ(bob->Accept(alicePub.data(), c.length), 0);
    EXPECT_EQ(Secret(alice.get()), Secret(bob.get()));
    EXPECT_NE(Secret(alice.get()), std::vector<uint8_t>(c.length, 0));
  }
}

TEST_F(KeyExchangerTest, DiffieHellmanRefusesBadPeerKeys) {
  auto alice = Create(0);
  auto bob = Create(0);
  ASSERT_EQ(alice->Generate(), 0);
  ASSERT_EQ(bob->Generate(), 0);
  const auto bobPub = PubData(bob.get());
  ASSERT_EQ(alice->Agree(bobPub.data(), 128), 0);
  const auto before = Secret(alice.get());

  // Wrong length: -1, secret unchanged.
  EXPECT_EQ(alice->Agree(bobPub.data(), 127), -1);
  EXPECT_EQ(alice->Agree(nullptr, 128), -1);
  EXPECT_EQ(Secret(alice.get()), before);

  // Values outside the group (0, 1, p - 1) are rejected: -2, unchanged.
  std::vector<uint8_t> zero(128, 0), one(128, 0);
  one[127] = 1;
  EXPECT_EQ(alice->Agree(zero.data(), 128), -2);
  EXPECT_EQ(alice->Agree(one.data(), 128), -2);
  EXPECT_EQ(Secret(alice.get()), before);
}

TEST_F(KeyExchangerTest, DiffieHellmanNeedsItsOwnKeyFirst) {
  auto alice = Create(0);
  auto bob = Create(0);
  ASSERT_EQ(bob->Generate(), 0);
  EXPECT_EQ(alice->Agree(PubData(bob.get()).data(), 128), -2);
}

// The pool is seeded from the system, so two factories (as two runs of the
// program) do not produce the same key pair.
TEST_F(KeyExchangerTest, FactoriesDoNotRepeatKeyPairs) {
  Owned<KeyFactory> other(CreateKeyFactory());
  Owned<IKeyExchanger> a(factory_->CreateKeyExchanger(0));
  Owned<IKeyExchanger> b(other->CreateKeyExchanger(0));
  ASSERT_EQ(a->Generate(), 0);
  ASSERT_EQ(b->Generate(), 0);
  EXPECT_NE(PubData(a.get()), PubData(b.get()));
}

TEST_F(KeyExchangerTest, MixXorsDataCyclically) {
  auto alice = Create(0);
  auto bob = Create(0);
  ASSERT_EQ(alice->Generate(), 0);
  ASSERT_EQ(bob->Generate(), 0);
  ASSERT_EQ(alice->Agree(PubData(bob.get()).data(), 128), 0);
  const auto before = Secret(alice.get());

  const uint8_t ff = 0xFF;
  ASSERT_EQ(alice->Mix(&ff, 1), 0);
  auto after = Secret(alice.get());
  for (size_t k = 0; k < before.size(); ++k) EXPECT_EQ(after[k], static_cast<uint8_t>(~before[k]));

  const uint8_t pattern[3] = {1, 2, 4};
  ASSERT_EQ(alice->Mix(pattern, 3), 0);
  const auto mixed = Secret(alice.get());
  for (size_t k = 0; k < mixed.size(); ++k) EXPECT_EQ(mixed[k], after[k] ^ pattern[k % 3]);

  EXPECT_EQ(alice->Mix(pattern, 0), -1);
  EXPECT_EQ(alice->Mix(nullptr, 3), -1);
  EXPECT_EQ(Secret(alice.get()), mixed);
}

// ------------------------------------------------------------------ RSA

TEST_F(KeyExchangerTest, RsaExchangeGivesEqualSecrets) {
  struct Case {
    int kind;
    int secretLength;
  };
  for (Case c : {Case{1, 200}, Case{11, 160}, Case{13, 200}}) {
    SCOPED_TRACE(c.kind);
    auto alice = Create(c.kind);
    auto bob = Create(c.kind);
    ASSERT_NE(alice, nullptr);
    EXPECT_EQ(bob->GetSecretLen(), c.secretLength);
    ASSERT_EQ(alice->Generate(), 0);
    EXPECT_EQ(alice->GetPubDataLen(), 292);  // an X.509 RSA-2048 public key

    const auto alicePub = PubData(alice.get());
    ASSERT_EQ(bob->Initiate(alicePub.data(), static_cast<int32_t>(alicePub.size())), 0);
    EXPECT_EQ(bob->GetPubDataLen(), 256);  // the ciphertext
    const auto ciphertext = PubData(bob.get());
    ASSERT_EQ(alice->Accept(ciphertext.data(), static_cast<int32_t>(ciphertext.size())), 0);

    EXPECT_EQ(alice->GetSecretLen(), c.secretLength);
    EXPECT_EQ(Secret(alice.get()), Secret(bob.get()));
    EXPECT_EQ(alice->GetSecret()[c.secretLength], 0);
    EXPECT_EQ(alice->Agree(ciphertext.data(), 5), 0);  // no part in RSA
  }
}

// The secret comes from the random pool: the C library's generator, seeded
// the same way, does not make two exchanges choose the same secret.
TEST_F(KeyExchangerTest, RsaSecretDoesNotFollowTheCRandomGenerator) {
  auto alice = Create(1);
  ASSERT_EQ(alice->Generate(), 0);
  const auto alicePub = PubData(alice.get());
  auto first = Create(1);
  auto second = Create(1);
  platform::CSeedRand(1);
  ASSERT_EQ(first->Initiate(alicePub.data(), static_cast<int32_t>(alicePub.size())), 0);
  platform::CSeedRand(1);
  ASSERT_EQ(second->Initiate(alicePub.data(), static_cast<int32_t>(alicePub.size())), 0);
  EXPECT_NE(Secret(first.get()), Secret(second.get()));
}

TEST_F(KeyExchangerTest, RsaRefusesBadInput) {
  auto alice = Create(1);
  auto bob = Create(1);
  std::vector<uint8_t> garbage(256, 0x5A);
  EXPECT_EQ(alice->Accept(garbage.data(), 256), -1);  // before Generate
  ASSERT_EQ(alice->Generate(), 0);
  EXPECT_EQ(alice->Accept(garbage.data(), 256), -1);  // not an OAEP block
  EXPECT_EQ(alice->Accept(garbage.data(), 100), -1);  // wrong length
  EXPECT_EQ(bob->Initiate(garbage.data(), 256), -1);  // not a public key
  EXPECT_EQ(bob->Initiate(nullptr, 0), -1);
}

// ------------------------------------------------------------- factory

TEST_F(KeyExchangerTest, FactoryRefusesNegativeKindsAndBadTables) {
  EXPECT_EQ(factory_->CreateKeyExchanger(-1), nullptr);
  EXPECT_EQ(factory_->CreateKeyExchanger(-2), nullptr);

  EXPECT_EQ(factory_->Configure(KeyFactory::kConfigureGroupTable, nullptr, 2), -1);
  EXPECT_EQ(factory_->Configure(KeyFactory::kConfigureGroupTable, kBuiltinGroupParameters, 0), -1);
  KEYPAIR_TABLE_T empty = {kBuiltinPrivateKeys, kBuiltinPublicKeys, 0, 3072, 1024};
  EXPECT_EQ(factory_->Configure(KeyFactory::kConfigureKeyPairTable, &empty, 0), -1);
  EXPECT_EQ(factory_->Configure(99, nullptr, 0), 0);

  // A group text that does not decode gives no exchanger.
  static const char* const kBadGroups[] = {"3003020105"};
  ASSERT_EQ(factory_->Configure(KeyFactory::kConfigureGroupTable, kBadGroups, 1), 0);
  EXPECT_EQ(factory_->CreateKeyExchanger(0), nullptr);

  // One group only: every even kind uses it.
  static const char* const kLargeGroupOnly[] = {kBuiltinGroupParameters[1]};
  ASSERT_EQ(factory_->Configure(KeyFactory::kConfigureGroupTable, kLargeGroupOnly, 1), 0);
  auto exchanger = Create(0);
  ASSERT_NE(exchanger, nullptr);
  EXPECT_EQ(exchanger->GetPubDataLen(), 256);
}

// Seeding only adds to the pool: exchanges made afterwards still agree, and
// two factories given the same seed still draw different keys (the pool
// keeps what the operating system gave it).
TEST_F(KeyExchangerTest, SeedingAddsToThePoolWithoutReplacingIt) {
  Owned<KeyFactory> other(CreateKeyFactory());
  ASSERT_NE(other, nullptr);
  for (KeyFactory* factory : {factory_.get(), other.get()}) {
    factory->Seed("more entropy", 12);
    factory->Seed(nullptr, 0);  // the time and tick
    factory->Seed("ignored", 0);
    factory->Seed("ignored", -5);
  }
  Owned<IKeyExchanger> alice(factory_->CreateKeyExchanger(0));
  Owned<IKeyExchanger> bob(other->CreateKeyExchanger(0));
  ASSERT_NE(alice, nullptr);
  ASSERT_NE(bob, nullptr);
  ASSERT_EQ(alice->Generate(), 0);
  ASSERT_EQ(bob->Generate(), 0);
  EXPECT_NE(PubData(alice.get()), PubData(bob.get()));
  const auto alicePub = PubData(alice.get());
  const auto bobPub = PubData(bob.get());
  ASSERT_EQ(alice->Initiate(bobPub.data(), alice->GetPubDataLen()), 0);
  ASSERT_EQ(bob->Accept(alicePub.data(), bob->GetPubDataLen()), 0);
  EXPECT_EQ(Secret(alice.get()), Secret(bob.get()));
}

TEST_F(KeyExchangerTest, RsaReadsTheKeyPairTableAtGenerate) {
  auto alice = Create(3);
  // A table of one pair whose public-data capacity is too small for the key.
  KEYPAIR_TABLE_T tight = {kBuiltinPrivateKeys, kBuiltinPublicKeys, 1, 3072, 100};
  ASSERT_EQ(factory_->Configure(KeyFactory::kConfigureKeyPairTable, &tight, 0), 0);
  EXPECT_EQ(alice->Generate(), -1);

  KEYPAIR_TABLE_T single = {kBuiltinPrivateKeys + 4, kBuiltinPublicKeys + 4, 1, 3072, 1024};
  ASSERT_EQ(factory_->Configure(KeyFactory::kConfigureKeyPairTable, &single, 0), 0);
  ASSERT_EQ(alice->Generate(), 0);
  const std::string hex = kBuiltinPublicKeys[4];
  std::string pubHex;
  for (uint8_t b : PubData(alice.get())) {
    static const char kDigits[] = "0123456789ABCDEF";
    pubHex += kDigits[b >> 4];
    pubHex += kDigits[b & 15];
  }
  EXPECT_EQ(pubHex, hex);
}

}  // namespace
}  // namespace marrowgate
