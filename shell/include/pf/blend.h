// Straight-alpha "over" of one 8-bit pixel onto another, in integers: the one
// compositing rule shared by the painting, fill, shadow and lens effects.
#pragma once

#include <pf/api.h>

namespace pf {

// `top` over `bottom`. With t the top's alpha and b the bottom's: t = 0 gives
// the bottom, t = 255 or b = 0 gives the top; otherwise, with wt = 255 t and
// wb = (255 - t) b, alpha = t + b - t b / 255 and every colour channel is
// the weighted mean (bottom wb + top wt) / (wt + wb), divisions truncating.
inline PF_Pixel BlendOver(const PF_Pixel& top, const PF_Pixel& bottom) {
  const int t = top.alpha;
  const int b = bottom.alpha;
  if (t == 0) return bottom;
  if (t == 255 || b == 0) return top;
  const int wt = 255 * t;
  const int wb = (255 - t) * b;
  const int sum = wt + wb;
  PF_Pixel out;
  out.alpha = A_u_char(t + b - (t * b) / 255);
  out.red = A_u_char((bottom.red * wb + top.red * wt) / sum);
  out.green = A_u_char((bottom.green * wb + top.green * wt) / sum);
  out.blue = A_u_char((bottom.blue * wb + top.blue * wt) / sum);
  return out;
}

}  // namespace pf
