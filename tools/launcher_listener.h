// The reference launcher listener behind `marrowgate-listen TITLE`: waits
// for the patcher started with "/user TITLE", answers every record and
// writes one line per record:
//   message CODE TEXT
//   progress VALUE
// Where launchers are sockets it binds the launcher address of TITLE,
// accepts one patcher and returns when the patcher disconnects. Where they
// are windows (Windows) it shows no window but owns a hidden "Static"
// window titled TITLE and returns after the run's last record (progress
// -1), since a window is never told that its sender has gone.
#ifndef MARROWGATE_TOOLS_LAUNCHER_LISTENER_H_
#define MARROWGATE_TOOLS_LAUNCHER_LISTENER_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/parent_record.h"
#include "platform/local_socket.h"

namespace marrowgate {

// Exit statuses of the listener.
constexpr int kListenerDone = 0;
constexpr int kListenerFailed = 1;  // address or title taken, malformed record, link failure
constexpr int kListenerUsage = 2;
constexpr int kListenerIdle = 3;    // --idle passed without a record

struct ListenerOptions {
  std::string title;
  int32_t answer = 0;  // --answer N: the answer to every record
  int stallMs = 0;     // --stall MS: waits this long before each answer
  int idleMs = -1;     // --idle MS: gives up when no record came for this long
};

// Reads "[--answer N] [--stall MS] [--idle MS] TITLE" (arguments after the
// program name). False with a reason in *error when they do not fit.
bool ParseListenerArgs(const std::vector<std::string>& args, ListenerOptions* options,
                       std::string* error);

// The line printed for `record` (without the line end). A record with
// another tag prints as "record TAG VALUE TEXT".
std::string ListenerLine(const ParentRecord& record);

// Hands `record`'s line to `output`, waits options.stallMs and returns
// the answer to send.
int32_t AnswerRecord(const ParentRecord& record, const ListenerOptions& options,
                     const std::function<void(const std::string&)>& output);

// Serves one connected patcher until it disconnects: each record is
// answered (AnswerRecord) and its line handed to `output`. Returns
// kListenerDone when the patcher disconnected, kListenerIdle when no
// record came within options.idleMs, kListenerFailed on a malformed record
// or a socket failure.
int ServeLauncher(platform::LocalSocket* socket, const ListenerOptions& options,
                  const std::function<void(const std::string&)>& output);
inline int ServeLauncher(platform::LocalSocket* socket,
                         const std::function<void(const std::string&)>& output) {
  return ServeLauncher(socket, ListenerOptions{}, output);
}

// marrowgate-listen: waits for the patcher of options.title and serves it
// (lines go to `output`, one per record with "\n"; problems to `error`).
// Returns the exit status.
int RunLauncherListener(const ListenerOptions& options,
                        const std::function<void(const std::string&)>& output,
                        const std::function<void(const std::string&)>& error);
inline int RunLauncherListener(std::string_view title,
                               const std::function<void(const std::string&)>& output,
                               const std::function<void(const std::string&)>& error) {
  ListenerOptions options;
  options.title = std::string(title);
  return RunLauncherListener(options, output, error);
}

}  // namespace marrowgate

#endif  // MARROWGATE_TOOLS_LAUNCHER_LISTENER_H_
