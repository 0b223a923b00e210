#include "package/seal/stream_seal.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "keys/block_cipher_object.h"
#include "package/file/memory_file.h"
#include "package/seal/sealed_file.h"
#include "package/testing/fault_injection_testing.h"
#include "util/md5.h"
#include "util/releaser.h"

namespace marrowgate {
namespace {

std::vector<uint8_t> TextLike(size_t n) {
  static const char kWords[] = "patch package folder item block chain sealed stream ";
  std::vector<uint8_t> out(n);
  for (size_t i = 0; i < n; ++i)
    out[i] = static_cast<uint8_t>(kWords[(i * 7 + i / 53) % (sizeof(kWords) - 1)]);
  return out;
}

std::vector<uint8_t> Noise(size_t n, uint32_t seed) {
  std::vector<uint8_t> out(n);
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1664525u + 1013904223u;
    out[i] = static_cast<uint8_t>(seed >> 24);
  }
  return out;
}

// Gives `content` in reads of at most `step` bytes; fails the `failAt`-th
// read (1-based, 0: never); counts the passes (reads from offset 0).
struct Source {
  const std::vector<uint8_t>* content;
  size_t step = 700000;
  int failAt = 0;
  int reads = 0;
  int passes = 0;
  size_t cutTo = SIZE_MAX;  // from the second pass on, the content ends here

  PlainSource Get() {
    return [this](uint64_t offset, uint8_t* buffer, size_t n) -> int64_t {
      if (++reads == failAt) return -1;
      if (offset == 0) ++passes;
      const size_t end = passes > 1 ? std::min(cutTo, content->size()) : content->size();
      if (offset >= end) return 0;
      const size_t take = std::min({n, step, end - static_cast<size_t>(offset)});
      std::memcpy(buffer, content->data() + offset, take);
      return static_cast<int64_t>(take);
    };
  }
};

class StreamSealTest : public ::testing::Test {
 protected:
  StreamSealTest() : codec_(CreateZlibCodec()), enc_(new BlockCipherObject(3)),
                     dec_(new BlockCipherObject(3)) {
    enc_->SetEncryptKey("sixteen byte key", 16);
    dec_->SetDecryptKey("sixteen byte key", 16);
  }

  SealParams Params(int mode, VirtualFile* file, bool compress, bool cipher) {
    SealParams params;
    params.mode = mode;
    params.file = file;
    params.compressor = compress ? codec_.get() : nullptr;
    if (cipher) {
      params.cipherAEnc = enc_.get();
      params.cipherADec = dec_.get();
    }
    return params;
  }

  // Seals `plain` the way a SealedFile holding it whole does.
  std::vector<uint8_t> WholeSeal(const std::vector<uint8_t>& plain, bool compress, bool cipher) {
    MemoryFile file;
    {
      Owned<SealedFile> sealed(new SealedFile);
      EXPECT_EQ(0, sealed->Open(Params(kOpenCreate, &file, compress, cipher)));
      sealed->Write(plain.data(), static_cast<int32_t>(plain.size()));
      sealed->SetTime(12345);
      EXPECT_EQ(0, sealed->Seal());
    }
    return file.bytes();
  }

  // Streams `source` into `file` through SealFrom.
  int StreamSeal(VirtualFile* file, Source* source, uint64_t expected, bool compress,
                 bool cipher) {
    Owned<SealedFile> sealed(new SealedFile);
    EXPECT_EQ(0, sealed->Open(Params(kOpenCreate, file, compress, cipher)));
    sealed->SetTime(12345);
    return sealed->SealFrom(source->Get(), expected);
  }

  // Unseals `bytes` through a SealedFile and checks the stored digest.
  std::vector<uint8_t> Unseal(const std::vector<uint8_t>& bytes, bool cipher) {
    MemoryFile file(bytes);
    Owned<SealedFile> sealed(new SealedFile);
    EXPECT_EQ(0, sealed->Open(Params(kOpenRead, &file, true, cipher)));
    std::vector<uint8_t> plain(static_cast<size_t>(sealed->Size()));
    if (!plain.empty()) {
      EXPECT_EQ(sealed->Size(), sealed->Read(plain.data(), sealed->Size()));
    }
    uint8_t end;
    EXPECT_EQ(0, sealed->Read(&end, 1));  // 0, not kSealDigestMismatch
    return plain;
  }

