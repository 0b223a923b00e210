#include "app/parent_record.h"

#include "util/md5.h"

namespace marrowgate {
namespace {

void PutUint32(std::string* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

uint32_t GetUint32(std::string_view bytes, size_t at) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) {
    value |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + i])) << (8 * i);
  }
  return value;
}

}  // namespace

std::string LauncherAddress(std::string_view title) {
  uint8_t digest[16];
  Md5Digest(title.data(), title.size(), digest);
  static const char kHex[] = "0123456789abcdef";
  std::string address = kLauncherAddressPrefix;
  for (uint8_t byte : digest) {
    address.push_back(kHex[byte >> 4]);
    address.push_back(kHex[byte & 0x0F]);
  }
  return address;
}

std::string EncodeParentRecord(int32_t tag, int32_t value, std::string_view text) {
  std::string packet;
  packet.reserve(kParentRecordHeader + text.size());
  PutUint32(&packet, static_cast<uint32_t>(tag));
  PutUint32(&packet, static_cast<uint32_t>(value));
  PutUint32(&packet, static_cast<uint32_t>(text.size()));
  packet.append(text);
  return packet;
}

bool DecodeParentRecord(std::string_view packet, ParentRecord* record) {
  if (packet.size() < kParentRecordHeader) return false;
  uint32_t length = GetUint32(packet, 8);
  if (length != packet.size() - kParentRecordHeader) return false;
  record->tag = static_cast<int32_t>(GetUint32(packet, 0));
  record->value = static_cast<int32_t>(GetUint32(packet, 4));
  record->text.assign(packet.substr(kParentRecordHeader));
  return true;
}

std::string EncodeParentAnswer(int32_t answer) {
  std::string packet;
  PutUint32(&packet, static_cast<uint32_t>(answer));
  return packet;
}

bool DecodeParentAnswer(std::string_view packet, int32_t* answer) {
  if (packet.size() != 4) return false;
  *answer = static_cast<int32_t>(GetUint32(packet, 0));
  return true;
}

}  // namespace marrowgate
