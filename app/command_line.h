// The patcher's command line.
//
// Two readers give the same result record:
//
// ParseWindowsCommandLine() reads the Windows form: the process's whole
// command line (program path included) is searched for the substrings
// "/user" and "/D".
//   /user VALUE   after "/user", any run of spaces, tabs and '=' is
//                 skipped; the value is quoted ('...' or "...", ending at
//                 the next quote mark of either kind) or runs to the next
//                 space, tab or '='. A value of kMaxParentTitle bytes or
//                 more is ignored.
//   /D?FOLDER     the text from three characters after "/D" (the option
//                 and one separator) to the end of the line.
//   otherwise     the tail after the program name is the install folder.
// A search over the whole line matches pieces of ordinary paths, so a
// POSIX build does not use it; it is kept for a Windows build.
//
// ParsePosixArguments() reads the argument vector as whole arguments:
//   /user TITLE, /user=TITLE, --launcher TITLE, --launcher=TITLE
//                               after "/user" the '=', spaces and tabs that
//                               follow are skipped, within the argument and
//                               as whole arguments ("/user = T", "/user==T"
//                               and "/user= T" all name "T")
//   /D FOLDER..., /D=FOLDER...  the rest of the arguments joined by single
//                               spaces (the rest of the line)
//   --dir FOLDER, --dir=FOLDER  one argument
//   -h, --hidden                hidden run into the program's own folder
//   --console                   the terminal view even when a display exists
//   --verify FOLDER             check FOLDER against its local file list
//   --dry-run FOLDER            what a run would do to FOLDER; writes nothing
//                               (the folder in any of the forms above, -h
//                               for the program's own folder)
//   --help, --version
//   --about                     what the patch is (versions, package size
//                               and item count), patches nothing
//   --allow-downgrade           install over a client newer than the patch
//   --                          ends the options
// Any other arguments, joined by single spaces, are the install folder.
// "/user" without "/D" or --dir makes the whole argument line the install
// folder, as the Windows form takes the whole tail ("/user T FOLDER" names
// the folder "/user T FOLDER"), and so does --launcher without any folder:
// the run that starts fails at the version check and the launcher gets
// message 212. "/user T /D FOLDER" and "--launcher T FOLDER" name FOLDER.
#ifndef MARROWGATE_APP_COMMAND_LINE_H_
#define MARROWGATE_APP_COMMAND_LINE_H_

#include <cstddef>
#include <string>
#include <vector>

namespace marrowgate {

// The parent title buffer holds 128 bytes with its terminator.
inline constexpr size_t kMaxParentTitle = 128;
// The install-folder buffer holds 512 bytes with its terminator.
inline constexpr size_t kMaxCommandFolder = 512;
// The install folder that asks for a hidden run.
inline constexpr const char* kHiddenRunFolder = "-h";

struct PatcherCommandLine {
  std::string parentTitle;    // empty: interactive (no launcher window)
  std::string installFolder;  // empty: none; "-h": hidden run
  bool console = false;       // --console
  bool help = false;          // --help
  bool version = false;       // --version
  bool verify = false;        // --verify: check installFolder, patch nothing
  bool about = false;         // --about: describe the patch, patch nothing
  bool allowDowngrade = false;  // --allow-downgrade
  bool dryRun = false;        // --dry-run: list what a run would do, write nothing
  // Bad usage: `error` says what is wrong (the other fields are unset).
  bool usageError = false;
  std::string error;
  // Remarks for the debug channel (an ignored over-long title, ...).
  std::vector<std::string> notes;
};

// `commandLine` is the whole line (GetCommandLine), `tail` the part after
// the program name as the platform hands it to the program.
PatcherCommandLine ParseWindowsCommandLine(const std::string& commandLine,
                                           const std::string& tail);

// Splits a Windows command-line tail into arguments as the C run-time
// does: spaces and tabs separate, double quotes group, 2n backslashes
// before a quote give n backslashes (the quote groups), 2n+1 give n and a
// literal quote; other backslashes are kept as they are.
std::vector<std::string> SplitWindowsArguments(const std::string& tail);

// The Windows program's reader: when the tail's first argument starts with
// "--" (--verify, --console, --dry-run, --help, --about, ...), the tail is
// split into arguments and read as ParsePosixArguments() reads them;
// otherwise the whole line is read by ParseWindowsCommandLine().
PatcherCommandLine ParseWindowsProgramLine(const std::string& commandLine,
                                           const std::string& tail);

// `args` are the arguments after the program name.
PatcherCommandLine ParsePosixArguments(const std::vector<std::string>& args);

// The usage text printed by --help and after bad usage.
std::string PatcherUsage(const std::string& programName);

}  // namespace marrowgate

#endif  // MARROWGATE_APP_COMMAND_LINE_H_
