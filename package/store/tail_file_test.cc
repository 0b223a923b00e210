#include "package/store/tail_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "package/store/layout.h"
#include "package/file/local_file_system.h"
#include "package/testing/temp_folder_testing.h"
#include "util/md5.h"
#include "util/releaser.h"

namespace marrowgate {
namespace {

std::string RecordBytes(uint32_t baseOffset, uint32_t dataSize, uint32_t time = 0) {
  TailRecord record;
  record.baseOffset = baseOffset;
  record.dataSize = dataSize;
  record.time = time;
  uint8_t bytes[kTailRecordSize];
  EncodeTailRecord(record, bytes);
  return std::string(reinterpret_cast<char*>(bytes), kTailRecordSize);
}

std::string PackageHeaderBytes() {
  uint8_t digest[16] = {};
  PackageHeader header = NewPackageHeader(kDefaultBlockSize, digest);
  uint8_t bytes[kPackageHeaderSize];
  EncodePackageHeader(header, bytes);
  return std::string(reinterpret_cast<char*>(bytes), kPackageHeaderSize);
}

TailRecord RecordAt(const std::string& content, size_t at) {
  TailRecord record;
  EXPECT_GE(content.size(), at + kTailRecordSize);
  EXPECT_TRUE(DecodeTailRecord(reinterpret_cast<const uint8_t*>(content.data()) + at, &record));
  return record;
}

class TailFileTest : public ::testing::Test {
 protected:
  VirtualFile* OpenHost(const std::string& path, int mode = kOpenUpdate) {
    return fs_->Open(path.c_str(), mode);
  }
  TestFolder folder_;
  Owned<FileSystem> fs_{CreateFileSystem()};
};

TEST_F(TailFileTest, AttachArgumentChecks) {
  std::string path = folder_.WriteFile("h", "host");
  Owned<TailFile> tail(new TailFile);
  EXPECT_EQ(tail->Attach(nullptr, false, kOpenUpdate), -2);
  EXPECT_EQ(tail->Attach(OpenHost(path), true, kOpenRaw), -3);
  EXPECT_TRUE(tail->attached());  // released by Detach
  EXPECT_EQ(tail->Detach(), 0);
  ASSERT_EQ(tail->Attach(OpenHost(path), true, kOpenUpdate), 0);
  Owned<VirtualFile> second(OpenHost(path));
  EXPECT_EQ(tail->Attach(second.get(), false, kOpenUpdate), -1);
}

TEST_F(TailFileTest, ShortHostHasNoRecord) {
  std::string path = folder_.WriteFile("short", std::string(63, 'h'));
  {
    Owned<TailFile> tail(new TailFile);
    EXPECT_EQ(tail->Attach(OpenHost(path, kOpenRead), true, kOpenRead), -10);
    EXPECT_TRUE(tail->attached());  // released by destruction
  }
  for (int mode : {kOpenCreate, kOpenUpdate}) {
    std::string host = folder_.WriteFile("short" + std::to_string(mode), "0123456789");
    Owned<TailFile> tail(new TailFile);
    ASSERT_EQ(tail->Attach(OpenHost(host), true, mode), 0);
    EXPECT_EQ(tail->Size(), 0);
    EXPECT_EQ(tail->Tell(), 0);
    EXPECT_TRUE(tail->AtEnd());
    EXPECT_EQ(tail->Write("abc", 3), 3);  // lands after the host content
    EXPECT_EQ(tail->Size(), 3);
    EXPECT_EQ(tail->Detach(), 0);
    std::string content = TestFolder::ReadFile(host);
    ASSERT_EQ(content.size(), 10u + 3 + kTailRecordSize);
    EXPECT_EQ(content.substr(0, 13), "0123456789abc");
    TailRecord record = RecordAt(content, 13);
    EXPECT_EQ(record.baseOffset, 10u);
    EXPECT_EQ(record.dataSize, 3u);
  }
}

TEST_F(TailFileTest, RecordWithReservedWordSetIsNotRecognised) {
  std::string host = std::string(100, 'h') + "window";
  std::string record = RecordBytes(100, 6);
  record[17] = 1;  // reserved word at offset 16
  std::string path = folder_.WriteFile("bad", host + record);
  Owned<TailFile> reader(new TailFile);
  EXPECT_EQ(reader->Attach(OpenHost(path, kOpenRead), true, kOpenRead), -10);
  // In update mode a fresh window starts after the whole file.
  Owned<TailFile> updater(new TailFile);
  ASSERT_EQ(updater->Attach(OpenHost(path), true, kOpenUpdate), 0);
  EXPECT_EQ(updater->record().baseOffset, host.size() + kTailRecordSize);
  EXPECT_EQ(updater->Size(), 0);
}

TEST_F(TailFileTest, RecordNamingBytesTheHostLacksIsRefused) {
  const std::string host = std::string(100, 'h') + "window";
  // Windows that end inside the record or far past the host's end.
  for (uint32_t base : {100u, 0xF0000000u}) {
    for (uint32_t size : {7u, 0x60000000u}) {
      std::string path = folder_.WriteFile("far", host + RecordBytes(base, size));
      for (int mode : {kOpenRead, kOpenCreate, kOpenUpdate}) {
        Owned<TailFile> tail(new TailFile);
        EXPECT_EQ(tail->Attach(OpenHost(path, mode == kOpenRead ? kOpenRead : kOpenUpdate), true,
                               mode),
                  -11)
            << base << " " << size << " mode " << mode;
        EXPECT_EQ(tail->Write("x", 1), -1);
        EXPECT_EQ(tail->Detach(), 0);
        EXPECT_EQ(TestFolder::ReadFile(path), host + RecordBytes(base, size));
      }
      Owned<VirtualFile> file(OpenHost(path, kOpenRead));
      EXPECT_EQ(ProbePackage(file.get()), 0);
    }
  }
}

TEST_F(TailFileTest, ReadsStopAtTheWindowEnd) {
  std::string path = folder_.WriteFile("r", std::string(70, 'h') + "WINDOW" + RecordBytes(70, 6, 777));
  Owned<TailFile> tail(new TailFile);
  ASSERT_EQ(tail->Attach(OpenHost(path, kOpenRead), true, kOpenRead), 0);
  EXPECT_EQ(tail->Size(), 6);
  EXPECT_EQ(tail->GetTime(), 777);
  char buffer[100];
  EXPECT_EQ(tail->Read(buffer, sizeof(buffer)), 6);
  EXPECT_EQ(std::string(buffer, 6), "WINDOW");
  EXPECT_TRUE(tail->AtEnd());
  EXPECT_EQ(tail->Read(buffer, sizeof(buffer)), 0);  // the record is not handed out
  ASSERT_EQ(tail->Seek(20, 0), 0);  // past the end
  EXPECT_EQ(tail->Tell(), 20);
  EXPECT_EQ(tail->Read(buffer, sizeof(buffer)), 0);
  ASSERT_EQ(tail->Seek(-2, 2), 0);
  EXPECT_EQ(tail->Read(buffer, sizeof(buffer)), 2);
  EXPECT_EQ(std::string(buffer, 2), "OW");
  ASSERT_EQ(tail->Seek(-100, 1), 0);  // negative target becomes 0
  EXPECT_EQ(tail->Tell(), 0);
  EXPECT_EQ(tail->Seek(0, 3), -1);
  EXPECT_EQ(tail->Write("x", 1), -1);  // read mode
  uint8_t digest[16];
  uint8_t expected[16];
  ASSERT_EQ(tail->Digest(digest), 0);
  Md5Digest("WINDOW", 6, expected);
  EXPECT_EQ(0, std::memcmp(digest, expected, 16));
}

TEST_F(TailFileTest, HugeSeekOffsetsDoNotOverflow) {
  const std::string path = folder_.WriteFile("host.bin", std::string(100, 'h'));
  Owned<TailFile> tail(new TailFile);
  ASSERT_EQ(0, tail->Attach(OpenHost(path), true, kOpenUpdate));
  ASSERT_EQ(3, tail->Write("abc", 3));
  for (int origin : {1, 2}) {
    SCOPED_TRACE(origin);
    ASSERT_EQ(0, tail->Seek(1, 0));
    // The host may refuse so far a position; if it takes it, the position
    // lies past the window and did not wrap round to its start.
    const int32_t result = tail->Seek(INT64_MAX, origin);
    if (result == 0) {
      EXPECT_GT(tail->Tell(), 3);
      EXPECT_TRUE(tail->AtEnd());
      char c = 0;
      EXPECT_EQ(tail->Read(&c, 1), 0);
    } else {
      EXPECT_LT(result, 0);
    }
  }
  EXPECT_EQ(0, tail->Seek(INT64_MIN, 2));
  EXPECT_EQ(tail->Tell(), 0);
  char back[3] = {};
  EXPECT_EQ(tail->Read(back, 3), 3);
  EXPECT_EQ(std::string(back, 3), "abc");
}

TEST_F(TailFileTest, UpdateKeepsTheWindowAndMovesTheRecord) {
  std::string path = folder_.WriteFile("u", std::string(80, 'h') + "abc" + RecordBytes(80, 3));
  {
    Owned<TailFile> tail(new TailFile);
    ASSERT_EQ(tail->Attach(OpenHost(path), true, kOpenUpdate), 0);
    EXPECT_EQ(tail->Size(), 3);
    ASSERT_EQ(tail->Seek(0, 2), 0);
    EXPECT_EQ(tail->Write("defg", 4), 4);
    EXPECT_EQ(tail->SetTime(0), 0);
    EXPECT_EQ(tail->GetTime(), 0);  // 0 stays 0
  }
  std::string content = TestFolder::ReadFile(path);
  ASSERT_EQ(content.size(), 80u + 7 + kTailRecordSize);
  EXPECT_EQ(content.substr(80, 7), "abcdefg");
  EXPECT_EQ(RecordAt(content, 87).dataSize, 7u);
}

TEST_F(TailFileTest, ShorterRecreatedWindowWritesTheRecordTwice) {
  std::string host(100, 'h');
  std::string path = folder_.WriteFile("c", host + std::string(500, 'w') + RecordBytes(100, 500));
  {
    Owned<TailFile> tail(new TailFile);
    ASSERT_EQ(tail->Attach(OpenHost(path), true, kOpenCreate), 0);
    EXPECT_EQ(tail->Size(), 0);
    EXPECT_EQ(tail->Write(std::string(200, 'n').data(), 200), 200);
    EXPECT_EQ(tail->Detach(), 0);
  }
  std::string content = TestFolder::ReadFile(path);
  ASSERT_EQ(content.size(), 100u + 500 + kTailRecordSize);  // the host keeps its length
  EXPECT_EQ(RecordAt(content, 300).dataSize, 200u);
  TailRecord last = RecordAt(content, content.size() - kTailRecordSize);
  EXPECT_EQ(last.baseOffset, 100u);
  EXPECT_EQ(last.dataSize, 200u);
  Owned<TailFile> reader(new TailFile);
  ASSERT_EQ(reader->Attach(OpenHost(path, kOpenRead), true, kOpenRead), 0);
  EXPECT_EQ(reader->Size(), 200);
}

TEST_F(TailFileTest, UpdateOfAHostWithBytesAfterItsWindowKeepsARecordAtTheEnd) {
  // One byte sits between the window and the record (the record is valid
  // but not right after its window).
  std::string path =
      folder_.WriteFile("gap", std::string(50, 'h') + "window" + "X" + RecordBytes(50, 6));
  {
    Owned<TailFile> tail(new TailFile);
    ASSERT_EQ(tail->Attach(OpenHost(path), true, kOpenUpdate), 0);
    EXPECT_EQ(tail->Size(), 6);
    ASSERT_EQ(tail->Seek(0, 0), 0);
    EXPECT_EQ(tail->Write("W", 1), 1);
    EXPECT_EQ(tail->Detach(), 0);
  }
  std::string content = TestFolder::ReadFile(path);
  TailRecord last = RecordAt(content, content.size() - kTailRecordSize);
  EXPECT_EQ(last.baseOffset, 50u);
  EXPECT_EQ(last.dataSize, 6u);
  Owned<TailFile> reader(new TailFile);
  ASSERT_EQ(reader->Attach(OpenHost(path, kOpenRead), true, kOpenRead), 0);
  char window[8] = {};
  EXPECT_EQ(reader->Read(window, sizeof window), 6);
  EXPECT_STREQ(window, "Window");
}

TEST_F(TailFileTest, UpdateGrowingTowardsTheOldRecordKeepsARecordAtTheEnd) {
  // The window grows into the bytes before the old record; the record
  // after it and the one at the host's end overlap.
  std::string path =
      folder_.WriteFile("grow", std::string(20, 'h') + "ab" + std::string(100, 'g') +
                                    RecordBytes(20, 2));
  {
    Owned<TailFile> tail(new TailFile);
    ASSERT_EQ(tail->Attach(OpenHost(path), true, kOpenUpdate), 0);
    ASSERT_EQ(tail->Seek(0, 2), 0);
    EXPECT_EQ(tail->Write(std::string(50, 'n').data(), 50), 50);
  }
  std::string content = TestFolder::ReadFile(path);
  ASSERT_EQ(content.size(), 20u + 2 + 100 + kTailRecordSize);
  TailRecord last = RecordAt(content, content.size() - kTailRecordSize);
  EXPECT_EQ(last.dataSize, 52u);
  Owned<TailFile> reader(new TailFile);
  ASSERT_EQ(reader->Attach(OpenHost(path, kOpenRead), true, kOpenRead), 0);
  EXPECT_EQ(reader->Size(), 52);
}

TEST_F(TailFileTest, DetachReportsARecordThatCouldNotBeWritten) {
  std::string path = folder_.WriteFile("ro", std::string(10, 'h'));
  Owned<VirtualFile> readOnlyHost(OpenHost(path, kOpenRead));
  ASSERT_NE(readOnlyHost, nullptr);
  Owned<TailFile> tail(new TailFile);
  ASSERT_EQ(tail->Attach(readOnlyHost.get(), false, kOpenUpdate), 0);
  EXPECT_LE(tail->Write("abc", 3), 0);  // the stream refuses
  EXPECT_LT(tail->Detach(), 0);
  EXPECT_FALSE(tail->attached());
  EXPECT_EQ(TestFolder::ReadFile(path), std::string(10, 'h'));
  EXPECT_EQ(tail->Detach(), 0);  // nothing left to do
}

TEST_F(TailFileTest, ProbeTellsPackagesApart) {
  std::string header = PackageHeaderBytes();
  std::string plain = folder_.WriteFile("plain.dpk", header + std::string(864, '\0'));
  std::string exe(300, 'x');
  std::string withPackage = folder_.WriteFile("with", exe + header + RecordBytes(300, 160));
  std::string without = folder_.WriteFile("without", exe);
  // A host whose window holds another host with a window.
  std::string inner = exe + header + RecordBytes(300, 160);
  std::string nested = folder_.WriteFile("nested", exe + inner + RecordBytes(300, inner.size()));
  std::string badVersion = header;
  badVersion[16] = 3;
  std::string wrongVersion = folder_.WriteFile("v3.dpk", badVersion);

  EXPECT_EQ(ProbePackageFile(fs_.get(), plain.c_str()), 1);
  EXPECT_EQ(ProbePackageFile(fs_.get(), withPackage.c_str()), 2);
  EXPECT_EQ(ProbePackageFile(fs_.get(), without.c_str()), 0);
  EXPECT_EQ(ProbePackageFile(fs_.get(), nested.c_str()), 0);
  EXPECT_EQ(ProbePackageFile(fs_.get(), wrongVersion.c_str()), 0);
  EXPECT_EQ(ProbePackageFile(fs_.get(), folder_.Child("missing").c_str()), -1);

  // The probe leaves the file usable from its start.
  Owned<VirtualFile> file(OpenHost(withPackage, kOpenRead));
  ASSERT_EQ(ProbePackage(file.get()), 2);
  EXPECT_EQ(file->Tell(), 0);
}

TEST_F(TailFileTest, SettingTheTimeAloneLeavesTheHostUntouched) {
  const std::string original = std::string(80, 'h') + "abc" + RecordBytes(80, 3, 500);
  const std::string path = folder_.WriteFile("t", original);
  {
    Owned<TailFile> tail(new TailFile);
    ASSERT_EQ(tail->Attach(OpenHost(path), true, kOpenUpdate), 0);
    EXPECT_EQ(tail->SetTime(1234), 0);
    EXPECT_EQ(tail->GetTime(), 1234);
    EXPECT_EQ(tail->Detach(), 0);
  }
  EXPECT_EQ(TestFolder::ReadFile(path), original);
  // With a write, the time goes out with the record.
  {
    Owned<TailFile> tail(new TailFile);
    ASSERT_EQ(tail->Attach(OpenHost(path), true, kOpenUpdate), 0);
    ASSERT_EQ(tail->Seek(0, 0), 0);
    ASSERT_EQ(tail->Write("x", 1), 1);
    EXPECT_EQ(tail->SetTime(1234), 0);
  }
  Owned<TailFile> reader(new TailFile);
  ASSERT_EQ(reader->Attach(OpenHost(path, kOpenRead), true, kOpenRead), 0);
  EXPECT_EQ(reader->GetTime(), 1234);
  EXPECT_EQ(reader->Size(), 3);
}

}  // namespace
}  // namespace marrowgate
