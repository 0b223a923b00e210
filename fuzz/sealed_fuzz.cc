// libFuzzer target: unseals arbitrary bytes as a sealed stream, reads the
// content through to its end in pieces, and in update mode changes it and
// seals it again.
//
// Input: one control byte, then the stream's bytes. Control bits: 0x01
// update mode, 0x02 keys A and B given, 0x04 no codec, 0x08 reads of one
// byte at a time near the end.
//
// Beyond "no crash, no leak, no undefined behaviour" it checks:
// - a stream read through to its end without an error has exactly the
//   digest stored in its header (damaged content is never delivered as
//   good);
// - a stream sealed again opens again and gives back what was written;
// - the Unsealer, reading the same stream in slices, delivers content only
//   with the stored digest, and the same content when both read it whole.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "package/file/memory_file.h"
#include "package/store/package_codecs.h"
#include "package/seal/sealed_file.h"
#include "package/seal/unsealer.h"
#include "util/md5.h"
#include "util/releaser.h"

namespace marrowgate {
namespace {

enum : uint8_t {
  kUpdate = 0x01,
  kKeys = 0x02,
  kNoCodec = 0x04,
  kSmallReads = 0x08,
};

struct Codecs : PackageCodecs {
  Codecs() {
    if (!Create(0, true)) std::abort();
    cipherAEnc->SetEncryptKey("fuzz key a", 10);
    cipherADec->SetDecryptKey("fuzz key a", 10);
    cipherBEnc->SetEncryptKey("fuzz key b", 10);
    cipherBDec->SetDecryptKey("fuzz key b", 10);
  }

  SealParams Params(int mode, VirtualFile* file, uint8_t control) const {
    SealParams params;
    params.mode = mode;
    params.file = file;
    if (!(control & kNoCodec)) params.compressor = compressor.get();
    if (control & kKeys) {
      params.cipherAEnc = cipherAEnc.get();
      params.cipherADec = cipherADec.get();
      params.cipherBEnc = cipherBEnc.get();
      params.cipherBDec = cipherBDec.get();
    }
    return params;
  }
};

// Reads from the position to the end; false when a read failed.
bool ReadToEnd(VirtualFile* file, bool smallReads, std::vector<uint8_t>* out) {
  uint8_t piece[777];
  for (;;) {
    const int32_t left = file->Size() - static_cast<int32_t>(file->Tell());
    const int32_t want = smallReads && left < 64 ? 1 : static_cast<int32_t>(sizeof piece);
    const int32_t got = file->Read(piece, want);
    if (got < 0) return false;
    if (got == 0) return true;
    out->insert(out->end(), piece, piece + got);
  }
}

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace
}  // namespace marrowgate

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace marrowgate;
  if (size < 1) return 0;
  static const Codecs* codecs = new Codecs;
  const uint8_t control = data[0];
  const int mode = (control & kUpdate) ? kOpenUpdate : kOpenRead;
  MemoryFile file(std::vector<uint8_t>(data + 1, data + size));

  // The slice-by-slice reader first.
  std::vector<uint8_t> unsealed;
  static Unsealer* unsealer = new Unsealer;
  const int unsealCode = unsealer->Unseal(codecs->Params(kOpenRead, &file, control),
                                          [&](const uint8_t* bytes, size_t n) {
                                            unsealed.insert(unsealed.end(), bytes, bytes + n);
                                            return true;
                                          });
  if (unsealCode == 0) {
    SealHeader header;
    Check(ReadSealHeader(&file, &header) == 0);
    uint8_t computed[16];
    Md5Digest(unsealed.data(), unsealed.size(), computed);
    Check(std::memcmp(computed, header.digest, 16) == 0);
    Check(unsealed.size() == header.plainSize);
  }

  std::vector<uint8_t> content;
  {
    Owned<SealedFile> sealed(new SealedFile);
    if (sealed->Open(codecs->Params(mode, &file, control)) != 0) return 0;
    Check(sealed->Tell() == 0);
    // A partial read first, then the rest.
    const int32_t half = sealed->Size() / 2;
    content.resize(static_cast<size_t>(half));
    if (half > 0) Check(sealed->Read(content.data(), half) == half);
    const bool good = ReadToEnd(sealed.get(), (control & kSmallReads) != 0, &content);
    uint8_t stored[16];
    Check(sealed->Digest(stored) == 0);
    Check(std::memcmp(stored, sealed->header().digest, 16) == 0);
    if (good) {
      Check(content.size() == static_cast<size_t>(sealed->Size()));
      uint8_t computed[16];
      Md5Digest(content.data(), content.size(), computed);
      Check(std::memcmp(computed, stored, 16) == 0);
      if (unsealCode == 0) Check(unsealed == content);
    }
    if (mode != kOpenUpdate) return 0;
    // Change it: the released stream seals what it now holds. The content
    // of a damaged stream is not known here; its new seal must still read
    // back whole.
    const size_t at = static_cast<size_t>(sealed->Size()) / 3;
    Check(sealed->Seek(static_cast<int64_t>(at), 0) == 0);
    Check(sealed->Write("changed", 7) == 7);
    if (good) {
      if (content.size() < at + 7) content.resize(at + 7);
      std::memcpy(content.data() + at, "changed", 7);
    } else {
      content.clear();
    }
    Check(sealed->Seal() == 0);
    if (!good) {
      Owned<SealedFile> again(new SealedFile);
      Check(again->Open(codecs->Params(kOpenRead, &file, control)) == 0);
      std::vector<uint8_t> back;
      Check(ReadToEnd(again.get(), false, &back));
      Check(back.size() == static_cast<size_t>(again->Size()));
      return 0;
    }
  }
  // The new stream opens and gives back the changed content.
  Owned<SealedFile> again(new SealedFile);
  Check(again->Open(codecs->Params(kOpenRead, &file, control)) == 0);
  std::vector<uint8_t> back;
  Check(ReadToEnd(again.get(), false, &back));
  Check(back == content);
  return 0;
}
