// Tintmatch's arithmetic: the average colour of a layer in four ways, and the
// pixel that keeps the shape of the layer the effect is applied to.
#pragma once

#include <pf/api.h>
#include <pf/world.h>

#include <cstdint>

namespace tintmatch {

enum AverageMode { kSkipEmpty = 1, kAll = 2, kAllPremultiplied = 3, kIncludingAlpha = 4 };

// The average of the pixels of `world` by `mode`, before the alpha is made
// opaque. Only the pixels within each row's width count: the bytes past it
// belong to the host's row layout, not to the image. Sums are 64-bit, so no
// layer size overflows them. A layer without pixels averages to 0, 0, 0, 0
// in every mode.
inline PF_Pixel Average(const PF_EffectWorld& world, A_long mode) {
  uint64_t a = 0, r = 0, g = 0, b = 0, n = 0;
  const A_long width = world.data != nullptr && world.width > 0 ? world.width : 0;
  const A_long height = world.data != nullptr && world.height > 0 ? world.height : 0;
  const bool skip_empty = mode == kSkipEmpty;
  for (A_long y = 0; y < height; ++y) {
    const PF_Pixel* row = pf::PixelRow(world, y);
    for (A_long x = 0; x < width; ++x) {
      const PF_Pixel& p = row[x];
      if (skip_empty && p.alpha == 0) continue;
      a += p.alpha;
      r += p.red;
      g += p.green;
      b += p.blue;
      ++n;
    }
  }
  PF_Pixel avg{0, 0, 0, 0};
  if (n == 0) return avg;
  avg.alpha = A_u_char(a / n);
  avg.red = A_u_char(r / n);
  avg.green = A_u_char(g / n);
  avg.blue = A_u_char(b / n);
  if (mode == kAllPremultiplied && avg.alpha != 0) {
    avg.red = A_u_char(avg.red * avg.alpha / 255);
    avg.green = A_u_char(avg.green * avg.alpha / 255);
    avg.blue = A_u_char(avg.blue * avg.alpha / 255);
  }
  return avg;
}

// The average colour with the input's alpha.
inline void KeepAlpha(const PF_Pixel& avg, const PF_Pixel& in, PF_Pixel& out) {
  const A_u_char alpha = in.alpha;
  out = avg;
  out.alpha = alpha;
}

// The average colour with its own alpha scaled by the input's.
inline void ScaleAlpha(const PF_Pixel& avg, const PF_Pixel& in, PF_Pixel& out) {
  const int alpha = in.alpha;
  out = avg;
  out.alpha = alpha != 0 ? A_u_char(((alpha + 1) * avg.alpha) >> 8) : 0;
}

}  // namespace tintmatch
