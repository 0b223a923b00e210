#include "app/install_bookkeeping.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <vector>

#include "app/app_file_manager.h"
#include "app/install_verify.h"
#include "package/testing/fault_injection_testing.h"
#include "platform/file_tree.h"
#include "util/md5.h"
#include "util/releaser.h"
#include "package/testing/temp_folder_testing.h"
#include "platform/testing/links_testing.h"

namespace marrowgate {
namespace {

// Whether the system takes file names that differ only in case for one.
#ifdef _WIN32
constexpr bool kNamesIgnoreCase = true;
#else
constexpr bool kNamesIgnoreCase = false;
#endif

// Records what the bookkeeping tells the user.
class RecordingSink : public MessageSink {
 public:
  std::string MessageText(int32_t number) override { return "<" + std::to_string(number) + ">"; }
  void ShowMessageById(int32_t number) override { shown.push_back({number, ""}); }
  void ShowMessageText(int32_t number, const std::string& text) override {
    shown.push_back({number, text});
  }
  void ReportError(int32_t number, int32_t) override { shown.push_back({number, "error"}); }

  struct Shown {
    int32_t number;
    std::string text;
    bool operator==(const Shown&) const = default;
  };
  std::vector<Shown> shown;
};

std::string Hex(const std::array<uint8_t, 16>& digest) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (uint8_t byte : digest) {
    out.push_back(kHex[byte >> 4]);
    out.push_back(kHex[byte & 15]);
  }
  return out;
}

TEST(VersionFromText, LineForms) {
  EXPECT_EQ(VersionFromText("1 2.0.0.1\r\n"), "2.0.0.1");
  EXPECT_EQ(VersionFromText("1\t2.0.0.1"), "2.0.0.1");
  EXPECT_EQ(VersionFromText("\r\n1 10.0.0.1\r\n"), "10.0.0.1");
  EXPECT_EQ(VersionFromText("1.2.3.4\n"), "1.2.3.4\n");  // raw bytes, line end included
  EXPECT_EQ(VersionFromText("1.2.3.4\r\n"), "1.2.3.4\r\n");
  EXPECT_EQ(VersionFromText("2 3.0.0.0\n"), "2 3.0.0.0\n");  // only the integer 1 counts
  EXPECT_EQ(VersionFromText("1 .5\n1 7.7.7.7\n"), "7.7.7.7");
  EXPECT_EQ(VersionFromText("1 1234567890abcdefgh\n"), "1234567890abcde");  // 15 at most
  EXPECT_EQ(VersionFromText("version 1.0.0.0 and more text"), "version 1.0.0.0");
  EXPECT_EQ(VersionFromText(std::string_view("1.0\0.0.0.0.0", 12)), "1.0");  // a C text ends at NUL
  EXPECT_EQ(VersionFromText(""), "");
}

TEST(VersionFromText, LinesAreReadInPieces) {
  // The reader takes 254 bytes at a time: a piece starting "1 " counts.
  std::string text(254, ' ');
  text += "1 5.5.5.5\n";
  EXPECT_EQ(VersionFromText(text), "5.5.5.5");
}

class BookkeepingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = folder.path();
    ASSERT_TRUE(platform::MakeFolder(folder.Child("update").c_str()));
    ASSERT_TRUE(platform::MakeFolder(folder.Child("mb").c_str()));
    ASSERT_TRUE(platform::MakeFolder(folder.Child("mb/etc").c_str()));
  }
  void WriteList(const FileTable& table) {
    folder.WriteFile("update/localfilelist.txt", SerializeLocalFileList(table));
  }
  // A FIFO nobody writes to: opening it the ordinary way waits forever.
  void MakeFifo(const std::string& name) {
    platform::MakeTestFifo(folder.Child(name));
  }
  FileTable ReadList() {
    FileTable table;
    EXPECT_TRUE(ParseLocalFileList(TestFolder::ReadFile(folder.Child("update/localfilelist.txt")),
                                   &table));
    return table;
  }
  bool Exists(const std::string& name) {
    return platform::PathAccessible(folder.Child(name).c_str());
  }
  int Update() { return UpdateFileLists(AppFileManagerOptions(), dir, &sink); }

  TestFolder folder;
  std::string dir;
  RecordingSink sink;
};

TEST_F(BookkeepingTest, ReadInstalledVersion) {
  std::string version;
  folder.WriteFile("mb/etc/version.txt", "1 2.0.0.1\r\n");
  EXPECT_TRUE(ReadInstalledVersion(AppFileManagerOptions(), dir, &sink, &version));
  EXPECT_EQ(version, "2.0.0.1");
  folder.WriteFile("mb/etc/version.txt", "1.2.3.4\r\n");
  EXPECT_TRUE(ReadInstalledVersion(AppFileManagerOptions(), dir, &sink, &version));
  EXPECT_EQ(version, "1.2.3.4\r\n");
  EXPECT_TRUE(sink.shown.empty());
}

