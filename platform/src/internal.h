// Shared helpers of the platform's sources (not installed).
#pragma once

#include <ombrix/platform/headless.h>
#include <ombrix/platform/types.h>

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace ombrix::platform::detail {

// Stops the clock at `microseconds`, unless it is stopped at a later time
// already (a wait moved it on since): a stopped clock does not go back.
void SetScriptedClockNoEarlier(int64_t microseconds) noexcept;

// Sends one line to the diagnostics hook.
void Diagnose(const std::string& message) noexcept;

// Copies `text` into a caller's buffer of `size` bytes, NUL-terminated and
// cut to fit. Returns the characters copied.
uint32_t CopyOut(std::string_view text, char* buffer, uint32_t size) noexcept;

// The error text of an errno value.
std::string ErrnoText(int err);

// Maps an errno value to a result code.
Status StatusFromErrno(int err) noexcept;

// Creates `path` and missing parents; the last component with `mode`.
// Returns 0 or an errno value.
int MakeDirectories(const std::string& path, unsigned mode) noexcept;

// What a colour chooser needs of the open dialogs. False when `owner` is
// neither null nor a live window. Otherwise `owner_title` is the title of the
// owner's dialog (a control's dialog; empty without an owner), `in_dialog`
// tells whether a dialog is open, and `answer` takes the next colour answer
// of the innermost open dialog's script (empty when it has none left).
bool ChooserContext(DialogWindow* owner, std::string* owner_title, bool* in_dialog,
                    std::optional<ColorAnswer>* answer) noexcept;

// The title an owned window shows for `owner`: its own, or its dialog's
// for a control; empty without an owner. False when `owner` is neither null
// nor a live window.
bool OwnerTitle(DialogWindow* owner, std::string* title) noexcept;

// The scripted answers of one kind of modal window (a popup menu, a message
// box) and the records of what each showed, for any thread.
template <class Answer, class Record>
class ScriptedAnswers {
 public:
  void Push(Answer answer) {
    std::lock_guard<std::mutex> lock(mu_);
    answers_.push_back(std::move(answer));
  }
  // The next answer, if one is left.
  std::optional<Answer> Take() {
    std::lock_guard<std::mutex> lock(mu_);
    if (answers_.empty()) return std::nullopt;
    Answer answer = std::move(answers_.front());
    answers_.pop_front();
    return answer;
  }
  void ClearAnswers() {
    std::lock_guard<std::mutex> lock(mu_);
    answers_.clear();
  }
  size_t Pending() {
    std::lock_guard<std::mutex> lock(mu_);
    return answers_.size();
  }
  void Add(Record record) {
    std::lock_guard<std::mutex> lock(mu_);
    records_.push_back(std::move(record));
  }
  std::vector<Record> Records() {
    std::lock_guard<std::mutex> lock(mu_);
    return records_;
  }
  void ClearRecords() {
    std::lock_guard<std::mutex> lock(mu_);
    records_.clear();
  }

 private:
  std::mutex mu_;
  std::deque<Answer> answers_;
  std::vector<Record> records_;
};

}  // namespace ombrix::platform::detail
