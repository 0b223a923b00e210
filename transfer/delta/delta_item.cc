#include "transfer/delta/delta_item.h"

#include <librsync.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "package/file/staging_name.h"
#include "util/byte_order.h"
#include "util/md5.h"

namespace marrowgate {

namespace {

constexpr size_t kMagicLength = 8;
// Slices in which inputs are fed to librsync and outputs taken from it.
constexpr size_t kSlice = 64 * 1024;
// Largest signature block used for encoding.
constexpr size_t kMaxBlock = 2048;

// librsync reports through a trace channel of its own; the results here
// carry everything a caller needs, so its messages are dropped.
void DropTrace(rs_loglevel, const char*) {}

void QuietLibrary() {
  static const bool quiet = [] {
    rs_trace_to(DropTrace);
    rs_trace_set_level(RS_LOG_EMERG);
    return true;
  }();
  (void)quiet;
}

struct JobFree {
  void operator()(rs_job_t* job) const {
    if (job != nullptr) rs_job_free(job);
  }
};
using JobPtr = std::unique_ptr<rs_job_t, JobFree>;

struct SignatureFree {
  void operator()(rs_signature_t* sig) const {
    if (sig != nullptr) rs_free_sumset(sig);
  }
};
using SignaturePtr = std::unique_ptr<rs_signature_t, SignatureFree>;

// Input side of a job: a buffer refilled from a reader.
class JobInput {
 public:
  JobInput() : buffer_(kSlice) {}

  // Tops the buffer up when less than half is waiting. `read` gives the
  // count read, 0 at the end, negative on failure.
  template <class Reader>
  bool Refill(rs_buffers_t* b, Reader&& read) {
    if (b->eof_in || b->avail_in >= buffer_.size() / 2) return true;
    if (b->avail_in > 0 && b->next_in != buffer_.data())
      std::memmove(buffer_.data(), b->next_in, b->avail_in);
    b->next_in = buffer_.data();
    const size_t room = buffer_.size() - b->avail_in;
    const int32_t n = read(buffer_.data() + b->avail_in, static_cast<int32_t>(room));
    if (n < 0) return false;
    if (n == 0) b->eof_in = 1;
    b->avail_in += static_cast<size_t>(n);
    return true;
  }

  char* data() { return buffer_.data(); }

