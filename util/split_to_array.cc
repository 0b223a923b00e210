#include "util/split_to_array.h"

#include <cstring>

#include "util/clock.h"
#include "util/field_splitter.h"
#include "util/text.h"
#include "util/values.h"

namespace marrowgate {
namespace {

// Walks the elements; convert(element, text) stores one trimmed element
// and returns false when it refuses it; zero(element) clears a refused one.
template <class Element, class Convert, class Zero>
int Fill(std::string_view input, std::string_view separator, std::span<Element> out,
         Convert convert, Zero zero) {
  FieldSplitter splitter(input, separator);
  size_t filled = 0;
  std::string_view field;
  while (filled < out.size() && splitter.Next(&field)) {
    std::string_view text = TrimView(field);
    if (text.size() > kMaxArrayElementText || !convert(out[filled], text)) {
      zero(out[filled]);
      return kSplitRefused;
    }
    ++filled;
  }
  return static_cast<int>(filled);
}

template <class Integer>
int FillIntegers(std::string_view input, std::string_view separator, std::span<Integer> out) {
  return Fill(
      input, separator, out,
      [](Integer& element, std::string_view text) {
        element = static_cast<Integer>(EvalInt(text));
        return true;
      },
      [](Integer& element) { element = 0; });
}

}  // namespace

int SplitToArray(std::string_view input, std::string_view separator, std::span<TextSlot> out) {
  return Fill(
      input, separator, out,
      [](TextSlot& slot, std::string_view text) {
        if (slot.data == nullptr || text.size() >= slot.capacity) return false;
        std::memcpy(slot.data, text.data(), text.size());
        slot.data[text.size()] = '\0';
        return true;
      },
      [](TextSlot& slot) {
        if (slot.data != nullptr && slot.capacity > 0) slot.data[0] = '\0';
      });
}

int SplitToArray(std::string_view input, std::string_view separator, std::span<std::string> out) {
  return Fill(
      input, separator, out,
      [](std::string& element, std::string_view text) {
        element.assign(text);
        return true;
      },
      [](std::string& element) { element.clear(); });
}

int SplitToArray(std::string_view input, std::string_view separator, std::span<bool> out) {
  return Fill(
      input, separator, out,
      [](bool& element, std::string_view text) {
        element = ParseBool(text);
        return true;
      },
      [](bool& element) { element = false; });
}

int SplitToArray(std::string_view input, std::string_view separator, std::span<int8_t> out) {
  return FillIntegers(input, separator, out);
}
int SplitToArray(std::string_view input, std::string_view separator, std::span<uint8_t> out) {
  return FillIntegers(input, separator, out);
}
int SplitToArray(std::string_view input, std::string_view separator, std::span<int16_t> out) {
  return FillIntegers(input, separator, out);
}
int SplitToArray(std::string_view input, std::string_view separator, std::span<uint16_t> out) {
  return FillIntegers(input, separator, out);
}
int SplitToArray(std::string_view input, std::string_view separator, std::span<int32_t> out) {
  return FillIntegers(input, separator, out);
}
int SplitToArray(std::string_view input, std::string_view separator, std::span<uint32_t> out) {
  return FillIntegers(input, separator, out);
}

int SplitToArray(std::string_view input, std::string_view separator, std::span<int64_t> out) {
  return Fill(
      input, separator, out,
      [](int64_t& element, std::string_view text) {
        element = EvalInt64(text);
        return true;
      },
      [](int64_t& element) { element = 0; });
}

int SplitToArray(std::string_view input, std::string_view separator, std::span<float> out) {
  return Fill(
      input, separator, out,
      [](float& element, std::string_view text) { return TryParseFloat(text, &element); },
      [](float& element) { element = 0.0f; });
}

int SplitToTimeArray(std::string_view input, std::string_view separator,
                     std::span<int32_t> out) {
  return Fill(
      input, separator, out,
      [](int32_t& element, std::string_view text) {
        element = ParseDateTime(text);
        return true;
      },
      [](int32_t& element) { element = 0; });
}

}  // namespace marrowgate
