#include "package/seal/zlib_codec.h"

#include <zlib.h>

#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "util/releaser.h"

namespace marrowgate {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes TextLike(size_t n, uint32_t seed) {
  static const char* const kWords[] = {"alpha ", "patch ", "data/", "\r\n", "=", "12 ", "key "};
  Bytes out;
  std::mt19937 random(seed);
  while (out.size() < n) {
    const char* word = kWords[random() % 7];
    out.insert(out.end(), word, word + std::strlen(word));
  }
  out.resize(n);
  return out;
}

Bytes Noise(size_t n, uint32_t seed) {
  Bytes out(n);
  std::mt19937 random(seed);
  for (uint8_t& b : out) b = static_cast<uint8_t>(random());
  return out;
}

// Compresses with `codec`; room for any stream of the input.
Bytes Pack(ZlibCodec* codec, const Bytes& plain) {
  Bytes packed(plain.size() + plain.size() / 100 + 64);
  int32_t length = static_cast<int32_t>(packed.size());
  static const uint8_t kNothing = 0;  // an empty input that is not a null source
  EXPECT_EQ(0, codec->Compress(plain.empty() ? &kNothing : plain.data(), static_cast<int32_t>(plain.size()), packed.data(),
                               &length));
  packed.resize(static_cast<size_t>(length));
  return packed;
}

// Inflates with `codec` into exactly `capacity` bytes of room.
int Unpack(ZlibCodec* codec, const Bytes& packed, size_t capacity, Bytes* plain) {
  plain->assign(capacity, 0);
  int32_t length = static_cast<int32_t>(capacity);
  const int code = codec->Decompress(packed.data(), static_cast<int32_t>(packed.size()),
                                     plain->data(), &length);
  if (code == 0) plain->resize(static_cast<size_t>(length));
  return code;
}

Bytes SystemInflate(const Bytes& packed, size_t plainSize) {
  Bytes out(plainSize + 1);
  uLongf length = static_cast<uLongf>(out.size());
  EXPECT_EQ(Z_OK, uncompress(out.data(), &length, packed.data(), static_cast<uLong>(packed.size())));
  out.resize(length);
  return out;
}

class ZlibEnginesTest : public ::testing::Test {
 protected:
  Owned<ZlibCodec> fast_{CreateZlibCodec()};
  Owned<ZlibCodec> reference_{CreateReferenceZlibCodec()};
  std::vector<Bytes> Samples() {
    std::vector<Bytes> samples = {Bytes(), Bytes(1, 'x'), TextLike(100, 1), TextLike(70000, 2),
                                  Noise(5000, 3), Noise(200000, 4), Bytes(300000, 0)};
    Bytes mixed = TextLike(90000, 5);
    const Bytes noise = Noise(90000, 6);
    mixed.insert(mixed.end(), noise.begin(), noise.end());
    samples.push_back(mixed);
    return samples;
  }
};

TEST_F(ZlibEnginesTest, EachInflatesWhatTheOtherWrote) {
  for (const Bytes& plain : Samples()) {
    SCOPED_TRACE(plain.size());
    const Bytes byFast = Pack(fast_.get(), plain);
    const Bytes byReference = Pack(reference_.get(), plain);
    Bytes back;
    ASSERT_EQ(0, Unpack(reference_.get(), byFast, plain.size() + 1, &back));
    EXPECT_EQ(back, plain);
    ASSERT_EQ(0, Unpack(fast_.get(), byReference, plain.size() + 1, &back));
    EXPECT_EQ(back, plain);
    ASSERT_EQ(0, Unpack(fast_.get(), byFast, plain.size() + 1, &back));
    EXPECT_EQ(back, plain);
    EXPECT_EQ(SystemInflate(byFast, plain.size()), plain);
    ASSERT_GE(byFast.size(), 2u);
    EXPECT_EQ(byFast[0], 0x78);  // deflate, 2^15 window
    EXPECT_EQ((byFast[0] * 256 + byFast[1]) % 31, 0);
  }
}

TEST_F(ZlibEnginesTest, LevelSixSizeStaysCloseToTheReferenceOnMixedItems) {
  Bytes plain = TextLike(1 << 20, 9);
  const Bytes noise = Noise(1 << 20, 10);
  plain.insert(plain.end(), noise.begin(), noise.end());
  const Bytes byFast = Pack(fast_.get(), plain);
  const Bytes byReference = Pack(reference_.get(), plain);
  EXPECT_LE(byFast.size(), byReference.size() + byReference.size() / 50);
}

TEST_F(ZlibEnginesTest, UncompressibleDataIsStoredAndAnythingThatShrinksIsDeflated) {
  // Noise is written in stored blocks: two header bytes, five per block of
  // at most 65535 bytes, the four-byte check.
  for (size_t n : {size_t{9000}, size_t{65535}, size_t{200000}}) {
    SCOPED_TRACE(n);
    const Bytes noise = Noise(n, static_cast<uint32_t>(n));
    const Bytes packed = Pack(fast_.get(), noise);
    EXPECT_EQ(packed.size(), n + 2 + 5 * ((n + 65534) / 65535) + 4);
    EXPECT_EQ(SystemInflate(packed, n), noise);
  }
  // Whatever shrinks somewhere is deflated: repeats of a noise block
  // (matches only at a distance), text behind 64 KiB of noise, noise with
  // text in the middle of its only segment.
  Bytes repeated;
  const Bytes block = Noise(4096, 21);
  while (repeated.size() < 100000) repeated.insert(repeated.end(), block.begin(), block.end());
  Bytes late = Noise(70000, 22);
  const Bytes text = TextLike(30000, 23);
  late.insert(late.end(), text.begin(), text.end());
  Bytes middle = Noise(20000, 24);
  const Bytes words = TextLike(20000, 25);
  middle.insert(middle.begin() + 6000, words.begin(), words.end());
  for (const Bytes* plain : {&repeated, &late, &middle}) {
    SCOPED_TRACE(plain->size());
    const Bytes packed = Pack(fast_.get(), *plain);
    EXPECT_LT(packed.size(), plain->size() - plain->size() / 8);
    EXPECT_EQ(SystemInflate(packed, plain->size()), *plain);
  }
  // The sealed stream's "store when not smaller" asks with a capacity of
  // the input's size: noise does not fit, text does.
  const Bytes noise = Noise(50000, 26);
  Bytes room(noise.size());
  int32_t length = static_cast<int32_t>(room.size());
  ASSERT_EQ(0, fast_->Compress(noise.data(), static_cast<int32_t>(noise.size()), room.data(),
                               &length));
  EXPECT_EQ(length, static_cast<int32_t>(noise.size()));
  length = static_cast<int32_t>(room.size());
  ASSERT_EQ(0, fast_->Compress(text.data(), static_cast<int32_t>(text.size()), room.data(),
                               &length));
  EXPECT_LT(length, static_cast<int32_t>(text.size()) / 2);
}

TEST_F(ZlibEnginesTest, OutputThatDoesNotFitFillsTheCapacityWithAValidStreamStart) {
  // Noise does not shrink: a capacity of its own size cannot hold the stream.
  const Bytes plain = Noise(150000, 11);
  for (int32_t capacity : {0, 1, 7, 11, 65540, 150000}) {
    SCOPED_TRACE(capacity);
    Bytes out(static_cast<size_t>(capacity) + 16, 0xEE);
    int32_t length = capacity;
    ASSERT_EQ(0, fast_->Compress(plain.data(), static_cast<int32_t>(plain.size()), out.data(),
                                 &length));
    EXPECT_EQ(length, capacity);
    EXPECT_EQ(out[static_cast<size_t>(capacity)], 0xEE);  // nothing past the capacity
    // The bytes written are the start of a stream that inflates to a prefix
    // of the input.
    if (capacity > 7) {
      z_stream stream{};
      ASSERT_EQ(Z_OK, inflateInit(&stream));
      Bytes partial(plain.size());
      stream.next_in = out.data();
      stream.avail_in = static_cast<uInt>(capacity);
      stream.next_out = partial.data();
      stream.avail_out = static_cast<uInt>(partial.size());
      EXPECT_EQ(Z_OK, inflate(&stream, Z_SYNC_FLUSH));
      EXPECT_EQ(0, std::memcmp(partial.data(), plain.data(), stream.total_out));
      inflateEnd(&stream);
    }
  }
  // With room enough, the stored form is a whole stream.
  const Bytes tiny = Noise(3, 12);
  Bytes out(3);
  int32_t length = 3;
  ASSERT_EQ(0, fast_->Compress(tiny.data(), 3, out.data(), &length));
  EXPECT_EQ(length, 3);
}

TEST_F(ZlibEnginesTest, InflatingPastTheCapacityStopsThere) {
  const Bytes plain = TextLike(50000, 13);
  const Bytes packed = Pack(fast_.get(), plain);
  for (size_t capacity : {size_t{0}, size_t{10}, size_t{49999}}) {
    Bytes back;
    ASSERT_EQ(0, Unpack(fast_.get(), packed, capacity, &back));
    ASSERT_EQ(back.size(), capacity);
    EXPECT_TRUE(std::equal(back.begin(), back.end(), plain.begin()));
  }
}

TEST_F(ZlibEnginesTest, DamagedStreamsGiveTheReferenceCodes) {
  const Bytes plain = TextLike(40000, 14);
  const Bytes packed = Pack(fast_.get(), plain);
  std::vector<Bytes> damaged;
  Bytes checksum = packed;
  checksum.back() ^= 0x55;
  damaged.push_back(checksum);
  Bytes header = packed;
  header[0] = 0;
  damaged.push_back(header);
  damaged.emplace_back(packed.begin(), packed.begin() + static_cast<long>(packed.size() / 2));
  Bytes trailing = packed;
  trailing.push_back(0x42);
  damaged.push_back(trailing);
  for (size_t offset = 2; offset < packed.size(); offset += 97) {
    Bytes flipped = packed;
    flipped[offset] ^= 0xA5;
    damaged.push_back(flipped);
  }
  for (const Bytes& stream : damaged) {
    Bytes fromFast, fromReference;
    const int fastCode = Unpack(fast_.get(), stream, plain.size() + 1, &fromFast);
    const int referenceCode = Unpack(reference_.get(), stream, plain.size() + 1, &fromReference);
    EXPECT_EQ(fastCode, referenceCode);
    if (fastCode == 0) {
      EXPECT_EQ(fromFast, fromReference);
    }
  }
  Bytes back;
  EXPECT_EQ(-15, Unpack(fast_.get(), checksum, plain.size() + 1, &back));
  EXPECT_EQ(-16, Unpack(fast_.get(), header, plain.size() + 1, &back));
}

TEST_F(ZlibEnginesTest, ArgumentChecks) {
  uint8_t out[8];
  int32_t length = 5;
  EXPECT_EQ(0, fast_->Compress(nullptr, 10, out, &length));
  EXPECT_EQ(length, 0);
  length = 5;
  EXPECT_EQ(0, fast_->Decompress(nullptr, 10, out, &length));
  EXPECT_EQ(length, 0);
  EXPECT_EQ(-13, fast_->Compress(out, 4, out, nullptr));
  length = 8;
  EXPECT_EQ(-13, fast_->Decompress(out, -1, out, &length));
  length = -1;
  EXPECT_EQ(-13, fast_->Compress(out, 4, out, &length));
  length = 8;
  EXPECT_EQ(-13, fast_->Compress(out, 4, nullptr, &length));
}

}  // namespace
}  // namespace marrowgate