 private:
  std::vector<char> buffer_;
};

// Runs `job` to its end, feeding it from `read` and handing its output to
// `write` (true when taken whole). Returns 0 or a kDelta code; `write` may
// return a code of its own through `writeFailure`.
template <class Reader, class Writer>
int32_t Drive(rs_job_t* job, Reader&& read, Writer&& write, int32_t* writeFailure) {
  JobInput input;
  std::vector<char> output(kSlice);
  rs_buffers_t b{};
  b.next_in = input.data();
  int idle = 0;
  for (;;) {
    if (!input.Refill(&b, read)) return kDeltaReadFailed;
    b.next_out = output.data();
    b.avail_out = output.size();
    const size_t inBefore = b.avail_in;
    const rs_result r = rs_job_iter(job, &b);
    const size_t produced = output.size() - b.avail_out;
    if (produced > 0) {
      int32_t code = write(output.data(), produced);
      if (code != 0) {
        if (writeFailure != nullptr) *writeFailure = code;
        return code;
      }
    }
    if (r == RS_DONE) return 0;
    if (r != RS_BLOCKED) return kDeltaCorrupt;
    // A job that neither takes nor gives after its input ended never will.
    idle = (produced == 0 && b.avail_in == inBefore && b.eof_in) ? idle + 1 : 0;
    if (idle > 2) return kDeltaCorrupt;
  }
}

// A reader over a VirtualFile that digests what it hands out.
struct DigestingReader {
  VirtualFile* file;
  Md5* md5;
  uint64_t* total;
  int32_t operator()(char* into, int32_t n) const {
    int32_t got = file->Read(into, n);
    if (got > 0) {
      Md5Update(md5, into, static_cast<size_t>(got));
      *total += static_cast<uint64_t>(got);
    }
    return got;
  }
};

}  // namespace

namespace {

bool EndsWithSuffix(const std::string& path, const char* suffix) {
  const size_t length = std::strlen(suffix);
  size_t separator = path.find_last_of("/\\");
  size_t nameStart = separator == std::string::npos ? 0 : separator + 1;
  if (path.size() - nameStart < length) return false;
  return path.compare(path.size() - length, length, suffix) == 0;
}

std::string TargetBefore(const std::string& path, const char* suffix) {
  if (!EndsWithSuffix(path, suffix)) return std::string();
  std::string target = path.substr(0, path.size() - std::strlen(suffix));
  size_t separator = target.find_last_of("/\\");
  size_t nameStart = separator == std::string::npos ? 0 : separator + 1;
  if (nameStart >= target.size() || IsDeltaName(target) || IsDeltaFullName(target) ||
      IsStagingName(target))
    return std::string();
  return target;
}

}  // namespace

bool IsDeltaName(const std::string& path) { return EndsWithSuffix(path, kDeltaSuffix); }

std::string DeltaNameFor(const std::string& target) { return target + kDeltaSuffix; }

std::string DeltaTargetOf(const std::string& path) { return TargetBefore(path, kDeltaSuffix); }

bool IsDeltaFullName(const std::string& path) { return EndsWithSuffix(path, kDeltaFullSuffix); }

std::string DeltaFullNameFor(const std::string& target) { return target + kDeltaFullSuffix; }

std::string DeltaFullTargetOf(const std::string& path) {
  return TargetBefore(path, kDeltaFullSuffix);
}

void StoreDeltaHeader(const DeltaHeader& header, uint8_t out[kDeltaHeaderSize]) {
  std::memcpy(out, kDeltaMagic, kMagicLength);
  StoreLe32(kDeltaVersion, out + 8);
  StoreLe32(header.oldSize, out + 12);
  std::memcpy(out + 16, header.oldDigest.data(), 16);
  StoreLe32(header.newSize, out + 32);
  std::memcpy(out + 36, header.newDigest.data(), 16);
}

int32_t ReadDeltaHeader(VirtualFile* delta, DeltaHeader* header) {
  uint8_t bytes[kDeltaHeaderSize];
  size_t have = 0;
  while (have < sizeof bytes) {
    int32_t n = delta->Read(bytes + have, static_cast<int32_t>(sizeof bytes - have));
    if (n < 0) return kDeltaReadFailed;
    if (n == 0) return kDeltaBadHeader;
    have += static_cast<size_t>(n);
  }
  if (std::memcmp(bytes, kDeltaMagic, kMagicLength) != 0 || LoadLe32(bytes + 8) != kDeltaVersion)
    return kDeltaBadHeader;
  header->oldSize = LoadLe32(bytes + 12);
  std::memcpy(header->oldDigest.data(), bytes + 16, 16);
  header->newSize = LoadLe32(bytes + 32);
  std::memcpy(header->newDigest.data(), bytes + 36, 16);
  return 0;
}

int32_t CheckFileIs(VirtualFile* file, uint32_t expectedSize,
                    const std::array<uint8_t, 16>& expectedDigest) {
  const int32_t size = file->Size();
  if (size < 0) return kDeltaReadFailed;
  if (static_cast<uint32_t>(size) != expectedSize) return kDeltaBasisDiffers;
  if (file->Seek(0, 0) != 0) return kDeltaReadFailed;
  Md5 md5;
  Md5Init(&md5);
  std::vector<uint8_t> slice(kSlice);
  uint64_t total = 0;
  for (;;) {
    int32_t n = file->Read(slice.data(), static_cast<int32_t>(slice.size()));
    if (n < 0) return kDeltaReadFailed;
    if (n == 0) break;
    Md5Update(&md5, slice.data(), static_cast<size_t>(n));
    total += static_cast<uint64_t>(n);
  }
  std::array<uint8_t, 16> digest;
  Md5Final(&md5, digest.data());
  if (total != expectedSize || digest != expectedDigest) return kDeltaBasisDiffers;
  return 0;
}

int32_t CheckDeltaBasis(VirtualFile* basis, const DeltaHeader& header) {
  return CheckFileIs(basis, header.oldSize, header.oldDigest);
}

int32_t EncodeDelta(VirtualFile* oldFile, VirtualFile* newFile, VirtualFile* out, uint64_t limit,
                    DeltaEncodeStats* stats) {
  QuietLibrary();
  DeltaHeader header;
  const int32_t oldSize = oldFile->Size();
  const int32_t newSize = newFile->Size();
  if (oldSize < 0 || newSize < 0) return kDeltaReadFailed;
  if (oldFile->Seek(0, 0) != 0 || newFile->Seek(0, 0) != 0) return kDeltaReadFailed;
  if (limit > 0 && limit < kDeltaHeaderSize) return kDeltaTooLarge;

  // The old file's signature, and its digest on the way.
  rs_magic_number magic = static_cast<rs_magic_number>(0);
  size_t blockLength = 0, strongLength = 0;
  if (rs_sig_args(oldSize, &magic, &blockLength, &strongLength) != RS_DONE) return kDeltaCorrupt;
  // Finer blocks than the library's choice for large files: an edit costs
  // at most about two blocks of literal bytes, while the signature (held
  // only while encoding) stays small beside the file.
  if (blockLength > kMaxBlock) blockLength = kMaxBlock;
  std::string signature;
  Md5 md5;
  uint64_t total = 0;
  {
    JobPtr job(rs_sig_begin(blockLength, strongLength, magic));
    if (!job) return kDeltaCorrupt;
    Md5Init(&md5);
    int32_t rc = Drive(
        job.get(), DigestingReader{oldFile, &md5, &total},
        [&](const char* data, size_t n) {
          signature.append(data, n);
          return 0;
        },
        nullptr);
    if (rc != 0) return rc;
    if (total != static_cast<uint64_t>(oldSize)) return kDeltaReadFailed;
    header.oldSize = static_cast<uint32_t>(oldSize);
    Md5Final(&md5, header.oldDigest.data());
  }
  rs_signature_t* loaded = nullptr;
  JobPtr load(rs_loadsig_begin(&loaded));
  if (!load) return kDeltaCorrupt;
  size_t at = 0;
  int32_t loadRc = Drive(
      load.get(),
      [&](char* into, int32_t n) {
        size_t take = std::min(static_cast<size_t>(n), signature.size() - at);
        std::memcpy(into, signature.data() + at, take);
        at += take;
        return static_cast<int32_t>(take);
      },
      [](const char*, size_t) { return 0; }, nullptr);
  load.reset();
  SignaturePtr sums(loaded);
  if (loadRc != 0) return loadRc;
  if (!sums || rs_build_hash_table(sums.get()) != RS_DONE) return kDeltaCorrupt;

  // The header's place, then the delta.
  const int64_t start = out->Tell();
  uint8_t placeholder[kDeltaHeaderSize] = {};
  if (start < 0 || !out->WriteExactly(placeholder, sizeof placeholder)) return kDeltaWriteFailed;
  uint64_t written = kDeltaHeaderSize;
  {
    JobPtr job(rs_delta_begin(sums.get()));
    if (!job) return kDeltaCorrupt;
    Md5Init(&md5);
    total = 0;
    int32_t rc = Drive(
        job.get(), DigestingReader{newFile, &md5, &total},
        [&](const char* data, size_t n) -> int32_t {
          written += n;
          if (limit > 0 && written > limit) return kDeltaTooLarge;
          return out->WriteExactly(data, n) ? 0 : kDeltaWriteFailed;
        },
        nullptr);
    if (rc != 0) return rc;
    if (total != static_cast<uint64_t>(newSize)) return kDeltaReadFailed;
    header.newSize = static_cast<uint32_t>(newSize);
    Md5Final(&md5, header.newDigest.data());
  }
  uint8_t bytes[kDeltaHeaderSize];
  StoreDeltaHeader(header, bytes);
  if (out->Seek(start, 0) != 0 || !out->WriteExactly(bytes, sizeof bytes) ||
      out->Seek(0, 2) != 0)
    return kDeltaWriteFailed;
  if (stats != nullptr) {
    stats->signatureBytes = signature.size();
    stats->deltaBytes = written - kDeltaHeaderSize;
  }
  return 0;
}

// The running patch job and what its callback needs.
struct DeltaRebuild::Job {
  JobPtr job;
  JobInput input;
  rs_buffers_t buffers{};
  VirtualFile* basis = nullptr;
  uint32_t basisSize = 0;
  bool basisFailed = false;
  Md5 md5;
  int idle = 0;
  std::vector<char> output;  // Feed's slice of rebuilt bytes

