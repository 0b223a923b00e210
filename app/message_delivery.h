// MessageDelivery: the patcher's messages reach the user as message boxes
// of a PatcherView while the patcher runs on its own, and a launcher's
// listener through the ParentLink when one was named on the command line.
//
//   MessageTable table;  ParentLink link;  MyView view;
//   MessageDelivery delivery(&table, &link, &view);
//   delivery.ShowMessageById(204);     // a box, or codes to the launcher
//   delivery.ReportError(203, -10100); // message 203 formatted, launcher only
//
// The table, the link and the view are borrowed; the view may be null (no
// box is shown then).
#ifndef MARROWGATE_APP_MESSAGE_DELIVERY_H_
#define MARROWGATE_APP_MESSAGE_DELIVERY_H_

#include <cstdint>
#include <string>

#include "app/message_sink.h"
#include "app/message_table.h"
#include "app/parent_link.h"
#include "app/patcher_view.h"

namespace marrowgate {

class MessageDelivery : public MessageSink {
 public:
  MessageDelivery(MessageTable* table, ParentLink* link, PatcherView* view)
      : table_(table), link_(link), view_(view) {}

  void set_view(PatcherView* view) { view_ = view; }

  // The table's text (a missing number is added with an empty text).
  std::string MessageText(int32_t number) override;
  // Interactive: a box with the message's text and the view's default
  // caption. Otherwise NotifyParent(number, text of number).
  void ShowMessageById(int32_t number) override;
  // Interactive: a box with `text`. Otherwise NotifyParent(number, text of
  // number).
  void ShowMessageText(int32_t number, const std::string& text) override;
  // NotifyParent(number, FormatWithCode(text of number, code)); no box.
  void ReportError(int32_t number, int32_t code) override;

 private:
  MessageTable* table_;
  ParentLink* link_;
  PatcherView* view_;
};

}  // namespace marrowgate

#endif  // MARROWGATE_APP_MESSAGE_DELIVERY_H_
