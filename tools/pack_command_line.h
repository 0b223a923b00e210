// The command line of marrowgate-pack: a command, its operands and the
// options --key-a, --key-b, --help and --version.
#ifndef MARROWGATE_TOOLS_PACK_COMMAND_LINE_H_
#define MARROWGATE_TOOLS_PACK_COMMAND_LINE_H_

#include <string>
#include <vector>

namespace marrowgate {

// The patcher's package passwords, used unless --key-a / --key-b say
// otherwise.
inline constexpr char kDefaultKeyA[] = "morvelkatun";
inline constexpr char kDefaultKeyB[] = "pelsowdirak";
// Longest password a package takes.
inline constexpr size_t kMaxPackKeyLength = 128;

struct PackCommandLine {
  bool help = false;
  bool version = false;
  std::string command;              // "create", "add", ...
  std::vector<std::string> operands;
  std::string keyA = kDefaultKeyA;
  std::string keyB = kDefaultKeyB;  // empty: no key B
};

// Parses argv[1..]. Returns an empty text on success, otherwise what is
// wrong with the command line (the caller prints it with the usage and
// exits with status 2). "--" ends the options.
std::string ParsePackCommandLine(const std::vector<std::string>& args, PackCommandLine* out);

// The usage text printed by --help.
const char* PackUsageText();

}  // namespace marrowgate

#endif  // MARROWGATE_TOOLS_PACK_COMMAND_LINE_H_
