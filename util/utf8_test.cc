#include "util/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace marrowgate {
namespace {

TEST(Utf8, Validity) {
  EXPECT_TRUE(IsValidUtf8(""));
  EXPECT_TRUE(IsValidUtf8("plain"));
  EXPECT_TRUE(IsValidUtf8("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"));
  EXPECT_FALSE(IsValidUtf8("caf\xE9"));               // Latin-1 é
  EXPECT_FALSE(IsValidUtf8("\xC3"));                  // cut inside
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));              // overlong
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));          // surrogate
  EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));      // above U+10FFFF
  EXPECT_FALSE(IsValidUtf8("\x80"));
}

// Every cut of a text of multi-byte characters ends on a character
// boundary and is the longest that fits.
TEST(Utf8, CutsNeverEndInsideACharacter) {
  std::string text = "a";
  for (int i = 0; i < 70; ++i) text += "\xC3\xA9";        // é, 2 bytes
  text += "\xE2\x82\xAC\xF0\x9F\x98\x80";                // €, 3 bytes; 4 bytes
  for (size_t max = 0; max <= text.size() + 1; ++max) {
    std::string cut = CutText(text, max);
    EXPECT_LE(cut.size(), max);
    EXPECT_TRUE(IsValidUtf8(cut)) << max;
    EXPECT_EQ(text.compare(0, cut.size(), cut), 0);
    // Nothing more would have fitted: the next character is longer than
    // what is left.
    if (cut.size() < text.size()) {
      size_t next = cut.size() + 1;
      while (next < text.size() && (static_cast<unsigned char>(text[next]) & 0xC0) == 0x80) ++next;
      EXPECT_GT(next, max) << max;
    }
  }
  EXPECT_EQ(CutLength(text, 127), 127u);   // 'a' and 63 é
  EXPECT_EQ(CutLength(text, 128), 127u);
  // Bytes that are not UTF-8 are characters of their own.
  EXPECT_EQ(CutText("caf\xE9\xE9\xE9", 5), "caf\xE9\xE9");
}

TEST(Utf8, Windows1252) {
  EXPECT_EQ(Windows1252ToUtf8("Caf\xE9 \x80 \x93ok\x94 \x81"),
            "Caf\xC3\xA9 \xE2\x82\xAC \xE2\x80\x9Cok\xE2\x80\x9D \xEF\xBF\xBD");
  std::string all;
  for (int byte = 1; byte < 256; ++byte) all.push_back(static_cast<char>(byte));
  EXPECT_TRUE(IsValidUtf8(Windows1252ToUtf8(all)));
  EXPECT_EQ(DisplayText("Stra\xC3\x9F" "e"), "Stra\xC3\x9F" "e");   // UTF-8 stays
  EXPECT_EQ(DisplayText("Stra\xDF" "e"), "Stra\xC3\x9F" "e");       // 1252 is read
}

}  // namespace
}  // namespace marrowgate
