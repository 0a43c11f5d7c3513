// The message box: a modal box with a text, a title, an icon and one of a
// few sets of buttons.
//
// In the headless backend the box takes the next message-box answer of the
// scripts (headless.h) and records what it showed and how it was closed.
#pragma once

#include <ombrix/platform/types.h>

namespace ombrix::platform {

// Buttons and icon (bits as the system defines them).
inline constexpr uint32_t kMbOk = 0x0000;
inline constexpr uint32_t kMbOkCancel = 0x0001;
inline constexpr uint32_t kMbYesNo = 0x0004;
inline constexpr uint32_t kMbIconError = 0x0010;
inline constexpr uint32_t kMbIconQuestion = 0x0020;
inline constexpr uint32_t kMbIconExclamation = 0x0030;
inline constexpr uint32_t kMbIconInformation = 0x0040;

// Answers beside kIdOk (1) and kIdCancel (2) of dialog.h.
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// Shows the box modally and answers the button that closed it, or 0 when
// it could not be shown (no text, an owner that is not a live window, or
// buttons of a kind it does not know).
OMBRIX_PLATFORM_API int MessageBox(DialogWindow* owner, const char* text, const char* caption, uint32_t type) noexcept;

}  // namespace ombrix::platform
