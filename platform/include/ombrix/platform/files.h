// The temporary folder, and making files there without following or reusing
// anything another user may have put in the way.
#pragma once

#include <ombrix/platform/types.h>

namespace ombrix::platform {

inline constexpr uint32_t kMaxPath = 4096;

// Writes the temporary folder's path, ending in '/', into `buffer`. Answers
// its length without the NUL; when `size` is too small, the size needed
// (NUL included) and nothing written; 0 on failure.
OMBRIX_PLATFORM_API uint32_t GetTempFolder(uint32_t size, char* buffer) noexcept;

// Creates a new directory that only the current user can use (mode 0700,
// owned by the user, a real directory, fresh: never one that existed
// before), under $XDG_RUNTIME_DIR when that is a private folder of the user,
// else under the temporary folder. Its path (no trailing '/') goes into
// `buffer`; kErrInsufficientBuffer when it does not fit (nothing is left behind).
OMBRIX_PLATFORM_API Status MakePrivateDirectory(char* buffer, uint32_t size) noexcept;

// Creates the file `path` for writing, exclusively: fails with kErrFileExists
// when anything (a file, a link, a dangling link) already has that name, and
// never follows a link. The folder must belong to the user (or root) and be
// writable by nobody else unless it is sticky; otherwise kErrAccessDenied.
// With `fd` null the file is closed at once; else the caller owns the
// descriptor (close-on-exec).
OMBRIX_PLATFORM_API Status CreateNewFile(const char* path, int* fd) noexcept;

OMBRIX_PLATFORM_API Status DeleteFile(const char* path) noexcept;
// Removes an empty directory.
OMBRIX_PLATFORM_API Status RemoveDirectory(const char* path) noexcept;

}  // namespace ombrix::platform
