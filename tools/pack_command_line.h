// The command line of marrowgate-pack: a command, its operands and the
// options. Options may come anywhere before "--"; a long option takes its
// value as the next word or after '=' ("--key-a=TEXT").
#ifndef MARROWGATE_TOOLS_PACK_COMMAND_LINE_H_
#define MARROWGATE_TOOLS_PACK_COMMAND_LINE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace marrowgate {

// The patcher's package passwords, used unless an option or the
// environment says otherwise.
inline constexpr char kDefaultKeyA[] = "morvelkatun";
inline constexpr char kDefaultKeyB[] = "pelsowdirak";
// Longest password a package takes.
inline constexpr size_t kMaxPackKeyLength = 128;
// The environment variables that may hold the passwords.
inline constexpr char kKeyAVariable[] = "MARROWGATE_KEY_A";
inline constexpr char kKeyBVariable[] = "MARROWGATE_KEY_B";

enum class Verbosity { kQuiet, kNormal, kVerbose };
enum class OverwritePolicy { kOverwrite, kNever };

// Smallest changed file for which make-patch tries a delta item.
inline constexpr uint64_t kDefaultDeltaMinSize = 64 * 1024;

struct PackCommandLine {
  bool help = false;
  bool version = false;
  std::string command;  // "create", "add", ... ("test" is read as "verify")
  std::vector<std::string> operands;
  std::optional<std::string> keyA;  // set by --key-a
  std::optional<std::string> keyB;  // set by --key-b ("" for no key B)
  Verbosity verbosity = Verbosity::kNormal;
  bool longList = false;     // list -l
  bool json = false;         // list --json
  OverwritePolicy overwrite = OverwritePolicy::kOverwrite;
  bool strict = false;       // create/add stop at the first problem
  bool skipSpecial = false;  // special files and bad links are no problem
  std::vector<std::string> excludes;  // --exclude PATTERN
  int jobs = 0;  // -j N: worker threads for create/add/attach/extract/
                 // verify (0: one per processor)
  // make-patch
  bool folderOutput = false;             // --folder: the patch folder, no program
  std::optional<std::string> patcher;    // --patcher PROGRAM
  std::optional<std::string> messages;   // --messages FILE
  std::optional<std::string> minVersion; // --min-version V
  std::vector<std::string> holdBack;     // --hold-back NAME
  std::vector<std::string> skipNames;    // --skip NAME
  bool delta = true;                     // --no-delta turns delta items off
  bool withFullFiles = false;            // --with-full-files: the whole file beside each delta
  uint64_t deltaMinSize = kDefaultDeltaMinSize;  // --delta-min-size BYTES
};

// Largest -j value taken.
inline constexpr int kMaxPackJobs = 256;

// Parses argv[1..]. Returns an empty text on success, otherwise one line
// saying what is wrong (the caller prints it with a pointer to --help and
// exits with status 2). "--" ends the options.
std::string ParsePackCommandLine(const std::vector<std::string>& args, PackCommandLine* out);

// Fills the passwords not given as options from the environment
// (`lookup` returns a variable's value or null), then from the patcher's
// defaults. Returns an empty text, or what is wrong with a value.
std::string ResolvePackKeys(PackCommandLine* line, const char* (*lookup)(const char*));

// The usage text printed by --help.
const char* PackUsageText();

}  // namespace marrowgate

#endif  // MARROWGATE_TOOLS_PACK_COMMAND_LINE_H_
