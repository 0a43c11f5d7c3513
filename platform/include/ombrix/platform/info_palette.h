// The host's info palette: two lines of text and a colour field where an
// effect shows what the pointer is doing (position, pressure, a picked
// colour).
//
// In the headless backend every change is recorded (headless.h).
#pragma once

#include <ombrix/platform/types.h>

namespace ombrix::platform {

// Shows two lines (null for an empty line); text longer than a palette
// line (255 bytes) is cut.
OMBRIX_PLATFORM_API bool InfoPaletteText(const char* line1, const char* line2) noexcept;

// Shows a colour, 8 bits a channel.
OMBRIX_PLATFORM_API bool InfoPaletteColor(uint8_t red, uint8_t green, uint8_t blue) noexcept;

}  // namespace ombrix::platform