TEST_F(BookkeepingTest, UnusableVersions) {
  std::string version;
  folder.WriteFile("mb/etc/version.txt", "");
  EXPECT_FALSE(ReadInstalledVersion(AppFileManagerOptions(), dir, &sink, &version));
  folder.WriteFile("mb/etc/version.txt", "1 1.2.3");
  EXPECT_FALSE(ReadInstalledVersion(AppFileManagerOptions(), dir, &sink, &version));
  folder.WriteFile("mb/etc/version.txt", "1 1.2.3.4");
  EXPECT_TRUE(ReadInstalledVersion(AppFileManagerOptions(), dir, &sink, &version));
  EXPECT_EQ(sink.shown, (std::vector<RecordingSink::Shown>{{213, "<213>"}, {213, "<213>1.2.3"}}));
}

TEST_F(BookkeepingTest, VersionFileOrFileManagerMissing) {
  std::string version = "stale";
  EXPECT_FALSE(ReadInstalledVersion(AppFileManagerOptions(), dir, &sink, &version));
  EXPECT_EQ(version, "");
  FileManagerOptions broken = AppFileManagerOptions();
  broken.keyBLen = 200;
  EXPECT_FALSE(ReadInstalledVersion(broken, dir, &sink, &version));
  // The missing file's message names it and gives the system's reason.
  EXPECT_EQ(sink.shown,
            (std::vector<RecordingSink::Shown>{
                {212, "<212>\n" + std::string(dir) + "/mb/etc/version.txt: No such file or directory"},
                {211, ""}}));
}

TEST_F(BookkeepingTest, NewFilesReplaceAndInsertInKeyOrder) {
  FileTable old;
  old["a.txt"].size = 999;
  old["c.txt"].size = 3;
  WriteList(old);
  folder.WriteFile("a.txt", "abc");
  folder.WriteFile("b.txt", "");
  folder.WriteFile("update/newfile.txt", "a.txt\r\n\r\n   \t\r\n  b.txt  \r\nmissing.txt\r\n");
  folder.WriteFile("update/dellist.txt", "");
  EXPECT_EQ(Update(), 0);
  FileTable table = ReadList();
  ASSERT_EQ(table.size(), 3u);
  EXPECT_EQ(table["a.txt"].size, 3u);
  EXPECT_EQ(Hex(table["a.txt"].digest), "900150983cd24fb0d6963f7d28e17f72");  // MD5("abc")
  EXPECT_EQ(table["b.txt"].size, 0u);
  EXPECT_EQ(Hex(table["b.txt"].digest), "d41d8cd98f00b204e9800998ecf8427e");  // MD5("")
  EXPECT_EQ(table["c.txt"].size, 3u);
  EXPECT_EQ(sink.shown,
            (std::vector<RecordingSink::Shown>{{208, "<208>" + dir + "/missing.txt"}}));
  // The new-file list has been used up; the delete list stays.
  EXPECT_FALSE(Exists("update/newfile.txt"));
  EXPECT_TRUE(Exists("update/dellist.txt"));
}

TEST_F(BookkeepingTest, DeleteLineRemovesFolderAndTableEntriesByPrefix) {
  FileTable old;
  old["data/a"].size = 1;
  old["data/ab"].size = 2;       // under the line's text, and no file: goes
  old["data/sub/x"].size = 3;
  old["database.txt"].size = 4;  // under the line's text, but its file stays
  old["keep.txt"].size = 5;
  WriteList(old);
  ASSERT_TRUE(platform::MakeFolder(folder.Child("data").c_str()));
  ASSERT_TRUE(platform::MakeFolder(folder.Child("data/sub").c_str()));
  folder.WriteFile("data/a", "1");
  folder.WriteFile("data/sub/x", "3");
  folder.WriteFile("database.txt", "4");
  folder.WriteFile("keep.txt", "5");
  folder.WriteFile("single.txt", "6");
  folder.WriteFile("update/newfile.txt", "");
  folder.WriteFile("update/dellist.txt", "\r\n  data  \r\n\r\nsingle.txt\r\n");
  EXPECT_EQ(Update(), 0);
  EXPECT_FALSE(Exists("data"));
  EXPECT_FALSE(Exists("single.txt"));
  EXPECT_TRUE(Exists("database.txt"));  // the file itself is not named
  EXPECT_TRUE(Exists("keep.txt"));
  EXPECT_TRUE(Exists("update"));        // blank lines never name the install folder
  FileTable table = ReadList();
  ASSERT_EQ(table.size(), 2u);
  EXPECT_EQ(table.count("database.txt"), 1u);
  EXPECT_EQ(table.count("keep.txt"), 1u);
  EXPECT_TRUE(sink.shown.empty());
}

