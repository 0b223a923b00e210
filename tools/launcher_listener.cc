#include "tools/launcher_listener.h"

namespace marrowgate {

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

int ServeLauncher(platform::LocalSocket* socket,
                  const std::function<void(const std::string&)>& output) {
  if (socket == nullptr) return 1;
  const std::string answer = EncodeParentAnswer(0);
  for (;;) {
    std::string packet;
    platform::ReceiveResult received = socket->ReceivePacket(&packet, -1);
    if (received == platform::kPeerClosed) return 0;
    if (received != platform::kReceivedPacket) return 1;
    ParentRecord record;
    if (!DecodeParentRecord(packet, &record)) return 1;
    output(ListenerLine(record));
    if (!socket->SendPacket(answer.data(), answer.size())) return 1;
  }
}

int RunLauncherListener(std::string_view title,
                        const std::function<void(const std::string&)>& output,
                        const std::function<void(const std::string&)>& error) {
  std::string address = LauncherAddress(title);
  std::unique_ptr<platform::LocalListener> listener = platform::LocalListener::Listen(address);
  if (listener == nullptr) {
    error("marrowgate-listen: cannot listen at " + address + " (another listener for this title?)");
    return 1;
  }
  std::unique_ptr<platform::LocalSocket> patcher = listener->Accept(-1);
  if (patcher == nullptr) {
    error("marrowgate-listen: accepting the patcher failed");
    return 1;
  }
  int status = ServeLauncher(patcher.get(), [&output](const std::string& line) {
    output(line + "\n");
  });
  if (status != 0) error("marrowgate-listen: malformed record or connection failure");
  return status;
}

}  // namespace marrowgate
