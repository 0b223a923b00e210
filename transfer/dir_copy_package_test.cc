// The copy engine between the local disk and a package mounted by a
// FileManager: disk -> package -> disk gives back the same files and times.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "package/manager/file_manager.h"
#include "package/testing/fault_injection_testing.h"
#include "util/md5.h"
#include "package/testing/cipher_testing.h"
#include "package/testing/temp_folder_testing.h"
#include "package/seal/zlib_codec.h"
#include "platform/env.h"
#include "transfer/dir_copy.h"
#include "transfer/testing/copy_tree_testing.h"
#include "transfer/testing/recording_notify_testing.h"
#include "util/releaser.h"
#include "platform/file_tree.h"
#include "platform/testing/links_testing.h"

namespace marrowgate {
namespace {

using Events = std::vector<std::string>;

std::string Pattern(size_t n) {
  std::string text;
  uint32_t state = 12345;
  while (text.size() < n) {
    state = state * 1103515245u + 12345u;
    text += (state >> 28) < 4 ? static_cast<char>(state >> 16) : "word "[text.size() % 5];
  }
  return text;
}

class DirCopyPackageTest : public ::testing::Test {
 protected:
  DirCopyPackageTest()
      : disk_(CreateFileSystem()), codec_(CreateZlibCodec()), enc_(new XorTestCipher),
        dec_(new XorTestCipher) {
    config_.searchMode = 3;
    config_.fileSystem = disk_.get();
    config_.compressor = codec_.get();
    config_.cipherAEnc = enc_.get();
    config_.cipherADec = dec_.get();
    config_.keyA[0] = 'p';
    config_.keyA[1] = 'w';
    config_.keyALen = 2;
  }

  int32_t Copy(FileSystem* fs, const std::string& from, const std::string& to,
               RecordingNotify* sink, HeldBackNames delayed) {
    return CopyTreeForTest(fs, from, to, sink, 100000, kCopyFileTimes, delayed);
  }

