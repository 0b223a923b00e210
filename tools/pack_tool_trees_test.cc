// marrowgate-pack over real trees: names the package would fold into one,
// damaged items, links in the target folder, attaching onto itself,
// special and unreadable files, the size and time limits, deep folders and
// interrupts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/env.h"
#include "tools/pack_command_line.h"
#include "tools/pack_source_scan.h"
#include "tools/pack_tool.h"
#include "tools/testing/pack_tool_testing.h"

namespace marrowgate {
namespace {

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Every entry below `folder` (links not followed), relative path -> what it
// is and holds.
std::map<std::string, std::string> Listing(const fs::path& folder) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    std::string rel = fs::relative(entry.path(), folder).generic_string();
    entries[rel] = entry.is_symlink()     ? "<link>"
                   : entry.is_directory() ? "<dir>"
                                          : ReadFile(entry.path());
  }
  return entries;
}

// Runs a shell command; its exit status.
int Shell(const std::string& command) {
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

using PackNamesTreeTest = PackToolFolderTest;

TEST_F(PackNamesTreeTest, CreateRefusesNamesThatFoldIntoOneAndWritesNothing) {
  WriteFile(root_ / "src/README", "upper\n");
  WriteFile(root_ / "src/readme", "lower\n");
  WriteFile(root_ / "src/Data/x.txt", "x\n");
  WriteFile(root_ / "src/data/y.txt", "y\n");
  WriteFile(root_ / "old.dpk", "an older package stays as it was");
  ToolRun run = RunTool({"create", Path("old.dpk"), Path("src")});
  EXPECT_EQ(run.status, kPackExitFailure);
  EXPECT_TRUE(Contains(run.err, "src/README and " + Path("src/readme"))) << run.err;
  EXPECT_TRUE(Contains(run.err, "src/Data and " + Path("src/data"))) << run.err;
  EXPECT_TRUE(Contains(run.err, "nothing written")) << run.err;
  EXPECT_EQ(ReadFile(root_ / "old.dpk"), "an older package stays as it was");
  EXPECT_FALSE(fs::exists(Path("old.dpk.partial")));
}

TEST_F(PackNamesTreeTest, NamesDifferingInCaseInDifferentFoldersKeepTheirSpelling) {
  WriteFile(root_ / "src/one/font.h", "lower\n");
  WriteFile(root_ / "src/two/Font.h", "upper\n");
  WriteFile(root_ / "src/Two.txt", "file\n");
  std::string package = Path("p.dpk");
  ASSERT_EQ(RunTool({"create", package, Path("src")}).status, kPackExitOk);
  ASSERT_EQ(RunTool({"extract", package, Path("out")}).status, kPackExitOk);
  std::map<std::string, std::string> expected = {
      {"one", "<dir>"}, {"one/font.h", "lower\n"}, {"two", "<dir>"},
      {"two/Font.h", "upper\n"}, {"Two.txt", "file\n"}};
  EXPECT_EQ(Listing(root_ / "out"), expected);
}

TEST_F(PackNamesTreeTest, AddRefusesANameFoldingOntoAnEntryOfAnotherSpelling) {
  WriteFile(root_ / "src/Data/Map.bin", "map\n");
  std::string package = Path("p.dpk");
  ASSERT_EQ(RunTool({"create", package, Path("src")}).status, kPackExitOk);
  std::string before = ReadFile(package);

  WriteFile(root_ / "more/data/extra.bin", "extra\n");
  ToolRun folded = RunTool({"add", package, Path("more")});
  EXPECT_EQ(folded.status, kPackExitFailure);
  EXPECT_TRUE(Contains(folded.err, "data: would replace Data")) << folded.err;
  EXPECT_EQ(ReadFile(package), before);

  ToolRun prefixed = RunTool({"add", package, Path("more"), "DATA"});
  EXPECT_EQ(prefixed.status, kPackExitFailure);

  // The same spelling replaces, as before.
  WriteFile(root_ / "same/Data/Map.bin", "new map\n");
  ASSERT_EQ(RunTool({"add", package, Path("same")}).status, kPackExitOk);
  ASSERT_EQ(RunTool({"extract", package, Path("out")}).status, kPackExitOk);
  EXPECT_EQ(ReadFile(root_ / "out/Data/Map.bin"), "new map\n");
}

TEST_F(PackNamesTreeTest, ListEscapesControlCharacters) {
  WriteFile(root_ / "src/two\nlines.txt", "x");
  WriteFile(root_ / "src/tab\there", "y");
  std::string package = Path("p.dpk");
  ASSERT_EQ(RunTool({"create", package, Path("src")}).status, kPackExitOk);
  ToolRun list = RunTool({"list", package});
  EXPECT_TRUE(Contains(list.out, "two\\nlines.txt\n")) << list.out;
  EXPECT_TRUE(Contains(list.out, "tab\\there\n")) << list.out;
  ToolRun json = RunTool({"list", "--json", package});
  EXPECT_TRUE(Contains(json.out, "\"two\\nlines.txt\"")) << json.out;
}

// ---------------------------------------------------------------- extract

class PackExtractTest : public PackToolFolderTest {
 protected:
  // A package whose first item (block 3 on) is "a.bin" followed by "b.txt".
  void MakePackage(const std::string& firstContent) {
    WriteFile(root_ / "src/a.bin", firstContent);
    WriteFile(root_ / "src/b.txt", "the second item\n");
    package_ = Path("p.dpk");
    ASSERT_EQ(RunTool({"create", package_, Path("src")}).status, kPackExitOk);
  }
  void ExpectDamagedFirstItemSkipped() {
    ToolRun run = RunTool({"extract", package_, Path("out")});
    EXPECT_EQ(run.status, kPackExitFailure);
    EXPECT_TRUE(Contains(run.err, "a.bin: ")) << run.err;
    EXPECT_TRUE(Contains(run.err, "not written")) << run.err;
    EXPECT_TRUE(Contains(run.out, "1 problem")) << run.out;
    // The damaged file is not there, the other one is, nothing else is.
    std::map<std::string, std::string> expected = {{"b.txt", "the second item\n"}};
    EXPECT_EQ(Listing(root_ / "out"), expected);
  }
  std::string package_;
};

TEST_F(PackExtractTest, AFlippedByteInAStoredItemIsNotWritten) {
  MakePackage(Incompressible(5000, 7));
  FlipByte(package_, 3 * 1024 + 600);
  ExpectDamagedFirstItemSkipped();
}

TEST_F(PackExtractTest, AFlippedByteInACompressedItemIsNotWritten) {
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i * 7919 % 10007) + "\n";
  MakePackage(text);
  FlipByte(package_, 3 * 1024 + 300);
  ExpectDamagedFirstItemSkipped();
}

