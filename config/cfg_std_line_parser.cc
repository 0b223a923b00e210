#include "config/cfg_std_line_parser.h"

#include "config/expand_macros.h"
#include "util/scan_fields.h"

namespace marrowgate {
namespace {

// Appends literal runs and macro values to the output, refusing an
// undefined name or an output beyond the line limit.
class ExpansionSink : public MacroSink {
 public:
  ExpansionSink(const CfgStdLineParser& parser, std::string* out) : parser_(parser), out_(out) {}

  bool Literal(std::string_view text) override { return Append(text); }
  bool Name(std::string_view name) override {
    const std::string* value = parser_.FindMacro(name);
    return value != nullptr && Append(*value);
  }
  bool End() override { return true; }

 private:
  bool Append(std::string_view text) {
    if (text.size() > CfgStdLineParser::kMaxLineText - out_->size()) return false;
    out_->append(text);
    return true;
  }

  const CfgStdLineParser& parser_;
  std::string* out_;
};

}  // namespace

CfgStdLineParser::CfgStdLineParser() {
  conditions_.reserve(16);
  DefineMacro("WIN32", "");
}

void CfgStdLineParser::Reset() {
  pendingName_.clear();
  conditions_.clear();
}

const std::string* CfgStdLineParser::FindMacro(std::string_view name) const {
  auto it = macros_.find(name);
  return it == macros_.end() ? nullptr : &it->second;
}

void CfgStdLineParser::DefineMacro(std::string_view name, std::string_view value) {
  auto it = macros_.find(name);
  if (it == macros_.end()) macros_.emplace(std::string(name), std::string(value));
  else it->second.assign(value);
}

bool CfgStdLineParser::ExpandLine(std::string_view line, std::string* out) const {
  out->clear();
  if (line.size() > kMaxLineText) return false;
  ExpansionSink sink(*this, out);
  return ExpandMacros(line, sink);
}

bool CfgStdLineParser::EvaluateCondition(std::string_view rest, bool wantDefined,
                                         bool* holds) const {
  char word[kMaxConditionName + 1];
  size_t cursor = 0;
  int used = ScanFieldsAt(&cursor, "s", rest, "", word);
  const std::string_view op = used == 1 ? std::string_view(word) : std::string_view();
  if (op != "&&" && op != "||") {
    // One name: the whole rest of the line, spaces included.
    *holds = (FindMacro(rest) != nullptr) == wantDefined;
    return true;
  }
  // "&&": every name must match (true with none); "||": at least one must
  // (false with none). Reading stops at the first name that decides.
  const bool all = op == "&&";
  for (;;) {
    used = ScanFieldsAt(&cursor, "s", rest, "", word);
    if (used < 0) return false;
    if (used == 0) break;
    const bool matches = (FindMacro(word) != nullptr) == wantDefined;
    if (all && !matches) {
      *holds = false;
      return true;
    }
    if (!all && matches) {
      *holds = true;
      return true;
    }
  }
  *holds = all;
  return true;
}

LineKind CfgStdLineParser::Classify(std::string_view line) {
  errorCode_ = -11;
  name_.clear();
  value_.clear();
  if (line.size() > kMaxLineText) return Error(-11);

  // First word into the value buffer, the trimmed rest into the name buffer.
  if (ScanFields("sa", line, "", &value_, &name_) < 0) return Error(-11);
  const std::string_view first = value_;
  const std::string_view rest = name_;
  if (first.empty()) return LK_TEXT;
  if (first.starts_with("//")) return LK_COMMENT;

  if (first == "#else") {
    if (conditions_.empty()) return Error(-11);
    int32_t& top = conditions_.back();
    if (top == kActive) top = kInactive;
    else if (top == kInactive) top = kActive;
    return LK_ELSE;
  }
  if (first == "#endif") {
    if (!conditions_.empty()) conditions_.pop_back();
    return LK_ENDIF;
  }
  const bool ifdef = first == "#ifdef";
  if (ifdef || first == "#ifndef") {
    int32_t state = kDead;
    if (!Skipping()) {
      bool holds = false;
      if (!EvaluateCondition(rest, ifdef, &holds)) return Error(-1);
      state = holds ? kActive : kInactive;
    }
    conditions_.push_back(state);
    return ifdef ? LK_IFDEF : LK_IFNDEF;
  }
  if (Skipping()) return LK_SKIPPED;

  std::string expanded;
  if (!ExpandLine(line, &expanded)) return Error(-11);
  size_t comment = expanded.find("//");
  if (comment != std::string::npos) expanded.resize(comment);

  if (first == "#include") return LK_INCLUDE;  // the unexpanded rest stays in name_
  if (first == "#define") {
    name_.clear();
    value_.clear();
    if (ScanFields("*sa", expanded, "", &name_, &value_) < 0 || name_.empty()) return Error(-11);
    DefineMacro(name_, value_);
    return LK_DEFINE;
  }
  if (expanded.find('=') != std::string::npos) {
    name_.clear();
    value_.clear();
    if (ScanFields("sa", expanded, "=", &name_, &value_) < 0) return Error(-11);
    return LK_ASSIGN;
  }
  if (expanded == "{") {
    name_ = pendingName_;
    return LK_OPEN;
  }
  if (expanded == "}") return LK_CLOSE;
  if (!expanded.empty() && (expanded[0] == '{' || expanded[0] == '}')) return Error(-11);
  pendingName_ = expanded;
  return LK_TEXT;
}

}  // namespace marrowgate
