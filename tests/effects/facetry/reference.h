// Facetry's output pixel worked out step by step from the pixel rules, with
// only the fractal core's lattice and overflow mapping and the host's own
// sampler and scaled copy: the cell grid, feature points, searches, edge
// terms, segments and colour blend are written out again here, plainly.
#pragma once

#include <noise/fractal.h>
#include <ombrix/host/host.h>
#include <ombrix/host/pixel_ops.h>

#include "common/test_image.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>

namespace facetry_ref {

struct Values {
  int type = 1;
  double disperse = 1.0;
  double contrast = 1.0;
  double size = 60.0;
  double ox = 0, oy = 0;  // buffer pixels
  int32_t evolution = 0;
  int overflow = 1;
  bool invert = false;
  double downsample = 1.0;
  bool has_record = false;
  int32_t seed = 0, repeat = 0, revolutions = 1;
  int32_t tile = 0, tile_x = 4, tile_y = 4;
};

// Facetry's mode numbers in the fractal core's numbering.
inline int CoreMode(int m) {
  switch (m) {
    case 5:
      return 6;
    case 6:
      return 7;
    case 7:
      return 8;
    case 9:
      return 10;
    case 10:
      return 11;
    default:
      return m;
  }
}

struct Setup {
  Values v;
  std::unique_ptr<noise::NoiseLattice> lattice;
  uint8_t bytes[4096];
  double h, k, D, A;
  int mode;
  bool tiled;
  ombrix::World copy;
  double xs = 0, ys = 0;
  PF_Fixed xl = 0, yl = 0;
};

inline int32_t Wrap(const Setup& s, int32_t c, int32_t n) {
  if (!s.tiled) return c;
  return int32_t(((int64_t(c) % n) + n) % n);
}

inline double L(const noise::NoiseLattice& l, int32_t x, int32_t y) {
  const int32_t row = ((y >> 6) ^ x) & 63, col = ((x >> 6) ^ y) & 63;
  return l.cell[row * 64 + col];
}

inline std::unique_ptr<Setup> Prepare(const Values& v, const PF_EffectWorld& input) {
  auto s = std::make_unique<Setup>();
  s->v = v;
  s->lattice = std::make_unique<noise::NoiseLattice>();
  const noise::NoiseSettings ns{v.seed, v.repeat, v.revolutions};
  noise::BuildNoiseLattice(*s->lattice, v.evolution, v.has_record ? &ns : nullptr);
  testimage::Lcg table{3173241u};
  for (int i = 0; i < 4096; ++i) s->bytes[i] = uint8_t(table.Rand15() >> 3);
  // The sliders as the host delivers them: 16.16, rounded.
  auto fixed = [](double x) { return double(std::lround(x * 65536)) / 65536; };
  s->h = v.downsample * fixed(v.size);
  s->k = 1.0 / s->h;
  s->D = fixed(v.disperse) * 0.5;
  const double a0 = fixed(v.contrast) * 0.15;
  const int t = v.type;
  s->A = (t == 1 || t == 2 || t == 7 || t == 8) ? a0 * 1275 : t == 12 ? a0 * 637.5 : t == 13 ? a0 * 2550 : a0 * 15 + 5;
  const bool flip = t == 1 || t == 7 || t == 13;
  s->mode = v.overflow + ((v.invert != flip) ? 4 : 0);
  if (t == 12 && s->mode == 2) s->mode = 9;
  if (t == 12 && s->mode == 6) s->mode = 10;
  s->tiled = v.has_record && v.tile >= 1;
  if (t == 5 || t == 11) {
    const double W = input.width, H = input.height;
    double g = s->k;
    if (g * W < 8 || g * H < 8) g = 8 / std::min(W, H);
    const double sc = std::min(2 * g, 1.0);
    s->copy = ombrix::World(A_long(sc * W), A_long(sc * H));
    ombrix::ScaledCopy(input, s->copy.pf());
    s->xs = double(s->copy.width()) / W * 65536;
    s->ys = double(s->copy.height()) / H * 65536;
    s->xl = (s->copy.width() - 1) * 65536;
    s->yl = (s->copy.height() - 1) * 65536;
  }
  return s;
}

inline uint8_t Clip(double v) { return v >= 255 ? 255 : v <= 0 ? 0 : uint8_t(int(v)); }

inline PF_Pixel Colour(const Setup& s, int32_t cx, int32_t cy) {
  auto pos = [](double v, PF_Fixed lim) {
    int64_t p = int64_t(std::trunc(v));
    if (p <= 32767) p = 32768;
    if (p > lim) p = lim;
    return PF_Fixed(p);
  };
  return ombrix::SubpixelSample(s.copy.pf(), pos((cx * s.h + s.v.ox) * s.xs, s.xl),
                                pos((cy * s.h + s.v.oy) * s.ys, s.yl));
}

inline PF_Pixel Blend(PF_Pixel c1, PF_Pixel c2, double t) {
  if (t <= 0) return c2;
  if (t >= 1) return c1;
  const float ft = float(t);
  const float al = ft * c1.alpha + (1 - ft) * c2.alpha;
  if (al <= 0) return PF_Pixel{0, 0, 0, 0};
  auto ch = [&](int a, int b) {
    const float c = (ft * c1.alpha * a + (1 - ft) * c2.alpha * b) / 255.0f;
    const float r = int(al) == 255 ? c : 255.0f / al * c;
    return uint8_t(std::min(255, int(r)));
  };
  return PF_Pixel{uint8_t(int(al)), ch(c1.red, c2.red), ch(c1.green, c2.green), ch(c1.blue, c2.blue)};
}

// The expected output pixel for input pixel `in` at (x, y); `before` is what
// the output held.
inline PF_Pixel Expected(const Setup& s, A_long x, A_long y, PF_Pixel in, PF_Pixel before) {
  PF_Pixel out = before;
  out.alpha = in.alpha;
  if (in.alpha == 0) return out;
  const Values& v = s.v;
  const double fx = (x - v.ox) * s.k, fy = (y - v.oy) * s.k;
  const int32_t cx = int32_t(std::floor(fx)), cy = int32_t(std::floor(fy));
  const double px = fx - cx - 0.5, py = fy - cy - 0.5;
  double qx[9], qy[9], d[9];
  int32_t ncx[9], ncy[9];
  for (int i = 0; i < 9; ++i) {
    const int dx = i % 3 - 1, dy = i / 3 - 1;
    ncx[i] = cx + dx;
    ncy[i] = cy + dy;
    const int32_t X = Wrap(s, cx + dx, v.tile_x), Y = Wrap(s, cy + dy, v.tile_y);
    qx[i] = dx + L(*s.lattice, X, Y) * s.D;
    qy[i] = dy + L(*s.lattice, X + 17, Y + 29) * s.D;
    d[i] = (px - qx[i]) * (px - qx[i]) + (py - qy[i]) * (py - qy[i]);
  }
  auto P = [&](int i) { return L(*s.lattice, Wrap(s, ncx[i], v.tile_x), Wrap(s, ncy[i], v.tile_y)); };
  auto B = [&](int i) {
    const int32_t X = Wrap(s, ncx[i], v.tile_x), Y = Wrap(s, ncy[i], v.tile_y);
    return double(s.bytes[(((Y >> 6) ^ X) & 63) * 64 + (((X >> 6) ^ Y) & 63)]);
  };
  auto gray = [&](uint8_t g) { out.red = out.green = out.blue = g; };
  auto map = [&](double val) { gray(noise::MapOverflow(val, CoreMode(s.mode))); };
  auto plate_gray = [&](double val) { gray(s.mode > 4 ? uint8_t(255 - Clip(val)) : Clip(val)); };

  // Nearest two, earlier index on ties.
  double f1 = 99999, f2 = 99999;
  int i1 = 4, i2 = 4;
  for (int i = 0; i < 9; ++i) {
    if (d[i] < f1) {
      f2 = f1;
      i2 = i1;
      f1 = d[i];
      i1 = i;
    } else if (d[i] < f2) {
      f2 = d[i];
      i2 = i;
    }
  }
  // Edge terms against the strictly nearest point.
  int n1 = 4;
  double best = 99999;
  for (int i = 0; i < 9; ++i)
    if (d[i] < best) {
      best = d[i];
      n1 = i;
    }
  double e[9];
  for (int i = 0; i < 9; ++i) {
    const double len = std::sqrt((qx[i] - qx[n1]) * (qx[i] - qx[n1]) + (qy[i] - qy[n1]) * (qy[i] - qy[n1]));
    e[i] = (i == n1 || len == 0) ? INFINITY : (d[i] - d[n1]) / len;
  }
  double E = 99999;
  int e2 = n1;
  for (int i = 0; i < 9; ++i) {
    if (i == n1) continue;
    if (e[i] < E || (v.type == 11 && e[i] <= E)) {
      E = e[i];
      e2 = i;
    }
  }
  switch (v.type) {
    case 1:
      map(s.A * f1);
      break;
    case 2:
      map(s.A * (f2 - f1));
      break;
    case 3:
    case 4:
    case 5: {
      const double t = std::clamp((f2 - f1) * s.A + 0.5, 0.0, 1.0);
      if (v.type == 3) plate_gray((P(i2) + t * (P(i1) - P(i2))) * 122 + 127.5);
      if (v.type == 4) plate_gray(B(i2) + t * (B(i1) - B(i2)));
      if (v.type == 5) out = Blend(Colour(s, ncx[i1], ncy[i1]), Colour(s, ncx[i2], ncy[i2]), t);
      break;
    }
    case 7: {
      double S = 0;
      for (int i = 0; i < 9; ++i) {
        if (i == n1 || !(e[i] <= 0.5)) continue;
        const double w = 0.12 / (e[i] + 0.1) - 0.2;
        S += w <= 0 ? 0 : w >= 1 ? 1 : w * w * (3 - 2 * w);
      }
      map(s.A * S);
      break;
    }
    case 8:
      map(s.A * E);
      break;
    case 9:
    case 10: {
      const double t = E * s.A + 0.5;
      const double p1 = v.type == 9 ? P(n1) : B(n1), p2 = v.type == 9 ? P(e2) : B(e2);
      const double val = t >= 1 ? p1 : p2 + t * (p1 - p2);
      plate_gray(v.type == 9 ? val * 122 + 127.5 : val);
      break;
    }
    case 11:
      out = Blend(Colour(s, ncx[n1], ncy[n1]), Colour(s, ncx[e2], ncy[e2]), std::clamp(E * s.A + 0.5, 0.0, 1.0));
      break;
    case 12:
      map(P(n1) * s.A * E + 127.5);
      break;
    case 13: {
      double T = std::sqrt(f1);
      auto segments = [&](int from, int skip) {
        for (int j = 0; j < 9; ++j) {
          if (j == from || j == skip) continue;
          const double bax = qx[j] - qx[from], bay = qy[j] - qy[from];
          const double l2 = bax * bax + bay * bay;
          if (l2 > 0.99) continue;
          const double sp = ((qx[j] - px) * bax + (qy[j] - py) * bay) / l2;
          if (!(sp > 0 && sp < 1)) continue;
          const double cr = std::fabs((qx[j] - px) * (qy[from] - qy[j]) - (qy[j] - py) * (qx[from] - qx[j]));
          T = std::min(T, cr / std::sqrt(l2));
        }
      };
      segments(i1, i1);
      segments(i2, i1);
      map(s.A * std::min(T * T, 1.0));
      break;
    }
    default:
      break;
  }
  return out;
}

}  // namespace facetry_ref
