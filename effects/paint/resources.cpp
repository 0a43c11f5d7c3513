// Paint's string table and icons.
#include "resources.h"

#include <array>
#include <cstdint>
#include <iterator>

namespace paint {
namespace {

constexpr ombrix::platform::StringResource kStrings[] = {
    {2, "Single Frame"},
    {3, "Next Frame"},
    {4, "Realtime"},
    {5, "Continuous"},
    {7, "Color"},
    {8, "Paint"},
    {9, "Select"},
    {10, "Erase"},
    {12, "Stylus"},
    {13, "Mouse"},
    {14, "Mouse/Stylus"},
    {16, "Brushtype"},
    {17, "Color"},
    {18, "Radius"},
    {19, "Opacity"},
    {20, "Stylus:"},
    {21, "Feather"},
    {22, "Radius"},
    {23, "Opacity"},
    {24, "Colorclone:"},
    {25, "On"},
    {26, "Off"},
    {28, "Solid"},
    {29, "Paint"},
    {30, "Air"},
    {31, "Square"},
    {33, "No stylus detected"},
    {34, "Stylus vendor: Wacom (compatible)"},
    {35, "Stylus vendor: unknown"},
};

// The stylus indicators' pictures: a pen tip (a disc, filled when the
// pressure control is on, a ring when off); the Swedish set has a blue
// square, crossed in yellow when on. Clear pixels show the item behind.
using IconPixels = std::array<uint32_t, kStylusIconSize * kStylusIconSize>;

constexpr IconPixels StylusIconPixels(bool swedish, bool on) {
  IconPixels px{};
  for (int y = 0; y < kStylusIconSize; ++y) {
    for (int x = 0; x < kStylusIconSize; ++x) {
      uint32_t& p = px[size_t(y * kStylusIconSize + x)];
      if (swedish) {
        const bool cross = x == 3 || x == 4 || y == 4 || y == 5;
        p = on && cross ? 0xFFFFCC00u : 0xFF005BA0u;
      } else {
        // Twice the distance from the centre, squared, against radii 4.5 and 3.5.
        const int dx = 2 * x - 9, dy = 2 * y - 9, d2 = dx * dx + dy * dy;
        p = d2 <= 81 && (on || d2 >= 49) ? 0xFF202020u : 0u;
      }
    }
  }
  return px;
}

constexpr IconPixels kPenOn = StylusIconPixels(false, true), kPenOff = StylusIconPixels(false, false);
constexpr IconPixels kFlagOn = StylusIconPixels(true, true), kFlagOff = StylusIconPixels(true, false);

constexpr ombrix::platform::IconResource kIcons[] = {
    {kStylusIcons[0], kStylusIconSize, kStylusIconSize, kPenOn.data()},
    {kStylusIcons[1], kStylusIconSize, kStylusIconSize, kPenOff.data()},
    {kStylusIcons[2], kStylusIconSize, kStylusIconSize, kPenOn.data()},
    {kStylusIcons[3], kStylusIconSize, kStylusIconSize, kPenOff.data()},
    {kSwedishStylusIcons[0], kStylusIconSize, kStylusIconSize, kFlagOn.data()},
    {kSwedishStylusIcons[1], kStylusIconSize, kStylusIconSize, kFlagOff.data()},
    {kSwedishStylusIcons[2], kStylusIconSize, kStylusIconSize, kFlagOn.data()},
    {kSwedishStylusIcons[3], kStylusIconSize, kStylusIconSize, kFlagOff.data()},
};

constexpr ombrix::platform::ModuleResources kResources = {kStrings, int(std::size(kStrings)), kIcons,
                                                          int(std::size(kIcons))};

}  // namespace

const ombrix::platform::ModuleResources* PaintResources() { return &kResources; }

}  // namespace paint
