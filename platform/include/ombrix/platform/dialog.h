// Modal dialogs built from templates, driven by a dialog procedure that
// receives the usual messages, with the usual control operations.
//
// In the headless backend a script (headless.h) plays the user: it types
// into edits, clicks buttons and scroll bars, and the dialog procedure runs
// for real. What the dialog showed and how it ended is recorded.
#pragma once

#include <ombrix/platform/types.h>

namespace ombrix::platform {

enum class ControlKind : uint8_t {
  kEdit,
  kStatic,
  kCheckBox,
  kRadioButton,
  kPushButton,
  kHScrollBar,
  kGroupBox,
};

// Control flags.
inline constexpr uint32_t kControlGroup = 1u << 0;     // starts a new radio group
inline constexpr uint32_t kControlDefault = 1u << 1;   // the default push button
inline constexpr uint32_t kControlDisabled = 1u << 2;  // created disabled
inline constexpr uint32_t kControlManual = 1u << 3;    // check/radio not toggled by a click

struct DialogControl {
  int id;
  ControlKind kind;
  const char* text;
  int16_t x, y, cx, cy;  // dialog units
  uint32_t flags;
};

struct DialogTemplate {
  const char* title;
  int16_t cx, cy;  // dialog units
  const char* font_name;
  int16_t font_size;
  const DialogControl* controls;
  int control_count;
};

// Messages (numbers as the system defines them).
inline constexpr unsigned kWmDestroy = 0x0002;
inline constexpr unsigned kWmSetText = 0x000C;
inline constexpr unsigned kWmGetText = 0x000D;
inline constexpr unsigned kWmGetTextLength = 0x000E;
inline constexpr unsigned kWmInitDialog = 0x0110;
inline constexpr unsigned kWmCommand = 0x0111;
inline constexpr unsigned kWmHScroll = 0x0114;
inline constexpr unsigned kEmGetSel = 0x00B0;
inline constexpr unsigned kEmSetSel = 0x00B1;
inline constexpr unsigned kBmGetCheck = 0x00F0;
inline constexpr unsigned kBmSetCheck = 0x00F1;
inline constexpr unsigned kBmClick = 0x00F5;

// Command notification codes (high word of a WM_COMMAND wparam).
inline constexpr unsigned kBnClicked = 0;
inline constexpr unsigned kEnChange = 0x0300;

// Scroll actions (low word of a WM_HSCROLL wparam; the high word carries
// the position for the two thumb actions).
inline constexpr unsigned kSbLineLeft = 0;
inline constexpr unsigned kSbLineRight = 1;
inline constexpr unsigned kSbPageLeft = 2;
inline constexpr unsigned kSbPageRight = 3;
inline constexpr unsigned kSbThumbPosition = 4;
inline constexpr unsigned kSbThumbTrack = 5;
inline constexpr unsigned kSbLeft = 6;
inline constexpr unsigned kSbRight = 7;
inline constexpr unsigned kSbEndScroll = 8;

// The scroll bar addressed by the scroll functions: the control itself.
inline constexpr int kSbCtl = 2;

// Button ids and check states.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr unsigned kUnchecked = 0;
inline constexpr unsigned kChecked = 1;

constexpr uintptr_t MakeWParam(unsigned low, unsigned high) {
  return uintptr_t((low & 0xFFFFu) | ((high & 0xFFFFu) << 16));
}
constexpr unsigned LowWord(uintptr_t v) { return unsigned(v & 0xFFFFu); }
constexpr unsigned HighWord(uintptr_t v) { return unsigned((v >> 16) & 0xFFFFu); }

// Returns nonzero when the message was handled. For kWmInitDialog, nonzero
// asks for the focus to go to the first control that can take it.
using DialogProc = intptr_t (*)(DialogWindow* dialog, unsigned msg, uintptr_t wparam, intptr_t lparam);

// Runs a modal dialog and returns the value given to EndDialog. Returns 0
// when `parent` is not null and not a live window, -1 when the dialog cannot
// be created (no template or procedure, a damaged template, or the script
// says so). `init_param` arrives as the lparam of kWmInitDialog.
OMBRIX_PLATFORM_API intptr_t DialogBoxParam(const DialogTemplate* tmpl, DialogWindow* parent, DialogProc proc,
                                            intptr_t init_param) noexcept;

// Ends the dialog once the current message has been handled.
OMBRIX_PLATFORM_API bool EndDialog(DialogWindow* dialog, intptr_t result) noexcept;

OMBRIX_PLATFORM_API DialogWindow* GetDialogItem(DialogWindow* dialog, int id) noexcept;
OMBRIX_PLATFORM_API int GetDialogControlId(DialogWindow* control) noexcept;

OMBRIX_PLATFORM_API bool SetDialogItemText(DialogWindow* dialog, int id, const char* text) noexcept;
// Copies at most size - 1 characters and a NUL; returns the characters copied.
OMBRIX_PLATFORM_API uint32_t GetDialogItemText(DialogWindow* dialog, int id, char* buffer, uint32_t size) noexcept;

// Check boxes and radio buttons (state 0 or 1; check boxes also 2).
OMBRIX_PLATFORM_API bool CheckDialogButton(DialogWindow* dialog, int id, unsigned state) noexcept;
OMBRIX_PLATFORM_API unsigned IsDialogButtonChecked(DialogWindow* dialog, int id) noexcept;

OMBRIX_PLATFORM_API bool EnableWindow(DialogWindow* window, bool enable) noexcept;

// Keyboard focus within the active dialog. Returns the window that had it.
OMBRIX_PLATFORM_API DialogWindow* SetFocus(DialogWindow* window) noexcept;
OMBRIX_PLATFORM_API DialogWindow* GetFocus() noexcept;

// Edit selection in characters; an end of -1 or past the text means its end,
// a start of -1 removes the selection.
OMBRIX_PLATFORM_API bool SetEditSelection(DialogWindow* edit, int start, int end) noexcept;
OMBRIX_PLATFORM_API bool GetEditSelection(DialogWindow* edit, int* start, int* end) noexcept;

// Scroll bar controls (`bar` is kSbCtl). A new bar runs 0..100 at 0.
// SetScrollPos clamps into the range and returns the previous position.
OMBRIX_PLATFORM_API bool SetScrollRange(DialogWindow* bar_window, int bar, int min, int max, bool redraw) noexcept;
OMBRIX_PLATFORM_API bool GetScrollRange(DialogWindow* bar_window, int bar, int* min, int* max) noexcept;
OMBRIX_PLATFORM_API int SetScrollPos(DialogWindow* bar_window, int bar, int pos, bool redraw) noexcept;
OMBRIX_PLATFORM_API int GetScrollPos(DialogWindow* bar_window, int bar) noexcept;

// Per-window user data. Setting answers false when it failed (the previous
// value is left in place).
OMBRIX_PLATFORM_API bool SetWindowUserData(DialogWindow* window, intptr_t value) noexcept;
OMBRIX_PLATFORM_API intptr_t GetWindowUserData(DialogWindow* window) noexcept;

// Sends a message: to a dialog, its procedure handles it; to a control, the
// control answers kWmSetText, kWmGetText, kWmGetTextLength, kEmSetSel,
// kEmGetSel, kBmSetCheck, kBmGetCheck and kBmClick (a click as the user
// makes it). Other messages answer 0.
OMBRIX_PLATFORM_API intptr_t SendMessage(DialogWindow* window, unsigned msg, uintptr_t wparam,
                                         intptr_t lparam) noexcept;

}  // namespace ombrix::platform
