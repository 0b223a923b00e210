// ZlibCodec: the zlib-format (RFC 1950) compressor and decompressor of
// sealed streams, deflate level 6 with a 2^15-byte window.
//
// For both directions *destinationLength is the destination's capacity on
// entry and the produced length on return. When the output is longer than
// the capacity, the destination holds the first `capacity` bytes of a valid
// output and *destinationLength is the capacity, so a caller tells "did not
// fit" from "fitted exactly" by offering one byte more than it expects.
// A null source yields length 0 and result 0. Results: 0, or a negative code:
//   -11 other error, -12 not implemented, -13 invalid argument,
//   -14 cannot flush, -15 data integrity check failed,
//   -16 invalid data format, -100 anything else.
//
// CreateZlibCodec() gives the fast whole-buffer engine; streams it writes
// may differ in their bytes from the reference engine's but each inflates
// with the other. CreateReferenceZlibCodec() gives the slower streaming
// engine that earlier versions used throughout; the fast engine falls back
// to it for damaged input, so both report the same codes.
#ifndef MARROWGATE_PACKAGE_SEAL_ZLIB_CODEC_H_
#define MARROWGATE_PACKAGE_SEAL_ZLIB_CODEC_H_

#include <cstddef>
#include <cstdint>

namespace marrowgate {

class ZlibCodec {
 public:
  ZlibCodec() = default;
  ZlibCodec(const ZlibCodec&) = delete;
  ZlibCodec& operator=(const ZlibCodec&) = delete;

  virtual int Compress(const void* source, int32_t sourceLength, void* destination,
                       int32_t* destinationLength);
  virtual int Decompress(const void* source, int32_t sourceLength, void* destination,
                         int32_t* destinationLength);
  virtual void Release() { delete this; }

 protected:
  virtual ~ZlibCodec() = default;
};

// Segment size of the fast engine's uncompressible-data detection.
inline constexpr size_t kJudgedSegment = 64 * 1024;

// The fast engine's detection applied to `length` bytes: true when no
// kJudgedSegment-sized segment of them (counted from their start) shrinks
// enough to be worth deflating. For input of at least 8 KiB, the fast
// engine writes stored blocks exactly when this holds for all of it, so
// judging a long input piece by piece (pieces of whole segments) gives the
// same answer as judging it whole.
bool NoSegmentShrinks(const void* data, size_t length);

// A new codec; the caller releases it.
ZlibCodec* CreateZlibCodec();

// A new codec over the reference streaming engine; the caller releases it.
ZlibCodec* CreateReferenceZlibCodec();

}  // namespace marrowgate

#endif  // MARROWGATE_PACKAGE_SEAL_ZLIB_CODEC_H_
