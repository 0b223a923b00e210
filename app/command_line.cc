#include "app/command_line.h"

#include <string_view>

namespace marrowgate {
namespace {

// The whole command line is looked at through a copy of this many bytes
// (a 512-byte buffer with its terminator).
constexpr size_t kCommandCopyLength = kMaxCommandFolder - 1;

bool IsQuote(char c) { return c == '"' || c == '\''; }

// The value after "/user" in the Windows form, starting at `pos`.
std::string WindowsUserValue(const std::string& copy, size_t pos) {
  while (pos < copy.size() && (copy[pos] == ' ' || copy[pos] == '\t' || copy[pos] == '=')) ++pos;
  if (pos < copy.size() && IsQuote(copy[pos])) {
    size_t begin = pos + 1;
    size_t end = copy.find_first_of("\"'", begin);
    if (end == std::string::npos) end = copy.size();
    return copy.substr(begin, end - begin);
  }
  size_t end = copy.find_first_of(" \t=", pos);
  if (end == std::string::npos) end = copy.size();
  return copy.substr(pos, end - pos);
}

PatcherCommandLine UsageError(std::string message) {
  PatcherCommandLine result;
  result.usageError = true;
  result.error = std::move(message);
  return result;
}

// Sets the parent title unless it is too long for its buffer, which leaves
// the patcher interactive.
void TakeParentTitle(std::string value, PatcherCommandLine* result) {
  if (value.size() >= kMaxParentTitle) {
    result->notes.push_back("launcher title of " + std::to_string(value.size()) +
                            " bytes ignored (at most " + std::to_string(kMaxParentTitle - 1) + ")");
    return;
  }
  result->parentTitle = std::move(value);
}

std::string JoinFrom(const std::vector<std::string>& args, size_t first, std::string head) {
  std::string joined = std::move(head);
  bool empty = joined.empty();
  for (size_t i = first; i < args.size(); ++i) {
    if (!empty) joined += ' ';
    joined += args[i];
    empty = false;
  }
  return joined;
}

// "--name=value" or "/name=value": the value after '=' when `arg` starts
// with `name` followed by '='.
bool SplitAssigned(std::string_view arg, std::string_view name, std::string* value) {
  if (arg.size() <= name.size() || arg.substr(0, name.size()) != name || arg[name.size()] != '=') {
    return false;
  }
  *value = std::string(arg.substr(name.size() + 1));
  return true;
}

}  // namespace

PatcherCommandLine ParseWindowsCommandLine(const std::string& commandLine,
                                           const std::string& tail) {
  PatcherCommandLine result;
  const std::string copy = commandLine.substr(0, kCommandCopyLength);

  size_t user = copy.find("/user");
  if (user != std::string::npos) TakeParentTitle(WindowsUserValue(copy, user + 5), &result);

  size_t option = copy.find("/D");
  if (option != std::string::npos && option + 3 <= copy.size()) {
    result.installFolder = copy.substr(option + 3);
    if (commandLine.size() > copy.size()) {
      // The folder would end where the copy was cut: a run into a piece
      // of the intended folder is refused instead.
      return UsageError("command line longer than " + std::to_string(kCommandCopyLength) +
                        " bytes: the install folder after /D would be cut");
    }
  }
  if (result.installFolder.empty()) result.installFolder = tail;
  return result;
}

std::vector<std::string> SplitWindowsArguments(const std::string& tail) {
  std::vector<std::string> args;
  std::string current;
  bool inArgument = false;
  bool quoted = false;
  size_t i = 0;
  while (i < tail.size()) {
    const char c = tail[i];
    if (!quoted && (c == ' ' || c == '\t')) {
      if (inArgument) args.push_back(std::move(current));
      current.clear();
      inArgument = false;
      ++i;
      continue;
    }
    inArgument = true;
    if (c == '\\') {
      size_t run = 0;
      while (i < tail.size() && tail[i] == '\\') {
        ++run;
        ++i;
      }
      if (i < tail.size() && tail[i] == '"') {
        current.append(run / 2, '\\');
        if (run % 2 == 1) {
          current.push_back('"');
          ++i;
        }
      } else {
        current.append(run, '\\');
      }
      continue;
    }
    if (c == '"') {
      // "" inside a quoted part is one literal quote.
      if (quoted && i + 1 < tail.size() && tail[i + 1] == '"') {
        current.push_back('"');
        i += 2;
        continue;
      }
      quoted = !quoted;
      ++i;
      continue;
    }
    current.push_back(c);
    ++i;
  }
  if (inArgument) args.push_back(std::move(current));
  return args;
}

PatcherCommandLine ParseWindowsProgramLine(const std::string& commandLine,
                                           const std::string& tail) {
  std::vector<std::string> args = SplitWindowsArguments(tail);
  if (!args.empty() && args[0].size() >= 2 && args[0].compare(0, 2, "--") == 0) {
    return ParsePosixArguments(args);
  }
  return ParseWindowsCommandLine(commandLine, tail);
}

PatcherCommandLine ParsePosixArguments(const std::vector<std::string>& args) {
  PatcherCommandLine result;
  std::vector<std::string> positional;
  bool hidden = false;
  bool folderOption = false;
  bool userOption = false;  // the Windows form's "/user", not --launcher
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    std::string value;
    if (arg == "--") {
      positional.insert(positional.end(), args.begin() + i + 1, args.end());
      break;
    }
    if (arg == "/user" || arg.rfind("/user=", 0) == 0) {
      // The '=', spaces and tabs after "/user" are skipped, whether they
      // stand in this argument or as arguments of their own.
      std::string_view rest = std::string_view(arg).substr(5);
      for (;;) {
        size_t skip = rest.find_first_not_of("= \t");
        if (skip != std::string_view::npos) {
          rest.remove_prefix(skip);
          break;
        }
        if (i + 1 >= args.size()) return UsageError("/user needs a window title");
        rest = args[++i];
      }
      TakeParentTitle(std::string(rest), &result);
      userOption = true;
    } else if (arg == "--launcher") {
      if (i + 1 >= args.size()) return UsageError(arg + " needs a window title");
      TakeParentTitle(args[++i], &result);
    } else if (SplitAssigned(arg, "--launcher", &value)) {
      TakeParentTitle(std::move(value), &result);
    } else if (arg == "/D") {
      if (i + 1 >= args.size()) return UsageError("/D needs a folder");
      result.installFolder = JoinFrom(args, i + 1, "");
      folderOption = true;
      break;  // the rest of the line is the folder
    } else if (SplitAssigned(arg, "/D", &value)) {
      result.installFolder = JoinFrom(args, i + 1, value);
      folderOption = true;
      break;
    } else if (arg == "--dir") {
      if (i + 1 >= args.size()) return UsageError("--dir needs a folder");
      result.installFolder = args[++i];
      folderOption = true;
    } else if (SplitAssigned(arg, "--dir", &value)) {
      result.installFolder = std::move(value);
      folderOption = true;
    } else if (arg == "-h" || arg == "--hidden") {
      hidden = true;
    } else if (arg == "--console") {
      result.console = true;
    } else if (arg == "--verify") {
      result.verify = true;
    } else if (arg == "--dry-run") {
      result.dryRun = true;
    } else if (arg == "--help") {
      result.help = true;
    } else if (arg == "--version") {
      result.version = true;
    } else if (arg == "--about") {
      result.about = true;
    } else if (arg == "--allow-downgrade") {
      result.allowDowngrade = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return UsageError("unknown option " + arg);
    } else {
      positional.push_back(arg);
    }
  }

