// Shared helpers of the platform's sources (not installed).
#pragma once

#include <ombrix/platform/headless.h>
#include <ombrix/platform/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ombrix::platform::detail {

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

}  // namespace ombrix::platform::detail