TEST_F(PackExtractTest, ALinkAtAFilePathIsReplacedNotFollowed) {
  MakePackage("first\n");
  WriteFile(root_ / "outside.txt", "must stay\n");
  fs::create_directories(root_ / "out");
  fs::create_symlink(root_ / "outside.txt", root_ / "out/a.bin");
  ToolRun run = RunTool({"extract", package_, Path("out")});
  ASSERT_EQ(run.status, kPackExitOk) << run.err;
  EXPECT_EQ(ReadFile(root_ / "outside.txt"), "must stay\n");
  EXPECT_FALSE(fs::is_symlink(root_ / "out/a.bin"));
  EXPECT_EQ(ReadFile(root_ / "out/a.bin"), "first\n");
}

TEST_F(PackExtractTest, AFolderLinkLeadingOutsideIsRefused) {
  WriteFile(root_ / "src/data/inner.txt", "inner\n");
  MakePackage("first\n");
  fs::create_directories(root_ / "elsewhere");
  fs::create_directories(root_ / "out");
  fs::create_directory_symlink(root_ / "elsewhere", root_ / "out/data");
  ToolRun run = RunTool({"extract", package_, Path("out")});
  EXPECT_EQ(run.status, kPackExitFailure);
  EXPECT_TRUE(Contains(run.err, "out/data: not followed")) << run.err;
  EXPECT_TRUE(fs::is_empty(root_ / "elsewhere"));
  EXPECT_EQ(ReadFile(root_ / "out/b.txt"), "the second item\n");

  // A link that stays inside the target is used.
  fs::remove(root_ / "out/data");
  fs::create_directories(root_ / "out/real");
  fs::create_directory_symlink("real", root_ / "out/data");
  ASSERT_EQ(RunTool({"extract", package_, Path("out")}).status, kPackExitOk);
  EXPECT_EQ(ReadFile(root_ / "out/real/inner.txt"), "inner\n");
}

