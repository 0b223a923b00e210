// The patcher log: one line per failed run, appended to a file named after
// the local date and hour, "log/patcher-logYYYYMMDD[H].log" (hour 0..23
// without a leading zero), relative to the current folder. The "log"
// folder is not created: without it nothing is written.
//
// Entry: "HH:MM:SS<TAB>text\r\n" and one more "\n"; the text is written
// as given (its own CR LF included).
#ifndef MARROWGATE_APP_PATCHER_LOG_H_
#define MARROWGATE_APP_PATCHER_LOG_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/env.h"

namespace marrowgate {

// "log/patcher-log%04d%02d%02d[%d].log" of `when`.
std::string PatcherLogName(const platform::CalendarTime& when);
// The entry's bytes for `text` at `when`.
std::string PatcherLogEntry(const platform::CalendarTime& when, std::string_view text);

// Appends the entry for `text` at `now` (seconds since 1970, read once and
// broken down into local time once for both the name and the entry).
// False when the time cannot be broken down or the file does not open; a
// failure while writing is not reported.
bool WriteLog(std::string_view text, int64_t now);
// The same at the current time.
bool WriteLog(std::string_view text);

}  // namespace marrowgate

#endif  // MARROWGATE_APP_PATCHER_LOG_H_