  if (folderOption && !positional.empty()) {
    return UsageError("the install folder is given twice");
  }
  if (!folderOption) result.installFolder = JoinFrom(positional, 0, "");
  if (folderOption && result.installFolder.empty()) {
    return UsageError("the install folder is empty");
  }
  if (result.verify && result.dryRun) {
    return UsageError("--verify and --dry-run cannot be given together");
  }
  if (result.dryRun && !result.help && !result.version && !hidden &&
      result.installFolder.empty()) {
    return UsageError("--dry-run needs an install folder");
  }
  if (result.verify) {
    if (result.help || result.version || result.about) return result;
    if (hidden) return UsageError("--verify checks a folder given on the command line, not -h");
    if (!folderOption && positional.size() > 1) {
      return UsageError("more than one install folder given");
    }
    if (result.installFolder.empty()) return UsageError("no install folder given");
    // "folder/" and "folder" name the same folder; a root keeps its separator.
    std::string& folder = result.installFolder;
    while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\') &&
           folder[folder.size() - 2] != ':') {
      folder.pop_back();
    }
    return result;
  }
  const bool userWithoutFolder = userOption && !folderOption;
  const bool titleWithoutFolder = !result.parentTitle.empty() && result.installFolder.empty();
  if ((userWithoutFolder || titleWithoutFolder) && !hidden && !result.help && !result.version &&
      !result.about) {
    // "/user" without "/D" (or a launcher that names no folder): the whole
    // line is the folder, as the Windows form takes the whole tail; its run
    // fails at the version check, and the launcher is told (message 212).
    // A launcher names the folder after "/D".
    result.installFolder = JoinFrom(args, 0, "");
    result.notes.push_back("no folder after /D; the whole command line is taken as the folder");
  }
  if (hidden) {
    if (!result.installFolder.empty()) {
      return UsageError("a hidden run goes into the program's own folder; no folder may be given");
    }
    result.installFolder = kHiddenRunFolder;
  } else if (result.installFolder == kHiddenRunFolder) {
    // "-h" is an option, never a folder: only reachable after "--" or /D.
    return UsageError("\"-h\" is not a folder name; use ./-h");
  }
  return result;
}

