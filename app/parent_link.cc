#include "app/parent_link.h"

#include <algorithm>
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
  connectLater_ = false;
  return Connect(title);
}

void ParentLink::AttachParentLater(std::string_view title) {
  interactive_ = false;
  socket_.reset();
  window_.reset();
  laterTitle_ = std::string(title);
  connectLater_ = true;
}

int ParentLink::NextWaitMs() const {
  return budgetLeftMs_ < answerTimeoutMs_ ? std::max(0, budgetLeftMs_) : answerTimeoutMs_;
}

void ParentLink::Spend(uint32_t startTick) {
  uint32_t spent = platform::TickMilliseconds() - startTick;
  budgetLeftMs_ -= static_cast<int>(std::min<uint32_t>(spent, 1u << 30));
}

bool ParentLink::Connect(std::string_view title) {
  socket_.reset();
  window_.reset();
  std::string quoted = "\"";
  quoted.append(title);
  quoted += "\"";
  int wait = NextWaitMs();
  if (wait <= 0) {
    platform::DebugOutput(("marrowgate, no time left to reach the launcher " + quoted + "\n").c_str());
    return false;
  }
  if (platform::kLauncherWindows) return ConnectWindow(title, quoted);
  uint32_t start = platform::TickMilliseconds();
  std::unique_ptr<platform::LocalSocket> socket =
      platform::LocalSocket::Connect(LauncherAddress(title), wait);
  Spend(start);
  if (socket == nullptr) {
    platform::DebugOutput(("marrowgate, no launcher listens for " + quoted +
                           " or none took the connection within " + std::to_string(wait) +
                           " ms\n")
                              .c_str());
    return false;
  }
  uint32_t peer = 0;
  if (!socket->PeerUserId(&peer)) {
    platform::DebugOutput(
        ("marrowgate, the user of the launcher " + quoted + " cannot be told; not used\n").c_str());
    return false;
  }
  if (peer != platform::ProcessUserId() && peer != 0) {
    platform::DebugOutput(("marrowgate, the launcher " + quoted + " runs as user " +
                           std::to_string(peer) + ", not as this player; not used\n")
                              .c_str());
    return false;
  }
  socket_ = std::move(socket);
  return true;
}

// Finding the window takes no waiting; every record sent to it is bounded
// in SendToWindow.
bool ParentLink::ConnectWindow(std::string_view title, const std::string& quoted) {
  std::unique_ptr<platform::LauncherWindow> window = platform::LauncherWindow::Find(title);
  if (window == nullptr) {
    platform::DebugOutput(("marrowgate, no launcher window titled " + quoted + "\n").c_str());
    return false;
  }
  if (!window->OwnedByThisUser()) {
    platform::DebugOutput(("marrowgate, the launcher window " + quoted +
                           " does not run as this player; not used\n")
                              .c_str());
    return false;
  }
  window_ = std::move(window);
  return true;
}

void ParentLink::AttachSocket(std::unique_ptr<platform::LocalSocket> socket) {
  interactive_ = false;
  connectLater_ = false;
  window_.reset();
  socket_ = std::move(socket);
}

void ParentLink::Drop(const std::string& why) {
  platform::DebugOutput(("marrowgate, launcher link dropped: " + why + "\n").c_str());
  socket_.reset();
  window_.reset();
}

std::string ParentLink::SpentReason() const {
  return "the launcher used up its " + std::to_string(waitBudgetMs_) + " ms of waiting in this run";
}

int32_t ParentLink::SendToWindow(int32_t tag, int32_t value, std::string_view text) {
  int wait = NextWaitMs();
  if (wait <= 0) {
    Drop(SpentReason());
    return 0;
  }
  int32_t answer = 0;
  uint32_t start = platform::TickMilliseconds();
  platform::WindowSendResult sent = window_->Send(tag, value, text, wait, &answer);
  Spend(start);
  switch (sent) {
    case platform::kWindowAnswered:
      return answer;
    case platform::kWindowTimedOut:
      Drop(wait < answerTimeoutMs_ ? SpentReason()
                                   : "the launcher answered no record within " +
                                         std::to_string(wait) + " ms");
      return 0;
    case platform::kWindowGone:
      Drop("the launcher has gone");
      return 0;
    default:
      Drop("the record could not be sent");
      return 0;
  }
}

int32_t ParentLink::SendToParent(int32_t tag, int32_t value, std::string_view text) {
  if (connectLater_) {
    connectLater_ = false;
    Connect(laterTitle_);
  }
  if (window_ != nullptr) return SendToWindow(tag, value, text);
  if (socket_ == nullptr) return 0;
  const std::string spent = SpentReason();
  int wait = NextWaitMs();
  if (wait <= 0) {
    Drop(spent);
    return 0;
  }
  std::string packet = EncodeParentRecord(tag, value, text);
  uint32_t start = platform::TickMilliseconds();
  platform::SendResult sent = socket_->SendPacketWithin(packet.data(), packet.size(), wait);
  Spend(start);
  if (sent == platform::kSendTimedOut) {
    Drop("the launcher took no record for " + std::to_string(wait) + " ms");
    return 0;
  }
  if (sent != platform::kSentPacket) {
    Drop("the record could not be sent");
    return 0;
  }
  wait = NextWaitMs();
  if (wait <= 0) {
    Drop(spent);
    return 0;
  }
  std::string answer;
  start = platform::TickMilliseconds();
  platform::ReceiveResult received = socket_->ReceivePacket(&answer, wait);
  Spend(start);
  switch (received) {
    case platform::kReceivedPacket: {
      int32_t result = 0;
      if (!DecodeParentAnswer(answer, &result)) {
        Drop("malformed answer");
        return 0;
      }
      return result;
    }
    case platform::kReceiveTimedOut:
      Drop(wait < answerTimeoutMs_ ? spent : "no answer in time");
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
  budgetLeftMs_ = waitBudgetMs_;
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
