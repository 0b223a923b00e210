// Package throughput: writing and reading 64 MiB of mixed items (text-like
// and incompressible, 1 KiB .. 8 MiB each) through a Package over a
// MemoryFile, next to the raw cost of the same work: deciphering the stored
// bytes with the rolling DES cipher and inflating them.
//
// All rates are plain content bytes per second. The reading path should
// reach at least 0.8x of BM_RawDecipherInflate.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "package/store/layout.h"
#include "package/file/memory_file.h"
#include "package/store/package.h"
#include "package/store/package_codecs.h"
#include "package/seal/sealed_file.h"
#include "package/seal/unsealer.h"
#include "util/releaser.h"

namespace marrowgate {
namespace {

struct Item {
  std::string path;
  std::vector<uint8_t> content;
};

std::vector<uint8_t> TextLike(size_t n, uint32_t seed) {
  static const char* const kWords[] = {"patch ", "client ", "folder ", "version ", "update ",
                                       "file ", "install ", "package ", "=", "1.0.", "\r\n",
                                       "config ", "message ", "data/", "bin/", "0 "};
  std::vector<uint8_t> out;
  out.reserve(n);
  while (out.size() < n) {
    seed = seed * 1664525u + 1013904223u;
    const char* word = kWords[(seed >> 24) % 16];
    out.insert(out.end(), word, word + std::strlen(word));
  }
  out.resize(n);
  return out;
}

std::vector<uint8_t> Noise(size_t n, uint32_t seed) {
  std::vector<uint8_t> out(n);
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1664525u + 1013904223u;
    out[i] = static_cast<uint8_t>(seed >> 24);
  }
  return out;
}

// 64 MiB in items of 1 KiB .. 8 MiB, alternately text-like and noise.
const std::vector<Item>& Items() {
  static const std::vector<Item> items = [] {
    std::vector<Item> out;
    const size_t total = 64u << 20;
    size_t used = 0;
    uint32_t seed = 12345;
    for (int i = 0; used < total; ++i) {
      seed = seed * 1664525u + 1013904223u;
      size_t size = size_t{1024} << ((seed >> 20) % 14);  // 1 KiB .. 8 MiB
      size = std::min(size + (seed % 997), total - used);
      Item item;
      item.path = "data/" + std::to_string(i % 7) + "/item" + std::to_string(i);
      item.content = (i % 2 == 0) ? TextLike(size, seed) : Noise(size, seed);
      used += size;
      out.push_back(std::move(item));
    }
    return out;
  }();
  return items;
}

int64_t PlainBytes() {
  int64_t total = 0;
  for (const Item& item : Items()) total += static_cast<int64_t>(item.content.size());
  return total;
}

// Codecs and cipher objects, as a file manager would hand them out.
struct Codecs : PackageCodecs {
  Codecs() {
    if (!Create(0, true)) std::abort();
  }

