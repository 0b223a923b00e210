// Worker threads in marrowgate-pack: the pool and the ordered pipeline,
// and the tool giving the same package bytes, messages and files for every
// number of workers.
#include "tools/pack_jobs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tools/pack_command_line.h"
#include "tools/testing/pack_tool_testing.h"

namespace marrowgate {
namespace {

// ------------------------------------------------------------ pipeline

struct Counted {
  int index = 0;
  uint64_t value = 0;
  std::thread::id ranOn;
};

// Work that takes longer for lower indexes, so that later items tend to be
// done first.
uint64_t Spin(int index) {
  uint64_t x = static_cast<uint64_t>(index) + 1;
  for (int i = 0; i < (64 - index % 64) * 2000; ++i) x = x * 6364136223846793005u + 1442695040888963407u;
  return x;
}

TEST(OrderedPipelineTest, FinishesInOrderOnTheOwnerWithWorkDoneByWorkers) {
  WorkerPool pool(4);
  ASSERT_EQ(pool.size(), 4);
  const std::thread::id owner = std::this_thread::get_id();
  std::vector<int> finished;
  int workedOnWorkers = 0;
  {
    OrderedPipeline<Counted> pipeline(&pool, 8, 1000, [&](Counted& c) {
      EXPECT_EQ(std::this_thread::get_id(), owner);
      if (c.index % 5 == 0) {
        EXPECT_EQ(c.value, 0u);  // no work given: finished by the owner alone
      } else {
        EXPECT_EQ(c.value, Spin(c.index));
        if (c.ranOn != owner) ++workedOnWorkers;
      }
      finished.push_back(c.index);
    });
    for (int i = 0; i < 200; ++i) {
      Counted c;
      c.index = i;
      if (i % 5 == 0) {
        pipeline.Add(c, 0, nullptr);
      } else {
        pipeline.Add(c, 10, [](Counted& item, int worker) {
          EXPECT_GE(worker, 0);
          EXPECT_LT(worker, 4);
          item.value = Spin(item.index);
          item.ranOn = std::this_thread::get_id();
        });
      }
    }
  }  // the pipeline finishes what is left
  ASSERT_EQ(finished.size(), 200u);
  for (int i = 0; i < 200; ++i) EXPECT_EQ(finished[static_cast<size_t>(i)], i);
  EXPECT_EQ(workedOnWorkers, 160);
}

TEST(OrderedPipelineTest, ItemsAndBytesInFlightStayWithinTheLimits) {
  WorkerPool pool(3);
  std::atomic<int> added{0};
  int finishedCount = 0;
  size_t maxItemsSeen = 0;
  std::vector<size_t> sizes;
  for (int i = 0; i < 100; ++i) sizes.push_back(static_cast<size_t>((i * 37) % 50 + 1));
  sizes[40] = 500;  // more than the budget alone: still goes, alone
  size_t maxBytesSeen = 0;
  size_t bytesAdded = 0, bytesFinished = 0;
  OrderedPipeline<Counted> pipeline(&pool, 6, 120, [&](Counted& c) {
    ++finishedCount;
    bytesFinished += sizes[static_cast<size_t>(c.index)];
  });
  for (int i = 0; i < 100; ++i) {
    Counted c;
    c.index = i;
    pipeline.Add(c, sizes[static_cast<size_t>(i)], [](Counted& item, int) { item.value = Spin(item.index); });
    ++added;
    bytesAdded += sizes[static_cast<size_t>(i)];
    const size_t items = static_cast<size_t>(added.load() - finishedCount);
    maxItemsSeen = std::max(maxItemsSeen, items);
    if (items > 1) maxBytesSeen = std::max(maxBytesSeen, bytesAdded - bytesFinished);
  }
  pipeline.FinishAll();
  EXPECT_EQ(finishedCount, 100);
  EXPECT_LE(maxItemsSeen, 6u);
  EXPECT_LE(maxBytesSeen, 120u);
}

TEST(WorkerPoolTest, QueuedJobsAreDroppedWhenThePoolEnds) {
  std::atomic<int> ran{0};
  std::vector<WorkerPool::Job> jobs(50);
  {
    WorkerPool pool(1);
    for (WorkerPool::Job& job : jobs) {
      job.run = [&ran](int) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ++ran;
      };
      pool.Submit(&job);
    }
    pool.Wait(&jobs[0]);
  }  // returns without running the other 49 one by one
  EXPECT_GE(ran.load(), 1);
  EXPECT_LE(ran.load(), 50);
}

// ------------------------------------------------------------- the tool

TEST(PackJobsCommandLineTest, JobCountsAreCheckedNumbers) {
  PackCommandLine line;
  EXPECT_EQ(ParsePackCommandLine({"-j", "3", "verify", "p"}, &line), "");
  EXPECT_EQ(line.jobs, 3);
  EXPECT_EQ(ParsePackCommandLine({"-j7", "verify", "p"}, &line), "");
  EXPECT_EQ(line.jobs, 7);
  EXPECT_EQ(ParsePackCommandLine({"--jobs=2", "verify", "p"}, &line), "");
  EXPECT_EQ(line.jobs, 2);
  EXPECT_EQ(ParsePackCommandLine({"verify", "--jobs", "1", "p"}, &line), "");
  EXPECT_EQ(line.jobs, 1);
  EXPECT_EQ(ParsePackCommandLine({"verify", "p"}, &line), "");
  EXPECT_EQ(line.jobs, 0);  // one per processor
  for (const char* bad : {"0", "-1", "x", "2x", "", "257", "99999"}) {
    EXPECT_NE(ParsePackCommandLine({"-j", bad, "verify", "p"}, &line), "") << bad;
  }
  EXPECT_NE(ParsePackCommandLine({"verify", "p", "-j"}, &line), "");
  ToolRun run = RunTool({"--jobs=0", "verify", "p"});
  EXPECT_EQ(run.status, kPackExitUsage);
  EXPECT_NE(run.err.find("from 1 to 256"), std::string::npos) << run.err;
}

class PackJobsTest : public PackToolFolderTest {
 protected:
  // A tree of many small items of both kinds, empty ones, folders, and one
  // item above the size workers take.
  void MakeTree(bool withLargeItem) {
    for (int i = 0; i < 60; ++i) {
      std::string name = "src/d" + std::to_string(i % 7) + "/f" + std::to_string(i);
      std::string content;
      if (i % 3 == 0) {
        content = Incompressible(static_cast<size_t>(i) * 331, static_cast<unsigned>(i));
      } else {
        for (int line = 0; line < i * 20; ++line)
          content += "item " + std::to_string(i) + " line " + std::to_string(line * 7 % 13) + "\n";
      }
      WriteFile(root_ / (name + ".dat"), content);
      platform::SetFileTimes(Path(name + ".dat").c_str(), 1600000000 + i, 1600000000 + i);
    }
    WriteFile(root_ / "src/empty.txt", "");
    fs::create_directories(root_ / "src/nothing/inside");
    if (withLargeItem) {
      std::string large = "a long line of a large item, ";
      for (int i = 0; large.size() < (33u << 20); ++i) large += std::to_string(i) + large;
      large.resize((33u << 20) + 1000);
      WriteFile(root_ / "src/d3/large.bin", large);
    }
  }

