// Helpers shared by the tests of the tools: running marrowgate-pack in
// this process, and reading and writing real files.
#ifndef MARROWGATE_TOOLS_TESTING_PACK_TOOL_TESTING_H_
#define MARROWGATE_TOOLS_TESTING_PACK_TOOL_TESTING_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/env.h"
#include "tools/pack_tool.h"
#include "platform/file_tree.h"

namespace marrowgate {

namespace fs = std::filesystem;

// The messages of a test patch's "cfg.txt" after its title (100): every
// caption, status text and failure the patcher shows.
inline constexpr char kPatcherTestMessages[] =
    "101 Install folder:\r\n102 Browse\r\n103 Start\r\n104 Exit\r\n"
    "200 Patching\r\n201 Done\r\n202 Close\r\n203 Failed (%d)\r\n204 No folder\r\n"
    "205 No file manager\r\n206 No local list\r\n207 No new-file list\r\n208 No new file: \r\n"
    "209 Cannot write the list\r\n210 Pick the folder\r\n211 No file manager\r\n"
    "212 No version\r\n213 Bad version: \r\n"
    "300 Read-only\r\n301 Open error\r\n302 Package error\r\n303 Read error\r\n"
    "304 Write error\r\n305 Too old\r\n306 Stopped\r\n307 Error\r\n";

struct ToolRun {
  int status;
  std::string out;
  std::string err;
};

inline ToolRun RunTool(std::vector<std::string> args) {
  std::ostringstream out, err;
  int status = RunPackTool(args, out, err, false);
  return {status, out.str(), err.str()};
}

inline void WriteFile(const fs::path& path, const std::string& content) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline int64_t ModificationTime(const fs::path& path) {
  platform::NodeStatus status;
  EXPECT_TRUE(platform::StatusOf(path.c_str(), &status, nullptr)) << path;
  return status.modificationTime;
}

inline std::string Incompressible(size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(n, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

// Flips one byte of a file in place.
inline void FlipByte(const fs::path& path, std::streamoff offset) {
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  file.seekg(offset);
  char c = 0;
  file.read(&c, 1);
  c = static_cast<char>(c ^ 0x5a);
  file.seekp(offset);
  file.write(&c, 1);
}

// A fresh folder per test, removed afterwards.
class PackToolFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::path(::testing::TempDir()) /
            ("mg_pack_" +
             std::string(::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name()) +
             "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
             std::to_string(std::random_device{}()));
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override {
    // Undo permission changes a test made, so everything can be removed.
    std::error_code ignored;
    for (auto it = fs::recursive_directory_iterator(root_, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
      if (it->is_directory(ignored) && !it->is_symlink(ignored))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(root_, ignored);
  }

  std::string Path(const std::string& relative) const { return (root_ / relative).string(); }

  fs::path root_;
};

}  // namespace marrowgate

#endif  // MARROWGATE_TOOLS_TESTING_PACK_TOOL_TESTING_H_
