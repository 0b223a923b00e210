#include "tools/pack_tool.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "package/file/file_system.h"
#include "package/store/layout.h"
#include "package/store/package.h"
#include "platform/env.h"
#include "tools/pack_items.h"
#include "tools/testing/pack_tool_testing.h"
#include "util/byte_order.h"
#include "util/clock.h"

namespace marrowgate {
namespace {

class PackToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::path(::testing::TempDir()) /
            ("mg_pack_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(root_);
    fs::create_directories(root_);
    source_ = root_ / "source";
    WriteFile(source_ / "readme.txt", "hello, player\n");
    WriteFile(source_ / "data/maps/harbour.map", std::string(5000, 'h') + "harbour");
    WriteFile(source_ / "data/sounds.bin", Incompressible(3000, 1));
    WriteFile(source_ / "data/empty.dat", "");
    fs::create_directories(source_ / "empty-folder");
    platform::SetFileTimes((source_ / "readme.txt").c_str(), 1500000000, 1500000000);
    platform::SetFileTimes((source_ / "data/sounds.bin").c_str(), 1400000000, 1400000000);
  }
  void TearDown() override { fs::remove_all(root_); }

  // Every file below `folder`, relative path -> content.
  static std::map<std::string, std::string> Tree(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
      std::string rel = fs::relative(entry.path(), folder).generic_string();
      files[rel] = entry.is_directory() ? "<dir>" : ReadFile(entry.path());
    }
    return files;
  }

  fs::path root_;
  fs::path source_;
};

TEST(PackToolUsageTest, BadUsageGivesStatusTwo) {
  EXPECT_EQ(RunTool({}).status, kPackExitUsage);
  EXPECT_EQ(RunTool({"frobnicate", "x"}).status, kPackExitUsage);
  EXPECT_EQ(RunTool({"create", "only-one"}).status, kPackExitUsage);
  EXPECT_EQ(RunTool({"attach", "a", "b"}).status, kPackExitUsage);
  EXPECT_EQ(RunTool({"list", "a", "b"}).status, kPackExitUsage);
  EXPECT_EQ(RunTool({"--bogus", "list", "a"}).status, kPackExitUsage);
  EXPECT_EQ(RunTool({"list", "a", "--key-a"}).status, kPackExitUsage);
  ToolRun longKey = RunTool({"--key-a", std::string(129, 'k'), "list", "a"});
  EXPECT_EQ(longKey.status, kPackExitUsage);
  EXPECT_NE(longKey.err.find("--key-a"), std::string::npos);

  ToolRun help = RunTool({"--help"});
  EXPECT_EQ(help.status, kPackExitOk);
  EXPECT_NE(help.out.find("attach  HOST FOLDER OUTPUT"), std::string::npos);
  ToolRun version = RunTool({"--version"});
  EXPECT_EQ(version.status, kPackExitOk);
  EXPECT_EQ(version.out.rfind("marrowgate-pack ", 0), 0u);
}

// Storing one large item tells the bytes read chunk by chunk, so a
// progress bar can move within it, and stores the whole content.
TEST_F(PackToolTest, StoringALargeItemTellsItsBytesChunkByChunk) {
  const std::string content = Incompressible(3 * pack::kChunk + 1234, 7);
  WriteFile(root_ / "big.bin", content);
  SourceItem item;
  item.diskPath = (root_ / "big.bin").string();
  item.innerPath = "big.bin";
  item.size = content.size();
  item.time = 1500000000;

  Owned<FileSystem> disk(CreateFileSystem());
  PackageParams params;
  params.mode = kOpenCreate;
  params.file = disk->Open((root_ / "out.dpk").c_str(), kOpenCreate);
  params.ownFile = 1;
  ASSERT_NE(params.file, nullptr);
  Owned<Package> package(new Package);
  ASSERT_EQ(package->Open(params), 0);
  std::vector<uint64_t> steps;
  std::vector<uint8_t> buffer;
  pack::ItemResult result = pack::StoreItem(package.get(), item, &buffer,
                                            [&](uint64_t bytes) { steps.push_back(bytes); });
  ASSERT_TRUE(result.ok()) << result.problem;
  ASSERT_EQ(steps.size(), 4u);
  for (size_t i = 1; i < steps.size(); ++i) EXPECT_GT(steps[i], steps[i - 1]);
  EXPECT_EQ(steps.back(), content.size());
  {
    Owned<VirtualFile> back(package->OpenItem("big.bin", kOpenRead));
    ASSERT_NE(back, nullptr);
    std::string read(content.size(), '\0');
    EXPECT_EQ(back->Read(read.data(), static_cast<int32_t>(read.size())),
              static_cast<int32_t>(read.size()));
    EXPECT_EQ(read, content);
  }
  EXPECT_EQ(package->Close(), 0);
}