  // Runs create with each -j value and compares packages and messages.
  void ExpectSameCreate(const std::vector<std::string>& jobs) {
    std::vector<std::string> packages;
    for (const std::string& j : jobs) {
      packages.push_back(Path("j" + j + "/p.dpk"));
      fs::create_directories(root_ / ("j" + j));
      ToolRun run = RunTool({"-j", j, "-v", "create", packages.back(), Path("src")});
      ASSERT_EQ(run.status, kPackExitOk) << run.err;
      runs_.push_back(run);
    }
    const std::string first = ReadFile(packages[0]);
    for (size_t i = 1; i < packages.size(); ++i) {
      EXPECT_TRUE(SameApartFromWriteTimes(ReadFile(packages[i]), first)) << "-j " << jobs[i];
      EXPECT_EQ(SameFolder(runs_[i].out, "/j" + jobs[i] + "/"), SameFolder(runs_[0].out, "/j1/"));
      EXPECT_EQ(runs_[i].err, runs_[0].err);
    }
  }

  static std::string SameFolder(std::string text, const std::string& folder) {
    for (size_t at; (at = text.find(folder)) != std::string::npos;) text.replace(at, folder.size(), "/j/");
    return text;
  }

  // True when two new packages hold the same bytes but for the times of
  // writing, which the clock gives: the write time of each chain (bytes
  // 16..19 of a block that starts a chain: its link's "previous" is 0) and
  // the creation time of the sealed streams of the folder tree and the
  // names (bytes 76..79 of blocks 1 and 2, where their chains start).
  // Items' own streams carry their files' times, which must match.
  static bool SameApartFromWriteTimes(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
      if (a[i] == b[i]) continue;
      const size_t block = i / 1024, inBlock = i % 1024;
      const bool chainStart = block >= 1 && a.compare(block * 1024, 4, std::string(4, '\0')) == 0;
      if (chainStart && inBlock >= 16 && inBlock < 20) continue;
      if ((block == 1 || block == 2) && inBlock >= 76 && inBlock < 80) continue;
      ADD_FAILURE() << "packages differ at byte " << i;
      return false;
    }
    return true;
  }

