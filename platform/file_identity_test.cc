#include "platform/file_identity.h"

#include <gtest/gtest.h>

#include <string>

namespace marrowgate::platform {
namespace {

std::string TempPath(const char* leaf) { return ::testing::TempDir() + "mg_identity_" + leaf; }

FileIdentity IdentityOf(const std::string& path) {
  FileIdentity identity;
  auto stream = FileStream::Open(path.c_str(), "rb");
  EXPECT_NE(stream, nullptr) << path;
  EXPECT_TRUE(IdentityOfStream(stream.get(), &identity)) << path;
  return identity;
}

TEST(FileIdentityTest, TwoPathsToOneFileShareTheIdentity) {
  const std::string path = TempPath("one.bin");
  const std::string other = TempPath("two.bin");
  ASSERT_NE(FileStream::Open(path.c_str(), "wb"), nullptr);
  ASSERT_NE(FileStream::Open(other.c_str(), "wb"), nullptr);
  const FileIdentity first = IdentityOf(path);
#ifdef _WIN32
  // "C:/users/..." names the same file as "C:\users\...".
  std::string spelled = path;
  for (char& c : spelled) {
    if (c == '\\') c = '/';
  }
#else
  const std::string spelled = "/" + path;  // "//tmp/..." names the same file
#endif
  EXPECT_EQ(IdentityOf(spelled), first);
  EXPECT_EQ(IdentityOf(path), first);        // and so does a second stream
  EXPECT_NE(IdentityOf(other), first);
  // By path, without opening: the same identities.
  FileIdentity byPath;
  ASSERT_TRUE(IdentityOfPath(spelled.c_str(), &byPath));
  EXPECT_EQ(byPath, first);
  ASSERT_TRUE(IdentityOfPath(other.c_str(), &byPath));
  EXPECT_EQ(byPath, IdentityOf(other));

  FileIdentity none;
  EXPECT_FALSE(IdentityOfStream(nullptr, &none));
  RemoveFile(path.c_str());
  RemoveFile(other.c_str());
  EXPECT_FALSE(IdentityOfPath(path.c_str(), &none));
  EXPECT_FALSE(IdentityOfPath(nullptr, &none));
}

}  // namespace
}  // namespace marrowgate::platform
