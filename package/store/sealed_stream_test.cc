#include "package/store/sealed_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "package/file/memory_file.h"
#include "package/testing/package_testing.h"
#include "util/clock.h"
#include "util/releaser.h"

namespace marrowgate {
namespace {

struct Content {
  const char* path;
  std::vector<uint8_t> bytes;
  uint32_t time;
};

std::vector<Content> Contents() {
  return {{"text.txt", TextBytes(50000), 1234567890u},
          {"d/e/noise.bin", NoiseBytes(3000, 5), 1u},
          {"d/empty", {}, 4000000000u},  // after 2038: unsigned
          {"text.txt", TextBytes(700, 3), 77u},  // replaces the first
          {"d/odd", NoiseBytes(13, 9), 5u}};
}

PackageParams Params(MemoryFile* file, const PackageCodecs& codecs, int mode, bool keyB) {
  PackageParams params;
  params.mode = mode;
  params.file = file;
  codecs.ApplyTo(&params);
  EXPECT_TRUE(SetPackageKeyA(&params, "first key", 9));
  if (keyB) {
    EXPECT_TRUE(SetPackageKeyB(&params, "second", 6));
  }
  return params;
}

// A package made the usual way: items written through OpenItem.
void WriteThroughItems(MemoryFile* file, const PackageCodecs& codecs, bool keyB) {
  Owned<Package> package(new Package);
  ASSERT_EQ(package->Open(Params(file, codecs, kOpenCreate, keyB)), 0);
  for (const Content& c : Contents()) {
    Owned<VirtualFile> item(package->OpenItem(c.path, kOpenCreate));
    ASSERT_NE(item, nullptr);
    if (!c.bytes.empty()) {
      ASSERT_EQ(item->Write(c.bytes.data(), static_cast<int32_t>(c.bytes.size())),
                static_cast<int32_t>(c.bytes.size()));
    }
    item->SetTime(static_cast<int32_t>(c.time));
  }
  ASSERT_EQ(package->Close(), 0);
}

// The same package with every item sealed apart (by a codec set of its
// own, as a worker thread would) and stored whole.
void WriteSealedStreams(MemoryFile* file, const PackageCodecs& codecs, bool keyB) {
  Owned<Package> package(new Package);
  ASSERT_EQ(package->Open(Params(file, codecs, kOpenCreate, keyB)), 0);
  PackageCodecs own;
  SealParams seal;
  ASSERT_TRUE(MakeStreamCodecs(package->Params(), 0, &own, &seal));
  for (const Content& c : Contents()) {
    std::vector<uint8_t> stream;
    ASSERT_EQ(SealStream(seal, c.bytes.data(), c.bytes.size(), c.time, &stream), 0);
    ASSERT_EQ(package->WriteSealedItem(c.path, stream.data(), stream.size()), 0);
  }
  ASSERT_EQ(package->Close(), 0);
}

class SealedStreamTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { ASSERT_TRUE(codecs_.Create(0, GetParam())); }
  PackageCodecs codecs_;
};

TEST_P(SealedStreamTest, StoredStreamsMakeTheSamePackageBytesAsItems) {
  // Chains carry the time they were written (in seconds): both packages
  // are made within one second of the clock.
  bool compared = false;
  for (int attempt = 0; attempt < 5 && !compared; ++attempt) {
    const int32_t before = LibClockNow();
    MemoryFile usual, apart;
    WriteThroughItems(&usual, codecs_, GetParam());
    WriteSealedStreams(&apart, codecs_, GetParam());
    if (LibClockNow() != before) continue;
    compared = true;
    ASSERT_EQ(usual.bytes().size(), apart.bytes().size());
    EXPECT_TRUE(usual.bytes() == apart.bytes());
  }
  EXPECT_TRUE(compared) << "the clock turned a second during every attempt";
}

TEST_P(SealedStreamTest, ReadSealedItemGivesTheRawFormAndUnsealsApart) {
  MemoryFile file;
  WriteThroughItems(&file, codecs_, GetParam());
  Owned<Package> package(new Package);
  ASSERT_EQ(package->Open(Params(&file, codecs_, kOpenRead, GetParam())), 0);
  PackageCodecs own;
  SealParams seal;
  ASSERT_TRUE(MakeStreamCodecs(package->Params(), 0, &own, &seal));
  for (const char* path : {"text.txt", "d/e/noise.bin", "d/empty", "d/odd"}) {
    SCOPED_TRACE(path);
    std::vector<uint8_t> stream;
    ASSERT_EQ(package->ReadSealedItem(path, 1 << 20, &stream), 0);
    Owned<VirtualFile> raw(package->OpenItem(path, kOpenRaw));
    ASSERT_NE(raw, nullptr);
    std::vector<uint8_t> rawBytes(static_cast<size_t>(raw->Size()));
    ASSERT_EQ(raw->Read(rawBytes.data(), static_cast<int32_t>(rawBytes.size())),
              static_cast<int32_t>(rawBytes.size()));
    EXPECT_TRUE(stream == rawBytes);

    Owned<VirtualFile> usual(package->OpenItem(path, kOpenRead));
    int code = 1;
    Owned<SealedFile> apart(OpenSealedStream(seal, stream, &code));
    ASSERT_EQ(code, 0);
    ASSERT_NE(apart, nullptr);
    EXPECT_EQ(apart->Size(), usual->Size());
    EXPECT_EQ(apart->GetTime(), usual->GetTime());
    std::vector<uint8_t> a(static_cast<size_t>(usual->Size()) + 1), b(a.size());
    EXPECT_EQ(usual->Read(a.data(), static_cast<int32_t>(a.size())), usual->Size());
    EXPECT_EQ(apart->Read(b.data(), static_cast<int32_t>(b.size())), apart->Size());
    EXPECT_TRUE(a == b);
  }
  std::vector<uint8_t> stream;
  EXPECT_EQ(package->ReadSealedItem("text.txt", 10, &stream), 1);  // over the limit
  EXPECT_TRUE(stream.empty());
  EXPECT_EQ(package->ReadSealedItem("missing", 1 << 20, &stream), -1);
  EXPECT_EQ(package->ReadSealedItem("d", 1 << 20, &stream), -1);  // a folder
  EXPECT_EQ(package->ReadSealedItem(nullptr, 1 << 20, &stream), -1);
}

INSTANTIATE_TEST_SUITE_P(KeyB, SealedStreamTest, ::testing::Bool());

class SealedStreamCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(codecs_.Create(0, false));
    ASSERT_EQ(package_->Open(Params(&file_, codecs_, kOpenCreate, false)), 0);
    ASSERT_TRUE(MakeStreamCodecs(package_->Params(), 0, &own_, &seal_));
    ASSERT_EQ(SealStream(seal_, plain_.data(), plain_.size(), 99, &stream_), 0);
  }
  void TearDown() override { package_->Close(); }

  PackageCodecs codecs_;
  MemoryFile file_;
  Owned<Package> package_{new Package};
  PackageCodecs own_;
  SealParams seal_;
  std::vector<uint8_t> plain_ = TextBytes(20000, 4);
  std::vector<uint8_t> stream_;
};

