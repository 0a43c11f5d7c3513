// Configuration of the platform by the host (and tests): where the registry
// lives, the scripts that answer dialogs, the key states, the main window,
// how programs are started, and the records of what happened.
//
// These calls are for the host, not for plug-ins: they use standard library
// types and may allocate.
#pragma once

#include <ombrix/platform/color.h>
#include <ombrix/platform/dialog.h>
#include <ombrix/platform/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ombrix::platform {

// ---------------------------------------------------------------------------
// Registry
// ---------------------------------------------------------------------------
// The folder of the registry store; empty means the user's configuration
// folder ($XDG_CONFIG_HOME/ombrix, else ~/.config/ombrix). Takes effect at once.
OMBRIX_PLATFORM_API void SetRegistryDirectory(std::string_view dir);
// The folder in use and the store file within it.
OMBRIX_PLATFORM_API std::string RegistryDirectory();
OMBRIX_PLATFORM_API std::string RegistryFile();

enum class RegistryCall { kOpen, kCreate, kQuery, kSet };
// The n-th call (1-based, counted from now) of `call` answers `status`
// without touching the store.
OMBRIX_PLATFORM_API void FailRegistryCall(RegistryCall call, int nth, Status status);
OMBRIX_PLATFORM_API void ClearRegistryFailures();

// ---------------------------------------------------------------------------
// Keyboard and beep
// ---------------------------------------------------------------------------
OMBRIX_PLATFORM_API void SetKeyDown(int virtual_key, bool down);
OMBRIX_PLATFORM_API void ReleaseAllKeys();

// Beeps counted by sound type since the last reset.
OMBRIX_PLATFORM_API uint32_t BeepCount(uint32_t sound_type);
OMBRIX_PLATFORM_API uint32_t BeepTotal();
OMBRIX_PLATFORM_API std::vector<uint32_t> BeepLog();  // sound types in order
OMBRIX_PLATFORM_API void ResetBeeps();

// ---------------------------------------------------------------------------
// Clock
// ---------------------------------------------------------------------------
// Stops the clock at `microseconds` (the tick count reads that ÷ 1000); it
// stays there until set or advanced again.
OMBRIX_PLATFORM_API void SetScriptedClock(int64_t microseconds);
// Moves the stopped clock on (stopping it at its last scripted time first).
OMBRIX_PLATFORM_API void AdvanceScriptedClock(int64_t microseconds);
// Whether the high-resolution counter exists (present by default).
OMBRIX_PLATFORM_API void SetHighResolutionCounterPresent(bool present);
// Back to the system's monotonic clock, with the high-resolution counter.
OMBRIX_PLATFORM_API void UseSystemClock();

// ---------------------------------------------------------------------------
// Temporary folder
// ---------------------------------------------------------------------------
// Overrides the temporary folder (empty: $TMPDIR, else /tmp).
OMBRIX_PLATFORM_API void SetTempFolder(std::string_view dir);

// ---------------------------------------------------------------------------
// Starting programs
// ---------------------------------------------------------------------------
enum class LaunchMode {
  kStart,       // start the program for real (and record it)
  kRecordOnly,  // record what would be started; start nothing
};
OMBRIX_PLATFORM_API void SetLaunchMode(LaunchMode mode);

struct LaunchRecord {
  std::string program;            // the program file started
  std::vector<std::string> argv;  // the argument vector, argv[0] first
  int pid = 0;                    // 0 when not started
  Status status = kOk;            // the start's own result
};
OMBRIX_PLATFORM_API std::vector<LaunchRecord> LaunchRecords();
OMBRIX_PLATFORM_API void ClearLaunchRecords();

// ---------------------------------------------------------------------------
// Dialogs
// ---------------------------------------------------------------------------
// The host's main window: a headless window made by the platform, handed to
// plug-ins through the host's platform data. An interactive backend may set
// its own.
OMBRIX_PLATFORM_API DialogWindow* MainWindow();

enum class DialogStepKind {
  kSetText,   // type `text` into edit `id` (then EN_CHANGE)
  kSetCheck,  // bring check box / radio `id` to `value` by clicking it if needed
  kScroll,    // scroll action `value` on bar `id` (thumb actions carry `pos`), then end-scroll
  kClick,     // click button `id` (push, check box or radio)
  kSet,       // by the control's kind: edit text, check state, or bar thumb position
  kCommand,   // send WM_COMMAND (id, code `value`) as the keyboard would (Enter, Escape)
};

struct DialogStep {
  DialogStepKind kind = DialogStepKind::kClick;
  int id = 0;
  std::string text;
  int value = 0;
  int pos = 0;
};

