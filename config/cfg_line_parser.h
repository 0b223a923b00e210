// CfgLineParser: looks at one line of configuration text at a time and
// answers what kind of line it is (LineKind), leaving the parts the reader
// needs in its buffers.
#ifndef MARROWGATE_CONFIG_CFG_LINE_PARSER_H_
#define MARROWGATE_CONFIG_CFG_LINE_PARSER_H_

#include <string_view>

namespace marrowgate {

enum LineKind : int {
  LK_TEXT = 0,      // blank, or a block-name line (kept as the pending name)
  LK_COMMENT = 1,   // comment line
  LK_DEFINE = 2,    // "#define" done
  LK_INCLUDE = 3,   // "#include"; the file name is in Name()
  LK_IFDEF = 4,     // "#ifdef" done
  LK_IFNDEF = 5,    // "#ifndef" done
  LK_ELSE = 6,      // "#else" done
  LK_ENDIF = 7,     // "#endif" done
  LK_SECTION = 10,  // close the current block and open the one in Name()
  LK_OPEN = 11,     // "{"; the block name is in Name()
  LK_CLOSE = 12,    // "}"
  LK_ASSIGN = 21,   // key = value; key in Name(), value in Value()
  LK_SKIPPED = 31,  // line inside a false conditional
  LK_ERROR = -1,    // malformed line
};

class CfgLineParser {
 public:
  // The operations in their slot order.
  virtual ~CfgLineParser() = default;
  // Starts a fresh text (the standard parser clears the pending name and
  // the condition stack). Default: nothing.
  virtual void Reset() {}
  // Classifies one trimmed line.
  virtual LineKind Classify(std::string_view line) = 0;

  // The buffers of the last Classify (see LineKind).
  virtual const char* Name() const = 0;
  virtual const char* Value() const = 0;
  // The reader's error code for the last LK_ERROR: -11 (a malformed line)
  // unless the parser knows better (-1: a part did not fit its buffer).
  virtual int ErrorCode() const { return -11; }
};

}  // namespace marrowgate

#endif  // MARROWGATE_CONFIG_CFG_LINE_PARSER_H_