TEST_F(BookkeepingTest, DeleteLinesOutsideTheInstallFolderAreRefused) {
  TestFolder outside;
  std::string victim = outside.WriteFile("victim.txt", "precious");
  ASSERT_TRUE(platform::MakeFolder(folder.Child("sub").c_str()));
  folder.WriteFile("sub/inner.txt", "inner");
  FileTable old;
  old["../x"].size = 1;
  old["sub/inner.txt"].size = 5;
  WriteList(old);
  folder.WriteFile("update/newfile.txt", "");
  std::string lines = victim + "\r\n" +                      // absolute
                      "../" + outside.path().substr(outside.path().rfind('/') + 1) +
                      "/victim.txt\r\n" +                   // climbs out
                      "sub/../../x\r\n" +                   // climbs out from inside
                      "C:/victim.txt\r\n" +                 // a drive
                      ".\r\n./\r\n/\r\n\\\\\r\n" +          // the install folder itself
                      "sub/./inner.txt\r\n";
  folder.WriteFile("update/dellist.txt", lines);
  EXPECT_EQ(Update(), 0);
  EXPECT_EQ(TestFolder::ReadFile(victim), "precious");
  EXPECT_TRUE(Exists("sub/inner.txt"));
  EXPECT_TRUE(Exists("update/localfilelist.txt"));
  FileTable table = ReadList();
  EXPECT_EQ(table.size(), 2u);  // refused lines touch no entry either
}

TEST_F(BookkeepingTest, BackslashesAndTrailingSeparatorsInDeleteLines) {
  ASSERT_TRUE(platform::MakeFolder(folder.Child("old").c_str()));
  ASSERT_TRUE(platform::MakeFolder(folder.Child("old/deep").c_str()));
  folder.WriteFile("old/deep/f.bin", "f");
  WriteList({});
  folder.WriteFile("update/newfile.txt", "");
  folder.WriteFile("update/dellist.txt", "old\\deep\\\r\n");
  EXPECT_EQ(Update(), 0);
  EXPECT_FALSE(Exists("old/deep"));
  EXPECT_TRUE(Exists("old"));
}

TEST_F(BookkeepingTest, MissingLocalListTouchesNothing) {
  folder.WriteFile("update/newfile.txt", "a.txt\r\n");
  folder.WriteFile("update/dellist.txt", "doomed.txt\r\n");
  folder.WriteFile("doomed.txt", "d");
  EXPECT_EQ(Update(), 206);
  EXPECT_EQ(sink.shown, (std::vector<RecordingSink::Shown>{{206, "<206>"}}));
  EXPECT_TRUE(Exists("update/newfile.txt"));
  EXPECT_TRUE(Exists("doomed.txt"));
  EXPECT_FALSE(Exists("update/localfilelist.txt"));
}

TEST_F(BookkeepingTest, DamagedLocalListTouchesNothing) {
  std::string damaged = SerializeLocalFileList({{"a", FileRecord{}}});
  damaged += "\xFF\xFF\xFF\x7F" "tail";  // a name length past every limit
  folder.WriteFile("update/localfilelist.txt", damaged);
  folder.WriteFile("update/newfile.txt", "a.txt\r\n");
  folder.WriteFile("update/dellist.txt", "doomed.txt\r\n");
  folder.WriteFile("doomed.txt", "d");
  EXPECT_EQ(Update(), 206);
  EXPECT_EQ(TestFolder::ReadFile(folder.Child("update/localfilelist.txt")), damaged);
  EXPECT_TRUE(Exists("update/newfile.txt"));
  EXPECT_TRUE(Exists("doomed.txt"));
}

TEST_F(BookkeepingTest, MissingNewFileListStopsBeforeDeleting) {
  FileTable old;
  old["doomed.txt"].size = 1;
  WriteList(old);
  std::string before = TestFolder::ReadFile(folder.Child("update/localfilelist.txt"));
  folder.WriteFile("update/dellist.txt", "doomed.txt\r\n");
  folder.WriteFile("doomed.txt", "d");
  EXPECT_EQ(Update(), 207);
  EXPECT_EQ(sink.shown, (std::vector<RecordingSink::Shown>{{207, "<207>"}}));
  EXPECT_TRUE(Exists("doomed.txt"));
  EXPECT_EQ(TestFolder::ReadFile(folder.Child("update/localfilelist.txt")), before);
}

TEST_F(BookkeepingTest, DamagedNewFileListInAPackageStopsBeforeAnyChange) {
  // The install folder's "update" is a package whose new-file list no
  // longer matches its stored digest.
  const std::string newList = "a.txt\r\n";
  folder.WriteFile("a.txt", "abc");
  folder.WriteFile("doomed.txt", "d");
  ASSERT_TRUE(platform::RemoveFolder(folder.Child("update").c_str()));
  {
    Owned<FileManager> fm(CreateFileManager(AppFileManagerOptions()));
    ASSERT_TRUE(fm);
    ASSERT_EQ(fm->EnsurePackage((dir + "/update").c_str(), ".dpk", kOpenCreate), 0);
    for (const auto& [name, content] :
         {std::pair<std::string, std::string>{"newfile.txt", newList},
          {"dellist.txt", "doomed.txt\r\n"},
          {"localfilelist.txt", SerializeLocalFileList(FileTable())}}) {
      Owned<VirtualFile> file(fm->Open((dir + "/update/" + name).c_str(), kOpenCreate));
      ASSERT_TRUE(file);
      ASSERT_EQ(file->Write(content.data(), static_cast<int32_t>(content.size())),
                static_cast<int32_t>(content.size()));
    }
  }
  uint8_t digest[16];
  Md5Digest(newList.data(), newList.size(), digest);
  std::string bytes = TestFolder::ReadFile(folder.Child("update.dpk"));
  size_t at = bytes.find(std::string(reinterpret_cast<const char*>(digest), 16));
  ASSERT_NE(at, std::string::npos);
  bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
  folder.WriteFile("update.dpk", bytes);

  EXPECT_EQ(Update(), 207);
  EXPECT_EQ(sink.shown, (std::vector<RecordingSink::Shown>{{207, "<207>"}}));
  EXPECT_TRUE(Exists("doomed.txt"));
  EXPECT_EQ(TestFolder::ReadFile(folder.Child("update.dpk")), bytes);
}

