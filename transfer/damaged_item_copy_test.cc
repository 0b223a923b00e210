// The copy engine never copies a damaged package item as good: the item's
// content no longer matches its stored digest, so its last read fails and
// the engine reports a read error for it, and what it was to replace stays.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "package/manager/file_manager.h"
#include "package/testing/cipher_testing.h"
#include "package/testing/temp_folder_testing.h"
#include "package/seal/zlib_codec.h"
#include "platform/env.h"
#include "transfer/dir_copy.h"
#include "transfer/testing/copy_tree_testing.h"
#include "transfer/testing/recording_notify_testing.h"
#include "util/byte_order.h"
#include "util/md5.h"
#include "util/releaser.h"

namespace marrowgate {
namespace {

class DamagedItemCopyTest : public ::testing::Test {
 protected:
  DamagedItemCopyTest()
      : disk_(CreateFileSystem()), codec_(CreateZlibCodec()), enc_(new XorTestCipher),
        dec_(new XorTestCipher) {
    config_.searchMode = 3;
    config_.fileSystem = disk_.get();
    config_.compressor = codec_.get();
    config_.cipherAEnc = enc_.get();
    config_.cipherADec = dec_.get();
    config_.keyA[0] = 'k';
    config_.keyALen = 1;
  }

  // Copies through `fm`, or through a new file manager when it is null.
  int32_t Copy(const std::string& from, const std::string& to, RecordingNotify* sink,
               FileManager* fm = nullptr, HeldBackNames delayed = nullptr) {
    Owned<FileManager> own;
    if (fm == nullptr) {
      own.reset(new FileManager(config_));
      fm = own.get();
    }
    return CopyTreeForTest(fm, from, to, sink, 1000, 0, delayed);
  }

