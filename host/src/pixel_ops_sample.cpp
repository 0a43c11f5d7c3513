// subpixel_sample and area_sample: bilinear and box sampling of a world at
// 16.16 positions, premultiplied by alpha, in exact integer arithmetic.
//
// Each sampler has a plain form, every weight applied to every pixel as the
// formula reads, and a fast form that regroups the same integer sums: the
// bilinear weights are applied one axis at a time, and a box's inner pixels,
// whose coverage is always a whole pixel, are summed unweighted and scaled
// once. Integer sums do not depend on their grouping, so both give the same
// bytes; the plain forms stay selectable for tests that compare the two.
#include <ombrix/host/pixel_ops.h>

#include "pixel_ops_internal.h"

#include <pf/reference_paths.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstring>

namespace ombrix {

using namespace pixel_ops;

namespace {

// OMBRIX_REFERENCE_PATHS, the switch that sends plug-ins down their plain
// paths, starts the host's samplers in their plain forms too, so one
// variable compares a whole render against its reference.
std::atomic<bool> reference_sampling{pf::ReferencePathsRequested()};

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

// A box's pixel from its weighted sums: alpha is the mean over the box's
// area, the colours the alpha-weighted means; nothing covered gives zero.
template <class Sum>
PF_Pixel BoxResult(Sum sa, Sum sr, Sum sg, Sum sb, u128 area) {
  if (sa == 0) return PF_Pixel{};
  PF_Pixel out;
  out.alpha = ClampByte(RoundQuotient(sa, area));
  out.red = ClampByte(RoundQuotient(sr, sa));
  out.green = ClampByte(RoundQuotient(sg, sa));
  out.blue = ClampByte(RoundQuotient(sb, sa));
  return out;
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
  return BoxResult(sa, sr, sg, sb, area);
}

// ---------------------------------------------------------------------------
// Fast forms
// ---------------------------------------------------------------------------

// Blend4 with the weights (1 - fx, fx) x (1 - fy, fy) applied one axis at a
// time: sum wx*wy*v = wy0 * (wx0*v00 + fx*v01) + fy * (wx0*v10 + fx*v11).
// The inner sums stay below 2^32 (wx0 + fx = 2^16 and v <= 255 * 255), so
// they are taken in 32 bits and only the outer products need 64. The pixels
// come as 32-bit words (alpha in the low byte) so that they stay in
// registers.
static_assert(std::endian::native == std::endian::little && sizeof(PF_Pixel) == 4 && offsetof(PF_Pixel, alpha) == 0 &&
              offsetof(PF_Pixel, red) == 1 && offsetof(PF_Pixel, green) == 2 && offsetof(PF_Pixel, blue) == 3);

inline uint32_t Word(const PF_Pixel* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

inline uint32_t Byte(uint32_t word, int k) { return (word >> (8 * k)) & 0xFFu; }

struct Weights {
  uint32_t wx0, fx;
  uint64_t wy0, fy;
  uint64_t Lerp(uint32_t v00, uint32_t v01, uint32_t v10, uint32_t v11) const {
    return wy0 * (wx0 * v00 + fx * v01) + fy * (wx0 * v10 + fx * v11);
  }
};

PF_Pixel Blend4Separable(uint32_t p0, uint32_t p1, uint32_t p2, uint32_t p3, uint32_t fx, uint32_t fy) {
  const Weights wt{uint32_t(kOne) - fx, fx, uint64_t(kOne) - fy, fy};
  const uint64_t half = uint64_t(1) << 31;
  const uint32_t a0 = p0 & 0xFFu;
  PF_Pixel out;
  if ((((p0 ^ p1) | (p0 ^ p2) | (p0 ^ p3)) & 0xFFu) == 0) {
    // A common alpha a: A = a exactly, and each colour is sum w*c / 2^32.
    if (a0 == 0) return PF_Pixel{};
    auto channel = [&](int k) {
      return ClampByte(uint32_t((wt.Lerp(Byte(p0, k), Byte(p1, k), Byte(p2, k), Byte(p3, k)) + half) >> 32));
    };
    out.alpha = A_u_char(a0);
    out.red = channel(1);
    out.green = channel(2);
    out.blue = channel(3);
    return out;
  }
  const uint32_t a1 = Byte(p1, 0), a2 = Byte(p2, 0), a3 = Byte(p3, 0);
  const uint64_t sa = wt.Lerp(a0, a1, a2, a3);
  if (sa == 0) return PF_Pixel{};
  auto channel = [&](int k) {
    return ClampByte(
        RoundQuotient(wt.Lerp(a0 * Byte(p0, k), a1 * Byte(p1, k), a2 * Byte(p2, k), a3 * Byte(p3, k)), sa));
  };
  out.alpha = ClampByte(uint32_t((sa + half) >> 32));
  out.red = channel(1);
  out.green = channel(2);
  out.blue = channel(3);
  return out;
}

// Premultiplied sums of a run of pixels: alpha, and alpha times each colour.
struct Sums {
  uint64_t a = 0, r = 0, g = 0, b = 0;
};

inline void AddWeighted(Sums& s, const PF_Pixel& p, uint64_t weight) {
  const uint64_t wa = weight * p.alpha;
  s.a += wa;
  s.r += wa * p.red;
  s.g += wa * p.green;
  s.b += wa * p.blue;
}

// One row of the box: its end pixels weighted by their coverage, the pixels
// between them covered whole (pixel i > first starts after lo, pixel i <
// last ends before hi), so summed as they are and scaled by one pixel.
inline Sums BoxRow(const PF_Pixel* row, const AxisSpan& xs, uint64_t c_first, uint64_t c_last) {
  Sums s;
  AddWeighted(s, row[xs.first], c_first);
  if (xs.last == xs.first) return s;
  Sums inner;
  for (A_long i = xs.first + 1; i < xs.last; ++i) {
    const PF_Pixel p = row[i];
    const uint32_t a = p.alpha;
    inner.a += a;
    inner.r += a * p.red;
    inner.g += a * p.green;
    inner.b += a * p.blue;
  }
  AddWeighted(s, row[xs.last], c_last);
  s.a += inner.a << 16;
  s.r += inner.r << 16;
  s.g += inner.g << 16;
  s.b += inner.b << 16;
  return s;
}

// BoxSum with the coverages hoisted: the end columns' and end rows'
// coverages are worked out once, the rows between weigh one pixel.
template <class Sum>
PF_Pixel BoxSumFast(const PF_EffectWorld& w, const AxisSpan& xs, const AxisSpan& ys, u128 area) {
  const uint64_t c_first = Coverage(xs, xs.first), c_last = Coverage(xs, xs.last);
  const uint64_t r_first = Coverage(ys, ys.first), r_last = Coverage(ys, ys.last);
  Sum sa = 0, sr = 0, sg = 0, sb = 0;
  for (A_long j = ys.first; j <= ys.last; ++j) {
    const Sums s = BoxRow(RowOf(w, j), xs, c_first, c_last);
    const uint64_t cy = j == ys.first ? r_first : (j == ys.last ? r_last : uint64_t(kOne));
    sa += Sum(s.a) * cy;
    sr += Sum(s.r) * cy;
    sg += Sum(s.g) * cy;
    sb += Sum(s.b) * cy;
  }
  return BoxResult(sa, sr, sg, sb, area);
}

}  // namespace

PF_Pixel SubpixelSampleReference(const PF_EffectWorld& w, PF_Fixed x, PF_Fixed y) {
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

PF_Pixel AreaSampleReference(const PF_EffectWorld& w, PF_Fixed x, PF_Fixed y, PF_Fixed x_radius, PF_Fixed y_radius) {
  // A box one pixel wide covers pixel i by 1 - |x - i|: the bilinear weights.
  if (x_radius <= kHalf && y_radius <= kHalf) return SubpixelSampleReference(w, x, y);
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

void SetReferenceSampling(bool on) { reference_sampling.store(on, std::memory_order_relaxed); }

PF_Pixel SubpixelSample(const PF_EffectWorld& w, PF_Fixed x, PF_Fixed y) {
  if (reference_sampling.load(std::memory_order_relaxed)) return SubpixelSampleReference(w, x, y);
  const A_long x0 = x >> 16;
  const A_long y0 = y >> 16;
  if (!HasPixels(w) || x0 < -1 || y0 < -1 || x0 >= w.width || y0 >= w.height) return PF_Pixel{};
  const uint32_t fx = uint32_t(x) & 0xFFFFu;
  const uint32_t fy = uint32_t(y) & 0xFFFFu;
  // On a pixel centre the weights are (1, 0, 0, 0): the blend gives the
  // pixel itself, or nothing under alpha 0.
  if (x0 >= 0 && y0 >= 0 && x0 + 1 < w.width && y0 + 1 < w.height) {
    const PF_Pixel* r0 = RowOf(w, y0) + x0;
    const PF_Pixel* r1 = RowOf(w, y0 + 1) + x0;
    return Blend4Separable(Word(r0), Word(r0 + 1), Word(r1), Word(r1 + 1), fx, fy);
  }
  auto tap = [&](A_long i, A_long j) {
    const PF_Pixel p = Tap(w, i, j);
    return Word(&p);
  };
  return Blend4Separable(tap(x0, y0), tap(x0 + 1, y0), tap(x0, y0 + 1), tap(x0 + 1, y0 + 1), fx, fy);
}

PF_Pixel AreaSample(const PF_EffectWorld& w, PF_Fixed x, PF_Fixed y, PF_Fixed x_radius, PF_Fixed y_radius) {
  if (reference_sampling.load(std::memory_order_relaxed)) return AreaSampleReference(w, x, y, x_radius, y_radius);
  if (x_radius <= kHalf && y_radius <= kHalf) return SubpixelSample(w, x, y);
  if (!HasPixels(w)) return PF_Pixel{};
  AxisSpan xs, ys;
  if (!MakeSpan(x, x_radius, w.width, xs) || !MakeSpan(y, y_radius, w.height, ys)) return PF_Pixel{};
  const u128 area = u128(uint64_t(xs.hi - xs.lo)) * uint64_t(ys.hi - ys.lo);
  if (area < (u128(1) << 47)) return BoxSumFast<uint64_t>(w, xs, ys, area);
  return BoxSumFast<u128>(w, xs, ys, area);
}

}  // namespace ombrix
