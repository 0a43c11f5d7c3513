// Finding the program associated with a document and starting programs
// without waiting for them.
#pragma once

#include <ombrix/platform/types.h>

namespace ombrix::platform {

// Answers of FindExecutable: above 32 when a program was found.
inline constexpr intptr_t kFindOutOfResources = 0;
inline constexpr intptr_t kFindFileNotFound = 2;
inline constexpr intptr_t kFindPathNotFound = 3;
inline constexpr intptr_t kFindNoAssociation = 31;
inline constexpr intptr_t kFindFound = 42;

// Finds the program that opens `file` (relative names are taken in
// `directory` when it is given, else in the working folder; the file must
// exist). Its absolute path goes into `result` (`size` bytes). For HTML
// documents: the first usable command of $BROWSER, else the desktop entry
// `xdg-mime query default text/html` names, else xdg-open. The command's
// own arguments are remembered, so StartProgram can apply them.
// Answers kFindFound, or 32 or less when none was found (kFindOutOfResources
// also when `result` is too small).
OMBRIX_PLATFORM_API intptr_t FindExecutable(const char* file, const char* directory, char* result,
                                            uint32_t size) noexcept;

// Starts `program` with the null-terminated argument vector `argv`
// (argv[0] first) and returns at once: no shell, no waiting; the child runs
// in its own session with standard input and output on /dev/null and is
// reaped when it ends. When `program` was found by FindExecutable, its
// command's arguments are applied ("%u", "%s" and the like take argv[1...]);
// such a document argument that begins with '-' is refused
// (kErrInvalidParameter), so no address can pass itself off as an option.
OMBRIX_PLATFORM_API Status StartProgram(const char* program, const char* const* argv) noexcept;

}  // namespace ombrix::platform
