// Real processes killed with SIGKILL at random moments: marrowgate-pack
// updating and creating a package, and the patcher applying a patch with a
// package line. After each kill the package is verified and reads as
// before or after; the run, started again, ends exactly as an
// uninterrupted run does.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "app/local_file_list.h"
#include "tools/testing/pack_tool_testing.h"
#include "util/md5.h"

namespace marrowgate {
namespace {

using Tree = std::map<std::string, std::string>;

// Every file below `root` by relative path, except those `skip` names.
Tree ReadTree(const fs::path& root, const std::vector<std::string>& skip = {}) {
  Tree tree;
  if (!fs::exists(root)) return tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    std::string relative = fs::relative(entry.path(), root).generic_string();
    bool skipped = false;
    for (const std::string& s : skip) skipped = skipped || relative == s;
    if (!skipped) tree[relative] = ReadFile(entry.path());
  }
  return tree;
}

std::string Noise(std::mt19937* random, size_t n) {
  std::string bytes(n, '\0');
  for (char& c : bytes) c = static_cast<char>((*random)() & 0xFF);
  return bytes;
}

// A suffix that keeps scratch names of test processes running at the same
// time (several build trees on one machine) apart.
std::string UniqueSuffix() {
  static const std::string suffix = [] {
    std::random_device random;
    return std::to_string(random()) + std::to_string(random());
  }();
  return suffix;
}

// Runs a command line through the shell; its exit status (137 after a
// SIGKILL).
int Shell(const std::string& command) {
  static int counter = 0;
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  fs::path status = fs::path(::testing::TempDir()) /
                    ("mg_crash_status_" + std::string(test != nullptr ? test->name() : "") + "_" +
                     UniqueSuffix() + "_" +
                     std::to_string(++counter) + ".txt");
  std::system((command + " > /dev/null 2>&1; echo $? > " + status.string()).c_str());
  int code = std::atoi(ReadFile(status).c_str());
  fs::remove(status);
  return code;
}

// The command run under a SIGKILL after `seconds`.
std::string Killed(const std::string& command, double seconds) {
  return "timeout -s KILL " + std::to_string(seconds) + " " + command;
}

double Seconds(const std::function<void()>& run) {
  auto start = std::chrono::steady_clock::now();
  run();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class CrashRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::path(::testing::TempDir()) /
            ("mg_crash_" +
             std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
             UniqueSuffix());
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }

  std::string Pack(const std::string& arguments) {
    return std::string(MARROWGATE_PACK_PROGRAM) + " " + arguments;
  }
  // The tree a package holds, through marrowgate-pack extract.
  Tree Extract(const fs::path& package) {
    fs::path out = root_ / "extracted";
    fs::remove_all(out);
    fs::create_directories(out);
    if (Shell(Pack("extract " + package.string() + " " + out.string())) != 0) return {{"", "<no>"}};
    return ReadTree(out);
  }
  bool Verify(const fs::path& package) {
    return Shell(Pack("verify " + package.string())) == 0;
  }
  // `count` delays spread over `duration`, jittered from a fixed seed.
  std::vector<double> Delays(double duration, int count) {
    std::mt19937 random(15);
    std::uniform_real_distribution<double> jitter(0.2, 0.95);
    std::vector<double> delays;
    for (int i = 0; i < count; ++i)
      delays.push_back(std::max(0.005, duration * (i + jitter(random)) / count));
    return delays;
  }

  fs::path root_;
};

TEST_F(CrashRunTest, PackToolKilledWhileUpdatingOrCreatingAPackage) {
  std::mt19937 random(1);
  fs::path first = root_ / "first", second = root_ / "second";
  for (int i = 0; i < 40; ++i)
    WriteFile(first / ("f" + std::to_string(i % 8)) / ("item" + std::to_string(i) + ".bin"),
              Noise(&random, 20000 + 1000 * (i % 17)));
  for (int i = 0; i < 30; ++i)
    WriteFile(second / ("f" + std::to_string(i % 5)) / ("item" + std::to_string(i * 2) + ".bin"),
              Noise(&random, 25000 + 900 * (i % 13)));
  fs::path base = root_ / "base.dpk";
  ASSERT_EQ(Shell(Pack("create " + base.string() + " " + first.string())), 0);
  const Tree before = Extract(base);
  ASSERT_EQ(before, ReadTree(first));

  fs::path reference = root_ / "reference.dpk";
  fs::copy_file(base, reference);
  const double duration =
      Seconds([&] { ASSERT_EQ(Shell(Pack("add " + reference.string() + " " + second.string())), 0); });
  const Tree after = Extract(reference);
  ASSERT_NE(after, before);

  int killed = 0, sawOld = 0, sawNew = 0;
  for (double delay : Delays(duration, 5)) {
    SCOPED_TRACE("add killed after " + std::to_string(delay) + " s");
    fs::path trial = root_ / "trial.dpk";
    fs::remove(trial);
    fs::copy_file(base, trial);
    if (Shell(Killed(Pack("add " + trial.string() + " " + second.string()), delay)) == 137)
      ++killed;
    EXPECT_TRUE(Verify(trial));
    const Tree now = Extract(trial);
    EXPECT_TRUE(now == before || now == after);
    sawOld += now == before;
    sawNew += now == after;
    // Started again, the update completes.
    EXPECT_EQ(Shell(Pack("add " + trial.string() + " " + second.string())), 0);
    EXPECT_TRUE(Verify(trial));
    EXPECT_EQ(Extract(trial), after);
  }

  // Creating: the package is there whole, or not at all.
  const double createDuration = Seconds([&] {
    ASSERT_EQ(Shell(Pack("create " + (root_ / "timed.dpk").string() + " " + first.string())), 0);
  });
  for (double delay : Delays(createDuration, 3)) {
    SCOPED_TRACE("create killed after " + std::to_string(delay) + " s");
    fs::path made = root_ / "made.dpk";
    fs::remove(made);
    Shell(Killed(Pack("create " + made.string() + " " + first.string()), delay));
    if (fs::exists(made)) {
      EXPECT_TRUE(Verify(made));
      EXPECT_EQ(Extract(made), before);
    }
  }
  std::printf("marrowgate-pack: %d kills during add (%d left the old package, %d the new)\n",
              killed, sawOld, sawNew);
}