TEST_F(BookkeepingTest, FailedListWriteKeepsOldListAndNewFileList) {
  FileTable old;
  old["a.txt"].size = 1;
  WriteList(old);
  std::string before = TestFolder::ReadFile(folder.Child("update/localfilelist.txt"));
  folder.WriteFile("a.txt", "abc");
  folder.WriteFile("update/newfile.txt", "a.txt\r\n");
  ASSERT_TRUE(platform::MakeFolder(folder.Child("update/localfilelist.txt.tmp").c_str()));
  EXPECT_EQ(Update(), 209);
  EXPECT_EQ(sink.shown, (std::vector<RecordingSink::Shown>{{209, ""}}));
  EXPECT_EQ(TestFolder::ReadFile(folder.Child("update/localfilelist.txt")), before);
  // Still there, so the next run records the new files after all.
  EXPECT_TRUE(Exists("update/newfile.txt"));
}

// The list is written before anything is deleted: when it cannot be
// written, the delete list has not run, so folder and list agree.
TEST_F(BookkeepingTest, UnwritableListLeavesTheDeleteListUnapplied) {
  FileTable old;
  old["old/x.txt"].size = 5;
  WriteList(old);
  const std::string before = TestFolder::ReadFile(folder.Child("update/localfilelist.txt"));
  ASSERT_TRUE(platform::MakeFolder(folder.Child("old").c_str()));
  folder.WriteFile("old/x.txt", "old x");
  folder.WriteFile("update/newfile.txt", "");
  folder.WriteFile("update/dellist.txt", "old\r\n");
  ASSERT_TRUE(platform::MakeFolder(folder.Child("update/localfilelist.txt.tmp").c_str()));
  folder.WriteFile("update/localfilelist.txt.tmp/in_the_way", "");
  EXPECT_EQ(Update(), 209);
  EXPECT_EQ(sink.shown, (std::vector<RecordingSink::Shown>{{209, ""}}));
  EXPECT_TRUE(Exists("old/x.txt"));
  EXPECT_EQ(TestFolder::ReadFile(folder.Child("update/localfilelist.txt")), before);
}

// Whatever was planted at the list's temporary name (a link to a file
// outside, a dangling link, a hard link to a file outside) is replaced,
// never written through.
TEST_F(BookkeepingTest, PlantedEntriesAtTheTemporaryNameAreNeverFollowed) {
  namespace fs = std::filesystem;
  TestFolder outside;
  const std::string kept = outside.WriteFile("kept.txt", "outside");
  const std::string shared = outside.WriteFile("shared.txt", "shared");
  const std::string notThere = outside.Child("created.txt");
  const fs::path temporary = folder.Child("update/localfilelist.txt.tmp");
  const std::vector<std::function<void()>> plants = {
      [&] { platform::MakeTestLink(kept, temporary); },
      [&] { platform::MakeTestLink(notThere, temporary); },
      [&] { fs::create_hard_link(shared, temporary); },
  };
  folder.WriteFile("a.txt", "abc");
  for (size_t i = 0; i < plants.size(); ++i) {
    SCOPED_TRACE(i);
    WriteList({});
    folder.WriteFile("update/newfile.txt", "a.txt\r\n");
    plants[i]();
    EXPECT_EQ(Update(), 0);
    EXPECT_EQ(ReadList().count("a.txt"), 1u);
    EXPECT_EQ(fs::symlink_status(folder.Child("update/localfilelist.txt")).type(),
              fs::file_type::regular);
    EXPECT_FALSE(fs::exists(fs::symlink_status(temporary)));
  }
  EXPECT_EQ(TestFolder::ReadFile(kept), "outside");
  EXPECT_EQ(TestFolder::ReadFile(shared), "shared");
  EXPECT_FALSE(fs::exists(notThere));
  EXPECT_TRUE(sink.shown.empty());
}

