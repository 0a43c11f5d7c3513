// Bolt drawing: soft discs stamped at intervals along a walked path, a core
// whose width follows the bolt's strength and a glow of constant width whose
// opacity follows it, each mixed into the output with BlendWeighted.
#pragma once

#include "bolt.h"

#include <pf/api.h>
#include <pf/world.h>

#include <cmath>
#include <cstdint>

namespace lightning {

// Alpha-weighted average of the colours with a screen-like union of the
// alphas; not premultiplied compositing, so the order of stamps matters.
inline PF_Pixel BlendWeighted(const PF_Pixel& src, const PF_Pixel& dst) {
  const int as = src.alpha, ad = dst.alpha;
  if (as == 0) return dst;
  if (ad == 0) return src;
  const int A = ad + as - (ad * as) / 255;
  auto channel = [&](int d, int s) {
    const int v = (d * ad + s * as) / A;
    return A_u_char(v > 255 ? 255 : v);
  };
  PF_Pixel out;
  out.alpha = A_u_char(A > 255 ? 255 : A < 1 ? 0 : A);
  out.red = channel(dst.red, src.red);
  out.green = channel(dst.green, src.green);
  out.blue = channel(dst.blue, src.blue);
  return out;
}

// The stamping interval for a width in walk space, compressed above 5.
inline double StepLength(double width) {
  double h = width * 0.5;
  if (h > 5.0) h = h - (h - 5.0) * 0.5;
  return h;
}

// Truncated toward zero into 0..255 (nothing for a value that is not a number).
inline A_u_char AlphaByte(float v) {
  if (!(v > 0.0f)) return 0;
  if (v >= 255.0f) return 255;
  return A_u_char(int(v));
}

struct Box {
  A_long x0, x1, y0, y1;
};

// trunc(v) clamped to [0, hi]; clamping first gives the same bound and keeps
// far-away (or not-a-number) coordinates out of the integer conversion.
inline A_long ClampTrunc(float v, A_long hi) {
  if (!(v > 0.0f)) return 0;
  if (v >= float(hi)) return hi;
  return A_long(v);
}

// The disc's bounding box, each bound clamped into the world.
inline Box DiscBox(float cx, float cy, float r, const PF_EffectWorld& out) {
  return {ClampTrunc(cx - r, out.width - 1), ClampTrunc(cx + r, out.width - 1), ClampTrunc(cy - r, out.height - 1),
          ClampTrunc(cy + r, out.height - 1)};
}

// The discs take their centre, radius and amount as floats and compute each
// pixel's weight in single precision; the walk along the path that places
// them (intervals, interpolation, amounts) runs in double.

// A paraboloid: the full amount at the centre, 0 at the rim. Discs under one
// pixel fade instead of shrinking.
inline void StampCoreDisc(float cx, float cy, float r, float a, PF_Pixel colour, PF_EffectWorld& out) {
  if (!(r >= 0.0f) || out.width <= 0 || out.height <= 0) return;
  if (r < 1.0f) {
    a = a * r;
    r = 1.0f;
  }
  const Box b = DiscBox(cx, cy, r, out);
  const float r2 = r * r;
  const float k = a / r2;
  for (A_long y = b.y0; y <= b.y1; ++y) {
    for (A_long x = b.x0; x <= b.x1; ++x) {
      const float dx = cx - float(x), dy = cy - float(y);
      const float d2 = dx * dx + dy * dy;
      if (!(d2 < r2)) continue;
      colour.alpha = AlphaByte(k * (r2 - d2));
      PF_Pixel& p = pf::PixelAt(out, x, y);
      p = BlendWeighted(colour, p);
    }
  }
}

// Falls steeply near the centre: 1 at d = 0, 0.375 at half the radius, 0 at
// the rim. Small glows keep a radius of one pixel and do not fade.
inline void StampGlowDisc(float cx, float cy, float r, float a, PF_Pixel colour, PF_EffectWorld& out) {
  if (out.width <= 0 || out.height <= 0) return;
  const float g = r > 1.0f ? r : 1.0f;  // also 1 for a radius that is not a number
  const Box b = DiscBox(cx, cy, g, out);
  const float g2 = g * g;
  const float q = g2 / 4.0f;
  for (A_long y = b.y0; y <= b.y1; ++y) {
    for (A_long x = b.x0; x <= b.x1; ++x) {
      const float dx = cx - float(x), dy = cy - float(y);
      const float d2 = dx * dx + dy * dy;
      if (!(d2 < g2)) continue;
      colour.alpha = AlphaByte((1.0f - 1.25f * d2 / (d2 + q)) * a);
      PF_Pixel& p = pf::PixelAt(out, x, y);
      p = BlendWeighted(colour, p);
    }
  }
}

// The last stored point is never drawn; fewer than 4 drawn points draw nothing.
inline int32_t DrawnPoints(const BoltPath& path) { return path.points == nullptr ? 0 : path.count - 1; }

inline void DrawBoltCore(const BoltPath& path, const WalkContext& c) {
  const int32_t n = DrawnPoints(path);
  if (n < 4) return;
  const PathPoint* p = path.points;
  const double s = c.scale, radius = c.core_radius;
  if (s * p[1].strength * radius < 0.02 || c.core_amount < 2.0f) return;
  double acc = 0.0, h = 0.0;
  for (int32_t i = 1; i < n; ++i) {
    const double wi = radius * p[i].strength;
    h = StepLength(wi);
    if (acc > h) {
      const double f = std::fmin(acc - h, 1.0);
      acc = f;
      const double cx = s * (p[i].x + f * (double(p[i - 1].x) - p[i].x));
      const double cy = s * (p[i].y + f * (double(p[i - 1].y) - p[i].y));
      const double r = s * (wi + f * (radius * p[i - 1].strength - wi));
      StampCoreDisc(float(cx), float(cy), float(r), c.core_amount, c.core_colour, *c.output);
    }
    acc = acc + 1.0;
  }
  if (acc - 1.0 > 0.0) {
    const PathPoint& last = p[n - 1];
    const double amount = c.core_amount * (acc - 1.0) / std::fmax(h, 1.0);
    StampCoreDisc(float(s * last.x), float(s * last.y), float(s * radius * last.strength), float(amount), c.core_colour,
                  *c.output);
  }
}

inline void DrawBoltGlow(const BoltPath& path, const WalkContext& c) {
  const int32_t n = DrawnPoints(path);
  if (n < 4) return;
  const PathPoint* p = path.points;
  const double s = c.scale, amount = c.glow_amount;
  const double h = StepLength(c.glow_radius);
  if (c.glow_radius * s < 0.02 || c.glow_amount < 2.0f) return;
  const float r = float(c.glow_radius * s);
  double acc = 0.0;
  for (int32_t i = 1; i < n; ++i) {
    if (acc > h) {
      const double f = std::fmin(acc - h, 1.0);
      acc = f;
      const double cx = s * (p[i].x + f * (double(p[i - 1].x) - p[i].x));
      const double cy = s * (p[i].y + f * (double(p[i - 1].y) - p[i].y));
      StampGlowDisc(float(cx), float(cy), r, float(amount * p[i].strength), c.glow_colour, *c.output);
    }
    acc = acc + 1.0;
  }
  if (acc - 1.0 > 0.0) {
    const PathPoint& last = p[n - 1];
    const double a = amount * ((acc - 1.0) / std::fmax(h, 1.0)) * last.strength;
    StampGlowDisc(float(s * last.x), float(s * last.y), r, float(a), c.glow_colour, *c.output);
  }
}

}  // namespace lightning
