// Writes the seed inputs of sealed_fuzz and tail_fuzz (see their headers
// for the input layouts) into <folder>/sealed_fuzz and <folder>/tail_fuzz;
// the folders must exist. The seeds kept in fuzz/corpus/ were made by it:
//   reader_fuzz_seeds fuzz/corpus
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "package/store/layout.h"
#include "package/file/memory_file.h"
#include "package/store/package_codecs.h"
#include "package/seal/sealed_file.h"
#include "package/store/tail_file.h"
#include "util/releaser.h"

namespace marrowgate {
namespace {

bool Save(const std::string& path, const std::vector<uint8_t>& bytes) {
  Owned<FileSystem> disk(CreateFileSystem());
  Owned<VirtualFile> file(disk->Open(path.c_str(), kOpenCreate));
  return file && (bytes.empty() || file->Write(bytes.data(), static_cast<int32_t>(bytes.size())) ==
                                        static_cast<int32_t>(bytes.size()));
}

std::vector<uint8_t> Text(size_t n) {
  static const char kWords[] = "update folder item sealed stream version ";
  std::vector<uint8_t> out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(kWords[(i * 5 + i / 31) % (sizeof kWords - 1)]);
  return out;
}

std::vector<uint8_t> Noise(size_t n) {
  std::vector<uint8_t> out(n);
  uint32_t seed = 11;
  for (auto& byte : out) {
    seed = seed * 1664525u + 1013904223u;
    byte = static_cast<uint8_t>(seed >> 24);
  }
  return out;
}

int WriteSealedSeeds(const std::string& folder) {
  PackageCodecs codecs;
  if (!codecs.Create(0, true)) return -1;
  codecs.cipherAEnc->SetEncryptKey("fuzz key a", 10);
  codecs.cipherBEnc->SetEncryptKey("fuzz key b", 10);
  int count = 0;
  const std::vector<std::vector<uint8_t>> contents = {{}, Text(40), Text(3000), Noise(500)};
  // compress, cipher A, cipher B
  const bool kinds[][3] = {{false, false, false}, {true, false, false}, {false, true, false},
                           {true, true, false},   {true, false, true}};
  for (size_t c = 0; c < contents.size(); ++c) {
    for (size_t k = 0; k < std::size(kinds); ++k) {
      MemoryFile file;
      {
        SealParams params;
        params.mode = kOpenCreate;
        params.file = &file;
        if (kinds[k][0]) params.compressor = codecs.compressor.get();
        if (kinds[k][1]) params.cipherAEnc = codecs.cipherAEnc.get();
        if (kinds[k][2]) params.cipherBEnc = codecs.cipherBEnc.get();
        Owned<SealedFile> sealed(new SealedFile);
        if (sealed->Open(params) != 0) return -1;
        if (!contents[c].empty() &&
            sealed->Write(contents[c].data(), static_cast<int32_t>(contents[c].size())) < 0)
          return -1;
        if (sealed->Seal() != 0) return -1;
      }
      // Control: update on odd seeds, keys when enciphered, small reads.
      uint8_t control = static_cast<uint8_t>((c + k) % 2);
      if (kinds[k][1] || kinds[k][2]) control |= 0x02;
      if (c == 2) control |= 0x08;
      std::vector<uint8_t> input{control};
      input.insert(input.end(), file.bytes().begin(), file.bytes().end());
      if (!Save(folder + "/seed-" + std::to_string(c) + "-" + std::to_string(k), input)) return -1;
      ++count;
    }
  }
  return count;
}

std::vector<uint8_t> Host(const std::string& image, const std::string& window, bool gap) {
  std::vector<uint8_t> bytes(image.begin(), image.end());
  bytes.insert(bytes.end(), window.begin(), window.end());
  if (gap) bytes.push_back('X');
  TailRecord record;
  record.baseOffset = static_cast<uint32_t>(image.size());
  record.dataSize = static_cast<uint32_t>(window.size());
  uint8_t encoded[kTailRecordSize];
  EncodeTailRecord(record, encoded);
  bytes.insert(bytes.end(), encoded, encoded + kTailRecordSize);
  return bytes;
}

int WriteTailSeeds(const std::string& folder) {
  struct Seed {
    uint8_t control;
    std::vector<uint8_t> ops;
    std::vector<uint8_t> host;
  };
  const std::vector<uint8_t> appendOp = {2, 0, 0, 40, 0, 'a'};
  const std::vector<uint8_t> overwriteOp = {0, 3, 0, 5, 0, 'o'};
  const std::string image(100, 'M');
  const std::string window(300, 'w');
  std::vector<Seed> seeds = {
      {0x00, {}, std::vector<uint8_t>(image.begin(), image.end())},
      {0x01, appendOp, std::vector<uint8_t>(image.begin(), image.end())},
      {0x01, appendOp, Host(image, window, false)},
      {0x01, overwriteOp, Host(image, window, true)},
      {0x02, {}, Host(image, window, true)},
      {0x09, overwriteOp, Host(image, window, false)},
      {0x01, overwriteOp, std::vector<uint8_t>(10, 'h')},
  };
  seeds[4].ops = overwriteOp;
  seeds[4].ops.insert(seeds[4].ops.end(), appendOp.begin(), appendOp.end());
  int count = 0;
  for (const Seed& seed : seeds) {
    std::vector<uint8_t> input{seed.control};
    input.insert(input.end(), seed.ops.begin(), seed.ops.end());
    input.insert(input.end(), seed.host.begin(), seed.host.end());
    if (!Save(folder + "/seed-" + std::to_string(count), input)) return -1;
    ++count;
  }
  return count;
}

}  // namespace
}  // namespace marrowgate

int main(int argc, char** argv) {
  using namespace marrowgate;
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s corpus-folder\n", argv[0]);
    return 2;
  }
  const std::string root = argv[1];
  const int sealed = WriteSealedSeeds(root + "/sealed_fuzz");
  const int tail = WriteTailSeeds(root + "/tail_fuzz");
  if (sealed < 0 || tail < 0) {
    std::fprintf(stderr, "seeds could not be written\n");
    return 1;
  }
  std::printf("%d sealed seeds, %d tail seeds\n", sealed, tail);
  return 0;
}
