// Common vocabulary of the platform layer: result codes shaped like the
// operating system's, the window handle, the export macro.
//
// Plug-ins call these functions the way they would call the operating
// system: every entry point is noexcept and answers with a result code.
#pragma once

#include <cstdint>

#define OMBRIX_PLATFORM_API __attribute__((visibility("default")))

namespace ombrix::platform {

// Result codes. 0 is success; the others keep the numbers of the system
// errors they stand for, so code written against those numbers reads the same.
using Status = int32_t;
inline constexpr Status kOk = 0;
inline constexpr Status kErrFileNotFound = 2;
inline constexpr Status kErrPathNotFound = 3;
inline constexpr Status kErrAccessDenied = 5;
inline constexpr Status kErrInvalidHandle = 6;
inline constexpr Status kErrOutOfMemory = 14;
inline constexpr Status kErrFileExists = 80;
inline constexpr Status kErrInvalidParameter = 87;
inline constexpr Status kErrInsufficientBuffer = 122;
inline constexpr Status kErrBadPathName = 161;
inline constexpr Status kErrMoreData = 234;
inline constexpr Status kErrBadStore = 1009;       // the store could not be read
inline constexpr Status kErrStoreIoFailed = 1016;  // the store could not be written
inline constexpr Status kErrChildMustBeVolatile = 1021;
inline constexpr Status kErrNotSupported = 50;

// A window: the host's main window, a dialog or one of its controls (like a
// window handle, a control is a window too). Opaque; only valid while the
// window exists. Every function that takes one checks that it still does.
struct DialogWindow;

// Diagnostics: messages the platform has for the user that no caller can
// take (a damaged settings store, a store set aside). The default hook
// writes one line to stderr; the host may route them elsewhere.
using DiagnosticsHook = void (*)(const char* message, void* user);
OMBRIX_PLATFORM_API void SetDiagnosticsHook(DiagnosticsHook hook, void* user) noexcept;

}  // namespace ombrix::platform
