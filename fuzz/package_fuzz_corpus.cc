// Writes a seed corpus for package_fuzz into the folder given as the only
// argument: small valid packages made by the writer, each with every
// combination of the control byte (see package_fuzz_common.h).
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/package_fuzz_common.h"
#include "package/file/memory_file.h"
#include "package/store/tail_file.h"

namespace marrowgate {
namespace {

using Builder = void (*)(Package*);

void Put(Package* package, const char* path, const std::string& content) {
  Owned<VirtualFile> item(package->OpenItem(path, kOpenCreate));
  if (item) item->Write(content.data(), static_cast<int32_t>(content.size()));
}

void Empty(Package*) {}

void Small(Package* package) {
  Put(package, "cfg.txt", "UPDATE\n{\n  VERSION = 1.0.0\n}\n");
  Put(package, "update/bin/game.exe", std::string(1500, 'x'));
  Put(package, "update/data/a.dat", "alpha");
  package->MakeFolder("update/empty");
}

void Deleted(Package* package) {
  Put(package, "a/b/c.txt", std::string(3000, 'c'));
  Put(package, "a/d.txt", "d");
  std::string noise;
  uint32_t seed = 7;
  for (int i = 0; i < 2500; ++i) {
    seed = seed * 1664525u + 1013904223u;
    noise.push_back(static_cast<char>(seed >> 24));
  }
  Put(package, "noise.bin", noise);
  package->Delete("a/b");
}

bool WriteFile(const std::string& path, uint8_t control, const std::vector<uint8_t>& bytes) {
  FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  std::fputc(control, out);
  std::fwrite(bytes.data(), 1, bytes.size(), out);
  return std::fclose(out) == 0;
}

}  // namespace
}  // namespace marrowgate

int main(int argc, char** argv) {
  using namespace marrowgate;
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s corpus-folder\n", argv[0]);
    return 2;
  }
  FuzzCodecs codecs;
  const Builder builders[] = {Empty, Small, Deleted};
  int written = 0;
  for (size_t b = 0; b < std::size(builders); ++b) {
    for (uint8_t control = 0; control < 8; ++control) {
      const bool keys = (control & kFuzzKeys) != 0;
      MemoryFile file;
      if (control & kFuzzTail) file.Write("MZ host program image", 21);
      VirtualFile* target = &file;
      TailFile* tail = nullptr;
      if (control & kFuzzTail) {
        tail = new TailFile;
        if (tail->Attach(&file, false, kOpenCreate) != 0) return 1;
        target = tail;
      }
      Package* package = new Package;
      if (package->Open(codecs.Params(kOpenCreate, target, keys)) != 0) return 1;
      builders[b](package);
      if (package->Close() != 0) return 1;
      package->Release();
      if (tail != nullptr) {
        tail->Detach();
        tail->Release();
      }
      const std::string path =
          std::string(argv[1]) + "/seed-" + std::to_string(b) + "-" + std::to_string(control);
      if (!WriteFile(path, control, file.bytes())) return 1;
      ++written;
    }
  }
  std::printf("%d seeds\n", written);
  return 0;
}
