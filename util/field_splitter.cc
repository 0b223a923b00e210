#include "util/field_splitter.h"

#include "util/charset.h"
#include "util/values.h"

namespace marrowgate {

FieldSplitter::FieldSplitter(std::string_view input, std::string_view separator, size_t start)
    : input_(input), separator_(separator) {
  if (separator.empty()) {
    form_ = Form::kWhitespace;
  } else if (separator[0] == '\x01') {
    form_ = Form::kCharacterSet;
    separator_.remove_prefix(1);
  } else {
    form_ = Form::kLiteral;
  }
  end_ = input.size();
  while (end_ > 0 && IsTextSpace(input[end_ - 1])) --end_;
  position_ = start < end_ ? start : end_;
  fieldStart_ = position_;
}

bool FieldSplitter::SeparatorAt(size_t pos) const {
  switch (form_) {
    case Form::kWhitespace:
      return IsTextSpace(input_[pos]);
    case Form::kCharacterSet:
      return separator_.find(input_[pos]) != std::string_view::npos;
    case Form::kLiteral:
      return input_.substr(pos, end_ - pos).starts_with(separator_);
  }
  return false;
}

size_t FieldSplitter::CharacterLength(size_t pos) const {
  if (pos + 1 < end_ && IsDoubleBytePair(input_[pos], input_[pos + 1])) return 2;
  return 1;
}

bool FieldSplitter::Next(std::string_view* field) {
  size_t pos = position_;
  if (form_ == Form::kWhitespace)
    while (pos < end_ && IsTextSpace(input_[pos])) ++pos;
  if (pos >= end_) {
    position_ = end_;
    return false;
  }
  fieldStart_ = pos;
  const size_t separatorLength = form_ == Form::kLiteral ? separator_.size() : 1;
  while (pos < end_) {
    if (SeparatorAt(pos)) {
      *field = input_.substr(fieldStart_, pos - fieldStart_);
      position_ = pos + separatorLength;
      return true;
    }
    pos += CharacterLength(pos);
  }
  *field = input_.substr(fieldStart_, end_ - fieldStart_);
  position_ = end_;
  return true;
}

std::string_view FieldSplitter::TakeRest() {
  position_ = end_;
  return input_.substr(fieldStart_, end_ - fieldStart_);
}

}  // namespace marrowgate