TEST_F(PackExtractTest, PatternsNoOverwriteAndVerbosity) {
  WriteFile(root_ / "src/data/maps/one.map", "1");
  WriteFile(root_ / "src/data/maps/two.map", "2");
  WriteFile(root_ / "src/data/sound.ogg", "s");
  MakePackage("first\n");
  ToolRun picked = RunTool({"-v", "extract", package_, Path("out"), "data/*/*.map", "?.txt"});
  ASSERT_EQ(picked.status, kPackExitOk) << picked.err;
  std::map<std::string, std::string> expected = {{"b.txt", "the second item\n"},
                                                 {"data", "<dir>"},
                                                 {"data/maps", "<dir>"},
                                                 {"data/maps/one.map", "1"},
                                                 {"data/maps/two.map", "2"}};
  EXPECT_EQ(Listing(root_ / "out"), expected);
  EXPECT_TRUE(Contains(picked.out, "data/maps/one.map\n")) << picked.out;
  EXPECT_EQ(RunTool({"extract", package_, Path("out"), "no*such"}).status, kPackExitFailure);

  WriteFile(root_ / "out/b.txt", "mine\n");
  ToolRun keep = RunTool({"-n", "extract", package_, Path("out")});
  ASSERT_EQ(keep.status, kPackExitOk) << keep.err;
  EXPECT_EQ(ReadFile(root_ / "out/b.txt"), "mine\n");
  EXPECT_TRUE(Contains(keep.out, "3 existing files kept")) << keep.out;
  ToolRun replace = RunTool({"-q", "-o", "extract", package_, Path("out")});
  ASSERT_EQ(replace.status, kPackExitOk) << replace.err;
  EXPECT_EQ(replace.out, "");
  EXPECT_EQ(ReadFile(root_ / "out/b.txt"), "the second item\n");
}

// ----------------------------------------------------------------- attach

using PackAttachTest = PackToolFolderTest;

TEST_F(PackAttachTest, RefusesToWriteOntoTheHostOrIntoTheFolder) {
  WriteFile(root_ / "host", "#!/bin/sh\nexit 0\n");
  WriteFile(root_ / "src/a.txt", "a");
  ToolRun self = RunTool({"attach", Path("host"), Path("src"), Path("host")});
  EXPECT_EQ(self.status, kPackExitFailure);
  EXPECT_TRUE(Contains(self.err, "is the same file as")) << self.err;
  fs::create_hard_link(root_ / "host", root_ / "alias");
  EXPECT_EQ(RunTool({"attach", Path("host"), Path("src"), Path("alias")}).status,
            kPackExitFailure);
  EXPECT_EQ(ReadFile(root_ / "host"), "#!/bin/sh\nexit 0\n");

  ToolRun inside = RunTool({"attach", Path("host"), Path("src"), Path("src/out")});
  EXPECT_EQ(inside.status, kPackExitFailure);
  EXPECT_TRUE(Contains(inside.err, "inside the folder")) << inside.err;
  EXPECT_FALSE(fs::exists(root_ / "src/out"));
}

