#include "transfer/copy_source.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "package/file/memory_file.h"

namespace marrowgate {
namespace {

// A file whose reading ends before the size it gives, as a file read from
// a stale end-of-file state or cut short under the copy does.
class ShortFile : public MemoryFile {
 public:
  ShortFile(std::vector<uint8_t> bytes, int32_t claimed)
      : MemoryFile(std::move(bytes)), claimed_(claimed) {}
  int32_t Size() override { return claimed_; }

 private:
  int32_t claimed_;
};

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// Pumps `file`; the bytes handed on in `out`.
int PumpOf(VirtualFile* file, std::string* out, uint8_t digest[16]) {
  CopySource source;
  source.Adopt(Owned<VirtualFile>(file));
  std::vector<char> buffer(4);
  return source.Pump(
      &buffer, nullptr,
      [&](const uint8_t* bytes, size_t n) {
        out->append(reinterpret_cast<const char*>(bytes), n);
        return true;
      },
      digest);
}

TEST(CopySourceTest, APlainFileIsCopiedWholeOrNotAtAll) {
  const std::string text = "a plain file of some bytes";
  uint8_t digest[16];
  std::string out;
  ASSERT_EQ(PumpOf(new MemoryFile(Bytes(text)), &out, digest), CopySource::kPumped);
  EXPECT_EQ(out, text);
  uint8_t expected[16];
  Md5Digest(text.data(), text.size(), expected);
  EXPECT_EQ(std::memcmp(digest, expected, 16), 0);

  // Reading that ends early (or runs past the size) is a read failure,
  // never a shorter copy reported as done.
  const int32_t size = static_cast<int32_t>(text.size());
  for (int32_t claimed : {size + 1, size - 1}) {
    SCOPED_TRACE(claimed);
    out.clear();
    EXPECT_EQ(PumpOf(new ShortFile(Bytes(text), claimed), &out, digest), CopySource::kReadFailed);
  }
  out.clear();
  EXPECT_EQ(PumpOf(new ShortFile({}, 10), &out, digest), CopySource::kReadFailed);
}

}  // namespace
}  // namespace marrowgate
