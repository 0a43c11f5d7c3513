// The system colour chooser: a modal dialog in which the user picks one
// colour, starting from a given one.
//
// In the headless backend the chooser takes the next colour answer of the
// scripts (headless.h) and records what it was asked and what it answered.
#pragma once

#include <ombrix/platform/types.h>

namespace ombrix::platform {

// A colour as the system passes it: 0x00BBGGRR.
using ColorRef = uint32_t;

constexpr ColorRef MakeColorRef(uint8_t red, uint8_t green, uint8_t blue) {
  return ColorRef(red) | ColorRef(green) << 8 | ColorRef(blue) << 16;
}
constexpr uint8_t RedOf(ColorRef c) { return uint8_t(c & 0xFFu); }
constexpr uint8_t GreenOf(ColorRef c) { return uint8_t((c >> 8) & 0xFFu); }
constexpr uint8_t BlueOf(ColorRef c) { return uint8_t((c >> 16) & 0xFFu); }

// Chooser flags (bits as the system defines them).
inline constexpr uint32_t kCcRgbInit = 0x0001;  // start from `color` (else from black)
inline constexpr uint32_t kCcFullOpen = 0x0002;
inline constexpr uint32_t kCcPreventFullOpen = 0x0004;
inline constexpr uint32_t kCcAnyColor = 0x0100;

// The custom colours the chooser keeps between calls, owned by the caller.
inline constexpr int kCustomColorCount = 16;

struct ChooseColorRequest {
  DialogWindow* owner = nullptr;      // a live window, or null
  ColorRef color = 0;                 // in: the first colour (with kCcRgbInit); out: the chosen one
  ColorRef* custom_colors = nullptr;  // kCustomColorCount entries; required
  uint32_t flags = 0;
};

// Shows the chooser modally. True when the user chose a colour, which is
// then in request->color. False, with request->color unchanged, when the
// user cancelled or the chooser could not be shown (no request, no custom
// colours, an owner that is not a live window).
OMBRIX_PLATFORM_API bool ChooseColor(ChooseColorRequest* request) noexcept;

}  // namespace ombrix::platform
