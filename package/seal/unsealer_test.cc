#include "package/seal/unsealer.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "keys/block_cipher_object.h"
#include "package/seal/seal_layout.h"
#include "package/file/memory_file.h"
#include "package/testing/content_testing.h"
#include "package/seal/sealed_file.h"
#include "package/testing/cipher_testing.h"
#include "util/releaser.h"

namespace marrowgate {
namespace {

constexpr size_t kSlice = Unsealer::kSliceSize;

// A file over another that counts and bounds the reads made of it, and can
// fail every read after a number of bytes.
class CountingFile : public VirtualFile {
 public:
  explicit CountingFile(VirtualFile* inner) : inner_(inner) {}
  int32_t Size() override { return reportedSize_ != 0 ? reportedSize_ : inner_->Size(); }
  int32_t GetTime() override { return inner_->GetTime(); }
  int32_t SetTime(int32_t s) override { return inner_->SetTime(s); }
  int32_t Read(void* buffer, int32_t n) override {
    ++reads_;
    largest_ = std::max(largest_, n);
    if (failAfter_ >= 0 && Tell() + n > failAfter_) return -10;
    return inner_->Read(buffer, n);
  }
  int32_t Seek(int64_t offset, int origin) override { return inner_->Seek(offset, origin); }
  bool AtEnd() override { return inner_->AtEnd(); }
  int64_t Tell() override { return inner_->Tell(); }
  int32_t Write(const void* buffer, int32_t n) override { return inner_->Write(buffer, n); }
  int32_t Flush() override { return 0; }

  int reads_ = 0;
  int32_t largest_ = 0;
  int64_t failAfter_ = -1;
  // A size to report instead of the inner file's (0: its own).
  int32_t reportedSize_ = 0;

 private:
  VirtualFile* inner_;
};

enum class Cipher { kNone, kA, kB };

class UnsealerTest : public ::testing::Test {
 protected:
  UnsealerTest() : codec_(CreateZlibCodec()) {
    // The package ciphers: rolling DES, two keys with different steps.
    aEnc_.reset(new BlockCipherObject(3));
    aDec_.reset(new BlockCipherObject(3));
    bEnc_.reset(new BlockCipherObject(7));
    bDec_.reset(new BlockCipherObject(7));
    const std::string a = "first key, three blocks!", b = "second key of the package, longer";
    EXPECT_EQ(1, aEnc_->SetEncryptKey(a.data(), static_cast<int32_t>(a.size())));
    EXPECT_EQ(1, aDec_->SetDecryptKey(a.data(), static_cast<int32_t>(a.size())));
    EXPECT_EQ(1, bEnc_->SetEncryptKey(b.data(), static_cast<int32_t>(b.size())));
    EXPECT_EQ(1, bDec_->SetDecryptKey(b.data(), static_cast<int32_t>(b.size())));
  }

  SealParams Params(int mode, VirtualFile* file, bool compress, Cipher cipher) {
    SealParams params;
    params.mode = mode;
    params.file = file;
    params.compressor = compress ? codec_.get() : nullptr;
    params.cipherADec = aDec_.get();
    params.cipherBDec = bDec_.get();
    if (cipher != Cipher::kNone) params.cipherAEnc = aEnc_.get();
    if (cipher == Cipher::kB) params.cipherBEnc = bEnc_.get();
    return params;
  }

  // The sealed stream of `plain`.
  std::vector<uint8_t> Seal(const std::vector<uint8_t>& plain, bool compress, Cipher cipher) {
    MemoryFile file;
    Owned<SealedFile> sealed(new SealedFile);
    EXPECT_EQ(0, sealed->Open(Params(kOpenCreate, &file, compress, cipher)));
    EXPECT_EQ(static_cast<int32_t>(plain.size()),
              sealed->Write(plain.data(), static_cast<int32_t>(plain.size())));
    EXPECT_EQ(0, sealed->Seal());
    return file.bytes();
  }

  // SealedFile's reading: its open code, or its read code, and the content.
  int ReadWhole(const std::vector<uint8_t>& stream, std::vector<uint8_t>* plain) {
    MemoryFile file(stream);
    Owned<SealedFile> sealed(new SealedFile);
    const int code = sealed->Open(Params(kOpenRead, &file, true, Cipher::kNone));
    if (code < 0) return code;
    plain->assign(static_cast<size_t>(sealed->Size()), 0);
    const int32_t read = sealed->Read(plain->data(), static_cast<int32_t>(plain->size()));
    if (read < 0) return read;
    uint8_t more;
    return sealed->Read(&more, 1);  // the digest check at the end
  }

