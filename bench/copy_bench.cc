// Copy of a package folder (64 MiB in 2000 files) into an empty disk
// folder through the delayed copy engine, compared with
//   (a) unsealing (deciphering and inflating) the same stored items in
//       memory, without any file work, and
//   (b) extracting the same files from a "zip -6" archive with unzip.
//
// The package, the archive and the stored items are prepared once, before
// timing. Each measurement runs several times with manual timing; the best
// times and the ratios are printed at the end. The page cache is warm for
// all three.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_trees.h"
#include "package/manager/file_manager.h"
#include "package/file/memory_file.h"
#include "package/seal/sealed_file.h"
#include "transfer/delete_tree.h"
#include "util/releaser.h"

namespace marrowgate {
namespace {

using bench::kFiles;
using bench::kTotalBytes;
using bench::Seconds;
constexpr char kPassword[] = "copy-bench-password";

struct Fixture {
  std::string root;
  std::vector<std::string> names;              // relative to the copied folder
  std::vector<std::vector<uint8_t>> stored;    // stored (sealed) item bytes
};

Fixture& TheFixture() {
  static Fixture fixture;
  return fixture;
}

// A file manager as a patch run makes one: packages first, then the disk.
FileManager* NewFileManager() {
  FileManagerOptions options;
  options.searchMode = 3;
  options.defaultMode = kOpenRead;
  std::memcpy(options.keyA, kPassword, sizeof kPassword - 1);
  options.keyALen = sizeof kPassword - 1;
  return CreateFileManager(options);
}

int32_t RunEngine(FileManager* fm, const std::string& from, const std::string& to) {
  const char* const none[] = {nullptr};
  return bench::RunDelayedCopy(fm, from, to, none);
}

bool Prepare(Fixture& fixture) {
  fixture.root = bench::ScratchRoot("marrowgate_copy_bench_");
  Owned<FileSystem> disk(CreateFileSystem());
  const std::string plain = fixture.root + "/plain";
  if (disk->MakeFolder(plain.c_str()) != 0) return false;

  const std::vector<int64_t> sizes = bench::TreeFileSizes();
  std::string content;
  for (int i = 0; i < kFiles; ++i) {
    fixture.names.push_back(bench::TreeFileName(i));
    bench::FillContent(static_cast<uint32_t>(i), static_cast<size_t>(sizes[i]), &content);
    if (!bench::WriteTreeFile(disk.get(), plain + "/" + fixture.names.back(), content))
      return false;
  }

  // The package, filled through the engine (disk -> package).
  {
    Owned<FileManager> fm(NewFileManager());
    if (!fm || fm->EnsurePackage((fixture.root + "/pack").c_str(), ".dpk", kOpenCreate) != 0)
      return false;
    if (RunEngine(fm.get(), plain, fixture.root + "/pack/update") != 0) return false;
  }

  // The stored bytes of every item, for the in-memory measurement.
  {
    Owned<FileManager> fm(NewFileManager());
    if (!fm) return false;
    for (const std::string& name : fixture.names) {
      std::string path = fixture.root + "/pack/update/" + name;
      Owned<VirtualFile> raw(fm->Open(path.c_str(), kOpenRaw));
      if (!raw) return false;
      std::vector<uint8_t> bytes(static_cast<size_t>(raw->Size()));
      if (raw->Read(bytes.data(), static_cast<int32_t>(bytes.size())) !=
          static_cast<int32_t>(bytes.size()))
        return false;
      fixture.stored.push_back(std::move(bytes));
    }
  }

  std::string zip = "cd '" + plain + "' && zip -6 -r -q '" + fixture.root + "/data.zip' .";
  if (std::system(zip.c_str()) != 0) return false;
  return true;
}

double best_engine = 1e9, best_memory = 1e9, best_unzip = 1e9;

void BM_EngineCopyFromPackage(benchmark::State& state) {
  Fixture& fixture = TheFixture();
  Owned<FileSystem> disk(CreateFileSystem());
  const std::string out = fixture.root + "/out_engine";
  for (auto _ : state) {
    DeleteTree(disk.get(), out.c_str());
    auto start = std::chrono::steady_clock::now();
    // A run mounts the package anew, as a patch run does.
    Owned<FileManager> fm(NewFileManager());
    int32_t rc = RunEngine(fm.get(), fixture.root + "/pack/update", out);
    fm.reset();
    double seconds = Seconds(start);
    if (!bench::RecordIteration(state, rc == 0, "copy failed", seconds, &best_engine)) break;
  }
  state.SetBytesProcessed(state.iterations() * kTotalBytes);
}

void BM_UnsealInMemory(benchmark::State& state) {
  Fixture& fixture = TheFixture();
  Owned<FileManager> fm(NewFileManager());
  const FileManagerConfig& config = fm->config();
  config.cipherADec->SetDecryptKey(kPassword, sizeof kPassword - 1);
  std::vector<char> buffer(100000);
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    int64_t total = 0;
    bool ok = true;
    for (std::vector<uint8_t>& stored : fixture.stored) {
      MemoryFile* file = new MemoryFile(std::move(stored));
      SealParams params;
      params.mode = kOpenRead;
      params.file = file;
      CopyCodecs(config, &params);
      SealedFile* sealed = new SealedFile;
      if (sealed->Open(params) != 0) ok = false;
      int32_t n;
      while ((n = sealed->Read(buffer.data(), static_cast<int32_t>(buffer.size()))) > 0) total += n;
      sealed->Release();
      stored = std::move(file->mutable_bytes());
      file->Release();
    }
    double seconds = Seconds(start);
    if (!bench::RecordIteration(state, ok && total == kTotalBytes, "unsealing failed", seconds,
                                &best_memory)) {
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * kTotalBytes);
}

void BM_UnzipArchive(benchmark::State& state) {
  Fixture& fixture = TheFixture();
  Owned<FileSystem> disk(CreateFileSystem());
  const std::string out = fixture.root + "/out_unzip";
  const std::string command =
      "unzip -q -o '" + fixture.root + "/data.zip' -d '" + out + "'";
  for (auto _ : state) {
    DeleteTree(disk.get(), out.c_str());
    auto start = std::chrono::steady_clock::now();
    int rc = std::system(command.c_str());
    double seconds = Seconds(start);
    if (!bench::RecordIteration(state, rc == 0, "unzip failed", seconds, &best_unzip)) break;
  }
  state.SetBytesProcessed(state.iterations() * kTotalBytes);
}

}  // namespace
}  // namespace marrowgate

int main(int argc, char** argv) {
  using namespace marrowgate;
  benchmark::Initialize(&argc, argv);
  Fixture& fixture = TheFixture();
  std::fprintf(stderr, "preparing 64 MiB in %d files ...\n", bench::kFiles);
  if (!Prepare(fixture)) {
    std::fprintf(stderr, "preparation failed in %s\n", fixture.root.c_str());
    return 1;
  }
  bench::RegisterBestOfThree({{"EngineCopyFromPackage", &BM_EngineCopyFromPackage},
                             {"UnsealInMemory", &BM_UnsealInMemory},
                             {"UnzipArchive", &BM_UnzipArchive}});
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::printf("\nbest of 3: engine %.0f ms, in-memory unseal %.0f ms, unzip %.0f ms\n",
              best_engine * 1000, best_memory * 1000, best_unzip * 1000);
  std::printf("engine / in-memory = %.2f (aim <= 1.25), engine / unzip = %.2f\n",
              best_engine / best_memory, best_engine / best_unzip);
  Owned<FileSystem> disk(CreateFileSystem());
  DeleteTree(disk.get(), fixture.root.c_str());
  return 0;
}
