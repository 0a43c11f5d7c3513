// Grid's arithmetic: the frame's set-up from the parameter values, the
// distance to the nearest line and the coverage of a pixel, all free of the
// host so that they read like the formulas they implement.
#pragma once

#include <pf/api.h>
#include <pf/smoothstep.h>

#include <cmath>

namespace grid {

enum GridsizeFrom { kCornerPoint = 1, kWidthSlider = 2, kWidthHeightSliders = 3 };

// The parameter values a frame needs, lengths in full-resolution pixels
// except the points, which are buffer pixels.
struct Settings {
  double border = 0;                  // "Border"
  int gridsize_from = kCornerPoint;   // "Gridsize From..."
  double anchor_x = 0, anchor_y = 0;  // buffer pixels
  double corner_x = 0, corner_y = 0;  // buffer pixels
  double width = 0, height = 0;       // the sliders
  double feather_w = 0, feather_h = 0;
  double dsx = 1, dsy = 1;  // downsample factors
};

// The constant block of one frame (the refcon of the pixel callbacks).
struct Block {
  PF_Pixel colour{};
  double anchor_x = 0, anchor_y = 0;
  double corner_x = 0, corner_y = 0;
  double w = 1, h = 1;  // cell width and height
  double half_w = 0.5, half_h = 0.5;
  double x_in = 0, x_out = 0, y_in = 0, y_out = 0;
  double kx = 1, ky = 1;                   // thin-line factors
  double inv_gx = 1, inv_gy = 1;           // feather reciprocals (feathered mode)
  PF_FpLong (*sqrt)(PF_FpLong) = nullptr;  // the host's square root
};

// What a frame does.
enum class Plan {
  kClear,    // no border: the output is cleared
  kCovered,  // the lines cover the whole frame: fill or copy
  kIterate,  // per-pixel
};

struct Frame {
  Plan plan = Plan::kClear;
  bool feathered = false;
  Block block;
};

// Thresholds of one axis. `half_border` is half the border in full-resolution
// pixels, `ds` the axis' downsample factor, `feather` the feather length.
inline void AxisThresholds(bool feathered, double half_border, double ds, double feather, double& in, double& out,
                           double& k, double& inv_g) {
  if (feathered) {
    const double g = feather * ds + 1.0;
    in = ds * half_border - g;
    out = g + in + 0.5;
    k = g;
    inv_g = 1.0 / g;
    if (out < 1.0) {
      k = g * out;
      out = 1.0;
    }
  } else {
    in = ds * half_border - 0.5;
    out = in + 1.0;
    k = 1.0;
    inv_g = 1.0;
    if (out < 1.0) {
      k = out;
      out = 1.0;
    }
  }
}

inline Frame SetUp(const Settings& s) {
  Frame f;
  const double b = s.border * 0.5;
  if (b <= 0) return f;

  Block& k = f.block;
  k.anchor_x = s.anchor_x;
  k.anchor_y = s.anchor_y;
  k.corner_x = s.corner_x;
  k.corner_y = s.corner_y;
  switch (s.gridsize_from) {
    case kCornerPoint:
      k.w = std::fabs(s.corner_x - s.anchor_x);
      k.h = std::fabs(s.corner_y - s.anchor_y);
      break;
    case kWidthSlider:
      k.w = s.dsx * s.width;
      k.h = s.dsy * s.width;
      break;
    default:
      k.w = s.dsx * s.width;
      k.h = s.dsy * s.height;
      break;
  }
  if (k.w < 1.0) k.w = 1.0;
  if (k.h < 1.0) k.h = 1.0;
  k.half_w = k.w / 2;
  k.half_h = k.h / 2;

  f.feathered = s.feather_w > 0.01 || s.feather_h > 0.01;
  AxisThresholds(f.feathered, b, s.dsx, s.feather_w, k.x_in, k.x_out, k.kx, k.inv_gx);
  AxisThresholds(f.feathered, b, s.dsy, s.feather_h, k.y_in, k.y_out, k.ky, k.inv_gy);

  f.plan = (k.x_in >= k.half_w || k.y_in >= k.half_h) ? Plan::kCovered : Plan::kIterate;
  return f;
}

// Distance from `d` (a coordinate relative to the anchor) to the nearest line
// of a grid with spacing `cell`.
inline double LineDistance(double d, double cell, double half) {
  d = d - cell * std::trunc(d / cell);
  if (d < 0) d = d + cell;
  if (d > half) d = cell - d;
  return d;
}

inline double FeatheredCover(double d, double in, double out, double k, double inv_g) {
  if (d >= out) return 0.0;
  if (d > in) {
    double t = (out - d) * inv_g;
    if (k < 1.0) t = t * k;
    return t * t;
  }
  return 1.0;
}

inline double SharpCover(double d, double in, double out, double k) {
  if (d >= out) return 0.0;
  if (d > in) {
    double c = out - d;
    if (k < 1.0) c = c * k;
    return c;
  }
  return 1.0;
}

// Coverage of the pixel at (x, y): the two axes added, up to 2 on a crossing.
inline double Coverage(const Block& b, bool feathered, A_long x, A_long y) {
  const double dy = LineDistance(double(y) - b.anchor_y, b.h, b.half_h);
  const double dx = LineDistance(double(x) - b.anchor_x, b.w, b.half_w);
  if (feathered)
    return FeatheredCover(dx, b.x_in, b.x_out, b.kx, b.inv_gx) + FeatheredCover(dy, b.y_in, b.y_out, b.ky, b.inv_gy);
  return SharpCover(dx, b.x_in, b.x_out, b.kx) + SharpCover(dy, b.y_in, b.y_out, b.ky);
}

// Writes `fill` at coverage a: nothing but a zero alpha where a <= 0, the
// fill itself from a > 1, its alpha scaled in between (through a smoothstep
// of the square root when feathered).
inline void Paint(const Block& b, bool feathered, const PF_Pixel& fill, double a, PF_Pixel& out) {
  if (a <= 0) {
    out.alpha = 0;
    return;
  }
  out = fill;
  if (a > 1.0) return;
  if (feathered) {
    out.alpha = A_u_char(pf::SmoothStep(b.sqrt(a)) * fill.alpha);
  } else {
    out.alpha = A_u_char(a * fill.alpha);
  }
}

inline void SolidPixel(const Block& b, bool feathered, A_long x, A_long y, PF_Pixel& out) {
  Paint(b, feathered, b.colour, Coverage(b, feathered, x, y), out);
}

// The input itself is the fill; transparent input stays transparent.
inline void LayerPixel(const Block& b, bool feathered, A_long x, A_long y, const PF_Pixel& in, PF_Pixel& out) {
  if (in.alpha == 0) {
    out.alpha = 0;
    return;
  }
  const PF_Pixel fill = in;
  Paint(b, feathered, fill, Coverage(b, feathered, x, y), out);
}

}  // namespace grid
