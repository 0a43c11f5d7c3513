// Scaled copy between worlds of different sizes (box reduction, and the
// same formula for enlargement), separable and exact.
//
// On one axis, with the source of n pixels stretched over the destination's
// m, destination pixel k's footprint is [k*n, (k+1)*n] in units of 1/m of a
// source pixel, and source pixel i covers [i*m, (i+1)*m]. Both are divided
// by gcd(n, m), so every coverage is a small integer and a footprint's
// coverages sum to n / gcd. A destination pixel's sums are
// sum_j wy_j * sum_i wx_i * (a, a*r, a*g, a*b)_ij, computed as a horizontal
// pass per source row followed by a vertical pass over the few rows of each
// destination row, all in 64-bit integers (below 2^63 for any world that fits
// in memory), and rounded exactly by RoundQuotient.
#include <ombrix/host/pixel_ops.h>

#include "pixel_ops_internal.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <numeric>
#include <vector>

namespace ombrix {

using namespace pixel_ops;

namespace {

struct AxisPlan {
  std::vector<A_long> first;    // first source pixel of each destination pixel
  std::vector<uint32_t> begin;  // its weights: weights[begin[k] .. begin[k + 1])
  std::vector<uint32_t> weights;
  uint64_t total = 0;  // the weights of one footprint sum to this
};

AxisPlan PlanAxis(A_long src, A_long dst) {
  const int64_t g = std::gcd(int64_t(src), int64_t(dst));
  const int64_t n = src / g, m = dst / g;
  AxisPlan plan;
  plan.total = uint64_t(n);
  plan.first.resize(size_t(dst));
  plan.begin.resize(size_t(dst) + 1);
  for (int64_t k = 0; k < dst; ++k) {
    const int64_t lo = k * n, hi = lo + n;
    const int64_t i0 = lo / m, i1 = (hi - 1) / m;  // pixels starting before hi
    plan.first[size_t(k)] = A_long(i0);
    plan.begin[size_t(k)] = uint32_t(plan.weights.size());
    for (int64_t i = i0; i <= i1; ++i)
      plan.weights.push_back(uint32_t(std::min(hi, (i + 1) * m) - std::max(lo, i * m)));
  }
  plan.begin[size_t(dst)] = uint32_t(plan.weights.size());
  return plan;
}

struct Sums {
  uint64_t a, r, g, b;  // sum w*a and sum w*a*c
};

// One source row filtered horizontally into the destination's columns.
void FilterRow(const PF_Pixel* row, const AxisPlan& xp, Sums* out) {
  const size_t dw = xp.first.size();
  for (size_t k = 0; k < dw; ++k) {
    const PF_Pixel* p = row + xp.first[k];
    const uint32_t* wt = xp.weights.data() + xp.begin[k];
    const uint32_t count = xp.begin[k + 1] - xp.begin[k];
    Sums s{0, 0, 0, 0};
    for (uint32_t t = 0; t < count; ++t) {
      const uint64_t wa = uint64_t(wt[t]) * p[t].alpha;
      s.a += wa;
      s.r += wa * p[t].red;
      s.g += wa * p[t].green;
      s.b += wa * p[t].blue;
    }
    out[k] = s;
  }
}

// The filtered rows of the last two source rows used: consecutive
// destination rows share at most their boundary rows.
class RowCache {
 public:
  RowCache(const PF_EffectWorld& src, const AxisPlan& xp) : src_(src), xp_(xp) {
    for (auto& slot : slots_) slot.sums.resize(xp.first.size());
  }
  const Sums* Get(A_long row) {
    for (int s = 0; s < 2; ++s) {
      if (slots_[s].row == row) {
        recent_ = s;
        return slots_[s].sums.data();
      }
    }
    recent_ = 1 - recent_;
    Slot& slot = slots_[recent_];
    slot.row = row;
    FilterRow(RowOf(src_, row), xp_, slot.sums.data());
    return slot.sums.data();
  }

 private:
  struct Slot {
    A_long row = -1;
    std::vector<Sums> sums;
  };
  const PF_EffectWorld& src_;
  const AxisPlan& xp_;
  Slot slots_[2];
  int recent_ = 0;
};

void ClearRows(PF_EffectWorld& dst) {
  for (A_long y = 0; y < dst.height; ++y) std::memset(RowOf(dst, y), 0, size_t(dst.width) * sizeof(PF_Pixel));
}

}  // namespace

void ScaledCopy(const PF_EffectWorld& src, PF_EffectWorld& dst) {
  if (!HasPixels(dst)) return;
  if (!HasPixels(src)) {
    ClearRows(dst);
    return;
  }
  if (src.width == dst.width && src.height == dst.height) {
    if (src.data == dst.data && src.rowbytes == dst.rowbytes) return;
    for (A_long y = 0; y < dst.height; ++y)
      std::memmove(RowOf(dst, y), RowOf(src, y), size_t(dst.width) * sizeof(PF_Pixel));
    return;
  }

  const AxisPlan xp = PlanAxis(src.width, dst.width);
  const AxisPlan yp = PlanAxis(src.height, dst.height);
  const uint64_t area = xp.total * yp.total;
  const size_t dw = size_t(dst.width);
  RowCache cache(src, xp);
  std::vector<Sums> acc(dw);

  for (A_long y = 0; y < dst.height; ++y) {
    std::fill(acc.begin(), acc.end(), Sums{0, 0, 0, 0});
    const uint32_t b = yp.begin[size_t(y)], e = yp.begin[size_t(y) + 1];
    for (uint32_t t = b; t < e; ++t) {
      const uint64_t wy = yp.weights[t];
      const Sums* h = cache.Get(yp.first[size_t(y)] + A_long(t - b));
      for (size_t k = 0; k < dw; ++k) {
        acc[k].a += wy * h[k].a;
        acc[k].r += wy * h[k].r;
        acc[k].g += wy * h[k].g;
        acc[k].b += wy * h[k].b;
      }
    }
    PF_Pixel* out = RowOf(dst, y);
    for (size_t k = 0; k < dw; ++k) {
      const Sums& s = acc[k];
      if (s.a == 0) {
        out[k] = PF_Pixel{};
        continue;
      }
      out[k].alpha = ClampByte(RoundQuotient(s.a, area));
      out[k].red = ClampByte(RoundQuotient(s.r, s.a));
      out[k].green = ClampByte(RoundQuotient(s.g, s.a));
      out[k].blue = ClampByte(RoundQuotient(s.b, s.a));
    }
  }
}

A_long ScaledSize(A_long full, A_long num, A_long den) {
  if (full <= 0 || num <= 0 || den <= 0) return full;
  const int64_t size = (int64_t(full) * num + den - 1) / den;
  return A_long(std::min<int64_t>(size, std::numeric_limits<A_long>::max()));
}

}  // namespace ombrix