const std::string kMessages = std::string("100 Crash patch\r\n") + kPatcherTestMessages +
                                "10001 1\r\n10002 bin/game.exe\r\n";

TEST_F(CrashRunTest, PatcherKilledDuringARunThenRunAgain) {
  std::mt19937 random(2);
  fs::path patch = root_ / "patch", templ = root_ / "template", program = root_ / "patcher";
  std::string newList;
  FileTable table;
  for (int i = 0; i < 45; ++i) {
    std::string name = "data/d" + std::to_string(i % 6) + "/f" + std::to_string(i) + ".bin";
    std::string old = Noise(&random, 15000 + 700 * (i % 11));
    WriteFile(templ / name, old);
    FileRecord record;
    record.size = static_cast<uint32_t>(old.size());
    Md5Digest(old.data(), old.size(), record.digest.data());
    table[name] = record;
    if (i % 3 != 0) {  // two thirds of the files change
      WriteFile(patch / "update" / name, Noise(&random, 16000 + 800 * (i % 7)));
      newList += name + "\r\n";
    }
  }
  for (int i = 0; i < 20; ++i) {
    std::string name = "res/pack/s" + std::to_string(i) + ".wav";
    WriteFile(patch / "update" / name, Noise(&random, 12000 + 500 * i));
  }
  WriteFile(patch / "update/bin/game.exe", Noise(&random, 50000));
  newList += "bin/game.exe\r\n";
  WriteFile(patch / "update/update/newfile.txt", newList);
  WriteFile(patch / "cfg.txt", std::string(kMessages) +
                                   "UPDATE\r\n{\r\n  szValidityStr = 1.2.0.0\r\n"
                                   "  PACKAGE = res/pack\r\n}\r\n");
  WriteFile(templ / "bin/game.exe", "the old game");
  WriteFile(templ / "mb/etc/version.txt", "1 1.5.0.0\r\n");
  WriteFile(templ / "update/localfilelist.txt", SerializeLocalFileList(table));
  ASSERT_EQ(Shell(Pack(std::string("attach ") + MARROWGATE_PATCHER_PROGRAM + " " + patch.string() +
                       " " + program.string())),
            0);

  auto fresh = [&](const fs::path& install) {
    fs::remove_all(install);
    fs::copy(templ, install, fs::copy_options::recursive);
  };
  auto run = [&](const fs::path& install) {
    return program.string() + " --console " + install.string() + "/";
  };
  const std::vector<std::string> skip = {"res/pack.dpk"};
  const Tree carried = ReadTree(patch / "update");
  fs::path reference = root_ / "reference";
  fresh(reference);
  const Tree old = ReadTree(reference);
  const double duration = Seconds([&] { ASSERT_EQ(Shell(run(reference)), 0); });
  const Tree expected = ReadTree(reference, skip);
  const Tree expectedPack = Extract(reference / "res/pack.dpk");
  ASSERT_EQ(expectedPack.size(), 20u);
  ASSERT_FALSE(fs::exists(reference / "update/newfile.txt"));

  int killed = 0;
  for (double delay : Delays(duration, 5)) {
    SCOPED_TRACE("patcher killed after " + std::to_string(delay) + " s");
    fs::path install = root_ / "install";
    fresh(install);
    if (Shell(Killed(run(install), delay)) == 137) ++killed;
    // Each file is the old one or the new one (as the patch carries it, or
    // as the end of the run leaves it); staging files aside.
    const Tree now = ReadTree(install, skip);
    for (const auto& [name, content] : now) {
      if (name.size() > 8 && (name.compare(name.size() - 8, 8, ".~mgpart") == 0 ||
                              name.compare(name.size() - 4, 4, ".tmp") == 0))
        continue;
      auto isIn = [&](const Tree& tree) {
        auto it = tree.find(name);
        return it != tree.end() && it->second == content;
      };
      EXPECT_TRUE(isIn(old) || isIn(expected) || isIn(carried)) << name;
    }
    if (fs::exists(install / "res/pack.dpk")) {
      EXPECT_TRUE(Verify(install / "res/pack.dpk"));
    }
    // Run again: the same end as the uninterrupted run.
    EXPECT_EQ(Shell(run(install)), 0);
    EXPECT_EQ(ReadTree(install, skip), expected);
    EXPECT_TRUE(Verify(install / "res/pack.dpk"));
    EXPECT_EQ(Extract(install / "res/pack.dpk"), expectedPack);
  }
  std::printf("patcher: %d kills at spread moments, each rerun ended as the uninterrupted run\n",
              killed);
}

}  // namespace
}  // namespace marrowgate
