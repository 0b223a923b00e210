#include "bench/bench_trees.h"

#include <algorithm>
#include <cstdio>

#include "platform/env.h"
#include "transfer/dir_copy.h"
#include "util/releaser.h"

namespace marrowgate::bench {

std::vector<int64_t> TreeFileSizes() {
  // Sizes between 4 KiB and 60 KiB, scaled so that they add up to 64 MiB.
  std::vector<int64_t> sizes(kFiles);
  uint32_t state = 7;
  int64_t sum = 0;
  for (int64_t& size : sizes) {
    state = state * 1103515245u + 12345u;
    size = 4096 + (state >> 8) % (56 * 1024);
    sum += size;
  }
  int64_t assigned = 0;
  for (int64_t& size : sizes) {
    size = size * kTotalBytes / sum;
    assigned += size;
  }
  sizes.back() += kTotalBytes - assigned;
  return sizes;
}

std::string TreeFileName(int index) {
  char name[64];
  std::snprintf(name, sizeof name, "d%02d/f%04d.dat", index / kFilesPerFolder, index);
  return name;
}

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

std::string ScratchRoot(const std::string& prefix) {
  const char* tmp = platform::GetEnvironment("TMPDIR");
  return std::string(tmp != nullptr ? tmp : "/tmp") + "/" + prefix +
         std::to_string(platform::TimeNow());
}

bool WriteTreeFile(FileSystem* fs, const std::string& path, const std::string& content) {
  if (fs->MakeParentFolder(path.c_str()) != 0) return false;
  Owned<VirtualFile> file(fs->Open(path.c_str(), kOpenCreate));
  return file && file->Write(content.data(), static_cast<int32_t>(content.size())) ==
                     static_cast<int32_t>(content.size());
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

bool RecordIteration(benchmark::State& state, bool ok, const char* error, double seconds,
                     double* best) {
  if (!ok) {
    state.SkipWithError(error);
    return false;
  }
  *best = std::min(*best, seconds);
  state.SetIterationTime(seconds);
  return true;
}

void RegisterBestOfThree(std::initializer_list<std::pair<const char*, TimedRun>> runs) {
  for (const auto& [name, run] : runs) {
    benchmark::RegisterBenchmark(name, run)
        ->UseManualTime()
        ->Iterations(1)
        ->Repetitions(3)
        ->Unit(benchmark::kMillisecond);
  }
}

int32_t RunDelayedCopy(FileSystem* fm, const std::string& from, const std::string& to,
                       const char* const* delayed) {
  CPackNotify quiet;
  DIRCP_PARAM_T params;
  params.pSrcFM = fm;
  params.pDstFM = fm;
  params.szSrcDir = from.c_str();
  params.szDstDir = to.c_str();
  params.pNotify = &quiet;
  params.nBufSize = 100000;
  params.byFlags = kCopyFileTimes;
  params.byStatMode = kStatFromInfo;
  Owned<dircp> engine(CreateDirCopy(kDelayedDirCopy, delayed));
  return engine->DoIt(params);
}

}  // namespace marrowgate::bench
