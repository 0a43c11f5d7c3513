// Paint's resources beside its code: the string table of labels and names
// (read by index from a base: timing mode, tool, input device, control
// item, brush shape) and the module record the loaders take.
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

const ombrix::platform::ModuleResources* PaintResources();

}  // namespace paint
