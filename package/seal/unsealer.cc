#include "package/seal/unsealer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include <isa-l/igzip_lib.h>

#include "util/md5.h"

namespace marrowgate {

namespace {

// ZlibCodec's codes for damaged input.
constexpr int kCodecIntegrityFailed = -15;
constexpr int kCodecInvalidData = -16;

int InflaterCode(int isalCode) {
  return kSealInflateOffset +
         (isalCode == ISAL_INCORRECT_CHECKSUM ? kCodecIntegrityFailed : kCodecInvalidData);
}

}  // namespace

struct Unsealer::Inflater {
  inflate_state state;
};

Unsealer::Unsealer() = default;
Unsealer::~Unsealer() = default;

uint8_t* Unsealer::Buffer::Reserve(size_t n) {
  if (n > capacity) {
    bytes.reset();
    capacity = 0;
    bytes.reset(new uint8_t[n]);  // throws std::bad_alloc
    capacity = n;
  }
  return bytes.get();
}

size_t Unsealer::buffer_bytes() const {
  return stored_.capacity + plain_.capacity + (inflater_ ? sizeof(Inflater) : 0);
}

int Unsealer::ReadStored(VirtualFile* file, CipherObject* cipher, uint32_t storedSize,
                         const std::function<int(const uint8_t*, size_t)>& take) {
  // Every piece but the last is a whole number of cipher blocks.
  static_assert(kSliceSize % 8 == 0);
  const bool inPieces = cipher == nullptr || cipher->DecryptsInPieces();
  const size_t slice = inPieces ? std::min<size_t>(kSliceSize, storedSize) : storedSize;
  uint8_t* buffer = stored_.Reserve(slice);
  uint64_t left = storedSize;
  while (left > 0) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(slice, left));
    if (!file->ReadExactly(buffer, n)) return kSealShortContent;
    left -= n;
    if (cipher != nullptr &&
        cipher->DecryptPiece(buffer, static_cast<int32_t>(n), buffer, left == 0) < 0)
      return kSealDecipherFailed;
    const int code = take(buffer, n);
    if (code < 0) return code;
  }
  return 0;
}

int Unsealer::Inflate(VirtualFile* file, CipherObject* cipher, const SealHeader& header, Md5* md5,
                      const UnsealSink& sink) {
  // Not cleared: isal_inflate_init sets what the inflater reads.
  // No stored bytes inflate to nothing, as for the codec.
  if (header.storedSize == 0) return header.plainSize == 0 ? 0 : kSealWrongPlainSize;
  if (!inflater_) inflater_.reset(new Inflater);
  inflate_state& state = inflater_->state;
  isal_inflate_init(&state);
  state.crc_flag = ISAL_ZLIB;  // the zlib wrapper, its Adler-32 checked
  const size_t plainSlice = std::min<size_t>(kSliceSize, static_cast<size_t>(header.plainSize) + 1);
  uint8_t* plain = plain_.Reserve(plainSlice);
  uint64_t produced = 0;
  bool finished = false;
  const int code = ReadStored(file, cipher, header.storedSize, [&](const uint8_t* bytes, size_t n) {
    // Bytes after the end of the deflate stream are not content.
    if (finished) return 0;
    state.next_in = const_cast<uint8_t*>(bytes);
    state.avail_in = static_cast<uint32_t>(n);
    for (;;) {
      const uint32_t inBefore = state.avail_in;
      state.next_out = plain;
      state.avail_out = static_cast<uint32_t>(plainSlice);
      const int rc = isal_inflate(&state);
      if (rc != ISAL_DECOMP_OK) return InflaterCode(rc);
      const size_t got = plainSlice - state.avail_out;
      if (got > 0) {
        produced += got;
        if (produced > header.plainSize) return static_cast<int>(kSealWrongPlainSize);
        Md5Update(md5, plain, got);
        if (!sink(plain, got)) return kUnsealSinkFailed;
      }
      if (state.block_state == ISAL_BLOCK_FINISH) {
        finished = true;
        return 0;
      }
      // Output room left: the inflater took all it could of this slice.
      if (state.avail_out != 0) {
        if (state.avail_in == 0) return 0;
        if (got == 0 && state.avail_in == inBefore) return InflaterCode(ISAL_INVALID_BLOCK);
      }
    }
  });
  if (code < 0) return code;
  if (!finished) return InflaterCode(ISAL_END_INPUT);  // the stream stops short
  return produced == header.plainSize ? 0 : kSealWrongPlainSize;
}

int Unsealer::Unseal(const SealParams& params, const UnsealSink& sink, SealHeader* headerOut) {
  VirtualFile* file = params.file;
  if (file == nullptr) return kSealBadMode;
  SealHeader header;
  const int headerCode = ReadSealHeader(file, &header);
  if (headerCode < 0) return headerCode;
  if (headerOut != nullptr) *headerOut = header;

  // Checks the header alone allows, in the order SealedFile makes them.
  // The file's size is read as unsigned: an item may be up to 4 GiB - 1.
  const uint32_t fileSize = static_cast<uint32_t>(file->Size());
  if (fileSize < kSealHeaderSize || header.storedSize > fileSize - kSealHeaderSize)
    return kSealShortContent;
  CipherObject* cipher = nullptr;
  if (header.flags & kSealEnciphered) {
    cipher = (header.flags & kSealCipherB) ? params.cipherBDec : params.cipherADec;
    if (cipher == nullptr) return kSealNoCipher;
    cipher->ResetChain();
  }
  const bool compressed = (header.flags & kSealCompressed) != 0;
  if (!compressed && header.storedSize != header.plainSize) return kSealStoredSizeMismatch;
  if (compressed && params.compressor == nullptr) return kSealNoCodec;
  if (compressed &&
      static_cast<uint64_t>(header.plainSize) > kMaxInflateRatio * header.storedSize)
    return kSealWrongPlainSize;

  Md5 md5;
  Md5Init(&md5);
  int code = 0;
  try {
    if (!compressed) {
      code = ReadStored(file, cipher, header.storedSize, [&](const uint8_t* bytes, size_t n) {
        Md5Update(&md5, bytes, n);
        return sink(bytes, n) ? 0 : kUnsealSinkFailed;
      });
    } else {
      code = Inflate(file, cipher, header, &md5, sink);
    }
  } catch (const std::bad_alloc&) {
    code = kSealShortContent;
  }
  // A cipher that takes messages only whole made the stored bytes be held
  // whole: let go of them.
  if (stored_.capacity > kSliceSize) stored_ = Buffer();
  if (code < 0) return code;
  uint8_t computed[16];
  Md5Final(&md5, computed);
  return std::memcmp(computed, header.digest, 16) == 0 ? 0 : kSealDigestMismatch;
}

}  // namespace marrowgate