// New-file lines are names inside the folder: one that leaves it is never
// opened; a FIFO or a link to a device is refused as unreadable at once.
TEST_F(BookkeepingTest, NewFileLinesAreContainedOrdinaryFiles) {
  namespace fs = std::filesystem;
  TestFolder outside;
  outside.WriteFile("private.txt", "private");
  const std::string outsideName = outside.path().substr(outside.path().rfind('/') + 1);
  WriteList({});
  folder.WriteFile("good.txt", "good");
  MakeFifo("fifo");
  platform::MakeTestLink("/dev/zero", folder.Child("zero"));
  folder.WriteFile("update/newfile.txt",
                   "../" + outsideName + "/private.txt\r\n/dev/zero\r\n" +
                       "sub/../../x\r\nC:/x\r\nfifo\r\nzero\r\ngood.txt\r\n");
  EXPECT_EQ(Update(), 0);
  FileTable table = ReadList();
  ASSERT_EQ(table.size(), 1u);
  EXPECT_EQ(table.begin()->first, "good.txt");
  EXPECT_EQ(sink.shown, (std::vector<RecordingSink::Shown>{
                            {208, "<208>" + dir + "/fifo"}, {208, "<208>" + dir + "/zero"}}));
}

// FIFOs standing for the bookkeeping files end the steps with their
// messages instead of blocking.
TEST_F(BookkeepingTest, FifosAsBookkeepingFilesAreUnreadable) {
  MakeFifo("mb/etc/version.txt");
  std::string version;
  EXPECT_FALSE(ReadInstalledVersion(AppFileManagerOptions(), dir, &sink, &version));
  MakeFifo("update/localfilelist.txt");
  EXPECT_EQ(Update(), 206);
  platform::RemoveFile(folder.Child("update/localfilelist.txt").c_str());
  WriteList({});
  MakeFifo("update/newfile.txt");
  EXPECT_EQ(Update(), 207);
  // Where the system has no FIFOs the names were never made: the version
  // file is missing, and the message gives the system's reason for that.
  const std::string versionPath = dir + "/mb/etc/version.txt";
  std::string reason = "not a regular file";
  platform::NodeStatus status;
  if (!platform::kSystemHasFifos) {
    ASSERT_FALSE(platform::StatusOf(versionPath.c_str(), &status, &reason));
  }
  EXPECT_EQ(sink.shown, (std::vector<RecordingSink::Shown>{
                            {212, "<212>\n" + versionPath + ": " + reason},
                            {206, "<206>"},
                            {207, "<207>"}}));
}

// Deleting removes names: links inside a deleted folder (to a folder
// outside, to "..", dangling) and a listed link go as links; a line whose
// folder lies outside through a link is refused and its record stays.
TEST_F(BookkeepingTest, DeletingNeverFollowsLinks) {
  namespace fs = std::filesystem;
  TestFolder outside;
  outside.WriteFile("cache.bin", "cache");
  outside.WriteFile("moved.bin", "moved");
  FileTable old;
  old["old/x.txt"].size = 5;
  old["old/cache/cache.bin"].size = 5;
  old["data/moved.bin"].size = 5;
  old["keep.txt"].size = 4;
  WriteList(old);
  ASSERT_TRUE(platform::MakeFolder(folder.Child("old").c_str()));
  folder.WriteFile("old/x.txt", "old x");
  folder.WriteFile("keep.txt", "keep");
  platform::MakeTestLink(outside.path(), folder.Child("old/cache"), true);
  platform::MakeTestLink("..", folder.Child("old/up"), true);
  platform::MakeTestLink(folder.Child("nowhere"), folder.Child("old/dangling"));
  const bool dataLinked = platform::MakeTestLink(outside.path(), folder.Child("data"), true);
  platform::MakeTestLink(outside.path(), folder.Child("linked"), true);
  folder.WriteFile("update/newfile.txt", "");
  folder.WriteFile("update/dellist.txt", "old\r\ndata/moved.bin\r\nlinked\r\n");
  EXPECT_EQ(Update(), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(folder.Child("old"))));
  EXPECT_FALSE(fs::exists(fs::symlink_status(folder.Child("linked"))));
  EXPECT_EQ(TestFolder::ReadFile(outside.Child("cache.bin")), "cache");
  EXPECT_EQ(TestFolder::ReadFile(outside.Child("moved.bin")), "moved");
  EXPECT_TRUE(Exists("keep.txt"));
  EXPECT_TRUE(Exists("update/localfilelist.txt"));
  FileTable table = ReadList();
  // Through the link "data" the file is still there, so still listed;
  // where no link could be made, "data/moved.bin" was never in the folder
  // and its record goes with the line.
  EXPECT_EQ(table.size(), dataLinked ? 2u : 1u);
  EXPECT_EQ(table.count("data/moved.bin"), dataLinked ? 1u : 0u);
  EXPECT_EQ(table.count("keep.txt"), 1u);
}