TEST_F(SealedStreamCheckTest, PiecesOfStreamsAreRefusedAndWriteNothing) {
  std::vector<uint8_t> shortStream(stream_.begin(), stream_.end() - 1);
  EXPECT_EQ(package_->WriteSealedItem("a", shortStream.data(), shortStream.size()), -2);
  std::vector<uint8_t> longStream = stream_;
  longStream.push_back(0);
  EXPECT_EQ(package_->WriteSealedItem("a", longStream.data(), longStream.size()), -2);
  EXPECT_EQ(package_->WriteSealedItem("a", stream_.data(), 20), -2);  // part of a header
  std::vector<uint8_t> badHeader = stream_;
  badHeader[0] ^= 0xff;  // the magic
  EXPECT_EQ(package_->WriteSealedItem("a", badHeader.data(), badHeader.size()), -2);
  FileInfo info;
  EXPECT_NE(package_->Stat("a", &info), 0);  // nothing made

  ASSERT_EQ(package_->MakeFolder("folder"), 0);
  EXPECT_EQ(package_->WriteSealedItem("folder", stream_.data(), stream_.size()), -1);
  EXPECT_EQ(package_->WriteSealedItem("../x", stream_.data(), stream_.size()), -1);
  EXPECT_EQ(package_->WriteSealedItem("a", stream_.data(), stream_.size()), 0);
  Owned<VirtualFile> item(package_->OpenItem("a", kOpenRead));
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->GetTime(), 99);
  std::vector<uint8_t> back(plain_.size());
  EXPECT_EQ(item->Read(back.data(), static_cast<int32_t>(back.size())),
            static_cast<int32_t>(back.size()));
  EXPECT_TRUE(back == plain_);
}

