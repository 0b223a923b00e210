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
#include "app/patcher_dialog.h"
#include "app/patcher_view.h"
#include "package/file_manager.h"
#include "platform/env.h"
#include "transfer/delete_tree.h"
#include "transfer/dir_copy.h"
#include "util/releaser.h"

namespace marrowgate {
namespace {

constexpr int kFolders = 20;
constexpr int kFilesPerFolder = 100;
constexpr int64_t kTotalBytes = 64ll << 20;

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

// Content that compresses roughly like program data.
void FillContent(uint32_t seed, size_t size, std::string* out) {
  static const char* const kPhrases[] = {"texture_", "model.", "\x00\x00\x00\x01", "level ",
                                         "sound/", "    ", "0123456789"};
  out->clear();
  uint32_t state = seed * 2654435761u + 1;
  while (out->size() < size) {
    state = state * 1103515245u + 12345u;
    if ((state >> 29) < 3) {
      int run = 8 + static_cast<int>((state >> 8) % 24);
      for (int i = 0; i < run; ++i) {
        state = state * 1103515245u + 12345u;
        out->push_back(static_cast<char>(state >> 24));
      }
    } else {
      out->append(kPhrases[(state >> 16) % 7]);
    }
  }
  out->resize(size);
}

bool WriteFile(FileSystem* fs, const std::string& path, const std::string& content) {
  if (fs->MakeParentFolder(path.c_str()) != 0) return false;
  Owned<VirtualFile> file(fs->Open(path.c_str(), kOpenCreate));
  return file && file->Write(content.data(), static_cast<int32_t>(content.size())) ==
                     static_cast<int32_t>(content.size());
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
  if (!WriteFile(fm.get(), base + "/cfg.txt", kCfg)) return false;

  const int count = kFolders * kFilesPerFolder;
  std::vector<int64_t> sizes(count);
  uint32_t state = 7;
  int64_t sum = 0;
  for (int64_t& size : sizes) {
    state = state * 1103515245u + 12345u;
    size = 4096 + (state >> 8) % (56 * 1024);
    sum += size;
  }
  int64_t assigned = 0;
  for (int i = 0; i < count; ++i) {
    sizes[i] = sizes[i] * kTotalBytes / sum;
    assigned += sizes[i];
  }
  sizes[count - 1] += kTotalBytes - assigned;

  std::string content, newFiles;
  for (int i = 0; i < count; ++i) {
    char file[64];
    std::snprintf(file, sizeof file, "d%02d/f%04d.dat", i / kFilesPerFolder, i);
    FillContent(static_cast<uint32_t>(i), static_cast<size_t>(sizes[i]), &content);
    if (!WriteFile(fm.get(), base + "/update/" + file, content)) return false;
    if (listEveryFile) newFiles += std::string(file) + "\r\n";
  }
  if (!WriteFile(fm.get(), base + "/update/update/newfile.txt", newFiles)) return false;
  if (fm->ClosePackage(base.c_str()) != 0) return false;
  *program = base + ".exe";
  return true;
}

bool PrepareInstall(const std::string& install) {
  Owned<FileSystem> disk(CreateFileSystem());
  DeleteTree(disk.get(), install.c_str());
  return disk->MakeFolder(install.c_str()) == 0 &&
         WriteFile(disk.get(), install + "/mb/etc/version.txt", "1 1.0.0.0\r\n") &&
         WriteFile(disk.get(), install + "/update/localfilelist.txt", "");
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
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
    CPackNotify quiet;
    DIRCP_PARAM_T params;
    params.pSrcFM = parts.fm.get();
    params.pDstFM = parts.fm.get();
    params.szSrcDir = source.c_str();
    params.szDstDir = install.c_str();
    params.pNotify = &quiet;
    params.nBufSize = 100000;
    params.byFlags = kCopyFileTimes;
    params.byStatMode = kStatFromInfo;
    const char* const delayed[] = {"d00/f0000.dat", nullptr};
    const char* const none[] = {nullptr};
    params.ppszExcludeNames = none;
    Owned<dircp> engine(CreateDirCopy(kDelayedDirCopy, delayed));
    int32_t rc = engine->DoIt(params);
    engine.reset();
    parts.fm.reset();
    double seconds = Seconds(start);
    cpu_engine = std::min(cpu_engine, CpuSeconds(cpuStart));
    if (rc != 0) {
      state.SkipWithError("copy failed");
      break;
    }
    best_engine = std::min(best_engine, seconds);
    state.SetIterationTime(seconds);
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
    if (!dialog.finished() || view.steps != kFolders * kFilesPerFolder + 1) {
      state.SkipWithError("patch run failed");
      break;
    }
    *best = std::min(*best, seconds);
    state.SetIterationTime(seconds);
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
  const char* tmp = platform::GetEnvironment("TMPDIR");
  fixture.root = std::string(tmp != nullptr ? tmp : "/tmp") + "/marrowgate_patch_run_bench_" +
                 std::to_string(platform::TimeNow());
  platform::MakeFolder(fixture.root.c_str());
  std::fprintf(stderr, "preparing two patches of 64 MiB in %d files ...\n",
               kFolders * kFilesPerFolder);
  if (!MakePatch(fixture.root, "with", true, &fixture.withList) ||
      !MakePatch(fixture.root, "without", false, &fixture.withoutList)) {
    std::fprintf(stderr, "preparation failed in %s\n", fixture.root.c_str());
    return 1;
  }
  for (auto [name, fn] : {std::pair{"EngineAlone", &BM_EngineAlone},
                          std::pair{"PatchRunNoBookkeeping", &BM_PatchRunNoBookkeeping},
                          std::pair{"PatchRun", &BM_PatchRun}}) {
    benchmark::RegisterBenchmark(name, fn)
        ->UseManualTime()
        ->Iterations(1)
        ->Repetitions(3)
        ->Unit(benchmark::kMillisecond);
  }
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
