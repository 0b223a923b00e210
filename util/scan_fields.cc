#include "util/scan_fields.h"

#include <cstring>

#include "platform/env.h"
#include "util/clock.h"
#include "util/field_splitter.h"
#include "util/text.h"
#include "util/values.h"

namespace marrowgate {
namespace {

using Kind = ScanTarget::Kind;

bool KnownLetter(char letter) { return std::strchr("sabdoyIft*", letter) != nullptr && letter; }

bool Accepts(char letter, Kind kind) {
  switch (letter) {
    case 's':
    case 'a': return kind == Kind::kCharBuffer || kind == Kind::kString;
    case 'b': return kind == Kind::kBool;
    case 'd': return kind == Kind::kInt32;
    case 'o': return kind == Kind::kInt16;
    case 'y': return kind == Kind::kInt8;
    case 'I': return kind == Kind::kInt64;
    case 'f': return kind == Kind::kFloat;
    case 't': return kind == Kind::kTime;
  }
  return false;
}

void StoreZero(const ScanTarget& target) {
  switch (target.kind()) {
    case Kind::kCharBuffer: static_cast<char*>(target.pointer())[0] = '\0'; break;
    case Kind::kString: static_cast<std::string*>(target.pointer())->clear(); break;
    case Kind::kBool: *static_cast<bool*>(target.pointer()) = false; break;
    case Kind::kInt8: *static_cast<uint8_t*>(target.pointer()) = 0; break;
    case Kind::kInt16: *static_cast<uint16_t*>(target.pointer()) = 0; break;
    case Kind::kInt32:
    case Kind::kTime: *static_cast<uint32_t*>(target.pointer()) = 0; break;
    case Kind::kInt64: *static_cast<uint64_t*>(target.pointer()) = 0; break;
    case Kind::kFloat: *static_cast<float*>(target.pointer()) = 0.0f; break;
    case Kind::kNull: break;
  }
}

// Converts the trimmed `text` into `target` (whose kind the letter
// accepts). False when the text is refused.
bool Store(const ScanTarget& target, std::string_view text) {
  void* out = target.pointer();
  switch (target.kind()) {
    case Kind::kCharBuffer:
      if (text.size() >= target.capacity()) return false;
      std::memcpy(out, text.data(), text.size());
      static_cast<char*>(out)[text.size()] = '\0';
      return true;
    case Kind::kString:
      static_cast<std::string*>(out)->assign(text);
      return true;
    default:
      break;
  }
  if (text.size() > kMaxFieldValueText) return false;
  switch (target.kind()) {
    case Kind::kBool: *static_cast<bool*>(out) = ParseBool(text); break;
    case Kind::kInt8: *static_cast<uint8_t*>(out) = static_cast<uint8_t>(EvalInt(text)); break;
    case Kind::kInt16: *static_cast<uint16_t*>(out) = static_cast<uint16_t>(EvalInt(text)); break;
    case Kind::kInt32: *static_cast<int32_t*>(out) = EvalInt(text); break;
    case Kind::kInt64: *static_cast<int64_t*>(out) = EvalInt64(text); break;
    case Kind::kFloat: *static_cast<float*>(out) = ParseFloat(text); break;
    case Kind::kTime: *static_cast<int32_t*>(out) = ParseDateTime(text); break;
    default: return false;
  }
  return true;
}

}  // namespace

int ScanFieldListAt(size_t* cursor, std::string_view format, std::string_view input,
                    std::string_view separator, std::span<const ScanTarget> targets) {
  FieldSplitter splitter(input, separator, cursor != nullptr ? *cursor : 0);
  int used = 0;
  size_t nextTarget = 0;
  for (char letter : format) {
    if (!KnownLetter(letter)) break;
    const ScanTarget* target = nullptr;
    if (letter != '*') {
      if (nextTarget >= targets.size() || targets[nextTarget].kind() == Kind::kNull) break;
      target = &targets[nextTarget];
      if (!Accepts(letter, target->kind())) {
        platform::DebugOutput("marrowgate,ScanFields: a field letter got a target of another kind\n");
        return kScanWrongTarget;
      }
    }
    std::string_view field;
    if (!splitter.Next(&field)) break;
    if (letter == 'a') field = splitter.TakeRest();
    if (target != nullptr) {
      ++nextTarget;
      if (!Store(*target, TrimView(field))) {
        StoreZero(*target);
        return kScanRefused;
      }
    }
    ++used;
    if (cursor != nullptr) *cursor = splitter.position();
    if (letter == 'a') break;
  }
  return used;
}

int ScanFieldList(std::string_view format, std::string_view input, std::string_view separator,
                  std::span<const ScanTarget> targets) {
  return ScanFieldListAt(nullptr, format, input, separator, targets);
}

}  // namespace marrowgate
