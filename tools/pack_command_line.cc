#include "tools/pack_command_line.h"

#include <cstddef>

namespace marrowgate {

namespace {

struct CommandShape {
  const char* name;
  size_t minOperands;
  size_t maxOperands;  // SIZE_MAX: any number
};

constexpr size_t kAny = static_cast<size_t>(-1);

constexpr CommandShape kCommands[] = {
    {"create", 2, 2},  {"add", 2, 3},   {"remove", 2, kAny}, {"list", 1, 1},
    {"extract", 2, kAny}, {"verify", 1, 1}, {"probe", 1, 1},  {"attach", 3, 3},
};

const CommandShape* FindCommand(const std::string& name) {
  for (const CommandShape& shape : kCommands)
    if (name == shape.name) return &shape;
  return nullptr;
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
         "  extract PACKAGE FOLDER [PATH...]  write the tree (or the named paths) into FOLDER\n"
         "  verify  PACKAGE                   unseal every item, compare its MD5 with the\n"
         "                                    stored digest, check the block structure\n"
         "  probe   FILE                      prints \"package\", \"host\" or \"none\"\n"
         "  attach  HOST FOLDER OUTPUT        OUTPUT = a copy of HOST with a package of\n"
         "                                    FOLDER appended\n"
         "\n"
         "PACKAGE may be a package file or a program carrying one.\n"
         "\n"
         "options:\n"
         "  --key-a TEXT   first package password (default: the patcher's)\n"
         "  --key-b TEXT   second package password (default: the patcher's; \"\" for none)\n"
         "  --help         show this text\n"
         "  --version      show the version\n"
         "\n"
         "exit status: 0 success, 1 failure, 2 bad usage\n";
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
    } else if (arg == "--help" || arg == "-h") {
      out->help = true;
    } else if (arg == "--version") {
      out->version = true;
    } else if (arg == "--key-a" || arg == "--key-b") {
      if (i + 1 >= args.size()) return arg + " needs a value";
      const std::string& value = args[++i];
      if (value.size() > kMaxPackKeyLength)
        return arg + " is longer than " + std::to_string(kMaxPackKeyLength) + " bytes";
      if (arg == "--key-a") {
        out->keyA = value;
      } else {
        out->keyB = value;
      }
    } else {
      return "unknown option " + arg;
    }
  }
  if (out->help || out->version) return std::string();
  if (words.empty()) return "no command given";
  const CommandShape* shape = FindCommand(words[0]);
  if (shape == nullptr) return "unknown command " + words[0];
  out->command = words[0];
  out->operands.assign(words.begin() + 1, words.end());
  size_t count = out->operands.size();
  if (count < shape->minOperands) return out->command + ": too few arguments";
  if (shape->maxOperands != kAny && count > shape->maxOperands)
    return out->command + ": too many arguments";
  return std::string();
}

}  // namespace marrowgate
