// Mistform's intensity worked out step by step from the intensity formulas,
// one type at a time, with the noise core's public readers. The tests hold
// the plug-in's bytes against these values.
#pragma once

#include <noise/fractal.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace mistform_ref {

using noise::NoiseLattice;

constexpr double kOX = 7913.17;
constexpr double kOY = 9711.73;

struct Frame {
  double A;  // amplitude after normalisation (or x 4 for Terrain)
  int n;     // whole octaves
  double f;  // fractional octave
};

inline double Faded(const NoiseLattice& L, double x, double y) { return noise::NoiseFaded(L, x, y); }
inline double Linear(const NoiseLattice& L, double x, double y) { return noise::NoiseLinear(L, x, y); }
inline double Cubic(const NoiseLattice& L, double x, double y) { return noise::NoiseCubic(L, x, y); }

inline double Smoothstep(double t) {
  if (t <= 0) return 0;
  if (t >= 1) return 1;
  return t * t * (3 - 2 * t);
}

// The intensity V of `type` at lattice offsets (dx, dy).
inline double Intensity(int type, const NoiseLattice& L, const Frame& fr, double dx, double dy) {
  const double A = fr.A, f = fr.f;
  const int n = fr.n;
  switch (type) {
    case 2:
    case 3: {  // Basic Linear (turned, faded) and Smooth (plain, cubic)
      double u = type == 2 ? dx - dy + kOX : dx + kOX;
      double v = type == 2 ? dx + dy + kOY : dy + kOY;
      double sum = 0, w = 1;
      for (int k = 1; k <= n; ++k) {
        u *= 1.77;
        v *= 1.77;
        sum += w * (type == 2 ? Faded(L, u, v) : Cubic(L, u, v));
        w *= 0.7;
      }
      if (f > 0) sum += f * w * (type == 2 ? Faded(L, 1.77 * u, 1.77 * v) : Cubic(L, 1.77 * u, 1.77 * v));
      return sum * A + 127.5;
    }
    case 5:
    case 6:
    case 7: {  // Soft, Standard, Sharp
      auto h = [type](double l) {
        if (type == 5) return l * l;
        if (type == 6) return Smoothstep(std::fabs(l));
        return 2 - 2 / (std::fabs(l) + 1);
      };
      double u = dx + kOX, v = dy + kOY, g = 1, w = 1;
      for (int k = 1; k <= n; ++k) {
        u *= 1.77;
        v *= 1.77;
        g *= 1 - w * h(Cubic(L, u, v));
        w *= 0.7;
      }
      if (f > 0) g *= 1 - f * w * h(Cubic(L, 1.77 * u, 1.77 * v));
      return (1 - g) * A;
    }
    case 9:
    case 10:
    case 11:
    case 12:
    case 13:
    case 14: {
      const bool linear = type <= 11;
      const double e = linear ? 0.15 : (type == 14 ? 0.2 : 0.3);
      auto N = [&](double x, double y) { return linear ? Faded(L, x, y) : Cubic(L, x, y); };
      double u = linear ? dx - dy + kOX : dx + kOX;
      double v = linear ? dx + dy + kOY : dy + kOY;
      double m = N(u, v);
      double gx = N(u + e, v) - m;
      double gy = N(u, v + e) - m;
      double sum = 0, w = 1;
      auto step = [&](double& uu, double& vv) {
        if (type == 11) {
          uu = 1.77 * uu - gy;
          vv = 1.77 * vv + gx;
        } else if (type == 14) {
          uu = 1.77 * uu - 2 * gy;
          vv = 1.77 * vv + 2 * gx;
        } else {
          uu = 1.77 * uu + gx;
          vv = 1.77 * vv + gy;
        }
      };
      for (int k = 1; k <= n; ++k) {
        step(u, v);
        m = N(u, v);
        const double ngx = N(u + e, v) - m;
        const double ngy = N(u, v + e) - m;
        if (type == 10 || type == 13) {
          const double old_gx = gx, old_gy = gy;
          gx = ngx + old_gy;
          gy = ngy - old_gx;
        } else {
          gx = ngx;
          gy = ngy;
        }
        sum += w * m;
        w *= 0.7;
      }
      if (f > 0) {
        double fu = u, fv = v;
        step(fu, fv);
        sum += f * w * N(fu, fv);
      }
      return sum * A + 127.5;
    }
    case 16: {  // Max
      double u = dx + kOX, v = dy + kOY, g = 0, w = 1;
      for (int k = 1; k <= n; ++k) {
        u *= 1.1;
        v *= 1.1;
        g = std::max(g, w * std::fabs(Cubic(L, u, v)));
        w *= 0.9;
      }
      if (f > 0) g = std::max(g, f * w * std::fabs(Cubic(L, 1.1 * u, 1.1 * v)));
      return g * A;
    }
    case 17: {  // Smeary
      double u = dx + kOX, v = dy + kOY;
      double su = u, sv = v, P = 1, w = 1;
      for (int k = 1; k <= n; ++k) {
        su *= -1.77;
        sv *= -1.77;
        u += P;
        v += P;
        const double r = Faded(L, v, -u);
        const double t = Faded(L, u, v);
        const double q = Cubic(L, t + su, r + sv);
        P *= 1 - w * (2 - 2 / (std::fabs(q) + 1));
        w *= 0.7;
      }
      if (f > 0) {
        const double fsu = su * -1.77, fsv = sv * -1.77, fu = u + P, fv = v + P;
        const double r = Faded(L, fv, -fu);
        const double t = Faded(L, fu, fv);
        const double q = Cubic(L, t + fsu, r + fsv);
        P *= 1 - f * w * (2 - 2 / (std::fabs(q) + 1));
      }
      return (1 - P) * A;
    }
    case 18: {  // Swirly
      const double a = Cubic(L, dx + 91, dy);
      const double b = Cubic(L, dy + 37, dx);
      double u = dx + a + kOX, v = dy + b + kOY, l = 1, w = 1;
      for (int k = 1; k <= n; ++k) {
        u *= 1.77;
        v *= 1.77;
        l *= 1 - w * std::fabs(Cubic(L, u, v));
        w *= 0.7;
      }
      if (f > 0) l *= 1 - w * f * std::fabs(Cubic(L, 1.77 * u, 1.77 * v));
      return (1 - l) * A;
    }
    case 19: {  // Rocky
      double u = dx - dy + kOX;
      double v = (dx + dy) * 0.39 + kOY;
      const double h = Linear(L, u, v);
      const double d = (std::pow(1 - std::fabs(h), 7.0) * 0.16 + 0.95) * 0.7;
      auto s_of = [](double t) {
        if (t < -0.15) return 0.0;
        if (t >= 0.15) return 1.0;
        const double q = (t + 0.15) * 3.3333333333333335;
        return q * q * (3 - 2 * q);
      };
      double sum = 0, w = 1, W = 1;
      for (int k = 1; k <= n; ++k) {
        u *= 1.77;
        v *= 1.947;
        sum += (s_of(Linear(L, u, v)) - 0.5) * w;
        W += w;
        w *= d;
      }
      if (f > 0) {
        sum += (s_of(Linear(L, u * 1.77, v * 1.947)) - 0.5) * f * w;
        W += w * f;
      }
      return sum * A / W + 127.5;
    }
    case 20: {  // Cloudy
      double u = dx + kOX, v = dy + kOY;
      double l = (Cubic(L, u, v) + 1) * 0.5, w = 1;
      for (int k = 1; k <= n; ++k) {
        u *= -1.77;
        v *= -1.77;
        l *= 1 - w * std::fabs(Cubic(L, u, v));
        w *= 0.7;
      }
      if (f > 0) l *= 1 - w * f * std::fabs(Cubic(L, -1.77 * u, -1.77 * v));
      return (1 - l) * A;
    }
    case 21: {  // Terrain
      double u = dx + kOX, v = dy + kOY;
      const double g = Cubic(L, u, v) + 0.2;
      double h = 0;
      if (g >= 1)
        h = 1;
      else if (g > 0)
        h = g;
      double w = 0.5;
      for (int k = 1; k <= n; ++k) {
        u *= -1.77;
        v *= -1.77;
        h -= w * std::fabs(Cubic(L, u, v));
        w *= 0.7;
      }
      if (f > 0) h -= w * f * std::fabs(Cubic(L, -1.77 * u, -1.77 * v));
      return h * A;
    }
    case 22: {  // Subscale: the same origin constant on both axes
      double u = dx + kOX, v = dy + kOX;
      const double c = Cubic(L, u, v);
      const double sigma = 4 * c * c + 1;
      const double j = std::floor(sigma), t = sigma - j;
      double sum = 0, w = 1;
      for (int k = 1; k <= n; ++k) {
        u *= 1.77;
        v *= 1.77;
        sum += w * (t * Cubic(L, u * (j + 1), v * (j + 1)) + (1 - t) * Cubic(L, u * j, v * j));
        w *= 0.7;
      }
      if (f > 0) {
        const double fu = u * 1.77, fv = v * 1.77;
        sum += f * w * (t * Cubic(L, fu * (j + 1), fv * (j + 1)) + (1 - t) * Cubic(L, fu * j, fv * j));
      }
      return sum * A + 127.5;
    }
  }
  return 0;
}