std::string PatcherUsage(const std::string& programName) {
  return "usage: " + programName +
         " [OPTIONS] [FOLDER]\n"
         "Applies the patch this program carries to the game installed in FOLDER.\n"
         "Without a folder the window waits for one to be chosen (Browse, then Start).\n"
         "\n"
         "  FOLDER                   install folder; the run starts at once and the\n"
         "                           program ends with it\n"
         "  /D FOLDER, /D=FOLDER     install folder: the rest of the command line\n"
         "  --dir FOLDER             install folder (one argument)\n"
         "  /user TITLE, /user=TITLE, --launcher TITLE\n"
         "                           send progress and messages to the launcher\n"
         "                           listening under TITLE instead of showing them;\n"
         "                           with /user the folder goes after /D (without /D\n"
         "                           the whole line is taken as the folder)\n"
         "  -h, --hidden             hidden run into the program's own folder\n"
         "  --console                show the run in this terminal, not in a window\n"
         "  --verify FOLDER          check FOLDER's files against its local file list\n"
         "                           (present, with the listed size and MD5); patches\n"
         "                           nothing\n"
         "  --dry-run FOLDER         list what the run would write, replace, hold back,\n"
         "                           skip and delete in FOLDER, with sizes; writes\n"
         "                           nothing (FOLDER in any of the forms above)\n"
         "  --help                   this text\n"
         "  --version                the program's version\n"
         "  --about                  what the patch is: the versions it serves and\n"
         "                           brings, its package's size and file count\n"
         "  --allow-downgrade        install even over a newer client\n"
         "\n"
         "A window opens when DISPLAY or WAYLAND_DISPLAY names a display that can be\n"
         "opened; otherwise the run is shown in the terminal.\n"
         "Exit status: 0 the last run succeeded, 1 it failed or could not start,\n"
         "2 bad usage. --verify: 0 every file matched, 1 a file is missing or\n"
         "differs or the list cannot be read, 2 bad usage. --dry-run: 0 the patch\n"
         "would apply, 1 it would not (too old, damaged, a target in the way).\n";
}

}  // namespace marrowgate
