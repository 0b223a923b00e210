// The message file: the numbered lines of "cfg.txt" at the root of the
// package appended to the patcher.
//
// A line is a number (leading white space and a sign allowed; decimal,
// hexadecimal after "0x"/"0X", octal after a leading 0), one separator
// character, then the text to the end of the line:
//
//   201 The update is complete.
//   0x12D<TAB>Copy error      -> message 301
//
// A line's end (CR LF, LF or a lone CR) is not part of its text; a last
// line without one keeps all of its characters. Lines whose number is
// below 100, lines that do not begin with a number and numbers outside the
// 32-bit range are not messages (the same file carries the UPDATE block).
// A number that occurs twice keeps the text of its first line.
#ifndef MARROWGATE_APP_MESSAGE_FILE_H_
#define MARROWGATE_APP_MESSAGE_FILE_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "app/message_table.h"
#include "package/manager/file_manager.h"
#include "package/file/virtual_file.h"

namespace marrowgate {

// The two texts shown when the table cannot be loaded (the table is empty
// then, so they cannot come from it).
inline constexpr char kTextCantCreateFileManager[] = "Can't create file-manager";
inline constexpr char kTextCantOpenMessageFile[] = "Can't open message file: ";

// Name of the message file inside the patcher's own package.
inline constexpr char kMessageFileName[] = "cfg.txt";

// Lowest message number; lower numbers are not messages.
constexpr int32_t kFirstMessageNumber = 100;

// `line` without its line end: a trailing CR LF, LF or CR is cut, nothing
// else.
std::string_view CutLineEnd(std::string_view line);

// Parses one line (its line end already cut, or not: a trailing line end
// is cut here too). True with *number and *text when the line is a message.
bool ParseMessageLine(std::string_view line, int32_t* number, std::string* text);

// Parses every line of `content` (lines end at LF) into `table`. Returns
// the number of messages added.
int ParseMessageText(std::string_view content, MessageTable* table);

// Reads `file` from its current position to its end and adds its messages
// to `table`. Returns the number added, or -1 when a read fails or the
// file is larger than kMaxMessageFileBytes (the table keeps nothing of it
// then).
constexpr int64_t kMaxMessageFileBytes = 16 * 1024 * 1024;
int ReadMessageFile(VirtualFile* file, MessageTable* table);

// The dialog's start step: creates a FileManager with `options`, makes the
// package appended to the program at `modulePath` visible under its self
// base (app/own_package.h), opens "<self base>/cfg.txt" and loads its
// messages into `table`. True on success. On failure *failureText
// (optional) receives the text to show in a message box:
// kTextCantCreateFileManager, or kTextCantOpenMessageFile followed by
// "<self base>/cfg.txt" (also when the file opened but could not be read).
bool LoadMessageFile(const FileManagerOptions& options, std::string_view modulePath,
                     MessageTable* table, std::string* failureText);

}  // namespace marrowgate

#endif  // MARROWGATE_APP_MESSAGE_FILE_H_