// ---------------------------------------------------------------------------
// The render setup, from the parameter values as the host delivers them.
// ---------------------------------------------------------------------------

struct Values {
  int type = 2;
  int32_t contrast = 100 << 16;
  int32_t scale = 100 << 16;
  double offset_x = 0, offset_y = 0;  // buffer pixels
  int32_t complexity = 6 << 16;
  int32_t evolution = 0;
  int overflow = 1;
  bool invert = false;
  int quality = 1;
  double downsample = 1.0;  // num / den
};

inline bool Centred(int t) { return t == 2 || t == 3 || (t >= 9 && t <= 14) || t == 19 || t == 22; }
inline bool Normalised(int t) { return t == 2 || t == 3 || (t >= 9 && t <= 14) || t == 22; }

// The complexity after the octave cap, worked step by step: S grows by Q until
// it reaches 1.1 or i reaches floor(C) - 1.
inline double CappedComplexity(double C, double F, int type) {
  if (C <= 4) return C;
  const double Q = type == 16 ? 1.1 : 1.77;
  double S = Q * F;
  for (int i = 1;; ++i) {
    if (i >= std::floor(C) - 1) return C;
    S = S * Q;
    if (S >= 1.1) {
      const double c = (i + 1) - (S - 1) / (Q - 1);
      return c < 4 ? 4 : c;
    }
  }
}

