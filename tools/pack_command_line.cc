#include "tools/pack_command_line.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <string>

namespace marrowgate {

namespace {

struct CommandShape {
  const char* name;
  size_t minOperands;
  size_t maxOperands;  // kAny: any number
};

constexpr size_t kAny = static_cast<size_t>(-1);

constexpr CommandShape kCommands[] = {
    {"create", 2, 2},     {"add", 2, 3},    {"remove", 2, kAny}, {"list", 1, 1},
    {"extract", 2, kAny}, {"verify", 1, 1}, {"probe", 1, 1},     {"attach", 3, 3},
    {"make-patch", 3, 3}, {"check", 1, 2},  {"file-list", 1, 1},
};

const CommandShape* FindCommand(const std::string& name) {
  for (const CommandShape& shape : kCommands)
    if (name == shape.name) return &shape;
  return nullptr;
}

std::string CheckKey(const std::string& name, const std::string& value) {
  if (value.size() > kMaxPackKeyLength)
    return name + " is longer than " + std::to_string(kMaxPackKeyLength) + " bytes";
  return std::string();
}

std::string ParseJobs(const std::string& name, const std::string& value, int* jobs) {
  int n = 0;
  bool digits = !value.empty() && value.size() <= 4;
  for (char c : value) {
    if (c < '0' || c > '9') digits = false;
    else n = n * 10 + (c - '0');
  }
  if (!digits || n < 1 || n > kMaxPackJobs)
    return name + " needs a number of workers from 1 to " + std::to_string(kMaxPackJobs);
  *jobs = n;
  return std::string();
}

}  // namespace

const char* PackUsageText() {
  return "usage: marrowgate-pack [options] COMMAND ARGUMENTS\n"
         "\n"
         "commands:\n"
         "  create  PACKAGE FOLDER            new package holding FOLDER's whole tree\n"
         "                                    (replaces PACKAGE)\n"
         "  add     PACKAGE FOLDER [PREFIX]   add or replace FOLDER's files inside PACKAGE\n"
         "                                    (below PREFIX)\n"
         "  remove  PACKAGE PATH...           delete files or folders inside PACKAGE\n"
         "  list    PACKAGE                   one line per entry: kind, plain size, time,\n"
         "                                    stored MD5, path\n"
         "  extract PACKAGE FOLDER [PATTERN...]\n"
         "                                    write the tree (or the entries matching a\n"
         "                                    PATTERN: * ? [...], a folder brings its\n"
         "                                    contents) into FOLDER\n"
         "  verify  PACKAGE                   unseal every item, compare its MD5 with the\n"
         "                                    stored digest, check the block structure\n"
         "  test    PACKAGE                   the same as verify\n"
         "  probe   FILE                      prints \"package\", \"host\" or \"none\"\n"
         "  attach  HOST FOLDER OUTPUT        OUTPUT = a copy of HOST with a package of\n"
         "                                    FOLDER appended\n"
         "  make-patch OLD NEW OUTPUT         a patch program (or with --folder the patch\n"
         "                                    folder) taking install OLD to install NEW\n"
         "  check   [OLD] PATCH               list the problems of a patch folder or\n"
         "                                    program before it ships; with the install\n"
         "                                    OLD, rebuild every delta item from it\n"
         "  file-list FOLDER                  write FOLDER/update/localfilelist.txt for a\n"
         "                                    fresh install\n"
         "  help                              show this text\n"
         "\n"
         "PACKAGE may be a package file or a program carrying one.\n"
         "\n"
         "options:\n"
         "  --key-a TEXT       first package password (default: $MARROWGATE_KEY_A,\n"
         "                     else the patcher's)\n"
         "  --key-b TEXT       second package password (default: $MARROWGATE_KEY_B,\n"
         "                     else the patcher's; \"\" for none)\n"
         "  -q, --quiet        print errors only\n"
         "  -v, --verbose      name every file as it is handled\n"
         "  -l, --long         list: sizes for people and a total line\n"
         "  --json             list: one JSON document\n"
         "  -n, --no-overwrite extract: keep files that already exist\n"
         "  -o, --overwrite    extract: replace existing files (the default)\n"
         "  --exclude PATTERN  create/add: leave out names or paths matching PATTERN\n"
         "                     (may be repeated)\n"
         "  --skip-special     create/add: FIFOs, sockets, devices and broken or\n"
         "                     looping links are skipped without failing\n"
         "  --strict           create/add: stop, writing nothing, at the first problem\n"
         "  -j, --jobs N       create/add/attach/extract/verify: work on N files at\n"
         "                     once (default: one per processor; packages and\n"
         "                     messages are the same for every N)\n"
         "  --folder           make-patch: write the patch folder, not a program\n"
         "  --patcher PROGRAM  make-patch: the patcher to attach to (default: the\n"
         "                     marrowgate next to this tool)\n"
         "  --messages FILE    make-patch: the numbered messages of cfg.txt\n"
         "                     (default: a built-in English set)\n"
         "  --min-version V    make-patch: lowest client version served (default:\n"
         "                     OLD's installed version)\n"
         "  --hold-back NAME   make-patch: copy NAME after everything else (repeatable)\n"
         "  --skip NAME        make-patch: the patcher never copies NAME (repeatable)\n"
         "  --no-delta         make-patch: carry changed files whole, never as deltas\n"
         "  --delta-min-size N make-patch: smallest changed file (bytes) carried as\n"
         "                     a delta of its old version (default 65536)\n"
         "  --with-full-files  make-patch: carry beside each delta the whole new file,\n"
         "                     installed where the old file is not the delta's\n"
         "  -h, --help         show this text\n"
         "  -V, --version      show the version\n"
         "\n"
         "exit status: 0 success, 1 failure or problems (each named on standard\n"
         "error), 2 bad usage, 128+N ended by signal N\n";
}

std::string ParsePackCommandLine(const std::vector<std::string>& args, PackCommandLine* out) {
  *out = PackCommandLine();
  std::vector<std::string> words;
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-' || arg == "-") {
      words.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    std::string name = arg;
    std::optional<std::string> inlineValue;
    if (arg.compare(0, 2, "--") == 0) {
      size_t equals = arg.find('=');
      if (equals != std::string::npos) {
        name = arg.substr(0, equals);
        inlineValue = arg.substr(equals + 1);
      }
    }
    auto takeValue = [&](std::string* value) -> std::string {
      if (inlineValue) {
        *value = *inlineValue;
      } else {
        if (i + 1 >= args.size()) return name + " needs a value";
        *value = args[++i];
      }
      return std::string();
    };
    auto refuseValue = [&]() -> std::string {
      return inlineValue ? name + " takes no value" : std::string();
    };
    std::string problem;
    if (name == "--help" || name == "-h") {
      out->help = true;
      problem = refuseValue();
    } else if (name == "--version" || name == "-V") {
      out->version = true;
      problem = refuseValue();
    } else if (name == "--key-a" || name == "--key-b") {
      std::string value;
      problem = takeValue(&value);
      if (problem.empty()) problem = CheckKey(name, value);
      if (problem.empty()) (name == "--key-a" ? out->keyA : out->keyB) = value;
    } else if (name == "--exclude") {
      std::string value;
      problem = takeValue(&value);
      if (problem.empty() && value.empty()) problem = "--exclude needs a pattern";
      if (problem.empty()) out->excludes.push_back(value);
    } else if (name == "-q" || name == "--quiet") {
      out->verbosity = Verbosity::kQuiet;
      problem = refuseValue();
    } else if (name == "-v" || name == "--verbose") {
      out->verbosity = Verbosity::kVerbose;
      problem = refuseValue();
    } else if (name == "-l" || name == "--long") {
      out->longList = true;
      problem = refuseValue();
    } else if (name == "--json") {
      out->json = true;
      problem = refuseValue();
    } else if (name == "-n" || name == "--no-overwrite") {
      out->overwrite = OverwritePolicy::kNever;
      problem = refuseValue();
    } else if (name == "-o" || name == "--overwrite") {
      out->overwrite = OverwritePolicy::kOverwrite;
      problem = refuseValue();
    } else if (name == "-j" || name == "--jobs" || name.compare(0, 2, "-j") == 0) {
      std::string value;
      if (name.size() > 2 && name[1] == 'j') {
        value = name.substr(2);  // -j4
        name = "-j";
      } else {
        problem = takeValue(&value);
      }
      if (problem.empty()) problem = ParseJobs(name, value, &out->jobs);
    } else if (name == "--folder") {
      out->folderOutput = true;
      problem = refuseValue();
    } else if (name == "--patcher" || name == "--messages" || name == "--min-version") {
      std::string value;
      problem = takeValue(&value);
      if (problem.empty() && value.empty()) problem = name + " needs a value";
      if (problem.empty())
        (name == "--patcher" ? out->patcher : name == "--messages" ? out->messages
                                                                   : out->minVersion) = value;
    } else if (name == "--hold-back" || name == "--skip") {
      std::string value;
      problem = takeValue(&value);
      if (problem.empty() && value.empty()) problem = name + " needs a name";
      if (problem.empty()) (name == "--skip" ? out->skipNames : out->holdBack).push_back(value);
    } else if (name == "--no-delta") {
      out->delta = false;
      problem = refuseValue();
    } else if (name == "--with-full-files") {
      out->withFullFiles = true;
      problem = refuseValue();
    } else if (name == "--delta-min-size") {
      std::string value;
      problem = takeValue(&value);
      if (problem.empty()) {
        char* end = nullptr;
        errno = 0;
        unsigned long long n = std::strtoull(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0' || errno != 0 || value[0] == '-')
          problem = "--delta-min-size needs a number of bytes";
        else
          out->deltaMinSize = n;
      }
    } else if (name == "--strict") {
      out->strict = true;
      problem = refuseValue();
    } else if (name == "--skip-special") {
      out->skipSpecial = true;
      problem = refuseValue();
    } else {
      problem = "unknown option " + name;
    }
    if (!problem.empty()) return problem;
  }
  if (!words.empty() && words[0] == "help") out->help = true;
  if (out->help || out->version) return std::string();
  if (words.empty()) return "no command given";
  std::string command = words[0] == "test" ? "verify" : words[0];
  const CommandShape* shape = FindCommand(command);
  if (shape == nullptr) return "unknown command " + words[0];
  out->command = command;
  out->operands.assign(words.begin() + 1, words.end());
  size_t count = out->operands.size();
  if (count < shape->minOperands) return words[0] + ": too few arguments";
  if (shape->maxOperands != kAny && count > shape->maxOperands)
    return words[0] + ": too many arguments";
  if (out->longList && out->json) return "list: -l and --json cannot be used together";
  return std::string();
}

std::string ResolvePackKeys(PackCommandLine* line, const char* (*lookup)(const char*)) {
  struct {
    std::optional<std::string>* key;
    const char* variable;
    const char* fallback;
  } keys[] = {{&line->keyA, kKeyAVariable, kDefaultKeyA},
              {&line->keyB, kKeyBVariable, kDefaultKeyB}};
  for (auto& k : keys) {
    if (k.key->has_value()) continue;
    const char* value = lookup != nullptr ? lookup(k.variable) : nullptr;
    if (value == nullptr) {
      *k.key = k.fallback;
      continue;
    }
    std::string problem = CheckKey(k.variable, value);
    if (!problem.empty()) return problem;
    *k.key = value;
  }
  return std::string();
}

}  // namespace marrowgate
