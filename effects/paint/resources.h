// Paint's resources beside its code: the string table of labels and names
// (read by index from a base: timing mode, tool, input device, control
// item, brush shape), the icons of the stylus indicators and the module
// record the loaders take.
#pragma once

#include <ombrix/platform/resources.h>

namespace paint {

// Bases of the string table: the string is base + the value.
inline constexpr int kStrTimingBase = 1;   // + paint timing mode 1..4
inline constexpr int kStrToolBase = 6;     // + tool 1..4
inline constexpr int kStrDeviceBase = 11;  // + 1 stylus, 2 mouse, 3 both
inline constexpr int kStrItemBase = 15;    // + item of the "Brush Settings" control
inline constexpr int kStrShapeBase = 27;   // + brush shape 1..4
inline constexpr int kStrOpacity = 19;
inline constexpr int kStrNoStylus = 33;

// The icons of the stylus indicators in the "Brush Settings" control, in
// the order pressure -> radius on, off, pressure -> opacity on, off; the
// second set is the one "Swedish UI" selects.
inline constexpr int kStylusIcons[4] = {145, 144, 147, 146};
inline constexpr int kSwedishStylusIcons[4] = {136, 141, 142, 143};
inline constexpr int kStylusIconSize = 10;  // square, in control pixels

const ombrix::platform::ModuleResources* PaintResources();

}  // namespace paint