TEST_F(PackAttachTest, OutputsThatAreNotFilesAreRefusedBeforeAnythingIsWritten) {
  WriteFile(root_ / "host", "#!/bin/sh\nexit 0\n");
  WriteFile(root_ / "src/a.txt", "a");
  ASSERT_EQ(Shell("mkfifo '" + Path("fifo") + "'"), 0);
  fs::create_directories(root_ / "folder");
  for (const std::string& output : {Path("fifo"), Path("folder"), std::string("/dev/null")}) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"create", output, Path("src")},
          std::vector<std::string>{"attach", Path("host"), Path("src"), output},
          std::vector<std::string>{"add", output, Path("src")}}) {
      ToolRun run = RunTool(args);
      EXPECT_EQ(run.status, kPackExitFailure) << args[0] << " " << output;
      EXPECT_TRUE(Contains(run.err, output + ": is")) << run.err;
      EXPECT_FALSE(fs::exists(output + ".partial")) << output;
    }
  }
  EXPECT_TRUE(fs::is_fifo(root_ / "fifo"));
  EXPECT_TRUE(fs::is_directory(root_ / "folder"));
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  // A link at OUTPUT is a name: replaced by the new file, its target kept.
  WriteFile(root_ / "target", "the link's target");
  fs::create_symlink(root_ / "target", root_ / "link");
  ASSERT_EQ(RunTool({"create", Path("link"), Path("src")}).status, kPackExitOk);
  EXPECT_FALSE(fs::is_symlink(root_ / "link"));
  EXPECT_EQ(ReadFile(root_ / "target"), "the link's target");
  EXPECT_EQ(RunTool({"verify", Path("link")}).status, kPackExitOk);
}

// ---------------------------------------------------------- special files
// ---------------------------------------------------------- special files

using PackSourceTest = PackToolFolderTest;

TEST_F(PackSourceTest, SpecialFilesAndBadLinksAreSkippedAndCounted) {
  WriteFile(root_ / "src/kept.txt", "kept\n");
  WriteFile(root_ / "outside/shared.txt", "shared\n");
  ASSERT_EQ(Shell("mkfifo " + Path("src/pipe")), 0);
  fs::create_symlink(root_ / "nowhere", root_ / "src/dangling");
  fs::create_directories(root_ / "src/sub");
  fs::create_directory_symlink(root_ / "src", root_ / "src/sub/loop");
  fs::create_symlink(root_ / "outside/shared.txt", root_ / "src/linked.txt");
  fs::create_directory_symlink(root_ / "outside", root_ / "src/linked-folder");

  std::string package = Path("p.dpk");
  ToolRun run = RunTool({"create", package, Path("src")});
  EXPECT_EQ(run.status, kPackExitFailure);
  EXPECT_TRUE(Contains(run.err, "src/pipe: skipped: is a FIFO")) << run.err;
  EXPECT_TRUE(Contains(run.err, "src/dangling: skipped: a dangling symbolic link")) << run.err;
  EXPECT_TRUE(Contains(run.err, "src/sub/loop: skipped: a symbolic link loop")) << run.err;
  EXPECT_TRUE(Contains(run.out, "3 files, 3 problems")) << run.out;

  ASSERT_EQ(RunTool({"extract", package, Path("out")}).status, kPackExitOk);
  EXPECT_EQ(ReadFile(root_ / "out/linked.txt"), "shared\n");
  EXPECT_EQ(ReadFile(root_ / "out/linked-folder/shared.txt"), "shared\n");
  EXPECT_EQ(ReadFile(root_ / "out/kept.txt"), "kept\n");

  ToolRun skipping = RunTool({"--skip-special", "create", package, Path("src")});
  EXPECT_EQ(skipping.status, kPackExitOk) << skipping.err;
  ToolRun strict = RunTool({"--strict", "create", Path("strict.dpk"), Path("src")});
  EXPECT_EQ(strict.status, kPackExitFailure);
  EXPECT_FALSE(fs::exists(Path("strict.dpk")));
}

TEST_F(PackSourceTest, ExcludePatternsLeaveOutNamesAndPaths) {
  WriteFile(root_ / "src/a.o", "o");
  WriteFile(root_ / "src/deep/b.o", "o");
  WriteFile(root_ / "src/deep/keep.c", "c");
  WriteFile(root_ / "src/cache/x", "x");
  WriteFile(root_ / "src/deep/cache/y", "y");
  std::string package = Path("p.dpk");
  ASSERT_EQ(RunTool({"create", "--exclude=*.o", "--exclude", "cache", package, Path("src")}).status,
            kPackExitOk);
  ASSERT_EQ(RunTool({"extract", package, Path("out")}).status, kPackExitOk);
  std::map<std::string, std::string> expected = {{"deep", "<dir>"}, {"deep/keep.c", "c"}};
  EXPECT_EQ(Listing(root_ / "out"), expected);
}

