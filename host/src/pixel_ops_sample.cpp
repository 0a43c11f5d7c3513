// subpixel_sample and area_sample: bilinear and box sampling of a world at
// 16.16 positions, premultiplied by alpha, in exact integer arithmetic.
#include <ombrix/host/pixel_ops.h>

#include "pixel_ops_internal.h"

#include <algorithm>

namespace ombrix {

using namespace pixel_ops;

namespace {

constexpr int64_t kOne = 0x10000;  // one pixel in 16.16
constexpr int64_t kHalf = 0x8000;

inline PF_Pixel Tap(const PF_EffectWorld& w, A_long x, A_long y) {
  if (x < 0 || y < 0 || x >= w.width || y >= w.height) return PF_Pixel{};
  return RowOf(w, y)[x];
}

// Four pixels under weights in units of 2^-32 that sum to 2^32.
PF_Pixel Blend4(const PF_Pixel p[4], const uint64_t wt[4]) {
  const uint64_t wa0 = wt[0] * p[0].alpha, wa1 = wt[1] * p[1].alpha;
  const uint64_t wa2 = wt[2] * p[2].alpha, wa3 = wt[3] * p[3].alpha;
  const uint64_t sa = wa0 + wa1 + wa2 + wa3;
  if (sa == 0) return PF_Pixel{};
  PF_Pixel out;
  out.alpha = ClampByte(uint32_t((sa + (uint64_t(1) << 31)) >> 32));
  if (p[0].alpha == p[1].alpha && p[0].alpha == p[2].alpha && p[0].alpha == p[3].alpha) {
    // A common alpha cancels from sum w*a*c / sum w*a, leaving sum w*c / 2^32.
    const uint64_t half = uint64_t(1) << 31;
    out.red =
        ClampByte(uint32_t((wt[0] * p[0].red + wt[1] * p[1].red + wt[2] * p[2].red + wt[3] * p[3].red + half) >> 32));
    out.green = ClampByte(
        uint32_t((wt[0] * p[0].green + wt[1] * p[1].green + wt[2] * p[2].green + wt[3] * p[3].green + half) >> 32));
    out.blue = ClampByte(
        uint32_t((wt[0] * p[0].blue + wt[1] * p[1].blue + wt[2] * p[2].blue + wt[3] * p[3].blue + half) >> 32));
    return out;
  }
  out.red = ClampByte(RoundQuotient(wa0 * p[0].red + wa1 * p[1].red + wa2 * p[2].red + wa3 * p[3].red, sa));
  out.green = ClampByte(RoundQuotient(wa0 * p[0].green + wa1 * p[1].green + wa2 * p[2].green + wa3 * p[3].green, sa));
  out.blue = ClampByte(RoundQuotient(wa0 * p[0].blue + wa1 * p[1].blue + wa2 * p[2].blue + wa3 * p[3].blue, sa));
  return out;
}

// The pixels a box [lo, hi] (16.16) touches on one axis, clipped to the world.
struct AxisSpan {
  int64_t lo, hi;
  A_long first, last;
};

bool MakeSpan(PF_Fixed centre, PF_Fixed radius, A_long size, AxisSpan& s) {
  const int64_t r = std::max<int64_t>(radius, kHalf);
  s.lo = int64_t(centre) - r;
  s.hi = int64_t(centre) + r;
  // Pixel i covers [i - 1/2, i + 1/2]: the first one ending after lo and the
  // last one starting before hi.
  const int64_t first = (s.lo + kHalf) >> 16;
  const int64_t last = (s.hi + kHalf - 1) >> 16;
  if (last < 0 || first >= size) return false;
  s.first = A_long(std::max<int64_t>(first, 0));
  s.last = A_long(std::min<int64_t>(last, size - 1));
  return true;
}

// Length of the box inside pixel i, in 1/65536 of a pixel (0..65536).
inline uint64_t Coverage(const AxisSpan& s, A_long i) {
  const int64_t a = std::max(s.lo, int64_t(i) * kOne - kHalf);
  const int64_t b = std::min(s.hi, int64_t(i) * kOne + kHalf);
  return uint64_t(b - a);
}

// The premultiplied box sums and the resolved pixel. Row sums stay below
// 2^63 for any row width (coverage <= 2^16, a*c < 2^16); Sum holds the
// weighted sums over rows.
template <class Sum>
PF_Pixel BoxSum(const PF_EffectWorld& w, const AxisSpan& xs, const AxisSpan& ys, u128 area) {
  Sum sa = 0, sr = 0, sg = 0, sb = 0;
  for (A_long j = ys.first; j <= ys.last; ++j) {
    const PF_Pixel* row = RowOf(w, j);
    uint64_t ra = 0, rr = 0, rg = 0, rb = 0;
    for (A_long i = xs.first; i <= xs.last; ++i) {
      const PF_Pixel p = row[i];
      const uint64_t wa = Coverage(xs, i) * p.alpha;
      ra += wa;
      rr += wa * p.red;
      rg += wa * p.green;
      rb += wa * p.blue;
    }
    const uint64_t cy = Coverage(ys, j);
    sa += Sum(ra) * cy;
    sr += Sum(rr) * cy;
    sg += Sum(rg) * cy;
    sb += Sum(rb) * cy;
  }
  if (sa == 0) return PF_Pixel{};
  PF_Pixel out;
  out.alpha = ClampByte(RoundQuotient(sa, area));
  out.red = ClampByte(RoundQuotient(sr, sa));
  out.green = ClampByte(RoundQuotient(sg, sa));
  out.blue = ClampByte(RoundQuotient(sb, sa));
  return out;
}

}  // namespace

PF_Pixel SubpixelSample(const PF_EffectWorld& w, PF_Fixed x, PF_Fixed y) {
  const A_long x0 = x >> 16;  // arithmetic shift: floor, also for negatives
  const A_long y0 = y >> 16;
  if (!HasPixels(w) || x0 < -1 || y0 < -1 || x0 >= w.width || y0 >= w.height) return PF_Pixel{};
  const uint64_t fx = uint32_t(x) & 0xFFFFu;
  const uint64_t fy = uint32_t(y) & 0xFFFFu;
  if (fx == 0 && fy == 0) {
    // On a pixel centre: alpha a and round(a*c / a) = c, or nothing at a = 0.
    const PF_Pixel p = Tap(w, x0, y0);
    return p.alpha ? p : PF_Pixel{};
  }
  PF_Pixel p[4];
  if (x0 >= 0 && y0 >= 0 && x0 + 1 < w.width && y0 + 1 < w.height) {
    const PF_Pixel* r0 = RowOf(w, y0) + x0;
    const PF_Pixel* r1 = RowOf(w, y0 + 1) + x0;
    p[0] = r0[0];
    p[1] = r0[1];
    p[2] = r1[0];
    p[3] = r1[1];
  } else {
    p[0] = Tap(w, x0, y0);
    p[1] = Tap(w, x0 + 1, y0);
    p[2] = Tap(w, x0, y0 + 1);
    p[3] = Tap(w, x0 + 1, y0 + 1);
  }
  const uint64_t wx0 = kOne - fx, wy0 = kOne - fy;
  const uint64_t wt[4] = {wx0 * wy0, fx * wy0, wx0 * fy, fx * fy};
  return Blend4(p, wt);
}

PF_Pixel AreaSample(const PF_EffectWorld& w, PF_Fixed x, PF_Fixed y, PF_Fixed x_radius, PF_Fixed y_radius) {
  // A box one pixel wide covers pixel i by 1 - |x - i|: the bilinear weights.
  if (x_radius <= kHalf && y_radius <= kHalf) return SubpixelSample(w, x, y);
  if (!HasPixels(w)) return PF_Pixel{};
  AxisSpan xs, ys;
  if (!MakeSpan(x, x_radius, w.width, xs) || !MakeSpan(y, y_radius, w.height, ys)) return PF_Pixel{};

  // The box's whole area, outside parts included, in units of 2^-32 pixels.
  const u128 area = u128(uint64_t(xs.hi - xs.lo)) * uint64_t(ys.hi - ys.lo);
  // Every sum is at most 255 * 255 * area: 64 bits hold them for boxes below
  // 2^15 square pixels, larger boxes sum in 128 bits.
  if (area < (u128(1) << 47)) return BoxSum<uint64_t>(w, xs, ys, area);
  return BoxSum<u128>(w, xs, ys, area);
}

}  // namespace ombrix