  std::vector<ToolRun> runs_;
};

TEST_F(PackJobsTest, CreateWritesTheSameBytesForEveryNumberOfWorkers) {
  MakeTree(false);
  ExpectSameCreate({"1", "2", "4", "9"});
  EXPECT_NE(runs_.at(0).out.find("d6/f6.dat"), std::string::npos) << runs_[0].out;
}

TEST_F(PackJobsTest, ALargeItemTakesItsTurnOnTheOwner) {
  MakeTree(true);
  ExpectSameCreate({"1", "3"});
  ToolRun extracted = RunTool({"-j", "3", "extract", Path("j3/p.dpk"), Path("out")});
  ASSERT_EQ(extracted.status, kPackExitOk) << extracted.err;
  EXPECT_TRUE(ReadFile(root_ / "out/d3/large.bin") == ReadFile(root_ / "src/d3/large.bin"));
  EXPECT_EQ(RunTool({"-j", "3", "verify", Path("j3/p.dpk")}).status, kPackExitOk);
}

TEST_F(PackJobsTest, AddReplacesItemsAlikeForEveryNumberOfWorkers) {
  MakeTree(false);
  ASSERT_EQ(RunTool({"-j1", "create", Path("one.dpk"), Path("src")}).status, kPackExitOk);
  fs::copy_file(Path("one.dpk"), Path("four.dpk"));
  WriteFile(root_ / "more/d1/f1.dat", "replaced\n");
  WriteFile(root_ / "more/new/g.txt", Incompressible(9000, 3));
  ToolRun one = RunTool({"-j1", "-v", "add", Path("one.dpk"), Path("more")});
  ToolRun four = RunTool({"-j4", "-v", "add", Path("four.dpk"), Path("more")});
  ASSERT_EQ(one.status, kPackExitOk) << one.err;
  ASSERT_EQ(four.status, kPackExitOk) << four.err;
  std::string oneName = Path("one.dpk"), fourName = Path("four.dpk");
  EXPECT_EQ(four.out.substr(0, four.out.rfind(" to ")), one.out.substr(0, one.out.rfind(" to ")));
  ASSERT_EQ(RunTool({"-j4", "extract", fourName, Path("out")}).status, kPackExitOk);
  EXPECT_EQ(ReadFile(root_ / "out/d1/f1.dat"), "replaced\n");
  EXPECT_EQ(ReadFile(root_ / "out/new/g.txt"), Incompressible(9000, 3));
  EXPECT_EQ(ReadFile(root_ / "out/d2/f2.dat"), ReadFile(root_ / "src/d2/f2.dat"));
  EXPECT_EQ(RunTool({"-j4", "verify", fourName}).status, kPackExitOk);
}

// Everything under `folder`: relative path -> content ("<dir>" for folders).
std::map<std::string, std::string> Tree(const fs::path& folder) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    std::string rel = fs::relative(entry.path(), folder).generic_string();
    entries[rel] = entry.is_directory() ? "<dir>" : ReadFile(entry.path());
  }
  return entries;
}

