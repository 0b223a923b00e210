// Costs of the file objects and the file manager's path handling:
//   BM_DiskReadLine      ReadLine over a DiskFile (bytes of text per second;
//                        the reader takes one byte per virtual Read call);
//   BM_DiskRead64K       plain 64 KiB reads of the same file, for scale;
//   BM_NormalisePath     one path through NormalisePath;
//   BM_ManagerOpenItem   FileManager::Open of an item three folders deep
//                        inside a mounted package (walk, mount-table hit,
//                        item lookup and unsealing of a small item);
//   BM_ManagerOpenDisk   the same through search mode 3 for a disk file
//                        whose path reaches no package (every prefix is
//                        probed for ".dpk" and ".exe").
#include <benchmark/benchmark.h>

#include <string>

#include "package/manager/file_manager.h"
#include "package/manager/normalise_path.h"
#include "platform/env.h"
#include "util/releaser.h"

namespace marrowgate {
namespace {

// The scratch folder of this run, removed with its content at exit.
class Scratch {
 public:
  Scratch() : path_("/tmp/mg_file_system_bench_" + std::to_string(platform::TimeNow())) {
    platform::MakeFolder(path_.c_str());
  }
  ~Scratch() {
    for (const char* file : {"lines.txt", "store.dpk", "x/y/z/f.txt"}) {
      platform::RemoveFile((path_ + "/" + file).c_str());
    }
    for (const char* folder : {"x/y/z", "x/y", "x", ""}) {
      platform::RemoveFolder((path_ + "/" + folder).c_str());
    }
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string ScratchFolder() {
  static Scratch scratch;
  return scratch.path();
}

std::string TextFile() {
  static std::string path = [] {
    std::string file = ScratchFolder() + "/lines.txt";
    auto stream = platform::FileStream::Open(file.c_str(), "wb");
    std::string line = "key = some configuration value, with text of ordinary length\r\n";
    for (int i = 0; i < 16384; ++i) stream->Write(line.data(), line.size());
    return file;
  }();
  return path;
}

void BM_DiskReadLine(benchmark::State& state) {
  Owned<FileSystem> fs(CreateFileSystem());
  std::string path = TextFile();
  int64_t bytes = 0;
  for (auto _ : state) {
    Owned<VirtualFile> file(fs->Open(path.c_str(), kOpenRead));
    char line[1024];
    int32_t got;
    while ((got = file->ReadLine(line, sizeof(line))) > 0) bytes += got;
  }
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_DiskReadLine)->Unit(benchmark::kMillisecond);

void BM_DiskRead64K(benchmark::State& state) {
  Owned<FileSystem> fs(CreateFileSystem());
  std::string path = TextFile();
  int64_t bytes = 0;
  std::string buffer(65536, '\0');
  for (auto _ : state) {
    Owned<VirtualFile> file(fs->Open(path.c_str(), kOpenRead));
    int32_t got;
    while ((got = file->Read(buffer.data(), 65536)) > 0) bytes += got;
  }
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_DiskRead64K)->Unit(benchmark::kMillisecond);

void BM_NormalisePath(benchmark::State& state) {
  std::string out;
  for (auto _ : state) {
    NormalisePath("d:\\game\\client//data/./textures/../models/.../hero/body.mdl", &out);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_NormalisePath);

FileManager* NewManager() {
  FileManagerConfig config;
  config.searchMode = 3;
  config.ownFileSystem = 1;
  config.fileSystem = CreateFileSystem();
  config.defaultMode = kOpenUpdate;
  return new FileManager(config);
}

void BM_ManagerOpenItem(benchmark::State& state) {
  std::string package = ScratchFolder() + "/store";
  std::string item = package + "/a/b/c/item.txt";
  Owned<FileManager> manager(NewManager());
  if (manager->EnsurePackage(package.c_str(), ".dpk", kOpenCreate) != 0 ||
      manager->MakeParentFolder(item.c_str()) != 0) {
    state.SkipWithError("cannot make the package");
    return;
  }
  {
    Owned<VirtualFile> file(manager->Open(item.c_str(), kOpenCreate));
    file->Write("small item", 10);
  }
  for (auto _ : state) {
    Owned<VirtualFile> file(manager->Open(item.c_str(), kOpenRead));
    benchmark::DoNotOptimize(file.get());
  }
}
BENCHMARK(BM_ManagerOpenItem);

void BM_ManagerOpenDisk(benchmark::State& state) {
  std::string folder = ScratchFolder() + "/x/y/z";
  Owned<FileManager> manager(NewManager());
  manager->MakeFolder(folder.c_str());
  std::string path = folder + "/f.txt";
  {
    Owned<VirtualFile> file(manager->Open(path.c_str(), kOpenCreate));
    file->Write("disk", 4);
  }
  for (auto _ : state) {
    Owned<VirtualFile> file(manager->Open(path.c_str(), kOpenRead));
    benchmark::DoNotOptimize(file.get());
  }
}
BENCHMARK(BM_ManagerOpenDisk);

}  // namespace
}  // namespace marrowgate

BENCHMARK_MAIN();
