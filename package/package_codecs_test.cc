#include "package/package_codecs.h"

#include <gtest/gtest.h>

#include <string>

#include "package/memory_file.h"

namespace marrowgate {
namespace {

TEST(PackageCodecsTest, MakesTheKeyBPairOnlyWhenAsked) {
  PackageCodecs codecs;
  ASSERT_TRUE(codecs.Create(0, false));
  EXPECT_NE(codecs.compressor, nullptr);
  EXPECT_NE(codecs.cipherAEnc, nullptr);
  EXPECT_NE(codecs.cipherADec, nullptr);
  EXPECT_EQ(codecs.cipherBEnc, nullptr);
  EXPECT_EQ(codecs.cipherBDec, nullptr);
  ASSERT_TRUE(codecs.Create(3, true));
  EXPECT_NE(codecs.cipherBDec, nullptr);
}

TEST(PackageCodecsTest, AppliedCodecsOpenAPackageBothWays) {
  PackageCodecs codecs;
  ASSERT_TRUE(codecs.Create(0, true));
  auto params = [&](int mode, VirtualFile* file) {
    PackageParams p;
    p.mode = mode;
    p.file = file;
    codecs.ApplyTo(&p);
    EXPECT_EQ(p.cipherBDec, codecs.cipherBDec.get());
    SetPackageKeyA(&p, "alpha", 5);
    SetPackageKeyB(&p, "bravo", 5);
    return p;
  };
  MemoryFile file;
  {
    Owned<Package> package(new Package);
    ASSERT_EQ(package->Open(params(kOpenCreate, &file)), 0);
    Owned<VirtualFile> item(package->OpenItem("a/b.txt", kOpenCreate));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->Write("hello", 5), 5);
    item.reset();
    EXPECT_EQ(package->Close(), 0);
  }
  Owned<Package> package(new Package);
  ASSERT_EQ(package->Open(params(kOpenRead, &file)), 0);
  Owned<VirtualFile> item(package->OpenItem("a/b.txt", kOpenRead));
  ASSERT_NE(item, nullptr);
  char text[8] = {};
  EXPECT_EQ(item->Read(text, 8), 5);
  EXPECT_STREQ(text, "hello");
}

}  // namespace
}  // namespace marrowgate
