#include "app/message_delivery.h"

#include "app/code_format.h"
#include "util/utf8.h"

namespace marrowgate {

std::string MessageDelivery::MessageText(int32_t number) { return table_->Text(number); }

void MessageDelivery::ShowMessageById(int32_t number) {
  const std::string& text = table_->Text(number);
  if (link_ == nullptr || link_->IsInteractive()) {
    if (view_ != nullptr) view_->MessageBox(text, std::string());
    return;
  }
  link_->NotifyParent(number, text);
}

void MessageDelivery::ShowMessageText(int32_t number, const std::string& text) {
  if (link_ == nullptr || link_->IsInteractive()) {
    if (view_ != nullptr) view_->MessageBox(text, std::string());
    return;
  }
  link_->NotifyParent(number, table_->Text(number));
}

void MessageDelivery::ReportError(int32_t number, int32_t code) {
  // The launcher's copy is cut as a 128-byte buffer would hold it, but
  // never inside a character.
  std::string text = CutText(FormatWithCode(table_->Text(number), code), kMaxFormattedMessage);
  if (link_ != nullptr) link_->NotifyParent(number, text);
}

}  // namespace marrowgate
