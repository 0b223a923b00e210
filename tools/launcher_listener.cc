#include "tools/launcher_listener.h"

#include <charconv>
#include <chrono>
#include <memory>
#include <thread>

#include "platform/launcher_window.h"

namespace marrowgate {
namespace {

constexpr int64_t kMaxListenerMs = 24 * 3600 * 1000;

bool ParseNumber(const std::string& text, int64_t low, int64_t high, int64_t* out) {
  int64_t value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value < low || value > high) return false;
  *out = value;
  return true;
}

int ServeWindow(const ListenerOptions& options,
                const std::function<void(const std::string&)>& output,
                const std::function<void(const std::string&)>& error) {
  platform::LauncherWindowHost* self = nullptr;
  std::unique_ptr<platform::LauncherWindowHost> host = platform::LauncherWindowHost::Create(
      options.title, [&](int32_t tag, int32_t value, std::string_view text) -> int32_t {
        ParentRecord record;
        record.tag = tag;
        record.value = value;
        record.text.assign(text);
        int32_t answer = AnswerRecord(record, options, output);
        // The last record of a run: nothing follows it.
        if (tag == kParentTagProgress && value == -1) self->Stop();
        return answer;
      });
  if (host == nullptr) {
    error("marrowgate-listen: cannot make the launcher window \"" + options.title +
          "\" (another window of this title?)");
    return kListenerFailed;
  }
  self = host.get();
  if (!host->Serve(options.idleMs)) {
    error("marrowgate-listen: no record for " + std::to_string(options.idleMs) + " ms");
    return kListenerIdle;
  }
  return kListenerDone;
}

int ServeSocket(const ListenerOptions& options,
                const std::function<void(const std::string&)>& output,
                const std::function<void(const std::string&)>& error) {
  std::string address = LauncherAddress(options.title);
  std::unique_ptr<platform::LocalListener> listener = platform::LocalListener::Listen(address);
  if (listener == nullptr) {
    error("marrowgate-listen: cannot listen at " + address + " (another listener for this title?)");
    return kListenerFailed;
  }
  std::unique_ptr<platform::LocalSocket> patcher = listener->Accept(options.idleMs);
  if (patcher == nullptr) {
    if (options.idleMs >= 0) {
      error("marrowgate-listen: no patcher came within " + std::to_string(options.idleMs) + " ms");
      return kListenerIdle;
    }
    error("marrowgate-listen: accepting the patcher failed");
    return kListenerFailed;
  }
  int status = ServeLauncher(patcher.get(), options, [&output](const std::string& line) {
    output(line + "\n");
  });
  if (status == kListenerIdle) {
    error("marrowgate-listen: no record for " + std::to_string(options.idleMs) + " ms");
  } else if (status != kListenerDone) {
    error("marrowgate-listen: malformed record or connection failure");
  }
  return status;
}

}  // namespace

bool ParseListenerArgs(const std::vector<std::string>& args, ListenerOptions* options,
                       std::string* error) {
  *options = ListenerOptions{};
  bool haveTitle = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--answer" || arg == "--stall" || arg == "--idle") {
      if (i + 1 >= args.size()) {
        *error = arg + " needs a value";
        return false;
      }
      const std::string& text = args[++i];
      int64_t value = 0;
      if (arg == "--answer") {
        if (!ParseNumber(text, INT32_MIN, INT32_MAX, &value)) {
          *error = "--answer takes a 32-bit integer, not \"" + text + "\"";
          return false;
        }
        options->answer = static_cast<int32_t>(value);
      } else {
        if (!ParseNumber(text, 0, kMaxListenerMs, &value)) {
          *error = arg + " takes milliseconds from 0 to " + std::to_string(kMaxListenerMs) +
                   ", not \"" + text + "\"";
          return false;
        }
        (arg == "--stall" ? options->stallMs : options->idleMs) = static_cast<int>(value);
      }
    } else if (!haveTitle && !arg.empty() && arg.rfind("--", 0) != 0) {
      options->title = arg;
      haveTitle = true;
    } else {
      *error = haveTitle ? "one title only: \"" + arg + "\"" : "unknown option \"" + arg + "\"";
      return false;
    }
  }
  if (!haveTitle) {
    *error = "no title given";
    return false;
  }
  return true;
}

std::string ListenerLine(const ParentRecord& record) {
  switch (record.tag) {
    case kParentTagMessage:
      return "message " + std::to_string(record.value) + " " + record.text;
    case kParentTagProgress:
      return "progress " + std::to_string(record.value);
    default:
      return "record " + std::to_string(record.tag) + " " + std::to_string(record.value) + " " +
             record.text;
  }
}

int32_t AnswerRecord(const ParentRecord& record, const ListenerOptions& options,
                     const std::function<void(const std::string&)>& output) {
  output(ListenerLine(record));
  if (options.stallMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(options.stallMs));
  return options.answer;
}

int ServeLauncher(platform::LocalSocket* socket, const ListenerOptions& options,
                  const std::function<void(const std::string&)>& output) {
  if (socket == nullptr) return kListenerFailed;
  for (;;) {
    std::string packet;
    platform::ReceiveResult received = socket->ReceivePacket(&packet, options.idleMs);
    if (received == platform::kPeerClosed) return kListenerDone;
    if (received == platform::kReceiveTimedOut) return kListenerIdle;
    if (received != platform::kReceivedPacket) return kListenerFailed;
    ParentRecord record;
    if (!DecodeParentRecord(packet, &record)) return kListenerFailed;
    const std::string answer = EncodeParentAnswer(AnswerRecord(record, options, output));
    if (!socket->SendPacket(answer.data(), answer.size())) return kListenerFailed;
  }
}

int RunLauncherListener(const ListenerOptions& options,
                        const std::function<void(const std::string&)>& output,
                        const std::function<void(const std::string&)>& error) {
  if (platform::kLauncherWindows) {
    return ServeWindow(
        options, [&output](const std::string& line) { output(line + "\n"); }, error);
  }
  return ServeSocket(options, output, error);
}

}  // namespace marrowgate