TEST_F(PackToolTest, MissingFilesGiveStatusOneAndNameTheFile) {
  ToolRun list = RunTool({"list", (root_ / "nothing.dpk").string()});
  EXPECT_EQ(list.status, kPackExitFailure);
  EXPECT_NE(list.err.find("nothing.dpk: cannot be opened: No such file or directory"),
            std::string::npos)
      << list.err;

  ToolRun create = RunTool({"create", (root_ / "p.dpk").string(), (root_ / "no-folder").string()});
  EXPECT_EQ(create.status, kPackExitFailure);
  EXPECT_NE(create.err.find("no-folder: cannot be packed: No such file or directory"),
            std::string::npos)
      << create.err;
  EXPECT_FALSE(fs::exists(root_ / "p.dpk"));

  ToolRun inside = RunTool({"create", (source_ / "self.dpk").string(), source_.string()});
  EXPECT_EQ(inside.status, kPackExitFailure);
  EXPECT_NE(inside.err.find("inside the folder"), std::string::npos) << inside.err;
  EXPECT_FALSE(fs::exists(source_ / "self.dpk"));

  WriteFile(root_ / "plain.txt", "not a package at all, just some text");
  ToolRun notPackage = RunTool({"verify", (root_ / "plain.txt").string()});
  EXPECT_EQ(notPackage.status, kPackExitFailure);
  EXPECT_NE(notPackage.err.find("is not a package"), std::string::npos) << notPackage.err;
}

TEST_F(PackToolTest, CreateListExtractRoundTripKeepsBytesAndTimes) {
  std::string package = (root_ / "patch.dpk").string();
  ToolRun create = RunTool({"create", package, source_.string()});
  ASSERT_EQ(create.status, kPackExitOk) << create.err;
  EXPECT_FALSE(fs::exists(package + ".partial"));

  ToolRun list = RunTool({"list", package});
  ASSERT_EQ(list.status, kPackExitOk) << list.err;
  // MD5 of "hello, player\n".
  EXPECT_NE(list.out.find("81959f8c7a945bf0d5e42d20340a9bd8  readme.txt"), std::string::npos)
      << list.out;
  EXPECT_NE(list.out.find("data/maps/harbour.map"), std::string::npos);
  EXPECT_NE(list.out.find("empty-folder/"), std::string::npos);
  EXPECT_NE(list.out.find("d41d8cd98f00b204e9800998ecf8427e  data/empty.dat"), std::string::npos);

  fs::path extracted = root_ / "extracted";
  ToolRun extract = RunTool({"extract", package, extracted.string()});
  ASSERT_EQ(extract.status, kPackExitOk) << extract.err;
  EXPECT_EQ(Tree(extracted), Tree(source_));
  EXPECT_EQ(ModificationTime(extracted / "readme.txt"), 1500000000);
  EXPECT_EQ(ModificationTime(extracted / "data/sounds.bin"), 1400000000);

  EXPECT_EQ(RunTool({"verify", package}).status, kPackExitOk);
}