  Owned<ZlibCodec> codec_;
  Owned<BlockCipherObject> enc_, dec_;
};

// Every kind of content with and without codec and cipher: what is streamed
// unseals to the content, follows the "compressed only when smaller" rule,
// and, when stored plain, is byte for byte what a whole seal writes.
TEST_F(StreamSealTest, SealsLikeAWholeSealForEveryContentAndCodec) {
  std::vector<uint8_t> mixed = TextLike(200000);
  const std::vector<uint8_t> noise = Noise(3000007, 5);
  mixed.insert(mixed.end(), noise.begin(), noise.end());
  // One segment barely worth deflating, then noise: judged compressible,
  // but the compressed form is not smaller (the third pass).
  std::vector<uint8_t> barely(512, 'x');
  const std::vector<uint8_t> moreNoise = Noise(3u << 20, 9);
  barely.insert(barely.end(), moreNoise.begin(), moreNoise.end());
  const struct {
    const char* name;
    std::vector<uint8_t> content;
  } contents[] = {
      {"empty", {}},        {"text", TextLike(2500003)}, {"noise", Noise(2500001, 7)},
      {"mixed", mixed},     {"barely", barely},
  };
  for (const auto& c : contents) {
    for (const bool compress : {false, true}) {
      for (const bool cipher : {false, true}) {
        SCOPED_TRACE(testing::Message() << c.name << " compress " << compress << " cipher "
                                        << cipher);
        MemoryFile file;
        Source source{&c.content};
        ASSERT_EQ(0, StreamSeal(&file, &source, c.content.size(), compress, cipher));
        SealHeader header;
        ASSERT_TRUE(DecodeSealHeader(file.bytes().data(), &header));
        EXPECT_EQ(file.bytes().size(), kSealHeaderSize + header.storedSize);
        EXPECT_EQ(header.time, 12345u);
        EXPECT_EQ(Unseal(file.bytes(), cipher), c.content);
        const bool compressed = (header.flags & kSealCompressed) != 0;
        if (compressed) {
          EXPECT_LT(header.storedSize, header.plainSize);
        }
        if (compress && !c.content.empty()) {
          // Rule check with an independent deflater.
          uLongf length = compressBound(static_cast<uLong>(c.content.size()));
          std::vector<uint8_t> deflated(length);
          ASSERT_EQ(Z_OK, compress2(deflated.data(), &length, c.content.data(),
                                    static_cast<uLong>(c.content.size()), 6));
          if (std::string(c.name) != "noise") {
            EXPECT_EQ(compressed, length < c.content.size());
          }
        }
        // Stored plain by both: the same bytes. (Content a whole seal
        // compresses may be stored plain here: the engines differ.)
        const std::vector<uint8_t> whole = WholeSeal(c.content, compress, cipher);
        if (!compressed && (whole[15] & kSealCompressed) == 0) {
          EXPECT_EQ(file.bytes(), whole);
        }
        if (!compress || std::string(c.name) == "noise") {
          EXPECT_FALSE(compressed);
          EXPECT_EQ(file.bytes(), whole);
        }
        if (std::string(c.name) == "barely" && compress) {
          EXPECT_EQ(source.passes, 3);
        }
      }
    }
  }
}

// A failing read at any point, a failing write at any point, and a content
// that shrinks after the first pass: a code, never a crash, and never an
// item longer than its header counts.
TEST_F(StreamSealTest, ReportsEveryReadAndWriteFailure) {
  std::vector<uint8_t> barely(512, 'x');
  const std::vector<uint8_t> noise = Noise(3u << 20, 11);
  barely.insert(barely.end(), noise.begin(), noise.end());
  const std::vector<uint8_t> text = TextLike(3u << 20);
  const std::vector<uint8_t>& mixed = barely;
  for (const std::vector<uint8_t>* content : {&text, &mixed}) {
    int reads = 0;
    {
      MemoryFile file;
      Source source{content};
      ASSERT_EQ(0, StreamSeal(&file, &source, content->size(), true, true));
      reads = source.reads;
    }
    for (int failAt = 1; failAt <= reads; ++failAt) {
      MemoryFile file;
      Source source{content};
      source.failAt = failAt;
      EXPECT_EQ(kSealSourceFailed, StreamSeal(&file, &source, content->size(), true, true))
          << failAt;
    }
    for (int64_t failAt = 1;; ++failAt) {
      testing_faults::FaultPlan plan;
      plan.Arm(failAt, testing_faults::FaultPlan::Effect::kFail);
      MemoryFile inner;
      Owned<VirtualFile> file(new testing_faults::FaultFile(&inner, &plan, false));
      Source source{content};
      const int code = StreamSeal(file.get(), &source, content->size(), true, true);
      if (!plan.tripped()) {
        EXPECT_EQ(0, code);
        break;
      }
      EXPECT_TRUE(code == -11 || code == -12) << failAt << ": " << code;
    }
    // Shorter from the second pass on: sealed as it then reads, or
    // refused, never an item longer than its header counts.
    MemoryFile file;
    Source source{content};
    source.cutTo = content->size() / 2;
    const int code = StreamSeal(&file, &source, content->size(), true, false);
    if (code == 0) {
      SealHeader header;
      ASSERT_TRUE(DecodeSealHeader(file.bytes().data(), &header));
      EXPECT_EQ(file.bytes().size(), kSealHeaderSize + header.storedSize);
      EXPECT_EQ(Unseal(file.bytes(), false),
                std::vector<uint8_t>(content->begin(), content->begin() + source.cutTo));
    } else {
      EXPECT_EQ(kSealSourceChanged, code);
    }
  }
}

}  // namespace
}  // namespace marrowgate
