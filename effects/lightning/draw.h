// Bolt drawing: soft discs stamped at intervals along a walked path, a core
// whose width follows the bolt's strength and a glow of constant width whose
// opacity follows it, each mixed into the output with BlendWeighted.
#pragma once

#include "bolt.h"

#include <pf/api.h>
#include <pf/world.h>

#include <cmath>
#include <cstdint>
#include <cstring>

namespace lightning {

// Division by an alpha union A (1..255) as a multiply and shift: with
// m = ceil(2^32 / A) the error of n x m / 2^32 stays below 1 / A for every
// n below 2^32 / 255, far above the mixed sums (at most 255 x 510), so the
// quotient is exactly n div A. The mix divides three times per stamped
// pixel, which is most of the stamping's time.
struct AlphaDivisors {
  uint64_t m[256];
};
inline constexpr AlphaDivisors kAlphaDivisors = [] {
  AlphaDivisors t{};
  for (uint64_t a = 1; a < 256; ++a) t.m[a] = ((uint64_t(1) << 32) + a - 1) / a;
  return t;
}();

inline int DivideByAlpha(int n, int a) { return int((uint64_t(n) * kAlphaDivisors.m[a]) >> 32); }

// Alpha-weighted average of the colours with a screen-like union of the
// alphas; not premultiplied compositing, so the order of stamps matters.
// With both alphas in 1..255 the union A stays within 1..255 (A <= 255
// because (255 - ad)(255 - as) >= 0, A >= ad because ad x as div 255 <= as).
inline PF_Pixel BlendWeighted(const PF_Pixel& src, const PF_Pixel& dst) {
  const int as = src.alpha, ad = dst.alpha;
  if (as == 0) return dst;
  if (ad == 0) return src;
  const int A = ad + as - (ad * as) / 255;
  auto channel = [&](int d, int s) {
    const int v = DivideByAlpha(d * ad + s * as, A);
    return A_u_char(v > 255 ? 255 : v);
  };
  PF_Pixel out;
  out.alpha = A_u_char(A);
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

enum DiscKind : int32_t { kCoreDisc = 0, kGlowDisc = 1 };

// One disc as its profile uses it: radius and amount after the small-disc
// rules, and its box in the output. A disc is stamped one row at a time, so
// that bands of rows can be stamped apart from each other.
struct Disc {
  float cx, cy, r, a;
  Box box;
  int32_t kind;
  // On the first disc of every kDiscGroup: the rows its group touches.
  A_long group_top, group_bottom;
};

// A paraboloid: the full amount at the centre, 0 at the rim. Discs under one
// pixel fade instead of shrinking. False when nothing is to be stamped.
inline bool PrepareCoreDisc(float cx, float cy, float r, float a, const PF_EffectWorld& out, Disc* d) {
  if (!(r >= 0.0f) || out.width <= 0 || out.height <= 0) return false;
  if (r < 1.0f) {
    a = a * r;
    r = 1.0f;
  }
  *d = Disc{cx, cy, r, a, DiscBox(cx, cy, r, out), kCoreDisc, 0, 0};
  return true;
}

// Falls steeply near the centre: 1 at d = 0, 0.375 at half the radius, 0 at
// the rim. Small glows keep a radius of one pixel and do not fade.
inline bool PrepareGlowDisc(float cx, float cy, float r, float a, const PF_EffectWorld& out, Disc* d) {
  if (out.width <= 0 || out.height <= 0) return false;
  const float g = r > 1.0f ? r : 1.0f;  // also 1 for a radius that is not a number
  *d = Disc{cx, cy, g, a, DiscBox(cx, cy, g, out), kGlowDisc, 0, 0};
  return true;
}

// The columns of a row that can hold pixels of the disc: its chord at the
// row, widened by a pixel on each side, within the box. Pixels outside the
// widened chord lie more than a pixel's width past the rim, where the float
// test d^2 < r^2 cannot pass either, so skipping them changes no byte; the
// test still decides every pixel inside. A centre that is not a number
// keeps the box.
inline void ChordColumns(const Disc& d, float r2, float dy, A_long* x0, A_long* x1) {
  *x0 = d.box.x0;
  *x1 = d.box.x1;
  const double rest = double(r2) - double(dy) * double(dy);
  const double half = std::sqrt(rest > 0.0 ? rest : 0.0) + 1.0;
  const double lo = std::floor(double(d.cx) - half), hi = std::ceil(double(d.cx) + half);
  if (lo > double(*x0)) *x0 = lo > double(*x1) ? *x1 + 1 : A_long(lo);
  if (hi < double(*x1)) *x1 = hi < double(*x0) ? *x0 - 1 : A_long(hi);
}

// Four lanes of single-precision arithmetic (GCC vector extensions, SSE2 on
// every x86-64): each lane does exactly the scalar operations, in the same
// order and precision, so the alphas are bit for bit those of one pixel at
// a time.
typedef float Floats4 __attribute__((vector_size(16)));
typedef int32_t Ints4 __attribute__((vector_size(16)));
inline constexpr A_long kLanes = 4;

// AlphaByte in every lane, 0 where `inside` is false.
inline Ints4 AlphaBytes(Floats4 v, Ints4 inside) {
  Floats4 c = v >= 255.0f ? Floats4{} + 255.0f : v;
  c = v > 0.0f ? c : Floats4{};
  return __builtin_convertvector(c, Ints4) & inside;
}

// The alphas of pixels x .. x + 3 of a row at vertical distance dy.
inline Ints4 DiscAlphas(const Disc& d, float r2, float dy, A_long x) {
  const Floats4 fx = __builtin_convertvector((Ints4{0, 1, 2, 3} + x), Floats4);
  const Floats4 dx = d.cx - fx;
  const Floats4 d2 = dx * dx + dy * dy;
  const Ints4 inside = d2 < r2;
  if (d.kind == kCoreDisc) return AlphaBytes(d.a / r2 * (r2 - d2), inside);
  const float q = r2 / 4.0f;
  return AlphaBytes((1.0f - 1.25f * d2 / (d2 + q)) * d.a, inside);
}

// The alpha of pixel x of a row at vertical distance dy, -1 outside the disc.
inline int DiscAlpha(const Disc& d, float r2, float dy, A_long x) {
  const float dx = d.cx - float(x);
  const float d2 = dx * dx + dy * dy;
  if (!(d2 < r2)) return -1;
  if (d.kind == kCoreDisc) return AlphaByte(d.a / r2 * (r2 - d2));
  const float q = r2 / 4.0f;
  return AlphaByte((1.0f - 1.25f * d2 / (d2 + q)) * d.a);
}

// Row y (inside the disc's box) of a disc mixed into the output, one pixel
// at a time: the plain form StampDiscRow must match.
inline void StampDiscRowByPixel(const Disc& d, PF_Pixel colour, A_long y, PF_EffectWorld& out) {
  const float r2 = d.r * d.r;
  const float dy = d.cy - float(y);
  PF_Pixel* row = &pf::PixelAt(out, 0, y);
  A_long x0, x1;
  ChordColumns(d, r2, dy, &x0, &x1);
  for (A_long x = x0; x <= x1; ++x) {
    const int alpha = DiscAlpha(d, r2, dy, x);
    if (alpha < 0) continue;
    colour.alpha = A_u_char(alpha);
    row[x] = BlendWeighted(colour, row[x]);
  }
}

typedef uint32_t Words4 __attribute__((vector_size(16)));

// BlendWeighted of `colour` at four alphas over four pixels (PF_Pixel's
// bytes alpha, red, green, blue from the low end of each word). The integer
// quotients are taken in single precision: every dividend is below 2^24, so
// exact, and a quotient k - e with e >= 1 / divisor lies more than 2^-17 k
// below k (dividends at most 255 x 510), far beyond float rounding, so the
// truncation gives the integer quotient exactly.
inline Words4 BlendWeighted4(Words4 dst, Ints4 as, PF_Pixel colour) {
  const Ints4 ad = Ints4(dst & 255u);
  const Ints4 both = (as != 0) & (ad != 0);
  auto quotient = [](Ints4 n, Floats4 divisor) {
    return __builtin_convertvector(__builtin_convertvector(n, Floats4) / divisor, Ints4);
  };
  const Ints4 A = ad + as - quotient(ad * as, Floats4{} + 255.0f);
  const Floats4 fa = __builtin_convertvector(both ? A : Ints4{} + 1, Floats4);
  auto channel = [&](int shift, int s) {
    const Ints4 d = Ints4((dst >> shift) & 255u);
    const Ints4 v = quotient(d * ad + s * as, fa);
    return Words4(v > 255 ? Ints4{} + 255 : v) << shift;
  };
  const Words4 mixed = Words4(A) | channel(8, colour.red) | channel(16, colour.green) | channel(24, colour.blue);
  const uint32_t rgb = uint32_t(colour.red) << 8 | uint32_t(colour.green) << 16 | uint32_t(colour.blue) << 24;
  const Words4 source = Words4(as) | rgb;
  return both ? mixed : (as == 0 ? dst : source);
}

// Row y of a disc, the alphas worked out and mixed four pixels at a time. A
// pixel whose alpha is 0 is left as it is, as the mix would leave it.
inline void StampDiscRow(const Disc& d, PF_Pixel colour, A_long y, PF_EffectWorld& out) {
  const float r2 = d.r * d.r;
  const float dy = d.cy - float(y);
  PF_Pixel* row = &pf::PixelAt(out, 0, y);
  A_long x0, x1;
  ChordColumns(d, r2, dy, &x0, &x1);
  A_long x = x0;
  for (; x + kLanes - 1 <= x1; x += kLanes) {
    const Ints4 alphas = DiscAlphas(d, r2, dy, x);
    Words4 pixels;
    std::memcpy(&pixels, row + x, sizeof pixels);
    pixels = BlendWeighted4(pixels, alphas, colour);
    std::memcpy(row + x, &pixels, sizeof pixels);
  }
  for (; x <= x1; ++x) {
    const int alpha = DiscAlpha(d, r2, dy, x);
    if (alpha <= 0) continue;
    colour.alpha = A_u_char(alpha);
    row[x] = BlendWeighted(colour, row[x]);
  }
}

inline void StampDisc(const Disc& d, PF_Pixel colour, PF_EffectWorld& out) {
  for (A_long y = d.box.y0; y <= d.box.y1; ++y) StampDiscRow(d, colour, y, out);
}

inline void StampCoreDisc(float cx, float cy, float r, float a, PF_Pixel colour, PF_EffectWorld& out) {
  Disc d;
  if (PrepareCoreDisc(cx, cy, r, a, out, &d)) StampDisc(d, colour, out);
}

inline void StampGlowDisc(float cx, float cy, float r, float a, PF_Pixel colour, PF_EffectWorld& out) {
  Disc d;
  if (PrepareGlowDisc(cx, cy, r, a, out, &d)) StampDisc(d, colour, out);
}

// The last stored point is never drawn; fewer than 4 drawn points draw nothing.
inline int32_t DrawnPoints(const BoltPath& path) { return path.points == nullptr ? 0 : path.count - 1; }

// The core's discs along the path, in order: place(cx, cy, radius, amount).
template <class Place>
void PlaceCoreDiscs(const BoltPath& path, const WalkContext& c, Place&& place) {
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
      place(float(cx), float(cy), float(r), c.core_amount);
    }
    acc = acc + 1.0;
  }
  if (acc - 1.0 > 0.0) {
    const PathPoint& last = p[n - 1];
    const double amount = c.core_amount * (acc - 1.0) / std::fmax(h, 1.0);
    place(float(s * last.x), float(s * last.y), float(s * radius * last.strength), float(amount));
  }
}

// The glow's discs along the path, in order: place(cx, cy, radius, amount).
template <class Place>
void PlaceGlowDiscs(const BoltPath& path, const WalkContext& c, Place&& place) {
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
      place(float(cx), float(cy), r, float(amount * p[i].strength));
    }
    acc = acc + 1.0;
  }
  if (acc - 1.0 > 0.0) {
    const PathPoint& last = p[n - 1];
    const double a = amount * ((acc - 1.0) / std::fmax(h, 1.0)) * last.strength;
    place(float(s * last.x), float(s * last.y), r, float(a));
  }
}

// The serial drawing: each disc stamped as soon as it is placed.
inline void DrawBoltCore(const BoltPath& path, const WalkContext& c) {
  PlaceCoreDiscs(path, c,
                 [&](float cx, float cy, float r, float a) { StampCoreDisc(cx, cy, r, a, c.core_colour, *c.output); });
}

inline void DrawBoltGlow(const BoltPath& path, const WalkContext& c) {
  PlaceGlowDiscs(path, c,
                 [&](float cx, float cy, float r, float a) { StampGlowDisc(cx, cy, r, a, c.glow_colour, *c.output); });
}

}  // namespace lightning
