// MessageSink: how the patcher's logic tells the user something. The
// dialog's message delivery (app/message_delivery.h) implements it; so can
// a console front end or a test.
#ifndef MARROWGATE_APP_MESSAGE_SINK_H_
#define MARROWGATE_APP_MESSAGE_SINK_H_

#include <cstdint>
#include <string>

namespace marrowgate {

class MessageSink {
 public:
  virtual ~MessageSink() = default;

  // The text of message `number` (empty when the table has none).
  virtual std::string MessageText(int32_t number) = 0;
  // Shows message `number`: a message box while interactive, otherwise the
  // message's own text to the launcher.
  virtual void ShowMessageById(int32_t number) = 0;
  // Shows `text` in a message box while interactive; otherwise the text of
  // message `number` (not `text`) goes to the launcher.
  virtual void ShowMessageText(int32_t number, const std::string& text) = 0;
  // Sends message `number` formatted with `code` to the launcher (no
  // message box in either mode).
  virtual void ReportError(int32_t number, int32_t code) = 0;
};

}  // namespace marrowgate

#endif  // MARROWGATE_APP_MESSAGE_SINK_H_
