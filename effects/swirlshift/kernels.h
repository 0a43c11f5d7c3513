// Swirlshift's arithmetic: the render setup (amplitude, lattice frequency),
// the fractal sum, the three displacement fields, the sample position and the
// area-sampling radii from the mapping's stretch. Free functions on the
// frame's constant block, nothing that talks to the host, so tests call them
// directly.
//
// Units: the noise is read in lattice units; the displacement (dx, dy) is in
// noise units and becomes 16.16 fixed pixels through the amplitude A.
#pragma once

#include <noise/fractal.h>
#include <pf/api.h>
#include <pf/fixed.h>

#include <cmath>
#include <cstdint>

namespace swirlshift {

// "Displacement..." values; 4 is the disabled separator.
enum Displacement : int32_t {
  kTurbulent = 1,
  kBulge = 2,
  kTwist = 3,
  kSeparator = 4,
  kTurbulentHQ = 5,
  kBulgeHQ = 6,
  kTwistHQ = 7,
};

// "Antialiasing (Best Quality Only)..." values.
enum Antialiasing : int32_t { kLow = 1, kHigh = 2 };

enum class Field : int32_t { kTurbulent, kBulge, kTwist };

using noise::kOctaveScale;
using noise::kOctaveWeight;
inline constexpr double kFirstWeight = 0.25;
inline constexpr double kFastFrequencyFactor = 0.70710678;
// Where Bulge and Twist read their neighbouring sums, in lattice units.
inline constexpr double kGradientStep = 0.25;
// Where Turbulent reads its second component.
inline constexpr double kSecondX = 37.0;
inline constexpr double kSecondY = 17.0;

// Area-sampling radii: half a pixel to 32 pixels, 16.16.
inline constexpr int32_t kMinRadius = 32768;
inline constexpr int32_t kMaxRadius = 2097152;

// The frame's constant block, handed to every pixel as the iterate refcon.
struct Frame {
  const noise::NoiseLattice* lattice;  // built for this frame, only read here
  double amplitude;                    // A: 16.16 pixels per unit of noise
  double frequency;                    // F: lattice units per buffer pixel
  int32_t octaves;                     // n
  double fraction;                     // f, 0 at low quality
  double offset_x, offset_y;           // "Offset Turbulence", buffer pixels
  Field field;
  bool hq;               // bicubic noise; else faded bilinear on turned points
  int32_t antialiasing;  // kLow or kHigh (Low at low quality)
  PF_SampPB sampling;    // source world set, every other field 0
  PF_ProgPtr effect_ref;
  const PF_UtilCallbacks* utils;
};

// ---------------------------------------------------------------------------
// Render setup
// ---------------------------------------------------------------------------

// A, so that the displacement in pixels is noise x amount x (scale / 100) x 5,
// scaled with the render resolution.
inline double Amplitude(double amount, double scale, PF_RationalScale ds) {
  return pf::Ratio(ds) * amount * scale * 0.01 * 327680.0;
}

// The type's field and reader; false for the separator or an unknown value.
inline bool FieldOf(int32_t type, Field& field, bool& hq) {
  switch (type) {
    case kTurbulent:
      field = Field::kTurbulent;
      hq = false;
      return true;
    case kBulge:
      field = Field::kBulge;
      hq = false;
      return true;
    case kTwist:
      field = Field::kTwist;
      hq = false;
      return true;
    case kTurbulentHQ:
      field = Field::kTurbulent;
      hq = true;
      return true;
    case kBulgeHQ:
      field = Field::kBulge;
      hq = true;
      return true;
    case kTwistHQ:
      field = Field::kTwist;
      hq = true;
      return true;
    default:
      return false;
  }
}

// F: 0.5 / scale at full resolution; the fast types (below the separator)
// read their turned points at 0.70710678 x 0.5 of that, which keeps their
// features the size of the HQ ones.
inline double Frequency(double scale, PF_RationalScale ds, int32_t type) {
  double f = 0.5 / scale / pf::Ratio(ds);
  if (type < kSeparator) f = f * kFastFrequencyFactor;
  if (type >= kTurbulent && type <= kTwist) f = f * 0.5;
  return f;
}

// ---------------------------------------------------------------------------
// The fractal sum and the fields
// ---------------------------------------------------------------------------

// Octaves of bicubic noise at (p, q): each octave scales first, then reads.
inline double CubicSum(const Frame& b, double p, double q) {
  const noise::NoiseLattice& L = *b.lattice;
  double sum = 0.0;
  double w = kFirstWeight;
  for (int32_t k = 0; k < b.octaves; ++k) {
    p = p * kOctaveScale;
    q = q * kOctaveScale;
    sum = sum + w * noise::NoiseCubic(L, p, q);
    w = w * kOctaveWeight;
  }
  if (b.fraction > 0.0) sum = sum + b.fraction * w * noise::NoiseCubic(L, p * kOctaveScale, q * kOctaveScale);
  return sum;
}

// The same on faded bilinear noise, at the point turned by 45 degrees
// (p - q, p + q), which hides the lattice's axis-aligned grain.
inline double FadedSum(const Frame& b, double p, double q) {
  const noise::NoiseLattice& L = *b.lattice;
  double u = p - q;
  double v = p + q;
  double sum = 0.0;
  double w = kFirstWeight;
  for (int32_t k = 0; k < b.octaves; ++k) {
    u = u * kOctaveScale;
    v = v * kOctaveScale;
    sum = sum + w * noise::NoiseFaded(L, u, v);
    w = w * kOctaveWeight;
  }
  if (b.fraction > 0.0) sum = sum + b.fraction * w * noise::NoiseFaded(L, u * kOctaveScale, v * kOctaveScale);
  return sum;
}

inline double FractalSum(const Frame& b, double p, double q) { return b.hq ? CubicSum(b, p, q) : FadedSum(b, p, q); }

struct Offset {
  double dx, dy;  // noise units
};

// The displacement at lattice point (px, py). Turbulent reads two unrelated
// sums; Bulge pushes along the noise's downhill gradient, Twist along its
// contour (the gradient turned a quarter), both from one shared sum and its
// two neighbours.
inline Offset Displace(const Frame& b, double px, double py) {
  if (b.field == Field::kTurbulent) return {FractalSum(b, px, py), FractalSum(b, px + kSecondX, py + kSecondY)};
  const double here = FractalSum(b, px, py);
  const double right = FractalSum(b, px + kGradientStep, py);
  const double below = FractalSum(b, px, py + kGradientStep);
  if (b.field == Field::kBulge) return {here - right, here - below};
  return {below - here, here - right};
}

// Lattice coordinates of buffer pixel (x, y).
inline double LatticeX(const Frame& b, A_long x) {
  return (double(x) - b.offset_x) * b.frequency + noise::kNoiseOriginX;
}
inline double LatticeY(const Frame& b, A_long y) {
  return (double(y) - b.offset_y) * b.frequency + noise::kNoiseOriginY;
}

// ---------------------------------------------------------------------------
// Sampling
// ---------------------------------------------------------------------------

struct Position {
  PF_Fixed x, y;  // 16.16 buffer pixels
};

// The displaced position, truncated toward zero and held to the 16.16 range,
// so a displacement beyond it (large Amount and Scale) lands far outside the
// layer instead of wrapping back into it. The sum is formed in 16.16 units;
// the division by 65536 before the shared conversion is exact.
inline Position SamplePosition(const Frame& b, Offset d, A_long x, A_long y) {
  return {pf::FixedFromDouble((d.dx * b.amplitude + double(x) * 65536.0) / 65536.0),
          pf::FixedFromDouble((d.dy * b.amplitude + double(y) * 65536.0) / 65536.0)};
}

struct Footprint {
  PF_Fixed x_radius, y_radius, area;
};

inline double ClampRadius(double r) {
  if (r < double(kMinRadius)) return double(kMinRadius);
  if (r > double(kMaxRadius)) return double(kMaxRadius);
  return r;
}

// The radii of the box a pixel maps to, from the mapping's 16.16 Jacobian
// (jxx = dX/dx, jxy = dX/dy, jyx = dY/dx, jyy = dY/dy). The area's product
// of two radii needs 64 bits (up to 2^42); the result fits 32.
inline Footprint FootprintOf(double jxx, double jyx, double jxy, double jyy) {
  const int32_t rx = int32_t(ClampRadius(0.5 * std::fmax(std::fabs(jxy), std::fabs(jxx))));
  const int32_t ry = int32_t(ClampRadius(0.5 * std::fmax(std::fabs(jyy), std::fabs(jyx))));
  const int64_t area = (int64_t(ry) * int64_t(rx) / 65536) * 4;
  return {rx, ry, PF_Fixed(area)};
}

// The stretch at pixel (px, py) with displacement d there: the field is
// evaluated again one pixel to the right and one pixel down.
inline Footprint Stretch(const Frame& b, Offset d, double px, double py) {
  const Offset r = Displace(b, px + b.frequency, py);
  const Offset o = Displace(b, px, py + b.frequency);
  const double a = b.amplitude;
  return FootprintOf((r.dx - d.dx) * a + 65536.0, (r.dy - d.dy) * a, (o.dx - d.dx) * a, (o.dy - d.dy) * a + 65536.0);
}

// One output pixel: the input read at the displaced position, by point
// sampling (Low) or over the stretched footprint (High).
inline PF_Err WarpPixel(const Frame& b, A_long x, A_long y, PF_Pixel* out) {
  const double px = LatticeX(b, x);
  const double py = LatticeY(b, y);
  const Offset d = Displace(b, px, py);
  const Position at = SamplePosition(b, d, x, y);
  if (b.antialiasing != kHigh) return b.utils->subpixel_sample(b.effect_ref, at.x, at.y, &b.sampling, out);
  const Footprint fp = Stretch(b, d, px, py);
  PF_SampPB sampling = b.sampling;
  sampling.x_radius = fp.x_radius;
  sampling.y_radius = fp.y_radius;
  sampling.area = fp.area;
  return b.utils->area_sample(b.effect_ref, at.x, at.y, &sampling, out);
}

}  // namespace swirlshift
