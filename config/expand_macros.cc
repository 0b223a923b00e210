#include "config/expand_macros.h"

namespace marrowgate {

bool ExpandMacros(std::string_view line, MacroSink& sink) {
  size_t runStart = 0;
  size_t pos = 0;
  while (pos < line.size()) {
    if (line[pos] != '$') {
      ++pos;
      continue;
    }
    if (pos > runStart && !sink.Literal(line.substr(runStart, pos - runStart))) return false;
    if (pos + 1 == line.size()) {
      if (!sink.Literal("$")) return false;
      runStart = pos = line.size();
      break;
    }
    if (line[pos + 1] == '(') {
      size_t close = line.find(')', pos + 2);
      if (close == std::string_view::npos) return false;
      if (!sink.Name(line.substr(pos + 2, close - pos - 2))) return false;
      pos = runStart = close + 1;
      continue;
    }
    runStart = pos;  // the "$" begins the next literal run
    ++pos;
  }
  if (runStart < line.size() && !sink.Literal(line.substr(runStart))) return false;
  return sink.End();
}

}  // namespace marrowgate
