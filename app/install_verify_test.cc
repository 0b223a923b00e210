#include "app/install_verify.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/install_bookkeeping.h"
#include "app/local_file_list.h"
#include "package/testing/temp_folder_testing.h"
#include "platform/file_tree.h"
#include "util/md5.h"
#include "platform/testing/links_testing.h"

namespace marrowgate {
namespace {

FileRecord RecordOf(const std::string& content) {
  FileRecord record;
  record.size = static_cast<uint32_t>(content.size());
  Md5Digest(content.data(), content.size(), record.digest.data());
  return record;
}

// Every kind of record, with FIFOs and links where an ordinary reader would
// wait forever or leave the folder: each gets its line at once, and a name
// that leaves the folder is never opened.
TEST(VerifyInstallTest, EveryRecordGetsItsLineWithoutBlocking) {
  namespace fs = std::filesystem;
  TestFolder folder;
  ASSERT_TRUE(platform::MakeFolder(folder.Child("update").c_str()));
  folder.WriteFile("ok.txt", "ok");
  folder.WriteFile("grown.txt", "grown!");
  folder.WriteFile("changed.txt", "new");
  platform::MakeTestFifo(folder.Child("pipe"));
  platform::MakeTestLink("/dev/zero", folder.Child("zero"));
  FileTable table;
  table["ok.txt"] = RecordOf("ok");
  table["grown.txt"] = RecordOf("grown");
  table["changed.txt"] = RecordOf("old");
  table["gone.txt"] = RecordOf("gone");
  table["pipe"] = RecordOf("pipe");
  table["zero"] = RecordOf("");
  table["../outside.txt"] = RecordOf("x");
  folder.WriteFile("update/localfilelist.txt", SerializeLocalFileList(table));

  std::vector<std::string> lines;
  VerifyCounts counts;
  EXPECT_EQ(VerifyInstall(FileManagerOptions(), folder.path(),
                          [&](const std::string& line) { lines.push_back(line); }, &counts),
            kVerifyDiffers);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "unsafe   ../outside.txt", "digest   changed.txt", "missing  gone.txt",
                       "size     grown.txt (listed 5, found 6)", "ok       ok.txt",
                       "missing  pipe", "missing  zero"}));
  EXPECT_EQ(counts.matched, 1);
  EXPECT_EQ(counts.missing, 3);
  EXPECT_EQ(counts.differing, 3);

  // The list itself a FIFO: no list.
  platform::RemoveFile(folder.Child("update/localfilelist.txt").c_str());
  platform::MakeTestFifo(folder.Child("update/localfilelist.txt"));
  EXPECT_EQ(VerifyInstall(FileManagerOptions(), folder.path(), [](const std::string&) {}, nullptr),
            kVerifyNoList);
}

}  // namespace
}  // namespace marrowgate
