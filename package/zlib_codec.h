// ZlibCodec: the zlib-format (RFC 1950) compressor and decompressor of
// sealed streams, deflate level 6 with a 2^15-byte window.
//
// For both directions *destinationLength is the destination's capacity on
// entry and the produced length on return. A null source yields length 0
// and result 0. Results: 0, or a negative code:
//   -11 other error, -12 not implemented, -13 invalid argument,
//   -14 cannot flush, -15 data integrity check failed,
//   -16 invalid data format, -100 anything else.
#ifndef MARROWGATE_PACKAGE_ZLIB_CODEC_H_
#define MARROWGATE_PACKAGE_ZLIB_CODEC_H_

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

// A new codec; the caller releases it.
ZlibCodec* CreateZlibCodec();

}  // namespace marrowgate

#endif  // MARROWGATE_PACKAGE_ZLIB_CODEC_H_
