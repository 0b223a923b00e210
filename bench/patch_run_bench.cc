// A whole patch run (64 MiB in 2000 files) against the copy engine alone on
// the same package:
//   (a) EngineAlone: a file manager as the run makes one, the delayed copy
//       engine over the package's update folder into an empty folder;
//   (b) PatchRunNoBookkeeping: the dialog's run (version check, cfg.txt,
//       skip list, copy through the dialog's sink and a view, the file lists
//       with an empty new-file list);
//   (c) PatchRun: the same with a new-file list naming all 2000 files, so
//       the run records the size and MD5 of every copied file.
// The package is the patcher's own (passwords, cfg.txt with messages and
// an UPDATE block), prepared once before timing; every timed run starts
// from an empty install folder holding only the version file and an empty
// local file list. Best of 3, manual timing, warm page cache.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "app/app_file_manager.h"
#include "bench/bench_trees.h"
#include "app/patcher_dialog.h"
#include "app/patcher_view.h"
#include "package/manager/file_manager.h"
#include "platform/env.h"
#include "transfer/delete_tree.h"
#include "util/releaser.h"

namespace marrowgate {
namespace {

using bench::kFiles;
using bench::kTotalBytes;
using bench::Seconds;
using bench::WriteTreeFile;

// A view with no screen: the run's calls cost what the dialog's logic costs.
class QuietView : public PatcherView {
 public:
  void SetTitle(const std::string&) override {}
  void SetControlText(int, const std::string&) override {}
  void EnableControl(int, bool) override {}
  void ShowControl(int, bool) override {}
  void SetProgressRange(int, int) override {}
  void SetProgressStep(int) override {}
  void SetProgressPosition(int) override {}
  void StepProgress() override { ++steps; }
  void MessageBox(const std::string& text, const std::string& caption) override {
    std::fprintf(stderr, "box: %s: %s\n", caption.c_str(), text.c_str());
  }
  std::optional<std::string> PickFolder(const std::string&, const std::string&) override {
    return std::nullopt;
  }
  void DispatchPendingEvents() override {}
  void HideWindow() override {}
  void CloseAsOk() override {}
  int steps = 0;
};

struct Fixture {
  std::string root;
  std::string withList;     // program path of the patch naming every file
  std::string withoutList;  // program path of the patch with an empty list
};

Fixture& TheFixture() {
  static Fixture fixture;
  return fixture;
}

const char kCfg[] =
    "100 Bench patch\r\n200 Patching\r\n201 Done\r\n202 Close\r\n203 Failed (%d)\r\n"
    "10001 1\r\n10002 d00/f0000.dat\r\n"
    "UPDATE\r\n{\r\n  szValidityStr = 1.0.0.0\r\n}\r\n";

// A package "<root>/<name>.dpk" (seen under "<root>/<name>") with cfg.txt
// and the update tree; the program path is "<root>/<name>.exe".
bool MakePatch(const std::string& root, const std::string& name, bool listEveryFile,
               std::string* program) {
  Owned<FileManager> fm(CreateFileManager(AppFileManagerOptions()));
  std::string base = root + "/" + name;
  if (!fm || fm->EnsurePackage(base.c_str(), ".dpk", kOpenCreate) != 0) return false;
  if (!WriteTreeFile(fm.get(), base + "/cfg.txt", kCfg)) return false;

  const std::vector<int64_t> sizes = bench::TreeFileSizes();
  std::string content, newFiles;
  for (int i = 0; i < kFiles; ++i) {
    const std::string file = bench::TreeFileName(i);
    bench::FillContent(static_cast<uint32_t>(i), static_cast<size_t>(sizes[i]), &content);
    if (!WriteTreeFile(fm.get(), base + "/update/" + file, content)) return false;
    if (listEveryFile) newFiles += file + "\r\n";
  }
  if (!WriteTreeFile(fm.get(), base + "/update/update/newfile.txt", newFiles)) return false;
  if (fm->ClosePackage(base.c_str()) != 0) return false;
  *program = base + ".exe";
  return true;
}

bool PrepareInstall(const std::string& install) {
  Owned<FileSystem> disk(CreateFileSystem());
  DeleteTree(disk.get(), install.c_str());
  return disk->MakeFolder(install.c_str()) == 0 &&
         WriteTreeFile(disk.get(), install + "/mb/etc/version.txt", "1 1.0.0.0\r\n") &&
         WriteTreeFile(disk.get(), install + "/update/localfilelist.txt", "");
}

// Processor time of this process (all threads), for a machine shared with
// other work where wall time drifts with the load.
double CpuSeconds(std::clock_t since) {
  return static_cast<double>(std::clock() - since) / CLOCKS_PER_SEC;
}

double best_engine = 1e9, best_run_plain = 1e9, best_run = 1e9;
double cpu_engine = 1e9, cpu_run_plain = 1e9, cpu_run = 1e9;

// The file manager of a run, over the same parts a run hands it.
struct RunParts {
  Owned<FileManager> fm{CreateFileManager(AppFileManagerOptions())};
};

void BM_EngineAlone(benchmark::State& state) {
  Fixture& fixture = TheFixture();
  const std::string install = fixture.root + "/install_engine";
  const std::string source = fixture.root + "/with/update";
  for (auto _ : state) {
    if (!PrepareInstall(install)) {
      state.SkipWithError("install folder");
      break;
    }
    auto start = std::chrono::steady_clock::now();
    std::clock_t cpuStart = std::clock();
    RunParts parts;
    parts.fm->SetPackageMode((fixture.root + "/with").c_str(), kOpenRead);
    const char* const delayed[] = {"d00/f0000.dat", nullptr};
    int32_t rc = bench::RunDelayedCopy(parts.fm.get(), source, install, delayed);
    parts.fm.reset();
    double seconds = Seconds(start);
    cpu_engine = std::min(cpu_engine, CpuSeconds(cpuStart));
    if (!bench::RecordIteration(state, rc == 0, "copy failed", seconds, &best_engine)) break;
  }
  state.SetBytesProcessed(state.iterations() * kTotalBytes);
}

void RunPatch(benchmark::State& state, const std::string& program, const std::string& install,
              double* best, double* bestCpu) {
  for (auto _ : state) {
    if (!PrepareInstall(install)) {
      state.SkipWithError("install folder");
      break;
    }
    QuietView view;
    PatcherDialogSettings settings;
    settings.modulePath = program;
    PatcherDialog dialog(&view, nullptr, install, settings);
    dialog.OnInitDialog();
    auto start = std::chrono::steady_clock::now();
    std::clock_t cpuStart = std::clock();
    dialog.OnShowWindow();
    double seconds = Seconds(start);
    *bestCpu = std::min(*bestCpu, CpuSeconds(cpuStart));
    const bool ran = dialog.finished() && view.steps == kFiles + 1;
    if (!bench::RecordIteration(state, ran, "patch run failed", seconds, best)) break;
  }
  state.SetBytesProcessed(state.iterations() * kTotalBytes);
}

void BM_PatchRunNoBookkeeping(benchmark::State& state) {
  Fixture& fixture = TheFixture();
  RunPatch(state, fixture.withoutList, fixture.root + "/install_plain", &best_run_plain,
           &cpu_run_plain);
}

void BM_PatchRun(benchmark::State& state) {
  Fixture& fixture = TheFixture();
  RunPatch(state, fixture.withList, fixture.root + "/install_run", &best_run, &cpu_run);
}

}  // namespace
}  // namespace marrowgate

