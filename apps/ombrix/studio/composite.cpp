// Source-over compositing of 8-bit straight-alpha layers, in integers.
//
// With t the top pixel's alpha and b the bottom's (0..255):
//   b = 0    the top pixel, all four bytes as they are (a layer over
//            nothing is exactly what its effects rendered);
//   t = 0    the bottom pixel as it is;
//   t = 255  the top pixel as it is;
//   else     with wt = 255 t and wb = (255 - t) b (the weights of the
//            two colours, scaled by 255),
//              alpha = t + b - round(t b / 255)
//              c     = round((top.c wt + bottom.c wb) / (wt + wb))
//            for each of red, green and blue, where round(n / d) of
//            non-negative integers is (n + d div 2) div d.
// Colour is straight, so it is the weighted mean of the two colours by how
// much of each shows; wt + wb > 0 here since t and b are both positive.
#include "composite.h"

#include <algorithm>
#include <cstring>

namespace ombrix::studio {
namespace {

uint32_t RoundedDiv(uint32_t n, uint32_t d) { return (n + d / 2) / d; }

const PF_Pixel* RowOf(const PF_EffectWorld& w, A_long y) {
  return reinterpret_cast<const PF_Pixel*>(static_cast<const char*>(static_cast<const void*>(w.data)) +
                                           size_t(y) * size_t(w.rowbytes));
}

PF_Pixel* RowOf(PF_EffectWorld& w, A_long y) {
  return reinterpret_cast<PF_Pixel*>(static_cast<char*>(static_cast<void*>(w.data)) + size_t(y) * size_t(w.rowbytes));
}

}  // namespace

PF_Pixel Over(const PF_Pixel& top, const PF_Pixel& bottom) {
  const uint32_t t = top.alpha, b = bottom.alpha;
  if (b == 0 || t == 255) return top;
  if (t == 0) return bottom;
  const uint32_t wt = 255 * t, wb = (255 - t) * b;
  PF_Pixel out;
  out.alpha = A_u_char(t + b - RoundedDiv(t * b, 255));
  out.red = A_u_char(RoundedDiv(top.red * wt + bottom.red * wb, wt + wb));
  out.green = A_u_char(RoundedDiv(top.green * wt + bottom.green * wb, wt + wb));
  out.blue = A_u_char(RoundedDiv(top.blue * wt + bottom.blue * wb, wt + wb));
  return out;
}

void DrawOver(PF_EffectWorld& canvas, const PF_EffectWorld& layer) {
  const A_long width = std::min(canvas.width, layer.width);
  const A_long height = std::min(canvas.height, layer.height);
  for (A_long y = 0; y < height; ++y) {
    const PF_Pixel* src = RowOf(layer, y);
    PF_Pixel* dst = RowOf(canvas, y);
    for (A_long x = 0; x < width; ++x) dst[x] = Over(src[x], dst[x]);
  }
}

Frame FrameOf(const PF_EffectWorld& world) {
  Frame f;
  f.width = world.width;
  f.height = world.height;
  f.rgba.resize(size_t(world.width) * size_t(world.height) * 4);
  uint8_t* out = f.rgba.data();
  for (A_long y = 0; y < world.height; ++y) {
    const PF_Pixel* row = RowOf(world, y);
    for (A_long x = 0; x < world.width; ++x, out += 4) {
      out[0] = row[x].red;
      out[1] = row[x].green;
      out[2] = row[x].blue;
      out[3] = row[x].alpha;
    }
  }
  return f;
}

World WorldOf(const Frame& frame) {
  World w(frame.width, frame.height);
  const uint8_t* in = frame.rgba.data();
  for (A_long y = 0; y < frame.height; ++y) {
    PF_Pixel* row = w.Row(y);
    for (A_long x = 0; x < frame.width; ++x, in += 4) row[x] = PF_Pixel{in[3], in[0], in[1], in[2]};
  }
  return w;
}

}  // namespace ombrix::studio
