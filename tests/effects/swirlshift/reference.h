// Swirlshift worked out step by step from its description, written apart
// from the plug-in: the frame setup from the raw parameter values, the
// fractal sum spelled out per reader, each field's two components, the 16.16
// sample position and the area footprint. The tests compare the plug-in's
// bytes with the host's samplers applied at what this computes.
#pragma once

#include <noise/fractal.h>
#include <pf/api.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace swirlshift_ref {

// The parameter values as the plug-in receives them (16.16 where the host
// passes 16.16), offset in buffer pixels.
struct Values {
  int32_t type = 1;
  PF_Fixed amount = 50 << 16;
  PF_Fixed scale = 100 << 16;
  double offset_x = 0, offset_y = 0;
  PF_Fixed complexity = 1 << 16;
  int32_t evolution = 0;
  int32_t antialiasing = 1;
  PF_Quality quality = PF_Quality_HI;
  int32_t ds_num = 1, ds_den = 1;
};

struct Setup {
  double A, F;
  int32_t n;
  double f;
  bool hq;
  int32_t field;  // 1 turbulent, 2 bulge, 3 twist
  bool high;      // area sampling
};

inline Setup Prepare(const Values& v) {
  Setup s{};
  const double ds = double(v.ds_num) / double(v.ds_den);
  const double amount = v.amount / 65536.0;
  const double scale = v.scale / 65536.0;
  s.A = ds * amount * scale * 0.01 * 327680.0;
  s.F = 0.5 / scale / ds;
  if (v.type < 4) s.F = s.F * 0.70710678;
  if (v.type >= 1 && v.type <= 3) s.F = s.F * 0.5;
  const double c = v.complexity / 65536.0;
  s.n = int32_t(std::floor(c));
  s.f = (v.quality == PF_Quality_LO) ? 0.0 : c - s.n;
  s.hq = v.type >= 5;
  s.field = s.hq ? v.type - 4 : v.type;
  s.high = v.antialiasing == 2 && v.quality != PF_Quality_LO;
  return s;
}

// w = 0.25, x 0.7 per octave; the point scales by 1.77 before each read.
inline double FractalSum(const noise::NoiseLattice& L, const Setup& s, double p, double q) {
  if (!s.hq) {  // the fast sum reads the turned point
    const double t = p - q;
    q = p + q;
    p = t;
  }
  auto read = [&](double a, double b) { return s.hq ? noise::NoiseCubic(L, a, b) : noise::NoiseFaded(L, a, b); };
  double sum = 0.0, w = 0.25;
  for (int32_t k = 1; k <= s.n; ++k) {
    p *= 1.77;
    q *= 1.77;
    sum += w * read(p, q);
    w *= 0.7;
  }
  if (s.f > 0.0) sum += s.f * w * read(p * 1.77, q * 1.77);
  return sum;
}

inline void Displacement(const noise::NoiseLattice& L, const Setup& s, double px, double py, double& dx, double& dy) {
  switch (s.field) {
    case 1:
      dx = FractalSum(L, s, px, py);
      dy = FractalSum(L, s, px + 37, py + 17);
      break;
    case 2:
      dx = FractalSum(L, s, px, py) - FractalSum(L, s, px + 0.25, py);
      dy = FractalSum(L, s, px, py) - FractalSum(L, s, px, py + 0.25);
      break;
    default:
      dx = FractalSum(L, s, px, py + 0.25) - FractalSum(L, s, px, py);
      dy = FractalSum(L, s, px, py) - FractalSum(L, s, px + 0.25, py);
      break;
  }
}

// Truncation toward zero, held to the 32-bit range.
inline int32_t Fixed(double v) {
  const double t = std::trunc(v);
  if (t <= -2147483648.0) return INT32_MIN;
  if (t >= 2147483647.0) return INT32_MAX;
  return int32_t(t);
}

struct Sample {
  int32_t X, Y;
  bool area;
  int32_t rx, ry;
  int64_t area_value;
};

inline Sample At(const noise::NoiseLattice& L, const Setup& s, const Values& v, A_long x, A_long y) {
  const double px = (x - v.offset_x) * s.F + 7913.17;
  const double py = (y - v.offset_y) * s.F + 9711.73;
  double dx, dy;
  Displacement(L, s, px, py, dx, dy);
  Sample r{Fixed(dx * s.A + x * 65536.0), Fixed(dy * s.A + y * 65536.0), s.high, 0, 0, 0};
  if (!s.high) return r;
  double dxr, dyr, dxd, dyd;
  Displacement(L, s, px + s.F, py, dxr, dyr);
  Displacement(L, s, px, py + s.F, dxd, dyd);
  const double jxx = (dxr - dx) * s.A + 65536, jyx = (dyr - dy) * s.A;
  const double jxy = (dxd - dx) * s.A, jyy = (dyd - dy) * s.A + 65536;
  const double rx = std::clamp(0.5 * std::max(std::abs(jxy), std::abs(jxx)), 32768.0, 2097152.0);
  const double ry = std::clamp(0.5 * std::max(std::abs(jyy), std::abs(jyx)), 32768.0, 2097152.0);
  r.rx = int32_t(rx);
  r.ry = int32_t(ry);
  r.area_value = (int64_t(r.ry) * r.rx >> 16) << 2;
  return r;
}

}  // namespace swirlshift_ref
