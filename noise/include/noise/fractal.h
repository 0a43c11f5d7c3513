// The fractal noise core: an evolving 64 x 64 lattice of random values and
// the readers that turn it into smooth noise at real-valued points.
//
// An effect owns one `NoiseLattice` (module-wide in its plug-in), rebuilds it
// with `BuildNoiseLattice` at the start of every render, before the host's
// per-pixel iteration, and only reads it during that iteration. The readers
// are inline and allocate nothing; they take the lattice by const reference.
//
// Integer conventions. Every 32-bit integer quantity of the lattice build
// (the quarter-turn base W, the base angle, the key angles, Evolution - W)
// is kept modulo 2^32 exactly as a 32-bit machine computes it, so no input
// value is undefined behaviour:
//  - W = truncate(q x 5898240.0) leaves the 32-bit range only for Evolution
//    below -364 quarter turns (q = -365); it then wraps, and Evolution - W,
//    computed with the same wrap, still gives the phase in [0, 1);
//  - the period product revolutions x 23592960 fits 32 bits up to 91
//    revolutions; a larger count (only a damaged record holds one) would
//    wrap to a period that is not a whole number of quarter turns, or to 0,
//    and means no repeat (the 90-revolution default period) instead.
// The key angles are 32-bit as well, so a turn of Evolution by whole periods
// reproduces the lattice exactly as long as no key angle leaves the 32-bit
// range (Evolution plus seed within about +-32500 degrees).
// Conversions of doubles to integers truncate toward zero; a value outside
// the 32-bit range (possible only for absurd coordinates or intensities) is
// reduced modulo 2^32 and NaN counts as 0.
#pragma once

#include <pf/smoothstep.h>

#include <cstdint>

