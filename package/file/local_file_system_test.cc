#include "package/file/local_file_system.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "package/testing/temp_folder_testing.h"
#include "platform/env.h"
#include "util/md5.h"
#include "util/releaser.h"
#include "platform/testing/links_testing.h"

namespace marrowgate {
namespace {

std::set<std::string> ListNames(DirListing* listing, std::set<std::string>* folders = nullptr) {
  std::set<std::string> names;
  while (const ListingEntry* entry = listing->Next()) {
    names.insert(entry->name);
    if (folders != nullptr && entry->isFolder) folders->insert(entry->name);
    EXPECT_EQ(entry->value, 0u);
  }
  return names;
}

TEST(LocalFileSystemTest, OpenModes) {
  TestFolder folder;
  Owned<FileSystem> fs(CreateFileSystem());
  std::string path = folder.Child("f.txt");
  EXPECT_EQ(fs->Open(path.c_str(), kOpenRead), nullptr);  // missing
  EXPECT_EQ(fs->Open(path.c_str(), kOpenUpdate), nullptr);
  {
    Owned<VirtualFile> created(fs->Open(path.c_str(), kOpenCreate));
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(created->Write("abc", 3), 3);
  }
  EXPECT_EQ(fs->Open(path.c_str(), kOpenRaw), nullptr);
  EXPECT_EQ(fs->Open(path.c_str(), 0), nullptr);
  {
    Owned<VirtualFile> updated(fs->Open(path.c_str(), kOpenUpdate));
    ASSERT_NE(updated, nullptr);
    EXPECT_EQ(updated->Size(), 3);
    updated->Seek(0, 2);
    updated->Write("d", 1);
  }
  Owned<VirtualFile> read(fs->Open(path.c_str(), kOpenRead));
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(read->Size(), 4);
  EXPECT_EQ(read->Write("z", 1), 0);  // read-only stream
  // Backslashes separate components too.
  std::string backslashed = folder.path() + "\\f.txt";
  Owned<VirtualFile> viaBackslash(fs->Open(backslashed.c_str(), kOpenRead));
  EXPECT_NE(viaBackslash, nullptr);
}

TEST(LocalFileSystemTest, PathLongerThanLimitIsRefused) {
  Owned<FileSystem> fs(CreateFileSystem());
  std::string tooLong(kMaxDiskPath + 1, 'p');
  FileInfo info;
  EXPECT_EQ(fs->Open(tooLong.c_str(), kOpenCreate), nullptr);
  EXPECT_EQ(fs->Stat(tooLong.c_str(), &info), -4);
  EXPECT_LT(fs->MakeFolder(tooLong.c_str()), 0);
  EXPECT_FALSE(fs->Exists(tooLong.c_str()));
  EXPECT_FALSE(fs->IsFolder(tooLong.c_str()));
  Owned<DirListing> listing(fs->OpenListing(tooLong.c_str()));
  ASSERT_NE(listing, nullptr);
  EXPECT_EQ(listing->Next(), nullptr);
}

TEST(LocalFileSystemTest, ListingIncludesDotsAndMarksFolders) {
  TestFolder folder;
  Owned<FileSystem> fs(CreateFileSystem());
  folder.WriteFile("a.txt", "1");
  ASSERT_EQ(fs->MakeFolder(folder.Child("sub").c_str()), 0);
  Owned<DirListing> listing(fs->OpenListing(folder.path().c_str()));
  ASSERT_NE(listing, nullptr);
  EXPECT_EQ(std::string(listing->BasePath()), folder.path());
  std::set<std::string> folders;
  EXPECT_EQ(ListNames(listing.get(), &folders), (std::set<std::string>{".", "..", "a.txt", "sub"}));
  EXPECT_EQ(folders, (std::set<std::string>{".", "..", "sub"}));
  EXPECT_EQ(listing->Next(), nullptr);  // stays at the end
  listing->Rewind();
  EXPECT_EQ(ListNames(listing.get()).size(), 4u);
}

TEST(LocalFileSystemTest, MissingFolderListsNothing) {
  TestFolder folder;
  Owned<FileSystem> fs(CreateFileSystem());
  Owned<DirListing> listing(fs->OpenListing(folder.Child("missing").c_str()));
  ASSERT_NE(listing, nullptr);
  EXPECT_EQ(listing->Next(), nullptr);
  std::string file = folder.WriteFile("plain", "x");
  Owned<DirListing> ofFile(fs->OpenListing(file.c_str()));
  ASSERT_NE(ofFile, nullptr);
  EXPECT_EQ(ofFile->Next(), nullptr);
}

TEST(LocalFileSystemTest, MakeFolderBuildsEachLevel) {
  TestFolder folder;
  Owned<FileSystem> fs(CreateFileSystem());
  std::string nested = folder.path() + "/a/b\\c/d/";
  EXPECT_EQ(fs->MakeFolder(nested.c_str()), 0);
  EXPECT_TRUE(fs->IsFolder(folder.Child("a/b/c/d").c_str()));
  EXPECT_EQ(fs->MakeFolder(nested.c_str()), 0);  // already there
  EXPECT_EQ(fs->MakeFolder(""), 0);
  std::string file = folder.WriteFile("file", "x");
  EXPECT_EQ(fs->MakeFolder(file.c_str()), -1);  // exists, but not as a folder
  EXPECT_EQ(fs->MakeFolder((file + "/below").c_str()), -2);
}

TEST(LocalFileSystemTest, MakeParentFolder) {
  TestFolder folder;
  Owned<FileSystem> fs(CreateFileSystem());
  EXPECT_EQ(fs->MakeParentFolder("no-folder-part.txt"), 0);
  std::string target = folder.path() + "/x/y/z.txt";
  EXPECT_EQ(fs->MakeParentFolder(target.c_str()), 0);
  EXPECT_TRUE(fs->IsFolder(folder.Child("x/y").c_str()));
  EXPECT_FALSE(fs->Exists(target.c_str()));
  EXPECT_EQ(fs->MakeParentFolder(target.c_str()), 0);
}

TEST(LocalFileSystemTest, StatFlagsSizeAndTime) {
  TestFolder folder;
  Owned<FileSystem> fs(CreateFileSystem());
  std::string file = folder.WriteFile("s.bin", "12345");
  ASSERT_TRUE(platform::SetFileTimes(file.c_str(), 1234567890, 1234567890));
  FileInfo info;
  info.flags = 0x70;
  ASSERT_EQ(fs->Stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.flags, 0);
  EXPECT_EQ(info.size, 5);
  EXPECT_EQ(info.time, 1234567890);

  ASSERT_TRUE(platform::SetWritable(file.c_str(), false));
  ASSERT_EQ(fs->Stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.flags, kFileInfoReadOnly);
  platform::SetWritable(file.c_str(), true);

  FileInfo folderInfo;
  folderInfo.size = 77;
  ASSERT_EQ(fs->Stat(folder.path().c_str(), &folderInfo), 0);
  EXPECT_EQ(folderInfo.flags & kFileInfoFolder, kFileInfoFolder);
  EXPECT_EQ(folderInfo.size, 77);  // not set for folders

  // A missing name: -1, or -2 for a drive path ("c:/..."), which is tried
  // again with '/' appended first.
  const int missing = folder.path().size() >= 2 && folder.path()[1] == ':' ? -2 : -1;

  // A link is described by what it leads to, and marked as a link; where
  // the system made none, the name is missing.
  if (platform::MakeTestLink(file, folder.Child("s.link"))) {
    ASSERT_EQ(fs->Stat(folder.Child("s.link").c_str(), &info), 0);
    EXPECT_EQ(info.flags, kFileInfoLink);
    EXPECT_EQ(info.size, 5);
  } else {
    EXPECT_EQ(fs->Stat(folder.Child("s.link").c_str(), &info), missing);
  }

  EXPECT_EQ(fs->Stat(folder.Child("none").c_str(), &info), missing);
  EXPECT_EQ(fs->Stat(folder.Child("none/").c_str(), &info), -3);
  // Drive-style texts are retried with '/' appended (and fail here).
  EXPECT_EQ(fs->Stat("q:", &info), -2);
}

TEST(LocalFileSystemTest, IsFolderRetriesWithoutTrailingSeparators) {
  TestFolder folder;
  Owned<FileSystem> fs(CreateFileSystem());
  std::string file = folder.WriteFile("f", "x");
  EXPECT_TRUE(fs->IsFolder(folder.path().c_str()));
  EXPECT_TRUE(fs->IsFolder((folder.path() + "//").c_str()));
  EXPECT_FALSE(fs->IsFolder(file.c_str()));
  EXPECT_FALSE(fs->IsFolder(folder.Child("none").c_str()));
  EXPECT_FALSE(fs->IsFolder("q:"));
}

TEST(LocalFileSystemTest, ExistsAndDelete) {
  TestFolder folder;
  Owned<FileSystem> fs(CreateFileSystem());
  EXPECT_TRUE(fs->Exists(""));
  std::string file = folder.WriteFile("gone", "x");
  EXPECT_TRUE(fs->Exists(file.c_str()));
  EXPECT_EQ(fs->DeleteFile(file.c_str()), 0);
  EXPECT_FALSE(fs->Exists(file.c_str()));
  EXPECT_EQ(fs->DeleteFile(file.c_str()), -1);

  std::string sub = folder.Child("sub");
  ASSERT_EQ(fs->MakeFolder(sub.c_str()), 0);
  folder.WriteFile("sub/inside", "x");
  EXPECT_EQ(fs->DeleteFolder(sub.c_str()), -1);  // not empty
  EXPECT_EQ(fs->DeleteFile((sub + "/inside").c_str()), 0);
  EXPECT_EQ(fs->DeleteFolder(sub.c_str()), 0);
  EXPECT_FALSE(fs->Exists(sub.c_str()));
}

TEST(LocalFileSystemTest, DigestOfFilesOnDisk) {
  TestFolder folder;
  Owned<FileSystem> fs(CreateFileSystem());
  std::string empty = folder.WriteFile("empty", "");
  Owned<VirtualFile> file(fs->Open(empty.c_str(), kOpenRead));
  ASSERT_NE(file, nullptr);
  uint8_t digest[16];
  ASSERT_EQ(file->Digest(digest), 0);
  const uint8_t kNothing[16] = {0xd4, 0x1d, 0x8c, 0xd9, 0x8f, 0x00, 0xb2, 0x04,
                                0xe9, 0x80, 0x09, 0x98, 0xec, 0xf8, 0x42, 0x7e};
  EXPECT_EQ(0, memcmp(digest, kNothing, 16));

  // A known answer (RFC 1321 test suite).
  std::string digits;
  for (int i = 0; i < 8; ++i) digits += "1234567890";
  Owned<VirtualFile> digitFile(fs->Open(folder.WriteFile("digits", digits).c_str(), kOpenRead));
  ASSERT_NE(digitFile, nullptr);
  const uint8_t kDigits[16] = {0x57, 0xed, 0xf4, 0xa2, 0x2b, 0xe3, 0xc9, 0x55,
                               0xac, 0x49, 0xda, 0x2e, 0x21, 0x07, 0xb6, 0x7a};
  ASSERT_EQ(digitFile->Digest(digest), 0);
  EXPECT_EQ(0, memcmp(digest, kDigits, 16));

  // Content over several 4096-byte pieces is digested whole, from offset 0
  // whatever the position.
  std::string big;
  for (int i = 0; big.size() < 10000; ++i) big += std::to_string(i) + ",";
  Owned<VirtualFile> bigFile(fs->Open(folder.WriteFile("big", big).c_str(), kOpenRead));
  ASSERT_NE(bigFile, nullptr);
  uint8_t expected[16];
  Md5Digest(big.data(), big.size(), expected);
  ASSERT_EQ(bigFile->Seek(5000, 0), 0);
  uint8_t whole[16];
  ASSERT_EQ(bigFile->Digest(whole), 0);
  EXPECT_EQ(0, memcmp(whole, expected, 16));
  uint8_t differs[16];
  Md5Digest(big.data(), big.size() - 1, differs);
  EXPECT_NE(0, memcmp(whole, differs, 16));
}

}  // namespace
}  // namespace marrowgate
