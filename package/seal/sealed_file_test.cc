#include "package/seal/sealed_file.h"

#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "package/seal/seal_layout.h"
#include "package/file/memory_file.h"
#include "package/testing/cipher_testing.h"
#include "util/byte_order.h"
#include "util/md5.h"
#include "util/releaser.h"

namespace marrowgate {
namespace {

const uint8_t kEmptyDigest[16] = {0xd4, 0x1d, 0x8c, 0xd9, 0x8f, 0x00, 0xb2, 0x04,
                                  0xe9, 0x80, 0x09, 0x98, 0xec, 0xf8, 0x42, 0x7e};

std::vector<uint8_t> TextLike(size_t n) {
  static const char kWords[] = "patch package folder item block chain sealed stream ";
  std::vector<uint8_t> out(n);
  for (size_t i = 0; i < n; ++i)
    out[i] = static_cast<uint8_t>(kWords[(i * 7 + i / 53) % (sizeof(kWords) - 1)]);
  return out;
}

std::vector<uint8_t> Noise(size_t n, uint32_t seed = 1) {
  std::vector<uint8_t> out(n);
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1664525u + 1013904223u;
    out[i] = static_cast<uint8_t>(seed >> 24);
  }
  return out;
}

// Inflates with the system zlib (an implementation independent of ours).
std::vector<uint8_t> SystemInflate(const uint8_t* data, size_t n, size_t plainSize) {
  std::vector<uint8_t> out(plainSize + 1);
  uLongf length = static_cast<uLongf>(out.size());
  EXPECT_EQ(Z_OK, uncompress(out.data(), &length, data, static_cast<uLong>(n)));
  out.resize(length);
  return out;
}

class SealedFileTest : public ::testing::Test {
 protected:
  SealedFileTest() : codec_(CreateZlibCodec()) {
    for (XorTestCipher* cipher : {&aEnc_, &aDec_}) cipher->SetEncryptKey("alpha", 5);
    for (XorTestCipher* cipher : {&bEnc_, &bDec_}) cipher->SetEncryptKey("bravo", 5);
  }

  SealParams Params(int mode, VirtualFile* file, bool compress, bool cipherA, bool cipherB) {
    SealParams params;
    params.mode = mode;
    params.file = file;
    params.compressor = compress ? codec_.get() : nullptr;
    if (cipherA) {
      params.cipherAEnc = &aEnc_;
      params.cipherADec = &aDec_;
    }
    if (cipherB) {
      params.cipherBEnc = &bEnc_;
      params.cipherBDec = &bDec_;
    }
    return params;
  }

  // Seals `plain` into `file` through a new stream.
  void Write(const SealParams& params, const std::vector<uint8_t>& plain) {
    Owned<SealedFile> sealed(new SealedFile);
    ASSERT_EQ(0, sealed->Open(params));
    ASSERT_EQ(static_cast<int32_t>(plain.size()),
              sealed->Write(plain.data(), static_cast<int32_t>(plain.size())));
  }

  // Unseals `file`: the open code and the content.
  int ReadBack(const SealParams& params, std::vector<uint8_t>* plain) {
    Owned<SealedFile> sealed(new SealedFile);
    const int code = sealed->Open(params);
    if (code < 0) return code;
    plain->assign(static_cast<size_t>(sealed->Size()), 0);
    if (!plain->empty()) {
      EXPECT_EQ(sealed->Size(), sealed->Read(plain->data(), sealed->Size()));
    }
    EXPECT_TRUE(sealed->AtEnd());
    return 0;
  }

  static SealHeader HeaderOf(const MemoryFile& file) {
    SealHeader header;
    EXPECT_GE(file.bytes().size(), static_cast<size_t>(kSealHeaderSize));
    EXPECT_TRUE(DecodeSealHeader(file.bytes().data(), &header));
    return header;
  }

