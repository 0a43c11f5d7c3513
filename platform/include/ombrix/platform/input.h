// Keyboard state and the system beep.
#pragma once

#include <ombrix/platform/types.h>

namespace ombrix::platform {

// Virtual key codes.
inline constexpr int kVkShift = 0x10;
inline constexpr int kVkControl = 0x11;
inline constexpr int kVkAlt = 0x12;  // "menu" key
inline constexpr int kVkEscape = 0x1B;
inline constexpr int kVkLButton = 0x01;
inline constexpr int kVkRButton = 0x02;

inline constexpr uint16_t kKeyDownBit = 0x8000;

// The key's state word: bit 15 set while the key is down. In the headless
// backend the host or a script sets the states (headless.h).
OMBRIX_PLATFORM_API uint16_t GetKeyState(int virtual_key) noexcept;

// Sound types.
inline constexpr uint32_t kBeepSimple = 0xFFFFFFFFu;
inline constexpr uint32_t kBeepDefault = 0x00000000u;
inline constexpr uint32_t kBeepError = 0x00000010u;
inline constexpr uint32_t kBeepQuestion = 0x00000020u;
inline constexpr uint32_t kBeepWarning = 0x00000030u;
inline constexpr uint32_t kBeepInformation = 0x00000040u;

// Sounds the system beep of the given type. Headless: counted per type,
// never sounded. Answers true.
OMBRIX_PLATFORM_API bool MessageBeep(uint32_t sound_type) noexcept;

}  // namespace ombrix::platform
