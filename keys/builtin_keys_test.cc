#include "keys/builtin_keys.h"

#include <cryptopp/filters.h>
#include <cryptopp/hex.h>
#include <cryptopp/integer.h>
#include <cryptopp/rsa.h>
#include <cryptopp/asn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace marrowgate {
namespace {

bool IsUpperHex(const char* text) {
  for (const char* p = text; *p != '\0'; ++p) {
    if (!((*p >= '0' && *p <= '9') || (*p >= 'A' && *p <= 'F'))) return false;
  }
  return true;
}

TEST(BuiltinKeysTest, GroupTextsAreDerSequencesOfPAndG) {
  const size_t expectedLengths[kBuiltinGroupCount] = {276, 536};
  const unsigned expectedBits[kBuiltinGroupCount] = {1024, 2048};
  for (int i = 0; i < kBuiltinGroupCount; ++i) {
    const char* text = kBuiltinGroupParameters[i];
    EXPECT_EQ(std::strlen(text), expectedLengths[i]);
    EXPECT_TRUE(IsUpperHex(text));

    CryptoPP::StringSource source(text, true, new CryptoPP::HexDecoder);
    CryptoPP::BERSequenceDecoder sequence(source);
    CryptoPP::Integer p, g;
    p.BERDecode(sequence);
    g.BERDecode(sequence);
    EXPECT_TRUE(sequence.EndReached());
    sequence.MessageEnd();
    EXPECT_EQ(p.BitCount(), expectedBits[i]);
    EXPECT_TRUE(p.IsOdd());
    // A safe prime: (p - 1) / 2 is odd too.
    EXPECT_TRUE(((p - 1) >> 1).IsOdd());
    EXPECT_GT(g, CryptoPP::Integer::One());
    EXPECT_LT(g, p - 1);
  }
}

TEST(BuiltinKeysTest, KeyPairsAreMatchingRsa2048Keys) {
  for (int i = 0; i < kBuiltinKeyPairCount; ++i) {
    SCOPED_TRACE(i);
    const char* publicText = kBuiltinPublicKeys[i];
    const char* privateText = kBuiltinPrivateKeys[i];
    EXPECT_EQ(std::strlen(publicText), 584u);
    EXPECT_GE(std::strlen(privateText), 2428u);
    EXPECT_LE(std::strlen(privateText), 2432u);
    EXPECT_TRUE(IsUpperHex(publicText));
    EXPECT_TRUE(IsUpperHex(privateText));

    CryptoPP::RSA::PublicKey publicKey;
    CryptoPP::StringSource publicSource(publicText, true, new CryptoPP::HexDecoder);
    publicKey.BERDecode(publicSource);  // X.509 SubjectPublicKeyInfo
    CryptoPP::RSA::PrivateKey privateKey;
    CryptoPP::StringSource privateSource(privateText, true, new CryptoPP::HexDecoder);
    privateKey.BERDecode(privateSource);  // PKCS#8 PrivateKeyInfo

    EXPECT_EQ(publicKey.GetModulus().BitCount(), 2048u);
    EXPECT_EQ(publicKey.GetModulus(), privateKey.GetModulus());
    EXPECT_EQ(publicKey.GetPublicExponent(), privateKey.GetPublicExponent());
    EXPECT_EQ(privateKey.GetPrime1() * privateKey.GetPrime2(), privateKey.GetModulus());
  }
  // No pair is repeated.
  for (int i = 0; i < kBuiltinKeyPairCount; ++i) {
    for (int j = i + 1; j < kBuiltinKeyPairCount; ++j) {
      EXPECT_STRNE(kBuiltinPublicKeys[i], kBuiltinPublicKeys[j]);
    }
  }
}

}  // namespace
}  // namespace marrowgate