  Owned<ZlibCodec> codec_;
  XorTestCipher aEnc_, aDec_, bEnc_, bDec_;
};

struct Combination {
  bool compress;
  bool cipherA;
  bool cipherB;
  uint8_t flags;  // expected for compressible content
};

TEST_F(SealedFileTest, RoundTripsEveryCodecCombination) {
  const Combination combinations[] = {
      {false, false, false, 0}, {true, false, false, 1}, {false, true, false, 2},
      {true, true, false, 3},   {true, true, true, 7},   {false, true, true, 6},
      // Cipher B alone enciphers too (bit 2 is meaningless without bit 1).
      {true, false, true, 7},   {false, false, true, 6},
  };
  const std::vector<uint8_t> plain = TextLike(50000);
  uint8_t digest[16];
  Md5Digest(plain.data(), plain.size(), digest);
  for (const Combination& c : combinations) {
    SCOPED_TRACE(testing::Message() << "flags " << int(c.flags));
    MemoryFile file;
    Write(Params(kOpenCreate, &file, c.compress, c.cipherA, c.cipherB), plain);
    const SealHeader header = HeaderOf(file);
    EXPECT_EQ(header.flags, c.flags);
    EXPECT_EQ(header.plainSize, plain.size());
    EXPECT_EQ(file.bytes().size(), kSealHeaderSize + header.storedSize);
    EXPECT_EQ(0, std::memcmp(header.digest, digest, 16));
    if (c.compress) EXPECT_LT(header.storedSize, plain.size() / 4);
    else EXPECT_EQ(header.storedSize, plain.size());
    const uint8_t* stored = file.bytes().data() + kSealHeaderSize;
    if (c.cipherA || c.cipherB) {
      // Enciphered bytes are neither the plain text nor (when compressed) a
      // zlib stream with a valid header.
      if (!c.compress) {
        EXPECT_NE(0, std::memcmp(stored, plain.data(), plain.size()));
      }
    } else if (c.compress) {
      EXPECT_EQ(SystemInflate(stored, header.storedSize, plain.size()), plain);
    } else {
      EXPECT_EQ(0, std::memcmp(stored, plain.data(), plain.size()));
    }
    std::vector<uint8_t> back;
    ASSERT_EQ(0, ReadBack(Params(kOpenRead, &file, c.compress, c.cipherA, c.cipherB), &back));
    EXPECT_EQ(back, plain);
  }
}

TEST_F(SealedFileTest, DecipheredCompressedBytesInflateWithSystemZlib) {
  const std::vector<uint8_t> plain = TextLike(20000);
  MemoryFile file;
  Write(Params(kOpenCreate, &file, true, true, false), plain);
  const SealHeader header = HeaderOf(file);
  std::vector<uint8_t> stored(file.bytes().begin() + kSealHeaderSize, file.bytes().end());
  aDec_.ResetChain();
  ASSERT_EQ(0, aDec_.Decrypt(stored.data(), static_cast<int32_t>(stored.size()), stored.data()));
  EXPECT_EQ(SystemInflate(stored.data(), stored.size(), header.plainSize), plain);
}

TEST_F(SealedFileTest, IncompressibleContentIsStoredPlain) {
  const std::vector<uint8_t> plain = Noise(10000);
  MemoryFile file;
  Write(Params(kOpenCreate, &file, true, true, false), plain);
  const SealHeader header = HeaderOf(file);
  EXPECT_EQ(header.flags, kSealEnciphered);
  EXPECT_EQ(header.storedSize, header.plainSize);
  std::vector<uint8_t> back;
  ASSERT_EQ(0, ReadBack(Params(kOpenRead, &file, true, true, false), &back));
  EXPECT_EQ(back, plain);
}

TEST_F(SealedFileTest, EmptyStream) {
  MemoryFile file;
  {
    Owned<SealedFile> sealed(new SealedFile);
    ASSERT_EQ(0, sealed->Open(Params(kOpenCreate, &file, true, true, false)));
  }
  ASSERT_EQ(file.bytes().size(), static_cast<size_t>(kSealHeaderSize));
  const SealHeader header = HeaderOf(file);
  EXPECT_EQ(header.plainSize, 0u);
  EXPECT_EQ(header.storedSize, 0u);
  EXPECT_EQ(header.flags, kSealEnciphered);
  EXPECT_EQ(0, std::memcmp(header.digest, kEmptyDigest, 16));
  std::vector<uint8_t> back{1};
  ASSERT_EQ(0, ReadBack(Params(kOpenRead, &file, true, true, false), &back));
  EXPECT_TRUE(back.empty());
}

TEST_F(SealedFileTest, RawModeYieldsHeaderAndStoredBytes) {
  MemoryFile file;
  Write(Params(kOpenCreate, &file, true, true, false), TextLike(3000));
  std::vector<uint8_t> raw;
  ASSERT_EQ(0, ReadBack(Params(kOpenRaw, &file, false, false, false), &raw));
  EXPECT_EQ(raw, file.bytes());
  Owned<SealedFile> sealed(new SealedFile);
  ASSERT_EQ(0, sealed->Open(Params(kOpenRaw, &file, false, false, false)));
  EXPECT_EQ(-1, sealed->Write("x", 1));
}

TEST_F(SealedFileTest, ReadModeRefusesWritesAndChangesNothing) {
  MemoryFile file;
  Write(Params(kOpenCreate, &file, true, false, false), TextLike(3000));
  const std::vector<uint8_t> before = file.bytes();
  {
    Owned<SealedFile> sealed(new SealedFile);
    ASSERT_EQ(0, sealed->Open(Params(kOpenRead, &file, true, false, false)));
    EXPECT_EQ(-1, sealed->Write("abc", 3));
    EXPECT_EQ(3000, sealed->Size());
    // Seeking past the end of a read-only stream stops at the end.
    EXPECT_EQ(0, sealed->Seek(5000, 0));
    EXPECT_EQ(3000, sealed->Tell());
    EXPECT_EQ(-1, sealed->Flush());
  }
  EXPECT_EQ(file.bytes(), before);
}

TEST_F(SealedFileTest, ReleaseWithoutWritesLeavesBytesUntouched) {
  MemoryFile file;
  Write(Params(kOpenCreate, &file, true, true, false), TextLike(3000));
  const std::vector<uint8_t> before = file.bytes();
  {
    Owned<SealedFile> sealed(new SealedFile);
    ASSERT_EQ(0, sealed->Open(Params(kOpenUpdate, &file, true, true, false)));
    char piece[100];
    EXPECT_EQ(100, sealed->Read(piece, 100));
    EXPECT_EQ(0, sealed->SetTime(12345));
  }
  EXPECT_EQ(file.bytes(), before);
}

TEST_F(SealedFileTest, SeekPastEndInUpdateModeGrowsContent) {
  MemoryFile file;
  Write(Params(kOpenCreate, &file, true, false, false), TextLike(100));
  {
    Owned<SealedFile> sealed(new SealedFile);
    ASSERT_EQ(0, sealed->Open(Params(kOpenUpdate, &file, true, false, false)));
    ASSERT_EQ(0, sealed->Seek(200, 0));
    EXPECT_EQ(200, sealed->Size());
    EXPECT_EQ(4, sealed->Write("tail", 4));
    EXPECT_EQ(204, sealed->Size());
    // A negative target becomes 0.
    EXPECT_EQ(0, sealed->Seek(-1000, 1));
    EXPECT_EQ(0, sealed->Tell());
    EXPECT_EQ(-1, sealed->Seek(0, 7));
  }
  std::vector<uint8_t> back;
  ASSERT_EQ(0, ReadBack(Params(kOpenRead, &file, true, false, false), &back));
  ASSERT_EQ(back.size(), 204u);
  std::vector<uint8_t> expected = TextLike(100);
  expected.resize(200, 0);
  expected.insert(expected.end(), {'t', 'a', 'i', 'l'});
  EXPECT_EQ(back, expected);
  EXPECT_EQ(HeaderOf(file).plainSize, 204u);
}

TEST_F(SealedFileTest, HugeSeekOffsetsAreRefusedOrClamped) {
  MemoryFile file;
  Write(Params(kOpenCreate, &file, false, false, false), TextLike(100));
  {
    Owned<SealedFile> sealed(new SealedFile);
    ASSERT_EQ(0, sealed->Open(Params(kOpenRead, &file, false, false, false)));
    ASSERT_EQ(0, sealed->Seek(5, 0));
    EXPECT_EQ(0, sealed->Seek(INT64_MAX, 1));  // read-only: stops at the end
    EXPECT_EQ(sealed->Tell(), 100);
  }
  Owned<SealedFile> sealed(new SealedFile);
  ASSERT_EQ(0, sealed->Open(Params(kOpenUpdate, &file, false, false, false)));
  EXPECT_EQ(-1, sealed->Seek(INT64_MAX, 2));
  EXPECT_EQ(sealed->Size(), 100);
}

TEST_F(SealedFileTest, UpdateRecompressesAfterAnIncompressibleVersion) {
  MemoryFile file;
  Write(Params(kOpenCreate, &file, true, false, false), Noise(4000));
  EXPECT_EQ(HeaderOf(file).flags, 0);
  {
    Owned<SealedFile> sealed(new SealedFile);
    ASSERT_EQ(0, sealed->Open(Params(kOpenUpdate, &file, true, false, false)));
    const std::vector<uint8_t> text = TextLike(4000);
    ASSERT_EQ(4000, sealed->Write(text.data(), 4000));
  }
  EXPECT_EQ(HeaderOf(file).flags, kSealCompressed);
}

TEST_F(SealedFileTest, SealFailureAtReleaseIsReported) {
  MemoryFile file;
  file.set_capacity_limit(20);
  int reported = 0;
  {
    Owned<SealedFile> sealed(new SealedFile);
    SealParams params = Params(kOpenCreate, &file, false, false, false);
    params.sealFailed = [&reported](int code) { reported = code; };
    ASSERT_EQ(0, sealed->Open(params));
    EXPECT_EQ(3, sealed->Write("abc", 3));
  }
  EXPECT_EQ(reported, -11);

  MemoryFile roomy;
  roomy.set_capacity_limit(50);
  Owned<SealedFile> sealed(new SealedFile);
  ASSERT_EQ(0, sealed->Open(Params(kOpenCreate, &roomy, false, false, false)));
  EXPECT_EQ(3, sealed->Write("abc", 3));
  EXPECT_EQ(-12, sealed->Seal());

  aEnc_.set_fail(true);
  MemoryFile other;
  Owned<SealedFile> enciphered(new SealedFile);
  ASSERT_EQ(0, enciphered->Open(Params(kOpenCreate, &other, false, true, false)));
  EXPECT_EQ(3, enciphered->Write("abc", 3));
  EXPECT_EQ(-1, enciphered->Seal());
  aEnc_.set_fail(false);
  EXPECT_EQ(0, enciphered->Seal());
}

TEST_F(SealedFileTest, OwnedFileIsReleasedEvenAfterAFailedOpen) {
  auto* file = new MemoryFile;  // empty: short header
  SealParams params = Params(kOpenRead, file, false, false, false);
  params.ownFile = true;
  Owned<SealedFile> sealed(new SealedFile);
  EXPECT_EQ(kSealShortHeader, sealed->Open(params));
  // The leak checker of the sanitizer build would report the file otherwise.
}

class CorruptionTest : public SealedFileTest {
 protected:
  // The bytes of a compressed stream of 8000 text-like bytes.
  std::vector<uint8_t> Sealed() {
    MemoryFile file;
    Write(Params(kOpenCreate, &file, true, false, false), TextLike(8000));
    return file.bytes();
  }
  int Open(MemoryFile& file, bool compress = true, bool cipherA = false) {
    std::vector<uint8_t> ignored;
    return ReadBack(Params(kOpenRead, &file, compress, cipherA, false), &ignored);
  }
  static void SetWord(MemoryFile& file, size_t offset, uint32_t value) {
    StoreLe32(value, file.mutable_bytes().data() + offset);
  }
};

TEST_F(CorruptionTest, HeaderProblems) {
  MemoryFile shortFile(std::vector<uint8_t>(47, 0));
  EXPECT_EQ(kSealShortHeader, Open(shortFile));

  MemoryFile badMagic(Sealed());
  badMagic.mutable_bytes()[3] = 'X';
  EXPECT_EQ(kSealBadHeader, Open(badMagic));

  MemoryFile reserved(Sealed());
  SetWord(reserved, 32, 1);
  EXPECT_EQ(kSealBadHeader, Open(reserved));

  SealedFile* bad = new SealedFile;
  MemoryFile any(Sealed());
  EXPECT_EQ(kSealBadMode, bad->Open(Params(5, &any, true, false, false)));
  bad->Release();
}

TEST_F(CorruptionTest, SizesThatTheFileCannotHold) {
  MemoryFile pastEnd(Sealed());
  SetWord(pastEnd, 40, HeaderOf(pastEnd).storedSize + 1);
  EXPECT_EQ(kSealShortContent, Open(pastEnd));

  MemoryFile hugeStored(Sealed());
  SetWord(hugeStored, 40, 0xFFFFFFF0u);
  EXPECT_EQ(kSealShortContent, Open(hugeStored));

  // More than any zlib stream of storedSize bytes could inflate to: refused
  // before the buffer is sized.
  MemoryFile hugePlain(Sealed());
  SetWord(hugePlain, 36, 0x7FFFFFFFu);
  EXPECT_EQ(kSealWrongPlainSize, Open(hugePlain));

  MemoryFile longer(Sealed());
  SetWord(longer, 36, 8001);
  EXPECT_EQ(kSealWrongPlainSize, Open(longer));
  MemoryFile shorter(Sealed());
  SetWord(shorter, 36, 7999);
  EXPECT_EQ(kSealWrongPlainSize, Open(shorter));

  MemoryFile plain;
  Write(Params(kOpenCreate, &plain, false, false, false), TextLike(100));
  SetWord(plain, 36, 99);
  EXPECT_EQ(kSealStoredSizeMismatch, Open(plain, false));
}

TEST_F(CorruptionTest, MissingCodecsAndCipherFailure) {
  MemoryFile compressed(Sealed());
  EXPECT_EQ(kSealNoCodec, Open(compressed, false));

  MemoryFile enciphered;
  Write(Params(kOpenCreate, &enciphered, true, true, false), TextLike(500));
  EXPECT_EQ(kSealNoCipher, Open(enciphered, true, false));
  MemoryFile withB;
  Write(Params(kOpenCreate, &withB, true, true, true), TextLike(500));
  EXPECT_EQ(kSealNoCipher, Open(withB, true, true));  // B needed, only A given
  aDec_.set_fail(true);
  EXPECT_EQ(kSealDecipherFailed, Open(enciphered, true, true));
  aDec_.set_fail(false);
  EXPECT_EQ(0, Open(enciphered, true, true));
}

TEST_F(CorruptionTest, DamagedCompressedData) {
  // Adler-32 trailer damaged: data integrity.
  MemoryFile checksum(Sealed());
  checksum.mutable_bytes().back() ^= 0x55;
  EXPECT_EQ(-15 + kSealInflateOffset, Open(checksum));

  // zlib header damaged: invalid format.
  MemoryFile header(Sealed());
  header.mutable_bytes()[kSealHeaderSize] = 0x00;
  EXPECT_EQ(-16 + kSealInflateOffset, Open(header));

  // Truncated stream (storedSize shortened to match).
  MemoryFile truncated(Sealed());
  const uint32_t stored = HeaderOf(truncated).storedSize;
  SetWord(truncated, 40, stored / 2);
  truncated.mutable_bytes().resize(kSealHeaderSize + stored / 2);
  EXPECT_EQ(-16 + kSealInflateOffset, Open(truncated));

  // Garbage in the middle of the deflate blocks: some decompressor error,
  // or a wrong length, never success.
  for (size_t offset = kSealHeaderSize + 2; offset < kSealHeaderSize + stored; offset += 7) {
    MemoryFile flipped(Sealed());
    flipped.mutable_bytes()[offset] ^= 0xA5;
    EXPECT_LT(Open(flipped), 0) << "offset " << offset;
  }
}

TEST_F(CorruptionTest, UnsealingReadsThenDeciphersThenChecksSizes) {
  // Several faults at once: the first step that fails names the code.
  MemoryFile plainEnciphered;
  Write(Params(kOpenCreate, &plainEnciphered, false, true, false), TextLike(300));
  SetWord(plainEnciphered, 36, 299);  // plainSize no longer storedSize
  EXPECT_EQ(kSealNoCipher, Open(plainEnciphered, false, false));
  aDec_.set_fail(true);
  EXPECT_EQ(kSealDecipherFailed, Open(plainEnciphered, false, true));
  aDec_.set_fail(false);
  EXPECT_EQ(kSealStoredSizeMismatch, Open(plainEnciphered, false, true));

  // Content cut short and no cipher: the read fails first.
  MemoryFile shortEnciphered;
  Write(Params(kOpenCreate, &shortEnciphered, true, true, false), TextLike(3000));
  shortEnciphered.mutable_bytes().resize(shortEnciphered.bytes().size() - 1);
  EXPECT_EQ(kSealShortContent, Open(shortEnciphered, true, false));

  // An impossible plainSize and no codec: the missing codec comes first.
  MemoryFile hugeNoCodec(Sealed());
  SetWord(hugeNoCodec, 36, 0x7FFFFFFFu);
  EXPECT_EQ(kSealNoCodec, Open(hugeNoCodec, false));
}

// Records the capacities the sealed file asks the decompressor for.
class RecordingCodec : public ZlibCodec {
 public:
  int Decompress(const void* source, int32_t sourceLength, void* destination,
                 int32_t* destinationLength) override {
    capacities.push_back(*destinationLength);
    return ZlibCodec::Decompress(source, sourceLength, destination, destinationLength);
  }
  void Release() override {}
  std::vector<int32_t> capacities;
};

TEST_F(CorruptionTest, ClaimedPlainSizeIsOnlyAnUpperBound) {
  // 2 MB of stored bytes claiming 2^31 - 1 plain bytes (the deflate ratio
  // allows it): memory follows what inflation produces.
  const std::vector<uint8_t> noise = Noise(2 << 20, 7);
  std::vector<uint8_t> packed(noise.size() + noise.size() / 100 + 1024);
  int32_t packedLength = static_cast<int32_t>(packed.size());
  ASSERT_EQ(0, codec_->Compress(noise.data(), static_cast<int32_t>(noise.size()), packed.data(),
                                &packedLength));
  ASSERT_GT(packedLength, 2 << 20);
  packed.resize(static_cast<size_t>(packedLength));
  SealHeader header;
  header.flags = kSealCompressed;
  header.plainSize = 0x7FFFFFFFu;
  header.storedSize = static_cast<uint32_t>(packed.size());
  std::vector<uint8_t> bytes(kSealHeaderSize);
  EncodeSealHeader(header, bytes.data());
  bytes.insert(bytes.end(), packed.begin(), packed.end());
  MemoryFile file(bytes);

  RecordingCodec recording;
  SealParams params = Params(kOpenRead, &file, false, false, false);
  params.compressor = &recording;
  Owned<SealedFile> sealed(new SealedFile);
  EXPECT_EQ(kSealWrongPlainSize, sealed->Open(params));
  ASSERT_FALSE(recording.capacities.empty());
  for (int32_t capacity : recording.capacities) EXPECT_LE(capacity, 16 << 20);
}

TEST_F(SealedFileTest, PlausiblePlainSizeGetsOneExactInflation) {
  std::vector<uint8_t> plain(3000000, 'z');
  for (size_t i = 0; i < plain.size(); i += 4099) plain[i] = static_cast<uint8_t>(i);
  MemoryFile file;
  Write(Params(kOpenCreate, &file, true, false, false), plain);
  ASSERT_LT(HeaderOf(file).storedSize * 4, plain.size());

  RecordingCodec recording;
  SealParams params = Params(kOpenRead, &file, false, false, false);
  params.compressor = &recording;
  std::vector<uint8_t> back;
  ASSERT_EQ(0, ReadBack(params, &back));
  EXPECT_EQ(back, plain);
  EXPECT_EQ(recording.capacities, std::vector<int32_t>{static_cast<int32_t>(plain.size()) + 1});
}

TEST_F(SealedFileTest, HighlyCompressedContentGrowsInStepsAndRoundTrips) {
  // Far more than 16 MiB beyond four times its stored size.
  std::vector<uint8_t> plain(40000000, 'z');
  for (size_t i = 0; i < plain.size(); i += 4099) plain[i] = static_cast<uint8_t>(i);
  MemoryFile file;
  Write(Params(kOpenCreate, &file, true, false, false), plain);
  ASSERT_LT(HeaderOf(file).storedSize * 4 + (16 << 20), plain.size());

  RecordingCodec recording;
  SealParams params = Params(kOpenRead, &file, false, false, false);
  params.compressor = &recording;
  std::vector<uint8_t> back;
  ASSERT_EQ(0, ReadBack(params, &back));
  EXPECT_EQ(back, plain);
  ASSERT_GE(recording.capacities.size(), 2u);
  EXPECT_LT(recording.capacities.front(), static_cast<int32_t>(plain.size()));
  EXPECT_EQ(recording.capacities.back(), static_cast<int32_t>(plain.size()) + 1);
}

TEST_F(SealedFileTest, DigestIsTheStoredOneEvenWhenTheContentDiffers) {
  MemoryFile file;
  Write(Params(kOpenCreate, &file, false, false, false), TextLike(100));
  const uint8_t stored[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  std::memcpy(file.mutable_bytes().data() + 16, stored, 16);

  Owned<SealedFile> sealed(new SealedFile);
  ASSERT_EQ(0, sealed->Open(Params(kOpenRead, &file, false, false, false)));
  uint8_t digest[16] = {};
  ASSERT_EQ(0, sealed->Digest(digest));
  EXPECT_EQ(0, std::memcmp(digest, stored, 16));
  EXPECT_EQ(0, sealed->Tell());  // the content was not read for it

  // A fresh stream's digest, before and after its seal, is that of its
  // content (here the empty one).
  MemoryFile fresh;
  Owned<SealedFile> created(new SealedFile);
  ASSERT_EQ(0, created->Open(Params(kOpenCreate, &fresh, true, false, false)));
  ASSERT_EQ(0, created->Digest(digest));
  EXPECT_EQ(0, std::memcmp(digest, kEmptyDigest, 16));
  ASSERT_EQ(0, created->Seal());
  EXPECT_EQ(0, std::memcmp(HeaderOf(fresh).digest, kEmptyDigest, 16));
}

class DamagedContentTest : public SealedFileTest {
 protected:
  // A stream of `n` text-like bytes whose stored digest no longer matches.
  std::vector<uint8_t> Damaged(size_t n, bool compress) {
    MemoryFile file;
    Write(Params(kOpenCreate, &file, compress, true, false), TextLike(n));
    std::vector<uint8_t> bytes = file.bytes();
    bytes[16] ^= 0x01;
    return bytes;
  }
};

TEST_F(DamagedContentTest, ReadingThroughToTheEndFailsWithItsOwnCode) {
  for (bool compress : {false, true}) {
    MemoryFile file(Damaged(5000, compress));
    Owned<SealedFile> sealed(new SealedFile);
    ASSERT_EQ(0, sealed->Open(Params(kOpenRead, &file, compress, true, false)));
    std::vector<uint8_t> buffer(5000);
    // Partial reads are not checked.
    EXPECT_EQ(4000, sealed->Read(buffer.data(), 4000));
    // The read that would reach the end delivers nothing and fails.
    buffer[0] = 0xEE;
    EXPECT_EQ(kSealDigestMismatch, sealed->Read(buffer.data(), 2000));
    EXPECT_EQ(0xEE, buffer[0]);
    EXPECT_EQ(4000, sealed->Tell());
    EXPECT_FALSE(sealed->AtEnd());
    // So does every later one, also one that ends exactly at the end.
    EXPECT_EQ(kSealDigestMismatch, sealed->Read(buffer.data(), 1000));
    EXPECT_EQ(999, sealed->Read(buffer.data(), 999));
    EXPECT_EQ(kSealDigestMismatch, sealed->Read(buffer.data(), 1));
  }
}

TEST_F(DamagedContentTest, OneReadOfTheWholeContentFails) {
  MemoryFile file(Damaged(10, false));
  Owned<SealedFile> sealed(new SealedFile);
  ASSERT_EQ(0, sealed->Open(Params(kOpenUpdate, &file, false, true, false)));
  char buffer[64];
  EXPECT_EQ(kSealDigestMismatch, sealed->Read(buffer, sizeof buffer));
  // The line reader passes the failure on instead of a shortened line.
  ASSERT_EQ(0, sealed->Seek(0, 0));
  EXPECT_EQ(kSealDigestMismatch, sealed->ReadLine(buffer, sizeof buffer));
  EXPECT_STREQ("", buffer);
}

TEST_F(DamagedContentTest, DamagedEmptyStreamFailsAtItsEnd) {
  MemoryFile file;
  Write(Params(kOpenCreate, &file, false, false, false), {});
  file.mutable_bytes()[20] ^= 0x40;
  Owned<SealedFile> sealed(new SealedFile);
  ASSERT_EQ(0, sealed->Open(Params(kOpenRead, &file, false, false, false)));
  char byte;
  EXPECT_EQ(kSealDigestMismatch, sealed->Read(&byte, 1));
}

TEST_F(DamagedContentTest, FlippedStoredByteOfAPlainStreamIsCaught) {
  MemoryFile file;
  Write(Params(kOpenCreate, &file, false, false, false), TextLike(700));
  file.mutable_bytes()[kSealHeaderSize + 350] ^= 0x20;
  Owned<SealedFile> sealed(new SealedFile);
  ASSERT_EQ(0, sealed->Open(Params(kOpenRead, &file, false, false, false)));
  std::vector<uint8_t> buffer(700);
  EXPECT_EQ(kSealDigestMismatch, sealed->Read(buffer.data(), 700));
}

TEST_F(DamagedContentTest, WrittenContentAndGoodStreamsAreNotRefused) {
  // Content replaced by the caller is the caller's: no check.
  MemoryFile file(Damaged(300, true));
  {
    Owned<SealedFile> sealed(new SealedFile);
    ASSERT_EQ(0, sealed->Open(Params(kOpenUpdate, &file, true, true, false)));
    ASSERT_EQ(3, sealed->Write("new", 3));
    ASSERT_EQ(0, sealed->Seek(0, 0));
    std::vector<uint8_t> buffer(300);
    EXPECT_EQ(300, sealed->Read(buffer.data(), 300));
  }
  // Sealed again, it carries a digest that matches.
  std::vector<uint8_t> back;
  ASSERT_EQ(0, ReadBack(Params(kOpenRead, &file, true, true, false), &back));
  ASSERT_EQ(300u, back.size());
  EXPECT_EQ(0, std::memcmp(back.data(), "new", 3));

  // A good stream reads to its end, twice.
  MemoryFile good;
  Write(Params(kOpenCreate, &good, true, false, false), TextLike(2000));
  Owned<SealedFile> sealed(new SealedFile);
  ASSERT_EQ(0, sealed->Open(Params(kOpenRead, &good, true, false, false)));
  std::vector<uint8_t> buffer(2000);
  EXPECT_EQ(2000, sealed->Read(buffer.data(), 2000));
  EXPECT_EQ(0, sealed->Read(buffer.data(), 1));
  ASSERT_EQ(0, sealed->Seek(0, 0));
  EXPECT_EQ(2000, sealed->Read(buffer.data(), 2000));

  // Raw mode hands out the bytes as they are.
  MemoryFile raw(Damaged(100, false));
  Owned<SealedFile> rawFile(new SealedFile);
  ASSERT_EQ(0, rawFile->Open(Params(kOpenRaw, &raw, false, false, false)));
  std::vector<uint8_t> all(raw.bytes().size());
  EXPECT_EQ(static_cast<int32_t>(all.size()), rawFile->Read(all.data(), static_cast<int32_t>(all.size())));
}

TEST(ZlibCodecTest, RoundTripAndCapacity) {
  Owned<ZlibCodec> codec(CreateZlibCodec());
  const std::vector<uint8_t> plain = TextLike(100000);
  std::vector<uint8_t> packed(plain.size());
  int32_t packedLength = static_cast<int32_t>(packed.size());
  ASSERT_EQ(0, codec->Compress(plain.data(), static_cast<int32_t>(plain.size()), packed.data(),
                               &packedLength));
  ASSERT_GT(packedLength, 2);
  EXPECT_EQ(packed[0], 0x78);  // deflate, 2^15 window
  EXPECT_EQ((packed[0] * 256 + packed[1]) % 31, 0);
  EXPECT_EQ(SystemInflate(packed.data(), packedLength, plain.size()), plain);

  // Whatever the system zlib makes, ours inflates.
  std::vector<uint8_t> theirs(compressBound(plain.size()));
  uLongf theirLength = static_cast<uLongf>(theirs.size());
  ASSERT_EQ(Z_OK, compress2(theirs.data(), &theirLength, plain.data(), plain.size(), 9));
  std::vector<uint8_t> back(plain.size());
  int32_t backLength = static_cast<int32_t>(back.size());
  ASSERT_EQ(0, codec->Decompress(theirs.data(), static_cast<int32_t>(theirLength), back.data(),
                                 &backLength));
  EXPECT_EQ(backLength, static_cast<int32_t>(plain.size()));
  EXPECT_EQ(back, plain);

  // Output is cut at the destination's capacity.
  int32_t small = 10;
  EXPECT_EQ(0, codec->Decompress(packed.data(), packedLength, back.data(), &small));
  EXPECT_EQ(small, 10);

  int32_t none = 5;
  EXPECT_EQ(0, codec->Compress(nullptr, 10, back.data(), &none));
  EXPECT_EQ(none, 0);
  EXPECT_EQ(-13, codec->Compress(plain.data(), 10, back.data(), nullptr));
}

}  // namespace
}  // namespace marrowgate