  int Unseal(Unsealer* unsealer, const std::vector<uint8_t>& stream, std::vector<uint8_t>* plain,
             VirtualFile* through = nullptr) {
    MemoryFile file(stream);
    plain->clear();
    return unsealer->Unseal(
        Params(kOpenRead, through != nullptr ? through : &file, true, Cipher::kNone),
        [&](const uint8_t* bytes, size_t n) {
          plain->insert(plain->end(), bytes, bytes + n);
          return true;
        });
  }

  Owned<ZlibCodec> codec_;
  Owned<CipherObject> aEnc_, aDec_, bEnc_, bDec_;
};

// Every way of sealing, sizes around the cipher block and the slice: the
// same content and result as SealedFile.
TEST_F(UnsealerTest, MatchesSealedFileForEveryWayOfSealing) {
  std::vector<size_t> sizes = {0, 1, 5, 8, 13, 4096 + 3, kSlice - 1};
  for (size_t base : {kSlice, 2 * kSlice})
    for (size_t tail : {0, 1, 3, 7}) sizes.push_back(base + tail);
  uint32_t seed = 1;
  for (size_t size : sizes) {
    for (bool compress : {false, true}) {
      for (Cipher cipher : {Cipher::kNone, Cipher::kA, Cipher::kB}) {
        // Text-like content is stored compressed, noise as it is.
        const std::vector<uint8_t> plain =
            (++seed % 2 == 0) ? TextBytes(size, seed) : NoiseBytes(size, seed);
        const std::vector<uint8_t> stream = Seal(plain, compress, cipher);
        SealHeader header;
        ASSERT_TRUE(DecodeSealHeader(stream.data(), &header));
        SCOPED_TRACE(testing::Message() << "size " << size << " flags " << int(header.flags)
                                        << " stored " << header.storedSize);
        std::vector<uint8_t> reference;
        ASSERT_EQ(0, ReadWhole(stream, &reference));
        ASSERT_EQ(reference, plain);
        Unsealer unsealer;
        std::vector<uint8_t> got;
        ASSERT_EQ(0, Unseal(&unsealer, stream, &got));
        EXPECT_TRUE(got == plain);
      }
    }
  }
}

// The stored bytes of a long enciphered item whose length leaves every
// tail length after the last whole block, deciphered in slices.
TEST_F(UnsealerTest, EveryTailLengthAfterSlices) {
  for (size_t tail = 0; tail < 8; ++tail) {
    const std::vector<uint8_t> plain = NoiseBytes(kSlice + 8 * 3 + tail, static_cast<uint32_t>(tail));
    for (Cipher cipher : {Cipher::kA, Cipher::kB}) {
      const std::vector<uint8_t> stream = Seal(plain, false, cipher);
      Unsealer unsealer;
      std::vector<uint8_t> got;
      ASSERT_EQ(0, Unseal(&unsealer, stream, &got)) << "tail " << tail;
      EXPECT_TRUE(got == plain) << "tail " << tail;
    }
  }
}

TEST_F(UnsealerTest, FlippedStoredByteIsFoundAtTheEnd) {
  const std::vector<uint8_t> plain = NoiseBytes(3 * kSlice + 5, 9);
  std::vector<uint8_t> stream = Seal(plain, true, Cipher::kB);
  SealHeader header;
  ASSERT_TRUE(DecodeSealHeader(stream.data(), &header));
  ASSERT_EQ(0, header.flags & kSealCompressed);  // noise is stored as it is
  stream[kSealHeaderSize + kSlice + 100] ^= 0x20;
  std::vector<uint8_t> reference;
  EXPECT_EQ(kSealDigestMismatch, ReadWhole(stream, &reference));
  Unsealer unsealer;
  std::vector<uint8_t> got;
  EXPECT_EQ(kSealDigestMismatch, Unseal(&unsealer, stream, &got));
  // Every byte went to the sink before the end told the item is damaged.
  EXPECT_EQ(got.size(), plain.size());
}

TEST_F(UnsealerTest, DamagedCompressedItemFails) {
  const std::vector<uint8_t> plain = TextBytes(3 * kSlice, 4);
  const std::vector<uint8_t> good = Seal(plain, true, Cipher::kNone);
  SealHeader header;
  ASSERT_TRUE(DecodeSealHeader(good.data(), &header));
  ASSERT_NE(0, header.flags & kSealCompressed);
  for (size_t at : {size_t{1}, size_t{header.storedSize / 2}, size_t{header.storedSize - 2}}) {
    std::vector<uint8_t> stream = good;
    stream[kSealHeaderSize + at] ^= 0x55;
    Unsealer unsealer;
    std::vector<uint8_t> got;
    EXPECT_LT(Unseal(&unsealer, stream, &got), 0) << "byte " << at;
    std::vector<uint8_t> reference;
    EXPECT_LT(ReadWhole(stream, &reference), 0) << "byte " << at;
  }
}

TEST_F(UnsealerTest, TruncatedOrUnreadableItemIsShortContent) {
  const std::vector<uint8_t> plain = NoiseBytes(2 * kSlice + 3, 5);
  const std::vector<uint8_t> stream = Seal(plain, false, Cipher::kA);
  std::vector<uint8_t> cut(stream.begin(), stream.end() - 1);
  std::vector<uint8_t> reference, got;
  EXPECT_EQ(kSealShortContent, ReadWhole(cut, &reference));
  Unsealer unsealer;
  EXPECT_EQ(kSealShortContent, Unseal(&unsealer, cut, &got));
  EXPECT_TRUE(got.empty());
  // A read failing midway.
  MemoryFile file(stream);
  CountingFile failing(&file);
  failing.failAfter_ = static_cast<int64_t>(kSlice + 1000);
  EXPECT_EQ(kSealShortContent, Unseal(&unsealer, stream, &got, &failing));
  EXPECT_EQ(got.size(), kSlice);
}

// An item's file of 2 GiB or more reports its size through the signed
// 32-bit Size() as a negative number: it is read as the unsigned size the
// format stores, so items up to 4 GiB - 1 unseal.
TEST_F(UnsealerTest, FileSizesBeyondTwoGibibytesAreUnsigned) {
  const std::vector<uint8_t> plain = TextBytes(5000, 12);
  const std::vector<uint8_t> stream = Seal(plain, true, Cipher::kA);
  MemoryFile file(stream);
  CountingFile large(&file);
  large.reportedSize_ = static_cast<int32_t>(uint32_t{3} << 30);
  ASSERT_LT(large.Size(), 0);
  Unsealer unsealer;
  std::vector<uint8_t> got;
  EXPECT_EQ(0, Unseal(&unsealer, stream, &got, &large));
  EXPECT_TRUE(got == plain);
}

// A compressed stream with no stored bytes is empty content, as for the
// codec (no writer makes one, but readers agree on it).
TEST_F(UnsealerTest, CompressedWithoutStoredBytesIsEmpty) {
  std::vector<uint8_t> stream = Seal({}, false, Cipher::kNone);
  SealHeader header;
  ASSERT_TRUE(DecodeSealHeader(stream.data(), &header));
  header.flags |= kSealCompressed;
  EncodeSealHeader(header, stream.data());
  std::vector<uint8_t> reference, got{1};
  EXPECT_EQ(0, ReadWhole(stream, &reference));
  Unsealer unsealer;
  EXPECT_EQ(0, Unseal(&unsealer, stream, &got));
  EXPECT_TRUE(got.empty());
}

TEST_F(UnsealerTest, HeaderProblemsHaveSealedFileCodes) {
  const std::vector<uint8_t> text = TextBytes(5000, 2);
  Unsealer unsealer;
  std::vector<uint8_t> got;
  // Short header, bad header.
  EXPECT_EQ(kSealShortHeader, Unseal(&unsealer, std::vector<uint8_t>(20), &got));
  std::vector<uint8_t> bad = Seal(text, true, Cipher::kNone);
  bad[0] ^= 0xFF;
  std::vector<uint8_t> reference;
  EXPECT_EQ(ReadWhole(bad, &reference), Unseal(&unsealer, bad, &got));
  // No cipher, no codec.
  const std::vector<uint8_t> enciphered = Seal(text, true, Cipher::kB);
  MemoryFile file(enciphered);
  SealParams params = Params(kOpenRead, &file, true, Cipher::kNone);
  params.cipherBDec = nullptr;
  EXPECT_EQ(kSealNoCipher, unsealer.Unseal(params, [](const uint8_t*, size_t) { return true; }));
  params = Params(kOpenRead, &file, false, Cipher::kNone);
  EXPECT_EQ(kSealNoCodec, unsealer.Unseal(params, [](const uint8_t*, size_t) { return true; }));
  // A plain size the stored bytes could never inflate to.
  std::vector<uint8_t> claim = Seal(text, true, Cipher::kNone);
  SealHeader header;
  ASSERT_TRUE(DecodeSealHeader(claim.data(), &header));
  header.plainSize = 0xFFFFFFF0u;
  EncodeSealHeader(header, claim.data());
  EXPECT_EQ(kSealWrongPlainSize, Unseal(&unsealer, claim, &got));
  EXPECT_TRUE(got.empty());
  // A plain size one more or one less than the content.
  for (int64_t delta : {-1, 1}) {
    std::vector<uint8_t> off = Seal(text, true, Cipher::kNone);
    ASSERT_TRUE(DecodeSealHeader(off.data(), &header));
    header.plainSize = static_cast<uint32_t>(header.plainSize + delta);
    EncodeSealHeader(header, off.data());
    EXPECT_EQ(kSealWrongPlainSize, Unseal(&unsealer, off, &got)) << delta;
    EXPECT_EQ(ReadWhole(off, &reference), kSealWrongPlainSize);
  }
}

TEST_F(UnsealerTest, SinkCanStopIt) {
  const std::vector<uint8_t> stream = Seal(TextBytes(3 * kSlice, 8), true, Cipher::kA);
  MemoryFile file(stream);
  Unsealer unsealer;
  int calls = 0;
  EXPECT_EQ(kUnsealSinkFailed, unsealer.Unseal(Params(kOpenRead, &file, true, Cipher::kNone),
                                               [&](const uint8_t*, size_t) { return ++calls < 2; }));
  EXPECT_EQ(calls, 2);
}

// Memory does not follow the item's size: the stored bytes are read in
// slices, and the buffers stay at a few slices.
TEST_F(UnsealerTest, ReadsInSlicesWithBoundedBuffers) {
  std::vector<uint8_t> plain = TextBytes(6 * kSlice, 3);
  const std::vector<uint8_t> noise = NoiseBytes(6 * kSlice, 3);
  plain.insert(plain.end(), noise.begin(), noise.end());
  for (bool compress : {true, false}) {
    const std::vector<uint8_t> stream = Seal(plain, compress, Cipher::kB);
    MemoryFile file(stream);
    CountingFile counting(&file);
    Unsealer unsealer;
    size_t total = 0;
    ASSERT_EQ(0, unsealer.Unseal(Params(kOpenRead, &counting, true, Cipher::kNone),
                                 [&](const uint8_t*, size_t n) {
                                   EXPECT_LE(n, kSlice);
                                   total += n;
                                   return true;
                                 }));
    EXPECT_EQ(total, plain.size());
    EXPECT_LE(counting.largest_, static_cast<int32_t>(kSlice));
    EXPECT_GE(counting.reads_, static_cast<int>((stream.size() - kSealHeaderSize) / kSlice));
    EXPECT_LE(unsealer.buffer_bytes(), 3 * kSlice);
  }
}

// A cipher that takes only whole messages still works: its stored bytes
// are held whole for the time of the call, then let go.
TEST_F(UnsealerTest, CipherWithoutPiecesTakesTheWholeMessage) {
  XorTestCipher enc, dec;
  enc.SetEncryptKey("k", 1);
  dec.SetDecryptKey("k", 1);
  dec.set_pieces(false);
  const std::vector<uint8_t> plain = NoiseBytes(2 * kSlice + 11, 6);
  MemoryFile file;
  {
    Owned<SealedFile> sealed(new SealedFile);
    SealParams params = Params(kOpenCreate, &file, false, Cipher::kNone);
    params.cipherAEnc = &enc;
    ASSERT_EQ(0, sealed->Open(params));
    sealed->Write(plain.data(), static_cast<int32_t>(plain.size()));
  }
  SealParams params = Params(kOpenRead, &file, false, Cipher::kNone);
  params.cipherADec = &dec;
  Unsealer unsealer;
  std::vector<uint8_t> got;
  ASSERT_EQ(0, unsealer.Unseal(params, [&](const uint8_t* bytes, size_t n) {
    got.insert(got.end(), bytes, bytes + n);
    return true;
  }));
  EXPECT_TRUE(got == plain);
  EXPECT_LE(unsealer.buffer_bytes(), 3 * kSlice);
}

}  // namespace
}  // namespace marrowgate
