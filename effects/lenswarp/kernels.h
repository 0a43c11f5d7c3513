// Lenswarp's per-pixel work: the source position of every output pixel along
// the ray from the view centre, forward (rectilinear to lens) or reverse
// (lens to rectilinear), and its sample, by area where the forward mapping
// stretches the source at high quality. Free functions on the frame's
// constant block and one pixel; the host is reached through the block's
// in_data.
#pragma once

#include <pf/api.h>
#include <pf/fixed.h>

#include <cstdint>
#include <cstdlib>

namespace lenswarp {

// "FOV Orientation..." values.
enum Orientation { kHorizontal = 1, kVertical = 2, kDiagonal = 3 };

inline constexpr double kHalfDegree = 0.008726646259971648;  // pi / 360
inline constexpr double kTwoPi = 6.283185307179586;
inline constexpr double kRayEpsilon = 0.00001;

// Built afresh for every frame and handed to the pixel callback as its refcon.
struct Block {
  double cx, cy;   // view centre, buffer pixels
  double aspect;   // pixel aspect ratio P
  double f, f2;    // focal length in pixels, and its square
  double k;        // offset scale ("Optimal Pixels"), 1 when off
  bool area;       // high quality: area sampling where the mapping magnifies
  PF_SampPB samp;  // source: the input layer
  PF_InData* in_data;
};

// Samples the source at the centre plus m times the offset (a, b), at
// distance r from the centre. Where the forward mapping stretches the source
// (e > 0) at high quality, the box follows the local stretch along the ray,
// up to 60 pixels each way.
inline PF_Err Sample(const Block& c, double a, double b, double r, double m, PF_Pixel* out) {
  PF_InData* in_data = c.in_data;
  const PF_Fixed sx = pf::FixedFromDouble(c.cx + m * a);
  const PF_Fixed sy = pf::FixedFromDouble(c.cy + m * b);
  const double e = (m - 1.0) * c.k;
  if (c.area && e > 0.0) {
    const double g = e * kTwoPi / (r + kRayEpsilon);
    auto limit = [](double v) { return v < 0.5 ? 0.5 : (v > 60.0 ? 60.0 : v); };
    PF_SampPB samp = c.samp;
    samp.x_radius = PF_Fixed(limit(std::abs(a * g)) * 65536.0);
    samp.y_radius = PF_Fixed(limit(std::abs(b * g)) * 65536.0);
    // At most 60 x 60 pixels in 16.16: the product needs 64 bits.
    samp.area = PF_Fixed((int64_t(samp.y_radius) * samp.x_radius / 65536) * 4);
    return in_data->utils->area_sample(in_data->effect_ref, sx, sy, &samp, out);
  }
  return in_data->utils->subpixel_sample(in_data->effect_ref, sx, sy, &c.samp, out);
}

// Rectilinear to lens: a ray at distance r from the centre comes from
// tan(asin(r / f)) x f; beyond the focal length there is nothing to see.
inline PF_Err ForwardPixel(const Block& c, A_long x, A_long y, PF_Pixel* out) {
  const double a = (x - c.cx) * c.k, b = (y - c.cy) * c.k;
  const double ap = a * c.aspect;
  const double r2 = ap * ap + b * b;
  if (r2 >= c.f2) {
    out->alpha = 0;
    return PF_Err_NONE;
  }
  const double r = c.in_data->utils->ansi.sqrt(r2);
  const double m = c.in_data->utils->ansi.sqrt(r2 * c.f2 / (c.f2 - r2)) / (r + kRayEpsilon);
  return Sample(c, a, b, r, m, out);
}

// Lens to rectilinear: every pixel has a source, nearer the centre.
inline PF_Err ReversePixel(const Block& c, A_long x, A_long y, PF_Pixel* out) {
  const PF_ANSICallbacks& ansi = c.in_data->utils->ansi;
  const double a = (x - c.cx) * c.k, b = (y - c.cy) * c.k;
  const double ap = a * c.aspect;
  const double r = ansi.sqrt(ap * ap + b * b);
  const double m = ansi.cos(ansi.atan2(r + kRayEpsilon, c.f));
  return Sample(c, a, b, r, m, out);
}

}  // namespace lenswarp