  PackageParams Params(int mode, VirtualFile* file) {
    PackageParams params;
    params.mode = mode;
    params.file = file;
    ApplyTo(&params);
    SetPackageKeyA(&params, "bench key a", 11);
    SetPackageKeyB(&params, "bench key b", 11);
    SetPackageName(&params, "bench");
    return params;
  }
};

void WritePackage(Codecs& codecs, MemoryFile* file) {
  Package* package = new Package;
  if (package->Open(codecs.Params(kOpenCreate, file)) != 0) std::abort();
  for (const Item& item : Items()) {
    Owned<VirtualFile> out(package->OpenItem(item.path.c_str(), kOpenCreate));
    if (!out) std::abort();
    out->Write(item.content.data(), static_cast<int32_t>(item.content.size()));
  }
  if (package->Close() != 0) std::abort();
  package->Release();
}

const std::vector<uint8_t>& PackageBytes() {
  static const std::vector<uint8_t> bytes = [] {
    Codecs codecs;
    MemoryFile file;
    WritePackage(codecs, &file);
    return file.bytes();
  }();
  return bytes;
}

void BM_PackageWrite(benchmark::State& state) {
  Codecs codecs;
  Items();
  for (auto _ : state) {
    MemoryFile file;
    WritePackage(codecs, &file);
    benchmark::DoNotOptimize(file.bytes().data());
  }
  state.SetBytesProcessed(state.iterations() * PlainBytes());
}

void BM_PackageRead(benchmark::State& state) {
  Codecs codecs;
  MemoryFile file(PackageBytes());
  std::vector<uint8_t> buffer(9u << 20);
  for (auto _ : state) {
    Package* package = new Package;
    if (package->Open(codecs.Params(kOpenRead, &file)) != 0) std::abort();
    for (const Item& item : Items()) {
      Owned<VirtualFile> in(package->OpenItem(item.path.c_str(), kOpenRead));
      if (!in || in->Size() != static_cast<int32_t>(item.content.size())) std::abort();
      in->Read(buffer.data(), in->Size());
    }
    package->Close();
    package->Release();
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(state.iterations() * PlainBytes());
}

// The stored form of every item (header and stored bytes), taken from the
// package in raw mode.
struct StoredItem {
  SealHeader header;
  std::vector<uint8_t> stored;
};

const std::vector<StoredItem>& StoredItems() {
  static const std::vector<StoredItem> stored = [] {
    Codecs codecs;
    MemoryFile file(PackageBytes());
    Package* package = new Package;
    if (package->Open(codecs.Params(kOpenRead, &file)) != 0) std::abort();
    std::vector<StoredItem> out;
    for (const Item& item : Items()) {
      Owned<VirtualFile> raw(package->OpenItem(item.path.c_str(), kOpenRaw));
      std::vector<uint8_t> bytes(static_cast<size_t>(raw->Size()));
      raw->Read(bytes.data(), raw->Size());
      StoredItem entry;
      if (!DecodeSealHeader(bytes.data(), &entry.header)) std::abort();
      entry.stored.assign(bytes.begin() + kSealHeaderSize,
                          bytes.begin() + kSealHeaderSize + entry.header.storedSize);
      out.push_back(std::move(entry));
    }
    package->Close();
    package->Release();
    return out;
  }();
  return stored;
}

// Decipher (rolling DES) and inflate the same stored bytes, with nothing
// of the package around it.
void BM_RawDecipherInflate(benchmark::State& state) {
  Codecs codecs;
  codecs.cipherADec->SetDecryptKey("bench key a", 11);
  codecs.cipherBDec->SetDecryptKey("bench key b", 11);
  const std::vector<StoredItem>& items = StoredItems();
  std::vector<uint8_t> work(9u << 20), plain(9u << 20);
  for (auto _ : state) {
    for (const StoredItem& item : items) {
      std::memcpy(work.data(), item.stored.data(), item.stored.size());
      CipherObject* cipher =
          (item.header.flags & kSealCipherB) ? codecs.cipherBDec.get() : codecs.cipherADec.get();
      cipher->ResetChain();
      cipher->Decrypt(work.data(), static_cast<int32_t>(item.stored.size()), work.data());
      if (item.header.flags & kSealCompressed) {
        int32_t length = static_cast<int32_t>(item.header.plainSize) + 1;
        codecs.compressor->Decompress(work.data(), static_cast<int32_t>(item.stored.size()),
                                 plain.data(), &length);
      }
    }
    benchmark::DoNotOptimize(plain.data());
  }
  state.SetBytesProcessed(state.iterations() * PlainBytes());
}

void BM_RawDecipher(benchmark::State& state) {
  Codecs codecs;
  codecs.cipherBDec->SetDecryptKey("bench key b", 11);
  const std::vector<StoredItem>& items = StoredItems();
  std::vector<uint8_t> work(9u << 20);
  int64_t bytes = 0;
  for (auto _ : state) {
    for (const StoredItem& item : items) {
      codecs.cipherBDec->ResetChain();
      codecs.cipherBDec->Decrypt(item.stored.data(), static_cast<int32_t>(item.stored.size()),
                           work.data());
      bytes += static_cast<int64_t>(item.stored.size());
    }
    benchmark::DoNotOptimize(work.data());
  }
  state.SetBytesProcessed(bytes);  // stored bytes
}

// Reading every item through the Unsealer, as extract does: in slices,
// digested, handed to a sink that keeps nothing.
void BM_Unseal(benchmark::State& state) {
  Codecs codecs;
  MemoryFile file(PackageBytes());
  Package* package = new Package;
  if (package->Open(codecs.Params(kOpenRead, &file)) != 0) std::abort();
  Unsealer unsealer;
  for (auto _ : state) {
    for (const Item& item : Items()) {
      Owned<VirtualFile> raw(package->OpenItem(item.path.c_str(), kOpenRaw));
      SealParams params;
      params.file = raw.get();
      CopyCodecs(package->Params(), &params);
      if (unsealer.Unseal(params, [](const uint8_t* p, size_t) {
            benchmark::DoNotOptimize(p);
            return true;
          }) != 0)
        std::abort();
    }
  }
  package->Close();
  package->Release();
  state.SetBytesProcessed(state.iterations() * PlainBytes());
}

BENCHMARK(BM_Unseal)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PackageWrite)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_PackageRead)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_RawDecipherInflate)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_RawDecipher)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace marrowgate

BENCHMARK_MAIN();