TEST_F(SealedStreamCheckTest, DamagedStreamsFailToUnsealOrToMatchTheirDigest) {
  int code = 0;
  std::vector<uint8_t> cut(stream_.begin(), stream_.begin() + 100);
  EXPECT_EQ(OpenSealedStream(seal_, cut, &code), nullptr);
  EXPECT_EQ(code, kSealShortContent);
  EXPECT_EQ(OpenSealedStream(seal_, std::vector<uint8_t>(10), &code), nullptr);
  EXPECT_EQ(code, kSealShortHeader);

  // Incompressible content is stored as it is (enciphered): a flipped byte
  // deciphers into other content, caught by the digest.
  std::vector<uint8_t> noise = NoiseBytes(5000, 3), stored;
  ASSERT_EQ(SealStream(seal_, noise.data(), noise.size(), 1, &stored), 0);
  stored[kSealHeaderSize + 2000] ^= 1;
  Owned<SealedFile> item(OpenSealedStream(seal_, stored, &code));
  ASSERT_NE(item, nullptr);
  std::vector<uint8_t> back(noise.size());
  EXPECT_EQ(item->Read(back.data(), static_cast<int32_t>(back.size())), kSealDigestMismatch);

  // Without the key the stream was sealed with, it cannot be read.
  SealParams noCipher = seal_;
  noCipher.cipherADec = nullptr;
  EXPECT_EQ(OpenSealedStream(noCipher, stream_, &code), nullptr);
  EXPECT_EQ(code, kSealNoCipher);
}

TEST_F(SealedStreamCheckTest, ReadOnlyPackagesTakeNoStreams) {
  ASSERT_EQ(package_->Close(), 0);
  Owned<Package> reader(new Package);
  ASSERT_EQ(reader->Open(Params(&file_, codecs_, kOpenRead, false)), 0);
  EXPECT_EQ(reader->WriteSealedItem("a", stream_.data(), stream_.size()), -1);
}

// Each thread with a codec set of its own seals and unseals the same bytes
// as one thread does.
TEST(SealedStreamThreadsTest, CodecSetsPerThreadGiveTheSameStreams) {
  PackageParams params;
  ASSERT_TRUE(SetPackageKeyA(&params, "k", 1));
  ASSERT_TRUE(SetPackageKeyB(&params, "kb", 2));
  std::vector<std::vector<uint8_t>> plains;
  for (uint32_t i = 0; i < 16; ++i)
    plains.push_back(i % 2 ? NoiseBytes(1000 + i * 517, i) : TextBytes(3000 + i * 4099, i));
  auto sealAll = [&](std::vector<std::vector<uint8_t>>* streams, size_t first, size_t step) {
    PackageCodecs codecs;
    SealParams seal;
    if (!MakeStreamCodecs(params, 0, &codecs, &seal)) return;
    for (size_t i = first; i < plains.size(); i += step) {
      std::vector<uint8_t> stream;
      if (SealStream(seal, plains[i].data(), plains[i].size(), 7, &stream) != 0) continue;
      int code = 0;
      Owned<SealedFile> back(OpenSealedStream(seal, stream, &code));
      std::vector<uint8_t> plain(plains[i].size());
      if (back == nullptr ||
          back->Read(plain.data(), static_cast<int32_t>(plain.size())) != back->Size() ||
          plain != plains[i])
        continue;
      (*streams)[i] = std::move(stream);
    }
  };
  std::vector<std::vector<uint8_t>> alone(plains.size()), together(plains.size());
  sealAll(&alone, 0, 1);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < 4; ++t) threads.emplace_back(sealAll, &together, t, 4);
  for (std::thread& thread : threads) thread.join();
  for (size_t i = 0; i < plains.size(); ++i) {
    ASSERT_FALSE(alone[i].empty()) << i;
    EXPECT_TRUE(alone[i] == together[i]) << i;
  }
}

}  // namespace
}  // namespace marrowgate
