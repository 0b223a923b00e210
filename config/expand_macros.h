// ExpandMacros: one pass over a line that reports its "$(" NAME ")"
// references.
//
// The sink receives, in order, literal runs, macro names and the end. A "$"
// ends the current literal run; "$(" starts a name that runs to the next
// ")"; a "$" followed by any other character starts a new literal run that
// includes the "$"; a "$" at the very end is passed as the literal "$".
#ifndef MARROWGATE_CONFIG_EXPAND_MACROS_H_
#define MARROWGATE_CONFIG_EXPAND_MACROS_H_

#include <string_view>

namespace marrowgate {

class MacroSink {
 public:
  virtual ~MacroSink() = default;
  // Each returns false to stop the expansion with a failure.
  virtual bool Literal(std::string_view text) = 0;
  virtual bool Name(std::string_view name) = 0;
  virtual bool End() = 0;
};

// False when a "$(" has no ")" or the sink failed.
bool ExpandMacros(std::string_view line, MacroSink& sink);

}  // namespace marrowgate

#endif  // MARROWGATE_CONFIG_EXPAND_MACROS_H_