// The folder cannot be read by the tool when it runs in a user namespace
// of its own (root there has no power over the real root's files).
TEST_F(PackSourceTest, AnUnreadableFolderIsNamedWithTheSystemsReason) {
  if (Shell("unshare -U true 2>/dev/null") != 0) GTEST_SKIP() << "no user namespaces here";
  WriteFile(root_ / "src/open.txt", "open\n");
  WriteFile(root_ / "src/locked/secret.txt", "secret\n");
  fs::permissions(root_ / "src/locked", fs::perms::none);
  fs::permissions(root_, fs::perms::all, fs::perm_options::add);
  std::string command = std::string("unshare -U ") + MARROWGATE_PACK_PROGRAM + " create " +
                        Path("p.dpk") + " " + Path("src") + " 2> " + Path("err.txt");
  EXPECT_EQ(Shell(command), 1);
  EXPECT_TRUE(Contains(ReadFile(root_ / "err.txt"),
                       "src/locked: cannot be read: Permission denied"))
      << ReadFile(root_ / "err.txt");
  fs::permissions(root_ / "src/locked", fs::perms::owner_all);
  EXPECT_TRUE(Contains(RunTool({"list", Path("p.dpk")}).out, "open.txt"));
}

// ----------------------------------------------------------------- limits

TEST_F(PackSourceTest, FilesLargerThanAnItemAreRefusedBeforeWriting) {
  WriteFile(root_ / "src/small.txt", "small\n");
  // Sparse files: nothing of their size is written.
  std::ofstream(root_ / "src/huge.bin").close();
  fs::resize_file(root_ / "src/huge.bin", uint64_t{1} << 32);
  std::ofstream(root_ / "src/big.bin").close();
  fs::resize_file(root_ / "src/big.bin", kMaxItemSize + 1);
  ToolRun strict = RunTool({"--strict", "create", Path("p.dpk"), Path("src")});
  EXPECT_EQ(strict.status, kPackExitFailure);
  EXPECT_TRUE(Contains(strict.err, "src/huge.bin: cannot be stored: 4294967296 bytes")) << strict.err;
  EXPECT_TRUE(Contains(strict.err, "src/big.bin: cannot be stored")) << strict.err;
  EXPECT_FALSE(fs::exists(Path("p.dpk")));
  EXPECT_FALSE(fs::exists(Path("p.dpk.partial")));

  ToolRun skipping = RunTool({"create", Path("p.dpk"), Path("src")});
  EXPECT_EQ(skipping.status, kPackExitFailure);
  EXPECT_TRUE(Contains(skipping.out, "1 file, 2 problems")) << skipping.out;
}

TEST_F(PackSourceTest, TimesAfter2038AndBefore1970) {
  constexpr int64_t k2100 = 4102444800;  // 2100-01-01
  WriteFile(root_ / "src/late.txt", "late\n");
  WriteFile(root_ / "src/early.txt", "early\n");
  ASSERT_TRUE(platform::SetFileTimes(Path("src/late.txt").c_str(), k2100, k2100));
  ASSERT_TRUE(platform::SetFileTimes(Path("src/early.txt").c_str(), -86400, -86400));
  std::string package = Path("p.dpk");
  ToolRun create = RunTool({"create", package, Path("src")});
  ASSERT_EQ(create.status, kPackExitOk) << create.err;
  EXPECT_TRUE(Contains(create.err, "early.txt: its time lies outside 1970-2106")) << create.err;
  EXPECT_TRUE(Contains(RunTool({"list", "--json", package}).out, "\"time\": 4102444800"));
  ASSERT_EQ(RunTool({"extract", package, Path("out")}).status, kPackExitOk);
  EXPECT_EQ(ModificationTime(root_ / "out/late.txt"), k2100);
  EXPECT_GE(ModificationTime(root_ / "out/early.txt"), 0);
  EXPECT_LT(ModificationTime(root_ / "out/early.txt"), 86400);
}

