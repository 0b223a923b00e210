#include "app/patcher_log.h"

#include <cstdio>

namespace marrowgate {

std::string PatcherLogName(const platform::CalendarTime& when) {
  char name[128];
  std::snprintf(name, sizeof(name), "log/patcher-log%04d%02d%02d[%d].log", when.year, when.month,
                when.day, when.hour);
  return name;
}

std::string PatcherLogEntry(const platform::CalendarTime& when, std::string_view text) {
  char stamp[32];
  std::snprintf(stamp, sizeof(stamp), "%02d:%02d:%02d\t", when.hour, when.minute, when.second);
  std::string entry = stamp;
  entry.append(text);
  entry += "\r\n\n";
  return entry;
}

bool WriteLog(std::string_view text, int64_t now) {
  platform::CalendarTime when;
  if (!platform::ToLocalCalendar(now, &when)) return false;
  std::string name = PatcherLogName(when);
  std::unique_ptr<platform::FileStream> file = platform::FileStream::Open(name.c_str(), "ab");
  if (file == nullptr) return false;
  std::string entry = PatcherLogEntry(when, text);
  file->Write(entry.data(), entry.size());
  file->Flush();
  return true;
}

bool WriteLog(std::string_view text) { return WriteLog(text, platform::TimeNow()); }

}  // namespace marrowgate