  static rs_result CopyFromBasis(void* opaque, rs_long_t pos, size_t* len, void** buf) {
    Job* self = static_cast<Job*>(opaque);
    if (pos < 0 || static_cast<uint64_t>(pos) >= self->basisSize) {
      *len = 0;
      return RS_CORRUPT;
    }
    const size_t want =
        std::min<uint64_t>(*len, static_cast<uint64_t>(self->basisSize) - static_cast<uint64_t>(pos));
    if (self->basis->Seek(pos, 0) != 0) {
      self->basisFailed = true;
      return RS_IO_ERROR;
    }
    char* into = static_cast<char*>(*buf);
    size_t have = 0;
    while (have < want) {
      const size_t piece = std::min<size_t>(want - have, 1 << 30);
      int32_t n = self->basis->Read(into + have, static_cast<int32_t>(piece));
      if (n < 0) {
        self->basisFailed = true;
        return RS_IO_ERROR;
      }
      if (n == 0) break;
      have += static_cast<size_t>(n);
    }
    if (have == 0) return RS_INPUT_ENDED;
    *len = have;
    return RS_DONE;
  }
};

DeltaRebuild::DeltaRebuild(VirtualFile* delta, VirtualFile* basis, const DeltaHeader& header)
    : delta_(delta), basis_(basis), header_(header) {
  QuietLibrary();
  job_ = new (std::nothrow) Job;
  if (job_ == nullptr) {
    failure_ = kDeltaCorrupt;
    return;
  }
  job_->basis = basis_;
  const int32_t size = basis_->Size();
  job_->basisSize = size < 0 ? 0 : static_cast<uint32_t>(size);
  job_->buffers.next_in = job_->input.data();
  Md5Init(&job_->md5);
  job_->job.reset(rs_patch_begin(&Job::CopyFromBasis, job_));
  if (!job_->job) failure_ = kDeltaCorrupt;
}

DeltaRebuild::~DeltaRebuild() { delete job_; }

int32_t DeltaRebuild::Fail(int32_t code) {
  failure_ = code;
  return code;
}

int32_t DeltaRebuild::Account(const void* bytes, size_t n, bool finished) {
  // Never more than the file the header announces.
  if (n > header_.newSize - produced_) return Fail(kDeltaResultDiffers);
  Md5Update(&job_->md5, bytes, n);
  produced_ += static_cast<uint32_t>(n);
  if (finished) {
    std::array<uint8_t, 16> digest;
    Md5Final(&job_->md5, digest.data());
    if (produced_ != header_.newSize || digest != header_.newDigest)
      return Fail(kDeltaResultDiffers);
    done_ = true;
  }
  return 0;
}

int32_t DeltaRebuild::Read(void* buffer, int32_t n) {
  if (failure_ != 0) return failure_;
  if (done_ || n <= 0) return 0;
  rs_buffers_t& b = job_->buffers;
  b.next_out = static_cast<char*>(buffer);
  b.avail_out = static_cast<size_t>(n);
  bool finished = false;
  while (b.avail_out == static_cast<size_t>(n)) {
    if (!job_->input.Refill(&b, [this](char* into, int32_t m) { return delta_->Read(into, m); }))
      return Fail(kDeltaReadFailed);
    const size_t inBefore = b.avail_in;
    const rs_result r = rs_job_iter(job_->job.get(), &b);
    if (job_->basisFailed) return Fail(kDeltaReadFailed);
    if (r == RS_DONE) {
      finished = true;
      break;
    }
    if (r != RS_BLOCKED) return Fail(kDeltaCorrupt);
    const bool idle = b.avail_out == static_cast<size_t>(n) && b.avail_in == inBefore && b.eof_in;
    job_->idle = idle ? job_->idle + 1 : 0;
    if (job_->idle > 2) return Fail(kDeltaCorrupt);
  }
  const size_t produced = static_cast<size_t>(n) - b.avail_out;
  int32_t rc = Account(buffer, produced, finished);
  if (rc != 0) return rc;
  return static_cast<int32_t>(produced);
}

int32_t DeltaRebuild::Pass(const DeltaSink& out, bool end) {
  rs_buffers_t& b = job_->buffers;
  b.eof_in = end ? 1 : 0;
  if (job_->output.empty()) job_->output.resize(kSlice);
  for (;;) {
    b.next_out = job_->output.data();
    b.avail_out = job_->output.size();
    const size_t inBefore = b.avail_in;
    const rs_result r = rs_job_iter(job_->job.get(), &b);
    if (job_->basisFailed) return Fail(kDeltaReadFailed);
    if (r != RS_DONE && r != RS_BLOCKED) return Fail(kDeltaCorrupt);
    const size_t produced = job_->output.size() - b.avail_out;
    int32_t rc = Account(job_->output.data(), produced, r == RS_DONE);
    if (rc != 0) return rc;
    if (produced > 0 && !out(reinterpret_cast<const uint8_t*>(job_->output.data()), produced))
      return Fail(kDeltaWriteFailed);
    if (r == RS_DONE) {
      // Bytes after the end of the delta are damage, not delta.
      return b.avail_in == 0 ? 0 : Fail(kDeltaCorrupt);
    }
    // Output room left and the input taken: the job waits for more.
    if (!end && b.avail_in == 0 && b.avail_out > 0) return 0;
    const bool idle = produced == 0 && b.avail_in == inBefore;
    job_->idle = idle ? job_->idle + 1 : 0;
    if (job_->idle > 2) return Fail(kDeltaCorrupt);
  }
}

int32_t DeltaRebuild::Feed(const void* bytes, size_t n, const DeltaSink& out) {
  if (failure_ != 0) return failure_;
  if (n == 0) return 0;
  // The delta ended already: whatever follows is damage.
  if (done_) return Fail(kDeltaCorrupt);
  rs_buffers_t& b = job_->buffers;
  b.next_in = const_cast<char*>(static_cast<const char*>(bytes));
  b.avail_in = n;
  const int32_t rc = Pass(out, false);
  b.next_in = nullptr;
  b.avail_in = 0;
  return rc;
}

int32_t DeltaRebuild::Finish(const DeltaSink& out) {
  if (failure_ != 0) return failure_;
  if (done_) return 0;
  rs_buffers_t& b = job_->buffers;
  b.next_in = nullptr;
  b.avail_in = 0;
  const int32_t rc = Pass(out, true);
  if (rc != 0) return rc;
  return done_ ? 0 : Fail(kDeltaResultDiffers);
}

int32_t ApplyDelta(VirtualFile* delta, VirtualFile* basis, VirtualFile* sink,
                   const std::function<int(uint32_t)>& progress) {
  DeltaHeader header;
  int32_t rc = ReadDeltaHeader(delta, &header);
  if (rc != 0) return rc;
  const int64_t afterHeader = delta->Tell();
  rc = CheckDeltaBasis(basis, header);
  if (rc != 0) return rc;
  if (delta->Seek(afterHeader, 0) != 0) return kDeltaReadFailed;
  DeltaRebuild rebuild(delta, basis, header);
  std::vector<uint8_t> slice(kSlice);
  for (;;) {
    int32_t n = rebuild.Read(slice.data(), static_cast<int32_t>(slice.size()));
    if (n < 0) return n;
    if (n == 0) break;
    if (!sink->WriteExactly(slice.data(), static_cast<size_t>(n))) return kDeltaWriteFailed;
    if (progress && progress(rebuild.produced()) != 0) return kDeltaStopped;
  }
  return 0;
}

const char* DeltaResultText(int32_t code) {
  switch (code) {
    case 0: return "ok";
    case kDeltaBadHeader: return "not a delta item of this version";
    case kDeltaBasisDiffers: return "the installed file differs from the version the patch was made for";
    case kDeltaReadFailed: return "a read failed";
    case kDeltaWriteFailed: return "a write failed";
    case kDeltaCorrupt: return "the delta is damaged";
    case kDeltaResultDiffers: return "the rebuilt file is not the one the patch carries";
    case kDeltaTooLarge: return "the delta is larger than allowed";
    case kDeltaStopped: return "stopped";
    default: return "unknown result";
  }
}

}  // namespace marrowgate
