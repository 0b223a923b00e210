// libFuzzer target: opens arbitrary bytes as a package (directly, or as the
// window of a host file with a tail record), walks the whole folder tree,
// stats and reads every item, and in update mode also creates, rewrites
// and deletes before closing. Anything but a clean error is a finding.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/package_fuzz_common.h"
#include "package/file/memory_file.h"
#include "package/store/tail_file.h"

namespace marrowgate {
namespace {

void Exercise(Package* package, bool update) {
  std::vector<std::string> pending{""};
  std::vector<std::string> files;
  std::vector<uint8_t> buffer;
  // Bounded: a damaged package cannot make the walk run away.
  for (int folders = 0; !pending.empty() && folders < 10000; ++folders) {
    const std::string folder = pending.back();
    pending.pop_back();
    Owned<DirListing> listing(package->List(folder.c_str()));
    if (!listing) continue;
    while (const ListingEntry* entry = listing->Next()) {
      const std::string path = folder.empty() ? entry->name : folder + "/" + entry->name;
      if (entry->isFolder) {
        pending.push_back(path);
        continue;
      }
      files.push_back(path);
    }
  }
  for (const std::string& path : files) {
    FileInfo info;
    package->Stat(path.c_str(), &info);
    for (int mode : {kOpenRead, kOpenRaw}) {
      Owned<VirtualFile> item(package->OpenItem(path.c_str(), mode));
      if (!item) continue;
      buffer.resize(static_cast<size_t>(item->Size()));
      if (!buffer.empty()) item->Read(buffer.data(), item->Size());
      uint8_t digest[16];
      item->Digest(digest);
    }
  }
  if (!update) return;
  if (!files.empty()) {
    Owned<VirtualFile> item(package->OpenItem(files.front().c_str(), kOpenUpdate));
    if (item) {
      item->Seek(0, 2);
      item->Write("appended", 8);
    }
  }
  {
    Owned<VirtualFile> item(package->OpenItem("fuzz/new.txt", kOpenCreate));
    if (item) item->Write("new content new content new content", 35);
  }
  package->MakeFolder("fuzz/folder");
  if (files.size() > 1) package->Delete(files.back().c_str());
  if (!files.empty()) {
    Owned<VirtualFile> item(package->OpenItem(files.front().c_str(), kOpenCreate));
    if (item) item->Write("replaced", 8);
  }
}

}  // namespace
}  // namespace marrowgate

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace marrowgate;
  if (size < 1) return 0;
  static FuzzCodecs* codecs = new FuzzCodecs;
  const uint8_t control = data[0];
  const bool update = (control & kFuzzUpdate) != 0;
  const int mode = update ? kOpenUpdate : kOpenRead;

  auto* memory = new MemoryFile(std::vector<uint8_t>(data + 1, data + size));
  VirtualFile* file = memory;
  if (control & kFuzzTail) {
    auto* tail = new TailFile;
    if (tail->Attach(memory, true, mode) != 0) {
      tail->Release();
      return 0;
    }
    file = tail;
  }
  PackageParams params = codecs->Params(mode, file, (control & kFuzzKeys) != 0);
  params.ownFile = 1;
  Package* package = new Package;
  if (package->Open(params) == 0) Exercise(package, update);
  package->Close();
  package->Release();
  return 0;
}
