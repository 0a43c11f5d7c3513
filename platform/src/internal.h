// Shared helpers of the platform's sources (not installed).
#pragma once

#include <ombrix/platform/types.h>

#include <cstdint>
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

}  // namespace ombrix::platform::detail
