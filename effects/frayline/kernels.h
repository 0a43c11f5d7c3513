// Frayline's arithmetic: the render setup (border, sharpness, frequencies,
// origin, octaves) and the eight per-pixel rules, as free functions on the
// frame's constant block, so that tests call them without a host.
//
// Every rule reads the input pixel and the output pixel as the smoothing
// left it, and rewrites the output pixel. e = a_out x 0.003921568 (1/255
// cut after nine decimals, not the exact quotient); colour mixes evaluate
// t = e x a_in / 255 from left to right. "clip" is 255 at and above 255, 0
// at and below 0, else truncation toward zero.
#pragma once

#include <noise/fractal.h>
#include <pf/api.h>
#include <pf/fixed.h>

#include <cmath>
#include <cstdint>

namespace frayline {

// "Edge Type..." values.
enum EdgeType : int32_t {
  kRoughen = 1,
  kRoughenColor = 2,
  kCut = 3,
  kSpiky = 4,
  kRusty = 5,
  kRustyColor = 6,
  kCerox = 7,
  kCeroxColor = 8,
};

inline constexpr double kByteUnit = 0.003921568;  // 1/255 cut after nine decimals, not the exact quotient
// Before each octave the point is scaled by the family's octave scale with the
// sign flipped, so the sign alternates; after each octave the weight shrinks
// by Frayline's own factor.
inline constexpr double kOctaveScale = -noise::kOctaveScale;
inline constexpr double kOctaveWeight = 0.77;

inline bool IsCerox(int32_t type) { return type == kCerox || type == kCeroxColor; }
inline bool IsRusty(int32_t type) { return type == kRusty || type == kRustyColor; }

// The frame's constant block, handed to every pixel as the iterate refcon.
struct Block {
  const noise::NoiseLattice* lattice;  // built for this frame, only read here
  double C;                            // sharpness factor
  double k0;                           // 0.5 - 0.5 / C
  double inv_height;                   // 1 / H
  double fx, fy;                       // lattice units per buffer pixel
  int32_t octaves;                     // n ("Complexity", plus 1 for the Rusty types)
  double x0, y0;                       // lattice origin
  double influence;                    // "Fractal Influence"
  PF_Pixel edge;                       // "Edge Color"
};

// ---------------------------------------------------------------------------
// Render setup
// ---------------------------------------------------------------------------

// The smoothing radius in buffer pixels: "Border" (plus 1 for the Cerox
// types) times the horizontal downsample factor.
inline double BorderRadius(double border, int32_t type, PF_RationalScale downsample_x) {
  double b = border;
  if (IsCerox(type)) b = b + 1.0;
  return b * pf::Ratio(downsample_x);
}

// The smoothing mode: colour and alpha for the types that mix colours from
// the smoothed output, alpha only for the others.
inline A_long SmoothMode(int32_t type) {
  return (type == kRoughen || type == kRoughenColor || type == kSpiky) ? 111 : 97;
}

inline double Sharpness(double scale, double edge_sharpness, int32_t type) {
  const double d = scale * edge_sharpness * 0.01;
  double c = 10.0 * d + 1.0;
  if (type == kCut) c = 6.0 * d + 3.0;
  if (IsCerox(type)) c = edge_sharpness * 0.25 + 1.0;
  return c;
}

// Fills the block's geometry from the buffer size W x H, "Scale", "Stretch
// Width or Height" s and "Offset Turbulence" (ox, oy) in buffer pixels.
inline void SetGeometry(Block& b, A_long W, A_long H, double scale, double stretch, double ox, double oy) {
  const double base = 1.0 / double(H);
  double ex = base, ey = base;
  if (stretch > 0.0) ex = base / (stretch + 1.0);
  if (stretch < 0.0) ey = base / (1.0 - stretch);
  b.inv_height = base;
  b.fx = ex * 4000.0 / scale;
  b.fy = ey * 4000.0 / scale;
  b.x0 = ox * base * 10.0 + noise::kNoiseOriginX + double(W) * b.fx * 0.5;
  b.y0 = double(H) * b.fy * 0.5 + oy * base * 10.0 + noise::kNoiseOriginY;
}

// ---------------------------------------------------------------------------
// Per pixel
// ---------------------------------------------------------------------------

inline A_u_char Clip(double v) {
  if (v >= 255.0) return 255;
  if (v <= 0.0) return 0;
  return A_u_char(int32_t(v));
}

inline A_u_char Mix(double t, A_u_char a, A_u_char b) {  // truncate(t a + (1 - t) b)
  return A_u_char(int32_t(t * a + (1.0 - t) * b));
}

// The fray sum from `start`: each octave scales the point by -1.77, reads the
// bicubic noise r and adds r w |g| (1 - |g|); Spiky adds (1 - e)(0.3 - |w r|).
inline double FraySum(const Block& b, double u, double v, double start, bool spiky, double e) {
  double g = start;
  double w = 1.0;
  for (int32_t i = 0; i < b.octaves; ++i) {
    u = u * kOctaveScale;
    v = v * kOctaveScale;
    const double r = noise::NoiseCubic(*b.lattice, u, v);
    if (spiky) {
      g = g + (1.0 - e) * (0.3 - std::fabs(w * r));
    } else {
      g = g + r * w * std::fabs(g) * (1.0 - std::fabs(g));
    }
    w = w * kOctaveWeight;
  }
  return g;
}

// Rusty's sum: the squared bicubic noise at the unscaled point, halved, then
// n octaves of plain bilinear noise with weights from 0.3.
inline double RustSum(const Block& b, double u, double v) {
  const double c = noise::NoiseCubic(*b.lattice, u, v);
  double h = c * c * 0.5;
  double w = 0.3;
  for (int32_t i = 0; i < b.octaves; ++i) {
    u = u * kOctaveScale;
    v = v * kOctaveScale;
    h = h + w * noise::NoiseLinear(*b.lattice, u, v);
    w = w * kOctaveWeight;
  }
  return h;
}

// Roughen, Roughen Color and Spiky: a new alpha from the fray value and the
// colour pulled back towards the input by t = e a_in / 255.
inline void RoughenPixel(const Block& b, int32_t type, double u, double v, const PF_Pixel& in, PF_Pixel& out) {
  if (out.alpha == 255) {
    out = in;
    return;
  }
  if (out.alpha == 0) return;
  const double a_out = out.alpha;
  const double e = a_out * kByteUnit;
  const double g = FraySum(b, u, v, e, type == kSpiky, e);
  const double q = e + (g - e) * b.influence;
  const double m = (q - b.k0) * a_out * b.C;
  out.alpha = Clip(m);
  if (in.alpha > 0) {
    const double t = e * in.alpha / 255.0;
    out.red = Mix(t, in.red, out.red);
    out.green = Mix(t, in.green, out.green);
    out.blue = Mix(t, in.blue, out.blue);
  }
  if (type == kRoughenColor) {
    double t2 = (m - 255.0) / 255.0;
    if (t2 < 0.0) t2 = 0.0;
    if (t2 > 1.0) t2 = 1.0;
    out.red = A_u_char(int32_t((1.0 - t2) * b.edge.red + t2 * out.red));
    out.green = A_u_char(int32_t((1.0 - t2) * b.edge.green + t2 * out.green));
    out.blue = A_u_char(int32_t((1.0 - t2) * b.edge.blue + t2 * out.blue));
  }
}

inline void CutPixel(const Block& b, double u, double v, const PF_Pixel& in, PF_Pixel& out) {
  if (in.alpha == 0) {
    out = in;
    return;
  }
  if (out.alpha == 0 || out.alpha == 255) return;
  const double e = out.alpha * kByteUnit;
  const double g = FraySum(b, u, v, e, false, e);
  const double q = e + (g - e) * b.influence;
  const double a_in = in.alpha;
  out = in;
  out.alpha = Clip((q - b.k0) * a_in * b.C);
}

inline void RustyPixel(const Block& b, int32_t type, double u, double v, const PF_Pixel& in, PF_Pixel& out) {
  if (out.alpha == 255 || in.alpha == 0) {
    out = in;
    return;
  }
  if (out.alpha == 0) return;
  const double e = out.alpha * kByteUnit;
  const double h = RustSum(b, u, v);
  out = in;
  double l = h - (1.1 - b.influence);
  if (l > 0.0) {
    l = l * (1.0 - e) * b.C;
    out.alpha = 2.0 * l >= 1.0 ? A_u_char(0) : Clip((1.0 - 2.0 * l) * in.alpha);
  }
  // Rusty Color tints every pixel it left partly transparent, by how much.
  if (type == kRustyColor && out.alpha >= 1 && out.alpha <= 254) {
    const double o = (255 - out.alpha) * 0.007874015748;
    if (o >= 1.0) {
      out.red = b.edge.red;
      out.green = b.edge.green;
      out.blue = b.edge.blue;
    } else {
      out.red = Mix(o, b.edge.red, out.red);
      out.green = Mix(o, b.edge.green, out.green);
      out.blue = Mix(o, b.edge.blue, out.blue);
    }
  }
}

inline void CeroxPixel(const Block& b, int32_t type, double u, double v, const PF_Pixel& in, PF_Pixel& out) {
  if (in.alpha == 0) {
    out = in;
    return;
  }
  if (out.alpha == 0) return;
  const double m0 = (in.alpha - 2 * out.alpha + 265) * kByteUnit;
  const double start = m0 < 0.0 ? 0.0 : m0 > 1.0 ? 1.0 : m0;
  const double g = FraySum(b, u, v, start, false, 0.0);
  const double mixed = m0 + (g - m0) * b.influence;
  if (type == kCerox) {
    const A_u_char a_in = in.alpha;
    out = in;
    const A_u_char e = Clip(mixed * a_in * b.C);
    out.alpha = e < a_in ? e : a_in;
    return;
  }
  const double A = mixed * b.C;
  if (A <= 0.0) {
    out = b.edge;
    out.alpha = in.alpha;
  } else if (A >= 1.0) {
    out = in;
  } else {
    out.alpha = in.alpha;
    out.red = A_u_char(int32_t((1.0 - A) * b.edge.red + A * in.red));
    out.green = A_u_char(int32_t((1.0 - A) * b.edge.green + A * in.green));
    out.blue = A_u_char(int32_t((1.0 - A) * b.edge.blue + A * in.blue));
  }
}

// The rule of `type` at buffer pixel (x, y).
inline void FrayPixel(const Block& b, int32_t type, A_long x, A_long y, const PF_Pixel& in, PF_Pixel& out) {
  const double u = b.x0 - double(x) * b.fx;
  const double v = b.y0 - double(y) * b.fy;
  switch (type) {
    case kRoughen:
    case kRoughenColor:
    case kSpiky:
      RoughenPixel(b, type, u, v, in, out);
      break;
    case kCut:
      CutPixel(b, u, v, in, out);
      break;
    case kRusty:
    case kRustyColor:
      RustyPixel(b, type, u, v, in, out);
      break;
    case kCerox:
    case kCeroxColor:
      CeroxPixel(b, type, u, v, in, out);
      break;
    default:
      break;
  }
}

}  // namespace frayline
