// Plain top-level windows of registered classes: what a plug-in makes when
// it needs a hidden window of its own to receive a driver's messages (Paint's
// tablet owner window).
//
// Headless, a window is a record: it is never shown, and a message sent to it
// runs its class's window procedure at once, on the caller's thread.
#pragma once

#include <ombrix/platform/types.h>

#include <string>
#include <vector>

namespace ombrix::platform {

struct Window;  // opaque; only valid while the window exists

using WindowProc = intptr_t (*)(Window* window, unsigned msg, uintptr_t wparam, intptr_t lparam);

// Window styles.
inline constexpr uint32_t kWsPopup = 0x80000000u;
inline constexpr uint32_t kWsDisabled = 0x08000000u;

struct WindowClass {
  const char* name;  // compared without regard to ASCII case
  WindowProc proc;
};

// False when the class has no name or procedure, or the name is taken.
OMBRIX_PLATFORM_API bool RegisterWindowClass(const WindowClass* window_class) noexcept;

// False when no such class is registered or windows of it still exist.
OMBRIX_PLATFORM_API bool UnregisterWindowClass(const char* name) noexcept;

// Null when the class is not registered or the parent is not a window.
OMBRIX_PLATFORM_API Window* CreateWindowEx(uint32_t ex_style, const char* class_name, const char* title, uint32_t style,
                                           int x, int y, int width, int height, Window* parent) noexcept;

// Sends kWmDestroy to the window's procedure, then the handle dies.
OMBRIX_PLATFORM_API bool DestroyWindow(Window* window) noexcept;

OMBRIX_PLATFORM_API bool IsWindow(Window* window) noexcept;

// Runs the window's procedure; 0 when `window` is not a window.
OMBRIX_PLATFORM_API intptr_t SendWindowMessage(Window* window, unsigned msg, uintptr_t wparam,
                                               intptr_t lparam) noexcept;

// What a window procedure hands on for messages it does not handle: 0.
OMBRIX_PLATFORM_API intptr_t DefWindowProc(Window* window, unsigned msg, uintptr_t wparam, intptr_t lparam) noexcept;

// ---------------------------------------------------------------------------
// The host's side (headless)
// ---------------------------------------------------------------------------

struct WindowRecord {
  std::string class_name;
  std::string title;
  uint32_t ex_style = 0, style = 0;
  int x = 0, y = 0, width = 0, height = 0;
  bool destroyed = false;
};
// Every window made since the last clear, in order.
OMBRIX_PLATFORM_API std::vector<WindowRecord> WindowRecords();
OMBRIX_PLATFORM_API bool IsWindowClassRegistered(const std::string& name);

enum class WindowCall { kRegisterClass, kCreate };
// The n-th call (1-based, counted from now) of `call` fails.
OMBRIX_PLATFORM_API void FailWindowCall(WindowCall call, int nth);
// Forgets the records and failures (classes and live windows stay).
OMBRIX_PLATFORM_API void ClearWindowRecords();

}  // namespace ombrix::platform
