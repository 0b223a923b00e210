#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "config/cfg_field.h"
#include "util/charset.h"
#include "util/clock.h"
#include "util/scan_fields.h"
#include "util/split_to_array.h"
#include "util/values.h"

namespace marrowgate {
namespace {

int32_t Difference(int32_t high, int32_t low) {
  return static_cast<int32_t>(static_cast<uint32_t>(high) - static_cast<uint32_t>(low));
}
float Difference(float high, float low) { return high - low; }

// From the two values a and b: lowest and span, or the single-value flag
// when they are equal.
template <class Range, class Value>
void StoreRange(Range* range, Value a, Value b) {
  if (a > b) {
    range->lowest = b;
    range->span = Difference(a, b);
    range->single = 0;
  } else if (a < b) {
    range->lowest = a;
    range->span = Difference(b, a);
    range->single = 0;
  } else {
    range->lowest = a;
    range->single = 1;  // the span is left as it was
  }
}

template <class Element>
bool FitsArray(int32_t size, int32_t count) {
  return count > 0 && static_cast<size_t>(size) == static_cast<size_t>(count) * sizeof(Element);
}

template <class Element>
int AssignArray(void* field, int32_t size, int32_t count, std::string_view value) {
  if (!FitsArray<Element>(size, count)) return -1;
  std::span<Element> elements(static_cast<Element*>(field), static_cast<size_t>(count));
  return SplitToArray(value, ",", elements) < 0 ? -1 : 0;
}

int AssignTextArray(void* field, int32_t size, int32_t count, std::string_view value) {
  if (count <= 0 || size <= 0 || size % count != 0) return -1;
  const size_t slotSize = static_cast<size_t>(size / count);
  std::vector<TextSlot> slots(static_cast<size_t>(count));
  for (size_t i = 0; i < slots.size(); ++i)
    slots[i] = TextSlot{static_cast<char*>(field) + i * slotSize, slotSize};
  return SplitToArray(value, ",", std::span(slots)) < 0 ? -1 : 0;
}

int AssignScalar(void* field, int32_t size, int32_t base, std::string_view value,
                 CfgConverter converter) {
  const size_t bytes = static_cast<size_t>(size);
  switch (base) {
    case kCfgBool:
      if (bytes != sizeof(bool)) return -1;
      *static_cast<bool*>(field) = ParseBool(value);
      return 0;
    case kCfgInt8:
    case kCfgInt16:
    case kCfgInt32:
    case kCfgInt: {
      const size_t width = base == kCfgInt8 ? 1 : base == kCfgInt16 ? 2 : 4;
      if (bytes != width) return -1;
      int32_t number;
      const bool accepted = TryEvalInt(value, &number);  // 0 when refused
      if (width == 1) *static_cast<uint8_t*>(field) = static_cast<uint8_t>(number);
      else if (width == 2) *static_cast<uint16_t*>(field) = static_cast<uint16_t>(number);
      else *static_cast<int32_t*>(field) = number;
      return accepted ? 0 : -1;
    }
    case kCfgFloat:
      if (bytes != sizeof(float)) return -1;
      return TryParseFloat(value, static_cast<float*>(field)) ? 0 : -1;
    case kCfgText: {
      if (size < 1) return -1;
      const std::string text(value);
      CopyChars(static_cast<char*>(field), text.c_str(), bytes - 1);
      return 0;
    }
    case kCfgTime:
      if (bytes != sizeof(int32_t)) return -1;
      if (value.size() > kMaxFieldValueText) {
        *static_cast<int32_t*>(field) = 0;
        return -1;
      }
      *static_cast<int32_t*>(field) = ParseDateTime(value);
      return 0;
    case kCfgInt64:
      if (bytes != sizeof(int64_t)) return -1;
      return TryEvalInt64(value, static_cast<int64_t*>(field)) ? 0 : -1;
    case kCfgString:
      if (bytes != sizeof(std::string)) return -1;
      static_cast<std::string*>(field)->assign(value);
      return 0;
    case kCfgCustom:
      if (converter == nullptr) return -1;
      converter(field, value);
      return 0;
    case kCfgIntRange: {
      if (bytes != sizeof(CfgIntRange)) return -1;
      int32_t a = 0, b = 0;
      if (ScanFields("dd", value, ",", &a, &b) < 0) return -1;
      StoreRange(static_cast<CfgIntRange*>(field), a, b);
      return 0;
    }
    case kCfgFloatRange: {
      if (bytes != sizeof(CfgFloatRange)) return -1;
      float a = 0, b = 0;
      if (ScanFields("ff", value, ",", &a, &b) < 0) return -1;
      StoreRange(static_cast<CfgFloatRange*>(field), a, b);
      return 0;
    }
    default:
      return -1;
  }
}

}  // namespace

int AssignValue(void* field, int32_t size, int32_t type, int32_t count, std::string_view value,
                CfgConverter converter) {
  const int32_t base = type & 0xff;
  if (base == kCfgIgnored) return 0;
  if (field == nullptr) return -1;
  if ((type & kCfgArray) == 0) return AssignScalar(field, size, base, value, converter);
  switch (base) {
    case kCfgBool: return AssignArray<bool>(field, size, count, value);
    case kCfgInt8: return AssignArray<uint8_t>(field, size, count, value);
    case kCfgInt16: return AssignArray<uint16_t>(field, size, count, value);
    case kCfgInt32:
    case kCfgInt: return AssignArray<int32_t>(field, size, count, value);
    case kCfgFloat: return AssignArray<float>(field, size, count, value);
    case kCfgText: return AssignTextArray(field, size, count, value);
    case kCfgTime: {
      if (!FitsArray<int32_t>(size, count)) return -1;
      std::span<int32_t> times(static_cast<int32_t*>(field), static_cast<size_t>(count));
      return SplitToTimeArray(value, ",", times) < 0 ? -1 : 0;
    }
    case kCfgInt64: return AssignArray<int64_t>(field, size, count, value);
    case kCfgString: return AssignArray<std::string>(field, size, count, value);
    default: return -1;
  }
}

}  // namespace marrowgate