TEST_F(PackSourceTest, APackageInADeepFolderStillWorks) {
  WriteFile(root_ / "src/a.txt", "a\n");
  fs::path deep = root_;
  while (deep.string().size() < 300) deep /= std::string(60, 'd');
  fs::create_directories(deep);
  std::string package = (deep / "p.dpk").string();
  ASSERT_EQ(RunTool({"create", package, Path("src")}).status, kPackExitOk);
  EXPECT_EQ(RunTool({"verify", package}).status, kPackExitOk);
  EXPECT_TRUE(Contains(RunTool({"list", package}).out, "a.txt"));
  ASSERT_EQ(RunTool({"extract", package, (deep / "out").string()}).status, kPackExitOk);
  EXPECT_EQ(ReadFile(deep / "out/a.txt"), "a\n");
  WriteFile(root_ / "more/b.txt", "b\n");
  EXPECT_EQ(RunTool({"add", package, Path("more")}).status, kPackExitOk);
}

TEST_F(PackSourceTest, PathsInsideThePackageKeepTheir259Limit) {
  std::string inner;
  while (inner.size() < 200) inner += std::string(40, 'n') + "/";  // 205 characters
  WriteFile(root_ / "src" / inner / "fits.txt", "x");
  WriteFile(root_ / "src" / inner / (std::string(60, 'l') + ".txt"), "y");
  ToolRun run = RunTool({"create", Path("p.dpk"), Path("src")});
  EXPECT_EQ(run.status, kPackExitFailure);
  EXPECT_TRUE(Contains(run.err, "longer than 259 characters")) << run.err;
  EXPECT_TRUE(Contains(RunTool({"list", Path("p.dpk")}).out, "fits.txt"));
}

// ------------------------------------------------------------- interrupts

TEST_F(PackSourceTest, SigintDuringCreateRemovesThePartialFile) {
  WriteFile(root_ / "src/big.bin", Incompressible(16u << 20, 3));
  WriteFile(root_ / "p.dpk", "the old package");
  std::string partial = Path("p.dpk.partial");
  std::string script = std::string(MARROWGATE_PACK_PROGRAM) + " create " + Path("p.dpk") + " " +
                       Path("src") + " & pid=$!; n=0; while [ ! -e " + partial +
                       " ] && [ $n -lt 2000 ]; do sleep 0.005; n=$((n+1)); done; "
                       "kill -INT $pid; wait $pid; exit $?";
  EXPECT_EQ(Shell(script), 128 + 2);
  EXPECT_FALSE(fs::exists(partial));
  EXPECT_EQ(ReadFile(root_ / "p.dpk"), "the old package");
}

TEST_F(PackSourceTest, SigtermDuringCreateLeavesNoPartialFile) {
  WriteFile(root_ / "src/big.bin", Incompressible(16u << 20, 4));
  std::string partial = Path("p.dpk.partial");
  std::string script = std::string(MARROWGATE_PACK_PROGRAM) + " create " + Path("p.dpk") + " " +
                       Path("src") + " & pid=$!; n=0; while [ ! -e " + partial +
                       " ] && [ $n -lt 2000 ]; do sleep 0.005; n=$((n+1)); done; "
                       "kill -TERM $pid; wait $pid; exit $?";
  EXPECT_EQ(Shell(script), 128 + 15);
  EXPECT_FALSE(fs::exists(partial));
  EXPECT_FALSE(fs::exists(Path("p.dpk")));
}

// A file growing past the process's size limit raises SIGXFSZ while it is
// written: the extracted file's temporary is removed.
TEST_F(PackSourceTest, AFileSizeLimitDuringExtractLeavesNoTemporaryFile) {
  WriteFile(root_ / "src/big.bin", Incompressible(200000, 5));
  ASSERT_EQ(RunTool({"create", Path("p.dpk"), Path("src")}).status, kPackExitOk);
  std::string command = "ulimit -f 64; " + std::string(MARROWGATE_PACK_PROGRAM) + " extract " +
                        Path("p.dpk") + " " + Path("out") + " 2>/dev/null";
  EXPECT_EQ(Shell(command), 128 + 25);
  ASSERT_TRUE(fs::exists(root_ / "out"));
  EXPECT_TRUE(fs::is_empty(root_ / "out"));
}

// ------------------------------------------------------------ command line

