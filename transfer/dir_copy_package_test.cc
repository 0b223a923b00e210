// The copy engine between the local disk and a package mounted by a
// FileManager: disk -> package -> disk gives back the same files and times.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/manager/file_manager.h"
#include "package/testing/cipher_testing.h"
#include "package/testing/temp_folder_testing.h"
#include "package/seal/zlib_codec.h"
#include "platform/env.h"
#include "transfer/dir_copy.h"
#include "transfer/testing/recording_notify_testing.h"
#include "util/releaser.h"
#include "platform/file_tree.h"

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
    DIRCP_PARAM_T params;
    params.pSrcFM = fs;
    params.pDstFM = fs;
    params.szSrcDir = from.c_str();
    params.szDstDir = to.c_str();
    params.pNotify = sink;
    params.nBufSize = 100000;
    params.byFlags = kCopyFileTimes;
    params.byStatMode = kStatFromInfo;
    Owned<dircp> engine(CreateDirCopy(kDelayedDirCopy, delayed));
    return engine->DoIt(params);
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

}  // namespace
}  // namespace marrowgate
