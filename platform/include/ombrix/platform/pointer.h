// The pointer as a plug-in's modal mouse loop reads it: position, buttons,
// the thread mouse hook and the cursor shown.
//
// In the headless backend the pointer follows a script the host fills
// (PushPointerEvents below). A loop that polls the pointer takes the next
// scripted event on each poll: the position, buttons and modifier keys
// change, the clock is stopped at the event's time (or stays, when a wait
// has already moved it past), the pen's packet (if
// any) reaches the tablet driver, and the hooks of the polling thread see
// the event's message. When the script runs out the
// buttons are released, so that a loop waiting for a release always ends.
#pragma once

#include <ombrix/platform/tablet.h>
#include <ombrix/platform/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ombrix::platform {

struct PointerPoint {
  int x = 0, y = 0;  // screen pixels (headless: the pixels of the screen view, view.h)
};

// Mouse messages, as hooks receive them.
inline constexpr unsigned kWmMouseMove = 0x0200;
inline constexpr unsigned kWmLButtonDown = 0x0201;
inline constexpr unsigned kWmLButtonUp = 0x0202;
inline constexpr unsigned kWmRButtonDown = 0x0204;
inline constexpr unsigned kWmRButtonUp = 0x0205;

// The pointer's position now.
OMBRIX_PLATFORM_API bool GetCursorPos(PointerPoint* point) noexcept;

// Whether the button (kVkLButton or kVkRButton of input.h) is down now.
OMBRIX_PLATFORM_API bool IsButtonDown(int virtual_button) noexcept;

// One poll of a modal mouse loop: takes the next pointer event, then
// answers whether `virtual_button` is still down. Answers false (and the
// buttons are up) once the script has run out.
OMBRIX_PLATFORM_API bool PollPointer(int virtual_button) noexcept;

// Waits for the next press of any button; false when none comes (the
// script ran out). The press is taken: position and buttons follow it.
OMBRIX_PLATFORM_API bool WaitForPress() noexcept;

// ---------------------------------------------------------------------------
// The thread mouse hook
// ---------------------------------------------------------------------------
inline constexpr int kWhMouse = 7;
inline constexpr int kHcAction = 0;

// What a mouse hook is handed with each message (lparam points to it).
struct MouseHookInfo {
  PointerPoint point;
  void* window = nullptr;
  unsigned hit_test = 0;
  uintptr_t extra_info = 0;
};

struct Hook;  // opaque
using MouseHookProc = intptr_t (*)(int code, uintptr_t message, intptr_t lparam);

OMBRIX_PLATFORM_API uint32_t GetCurrentThreadId() noexcept;
// Installs a hook of kind `id` (only kWhMouse) for `thread_id` (0: every
// thread). Null when the kind is unknown or `proc` is null.
OMBRIX_PLATFORM_API Hook* SetWindowsHookEx(int id, MouseHookProc proc, void* module, uint32_t thread_id) noexcept;
OMBRIX_PLATFORM_API bool UnhookWindowsHookEx(Hook* hook) noexcept;
// What a hook answers for messages it passes on: the next hook's answer, 0 at the end.
OMBRIX_PLATFORM_API intptr_t CallNextHookEx(Hook* hook, int code, uintptr_t message, intptr_t lparam) noexcept;

// ---------------------------------------------------------------------------
// Cursors
// ---------------------------------------------------------------------------
inline constexpr int kCursorArrow = 32512;
inline constexpr int kCursorNone = 0;
// Shows the cursor of resource or system id `cursor` (kCursorNone hides it);
// answers the one shown before.
OMBRIX_PLATFORM_API int SetCursor(int cursor) noexcept;

// ---------------------------------------------------------------------------
// The host's side (headless)
// ---------------------------------------------------------------------------
enum class PointerButton { kNone, kLeft, kRight };

struct PointerEvent {
  enum Kind { kMove, kDown, kUp } kind = kMove;
  PointerPoint point;
  PointerButton button = PointerButton::kLeft;                       // for kDown and kUp
  bool shift = false, control = false, alt = false, escape = false;  // key states from this event on
  int64_t time_us = -1;                                              // the clock is stopped here; negative leaves it
  // What the pen sends with this event, as a real pen moves the pointer and
  // reports to the tablet driver at once: when the event is taken the
  // packet is stamped with the clock's tick count and added to the
  // installed driver's packets (tablet.h).
  std::optional<TabletScriptPacket> pen;
};

// Appends events to the script.
OMBRIX_PLATFORM_API void PushPointerEvents(const std::vector<PointerEvent>& events);
OMBRIX_PLATFORM_API size_t PendingPointerEvents();
// Takes the event at once (as the host does for the press it sends as a
// click): the state follows it and the calling thread's hooks see it.
OMBRIX_PLATFORM_API void DeliverPointerEvent(const PointerEvent& event);
// Drops the script, releases the buttons, keeps the position.
OMBRIX_PLATFORM_API void ClearPointer();

OMBRIX_PLATFORM_API size_t InstalledHookCount();
// The cursor shown now, and every cursor set since the last clear.
OMBRIX_PLATFORM_API int CurrentCursor();
OMBRIX_PLATFORM_API std::vector<int> CursorLog();
OMBRIX_PLATFORM_API void ClearCursorLog();

}  // namespace ombrix::platform