// A delete line spelled otherwise than the record (the other separator,
// another case inside a package) removes the record with the file.
TEST_F(BookkeepingTest, DeleteLinesMatchRecordsAsTheyMatchFiles) {
  ASSERT_TRUE(platform::MakeFolder(folder.Child("data").c_str()));
  folder.WriteFile("data/intro-old.bin", "intro");
  {
    Owned<FileManager> fm(CreateFileManager(AppFileManagerOptions()));
    ASSERT_EQ(fm->EnsurePackage((dir + "/maps").c_str(), ".dpk", kOpenCreate), 0);
    Owned<VirtualFile> item(fm->Open((dir + "/maps/Town.map").c_str(), kOpenCreate));
    ASSERT_TRUE(item);
    ASSERT_EQ(item->Write("town", 4), 4);
  }
  FileTable old;
  old["data/intro-old.bin"].size = 5;
  old["maps/Town.map"].size = 4;
  old["maps/Town.mapx"].size = 1;  // a prefix match, but no such file: goes too
  WriteList(old);
  folder.WriteFile("update/newfile.txt", "");
  folder.WriteFile("update/dellist.txt", "data\\intro-old.bin\r\nmaps/town.map\r\n");
  EXPECT_EQ(Update(), 0);
  EXPECT_FALSE(Exists("data/intro-old.bin"));
  {
    Owned<FileManager> fm(CreateFileManager(AppFileManagerOptions()));
    EXPECT_FALSE(fm->Exists((dir + "/maps/Town.map").c_str()));
    Owned<VirtualFile> item(fm->Open((dir + "/maps/Other.map").c_str(), kOpenCreate));
    ASSERT_TRUE(item);
  }
  EXPECT_TRUE(ReadList().empty());

  // A line naming the package's folder empties the package.
  FileTable inPackage;
  inPackage["maps/Other.map"].size = 0;
  WriteList(inPackage);
  folder.WriteFile("update/newfile.txt", "");
  folder.WriteFile("update/dellist.txt", "maps\r\n");
  EXPECT_EQ(Update(), 0);
  Owned<FileManager> fm(CreateFileManager(AppFileManagerOptions()));
  EXPECT_FALSE(fm->Exists((dir + "/maps/Other.map").c_str()));
  EXPECT_TRUE(ReadList().empty());
}

// A delete line naming what the update carries (the file, a folder holding
// it, the package standing for that folder; either separator, another
// case) removes nothing and keeps the records; the other lines apply.
// Without the carried names the same lines take the files away.
TEST_F(BookkeepingTest, DeleteLinesNeverRemoveWhatTheUpdateCarries) {
  ASSERT_TRUE(platform::MakeFolder(folder.Child("bin").c_str()));
  ASSERT_TRUE(platform::MakeFolder(folder.Child("data").c_str()));
  folder.WriteFile("bin/game.exe", "game");
  folder.WriteFile("data/new.bin", "new");
  folder.WriteFile("old.txt", "old");
  {
    Owned<FileManager> fm(CreateFileManager(AppFileManagerOptions()));
    ASSERT_EQ(fm->EnsurePackage((dir + "/maps").c_str(), ".dpk", kOpenCreate), 0);
    Owned<VirtualFile> item(fm->Open((dir + "/maps/town.map").c_str(), kOpenCreate));
    ASSERT_TRUE(item);
    ASSERT_EQ(item->Write("town", 4), 4);
  }
  const std::vector<std::string> carried = {"bin/game.exe", "data/new.bin", "maps/town.map"};
  FileTable old;
  old["old.txt"].size = 3;
  WriteList(old);
  folder.WriteFile("update/newfile.txt", "bin/game.exe\r\ndata/new.bin\r\nmaps/town.map\r\n");
  const std::string lines = "BIN\\Game.exe\r\ndata/\r\nmaps.dpk\r\nold.txt\r\n";
  folder.WriteFile("update/dellist.txt", lines);
  EXPECT_EQ(UpdateFileLists(AppFileManagerOptions(), dir, &sink, carried), 0);
  EXPECT_TRUE(Exists("bin/game.exe"));
  EXPECT_TRUE(Exists("data/new.bin"));
  EXPECT_TRUE(Exists("maps.dpk"));
  EXPECT_FALSE(Exists("old.txt"));
  std::vector<std::string> listed;
  for (const auto& [name, record] : ReadList()) listed.push_back(name);
  EXPECT_EQ(listed, (std::vector<std::string>{"bin/game.exe", "data/new.bin", "maps/town.map"}));
  EXPECT_EQ(VerifyInstall(AppFileManagerOptions(), dir, [](const std::string&) {}, nullptr),
            kVerifyWhole);

  // The same file and folder lines in a run that carries nothing of them.
  folder.WriteFile("update/newfile.txt", "");
  folder.WriteFile("update/dellist.txt", "BIN\\Game.exe\r\ndata/\r\n");
  EXPECT_EQ(Update(), 0);
  // Where the disk keeps case "BIN/Game.exe" is another name; where names
  // ignore case (Windows) it is the file, which goes with its record.
  EXPECT_EQ(Exists("bin/game.exe"), !kNamesIgnoreCase);
  EXPECT_FALSE(Exists("data"));
  listed.clear();
  for (const auto& [name, record] : ReadList()) listed.push_back(name);
  EXPECT_EQ(listed, (kNamesIgnoreCase
                         ? std::vector<std::string>{"maps/town.map"}
                         : std::vector<std::string>{"bin/game.exe", "maps/town.map"}));
}