namespace noise {

// ---------------------------------------------------------------------------
// The family's random generator
// ---------------------------------------------------------------------------

struct NoiseRandom {
  uint32_t state;
};

inline constexpr uint32_t kNoiseMultiplier = 1103515245u;
inline constexpr uint32_t kNoiseIncrement = 12345u;
// Five generator steps at once: state <- kFiveStepIncrement - state x kFiveStepFactor.
inline constexpr uint32_t kFiveStepIncrement = 0x0DAA96F5u;
inline constexpr uint32_t kFiveStepFactor = 0x145EB7C3u;

// Steps the state, then returns the drawn number, 0..32767.
inline int32_t NoiseDraw(NoiseRandom& r) {
  r.state = r.state * kNoiseMultiplier + kNoiseIncrement;
  return int32_t((r.state >> 16) & 0x7FFFu);
}

// A unit draw in [-1, 1): the drawn number / 16384 - 1.
inline double NoiseUnitDraw(NoiseRandom& r) { return NoiseDraw(r) * 0.00006103515625 - 1.0; }

inline uint32_t NoiseAdvanceFive(uint32_t state) { return kFiveStepIncrement - state * kFiveStepFactor; }

// ---------------------------------------------------------------------------
// The lattice
// ---------------------------------------------------------------------------

inline constexpr int kLatticeSide = 64;
inline constexpr int kLatticeCells = kLatticeSide * kLatticeSide;

// 4096 values in [-1.2, 1.2), indexed row x 64 + col.
struct NoiseLattice {
  double cell[kLatticeCells];
};

// The words of the effect's settings record the lattice depends on
// (word 1 seed, word 2 repeat, word 3 revolutions).
struct NoiseSettings {
  int32_t seed;
  int32_t repeat;
  int32_t revolutions;
};

// Angles are 16.16 fixed-point degrees.
inline constexpr int32_t kQuarterTurn = 5898240;                     // 90 x 65536
inline constexpr int32_t kRevolution = 23592960;                     // 360 x 65536
inline constexpr int32_t kDefaultPeriod = 2123366400;                // 0x7E900000: 32400 degrees
inline constexpr double kQuarterTurnFactor = 1.6954210069444445e-7;  // 1 / (65536 x 90)
inline constexpr uint32_t kPhaseSeed = 12356789u;

// Lattice coordinates of pixel coordinate 0 in the octave loops.
inline constexpr double kNoiseOriginX = 7913.17;
inline constexpr double kNoiseOriginY = 9711.73;

// Uniform cubic B-spline through four values, scaled by 0.2 (not 1/6): four
// equal values v blend to 1.2 v.
inline double BSplineBlend(double p0, double p1, double p2, double p3, double t) {
  const double u = 1.0 - t;
  const double t2 = t * t;
  const double t3 = t2 * t;
  return 0.2 *
         (u * u * u * p0 + (3.0 * t3 - 6.0 * t2 + 4.0) * p1 + (-3.0 * t3 + 3.0 * t2 + 3.0 * t + 1.0) * p2 + t3 * p3);
}

// Fills the lattice for the Evolution angle (16.16 degrees) and the settings
// record, or none (null: seed 0, no repeat). The same inputs always give the
// same lattice bit for bit; so do Evolution values one period apart.
void BuildNoiseLattice(NoiseLattice& lattice, int32_t evolution, const NoiseSettings* settings);

// The hashed table read at integer lattice coordinates. The high bits fold
// into the index (arithmetic shift), so the table does not simply repeat
// every 64 cells.
inline double LatticeValue(const NoiseLattice& lattice, int32_t x, int32_t y) {
  const uint32_t row = uint32_t((y >> 6) ^ x) & 63u;
  const uint32_t col = uint32_t((x >> 6) ^ y) & 63u;
  return lattice.cell[row * 64u + col];
}

namespace detail {

// floor(v) for coordinates outside the 32-bit range, reduced modulo 2^32,
// with the fraction v - floor(v); NaN and infinities give cell 0, fraction 0.
void FloorCellWide(double v, int32_t& cell, double& fraction);

// floor(v) as a 32-bit lattice coordinate and v - floor(v) in [0, 1).
inline void FloorCell(double v, int32_t& cell, double& fraction) {
  if (v > -2147483648.0 && v < 2147483648.0) {
    int32_t i = int32_t(v);
    if (v < double(i)) --i;
    cell = i;
    fraction = v - double(i);
    return;
  }
  FloorCellWide(v, cell, fraction);
}

// Neighbouring lattice coordinates, wrapping at the ends of the 32-bit range.
inline int32_t Offset(int32_t cell, int32_t d) { return int32_t(uint32_t(cell) + uint32_t(d)); }

inline double Bilinear(const NoiseLattice& lattice, int32_t x0, int32_t y0, double sx, double sy) {
  const int32_t x1 = Offset(x0, 1);
  const int32_t y1 = Offset(y0, 1);
  return sy * (sx * LatticeValue(lattice, x1, y1) + (1.0 - sx) * LatticeValue(lattice, x0, y1)) +
         (1.0 - sy) * (sx * LatticeValue(lattice, x1, y0) + (1.0 - sx) * LatticeValue(lattice, x0, y0));
}

inline double CubicRow(const NoiseLattice& lattice, int32_t x0, int32_t y, double fx) {
  return BSplineBlend(LatticeValue(lattice, Offset(x0, -1), y), LatticeValue(lattice, x0, y),
                      LatticeValue(lattice, Offset(x0, 1), y), LatticeValue(lattice, Offset(x0, 2), y), fx);
}

}  // namespace detail

// Bilinear read with the smoothstep fade t^2 (3 - 2t) on both fractions.
inline double NoiseFaded(const NoiseLattice& lattice, double x, double y) {
  int32_t x0, y0;
  double fx, fy;
  detail::FloorCell(x, x0, fx);
  detail::FloorCell(y, y0, fy);
  return detail::Bilinear(lattice, x0, y0, pf::SmoothStep(fx), pf::SmoothStep(fy));
}

// Plain bilinear read: the fractions are the weights.
inline double NoiseLinear(const NoiseLattice& lattice, double x, double y) {
  int32_t x0, y0;
  double fx, fy;
  detail::FloorCell(x, x0, fx);
  detail::FloorCell(y, y0, fy);
  return detail::Bilinear(lattice, x0, y0, fx, fy);
}

// Bicubic read: a B-spline blend along each of four rows, then across them.
// Its range is wider than the lattice's (up to +-1.728).
inline double NoiseCubic(const NoiseLattice& lattice, double x, double y) {
  int32_t x0, y0;
  double fx, fy;
  detail::FloorCell(x, x0, fx);
  detail::FloorCell(y, y0, fy);
  return BSplineBlend(detail::CubicRow(lattice, x0, detail::Offset(y0, -1), fx), detail::CubicRow(lattice, x0, y0, fx),
                      detail::CubicRow(lattice, x0, detail::Offset(y0, 1), fx),
                      detail::CubicRow(lattice, x0, detail::Offset(y0, 2), fx), fy);
}

// ---------------------------------------------------------------------------
// Octaves and intensity mapping
// ---------------------------------------------------------------------------

// Between two octaves of a fractal sum the point is scaled by kOctaveScale and
// the octave's weight by kOctaveWeight.
inline constexpr double kOctaveScale = 1.77;
inline constexpr double kOctaveWeight = 0.7;

struct ComplexitySplit {
  int32_t octaves;  // whole octaves n = floor(c)
  double fraction;  // c - n; 0 at low quality
};

// Splits "Complexity" c into whole octaves and the fraction of one more.
// Quality 0 (low) drops the fraction.
ComplexitySplit SplitComplexity(double complexity, int32_t quality);

// Overflow modes: 1 Clip, 2 Soft Clamp, 3 Wrap Back, 6, 7, 8 the same
// inverted, 10 centred soft clamp, 11 the same inverted.
enum OverflowMode : int32_t {
  kOverflowClip = 1,
  kOverflowSoftClamp = 2,
  kOverflowWrapBack = 3,
  kOverflowClipInverted = 6,
  kOverflowSoftClampInverted = 7,
  kOverflowWrapBackInverted = 8,
  kOverflowCentred = 10,
  kOverflowCentredInverted = 11,
};

// The gray byte for intensity v (nominally 0..255) under the mode. Soft
// Clamp maps every intensity at or below 0 to 0 (255 inverted). A mode
// number not listed above maps as Clip.
uint8_t MapOverflow(double v, int32_t mode);

}  // namespace noise
