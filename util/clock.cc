#include "util/clock.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/env.h"
#include "util/scan_fields.h"
#include "util/text.h"
#include "util/values.h"

namespace marrowgate {
namespace {

int32_t g_clockOffset = 0;
int32_t g_fixedClock = 0;

int32_t ToTimeValue(int64_t seconds) {
  if (seconds < INT32_MIN || seconds > INT32_MAX) return -1;
  return static_cast<int32_t>(seconds);
}

}  // namespace

int32_t LibClockNow() {
  const int64_t now = g_fixedClock != 0 ? g_fixedClock : platform::TimeNow();
  return static_cast<int32_t>(static_cast<uint32_t>(now) + static_cast<uint32_t>(g_clockOffset));
}

void SetLibClockFixed(int32_t seconds) { g_fixedClock = seconds; }

void SetLibClockOffset(int32_t seconds) { g_clockOffset = seconds; }
int32_t LibClockOffset() { return g_clockOffset; }

char* FormatDate(int32_t time, char* buffer, size_t size) {
  static thread_local char shared[kDateTextSize * 2];
  if (buffer == nullptr) {
    buffer = shared;
    size = sizeof shared;
  }
  platform::CalendarTime fields;
  if (!platform::ToLocalCalendar(time, &fields)) return nullptr;
  int written = std::snprintf(buffer, size, "%04d-%02d-%02d", fields.year, fields.month, fields.day);
  if (written < 0 || static_cast<size_t>(written) >= size) {
    if (size > 0) buffer[0] = '\0';
    return nullptr;
  }
  return buffer;
}

std::string FormatDate(int32_t time) {
  char buffer[kDateTextSize * 2];
  return FormatDate(time, buffer, sizeof buffer) != nullptr ? std::string(buffer) : std::string();
}

int32_t ParseDateTime(std::string_view text) {
  char datePart[kMaxDateTimePartText + 1] = {};
  char timePart[kMaxDateTimePartText + 1] = {};
  // Split at the first space as written: a leading space gives an empty
  // date part (and so 0); white space at the end is ignored.
  if (ScanFields("ss", text, " ", datePart, timePart) < 0) return 0;
  char today[kDateTextSize * 2];
  if (timePart[0] == '\0' && std::strchr(datePart, ':') != nullptr) {
    std::memcpy(timePart, datePart, sizeof timePart);
    if (FormatDate(LibClockNow(), today, sizeof today) == nullptr) return 0;
    CopyBounded(datePart, sizeof datePart, today);
  }
  int32_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (ScanFields("ddd", datePart, "-", &year, &month, &day) < 0) return 0;
  if (ScanFields("ddd", timePart, ":", &hour, &minute, &second) < 0) return 0;
  if (year == 0 && month == 0) return 0;
  // Keep the calendar arithmetic far from overflow; such moments are not
  // representable anyway.
  constexpr int32_t kFieldBound = 1000000;
  if (year < 1 || year > 9999) return -1;
  for (int32_t value : {month, day, hour, minute, second})
    if (value < -kFieldBound || value > kFieldBound) return -1;
  platform::CalendarTime fields;
  fields.year = year;
  fields.month = month;
  fields.day = day;
  fields.hour = hour;
  fields.minute = minute;
  fields.second = second;
  return ToTimeValue(platform::FromLocalCalendar(fields));
}

}  // namespace marrowgate