// The patch's delete list never takes the bookkeeping files away: a line
// naming them, their folder or the package standing for it is refused; one
// reaching the folder through a link leaves the list written again.
TEST_F(BookkeepingTest, DeleteLinesNeverRemoveTheBookkeepingFiles) {
  namespace fs = std::filesystem;
  FileTable old;
  old["a.txt"].size = 1;
  WriteList(old);
  folder.WriteFile("a.txt", "a");
  folder.WriteFile("mb/etc/version.txt", "1 1.2.3.4\r\n");
  folder.WriteFile("update/newfile.txt", "");
  folder.WriteFile("update/dellist.txt",
                   "update\r\nUPDATE/localfilelist.txt\r\nupdate.dpk\r\nmb\r\nmb/etc/version.txt\r\n"
                   "update/dellist.txt\r\n");
  EXPECT_EQ(Update(), 0);
  EXPECT_TRUE(Exists("mb/etc/version.txt"));
  EXPECT_TRUE(Exists("update/dellist.txt"));
  EXPECT_EQ(ReadList(), old);

  ASSERT_TRUE(platform::MakeFolder(folder.Child("old").c_str()));
  const bool linked = platform::MakeTestLink("..", folder.Child("old/up"), true);
  folder.WriteFile("update/newfile.txt", "");
  folder.WriteFile("update/dellist.txt", "old/up/update\r\n");
  if (linked) {
    EXPECT_EQ(Update(), 209);  // the folder to write the list into is gone
    EXPECT_FALSE(Exists("update"));
  } else {
    // Without the link the line names nothing.
    EXPECT_EQ(Update(), 0);
    EXPECT_EQ(ReadList(), old);
  }
}

// With a delete list, a failure or stop at every storage operation:
// either the run succeeded with everything in place, or it reported 209
// and the list never records a file it lacks beyond the removals still to
// record (the old list, or the new files with the doomed records still
// in); a second run, without faults, ends where an undisturbed one does.
TEST_F(BookkeepingTest, FaultsAroundTheDeleteListNeverLeaveFolderAndListApart) {
  using testing_faults::FaultFileSystem;
  using testing_faults::FaultPlan;
  FileTable old;
  old["old/x.txt"].size = 5;
  old["a.txt"].size = 1;
  Owned<FileSystem> disk(CreateFileSystem());
  FaultPlan plan;
  FaultFileSystem faulty(disk.get(), &plan);
  auto faultyManager = [&faulty] {
    FileManagerConfig config;
    config.searchMode = 3;
    config.fileSystem = &faulty;  // borrowed
    return Owned<FileManager>(new FileManager(config));
  };
  FileTable withNew = old;
  withNew["a.txt"].size = 3;
  Md5Digest("abc", 3, withNew["a.txt"].digest.data());
  FileTable final = withNew;
  final.erase("old/x.txt");
  int points = 0;
  for (FaultPlan::Effect effect : {FaultPlan::Effect::kFail, FaultPlan::Effect::kStop}) {
    for (int64_t n = 1;; ++n) {
      SCOPED_TRACE("operation " + std::to_string(n) +
                   (effect == FaultPlan::Effect::kStop ? " stops" : " fails"));
      WriteList(old);
      folder.WriteFile("a.txt", "abc");
      ASSERT_TRUE(platform::MakeFolder(folder.Child("old").c_str()));
      folder.WriteFile("old/x.txt", "old x");
      folder.WriteFile("update/newfile.txt", "a.txt\r\n");
      folder.WriteFile("update/dellist.txt", "old\r\n");
      platform::RemoveFile(folder.Child("update/localfilelist.txt.tmp").c_str());
      sink.shown.clear();
      plan.Arm(n, effect);
      const int result = UpdateFileLists(faultyManager(), dir, &sink);
      const bool tripped = plan.tripped();
      const FileTable list = ReadList();
      if (!tripped) {
        EXPECT_EQ(result, 0);
        EXPECT_EQ(list, final);
        EXPECT_FALSE(Exists("old"));
        break;
      }
      ++points;
      if (result == 0) {
        EXPECT_EQ(list, final);  // only the used new-file list's deletion failed
      } else {
        EXPECT_EQ(result, kMessageLocalListUnwritable);
        if (Exists("old/x.txt")) {
          EXPECT_EQ(list, old);  // nothing deleted before the list could be written
        } else {
          EXPECT_EQ(list, withNew);  // deleted; its removal still to record
        }
      }
      plan.Arm(0, FaultPlan::Effect::kFail);
      EXPECT_EQ(Update(), 0);
      EXPECT_EQ(ReadList(), final);
      EXPECT_FALSE(Exists("old"));
    }
  }
  // Twice creation, write, flush and replace of the list, and the
  // deletion of the used new-file list, each failing and stopping.
  EXPECT_EQ(points, 18);
}