TEST(PackCommandLineTest, UsageErrorsAreOneLineWithAPointerToHelp) {
  ToolRun bad = RunTool({"frobnicate"});
  EXPECT_EQ(bad.status, kPackExitUsage);
  EXPECT_EQ(bad.err,
            "marrowgate-pack: unknown command frobnicate\n"
            "Try 'marrowgate-pack --help' for more information.\n");
  EXPECT_EQ(RunTool({"--key-a=x", "--key-b=", "-V"}).status, kPackExitOk);
  EXPECT_EQ(RunTool({"-V"}).out.rfind("marrowgate-pack ", 0), 0u);
  EXPECT_TRUE(Contains(RunTool({"help"}).out, "usage: marrowgate-pack"));
  EXPECT_EQ(RunTool({"--quiet=yes", "list", "p"}).status, kPackExitUsage);
  EXPECT_EQ(RunTool({"-l", "--json", "list", "p"}).status, kPackExitUsage);

  PackCommandLine line;
  ASSERT_EQ(ParsePackCommandLine({"test", "p.dpk", "--key-a=secret"}, &line), "");
  EXPECT_EQ(line.command, "verify");
  EXPECT_EQ(*line.keyA, "secret");
}

TEST(PackCommandLineTest, KeysComeFromOptionsThenEnvironmentThenDefaults) {
  static std::map<std::string, std::string> environment;
  auto lookup = [](const char* name) -> const char* {
    auto found = environment.find(name);
    return found == environment.end() ? nullptr : found->second.c_str();
  };
  PackCommandLine line;
  ASSERT_EQ(ParsePackCommandLine({"list", "p"}, &line), "");
  ASSERT_EQ(ResolvePackKeys(&line, lookup), "");
  EXPECT_EQ(*line.keyA, kDefaultKeyA);
  EXPECT_EQ(*line.keyB, kDefaultKeyB);

  environment = {{kKeyAVariable, "from-env"}, {kKeyBVariable, ""}};
  ASSERT_EQ(ParsePackCommandLine({"list", "p"}, &line), "");
  ASSERT_EQ(ResolvePackKeys(&line, lookup), "");
  EXPECT_EQ(*line.keyA, "from-env");
  EXPECT_EQ(*line.keyB, "");

  ASSERT_EQ(ParsePackCommandLine({"--key-a", "option", "list", "p"}, &line), "");
  ASSERT_EQ(ResolvePackKeys(&line, lookup), "");
  EXPECT_EQ(*line.keyA, "option");

  environment[kKeyAVariable] = std::string(200, 'k');
  ASSERT_EQ(ParsePackCommandLine({"list", "p"}, &line), "");
  EXPECT_TRUE(Contains(ResolvePackKeys(&line, lookup), kKeyAVariable));
  environment.clear();
}

TEST_F(PackSourceTest, AKeyFromTheEnvironmentOpensThePackage) {
  WriteFile(root_ / "src/a.txt", "a");
  std::string package = Path("p.dpk");
  ASSERT_EQ(RunTool({"--key-a", "hidden", "create", package, Path("src")}).status, kPackExitOk);
  EXPECT_EQ(RunTool({"test", package}).status, kPackExitFailure);
  ASSERT_TRUE(platform::SetEnvironment(kKeyAVariable, "hidden"));
  ToolRun verify = RunTool({"test", package});
  platform::SetEnvironment(kKeyAVariable, nullptr);
  EXPECT_EQ(verify.status, kPackExitOk) << verify.err;
}

TEST_F(PackSourceTest, LongListingShowsSizesForPeopleAndATotal) {
  WriteFile(root_ / "src/k.bin", std::string(3 * 1024, 'k'));
  WriteFile(root_ / "src/d/small", "12345");
  ASSERT_EQ(RunTool({"create", Path("p.dpk"), Path("src")}).status, kPackExitOk);
  ToolRun list = RunTool({"list", "-l", Path("p.dpk")});
  ASSERT_EQ(list.status, kPackExitOk);
  EXPECT_TRUE(Contains(list.out, "    3.0K  ")) << list.out;
  EXPECT_TRUE(Contains(list.out, "2 files, 1 folder, 3077 bytes\n")) << list.out;
}

}  // namespace
}  // namespace marrowgate
