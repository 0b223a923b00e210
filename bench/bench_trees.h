// The test tree of the copy and patch-run benchmarks: 64 MiB in 2000 files
// ("d00/f0000.dat" .. "d19/f1999.dat", 100 to a folder) of between 4 KiB
// and 60 KiB, with content that compresses roughly like program data, and
// the helpers both benchmarks time their runs with.
#ifndef MARROWGATE_BENCH_BENCH_TREES_H_
#define MARROWGATE_BENCH_BENCH_TREES_H_

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "package/file/file_system.h"

namespace marrowgate::bench {

constexpr int kFolders = 20;
constexpr int kFilesPerFolder = 100;
constexpr int kFiles = kFolders * kFilesPerFolder;
constexpr int64_t kTotalBytes = 64ll << 20;

// The kFiles file sizes, the same on every call, adding up to kTotalBytes.
std::vector<int64_t> TreeFileSizes();

// The name of file `index` (0 .. kFiles - 1), relative to the tree's root.
std::string TreeFileName(int index);

// `size` bytes of the content of the file made from `seed`: runs of
// pseudo-random bytes between repeated phrases.
void FillContent(uint32_t seed, size_t size, std::string* out);

// A new folder name "<$TMPDIR or /tmp>/<prefix><current time>" (not made).
std::string ScratchRoot(const std::string& prefix);

// Makes the folders of `path` and writes `content` as the whole file.
bool WriteTreeFile(FileSystem* fs, const std::string& path, const std::string& content);

// Wall time since `since`, in seconds.
double Seconds(std::chrono::steady_clock::time_point since);

// Ends one timed iteration: when `ok` the iteration takes `seconds` and
// *best keeps the least time seen; otherwise the benchmark is skipped with
// `error`. Returns `ok` (false: leave the loop).
bool RecordIteration(benchmark::State& state, bool ok, const char* error, double seconds,
                     double* best);

// Registers each (name, function) pair as a benchmark that times itself
// (manual time, milliseconds) in one iteration, repeated three times: the
// functions keep the best of the three.
using TimedRun = void (*)(benchmark::State&);
void RegisterBestOfThree(std::initializer_list<std::pair<const char*, TimedRun>> runs);

// Copies folder `from` into `to` through the delayed copy engine as a patch
// run does (100000-byte buffer, file times kept, sizes from the item
// information), `fm` reading and writing; `delayed` (null-ended) names the
// files copied last. The engine's result.
int32_t RunDelayedCopy(FileSystem* fm, const std::string& from, const std::string& to,
                       const char* const* delayed);

}  // namespace marrowgate::bench

#endif  // MARROWGATE_BENCH_BENCH_TREES_H_
