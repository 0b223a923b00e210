// marrowgate-pack, the publisher's package tool: makes, changes, lists,
// extracts and verifies packages, probes files, and appends a package to a
// program. Everything goes through the library: the FileManager mounts the
// package (a package file or a program carrying one), the copy engine moves
// files in and out of it with modification times kept, TailFile appends a
// package to a program.
//
// Files are written safely: `create` and `attach` build their result under
// a temporary name beside it and rename it into place only when everything
// succeeded; `extract` writes nothing outside the named folder.
#ifndef MARROWGATE_TOOLS_PACK_TOOL_H_
#define MARROWGATE_TOOLS_PACK_TOOL_H_

#include <ostream>
#include <string>
#include <vector>

namespace marrowgate {

constexpr int kPackExitOk = 0;
constexpr int kPackExitFailure = 1;
constexpr int kPackExitUsage = 2;

// Runs one command line (argv without the program name). Results go to
// `out`, errors to `err`; `drawProgress` allows a progress bar on `err`.
// Returns the exit status.
int RunPackTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                bool drawProgress);

}  // namespace marrowgate

#endif  // MARROWGATE_TOOLS_PACK_TOOL_H_