// How the user leaves a colour chooser: with a colour, or with Cancel.
struct ColorAnswer {
  bool cancel = false;
  ColorRef color = 0;
};

struct DialogScript {
  std::vector<DialogStep> steps;
  // Answers for the colour choosers opened while this dialog is the
  // innermost one open, in the order they open.
  std::vector<ColorAnswer> colors;
  bool fail_create = false;       // DialogBoxParam answers -1
  bool refuse_user_data = false;  // SetWindowUserData fails in this dialog
};

// Scripts answer dialogs in the order they are shown (nested ones included).
// A dialog shown with no script left runs with an empty script.
OMBRIX_PLATFORM_API void PushDialogScript(DialogScript script);
OMBRIX_PLATFORM_API void ClearDialogScripts();
OMBRIX_PLATFORM_API size_t PendingDialogScripts();

// Parses a script from text: steps separated by ';' or newlines, each one of
//   text ID=TEXT      check ID=0|1     click ID      ok     cancel
//   scroll ID=ACTION[@POS]   (ACTION a number or lineleft, lineright,
//                             pageleft, pageright, thumbposition, thumbtrack,
//                             left, right, endscroll)
//   set ID=VALUE     command ID[=CODE]
//   color #RRGGBB    color cancel     (answers for colour choosers)
//   fail-create     refuse-user-data
// TEXT runs to the end of the step; "\;" stands for ';' and "\\" for '\'.
// Answers false with a message in `error` when the text is not a script.
OMBRIX_PLATFORM_API bool ParseDialogScript(std::string_view text, DialogScript* script, std::string* error);

// Values for DialogRecord::result beside the dialog's own.
inline constexpr intptr_t kDialogScriptExhausted = -2;
inline constexpr intptr_t kDialogScriptError = -3;

enum class DialogOutcome {
  kEnded,            // the procedure called EndDialog
  kScriptExhausted,  // still open after the last step: closed by the platform
  kScriptError,      // a step named a missing, disabled or unsuitable control
  kNotCreated,       // DialogBoxParam failed before the dialog existed
};

struct ControlRecord {
  int id = 0;
  ControlKind kind = ControlKind::kStatic;
  std::string text;
  unsigned check = 0;
  int scroll_min = 0, scroll_max = 0, scroll_pos = 0;
  int sel_start = 0, sel_end = 0;
  bool enabled = true;
  int redraws = 0;  // scroll changes made with the redraw flag
};

struct MessageRecord {
  unsigned msg = 0;
  uintptr_t wparam = 0;
  intptr_t lparam = 0;
  intptr_t result = 0;
};

struct DialogRecord {
  std::string title;
  intptr_t result = 0;  // what DialogBoxParam returned
  DialogOutcome outcome = DialogOutcome::kEnded;
  std::string error;  // for kScriptError and kNotCreated
  int steps_run = 0;
  int steps_unused = 0;   // steps left over when the dialog ended
  int colors_unused = 0;  // colour answers no chooser asked for
  int focus_id = 0;       // control with the focus at the end (0: none)
  intptr_t user_data = 0;
  std::vector<ControlRecord> controls;  // template order
  std::vector<MessageRecord> messages;  // every message given to the procedure
};
OMBRIX_PLATFORM_API std::vector<DialogRecord> DialogRecords();
OMBRIX_PLATFORM_API void ClearDialogRecords();

// ---------------------------------------------------------------------------
// Colour chooser
// ---------------------------------------------------------------------------
// Reads "#RRGGBB" (hex digits of either case) or "cancel".
OMBRIX_PLATFORM_API bool ParseColorAnswer(std::string_view text, ColorAnswer* answer);

// A chooser opened inside a dialog takes the next colour answer of that
// dialog's script; one opened while no dialog is open takes the next answer
// queued here. A chooser with no answer left is closed as by Cancel.
OMBRIX_PLATFORM_API void PushColorAnswer(ColorAnswer answer);
OMBRIX_PLATFORM_API void ClearColorAnswers();
OMBRIX_PLATFORM_API size_t PendingColorAnswers();

enum class ColorChooserOutcome {
  kChosen,      // a colour was answered
  kCancelled,   // the answer was Cancel
  kUnanswered,  // no answer was left: closed as by Cancel
  kNotShown,    // the request could not be shown
};

struct ColorChooserRecord {
  std::string owner;     // the title of the owner (a control: of its dialog); empty without one
  ColorRef initial = 0;  // the colour shown first (black without kCcRgbInit)
  uint32_t flags = 0;
  ColorChooserOutcome outcome = ColorChooserOutcome::kUnanswered;
  ColorRef chosen = 0;  // kChosen: what the chooser answered
  std::string error;    // kNotShown: why
};
OMBRIX_PLATFORM_API std::vector<ColorChooserRecord> ColorChooserRecords();
OMBRIX_PLATFORM_API void ClearColorChooserRecords();

