// RecordingNotify: a CPackNotify for tests that records every notification
// as one text ("FILEBEGIN src/a dst/a 5") and answers through a rule
// (0 unless the rule says otherwise). Only for tests.
#ifndef MARROWGATE_TRANSFER_TESTING_RECORDING_NOTIFY_TESTING_H_
#define MARROWGATE_TRANSFER_TESTING_RECORDING_NOTIFY_TESTING_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "transfer/pack_notify.h"
#include "transfer/stat_dir.h"

namespace marrowgate {

class RecordingNotify : public CPackNotify {
 public:
  // Given the recorded text of an event, the answer to send back.
  std::function<int32_t(const std::string&)> answer;
  std::vector<std::string> events;

  // A rule answering `value` to the first event that begins with `prefix`
  // (and 0 to every other).
  static std::function<int32_t(const std::string&)> RefuseFirst(const std::string& prefix,
                                                                int32_t value = 1) {
    auto done = std::make_shared<bool>(false);
    return [=](const std::string& event) -> int32_t {
      if (*done || event.rfind(prefix, 0) != 0) return 0;
      *done = true;
      return value;
    };
  }

  int32_t Release() override { return 0; }  // lives on the stack
  int32_t cb_ENTERDIR(const char* path) override { return Record("ENTERDIR " + S(path)); }
  int32_t cb_LEAVEDIR(const char* path) override { return Record("LEAVEDIR " + S(path)); }
  int32_t cb_FILEBEGIN(const char* source, const char* target, int32_t size) override {
    return Record("FILEBEGIN " + S(source) + " " + S(target) + " " + std::to_string(size));
  }
  int32_t cb_FILEEND() override { return Record("FILEEND"); }
  int32_t cb_PROGRESS(int32_t written) override {
    return Record("PROGRESS " + std::to_string(written));
  }
  int32_t cb_READONLY(const char* source) override { return Record("READONLY " + S(source)); }
  int32_t cb_ERROR(int32_t code, const char* text) override {
    return Record("ERROR " + std::to_string(code) + " " + S(text));
  }
  int32_t cb_INFO(int32_t level, const char* text) override {
    return Record("INFO " + std::to_string(level) + " " + S(text));
  }
  int32_t cb_SRCDIRSTAT(SRCDIRSTAT_T* stat) override {
    return Record("SRCDIRSTAT " + std::to_string(stat->nTotalFile) + " " +
                  std::to_string(stat->nTotalSize) + " " + std::to_string(stat->nTotalDir));
  }

 private:
  static std::string S(const char* text) { return text == nullptr ? "(null)" : text; }
  int32_t Record(const std::string& event) {
    events.push_back(event);
    return answer ? answer(event) : 0;
  }
};

}  // namespace marrowgate

#endif  // MARROWGATE_TRANSFER_TESTING_RECORDING_NOTIFY_TESTING_H_
