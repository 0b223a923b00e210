#include "util/md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace marrowgate {
namespace {

std::string ToHex(const uint8_t* bytes, size_t n) {
  std::string out;
  char two[3];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(two, sizeof(two), "%02x", bytes[i]);
    out += two;
  }
  return out;
}

std::string DigestHex(const std::string& text) {
  uint8_t digest[16];
  return ToHex(Md5Digest(text.data(), text.size(), digest), 16);
}

// The test suite of RFC 1321, appendix A.5.
TEST(Md5Test, Rfc1321TestSuite) {
  EXPECT_EQ(DigestHex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(DigestHex("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(DigestHex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(DigestHex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(DigestHex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(DigestHex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(DigestHex("1234567890123456789012345678901234567890"
                      "1234567890123456789012345678901234567890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

// Padding boundaries: 55 bytes fit one final block, 56 need a second.
TEST(Md5Test, PaddingBoundaries) {
  EXPECT_EQ(DigestHex(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
  EXPECT_EQ(DigestHex(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
  EXPECT_EQ(DigestHex(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
}

// Feeding the data in pieces of any size gives the one-shot digest.
TEST(Md5Test, StreamingMatchesOneShot) {
  std::vector<uint8_t> data(1000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 3);
  uint8_t expected[16];
  Md5Digest(data.data(), data.size(), expected);

  for (size_t piece : {1u, 3u, 63u, 64u, 65u, 500u}) {
    Md5 context;
    Md5Init(&context);
    for (size_t offset = 0; offset < data.size(); offset += piece) {
      Md5Update(&context, data.data() + offset, std::min(piece, data.size() - offset));
    }
    uint8_t digest[16];
    Md5Final(&context, digest);
    EXPECT_EQ(ToHex(digest, 16), ToHex(expected, 16)) << "piece " << piece;
  }
}

TEST(Md5Test, BitCountIsKeptLowWordFirst) {
  Md5 context;
  Md5Init(&context);
  std::vector<uint8_t> data(1000, 0);
  Md5Update(&context, data.data(), data.size());
  EXPECT_EQ(context.count[0], 8000u);
  EXPECT_EQ(context.count[1], 0u);

  // The low word carries into the high one.
  Md5Init(&context);
  context.count[0] = 0xFFFFFFF8u;
  const uint8_t one = 1;
  Md5Update(&context, &one, 1);
  EXPECT_EQ(context.count[0], 0u);
  EXPECT_EQ(context.count[1], 1u);
}

}  // namespace
}  // namespace marrowgate
