// The colour chooser, headless and scripted.
//
// The chooser is a modal dialog of its own: opened inside a dialog it is
// answered by that dialog's script, opened elsewhere by the queue of colour
// answers. Every request is recorded, shown or not.
#include <ombrix/platform/color.h>
#include <ombrix/platform/headless.h>

#include "internal.h"

#include <charconv>
#include <deque>
#include <mutex>

namespace ombrix::platform {

namespace {

struct ColorState {
  std::mutex mu;
  std::deque<ColorAnswer> answers;
  std::vector<ColorChooserRecord> records;
};

ColorState& CS() {
  static ColorState* state = new ColorState;
  return *state;
}

using Lock = std::lock_guard<std::mutex>;

void Record(ColorChooserRecord record) {
  ColorState& s = CS();
  Lock lock(s.mu);
  s.records.push_back(std::move(record));
}

}  // namespace

bool ChooseColor(ChooseColorRequest* request) noexcept try {
  ColorChooserRecord record;
  if (!request || !request->custom_colors) {
    record.outcome = ColorChooserOutcome::kNotShown;
    record.error = request ? "no custom colours" : "no request";
    Record(std::move(record));
    return false;
  }
  record.flags = request->flags;
  record.initial = request->flags & kCcRgbInit ? request->color : MakeColorRef(0, 0, 0);
  bool in_dialog = false;
  std::optional<ColorAnswer> answer;
  if (!detail::ChooserContext(request->owner, &record.owner, &in_dialog, &answer)) {
    record.outcome = ColorChooserOutcome::kNotShown;
    record.error = "the owner window does not exist";
    Record(std::move(record));
    return false;
  }
  if (!in_dialog) {
    ColorState& s = CS();
    Lock lock(s.mu);
    if (!s.answers.empty()) {
      answer = s.answers.front();
      s.answers.pop_front();
    }
  }
  if (!answer) {
    record.outcome = ColorChooserOutcome::kUnanswered;
  } else if (answer->cancel) {
    record.outcome = ColorChooserOutcome::kCancelled;
  } else {
    record.outcome = ColorChooserOutcome::kChosen;
    // Only the three colour bytes are a colour; the top byte is not kept.
    record.chosen = answer->color & 0x00FFFFFFu;
    request->color = record.chosen;
  }
  const bool chosen = record.outcome == ColorChooserOutcome::kChosen;
  Record(std::move(record));
  return chosen;
} catch (...) {
  return false;
}

bool ParseColorAnswer(std::string_view text, ColorAnswer* answer) {
  ColorAnswer out;
  if (text == "cancel") {
    out.cancel = true;
  } else {
    // Six hex digits, red first (an unsigned parse takes no sign).
    if (text.size() != 7 || text[0] != '#') return false;
    uint32_t rgb = 0;
    const auto [end, err] = std::from_chars(text.data() + 1, text.data() + text.size(), rgb, 16);
    if (err != std::errc() || end != text.data() + text.size()) return false;
    out.color = MakeColorRef(uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb));
  }
  if (answer) *answer = out;
  return true;
}

void PushColorAnswer(ColorAnswer answer) {
  ColorState& s = CS();
  Lock lock(s.mu);
  s.answers.push_back(answer);
}

void ClearColorAnswers() {
  ColorState& s = CS();
  Lock lock(s.mu);
  s.answers.clear();
}

size_t PendingColorAnswers() {
  ColorState& s = CS();
  Lock lock(s.mu);
  return s.answers.size();
}

std::vector<ColorChooserRecord> ColorChooserRecords() {
  ColorState& s = CS();
  Lock lock(s.mu);
  return s.records;
}

void ClearColorChooserRecords() {
  ColorState& s = CS();
  Lock lock(s.mu);
  s.records.clear();
}

}  // namespace ombrix::platform
