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

#include "package/file_manager.h"
#include "package/memory_file.h"
#include "package/sealed_file.h"
#include "platform/env.h"
#include "transfer/delete_tree.h"
#include "transfer/dir_copy.h"
#include "util/releaser.h"

namespace marrowgate {
namespace {

constexpr int kFolders = 20;
constexpr int kFilesPerFolder = 100;
constexpr int64_t kTotalBytes = 64ll << 20;
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

// Content that compresses roughly like program data: runs of random bytes
// between repeated phrases.
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

bool WriteDiskFile(const std::string& path, const std::string& content) {
  auto stream = platform::FileStream::Open(path.c_str(), "wb");
  return stream && stream->Write(content.data(), content.size()) == content.size();
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
  const char* const none[] = {nullptr};
  Owned<dircp> engine(CreateDirCopy(kDelayedDirCopy, none));
  return engine->DoIt(params);
}

bool Prepare(Fixture& fixture) {
  std::string base = platform::CurrentFolder();
  if (const char* tmp = platform::GetEnvironment("TMPDIR")) base = tmp;
  else base = "/tmp";
  fixture.root = base + "/marrowgate_copy_bench_" + std::to_string(platform::TimeNow());
  Owned<FileSystem> disk(CreateFileSystem());
  const std::string plain = fixture.root + "/plain";
  if (disk->MakeFolder(plain.c_str()) != 0) return false;

  // Sizes between 4 KiB and 60 KiB, scaled so that they add up to 64 MiB.
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

  std::string content;
  for (int i = 0; i < count; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "d%02d/f%04d.dat", i / kFilesPerFolder, i);
    fixture.names.push_back(name);
    std::string path = plain + "/" + name;
    if (disk->MakeParentFolder(path.c_str()) != 0) return false;
    FillContent(static_cast<uint32_t>(i), static_cast<size_t>(sizes[i]), &content);
    if (!WriteDiskFile(path, content)) return false;
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

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
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
    if (rc != 0) {
      state.SkipWithError("copy failed");
      break;
    }
    best_engine = std::min(best_engine, seconds);
    state.SetIterationTime(seconds);
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
      params.compressor = config.compressor;
      params.cipherADec = config.cipherADec;
      params.cipherBDec = config.cipherBDec;
      SealedFile* sealed = new SealedFile;
      if (sealed->Open(params) != 0) ok = false;
      int32_t n;
      while ((n = sealed->Read(buffer.data(), static_cast<int32_t>(buffer.size()))) > 0) total += n;
      sealed->Release();
      stored = std::move(file->mutable_bytes());
      file->Release();
    }
    double seconds = Seconds(start);
    if (!ok || total != kTotalBytes) {
      state.SkipWithError("unsealing failed");
      break;
    }
    best_memory = std::min(best_memory, seconds);
    state.SetIterationTime(seconds);
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
    if (rc != 0) {
      state.SkipWithError("unzip failed");
      break;
    }
    best_unzip = std::min(best_unzip, seconds);
    state.SetIterationTime(seconds);
  }
  state.SetBytesProcessed(state.iterations() * kTotalBytes);
}

}  // namespace
}  // namespace marrowgate

int main(int argc, char** argv) {
  using namespace marrowgate;
  benchmark::Initialize(&argc, argv);
  Fixture& fixture = TheFixture();
  std::fprintf(stderr, "preparing 64 MiB in %d files ...\n", kFolders * kFilesPerFolder);
  if (!Prepare(fixture)) {
    std::fprintf(stderr, "preparation failed in %s\n", fixture.root.c_str());
    return 1;
  }
  for (auto [name, fn] : {std::pair{"EngineCopyFromPackage", &BM_EngineCopyFromPackage},
                          std::pair{"UnsealInMemory", &BM_UnsealInMemory},
                          std::pair{"UnzipArchive", &BM_UnzipArchive}}) {
    benchmark::RegisterBenchmark(name, fn)
        ->UseManualTime()
        ->Iterations(1)
        ->Repetitions(3)
        ->Unit(benchmark::kMillisecond);
  }
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
