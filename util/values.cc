#include "util/values.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace marrowgate {
namespace {

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// One operand: leading whitespace, then hexadecimal after "0x" or decimal
// digits, read as an unsigned number that saturates at `limit`.
uint64_t ReadOperand(std::string_view text, uint64_t limit) {
  size_t pos = 0;
  while (pos < text.size() && IsTextSpace(text[pos])) ++pos;
  text.remove_prefix(pos);
  uint64_t value = 0;
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    for (size_t i = 2; i < text.size(); ++i) {
      char c = text[i];
      unsigned digit;
      if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
      else break;
      if (value > (limit - digit) / 16) return limit;
      value = value * 16 + digit;
    }
    return value;
  }
  for (char c : text) {
    if (c < '0' || c > '9') break;
    unsigned digit = static_cast<unsigned>(c - '0');
    if (value > (limit - digit) / 10) return limit;
    value = value * 10 + digit;
  }
  return value;
}

// Folds the factors of one term ("a*b/c") from the left. Unsigned types
// make the wrapping arithmetic well defined.
template <class Signed, class Unsigned>
Signed EvalTerm(std::string_view term, uint64_t hexLimit, uint64_t decimalLimit) {
  auto operand = [&](std::string_view text) {
    size_t pos = 0;
    while (pos < text.size() && IsTextSpace(text[pos])) ++pos;
    bool hex = text.size() >= pos + 2 && text[pos] == '0' &&
               (text[pos + 1] == 'x' || text[pos + 1] == 'X');
    return static_cast<Signed>(
        static_cast<Unsigned>(ReadOperand(text, hex ? hexLimit : decimalLimit)));
  };
  size_t start = 0;
  Signed result = 0;
  char pending = 0;  // operator before the factor being read; 0 for the first
  for (size_t i = 0; i <= term.size(); ++i) {
    if (i < term.size() && term[i] != '*' && term[i] != '/') continue;
    Signed factor = operand(term.substr(start, i - start));
    if (pending == 0) {
      result = factor;
    } else if (pending == '*') {
      result = static_cast<Signed>(static_cast<Unsigned>(result) * static_cast<Unsigned>(factor));
    } else if (factor == 0) {
      result = 0;
    } else if (factor == -1) {
      result = static_cast<Signed>(Unsigned(0) - static_cast<Unsigned>(result));
    } else {
      result = static_cast<Signed>(result / factor);
    }
    if (i < term.size()) pending = term[i];
    start = i + 1;
  }
  return result;
}

template <class Signed, class Unsigned>
bool EvalExpression(std::string_view text, Signed* value, uint64_t hexLimit,
                    uint64_t decimalLimit) {
  *value = 0;
  if (text.size() > kMaxExpressionText) return false;
  size_t start = 0;
  Unsigned result = 0;
  char pending = '+';
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != '+' && text[i] != '-') continue;
    Unsigned term = static_cast<Unsigned>(
        EvalTerm<Signed, Unsigned>(text.substr(start, i - start), hexLimit, decimalLimit));
    result = pending == '+' ? result + term : result - term;
    if (i < text.size()) pending = text[i];
    start = i + 1;
  }
  *value = static_cast<Signed>(result);
  return true;
}

}  // namespace

bool ParseBool(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size() && pos < 64 && IsTextSpace(text[pos])) ++pos;
  text.remove_prefix(pos);
  if (text.empty()) return false;
  if (StartsWithIgnoreCase(text, "true")) return true;
  return text[0] == '1' || text[0] == 'Y' || text[0] == 'y';
}

bool TryEvalInt(std::string_view text, int32_t* value) {
  return EvalExpression<int32_t, uint32_t>(text, value, 0xffffffffu, 0xffffffffu);
}

int32_t EvalInt(std::string_view text) {
  int32_t value;
  TryEvalInt(text, &value);
  return value;
}

bool TryEvalInt64(std::string_view text, int64_t* value) {
  return EvalExpression<int64_t, uint64_t>(
      text, value, std::numeric_limits<uint64_t>::max(),
      static_cast<uint64_t>(std::numeric_limits<int64_t>::max()));
}

int64_t EvalInt64(std::string_view text) {
  int64_t value;
  TryEvalInt64(text, &value);
  return value;
}

bool TryParseFloat(std::string_view text, float* value) {
  *value = 0.0f;
  if (text.size() > kMaxFieldValueText) return false;
  char buffer[kMaxFieldValueText + 1];
  std::memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = '\0';
  *value = static_cast<float>(std::strtod(buffer, nullptr));
  return true;
}

float ParseFloat(std::string_view text) {
  float value;
  TryParseFloat(text, &value);
  return value;
}

}  // namespace marrowgate