// ---------------------------------------------------------------------------
// Menus
// ---------------------------------------------------------------------------
// How the user leaves the next popup menu: by choosing the item with this
// id, or (0) by dismissing it. A popup with no answer left is dismissed.
OMBRIX_PLATFORM_API void PushMenuAnswer(int id);
OMBRIX_PLATFORM_API void ClearMenuAnswers();
OMBRIX_PLATFORM_API size_t PendingMenuAnswers();

enum class MenuOutcome {
  kChosen,      // the answer was an item that could be chosen
  kDismissed,   // the answer was 0
  kUnanswered,  // no answer was left: dismissed
  kDisabled,    // the answer named an item that is disabled, or inside a disabled submenu: dismissed
  kNoSuchItem,  // the answer named no command item of the menu: dismissed
  kNotShown,    // the menu or its owner did not exist
};

struct MenuItemRecord {
  int id = 0;        // 0 for popups and separators
  std::string path;  // the names from the menu shown down to the item: "Edit > Paste > Radius"
  int depth = 0;     // 0 for the items of the menu shown
  bool popup = false;
  bool separator = false;
  bool checked = false;
  bool enabled = true;    // the item's own state
  bool reachable = true;  // enabled, and so is every submenu above it
};

struct MenuRecord {
  std::string owner;  // the owner's title (a control: its dialog's)
  int x = 0, y = 0;
  uint32_t flags = 0;
  std::vector<MenuItemRecord> items;  // as shown: each popup item followed by its submenu
  MenuOutcome outcome = MenuOutcome::kUnanswered;
  int answer = 0;     // the scripted answer
  int chosen = 0;     // what TrackPopupMenu answered
  std::string item;   // the path of the item the answer named, when there is one
  std::string error;  // kNotShown: why
};
OMBRIX_PLATFORM_API std::vector<MenuRecord> MenuRecords();
OMBRIX_PLATFORM_API void ClearMenuRecords();

// ---------------------------------------------------------------------------
// Message boxes
// ---------------------------------------------------------------------------
// The button (kIdOk, kIdCancel, kIdYes, kIdNo) that closes the next message
// box. A box with no answer left, or answered with a button it does not
// have, is closed as by Escape: Cancel, No, or OK for a box with only OK.
OMBRIX_PLATFORM_API void PushMessageBoxAnswer(int button);
OMBRIX_PLATFORM_API void ClearMessageBoxAnswers();
OMBRIX_PLATFORM_API size_t PendingMessageBoxAnswers();

enum class MessageBoxOutcome {
  kAnswered,    // closed by the scripted button
  kUnanswered,  // no answer was left: closed as by Escape
  kRefused,     // the answer is not one of its buttons: closed as by Escape
  kNotShown,    // see MessageBox
};

struct MessageBoxRecord {
  std::string owner;  // the owner's title; empty without one
  std::string text;
  std::string caption;
  uint32_t type = 0;
  MessageBoxOutcome outcome = MessageBoxOutcome::kUnanswered;
  int answer = 0;  // the scripted answer
  int result = 0;  // what MessageBox answered
  std::string error;
};
OMBRIX_PLATFORM_API std::vector<MessageBoxRecord> MessageBoxRecords();
OMBRIX_PLATFORM_API void ClearMessageBoxRecords();

// ---------------------------------------------------------------------------
// Module resources
// ---------------------------------------------------------------------------
enum class ResourceKind { kString, kIcon };
// Every load of resource `id` of that kind fails, in any module, until the
// failures are cleared.
OMBRIX_PLATFORM_API void FailResourceLoad(ResourceKind kind, int id);
OMBRIX_PLATFORM_API void ClearResourceFailures();

// ---------------------------------------------------------------------------
// Info palette
// ---------------------------------------------------------------------------
struct InfoPaletteRecord {
  bool is_color = false;
  std::string line1, line2;              // text shown
  uint8_t red = 0, green = 0, blue = 0;  // colour shown
};
OMBRIX_PLATFORM_API std::vector<InfoPaletteRecord> InfoPaletteRecords();
OMBRIX_PLATFORM_API void ClearInfoPaletteRecords();

// Back to a fresh headless state: no scripts, colour, menu and message-box
// answers, records, beeps, keys, registry and resource failures, tablet
// driver (tablet.h), window records (window.h), pointer script and cursor log
// (pointer.h); launch mode kStart; the system clock; the registry and temp
// folders unchanged.
OMBRIX_PLATFORM_API void ResetHeadless();

}  // namespace ombrix::platform
