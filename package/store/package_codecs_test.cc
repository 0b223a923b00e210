#include "package/store/package_codecs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "keys/key_factory.h"
#include "package/file/memory_file.h"

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

// A key factory whose cipher objects, and itself, log their release.
class LoggingFactory : public KeyFactory {
 public:
  explicit LoggingFactory(std::vector<std::string>* log) : real_(CreateKeyFactory()), log_(log) {}

  int Configure(int type, const void* record, int32_t value) override {
    return real_->Configure(type, record, value);
  }
  void Seed(const void* data, int32_t length) override { real_->Seed(data, length); }
  void Release() override {
    log_->push_back("factory");
    delete this;
  }
  IKeyExchanger* CreateKeyExchanger(int kind) override { return real_->CreateKeyExchanger(kind); }
  CipherObject* CreateCipher(int kind) override {
    CipherObject* cipher = real_->CreateCipher(kind);
    return cipher != nullptr ? new LoggingCipher(cipher, log_) : nullptr;
  }

 private:
  class LoggingCipher : public CipherObject {
   public:
    LoggingCipher(CipherObject* real, std::vector<std::string>* log) : real_(real), log_(log) {}
    void Release() override {
      log_->push_back("cipher");
      delete this;
    }
    int SetEncryptKey(const void* key, int32_t length) override {
      return real_->SetEncryptKey(key, length);
    }
    int SetDecryptKey(const void* key, int32_t length) override {
      return real_->SetDecryptKey(key, length);
    }
    void ResetChain() override { real_->ResetChain(); }
    int Encrypt(const void* source, int32_t length, void* destination) override {
      return real_->Encrypt(source, length, destination);
    }
    int Decrypt(const void* source, int32_t length, void* destination) override {
      return real_->Decrypt(source, length, destination);
    }

   private:
    Owned<CipherObject> real_;
    std::vector<std::string>* log_;
  };

  Owned<KeyFactory> real_;
  std::vector<std::string>* log_;
};

TEST(PackageCodecsTest, KeepsTheKeyFactoryAndReleasesItLast) {
  std::vector<std::string> log;
  {
    PackageCodecs codecs;
    ASSERT_TRUE(codecs.Create(new LoggingFactory(&log), 0, true));
    EXPECT_NE(codecs.keyFactory, nullptr);
    EXPECT_TRUE(log.empty());  // the factory outlives Create
  }
  EXPECT_EQ(log, (std::vector<std::string>{"cipher", "cipher", "cipher", "cipher", "factory"}));

  // Making a new set releases the old one in the same order.
  log.clear();
  PackageCodecs codecs;
  ASSERT_TRUE(codecs.Create(new LoggingFactory(&log), 0, false));
  ASSERT_TRUE(codecs.Create(0, false));
  EXPECT_EQ(log, (std::vector<std::string>{"cipher", "cipher", "factory"}));
  EXPECT_NE(codecs.keyFactory, nullptr);

  // A factory that makes no cipher of a kind: nothing is kept.
  EXPECT_FALSE(codecs.Create(new LoggingFactory(&log), -1, false));
  EXPECT_EQ(codecs.keyFactory, nullptr);
  EXPECT_EQ(codecs.compressor, nullptr);
  EXPECT_EQ(log.back(), "factory");
}

}  // namespace
}  // namespace marrowgate
