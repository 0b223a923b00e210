#include "package/file/virtual_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "package/file/file_system.h"
#include "util/releaser.h"

namespace marrowgate {
namespace {

// A read-only file over a string, handing out bytes in pieces of at most
// `piece` bytes, to test the shared operations alone.
class StringFile : public VirtualFile {
 public:
  explicit StringFile(std::string content, int32_t piece = 1 << 20)
      : content_(std::move(content)), piece_(piece) {}
  int32_t Size() override { return static_cast<int32_t>(content_.size()); }
  int32_t GetTime() override { return 0; }
  int32_t SetTime(int32_t) override { return 0; }
  int32_t Read(void* buffer, int32_t n) override {
    int32_t left = static_cast<int32_t>(content_.size() - position_);
    int32_t count = std::min({n, left, piece_});
    std::memcpy(buffer, content_.data() + position_, count);
    position_ += count;
    ++reads_;
    return count;
  }
  int32_t Seek(int64_t offset, int origin) override {
    int64_t base = origin == 0 ? 0 : origin == 1 ? position_ : content_.size();
    if (base + offset < 0 || base + offset > static_cast<int64_t>(content_.size())) return -1;
    position_ = static_cast<size_t>(base + offset);
    return 0;
  }
  bool AtEnd() override { return position_ >= content_.size(); }
  int64_t Tell() override { return position_; }
  int32_t Write(const void* buffer, int32_t n) override {
    if (failAfter_ >= 0 && writes_ >= failAfter_) return n - 1;
    ++writes_;
    content_.insert(position_, static_cast<const char*>(buffer), n);
    position_ += n;
    return n;
  }
  int32_t Flush() override { return 0; }

  std::string content_;
  size_t position_ = 0;
  int32_t piece_;
  int reads_ = 0;
  int writes_ = 0;
  int failAfter_ = -1;
};

std::string Hex(const uint8_t digest[16]) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (int i = 0; i < 16; ++i) {
    text += kDigits[digest[i] >> 4];
    text += kDigits[digest[i] & 15];
  }
  return text;
}

TEST(ReadLineTest, LongLineIsSplitAtTheBufferSize) {
  std::string line(1999, 'x');
  line += '\n';
  Owned<StringFile> file(new StringFile(line + "next\n"));
  char buffer[1024];
  EXPECT_EQ(file->ReadLine(buffer, sizeof(buffer)), 1023);
  EXPECT_EQ(std::strlen(buffer), 1023u);
  EXPECT_EQ(std::strchr(buffer, '\n'), nullptr);
  // The next call continues the same line, up to and including its '\n'.
  EXPECT_EQ(file->ReadLine(buffer, sizeof(buffer)), 2000 - 1023);
  EXPECT_EQ(std::string(buffer), std::string(2000 - 1023 - 1, 'x') + "\n");
  EXPECT_EQ(file->ReadLine(buffer, sizeof(buffer)), 5);
  EXPECT_STREQ(buffer, "next\n");
}

TEST(ReadLineTest, LastLineWithoutNewlineThenEmpty) {
  Owned<StringFile> file(new StringFile("one\r\ntwo"));
  char buffer[64];
  EXPECT_EQ(file->ReadLine(buffer, sizeof(buffer)), 5);
  EXPECT_STREQ(buffer, "one\r\n");  // '\r' is kept
  EXPECT_EQ(file->ReadLine(buffer, sizeof(buffer)), 3);
  EXPECT_STREQ(buffer, "two");
  std::memset(buffer, 'z', sizeof(buffer));
  EXPECT_EQ(file->ReadLine(buffer, sizeof(buffer)), 0);
  EXPECT_STREQ(buffer, "");
}

TEST(ReadLineTest, TinyBufferStoresEmptyTextAndReadsNothing) {
  Owned<StringFile> file(new StringFile("abc\n"));
  char buffer[2] = {'q', 'q'};
  EXPECT_EQ(file->ReadLine(buffer, 1), 0);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(file->Tell(), 0);
  EXPECT_EQ(file->ReadLine(buffer, 2), 1);
  EXPECT_STREQ(buffer, "a");
}

TEST(DigestTest, EmptyContentIsMd5OfNothing) {
  Owned<StringFile> file(new StringFile(""));
  uint8_t digest[16];
  ASSERT_EQ(file->Digest(digest), 0);
  EXPECT_EQ(Hex(digest), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(DigestTest, StartsFromTheBeginningAndReadsEveryPiece) {
  // RFC 1321 test vector, read back 7 bytes at a time from a moved position.
  Owned<StringFile> file(new StringFile(
      "12345678901234567890123456789012345678901234567890123456789012345678901234567890", 7));
  file->Seek(30, 0);
  uint8_t digest[16];
  ASSERT_EQ(file->Digest(digest), 0);
  EXPECT_EQ(Hex(digest), "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(WriteRepeatedTest, WritesCountCopiesAndStopsAtShortWrite) {
  Owned<StringFile> file(new StringFile(""));
  EXPECT_EQ(file->WriteRepeated("ab", 2, 3), 6);
  EXPECT_EQ(file->content_, "ababab");
  file->failAfter_ = file->writes_ + 1;
  EXPECT_EQ(file->WriteRepeated("cd", 2, 5), -1);
  EXPECT_EQ(file->WriteRepeated("cd", 2, 0), 0);
}

TEST(ListingEntryTest, NameThatDoesNotFitIsRefused) {
  ListingEntry entry;
  ASSERT_TRUE(SetListingName(&entry, "short"));
  std::string longest(262, 'n');
  EXPECT_TRUE(SetListingName(&entry, longest.c_str()));
  EXPECT_EQ(std::strlen(entry.name), 262u);
  std::string tooLong(263, 'm');
  EXPECT_FALSE(SetListingName(&entry, tooLong.c_str()));
  EXPECT_EQ(std::string(entry.name), longest);  // unchanged
}

}  // namespace
}  // namespace marrowgate
