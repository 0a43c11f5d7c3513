// The per-user registry: keys under the current user's hive, named by
// backslash-separated paths ("Software\\Kestrane\\Ombrix One"), each holding
// typed values with an exact byte size; the unnamed (default) value is named
// by nullptr or "". Key and value names compare case-insensitively (ASCII).
//
// The store is one file in a directory the host chooses (see headless.h);
// every change is written through atomically, so other processes see it.
#pragma once

#include <ombrix/platform/types.h>

namespace ombrix::platform {

struct RegKey;
using RegKeyHandle = RegKey*;

// The root of the current user's hive: a predefined handle, never closed.
OMBRIX_PLATFORM_API extern RegKeyHandle const kRegCurrentUser;

// Value types.
inline constexpr uint32_t kRegNone = 0;
inline constexpr uint32_t kRegString = 1;
inline constexpr uint32_t kRegExpandString = 2;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;

// Access rights (bits as the system defines them).
inline constexpr uint32_t kKeyQueryValue = 0x0001;
inline constexpr uint32_t kKeySetValue = 0x0002;
inline constexpr uint32_t kKeyCreateSubKey = 0x0004;
inline constexpr uint32_t kKeyRead = 0x20019;
inline constexpr uint32_t kKeyWrite = 0x20006;
inline constexpr uint32_t kKeyAllAccess = 0xF003F;

// Creation options and dispositions.
inline constexpr uint32_t kRegOptionNonVolatile = 0;
inline constexpr uint32_t kRegOptionVolatile = 1;  // kept in this process only
inline constexpr uint32_t kRegCreatedNewKey = 1;
inline constexpr uint32_t kRegOpenedExistingKey = 2;

// The largest value accepted, in bytes.
inline constexpr uint32_t kRegMaxValueSize = 1u << 20;

// Opens an existing key below `parent`. kErrFileNotFound when it does not exist.
OMBRIX_PLATFORM_API Status RegOpenKey(RegKeyHandle parent, const char* subkey, uint32_t access,
                                      RegKeyHandle* result) noexcept;

// Opens the key, creating it and any missing keys above it. `disposition`
// (may be null) receives kRegCreatedNewKey or kRegOpenedExistingKey.
OMBRIX_PLATFORM_API Status RegCreateKey(RegKeyHandle parent, const char* subkey, uint32_t options, uint32_t access,
                                        RegKeyHandle* result, uint32_t* disposition) noexcept;

// Reads a value. `type` may be null. With `data` null, *size receives the
// value's size. With a buffer smaller than the value: kErrMoreData, *size
// set to the size needed and nothing copied. kErrFileNotFound when the value
// does not exist; kErrAccessDenied without kKeyQueryValue access.
OMBRIX_PLATFORM_API Status RegQueryValue(RegKeyHandle key, const char* name, uint32_t* type, void* data,
                                         uint32_t* size) noexcept;

// Writes a value of `size` bytes (replacing any value of that name).
// kErrAccessDenied without kKeySetValue access; kErrStoreIoFailed (or
// kErrAccessDenied) when the store cannot be written, in which case the
// value is not changed.
OMBRIX_PLATFORM_API Status RegSetValue(RegKeyHandle key, const char* name, uint32_t type, const void* data,
                                       uint32_t size) noexcept;

OMBRIX_PLATFORM_API Status RegCloseKey(RegKeyHandle key) noexcept;

}  // namespace ombrix::platform
