// Parameter values and keyframes as the host keeps them.
#pragma once

#include <pf/api.h>

namespace ombrix {

struct ParamValue {
  // For sliders, fixed sliders, angles, popups and check boxes: `value`.
  // For points: x and y in 16.16 full-resolution layer pixels.
  // For colours: `color`.
  A_long value = 0;
  PF_Fixed x = 0, y = 0;
  PF_Pixel color{};
  bool operator==(const ParamValue& o) const {
    return value == o.value && x == o.x && y == o.y && color.alpha == o.color.alpha && color.red == o.color.red &&
           color.green == o.color.green && color.blue == o.color.blue;
  }
};

struct Keyframe {
  A_long time = 0;  // ticks
  ParamValue value;
};

}  // namespace ombrix