// SOURCE_DATE_EPOCH stands in for the clock: the same tree gives the same
// bytes at any hour, another moment other bytes, and a bad value is refused.
TEST_F(PackToolTest, SourceDateEpochMakesCreateReproducible) {
  auto createAt = [&](const char* epoch, const std::string& name) {
    platform::SetEnvironment("SOURCE_DATE_EPOCH", epoch);
    ToolRun run = RunTool({"-q", "create", (root_ / name).string(), source_.string()});
    platform::SetEnvironment("SOURCE_DATE_EPOCH", nullptr);
    return run;
  };
  ASSERT_EQ(createAt("1234567890", "a.dpk").status, kPackExitOk);
  ASSERT_EQ(createAt("1234567890", "b.dpk").status, kPackExitOk);
  ASSERT_EQ(createAt("1234567999", "c.dpk").status, kPackExitOk);
  EXPECT_EQ(ReadFile(root_ / "a.dpk"), ReadFile(root_ / "b.dpk"));
  EXPECT_NE(ReadFile(root_ / "a.dpk"), ReadFile(root_ / "c.dpk"));
  EXPECT_GT(LibClockNow(), 1600000000);  // the clock runs again afterwards
  ToolRun bad = createAt("yesterday", "d.dpk");
  EXPECT_EQ(bad.status, kPackExitUsage);
  EXPECT_NE(bad.err.find("SOURCE_DATE_EPOCH must be a count of seconds"), std::string::npos)
      << bad.err;
  EXPECT_FALSE(fs::exists(root_ / "d.dpk"));
}

TEST_F(PackToolTest, ExtractNamedPathsOnly) {
  std::string package = (root_ / "patch.dpk").string();
  ASSERT_EQ(RunTool({"create", package, source_.string()}).status, kPackExitOk);
  fs::path target = root_ / "some";
  ToolRun extract = RunTool({"extract", package, target.string(), "readme.txt", "data/maps"});
  ASSERT_EQ(extract.status, kPackExitOk) << extract.err;
  EXPECT_EQ(ReadFile(target / "readme.txt"), "hello, player\n");
  EXPECT_TRUE(fs::exists(target / "data/maps/harbour.map"));
  EXPECT_FALSE(fs::exists(target / "data/sounds.bin"));

  EXPECT_EQ(RunTool({"extract", package, target.string(), "no/such"}).status, kPackExitFailure);
  ToolRun climb = RunTool({"extract", package, target.string(), "../outside"});
  EXPECT_EQ(climb.status, kPackExitFailure);
  EXPECT_FALSE(fs::exists(root_ / "outside"));
}

TEST_F(PackToolTest, AddReplacesAndRemoveFrees) {
  std::string package = (root_ / "patch.dpk").string();
  ASSERT_EQ(RunTool({"create", package, source_.string()}).status, kPackExitOk);
  uintmax_t sizeBefore = fs::file_size(package);

  fs::path more = root_ / "more";
  WriteFile(more / "readme.txt", "replaced\n");
  WriteFile(more / "new/extra.txt", "extra\n");
  ASSERT_EQ(RunTool({"add", package, more.string()}).status, kPackExitOk);
  ASSERT_EQ(RunTool({"add", package, more.string(), "below/here"}).status, kPackExitOk);

  fs::path out = root_ / "out";
  ASSERT_EQ(RunTool({"extract", package, out.string()}).status, kPackExitOk);
  EXPECT_EQ(ReadFile(out / "readme.txt"), "replaced\n");
  EXPECT_EQ(ReadFile(out / "new/extra.txt"), "extra\n");
  EXPECT_EQ(ReadFile(out / "below/here/readme.txt"), "replaced\n");
  EXPECT_TRUE(fs::exists(out / "data/sounds.bin"));

  // Removing frees blocks: adding the same files again does not grow it.
  ASSERT_EQ(RunTool({"remove", package, "data", "below", "new/extra.txt"}).status, kPackExitOk);
  ToolRun list = RunTool({"list", package});
  EXPECT_EQ(list.out.find("sounds.bin"), std::string::npos);
  EXPECT_EQ(list.out.find("below"), std::string::npos);
  EXPECT_EQ(RunTool({"verify", package}).status, kPackExitOk);
  uintmax_t sizeAfterRemove = fs::file_size(package);
  ASSERT_EQ(RunTool({"add", package, (source_ / "data").string(), "data"}).status, kPackExitOk);
  EXPECT_EQ(fs::file_size(package), sizeAfterRemove);
  EXPECT_GE(sizeAfterRemove, sizeBefore);

  EXPECT_EQ(RunTool({"remove", package, "not-there.txt"}).status, kPackExitFailure);
  EXPECT_EQ(RunTool({"remove", package, "../x"}).status, kPackExitFailure);
}

