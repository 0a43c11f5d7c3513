// Mistform's arithmetic: the render setup (frequency, octave cap, amplitude)
// and the eighteen per-pixel formulas, as free functions on the frame's
// constant block. Nothing here talks to the host except through the pow
// function the block carries, so tests call these directly.
//
// Every formula receives the pixel's offset from "Offset Turbulence" in
// lattice units (dx, dy) and returns the intensity V that the overflow
// mapping turns into a gray byte. The octave loops follow one pattern: the
// coordinates are scaled first, then the lattice is read, then the weight
// shrinks; the fractional octave reads once more at the next scale with the
// current weight, scaled by the fraction.
#pragma once

#include <noise/fractal.h>
#include <noise/row_readers.h>
#include <pf/api.h>
#include <pf/fixed.h>
#include <pf/smoothstep.h>

#include <cmath>
#include <cstdint>

namespace mistform {

// "Fractal Type..." values. The four headers (1, 4, 8, 15) select nothing.
enum FractalType : int32_t {
  kBasicLinear = 2,
  kBasicSmooth = 3,
  kSoft = 5,
  kStandard = 6,
  kSharp = 7,
  kDynamicLinear = 9,
  kLinearProgressive = 10,
  kLinearTwist = 11,
  kDynamicSmooth = 12,
  kSmoothProgressive = 13,
  kSmoothTwist = 14,
  kMax = 16,
  kSmeary = 17,
  kSwirly = 18,
  kRocky = 19,
  kCloudy = 20,
  kTerrain = 21,
  kSubscale = 22,
};

struct Block;
using Formula = double (*)(const Block& b, double dx, double dy);
using RowShader = void (*)(const Block& b, A_long y, A_long width, const PF_Pixel* in, PF_Pixel* out);
using PowFunc = PF_FpLong (*)(PF_FpLong, PF_FpLong);

// The frame's constant block, handed to every pixel as the iterate refcon.
struct Block {
  const noise::NoiseLattice* lattice;  // built for this frame, only read here
  double amplitude;                    // A
  double frequency;                    // F, lattice units per buffer pixel
  int32_t octaves;                     // n
  double fraction;                     // f, 0 at low quality
  double offset_x, offset_y;           // "Offset Turbulence", buffer pixels
  int32_t overflow;                    // MapOverflow mode
  PowFunc pow;                         // the host's pow ("Rocky")
  Formula formula;                     // the type's formula
};

using noise::kOctaveScale;
using noise::kOctaveWeight;

// ---------------------------------------------------------------------------
// Lattice reads
// ---------------------------------------------------------------------------

// The formulas whose octaves keep their y coordinate along a row read the
// lattice through one of the noise core's reader records (row_readers.h).
// Each read names its site: 0 for a read before the octaves, k + 1 for
// octave k, then the fractional octave.
using noise::PointReads;

// Whole octaves a row walk keeps readers for; a frame with more takes the
// per-pixel formulas.
inline constexpr int32_t kRowOctaves = 24;
using RowReads = noise::RowReads<kRowOctaves + 2>;

// ---------------------------------------------------------------------------
// Render setup
// ---------------------------------------------------------------------------

// Types whose pattern is centred on mid-gray: zero contrast gives gray and
// Soft Clamp becomes the centred soft clamp.
inline bool IsCentred(int32_t type) {
  return type == kBasicLinear || type == kBasicSmooth || (type >= kDynamicLinear && type <= kSmoothTwist) ||
         type == kRocky || type == kSubscale;
}

// Types whose amplitude is divided by the octave-weight total D.
inline bool IsNormalised(int32_t type) {
  return type == kBasicLinear || type == kBasicSmooth || (type >= kDynamicLinear && type <= kSmoothTwist) ||
         type == kSubscale;
}

// The linear types read the lattice at half the base frequency.
inline bool HalvesFrequency(int32_t type) {
  return type == kBasicLinear || (type >= kDynamicLinear && type <= kLinearTwist);
}

// Lattice units per pixel: 1.5 / scale at full resolution, more in a
// reduced buffer so that a preview shows the same pattern.
inline double BaseFrequency(double scale, PF_RationalScale downsample_x) {
  return (500.0 / scale) * 0.003 / pf::Ratio(downsample_x);
}

// Drops the octaves finer than about one lattice cell per pixel and fades the
// last one kept. Complexity 4 or less is never changed, nor lowered below 4.
inline double CapComplexity(double complexity, double frequency, int32_t type) {
  if (!(complexity > 4.0)) return complexity;
  const double q = (type == kMax) ? 1.1 : kOctaveScale;
  const double last = std::floor(complexity) - 1.0;
  double s = q * frequency;
  for (int32_t i = 1; double(i) < last; ++i) {
    s = s * q;
    if (s >= 1.1) {
      double c = double(i + 1) - (s - 1.0) / (q - 1.0);
      if (c < 4.0) c = 4.0;
      return c;
    }
  }
  return complexity;
}

// D = 1 + (1 + 0.7 + ... + 0.7^(n-1)) + f 0.7^n: one more than the total of
// the octave weights.
inline double OctaveNormaliser(int32_t octaves, double fraction) {
  double total = 0.0;
  double w = 1.0;
  for (int32_t k = 0; k < octaves; ++k) {
    total = total + w;
    w = w * kOctaveWeight;
  }
  return 1.0 + total + fraction * w;
}

// ---------------------------------------------------------------------------
// Shaping helpers
// ---------------------------------------------------------------------------

inline double SharpShape(double l) { return 2.0 - 2.0 / (std::fabs(l) + 1.0); }

// ---------------------------------------------------------------------------
// Basic: a weighted sum of octaves around mid-gray
// ---------------------------------------------------------------------------

// "Linear": faded bilinear reads on coordinates turned by 45 degrees.
template <class Reads>
double BasicLinearWith(const Block& b, double dx, double dy, Reads& r) {
  double u = dx - dy + noise::kNoiseOriginX;
  double v = dx + dy + noise::kNoiseOriginY;
  double sum = 0.0, w = 1.0;
  for (int32_t k = 0; k < b.octaves; ++k) {
    u = u * kOctaveScale;
    v = v * kOctaveScale;
    sum = sum + w * r.Faded(k + 1, u, v);
    w = w * kOctaveWeight;
  }
  if (b.fraction > 0.0) sum = sum + b.fraction * w * r.Faded(b.octaves + 1, u * kOctaveScale, v * kOctaveScale);
  return sum * b.amplitude + 127.5;
}

// "Smooth": bicubic reads on plain coordinates.
template <class Reads>
double BasicSmoothWith(const Block& b, double dx, double dy, Reads& r) {
  double u = dx + noise::kNoiseOriginX;
  double v = dy + noise::kNoiseOriginY;
  double sum = 0.0, w = 1.0;
  for (int32_t k = 0; k < b.octaves; ++k) {
    u = u * kOctaveScale;
    v = v * kOctaveScale;
    sum = sum + w * r.Cubic(k + 1, u, v);
    w = w * kOctaveWeight;
  }
  if (b.fraction > 0.0) sum = sum + b.fraction * w * r.Cubic(b.octaves + 1, u * kOctaveScale, v * kOctaveScale);
  return sum * b.amplitude + 127.5;
}

// ---------------------------------------------------------------------------
// Turbulent: a product of (1 - w h(l)) per octave, shown as 1 - product
// ---------------------------------------------------------------------------

inline double SoftShape(double l) { return l * l; }
inline double StandardShape(double l) { return pf::SmoothStep(std::fabs(l)); }

template <double (*Shape)(double), class Reads>
double TurbulentWith(const Block& b, double dx, double dy, Reads& r) {
  double u = dx + noise::kNoiseOriginX;
  double v = dy + noise::kNoiseOriginY;
  double g = 1.0, w = 1.0;
  for (int32_t k = 0; k < b.octaves; ++k) {
    u = u * kOctaveScale;
    v = v * kOctaveScale;
    g = g * (1.0 - w * Shape(r.Cubic(k + 1, u, v)));
    w = w * kOctaveWeight;
  }
  if (b.fraction > 0.0)
    g = g * (1.0 - b.fraction * w * Shape(r.Cubic(b.octaves + 1, u * kOctaveScale, v * kOctaveScale)));
  return (1.0 - g) * b.amplitude;
}

template <class Reads>
double SoftWith(const Block& b, double dx, double dy, Reads& r) {
  return TurbulentWith<SoftShape>(b, dx, dy, r);
}
template <class Reads>
double StandardWith(const Block& b, double dx, double dy, Reads& r) {
  return TurbulentWith<StandardShape>(b, dx, dy, r);
}
template <class Reads>
double SharpWith(const Block& b, double dx, double dy, Reads& r) {
  return TurbulentWith<SharpShape>(b, dx, dy, r);
}

// ---------------------------------------------------------------------------
// Dynamic: each octave displaced by the previous octave's gradient
// ---------------------------------------------------------------------------

enum class Displace { kPlain, kProgressive, kTwist };

struct DynamicStyle {
  double (*read)(const noise::NoiseLattice&, double, double);
  bool rotated;  // coordinates turned by 45 degrees
  double step;   // e, the gradient's finite-difference step
  Displace displace;
  double twist;  // the turned displacement's factor (kTwist only)
};

inline double Dynamic(const Block& b, double dx, double dy, const DynamicStyle& s) {
  const noise::NoiseLattice& L = *b.lattice;
  double u = s.rotated ? dx - dy + noise::kNoiseOriginX : dx + noise::kNoiseOriginX;
  double v = s.rotated ? dx + dy + noise::kNoiseOriginY : dy + noise::kNoiseOriginY;
  const double e = s.step;
  // The reading at the starting point only seeds the first displacement.
  double m = s.read(L, u, v);
  double gx = s.read(L, u + e, v) - m;
  double gy = s.read(L, u, v + e) - m;
  double sum = 0.0, w = 1.0;
  for (int32_t k = 0; k < b.octaves; ++k) {
    if (s.displace == Displace::kTwist) {
      u = u * kOctaveScale - s.twist * gy;
      v = v * kOctaveScale + s.twist * gx;
    } else {
      u = u * kOctaveScale + gx;
      v = v * kOctaveScale + gy;
    }
    m = s.read(L, u, v);
    const double nx = s.read(L, u + e, v) - m;
    const double ny = s.read(L, u, v + e) - m;
    if (s.displace == Displace::kProgressive) {
      // A quarter-turn coupling with the previous displacement.
      const double px = gx, py = gy;
      gx = nx + py;
      gy = ny - px;
    } else {
      gx = nx;
      gy = ny;
    }
    sum = sum + w * m;
    w = w * kOctaveWeight;
  }
  if (b.fraction > 0.0) {
    double fu, fv;
    if (s.displace == Displace::kTwist) {
      fu = u * kOctaveScale - s.twist * gy;
      fv = v * kOctaveScale + s.twist * gx;
    } else {
      fu = u * kOctaveScale + gx;
      fv = v * kOctaveScale + gy;
    }
    sum = sum + b.fraction * w * s.read(L, fu, fv);
  }
  return sum * b.amplitude + 127.5;
}

inline constexpr DynamicStyle kLinearStyle{noise::NoiseFaded, true, 0.15, Displace::kPlain, 1.0};
inline constexpr DynamicStyle kLinearProgressiveStyle{noise::NoiseFaded, true, 0.15, Displace::kProgressive, 1.0};
inline constexpr DynamicStyle kLinearTwistStyle{noise::NoiseFaded, true, 0.15, Displace::kTwist, 1.0};
inline constexpr DynamicStyle kSmoothStyle{noise::NoiseCubic, false, 0.3, Displace::kPlain, 1.0};
inline constexpr DynamicStyle kSmoothProgressiveStyle{noise::NoiseCubic, false, 0.3, Displace::kProgressive, 1.0};
inline constexpr DynamicStyle kSmoothTwistStyle{noise::NoiseCubic, false, 0.2, Displace::kTwist, 2.0};

inline double DynamicLinear(const Block& b, double dx, double dy) { return Dynamic(b, dx, dy, kLinearStyle); }
inline double LinearProgressive(const Block& b, double dx, double dy) {
  return Dynamic(b, dx, dy, kLinearProgressiveStyle);
}
inline double LinearTwist(const Block& b, double dx, double dy) { return Dynamic(b, dx, dy, kLinearTwistStyle); }
inline double DynamicSmooth(const Block& b, double dx, double dy) { return Dynamic(b, dx, dy, kSmoothStyle); }
inline double SmoothProgressive(const Block& b, double dx, double dy) {
  return Dynamic(b, dx, dy, kSmoothProgressiveStyle);
}
inline double SmoothTwist(const Block& b, double dx, double dy) { return Dynamic(b, dx, dy, kSmoothTwistStyle); }

// ---------------------------------------------------------------------------
// Extras
// ---------------------------------------------------------------------------

// "Max": the strongest weighted octave, with slow scale (1.1) and weight (0.9) steps.
template <class Reads>
double MaxWith(const Block& b, double dx, double dy, Reads& r) {
  double u = dx + noise::kNoiseOriginX;
  double v = dy + noise::kNoiseOriginY;
  double g = 0.0, w = 1.0;
  for (int32_t k = 0; k < b.octaves; ++k) {
    u = u * 1.1;
    v = v * 1.1;
    const double c = w * std::fabs(r.Cubic(k + 1, u, v));
    if (c > g) g = c;
    w = w * 0.9;
  }
  if (b.fraction > 0.0) {
    const double c = b.fraction * w * std::fabs(r.Cubic(b.octaves + 1, u * 1.1, v * 1.1));
    if (c > g) g = c;
  }
  return g * b.amplitude;
}

// One "Smeary" octave: two faded reads steer a bicubic read near the
// mirrored, growing copy of the coordinates; returns the shaped value.
inline double SmearyShape(const noise::NoiseLattice& L, double su, double sv, double u, double v) {
  const double r = noise::NoiseFaded(L, v, -u);
  const double t = noise::NoiseFaded(L, u, v);
  return SharpShape(noise::NoiseCubic(L, t + su, r + sv));
}

inline double Smeary(const Block& b, double dx, double dy) {
  const noise::NoiseLattice& L = *b.lattice;
  double u = dx + noise::kNoiseOriginX;
  double v = dy + noise::kNoiseOriginY;
  double su = u, sv = v;
  double p = 1.0, w = 1.0;
  for (int32_t k = 0; k < b.octaves; ++k) {
    su = su * -kOctaveScale;
    sv = sv * -kOctaveScale;
    u = u + p;
    v = v + p;
    p = p * (1.0 - w * SmearyShape(L, su, sv, u, v));
    w = w * kOctaveWeight;
  }
  if (b.fraction > 0.0)
    p = p * (1.0 - b.fraction * w * SmearyShape(L, su * -kOctaveScale, sv * -kOctaveScale, u + p, v + p));
  return (1.0 - p) * b.amplitude;
}

// "Swirly": the starting point is pushed by two bicubic reads, then a
// turbulent product of |N|.
inline double Swirly(const Block& b, double dx, double dy) {
  const noise::NoiseLattice& L = *b.lattice;
  const double a = noise::NoiseCubic(L, dx + 91.0, dy);
  const double c = noise::NoiseCubic(L, dy + 37.0, dx);
  double u = dx + a + noise::kNoiseOriginX;
  double v = dy + c + noise::kNoiseOriginY;
  double l = 1.0, w = 1.0;
  for (int32_t k = 0; k < b.octaves; ++k) {
    u = u * kOctaveScale;
    v = v * kOctaveScale;
    l = l * (1.0 - w * std::fabs(noise::NoiseCubic(L, u, v)));
    w = w * kOctaveWeight;
  }
  if (b.fraction > 0.0)
    l = l * (1.0 - w * b.fraction * std::fabs(noise::NoiseCubic(L, u * kOctaveScale, v * kOctaveScale)));
  return (1.0 - l) * b.amplitude;
}

// "Rocky"'s ridge step: 0 below -0.15, 1 from 0.15, the smoothstep of
// [-0.15, 0.15) mapped onto [0, 1) between (the mapped value stays below 1
// there, so the curve's own clamp never applies).
inline double RockyStep(double t) {
  if (t < -0.15) return 0.0;
  if (t >= 0.15) return 1.0;
  return pf::SmoothStep((t + 0.15) * 3.3333333333333335);
}

// "Rocky": stepped plain bilinear reads on turned, vertically squeezed
// coordinates; the weights decay by a factor taken from the first read and
// the sum is divided by their total (which starts at 1).
inline double Rocky(const Block& b, double dx, double dy) {
  const noise::NoiseLattice& L = *b.lattice;
  double u = dx - dy + noise::kNoiseOriginX;
  double v = (dx + dy) * 0.39 + noise::kNoiseOriginY;
  const double h = noise::NoiseLinear(L, u, v);
  const double d = (b.pow(1.0 - std::fabs(h), 7.0) * 0.16 + 0.95) * 0.7;
  double sum = 0.0, w = 1.0, total = 1.0;
  for (int32_t k = 0; k < b.octaves; ++k) {
    u = u * kOctaveScale;
    v = v * 1.947;
    const double s = RockyStep(noise::NoiseLinear(L, u, v));
    sum = sum + (s - 0.5) * w;
    total = total + w;
    w = w * d;
  }
  if (b.fraction > 0.0) {
    const double s = RockyStep(noise::NoiseLinear(L, u * kOctaveScale, v * 1.947));
    sum = sum + (s - 0.5) * b.fraction * w;
    total = total + w * b.fraction;
  }
  return sum * b.amplitude / total + 127.5;
}

// "Cloudy": a turbulent product seeded by the unscaled read, the coordinates'
// sign alternating from octave to octave.
template <class Reads>
double CloudyWith(const Block& b, double dx, double dy, Reads& r) {
  double u = dx + noise::kNoiseOriginX;
  double v = dy + noise::kNoiseOriginY;
  double l = (r.Cubic(0, u, v) + 1.0) * 0.5;
  double w = 1.0;
  for (int32_t k = 0; k < b.octaves; ++k) {
    u = u * -kOctaveScale;
    v = v * -kOctaveScale;
    l = l * (1.0 - w * std::fabs(r.Cubic(k + 1, u, v)));
    w = w * kOctaveWeight;
  }
  if (b.fraction > 0.0)
    l = l * (1.0 - w * b.fraction * std::fabs(r.Cubic(b.octaves + 1, u * -kOctaveScale, v * -kOctaveScale)));
  return (1.0 - l) * b.amplitude;
}

// "Terrain": a clamped height from the unscaled read, eroded by every octave.
template <class Reads>
double TerrainWith(const Block& b, double dx, double dy, Reads& r) {
  double u = dx + noise::kNoiseOriginX;
  double v = dy + noise::kNoiseOriginY;
  const double g = r.Cubic(0, u, v) + 0.2;
  double h = (g >= 1.0) ? 1.0 : (g > 0.0 ? g : 0.0);
  double w = 0.5;
  for (int32_t k = 0; k < b.octaves; ++k) {
    u = u * -kOctaveScale;
    v = v * -kOctaveScale;
    h = h - w * std::fabs(r.Cubic(k + 1, u, v));
    w = w * kOctaveWeight;
  }
  if (b.fraction > 0.0)
    h = h - w * b.fraction * std::fabs(r.Cubic(b.octaves + 1, u * -kOctaveScale, v * -kOctaveScale));
  return h * b.amplitude;
}

// One "Subscale" octave: the lattice read at the two whole multiples around
// sigma, mixed by its fraction.
inline double SubscaleRead(const noise::NoiseLattice& L, double u, double v, double j, double t) {
  return t * noise::NoiseCubic(L, u * (j + 1.0), v * (j + 1.0)) + (1.0 - t) * noise::NoiseCubic(L, u * j, v * j);
}

// "Subscale": every octave is read at a per-pixel multiple sigma of its
// coordinates. Both axes start from the same origin constant.
inline double Subscale(const Block& b, double dx, double dy) {
  const noise::NoiseLattice& L = *b.lattice;
  double u = dx + noise::kNoiseOriginX;
  double v = dy + noise::kNoiseOriginX;
  const double c = noise::NoiseCubic(L, u, v);
  const double sigma = 4.0 * c * c + 1.0;
  const double j = std::floor(sigma);
  const double t = sigma - j;
  double sum = 0.0, w = 1.0;
  for (int32_t k = 0; k < b.octaves; ++k) {
    u = u * kOctaveScale;
    v = v * kOctaveScale;
    sum = sum + w * SubscaleRead(L, u, v, j, t);
    w = w * kOctaveWeight;
  }
  if (b.fraction > 0.0) sum = sum + b.fraction * w * SubscaleRead(L, u * kOctaveScale, v * kOctaveScale, j, t);
  return sum * b.amplitude + 127.5;
}

// ---------------------------------------------------------------------------
// Type table and the pixel
// ---------------------------------------------------------------------------

// A formula on reads taken afresh at every point.
template <double (*F)(const Block&, double, double, PointReads&)>
double OnPoints(const Block& b, double dx, double dy) {
  PointReads r{*b.lattice};
  return F(b, dx, dy, r);
}

inline constexpr Formula BasicLinear = OnPoints<BasicLinearWith<PointReads>>;
inline constexpr Formula BasicSmooth = OnPoints<BasicSmoothWith<PointReads>>;
inline constexpr Formula Soft = OnPoints<SoftWith<PointReads>>;
inline constexpr Formula Standard = OnPoints<StandardWith<PointReads>>;
inline constexpr Formula Sharp = OnPoints<SharpWith<PointReads>>;
inline constexpr Formula Max = OnPoints<MaxWith<PointReads>>;
inline constexpr Formula Cloudy = OnPoints<CloudyWith<PointReads>>;
inline constexpr Formula Terrain = OnPoints<TerrainWith<PointReads>>;

// The formula of a popup value; null for a header or a value outside 2..22.
inline Formula FormulaFor(int32_t type) {
  switch (type) {
    case kBasicLinear:
      return BasicLinear;
    case kBasicSmooth:
      return BasicSmooth;
    case kSoft:
      return Soft;
    case kStandard:
      return Standard;
    case kSharp:
      return Sharp;
    case kDynamicLinear:
      return DynamicLinear;
    case kLinearProgressive:
      return LinearProgressive;
    case kLinearTwist:
      return LinearTwist;
    case kDynamicSmooth:
      return DynamicSmooth;
    case kSmoothProgressive:
      return SmoothProgressive;
    case kSmoothTwist:
      return SmoothTwist;
    case kMax:
      return Max;
    case kSmeary:
      return Smeary;
    case kSwirly:
      return Swirly;
    case kRocky:
      return Rocky;
    case kCloudy:
      return Cloudy;
    case kTerrain:
      return Terrain;
    case kSubscale:
      return Subscale;
    default:
      return nullptr;
  }
}

// The input pixel is copied; where it is not transparent, red, green and
// blue become the gray of the type's intensity at (x, y).
inline void ShadePixel(const Block& b, A_long x, A_long y, const PF_Pixel& in, PF_Pixel& out) {
  out = in;
  if (in.alpha == 0) return;
  const double dx = (double(x) - b.offset_x) * b.frequency;
  const double dy = (double(y) - b.offset_y) * b.frequency;
  const uint8_t gray = noise::MapOverflow(b.formula(b, dx, dy), b.overflow);
  out.red = gray;
  out.green = gray;
  out.blue = gray;
}

// ---------------------------------------------------------------------------
// Rows
// ---------------------------------------------------------------------------

// Pixels 0 .. width - 1 of row y, each shaded as ShadePixel does, with one
// RowReads for the whole row. `in` and `out` may be the same row.
template <double (*F)(const Block&, double, double, RowReads&)>
void ShadeRowWith(const Block& b, A_long y, A_long width, const PF_Pixel* in, PF_Pixel* out) {
  RowReads r(*b.lattice);
  const double dy = (double(y) - b.offset_y) * b.frequency;
  for (A_long x = 0; x < width; ++x) {
    const PF_Pixel p = in[x];
    out[x] = p;
    if (p.alpha == 0) continue;
    const double dx = (double(x) - b.offset_x) * b.frequency;
    const uint8_t gray = noise::MapOverflow(F(b, dx, dy, r), b.overflow);
    out[x].red = gray;
    out[x].green = gray;
    out[x].blue = gray;
  }
}

// The same for the types whose reads gain nothing from a row: ShadePixel in turn.
inline void ShadeRowByPixel(const Block& b, A_long y, A_long width, const PF_Pixel* in, PF_Pixel* out) {
  for (A_long x = 0; x < width; ++x) ShadePixel(b, x, y, in[x], out[x]);
}

// The row shader of a type (any value FormulaFor accepts).
inline RowShader RowShaderFor(int32_t type) {
  switch (type) {
    case kBasicLinear:
      return ShadeRowWith<BasicLinearWith<RowReads>>;
    case kBasicSmooth:
      return ShadeRowWith<BasicSmoothWith<RowReads>>;
    case kSoft:
      return ShadeRowWith<SoftWith<RowReads>>;
    case kStandard:
      return ShadeRowWith<StandardWith<RowReads>>;
    case kSharp:
      return ShadeRowWith<SharpWith<RowReads>>;
    case kMax:
      return ShadeRowWith<MaxWith<RowReads>>;
    case kCloudy:
      return ShadeRowWith<CloudyWith<RowReads>>;
    case kTerrain:
      return ShadeRowWith<TerrainWith<RowReads>>;
    default:
      return ShadeRowByPixel;
  }
}

// Whether a frame's octave count fits the row readers' sites.
inline bool RowsFit(int32_t octaves) { return octaves >= 0 && octaves <= kRowOctaves; }

}  // namespace mistform