  TestFolder folder_;
  Owned<FileSystem> disk_;
  Owned<ZlibCodec> codec_;
  Owned<CipherObject> enc_, dec_;
  FileManagerConfig config_;
};

TEST_F(DamagedItemCopyTest, ItemNotMatchingItsDigestIsAReadError) {
  std::string good = "good item\n";
  std::string text;
  for (int i = 0; i < 500; ++i) text += "line " + std::to_string(i) + " of the damaged item\n";
  platform::MakeFolder(folder_.Child("src").c_str());
  folder_.WriteFile("src/good.txt", good);
  folder_.WriteFile("src/text.txt", text);
  const std::string inside = folder_.Child("pack/update");
  {
    Owned<FileManager> fm(new FileManager(config_));
    ASSERT_EQ(fm->EnsurePackage(folder_.Child("pack").c_str(), ".dpk", kOpenCreate), 0);
    RecordingNotify sink;
    ASSERT_EQ(Copy(folder_.Child("src"), inside, &sink, fm.get()), 0);
  }

  // The stored digest sits in the item's header unenciphered: flip a bit.
  uint8_t digest[16];
  Md5Digest(reinterpret_cast<const uint8_t*>(text.data()), text.size(), digest);
  const std::string packagePath = folder_.Child("pack.dpk");
  std::string bytes = TestFolder::ReadFile(packagePath);
  auto at = std::search(bytes.begin(), bytes.end(), digest, digest + 16,
                        [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; });
  ASSERT_NE(at, bytes.end());
  *at = static_cast<char>(*at ^ 0x01);
  folder_.WriteFile("pack.dpk", bytes);

  RecordingNotify sink;
  const std::string out = folder_.Child("out");
  EXPECT_EQ(Copy(inside, out, &sink), 0);  // this sink goes on after errors
  const std::string error = "ERROR -3 ERROR reading file " + inside + "/text.txt!";
  EXPECT_NE(std::find(sink.events.begin(), sink.events.end(), error), sink.events.end());
  EXPECT_EQ(TestFolder::ReadFile(out + "/good.txt"), good);
  EXPECT_NE(TestFolder::ReadFile(out + "/text.txt"), text);

  // Into a package, whose items are dropped when opened for writing: the
  // damaged item leaves the item it was to replace as it was.
  const std::string old_text = "the installed text\n";
  const std::string into = folder_.Child("installed/update");
  {
    Owned<FileManager> fm(new FileManager(config_));
    ASSERT_EQ(fm->EnsurePackage(folder_.Child("installed").c_str(), ".dpk", kOpenCreate), 0);
    Owned<VirtualFile> item(fm->Open((into + "/text.txt").c_str(), kOpenCreate));
    ASSERT_TRUE(item);
    ASSERT_EQ(item->Write(old_text.data(), static_cast<int32_t>(old_text.size())),
              static_cast<int32_t>(old_text.size()));
  }
  {
    Owned<FileManager> fm(new FileManager(config_));
    ASSERT_EQ(fm->EnsurePackage(folder_.Child("installed").c_str(), ".dpk", kOpenUpdate), 0);
    RecordingNotify into_package;
    EXPECT_EQ(Copy(inside, into, &into_package, fm.get()), 0);
    EXPECT_NE(std::find(into_package.events.begin(), into_package.events.end(), error),
              into_package.events.end());
  }
  {
    Owned<FileManager> fm(new FileManager(config_));
    Owned<VirtualFile> item(fm->Open((into + "/text.txt").c_str(), kOpenRead));
    ASSERT_TRUE(item);
    std::string got(static_cast<size_t>(item->Size()), '\0');
    ASSERT_EQ(item->Read(got.data(), static_cast<int32_t>(got.size())),
              static_cast<int32_t>(got.size()));
    EXPECT_EQ(got, old_text);
    EXPECT_TRUE(fm->Exists((into + "/good.txt").c_str()));
  }

  // A sink that stops at read errors ends the run with the engine's code.
  RecordingNotify stopping;
  stopping.answer = [](const std::string& e) { return e.rfind("ERROR -3 ", 0) == 0 ? 1 : 0; };
  EXPECT_EQ(Copy(inside, folder_.Child("out2"), &stopping), -1021);
}

// A held-back item the package lists but cannot give (its block chain
// loops) is an error like any other item's, not a name the source lacks.
TEST_F(DamagedItemCopyTest, HeldBackItemWithALoopingChainIsAnError) {
  std::string noise;
  uint32_t x = 12345;
  for (int i = 0; i < 4000; ++i) {
    x = x * 1103515245u + 12345u;
    noise.push_back(static_cast<char>(x >> 24));
  }
  platform::MakeFolder(folder_.Child("src").c_str());
  folder_.WriteFile("src/good.txt", "good item\n");
  folder_.WriteFile("src/late.bin", noise);
  const std::string inside = folder_.Child("pack/update");
  uint32_t first = 0;
  {
    Owned<FileManager> fm(new FileManager(config_));
    ASSERT_EQ(fm->EnsurePackage(folder_.Child("pack").c_str(), ".dpk", kOpenCreate), 0);
    RecordingNotify sink;
    ASSERT_EQ(Copy(folder_.Child("src"), inside, &sink, fm.get()), 0);
    Package* package = fm->FindPackage(inside.c_str(), false, nullptr);
    ASSERT_NE(package, nullptr);
    Owned<VirtualFile> item(package->OpenItem("update/late.bin", kOpenRead, &first));
    ASSERT_TRUE(item);
  }
  const std::string packagePath = folder_.Child("pack.dpk");
  std::string bytes = TestFolder::ReadFile(packagePath);
  const size_t block = static_cast<size_t>(config_.blockSize);
  auto* at = reinterpret_cast<uint8_t*>(bytes.data());
  const uint32_t second = LoadLe32(at + first * block + 4);
  ASSERT_NE(second, 0u);
  StoreLe32(first, at + second * block + 4);  // the second block leads back
  folder_.WriteFile("pack.dpk", bytes);

  const char* const delayed[] = {"late.bin", "absent.bin", nullptr};
  RecordingNotify sink;
  EXPECT_EQ(Copy(inside, folder_.Child("out"), &sink, nullptr, delayed), 0);
  // Read as it is stored, the item turns out damaged only while it is read.
  EXPECT_EQ(sink.events.back(), "ERROR -3 ERROR reading file " + inside + "/late.bin!");
  EXPECT_EQ(TestFolder::ReadFile(folder_.Child("out/good.txt")), "good item\n");
  EXPECT_FALSE(platform::PathAccessible(folder_.Child("out/late.bin").c_str()));
  RecordingNotify stopping;
  stopping.answer = [](const std::string& e) { return e.rfind("ERROR -3 ", 0) == 0 ? 1 : 0; };
  EXPECT_EQ(Copy(inside, folder_.Child("out2"), &stopping, nullptr, delayed), -4021);
}

}  // namespace
}  // namespace marrowgate
