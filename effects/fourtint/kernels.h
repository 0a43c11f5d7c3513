// Fourtint's per-pixel work: four points, each colour weighing
// C / (C + d^2) by its squared distance d^2, normalised; in single precision.
#pragma once

#include <pf/api.h>
#include <pf/fixed.h>
#include <pf/random.h>

#include <cstdint>

namespace fourtint {

inline constexpr int kJitterSide = 64;
inline constexpr int kJitterEntries = kJitterSide * kJitterSide;

// The frame's constant block (the refcon of the pixel callbacks).
struct Block {
  PF_Pixel colour[4];
  float px[4], py[4];  // the points, buffer pixels
  float blend2;        // C: the blend distance in buffer pixels, squared
};

// Per-frame noise, one entry per 64 x 64 cell, in [-J, J).
struct JitterTable {
  float entry[kJitterEntries];
};

// Blend in full-resolution pixels scaled by the horizontal downsample factor
// only, then squared. The blend is multiplied by the numerator and then
// divided by the denominator, not scaled by pf::Ratio, whose rounding can
// differ.
inline float BlendSquared(PF_Fixed blend, PF_RationalScale dsx) {
  const double d = pf::FixedToDouble(blend) * double(dsx.num) / double(dsx.den);
  return float(d * d);
}

// Seeded with the frame time, so the pattern holds for a frame and changes
// with the next one.
inline void FillJitter(JitterTable& table, A_long current_time, double amount) {
  uint32_t state = uint32_t(current_time);
  for (float& e : table.entry) e = float(pf::RandomUnit(state) * amount);
}

// The four normalised weights of the pixel at (x, y).
inline void Weights(const Block& b, A_long x, A_long y, float w[4]) {
  const float fx = float(x), fy = float(y);
  for (int k = 0; k < 4; ++k) {
    const float dx = b.px[k] - fx;
    const float dy = b.py[k] - fy;
    const float d2 = dx * dx + dy * dy;
    w[k] = b.blend2 / (b.blend2 + d2);
  }
  const float s = 1.0f / (w[0] + w[1] + w[2] + w[3]);
  for (int k = 0; k < 4; ++k) w[k] = w[k] * s;
}

// One channel's weighted sum, the fourth colour first.
inline float Mix(const float w[4], int c0, int c1, int c2, int c3) {
  return w[3] * float(c3) + w[2] * float(c2) + w[1] * float(c1) + w[0] * float(c0);
}

// Transparent pixels pass through; everything else takes the mix with the
// input's alpha. The normalised sum of bytes stays within 0..255 unclamped.
inline void PlainPixel(const Block& b, A_long x, A_long y, const PF_Pixel& in, PF_Pixel& out) {
  if (in.alpha == 0) {
    out = in;
    return;
  }
  float w[4];
  Weights(b, x, y, w);
  const PF_Pixel* c = b.colour;
  const A_u_char alpha = in.alpha;
  out.red = A_u_char(Mix(w, c[0].red, c[1].red, c[2].red, c[3].red));
  out.green = A_u_char(Mix(w, c[0].green, c[1].green, c[2].green, c[3].green));
  out.blue = A_u_char(Mix(w, c[0].blue, c[1].blue, c[2].blue, c[3].blue));
  out.alpha = alpha;
}

// The table index of each channel: the 64-pixel block coordinates of one axis
// crossed with the pixel's position within the block on the other, each
// channel from its own offset of (x, y).
inline int RedIndex(A_long x, A_long y) { return (((y >> 5) & 63) ^ (x & 63)) * 64 + (((x >> 5) & 63) ^ (y & 63)); }
inline int GreenIndex(A_long x, A_long y) {
  const A_long xs = x + 3, ys = y + 17;
  return (((xs >> 5) & 63) ^ (ys & 63)) * 64 + (((ys >> 5) & 63) ^ (xs & 63));
}
inline int BlueIndex(A_long x, A_long y) {
  const A_long xs = x + 37, ys = y + 13;
  return (((ys >> 5) & 63) ^ (xs & 63)) * 64 + (((xs >> 5) & 63) ^ (ys & 63));
}

inline A_u_char ClampJittered(float v) {
  if (v >= 255.0f) return 255;
  if (v > 0.0f) return A_u_char(v);
  return 0;
}

inline void JitterPixel(const Block& b, const JitterTable& t, A_long x, A_long y, const PF_Pixel& in, PF_Pixel& out) {
  if (in.alpha == 0) {
    out = in;
    return;
  }
  float w[4];
  Weights(b, x, y, w);
  const PF_Pixel* c = b.colour;
  const A_u_char alpha = in.alpha;
  out.red = ClampJittered(t.entry[RedIndex(x, y)] + Mix(w, c[0].red, c[1].red, c[2].red, c[3].red));
  out.green = ClampJittered(t.entry[GreenIndex(x, y)] + Mix(w, c[0].green, c[1].green, c[2].green, c[3].green));
  out.blue = ClampJittered(t.entry[BlueIndex(x, y)] + Mix(w, c[0].blue, c[1].blue, c[2].blue, c[3].blue));
  out.alpha = alpha;
}

}  // namespace fourtint
