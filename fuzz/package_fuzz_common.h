// What the package fuzz target and its corpus generator share: the codecs
// and keys a fuzzed package is opened with, and the meaning of the first
// input byte.
//
// Input: one control byte, then the bytes of the file the package is opened
// over. Control bits: 0x01 open for update (and change things before
// closing), 0x02 use key A and key B (otherwise no keys), 0x04 the bytes
// are a host file whose tail record names the package window.
#ifndef MARROWGATE_FUZZ_PACKAGE_FUZZ_COMMON_H_
#define MARROWGATE_FUZZ_PACKAGE_FUZZ_COMMON_H_

#include <cstdint>

#include "package/store/package.h"
#include "package/store/package_codecs.h"
#include "util/releaser.h"

namespace marrowgate {

enum FuzzControl : uint8_t {
  kFuzzUpdate = 0x01,
  kFuzzKeys = 0x02,
  kFuzzTail = 0x04,
};

struct FuzzCodecs : PackageCodecs {
  FuzzCodecs() { Create(0, true); }

  PackageParams Params(int mode, VirtualFile* file, bool keys) {
    PackageParams params;
    params.mode = mode;
    params.file = file;
    ApplyTo(&params);
    if (keys) {
      SetPackageKeyA(&params, "fuzz key a", 10);
      SetPackageKeyB(&params, "fuzz key b", 10);
    }
    SetPackageName(&params, "fuzz");
    return params;
  }
};

}  // namespace marrowgate

#endif  // MARROWGATE_FUZZ_PACKAGE_FUZZ_COMMON_H_
