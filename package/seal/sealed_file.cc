#include "package/seal/sealed_file.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "util/clock.h"
#include "util/md5.h"

namespace marrowgate {

namespace {

constexpr size_t kMaxContent = static_cast<size_t>(std::numeric_limits<int32_t>::max());

uint32_t Now() { return static_cast<uint32_t>(LibClockNow()); }

}  // namespace

SealParams SealParamsWithCodecs(const SealParams& codecs, int mode, VirtualFile* file) {
  SealParams params;
  params.mode = mode;
  params.file = file;
  CopyCodecs(codecs, &params);
  return params;
}

int ReadSealHeader(VirtualFile* file, SealHeader* header) {
  uint8_t bytes[kSealHeaderSize];
  if (file->Seek(0, 0) < 0 || !file->ReadExactly(bytes, sizeof(bytes))) return kSealShortHeader;
  return DecodeSealHeader(bytes, header) ? 0 : kSealBadHeader;
}

SealedFile::~SealedFile() {
  if (opened_ && dirty_) {
    const int code = Seal();
    if (code < 0 && params_.sealFailed) params_.sealFailed(code);
  }
  if (params_.ownFile && params_.file != nullptr) params_.file->Release();
}

CipherObject* SealedFile::CipherFor(uint8_t flags, bool enciphering) const {
  if (flags & kSealCipherB) return enciphering ? params_.cipherBEnc : params_.cipherBDec;
  return enciphering ? params_.cipherAEnc : params_.cipherADec;
}

int SealedFile::Open(const SealParams& params) {
  params_ = params;
  if (!IsValidOpenMode(params.mode) || params.file == nullptr) return kSealBadMode;
  position_ = 0;
  dirty_ = false;
  checkPending_ = false;
  damaged_ = false;
  content_.clear();
  try {
    switch (params.mode) {
      case kOpenCreate: {
        header_ = SealHeader();
        if (params.compressor != nullptr) header_.flags |= kSealCompressed;
        if (params.cipherAEnc != nullptr) header_.flags |= kSealEnciphered;
        // Cipher B alone still enciphers: bit 2 means nothing without bit 1,
        // and the content must not be stored in the clear.
        if (params.cipherBEnc != nullptr) header_.flags |= kSealEnciphered | kSealCipherB;
        sealFlags_ = header_.flags;
        header_.time = Now();
        if (params.reserve > 0) content_.reserve(static_cast<size_t>(params.reserve));
        dirty_ = true;
        break;
      }
      case kOpenRaw: {
        // Reads pass through to the underlying file: nothing is held here,
        // whatever the item's size.
        header_ = SealHeader();
        if (params.file->Seek(0, 0) < 0) return kSealShortHeader;
        break;
      }
      default: {
        const int code = Unseal();
        if (code < 0) {
          content_.clear();
          return code;
        }
        sealFlags_ = header_.flags;
        if (params.compressor != nullptr) sealFlags_ |= kSealCompressed;
        checkPending_ = true;
        break;
      }
    }
  } catch (const std::bad_alloc&) {
    content_.clear();
    return kSealShortContent;
  }
  opened_ = true;
  return 0;
}

int SealedFile::Unseal() {
  VirtualFile* file = params_.file;
  const int headerCode = ReadSealHeader(file, &header_);
  if (headerCode < 0) return headerCode;

  // Read: the stored bytes must be in the file before a buffer is sized
  // from the header.
  const int64_t fileSize = file->Size();
  if (fileSize < kSealHeaderSize ||
      static_cast<uint64_t>(header_.storedSize) > static_cast<uint64_t>(fileSize - kSealHeaderSize))
    return kSealShortContent;
  std::vector<uint8_t> stored(header_.storedSize);
  if (!stored.empty() && !file->ReadExactly(stored.data(), stored.size())) return kSealShortContent;

  // Decipher.
  if (header_.flags & kSealEnciphered) {
    CipherObject* cipher = CipherFor(header_.flags, false);
    if (cipher == nullptr) return kSealNoCipher;
    cipher->ResetChain();
    if (!stored.empty() &&
        cipher->Decrypt(stored.data(), static_cast<int32_t>(stored.size()), stored.data()) < 0)
      return kSealDecipherFailed;
  }

  // Sizes, and inflation.
  if ((header_.flags & kSealCompressed) == 0) {
    if (header_.storedSize != header_.plainSize) return kSealStoredSizeMismatch;
    content_ = std::move(stored);
    return 0;
  }
  if (params_.compressor == nullptr) return kSealNoCodec;
  if (static_cast<uint64_t>(header_.plainSize) > kMaxInflateRatio * header_.storedSize ||
      header_.plainSize > kMaxContent)
    return kSealWrongPlainSize;
  return Inflate(stored);
}

// The decompressor takes a fixed capacity and stops once its output does
// not fit. A plain size up to 16 MiB beyond four times the stored size gets
// its exact buffer (plus one byte, which tells a longer stream apart) and a
// single inflation. A larger claim starts from what the stored size
// suggests and doubles (inflating again) while the output comes out full,
// so a stream that claims far more than it holds costs only what it really
// inflates to (and 16 MiB at most beyond it).
int SealedFile::Inflate(const std::vector<uint8_t>& stored) {
  constexpr size_t kFirstCapacity = size_t{1} << 16;
  // A claim within this much of the stored size is taken at its word: one
  // buffer of the exact size, one inflation.
  constexpr size_t kTrustedClaim = size_t{16} << 20;
  const size_t limit = static_cast<size_t>(header_.plainSize) + 1;
  size_t capacity = limit <= stored.size() * 4 + kTrustedClaim
                        ? limit
                        : std::min(limit, std::max(kFirstCapacity, stored.size() * 4));
  for (;;) {
    content_.clear();
    content_.shrink_to_fit();
    content_.resize(capacity);
    int32_t produced = static_cast<int32_t>(capacity);
    const int code = params_.compressor->Decompress(
        stored.data(), static_cast<int32_t>(stored.size()), content_.data(), &produced);
    if (code < 0) return code + kSealInflateOffset;
    if (produced < 0 || static_cast<size_t>(produced) > capacity) return kSealWrongPlainSize;
    if (static_cast<size_t>(produced) == capacity && capacity < limit) {
      capacity = capacity > limit / 2 ? limit : capacity * 2;
      continue;
    }
    if (static_cast<uint32_t>(produced) != header_.plainSize) return kSealWrongPlainSize;
    content_.resize(header_.plainSize);
    content_.shrink_to_fit();
    return 0;
  }
}

int32_t SealedFile::CheckDigest() {
  if (damaged_) return kSealDigestMismatch;
  if (!checkPending_) return 0;
  uint8_t computed[16];
  Md5Digest(content_.data(), content_.size(), computed);
  checkPending_ = false;
  if (std::memcmp(computed, header_.digest, 16) != 0) {
    damaged_ = true;
    return kSealDigestMismatch;
  }
  return 0;
}

int SealedFile::Seal() {
  if (!opened_ || !dirty_) return 0;
  VirtualFile* file = params_.file;
  SealHeader header = header_;
  header.flags = sealFlags_;
  const uint64_t units = static_cast<uint64_t>(content_.size()) * 3;
  auto told = [&](uint64_t done) {
    if (sealProgress_) sealProgress_(done, units);
  };
  {
    // In slices, so that a large content is seen moving.
    Md5 md5;
    Md5Init(&md5);
    for (size_t at = 0; at < content_.size(); at += kSealProgressSlice) {
      const size_t slice = std::min(kSealProgressSlice, content_.size() - at);
      Md5Update(&md5, content_.data() + at, slice);
      told(at + slice);
    }
    Md5Final(&md5, header.digest);
  }
  header.plainSize = static_cast<uint32_t>(content_.size());

  // The stored form, when it is not the plain content itself. Its buffer
  // is left uninitialised: memory the compressor does not fill is never
  // touched, so a well-compressing item costs little beyond its content.
  std::unique_ptr<uint8_t[]> stored;
  size_t storedLength = 0;
  if ((header.flags & kSealCompressed) != 0 && params_.compressor == nullptr)
    header.flags &= static_cast<uint8_t>(~kSealCompressed);
  if (header.flags & kSealCompressed) {
    stored.reset(new (std::nothrow) uint8_t[std::max<size_t>(content_.size(), 1)]);
    if (!stored) return kSealOutOfMemory;
    // Output as large as the input is of no use: it would be stored plain.
    int32_t produced = static_cast<int32_t>(content_.size());
    const int code = params_.compressor->Compress(
        content_.data(), static_cast<int32_t>(content_.size()), stored.get(), &produced);
    if (code < 0) return code - 1500;
    if (static_cast<size_t>(produced) < content_.size()) {
      storedLength = static_cast<size_t>(produced);
    } else {
      stored.reset();
      header.flags &= static_cast<uint8_t>(~kSealCompressed);
    }
  }
  if (header.flags & kSealEnciphered) {
    CipherObject* cipher = CipherFor(header.flags, true);
    if (cipher == nullptr) return -2;
    if (!stored) {
      stored.reset(new (std::nothrow) uint8_t[std::max<size_t>(content_.size(), 1)]);
      if (!stored) return -1;
      storedLength = content_.size();
      if (storedLength > 0) std::memcpy(stored.get(), content_.data(), storedLength);
    }
    cipher->ResetChain();
    if (storedLength > 0 &&
        cipher->Encrypt(stored.get(), static_cast<int32_t>(storedLength), stored.get()) < 0)
      return -1;
  }
  const uint8_t* bytes = stored ? stored.get() : content_.data();
  const size_t length = stored ? storedLength : content_.size();
  header.storedSize = static_cast<uint32_t>(length);
  told(units / 3 * 2);

  uint8_t headerBytes[kSealHeaderSize];
  EncodeSealHeader(header, headerBytes);
  if (file->Seek(0, 0) < 0) return -10;
  if (!file->WriteExactly(headerBytes, sizeof(headerBytes))) return -11;
  for (size_t at = 0; at < length; at += kSealProgressSlice) {
    const size_t slice = std::min(kSealProgressSlice, length - at);
    if (!file->WriteExactly(bytes + at, slice)) return -12;
    told(units / 3 * 2 + (length == 0 ? 0 : (at + slice) * (units / 3) / length));
  }
  told(units);
  header_ = header;
  dirty_ = false;
  return 0;
}

int SealedFile::SealFrom(const PlainSource& source, uint64_t expectedSize) {
  if (!opened_ || (params_.mode != kOpenCreate && params_.mode != kOpenUpdate)) return -1;
  StreamSealJob job;
  job.file = params_.file;
  job.header = header_;
  job.header.flags = sealFlags_;
  if (params_.compressor == nullptr) job.header.flags &= static_cast<uint8_t>(~kSealCompressed);
  job.compress = (job.header.flags & kSealCompressed) != 0;
  if (job.header.flags & kSealEnciphered) {
    job.cipher = CipherFor(job.header.flags, true);
    if (job.cipher == nullptr) return -2;
  }
  job.expectedSize = expectedSize;
  job.progress = sealProgress_;
  SealHeader sealed;
  const int code = SealFromSource(job, source, &sealed);
  if (code < 0) return code;
  header_ = sealed;
  content_.clear();
  content_.shrink_to_fit();
  position_ = 0;
  dirty_ = false;
  checkPending_ = false;
  return 0;
}

void SealedFile::Detach() {
  dirty_ = false;
  params_.mode = kOpenRead;
  params_.compressor = nullptr;
  params_.cipherAEnc = params_.cipherADec = params_.cipherBEnc = params_.cipherBDec = nullptr;
  params_.sealFailed = nullptr;
}

int32_t SealedFile::SetTime(int32_t seconds) {
  header_.time = seconds == 0 ? Now() : static_cast<uint32_t>(seconds);
  return 0;
}

int32_t SealedFile::Size() {
  if (IsRaw()) return params_.file->Size();
  return static_cast<int32_t>(content_.size());
}

bool SealedFile::AtEnd() { return IsRaw() ? params_.file->AtEnd() : position_ >= content_.size(); }

int64_t SealedFile::Tell() {
  return IsRaw() ? params_.file->Tell() : static_cast<int64_t>(position_);
}

int32_t SealedFile::Read(void* buffer, int32_t n) {
  if (n < 0 || (buffer == nullptr && n > 0)) return -1;
  if (IsRaw()) return params_.file->Read(buffer, n);
  const size_t left = position_ < content_.size() ? content_.size() - position_ : 0;
  const size_t count = std::min(static_cast<size_t>(n), left);
  if (count == left) {
    const int32_t check = CheckDigest();
    if (check < 0) return check;
  }
  if (count == 0) return 0;
  if (count > 0) std::memcpy(buffer, content_.data() + position_, count);
  position_ += count;
  return static_cast<int32_t>(count);
}

int32_t SealedFile::Seek(int64_t offset, int origin) {
  if (IsRaw()) {
    // As for a read-only stream: within 0 .. the end.
    const int64_t size = static_cast<uint32_t>(params_.file->Size());
    int64_t base = 0;
    if (origin == 1) base = params_.file->Tell();
    else if (origin == 2) base = size;
    else if (origin != 0) return -1;
    int64_t target = offset > INT64_MAX - base ? INT64_MAX : base + offset;
    target = std::clamp<int64_t>(target, 0, size);
    return params_.file->Seek(target, 0) < 0 ? -1 : 0;
  }
  int64_t base = 0;
  if (origin == 1) base = static_cast<int64_t>(position_);
  else if (origin == 2) base = static_cast<int64_t>(content_.size());
  else if (origin != 0) return -1;
  // base lies in 0 .. 2^31: only a huge positive offset can overflow.
  int64_t target = offset > INT64_MAX - base ? INT64_MAX : base + offset;
  if (target < 0) target = 0;
  if (static_cast<uint64_t>(target) > content_.size()) {
    if (IsReadOnlyMode(params_.mode)) {
      target = static_cast<int64_t>(content_.size());
    } else {
      if (static_cast<uint64_t>(target) > kMaxContent) return -1;
      try {
        content_.resize(static_cast<size_t>(target));
      } catch (const std::bad_alloc&) {
        return -1;
      }
      dirty_ = true;
      checkPending_ = damaged_ = false;
    }
  }
  position_ = static_cast<size_t>(target);
  return 0;
}

int32_t SealedFile::Write(const void* buffer, int32_t n) {
  if (!opened_ || IsReadOnlyMode(params_.mode)) return -1;
  if (n < 0 || (buffer == nullptr && n > 0)) return -1;
  if (n == 0) return 0;
  const size_t end = position_ + static_cast<size_t>(n);
  if (end > kMaxContent) return -1;
  try {
    if (end > content_.size()) content_.resize(end);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  std::memcpy(content_.data() + position_, buffer, static_cast<size_t>(n));
  position_ = end;
  dirty_ = true;
  checkPending_ = damaged_ = false;
  return n;
}

int SealedFile::Reserve(size_t bytes) {
  if (!opened_ || IsReadOnlyMode(params_.mode)) return -1;
  if (bytes > kMaxContent) return -1;
  try {
    content_.reserve(bytes);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  return 0;
}

int32_t SealedFile::Digest(uint8_t digest[16]) {
  if (dirty_) Md5Digest(content_.data(), content_.size(), digest);
  else std::memcpy(digest, header_.digest, 16);
  return 0;
}

}  // namespace marrowgate
