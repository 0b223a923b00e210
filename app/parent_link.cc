#include "app/parent_link.h"

#include <string>

#include "platform/env.h"

namespace marrowgate {

std::vector<int32_t> ParentCodes(int32_t number) {
  switch (number) {
    case 6: return {280};
    case 203: return {262, 273};
    case 207: return {261};
    case 208: return {208};
    case 213: return {273};
    case 304: return {260};
    case 306: return {259};
    default: return {300};
  }
}

bool ParentLink::AttachParent(std::string_view title) {
  interactive_ = false;
  socket_ = platform::LocalSocket::Connect(LauncherAddress(title));
  if (socket_ == nullptr) {
    std::string line = "marrowgate, no launcher listens for \"";
    line.append(title);
    line += "\"\n";
    platform::DebugOutput(line.c_str());
  }
  return socket_ != nullptr;
}

void ParentLink::AttachSocket(std::unique_ptr<platform::LocalSocket> socket) {
  interactive_ = false;
  socket_ = std::move(socket);
}

void ParentLink::Drop(const char* why) {
  std::string line = "marrowgate, launcher link dropped: ";
  line += why;
  line += "\n";
  platform::DebugOutput(line.c_str());
  socket_.reset();
}

int32_t ParentLink::SendToParent(int32_t tag, int32_t value, std::string_view text) {
  if (socket_ == nullptr) return 0;
  std::string packet = EncodeParentRecord(tag, value, text);
  if (!socket_->SendPacket(packet.data(), packet.size())) {
    Drop("the record could not be sent");
    return 0;
  }
  std::string answer;
  switch (socket_->ReceivePacket(&answer, answerTimeoutMs_)) {
    case platform::kReceivedPacket: {
      int32_t result = 0;
      if (!DecodeParentAnswer(answer, &result)) {
        Drop("malformed answer");
        return 0;
      }
      return result;
    }
    case platform::kReceiveTimedOut:
      Drop("no answer in time");
      return 0;
    case platform::kPeerClosed:
      Drop("the launcher has gone");
      return 0;
    default:
      Drop("receive failed");
      return 0;
  }
}

void ParentLink::NotifyParent(int32_t number, std::string_view text) {
  for (int32_t code : ParentCodes(number)) SendToParent(kParentTagMessage, code, text);
}

// Every run starts its progress afresh: counts of an earlier run in the same
// process would otherwise push the values past 100.
void ParentLink::StartParentProgress() {
  progressTotal_ = 0;
  progressCount_ = 0;
  SendToParent(kParentTagProgress, 0, {});
}

void ParentLink::StepParentProgress(int32_t n) {
  if (n > 0) {
    progressTotal_ = n;
    return;
  }
  ++progressCount_;
  if (progressTotal_ <= 0) return;
  int64_t value = static_cast<int64_t>(progressCount_) * 100 / progressTotal_;
  if (value == 100) value = 99;
  SendToParent(kParentTagProgress, static_cast<int32_t>(value), {});
}

void ParentLink::FinishParentProgress() {
  SendToParent(kParentTagProgress, 100, {});
  SendToParent(kParentTagProgress, -1, {});
}

}  // namespace marrowgate
