// The reference launcher listener behind `marrowgate-listen TITLE`: binds
// the launcher address of TITLE, accepts one patcher, answers every record
// with 0 and writes one line per record:
//   message CODE TEXT
//   progress VALUE
// It returns when the patcher disconnects.
#ifndef MARROWGATE_TOOLS_LAUNCHER_LISTENER_H_
#define MARROWGATE_TOOLS_LAUNCHER_LISTENER_H_

#include <functional>
#include <string>
#include <string_view>

#include "app/parent_record.h"
#include "platform/local_socket.h"

namespace marrowgate {

// The line printed for `record` (without the line end). A record with
// another tag prints as "record TAG VALUE TEXT".
std::string ListenerLine(const ParentRecord& record);

// Serves one connected patcher until it disconnects: each record is
// answered with 0 and its line handed to `output`. Returns 0 when the
// patcher disconnected, 1 on a malformed record or a socket failure.
int ServeLauncher(platform::LocalSocket* socket,
                  const std::function<void(const std::string&)>& output);

// marrowgate-listen: listens at the address of `title`, accepts one
// patcher and serves it (lines go to `output`, one per record with "\n";
// problems to `error`). Returns the exit status: 0 after the patcher's
// disconnect, 1 when the address cannot be bound or serving fails.
int RunLauncherListener(std::string_view title,
                        const std::function<void(const std::string&)>& output,
                        const std::function<void(const std::string&)>& error);

}  // namespace marrowgate

#endif  // MARROWGATE_TOOLS_LAUNCHER_LISTENER_H_