TEST_F(PackJobsTest, DamageAndConflictsAreToldAlikeForEveryNumberOfWorkers) {
  // "a.bin" is the first item (block 3 on); a flipped byte damages it.
  WriteFile(root_ / "src/a.bin", Incompressible(5000, 11));
  MakeTree(false);
  std::string package = Path("p.dpk");
  ASSERT_EQ(RunTool({"create", package, Path("src")}).status, kPackExitOk);
  FlipByte(package, 3 * 1024 + 600);

  ToolRun verifyOne = RunTool({"-j1", "-v", "verify", package});
  EXPECT_EQ(verifyOne.status, kPackExitFailure);
  EXPECT_NE(verifyOne.err.find("a.bin: damaged"), std::string::npos) << verifyOne.err;
  for (const char* j : {"2", "5"}) {
    ToolRun run = RunTool({"-j", j, "-v", "verify", package});
    EXPECT_EQ(run.status, verifyOne.status);
    EXPECT_EQ(run.out, verifyOne.out);
    EXPECT_EQ(run.err, verifyOne.err);
  }

  // Extract into folders that hold a file kept by -n and a folder where a
  // file goes.
  std::vector<ToolRun> runs;
  std::vector<std::map<std::string, std::string>> trees;
  for (const char* j : {"1", "2", "5"}) {
    std::string out = Path(std::string("out") + j);
    WriteFile(fs::path(out) / "d2/f2.dat", "kept\n");
    fs::create_directories(fs::path(out) / "d4/f4.dat");
    runs.push_back(RunTool({"-j", j, "-v", "-n", "extract", package, out}));
    trees.push_back(Tree(out));
  }
  EXPECT_EQ(runs[0].status, kPackExitFailure);
  EXPECT_NE(runs[0].err.find("a.bin"), std::string::npos) << runs[0].err;
  EXPECT_NE(runs[0].err.find("Is a directory"), std::string::npos) << runs[0].err;
  EXPECT_NE(runs[0].out.find("kept the existing file"), std::string::npos) << runs[0].out;
  EXPECT_EQ(trees[0].count("a.bin"), 0u);
  EXPECT_EQ(trees[0].at("d2/f2.dat"), "kept\n");
  EXPECT_EQ(trees[0].at("d5/f5.dat"), ReadFile(root_ / "src/d5/f5.dat"));
  for (size_t i = 1; i < runs.size(); ++i) {
    EXPECT_EQ(runs[i].status, runs[0].status);
    // The messages name each run's own folder.
    auto same = [&](std::string text) {
      for (std::string from : {"out2", "out5"}) {
        for (size_t at; (at = text.find(from)) != std::string::npos;) text.replace(at, from.size(), "out1");
      }
      return text;
    };
    EXPECT_EQ(same(runs[i].out), runs[0].out);
    EXPECT_EQ(same(runs[i].err), runs[0].err);
    EXPECT_EQ(trees[i], trees[0]);
  }
}

TEST_F(PackJobsTest, ABrokenChainIsToldAlikeForEveryNumberOfWorkers) {
  WriteFile(root_ / "src/a.bin", Incompressible(5000, 2));
  WriteFile(root_ / "src/b.txt", "the second item\n");
  std::string package = Path("p.dpk");
  ASSERT_EQ(RunTool({"create", package, Path("src")}).status, kPackExitOk);
  // Block 4 follows block 3 in a.bin's chain; make it point back at 3.
  {
    std::fstream file(package, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(4 * 1024 + 4);
    const char three[4] = {3, 0, 0, 0};
    file.write(three, 4);
  }
  ToolRun one = RunTool({"-j1", "-v", "verify", package});
  ToolRun three = RunTool({"-j3", "-v", "verify", package});
  EXPECT_EQ(one.status, kPackExitFailure);
  EXPECT_EQ(three.status, one.status);
  EXPECT_EQ(three.out, one.out);
  EXPECT_EQ(three.err, one.err);
  ToolRun extractOne = RunTool({"-j1", "extract", package, Path("x1")});
  ToolRun extractThree = RunTool({"-j3", "extract", package, Path("x3")});
  EXPECT_EQ(extractOne.status, kPackExitFailure);
  EXPECT_EQ(extractThree.status, extractOne.status);
  EXPECT_EQ(Tree(root_ / "x3"), Tree(root_ / "x1"));
  EXPECT_EQ(ReadFile(root_ / "x3/b.txt"), "the second item\n");
}

// Runs a shell command; its exit status.
int Shell(const std::string& command) {
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(PackJobsTest, SigintWhileWorkersWriteLeavesNoTemporaryFiles) {
  for (int i = 0; i < 24; ++i)
    WriteFile(root_ / ("src/f" + std::to_string(i)), Incompressible(1u << 20, static_cast<unsigned>(i)));
  ASSERT_EQ(RunTool({"-j", "3", "create", Path("p.dpk"), Path("src")}).status, kPackExitOk);
  // Interrupted once the first files are in place, while workers write
  // the next ones.
  std::string script = std::string(MARROWGATE_PACK_PROGRAM) + " -j 3 extract " + Path("p.dpk") +
                       " " + Path("out") + " & pid=$!; n=0; while [ ! -e " + Path("out/f1") +
                       " ] && [ $n -lt 2000 ]; do sleep 0.002; n=$((n+1)); done; "
                       "kill -INT $pid; wait $pid; exit $?";
  EXPECT_EQ(Shell(script), 128 + 2);
  for (const auto& entry : fs::directory_iterator(root_ / "out")) {
    std::string name = entry.path().filename().string();
    EXPECT_EQ(name.find(".partial"), std::string::npos) << name;
    // What was renamed into place is complete.
    EXPECT_EQ(ReadFile(entry.path()), ReadFile(root_ / "src" / name)) << name;
  }
}

}  // namespace
}  // namespace marrowgate
