// libFuzzer target: attaches a tail window to arbitrary host bytes for
// writing, writes into the window, detaches, and checks what any later
// reader needs: the host ends with a readable record, the window holds
// exactly what it held plus what was written, and the host's own bytes
// before the window are untouched.
//
// Input: one control byte, then the operations (six bytes each, as many as
// the control byte's low three bits say), then the host's bytes. Control
// bit 0x08: create mode (the window starts empty) instead of update mode.
// An operation: origin, offset (two bytes), length (two bytes), fill byte;
// writes land at most at the window's end, so the window never has a gap.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "package/store/layout.h"
#include "package/file/memory_file.h"
#include "package/store/tail_file.h"
#include "util/releaser.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

constexpr size_t kOperationSize = 6;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace marrowgate;
  if (size < 1) return 0;
  const uint8_t control = data[0];
  const size_t operations = control & 0x07;
  const int mode = (control & 0x08) ? kOpenCreate : kOpenUpdate;
  if (size < 1 + operations * kOperationSize) return 0;
  const uint8_t* ops = data + 1;
  const uint8_t* hostBytes = ops + operations * kOperationSize;
  const std::vector<uint8_t> original(hostBytes, data + size);

  MemoryFile host(original);
  TailFile* tail = new TailFile;
  if (tail->Attach(&host, false, mode) != 0) {
    tail->Release();
    Check(host.bytes() == original);  // a refused host is left alone
    return 0;
  }
  const uint32_t base = tail->record().baseOffset;
  Check(base <= original.size());
  std::vector<uint8_t> window;  // what the window should hold
  if (mode == kOpenUpdate) {
    const size_t end = static_cast<size_t>(base) + tail->record().dataSize;
    Check(end <= original.size());
    window.assign(original.begin() + base, original.begin() + static_cast<ptrdiff_t>(end));
  }
  Check(tail->Size() == static_cast<int32_t>(window.size()));

  bool wrote = false;
  for (size_t i = 0; i < operations; ++i) {
    const uint8_t* op = ops + i * kOperationSize;
    const int origin = op[0] % 3;
    const size_t offset = (op[1] | op[2] << 8) % (window.size() + 1);
    const size_t length = (op[3] | op[4] << 8) % 3000;
    // Every origin aims at the same target.
    int64_t relative = static_cast<int64_t>(offset);
    if (origin == 1) relative -= tail->Tell();
    if (origin == 2) relative -= static_cast<int64_t>(window.size());
    Check(tail->Seek(relative, origin) == 0);
    Check(tail->Tell() == static_cast<int64_t>(offset));
    std::vector<uint8_t> fill(length, op[5]);
    if (length == 0) continue;
    Check(tail->Write(fill.data(), static_cast<int32_t>(length)) == static_cast<int32_t>(length));
    if (window.size() < offset + length) window.resize(offset + length);
    std::memcpy(window.data() + offset, fill.data(), length);
    wrote = true;
  }
  Check(tail->Detach() == 0);
  tail->Release();
  if (!wrote) return 0;

  // The host's own bytes are kept, and it ends with a readable record.
  const std::vector<uint8_t>& now = host.bytes();
  Check(now.size() >= static_cast<size_t>(base) + window.size() + kTailRecordSize);
  Check(base == 0 || std::memcmp(now.data(), original.data(), base) == 0);
  Owned<TailFile> reader(new TailFile);
  Check(reader->Attach(&host, false, kOpenRead) == 0);
  Check(reader->record().baseOffset == base);
  Check(reader->Size() == static_cast<int32_t>(window.size()));
  std::vector<uint8_t> back(window.size() + 1);
  Check(reader->Seek(0, 0) == 0);
  int32_t got = 0;
  while (true) {
    const int32_t piece = reader->Read(back.data() + got, static_cast<int32_t>(back.size()) - got);
    Check(piece >= 0);
    if (piece == 0) break;
    got += piece;
  }
  back.resize(static_cast<size_t>(got));
  Check(back == window);
  return 0;
}