int main(int argc, char** argv) {
  using namespace marrowgate;
  benchmark::Initialize(&argc, argv);
  Fixture& fixture = TheFixture();
  fixture.root = bench::ScratchRoot("marrowgate_patch_run_bench_");
  platform::MakeFolder(fixture.root.c_str());
  std::fprintf(stderr, "preparing two patches of 64 MiB in %d files ...\n", kFiles);
  if (!MakePatch(fixture.root, "with", true, &fixture.withList) ||
      !MakePatch(fixture.root, "without", false, &fixture.withoutList)) {
    std::fprintf(stderr, "preparation failed in %s\n", fixture.root.c_str());
    return 1;
  }
  bench::RegisterBestOfThree({{"EngineAlone", &BM_EngineAlone},
                             {"PatchRunNoBookkeeping", &BM_PatchRunNoBookkeeping},
                             {"PatchRun", &BM_PatchRun}});
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::printf("\nbest of 3: engine alone %.0f ms, patch run without bookkeeping %.0f ms, "
              "patch run with all 2000 files recorded %.0f ms\n",
              best_engine * 1000, best_run_plain * 1000, best_run * 1000);
  std::printf("run / engine = %.3f without bookkeeping (aim < 1.10), %.3f with it\n",
              best_run_plain / best_engine, best_run / best_engine);
  std::printf("processor time, best of 3: engine alone %.0f ms, run without bookkeeping %.0f ms, "
              "run with it %.0f ms; run / engine = %.3f and %.3f\n",
              cpu_engine * 1000, cpu_run_plain * 1000, cpu_run * 1000, cpu_run_plain / cpu_engine,
              cpu_run / cpu_engine);
  Owned<FileSystem> disk(CreateFileSystem());
  DeleteTree(disk.get(), fixture.root.c_str());
  return 0;
}