  TestFolder folder_;
  Owned<FileSystem> disk_;
  Owned<ZlibCodec> codec_;
  Owned<CipherObject> enc_, dec_;
  FileManagerConfig config_;
};

TEST_F(DirCopyPackageTest, DiskIntoPackageAndBackOut) {
  const std::string big = Pattern(250000);
  platform::MakeFolder(folder_.Child("src").c_str());
  platform::MakeFolder(folder_.Child("src/sub").c_str());
  folder_.WriteFile("src/a.txt", "alpha");
  folder_.WriteFile("src/sub/big.bin", big);
  folder_.WriteFile("src/sub/empty", "");
  platform::SetFileTimes(folder_.Child("src/a.txt").c_str(), 1100000000, 1100000000);
  platform::SetFileTimes(folder_.Child("src/sub/big.bin").c_str(), 1300000000, 1300000000);
  const char* const delayed[] = {"a.txt", nullptr};
  const std::string inside = folder_.Child("pack/update");
  {
    Owned<FileManager> fm(new FileManager(config_));
    ASSERT_EQ(fm->EnsurePackage(folder_.Child("pack").c_str(), ".dpk", kOpenCreate), 0);
    RecordingNotify sink;
    ASSERT_EQ(Copy(fm.get(), folder_.Child("src"), inside, &sink, delayed), 0);
    EXPECT_EQ(sink.events[1], "SRCDIRSTAT 3 250005 1");
    EXPECT_EQ(sink.events.back(), "FILEEND");
    EXPECT_EQ(sink.events[sink.events.size() - 4], "LEAVEDIR " + folder_.Child("src"));
  }  // closing the file manager saves the package
  EXPECT_TRUE(platform::PathAccessible(folder_.Child("pack.dpk").c_str()));
  EXPECT_FALSE(platform::PathAccessible(folder_.Child("pack").c_str()));

  Owned<FileManager> fm(new FileManager(config_));
  RecordingNotify sink;
  const std::string out = folder_.Child("out");
  ASSERT_EQ(Copy(fm.get(), inside, out, &sink, delayed), 0);
  EXPECT_EQ(sink.events[1], "SRCDIRSTAT 3 250005 1");
  EXPECT_EQ(TestFolder::ReadFile(out + "/a.txt"), "alpha");
  EXPECT_EQ(TestFolder::ReadFile(out + "/sub/big.bin"), big);
  EXPECT_TRUE(platform::PathAccessible((out + "/sub/empty").c_str()));
  platform::NodeStatus status;
  ASSERT_TRUE(platform::StatusOf((out + "/a.txt").c_str(), &status, nullptr));
  EXPECT_EQ(status.modificationTime, 1100000000);
  ASSERT_TRUE(platform::StatusOf((out + "/sub/big.bin").c_str(), &status, nullptr));
  EXPECT_EQ(status.modificationTime, 1300000000);
}

// Records the targets whose content the copy vouches for.
class VerifyingNotify : public RecordingNotify {
 public:
  struct Verified {
    std::string target;
    uint32_t size;
    std::string digest;
    int32_t identical;
  };
  std::vector<Verified> verified;
  int32_t cb_VERIFIED(const char* target, uint32_t size, const uint8_t* digest,
                      int32_t identical) override {
    verified.push_back({target, size, std::string(digest, digest + 16), identical});
    return 0;
  }
};

std::string Md5Of(const std::string& content) {
  uint8_t digest[16];
  Md5Digest(content.data(), content.size(), digest);
  return std::string(digest, digest + 16);
}

// Items are unsealed slice by slice into their targets, each target's size
// and MD5 are reported once it is in place, and a second run of the same
// copy finds every target up to date and changes nothing but times.
TEST_F(DirCopyPackageTest, ItemsStreamAndASecondRunWritesNothing) {
  const std::string big = Pattern(6u << 20);
  platform::MakeFolder(folder_.Child("src").c_str());
  platform::MakeFolder(folder_.Child("src/sub").c_str());
  folder_.WriteFile("src/a.txt", "alpha");
  folder_.WriteFile("src/sub/big.bin", big);
  const std::string inside = folder_.Child("pack/update");
  {
    Owned<FileManager> fm(new FileManager(config_));
    ASSERT_EQ(fm->EnsurePackage(folder_.Child("pack").c_str(), ".dpk", kOpenCreate), 0);
    RecordingNotify sink;
    ASSERT_EQ(Copy(fm.get(), folder_.Child("src"), inside, &sink, nullptr), 0);
  }
  const std::string out = folder_.Child("out");
  auto run = [&](FileSystem* dst, VerifyingNotify* sink) {
    Owned<FileManager> fm(new FileManager(config_));
    DIRCP_PARAM_T params;
    params.pSrcFM = fm.get();
    params.pDstFM = dst != nullptr ? dst : fm.get();
    params.szSrcDir = inside.c_str();
    params.szDstDir = out.c_str();
    params.pNotify = sink;
    // One read of a whole-item source would give the whole item at once.
    params.nBufSize = 16 << 20;
    params.byFlags = kCopyFileTimes;
    Owned<dircp> engine(CreateDirCopy(0, nullptr));
    return engine->DoIt(params);
  };
  VerifyingNotify first;
  ASSERT_EQ(run(nullptr, &first), 0);
  EXPECT_EQ(TestFolder::ReadFile(out + "/sub/big.bin"), big);
  EXPECT_EQ(TestFolder::ReadFile(out + "/a.txt"), "alpha");
  int progress = 0;
  for (const std::string& event : first.events) progress += event.rfind("PROGRESS", 0) == 0;
  EXPECT_GE(progress, 6);  // the big item came in slices
  ASSERT_EQ(first.verified.size(), 2u);
  for (const auto& v : first.verified) {
    const std::string content = TestFolder::ReadFile(v.target);
    EXPECT_EQ(v.size, content.size());
    EXPECT_EQ(v.digest, Md5Of(content));
    EXPECT_EQ(v.identical, 0);
  }

  // Nothing may be written, flushed, moved or deleted the second time.
  platform::SetFileTimes((out + "/a.txt").c_str(), 1000000000, 1000000000);
  testing_faults::FaultPlan plan;
  plan.Arm(1, testing_faults::FaultPlan::Effect::kFail);
  Owned<FileManager> dstManager(new FileManager(config_));
  testing_faults::FaultFileSystem guarded(dstManager.get(), &plan);
  VerifyingNotify second;
  ASSERT_EQ(run(&guarded, &second), 0);
  EXPECT_FALSE(plan.tripped());
  for (const std::string& event : second.events) EXPECT_EQ(event.rfind("ERROR", 0), std::string::npos);
  ASSERT_EQ(second.verified.size(), 2u);
  for (const auto& v : second.verified) EXPECT_EQ(v.identical, 1) << v.target;
  EXPECT_EQ(TestFolder::ReadFile(out + "/sub/big.bin"), big);
  platform::NodeStatus status;
  ASSERT_TRUE(platform::StatusOf((out + "/a.txt").c_str(), &status, nullptr));
  EXPECT_NE(status.modificationTime, 1000000000);  // the item's time again

  // A link in a target's place is a name: even when what it leads to holds
  // the item's bytes, it is not read as the target but replaced by a file,
  // and what it led to stays as it was. What it leads to (a read-only
  // file, a folder) does not make the target read-only or a folder.
  const std::string elsewhere = folder_.WriteFile("elsewhere.txt", "alpha");
  ASSERT_TRUE(platform::SetWritable(elsewhere.c_str(), false));
  const std::string elsewhereFolder = folder_.Child("elsewhere_folder");
  platform::MakeFolder(elsewhereFolder.c_str());
  platform::RemoveFile((out + "/a.txt").c_str());
  platform::MakeTestLink(elsewhere, out + "/a.txt");
  // (Windows moves no file over a folder link, as over a folder.)
#ifndef _WIN32
  const bool folderLinked = true;
  platform::RemoveFile((out + "/sub/big.bin").c_str());
  platform::MakeTestLink(elsewhereFolder, out + "/sub/big.bin", true);
#else
  const bool folderLinked = false;
#endif
  VerifyingNotify third;
  ASSERT_EQ(run(nullptr, &third), 0);
  for (const std::string& event : third.events) EXPECT_EQ(event.rfind("ERROR", 0), std::string::npos);
  ASSERT_EQ(third.verified.size(), 2u);
  for (const auto& v : third.verified)
    EXPECT_EQ(v.identical, v.target == out + "/a.txt" || folderLinked ? 0 : 1) << v.target;
  for (const std::string& target : {out + "/a.txt", out + "/sub/big.bin"}) {
    ASSERT_TRUE(platform::LinkStatusOf(target.c_str(), &status, nullptr)) << target;
    EXPECT_EQ(status.kind, platform::NodeKind::kFile) << target;
  }
  EXPECT_EQ(TestFolder::ReadFile(out + "/sub/big.bin"), big);
  EXPECT_EQ(TestFolder::ReadFile(elsewhere), "alpha");
  ASSERT_TRUE(platform::LinkStatusOf(elsewhereFolder.c_str(), &status, nullptr));
  EXPECT_EQ(status.kind, platform::NodeKind::kFolder);
  platform::SetWritable(elsewhere.c_str(), true);
}

}  // namespace
}  // namespace marrowgate