TEST_F(PackToolTest, WrongPasswordIsAClearError) {
  std::string package = (root_ / "patch.dpk").string();
  ASSERT_EQ(RunTool({"--key-a", "secret", "create", package, source_.string()}).status, kPackExitOk);
  ToolRun wrong = RunTool({"list", package});
  EXPECT_EQ(wrong.status, kPackExitFailure);
  EXPECT_NE(wrong.err.find("wrong password"), std::string::npos) << wrong.err;
  EXPECT_EQ(RunTool({"--key-a", "secret", "verify", package}).status, kPackExitOk);
}

void WriteLittle32(const fs::path& path, std::streamoff offset, uint32_t value) {
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  uint8_t bytes[4];
  StoreLe32(value, bytes);
  file.seekp(offset);
  file.write(reinterpret_cast<const char*>(bytes), 4);
}

TEST_F(PackToolTest, VerifyCatchesAFlippedByteAndABrokenChain) {
  fs::path one = root_ / "one";
  WriteFile(one / "big.bin", Incompressible(5000, 2));
  std::string package = (root_ / "one.dpk").string();
  ASSERT_EQ(RunTool({"create", package, one.string()}).status, kPackExitOk);
  ASSERT_EQ(RunTool({"verify", package}).status, kPackExitOk);

  // The only file item starts at block 3 (after the tree and the names).
  std::string flipped = (root_ / "flipped.dpk").string();
  fs::copy_file(package, flipped);
  FlipByte(flipped, 3 * 1024 + 600);
  ToolRun damaged = RunTool({"verify", flipped});
  EXPECT_EQ(damaged.status, kPackExitFailure);
  EXPECT_NE(damaged.err.find("big.bin"), std::string::npos) << damaged.err;
  EXPECT_NE(damaged.err.find("does not match the stored MD5"), std::string::npos) << damaged.err;

  // Block 4 follows block 3; make block 4 point back at block 3.
  std::string broken = (root_ / "broken.dpk").string();
  fs::copy_file(package, broken);
  WriteLittle32(broken, 4 * 1024 + 4, 3);
  ToolRun cycle = RunTool({"verify", broken});
  EXPECT_EQ(cycle.status, kPackExitFailure);
  EXPECT_FALSE(cycle.err.empty());
}

TEST_F(PackToolTest, ProbeTellsTheThreeKinds) {
  std::string package = (root_ / "patch.dpk").string();
  ASSERT_EQ(RunTool({"create", package, source_.string()}).status, kPackExitOk);
  WriteFile(root_ / "plain.bin", std::string(200, 'x'));
  EXPECT_EQ(RunTool({"probe", package}).out, "package\n");
  EXPECT_EQ(RunTool({"probe", (root_ / "plain.bin").string()}).out, "none\n");
  EXPECT_EQ(RunTool({"probe", (root_ / "missing").string()}).status, kPackExitFailure);
}

TEST_F(PackToolTest, AttachKeepsTheHostRunnable) {
  const char* tool = MARROWGATE_PACK_PROGRAM;
  fs::path host = root_ / "host";
  fs::copy_file(tool, host);
  fs::path patched = root_ / "patched";
  ToolRun attach = RunTool({"attach", host.string(), source_.string(), patched.string()});
  ASSERT_EQ(attach.status, kPackExitOk) << attach.err;
  EXPECT_FALSE(fs::exists(patched.string() + ".partial"));
  EXPECT_EQ(RunTool({"probe", host.string()}).out, "none\n");
  EXPECT_EQ(RunTool({"probe", patched.string()}).out, "host\n");

  // The copy still starts and works as before: it is the tool itself.
  std::string command = patched.string() + " --version > " + (root_ / "version.txt").string();
  EXPECT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(ReadFile(root_ / "version.txt").rfind("marrowgate-pack ", 0), 0u);

  // The appended package reads back through the host.
  EXPECT_EQ(RunTool({"verify", patched.string()}).status, kPackExitOk);
  fs::path out = root_ / "out";
  ASSERT_EQ(RunTool({"extract", patched.string(), out.string()}).status, kPackExitOk);
  EXPECT_EQ(Tree(out), Tree(source_));

  // A failed attach leaves no output behind.
  fs::path never = root_ / "never";
  EXPECT_EQ(RunTool({"attach", host.string(), (root_ / "no-folder").string(), never.string()}).status,
            kPackExitFailure);
  EXPECT_FALSE(fs::exists(never));
  EXPECT_FALSE(fs::exists(never.string() + ".partial"));
}

}  // namespace
}  // namespace marrowgate