// An entry that stays on the disk (here a read-only folder) keeps its
// record.
TEST_F(BookkeepingTest, AnEntryThatStaysKeepsItsRecord) {
  if (platform::PermissionsAreBypassed()) GTEST_SKIP() << "permissions do not hold root back";
  namespace fs = std::filesystem;
  FileTable old;
  old["locked/a.txt"].size = 1;
  old["locked/b.txt"].size = 1;
  WriteList(old);
  ASSERT_TRUE(platform::MakeFolder(folder.Child("locked").c_str()));
  folder.WriteFile("locked/a.txt", "a");
  folder.WriteFile("update/newfile.txt", "");
  folder.WriteFile("update/dellist.txt", "locked\r\n");
#ifdef _WIN32
  // A read-only folder holds nothing back on Windows; a file open without
  // delete sharing does.
  std::ifstream held(folder.Child("locked/a.txt"));
  EXPECT_EQ(Update(), 0);
  held.close();
#else
  fs::permissions(folder.Child("locked"), fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_EQ(Update(), 0);
  fs::permissions(folder.Child("locked"), fs::perms::owner_all);
#endif
  EXPECT_TRUE(Exists("locked/a.txt"));
  FileTable table = ReadList();
  EXPECT_EQ(table.size(), 1u);
  EXPECT_EQ(table.count("locked/a.txt"), 1u);  // b.txt was not there
}

TEST_F(BookkeepingTest, NoFileManagerAndNoInstallFolder) {
  FileManagerOptions broken = AppFileManagerOptions();
  broken.keyALen = -1;
  EXPECT_EQ(UpdateFileLists(broken, dir, &sink), 205);
  EXPECT_EQ(UpdateFileLists(AppFileManagerOptions(), "", &sink), 206);
  EXPECT_EQ(sink.shown, (std::vector<RecordingSink::Shown>{{205, ""}, {206, "<206>"}}));
}

TEST_F(BookkeepingTest, OverlongNewFileNameIsReportedNotSplit) {
  WriteList({});
  std::string name(1100, 'n');
  folder.WriteFile("update/newfile.txt", name + "\r\n");
  EXPECT_EQ(Update(), 0);
  EXPECT_TRUE(ReadList().empty());
  ASSERT_EQ(sink.shown.size(), 1u);
  EXPECT_EQ(sink.shown[0].number, 208);
}

// The list written through a disk whose every write, flush, replacement
// and deletion in turn fails, or stops as a killed process would: either
// the run ends with message 209 and leaves the old list and the new-file
// list for the next run, or the fault came after the list was replaced.
TEST_F(BookkeepingTest, FaultsWhileReplacingTheListKeepTheOldList) {
  using testing_faults::FaultFileSystem;
  using testing_faults::FaultPlan;
  FileTable old;
  old["a.txt"].size = 1;
  old["gone.txt"].size = 2;
  WriteList(old);
  const std::string before = TestFolder::ReadFile(folder.Child("update/localfilelist.txt"));
  folder.WriteFile("a.txt", "abc");
  FileTable updated = old;
  updated["a.txt"].size = 3;
  Md5Digest("abc", 3, updated["a.txt"].digest.data());
  const std::string after = SerializeLocalFileList(updated);

  Owned<FileSystem> disk(CreateFileSystem());
  FaultPlan plan;
  FaultFileSystem faulty(disk.get(), &plan);
  auto faultyManager = [&faulty] {
    FileManagerConfig config;
    config.searchMode = 3;
    config.fileSystem = &faulty;  // borrowed
    return Owned<FileManager>(new FileManager(config));
  };
  int refused = 0;
  for (FaultPlan::Effect effect : {FaultPlan::Effect::kFail, FaultPlan::Effect::kStop}) {
    for (int64_t n = 1;; ++n) {
      SCOPED_TRACE("operation " + std::to_string(n) +
                   (effect == FaultPlan::Effect::kStop ? " stops" : " fails"));
      folder.WriteFile("update/localfilelist.txt", before);
      folder.WriteFile("update/newfile.txt", "a.txt\r\n");
      platform::RemoveFile(folder.Child("update/localfilelist.txt.tmp").c_str());
      sink.shown.clear();
      plan.Arm(n, effect);
      const int result = UpdateFileLists(faultyManager(), dir, &sink);
      const std::string list = TestFolder::ReadFile(folder.Child("update/localfilelist.txt"));
      if (!plan.tripped()) {
        EXPECT_EQ(result, 0);
        EXPECT_EQ(list, after);
        EXPECT_FALSE(Exists("update/newfile.txt"));
        break;
      }
      if (result == kMessageLocalListUnwritable) {
        ++refused;
        EXPECT_EQ(sink.shown, (std::vector<RecordingSink::Shown>{{209, ""}}));
        EXPECT_EQ(list, before);
        EXPECT_TRUE(Exists("update/newfile.txt"));
      } else {
        // Only the deletion of the used new-file list comes after the
        // replacement; its failure ends nothing.
        EXPECT_EQ(result, 0);
        EXPECT_EQ(sink.shown, std::vector<RecordingSink::Shown>{});
        EXPECT_EQ(list, after);
      }
    }
  }
  // Creation of the temporary file, write, flush and replace of the
  // list, each failing and stopping.
  EXPECT_EQ(refused, 8);
}

}  // namespace
}  // namespace marrowgate
