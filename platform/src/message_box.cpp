// The message box, headless and scripted: answered by the queue of
// message-box answers, every box recorded, shown or not.
#include <ombrix/platform/dialog.h>
#include <ombrix/platform/headless.h>
#include <ombrix/platform/message_box.h>

#include "internal.h"

#include <algorithm>

namespace ombrix::platform {

namespace {

detail::ScriptedAnswers<int, MessageBoxRecord>& Boxes() {
  static auto* boxes = new detail::ScriptedAnswers<int, MessageBoxRecord>;
  return *boxes;
}

constexpr uint32_t kButtonBits = 0x000F;

// The buttons of a box, the one Escape stands for last; empty for a kind
// of box this backend does not know.
std::vector<int> ButtonsOf(uint32_t type) {
  switch (type & kButtonBits) {
    case kMbOk:
      return {kIdOk};
    case kMbOkCancel:
      return {kIdOk, kIdCancel};
    case kMbYesNo:
      return {kIdYes, kIdNo};
    default:
      return {};
  }
}

}  // namespace

int MessageBox(DialogWindow* owner, const char* text, const char* caption, uint32_t type) noexcept try {
  MessageBoxRecord record;
  record.text = text ? text : "";
  record.caption = caption ? caption : "";
  record.type = type;
  const std::vector<int> buttons = ButtonsOf(type);
  if (!detail::OwnerTitle(owner, &record.owner) || !text || buttons.empty()) {
    record.outcome = MessageBoxOutcome::kNotShown;
    record.error = !text ? "no text" : buttons.empty() ? "unknown buttons" : "the owner window does not exist";
    Boxes().Add(std::move(record));
    return 0;
  }
  const std::optional<int> answer = Boxes().Take();
  record.answer = answer.value_or(0);
  record.result = buttons.back();
  if (!answer) {
    record.outcome = MessageBoxOutcome::kUnanswered;
  } else if (std::find(buttons.begin(), buttons.end(), *answer) == buttons.end()) {
    record.outcome = MessageBoxOutcome::kRefused;
  } else {
    record.outcome = MessageBoxOutcome::kAnswered;
    record.result = *answer;
  }
  const int result = record.result;
  Boxes().Add(std::move(record));
  return result;
} catch (...) {
  return 0;
}

void PushMessageBoxAnswer(int button) { Boxes().Push(button); }
void ClearMessageBoxAnswers() { Boxes().ClearAnswers(); }
size_t PendingMessageBoxAnswers() { return Boxes().Pending(); }
std::vector<MessageBoxRecord> MessageBoxRecords() { return Boxes().Records(); }
void ClearMessageBoxRecords() { Boxes().ClearRecords(); }

}  // namespace ombrix::platform