struct Setup {
  Frame frame;
  double F;
  int mode;
};

inline Setup Prepare(const Values& p) {
  Setup s{};
  double A = p.contrast / 65536.0 * 2.55;
  s.mode = p.overflow + (p.invert ? 5 : 0);
  if (Centred(p.type) && s.mode == 2) s.mode = 10;
  if (Centred(p.type) && s.mode == 7) s.mode = 11;
  double F = (500 / (p.scale / 65536.0)) * 0.003 / p.downsample;
  double C = CappedComplexity(p.complexity / 65536.0, F, p.type);
  if (p.type == 2 || p.type == 9 || p.type == 10 || p.type == 11) F *= 0.5;
  const int n = int(std::floor(C));
  const double f = p.quality == 0 ? 0.0 : C - n;
  if (Normalised(p.type)) {
    // D = 1 + (1 + 0.7 + ... + 0.7^(n-1)) + f 0.7^n, the bracket summed first.
    double weights = 0, w = 1;
    for (int k = 0; k < n; ++k) {
      weights += w;
      w *= 0.7;
    }
    const double D = 1 + weights + f * w;
    A /= D;
  }
  if (p.type == 21) A *= 4;
  s.frame = Frame{A, n, f};
  s.F = F;
  return s;
}

}  // namespace mistform_ref
