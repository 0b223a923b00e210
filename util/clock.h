// The library's clock and its text form of dates and times.
//
// Time values are 32-bit counts of seconds since 1970-01-01 00:00:00 UTC.
// Text forms: a date "YYYY-MM-DD"; a time of day "HH:MM:SS" (seconds or
// minutes may be left off); a date and a time separated by one space.
// Dates are read and written in the local time zone.
#ifndef MARROWGATE_UTIL_CLOCK_H_
#define MARROWGATE_UTIL_CLOCK_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace marrowgate {

// The clock every time stamp of the library is taken from: the system time
// plus the process-wide offset.
int32_t LibClockNow();
// The process-wide clock offset in seconds (0 at start).
void SetLibClockOffset(int32_t seconds);
int32_t LibClockOffset();
// Stops the clock at `seconds` since 1970 (0 lets it run again): every
// LibClockNow gives that moment plus the offset, as a reproducible build
// wants. Set it before other threads read the clock.
void SetLibClockFixed(int32_t seconds);

// Bytes a date text needs, terminator included.
inline constexpr size_t kDateTextSize = 16;

// The local date of `time` as "%04d-%02d-%02d"; empty when the time cannot
// be broken down.
std::string FormatDate(int32_t time);
// Writes the date into `buffer` (`size` bytes) and returns it; null when the
// time cannot be broken down or the text does not fit. With a null buffer a
// per-thread static buffer of the library is used.
char* FormatDate(int32_t time, char* buffer, size_t size);

// Reads "date", "date time" or "time" (today's date by LibClockNow) into a
// time value of the local time zone. The text is split at its first space:
// the date part comes first, so a text that begins with a space has an empty
// date part (and gives 0). Missing numbers are 0; a text without
// year and month gives 0, as does a date or time part longer than
// kMaxDateTimePartText (util/values.h). A moment the system cannot represent
// gives -1.
int32_t ParseDateTime(std::string_view text);

}  // namespace marrowgate

#endif  // MARROWGATE_UTIL_CLOCK_H_
