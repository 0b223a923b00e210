// CfgStdLineParser: the standard line parser with its preprocessor
// ("#define", "#include", "#ifdef", "#ifndef", "#else", "#endif" and
// "$(" NAME ")" references), block braces and key = value assignments.
//
// Macros persist across reads and includes (Reset keeps them); "WIN32" is
// defined, empty, from the start. Conditional regions nest without a fixed
// limit and are not tied to files.
//
// Limits: a line (and its expansion) holds at most kMaxLineText bytes; a
// longer line, or an expansion that would grow beyond it, is LK_ERROR. A
// name after "&&" / "||" holds at most kMaxConditionName bytes; a longer one
// is LK_ERROR with ErrorCode() -1.
#ifndef MARROWGATE_CONFIG_CFG_STD_LINE_PARSER_H_
#define MARROWGATE_CONFIG_CFG_STD_LINE_PARSER_H_

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "config/cfg_line_parser.h"

namespace marrowgate {

class CfgStdLineParser : public CfgLineParser {
 public:
  static constexpr size_t kBufferSize = 4096;
  static constexpr size_t kMaxLineText = kBufferSize - 1;
  static constexpr size_t kMaxConditionName = 1023;

  // States of the condition stack.
  static constexpr int32_t kInactive = 0;  // this condition is false
  static constexpr int32_t kActive = 1;    // lines are processed
  static constexpr int32_t kDead = 2;      // an enclosing region is inactive

  CfgStdLineParser();

  void Reset() override;
  LineKind Classify(std::string_view line) override;
  // After LK_OPEN the block name, after LK_ASSIGN the key, after LK_INCLUDE
  // the file name, after LK_DEFINE the macro name; otherwise the rest of the
  // line after its first word.
  const char* Name() const override { return name_.c_str(); }
  // After LK_ASSIGN the value, after LK_DEFINE the macro value; otherwise the
  // first word of the line.
  const char* Value() const override { return value_.c_str(); }
  int ErrorCode() const override { return errorCode_; }

  const char* PendingName() const { return pendingName_.c_str(); }
  // The value of macro `name`, or null when it is not defined.
  const std::string* FindMacro(std::string_view name) const;
  void DefineMacro(std::string_view name, std::string_view value);
  size_t ConditionDepth() const { return conditions_.size(); }

  // Expands the "$(" NAME ")" references of `line` into `out`. False for an
  // undefined name, a "$(" without ")" or a result longer than kMaxLineText.
  bool ExpandLine(std::string_view line, std::string* out) const;

 private:
  bool Skipping() const { return !conditions_.empty() && conditions_.back() != kActive; }
  // Evaluates the condition of "#ifdef" (`wantDefined`) or "#ifndef" on
  // `rest`; false when a name does not fit its buffer.
  bool EvaluateCondition(std::string_view rest, bool wantDefined, bool* holds) const;
  LineKind Error(int code) {
    errorCode_ = code;
    return LK_ERROR;
  }

  std::string name_;
  std::string value_;
  std::string pendingName_;
  std::map<std::string, std::string, std::less<>> macros_;
  std::vector<int32_t> conditions_;
  int errorCode_ = -11;
};

}  // namespace marrowgate

#endif  // MARROWGATE_CONFIG_CFG_STD_LINE_PARSER_H_
