// The launcher protocol's records: what the patcher sends a launching
// program, byte for byte.
//
// Address: the local socket name "marrowgate-launcher-" followed by the 32
// lower-case hex digits of the MD5 of the launcher's title bytes.
//
// Record (one packet, little-endian, no padding):
//   int32  tag     -16 a message, -15 progress
//   int32  value   the parent code of a message, or the progress value
//   uint32 length  bytes of text that follow
//   bytes  text    without terminator (empty for progress)
// The listener answers every record with one packet holding an int32
// (little-endian), which the sender takes as the record's result.
#ifndef MARROWGATE_APP_PARENT_RECORD_H_
#define MARROWGATE_APP_PARENT_RECORD_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace marrowgate {

inline constexpr char kLauncherAddressPrefix[] = "marrowgate-launcher-";

constexpr int32_t kParentTagMessage = -16;
constexpr int32_t kParentTagProgress = -15;
constexpr size_t kParentRecordHeader = 12;

struct ParentRecord {
  int32_t tag = 0;
  int32_t value = 0;
  std::string text;
};

// The socket name of the launcher titled `title`.
std::string LauncherAddress(std::string_view title);

std::string EncodeParentRecord(int32_t tag, int32_t value, std::string_view text);
// False when `packet` is shorter than the header or its length field does
// not match the bytes that follow.
bool DecodeParentRecord(std::string_view packet, ParentRecord* record);

std::string EncodeParentAnswer(int32_t answer);
// False unless `packet` is exactly 4 bytes.
bool DecodeParentAnswer(std::string_view packet, int32_t* answer);

}  // namespace marrowgate

#endif  // MARROWGATE_APP_PARENT_RECORD_H_