namespace marrowgate {
namespace {

// Room reserved ahead of the writes changes nothing in what is sealed, and
// a read-only stream refuses it.
TEST_F(SealedFileTest, ReserveKeepsWhatIsSealed) {
  const std::vector<uint8_t> plain = TextLike(70000);
  MemoryFile plainWay, reservedWay;
  Write(Params(kOpenCreate, &plainWay, true, true, false), plain);
  {
    Owned<SealedFile> sealed(new SealedFile);
    ASSERT_EQ(0, sealed->Open(Params(kOpenCreate, &reservedWay, true, true, false)));
    ASSERT_EQ(0, sealed->Reserve(plain.size()));
    sealed->SetTime(static_cast<int32_t>(HeaderOf(plainWay).time));
    ASSERT_EQ(70000, sealed->Write(plain.data(), 70000));
    EXPECT_EQ(0, sealed->Seal());
  }
  EXPECT_EQ(plainWay.bytes(), reservedWay.bytes());
  Owned<SealedFile> reader(new SealedFile);
  ASSERT_EQ(0, reader->Open(Params(kOpenRead, &reservedWay, true, true, false)));
  EXPECT_EQ(-1, reader->Reserve(10));
  EXPECT_EQ(-1, reader->Reserve(size_t{1} << 40));
}

// A raw stream passes reads, seeks and its size through to the file.
TEST_F(SealedFileTest, RawModeReadsThroughWithoutHolding) {
  MemoryFile file;
  Write(Params(kOpenCreate, &file, false, false, false), Noise(5000));
  Owned<SealedFile> raw(new SealedFile);
  ASSERT_EQ(0, raw->Open(Params(kOpenRaw, &file, false, false, false)));
  EXPECT_EQ(static_cast<int32_t>(file.bytes().size()), raw->Size());
  ASSERT_EQ(0, raw->Seek(-10, 2));
  EXPECT_EQ(static_cast<int64_t>(file.bytes().size() - 10), raw->Tell());
  uint8_t last[20];
  EXPECT_EQ(10, raw->Read(last, 20));
  EXPECT_EQ(0, std::memcmp(last, file.bytes().data() + file.bytes().size() - 10, 10));
  EXPECT_TRUE(raw->AtEnd());
  EXPECT_EQ(0, raw->Seek(1000000, 0));
  EXPECT_EQ(static_cast<int64_t>(file.bytes().size()), raw->Tell());
  EXPECT_EQ(0, raw->Seek(-5, 0));
  EXPECT_EQ(0, raw->Tell());
}

}  // namespace
}  // namespace marrowgate
