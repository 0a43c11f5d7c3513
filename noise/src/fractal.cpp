// The lattice build and the intensity mapping of the fractal noise core.
#include <noise/fractal.h>

#include <cmath>
#include <cstdint>

namespace noise {

namespace {

constexpr double kTwoTo32 = 4294967296.0;

// truncate(v) as a signed 32-bit integer, reduced modulo 2^32 outside the
// 32-bit range; NaN and infinities give 0.
int32_t TruncateWrap(double v) {
  if (v > -2147483649.0 && v < 2147483648.0) return int32_t(v);
  if (!std::isfinite(v)) return 0;
  const double m = std::fmod(std::trunc(v), kTwoTo32);  // exact, |m| < 2^32
  return int32_t(uint32_t(int64_t(m)));
}

uint8_t Clip(double v) {
  if (!(v > 0.0)) return 0;  // NaN counts as 0
  if (v >= 255.0) return 255;
  return uint8_t(int32_t(v));
}

// 255 a / (1 + a) with a = v / 255, computed as 255 (a - a^2 / (a + 1)).
// Intensities at or below 0 are black: the formula would turn below -255
// toward white and divide by zero at exactly -255.
uint8_t SoftClamp(double v) {
  if (!(v > 0.0)) return 0;
  const double a = v * 0.00392156862745;
  return Clip(255.0 * (a - a * a / (a + 1.0)));
}

// A triangle wave of period 512 over the truncated intensity.
uint8_t WrapBack(double v) {
  const int32_t n = TruncateWrap(v);
  const int32_t b = n & 255;
  return uint8_t((n & 256) != 0 ? 255 - b : b);
}

// Soft clamp on both sides of mid-gray.
uint8_t CentredSoftClamp(double v) {
  const double d = std::fabs(v - 127.5) * 0.0078431372549;
  const double c = d - d * d / (d + 1.0);
  return Clip(v >= 127.5 ? 127.5 * (1.0 + c) : 127.5 * (1.0 - c));
}

// Key angles relative to the base angle: -180, -90, 0, +90, +180, +270 degrees.
constexpr int32_t kKeyOffsets[6] = {-2 * kQuarterTurn, -kQuarterTurn,    0,
                                    kQuarterTurn,      2 * kQuarterTurn, 3 * kQuarterTurn};

}  // namespace

namespace detail {

void FloorCellWide(double v, int32_t& cell, double& fraction) {
  if (!std::isfinite(v)) {
    cell = 0;
    fraction = 0.0;
    return;
  }
  const double f = std::floor(v);
  const double m = std::fmod(f, kTwoTo32);  // exact, |m| < 2^32
  cell = int32_t(uint32_t(int64_t(m)));
  fraction = v - f;
}

}  // namespace detail

void BuildNoiseLattice(NoiseLattice& lattice, int32_t evolution, const NoiseSettings* settings) {
  // Whole quarter turns q (floored) and the phase within the current one.
  // |product| < 365, so q always fits; q x 5898240 may not for the lowest
  // Evolution values and wraps like every other 32-bit quantity here.
  const double product = double(evolution) * kQuarterTurnFactor;
  int32_t q = int32_t(product);
  if (product < 0.0 && product != double(q)) --q;
  const uint32_t whole = uint32_t(int64_t(double(q) * 5898240.0));
  const double phase = double(int32_t(uint32_t(evolution) - whole)) * kQuarterTurnFactor;

  int32_t period = kDefaultPeriod;
  uint32_t base = whole;
  if (settings != nullptr) {
    // Up to 91 revolutions the product fits 32 bits. A larger count (only a
    // damaged record holds one) would wrap to a period that is not a whole
    // number of quarter turns, or to 0; it means no repeat instead.
    if (settings->repeat > 0 && settings->revolutions > 0) {
      const int64_t p = int64_t(settings->revolutions) * kRevolution;
      if (p <= INT32_MAX) period = int32_t(p);
    }
    base += uint32_t(settings->seed);
  }

  // One stream per key angle, seeded by the angle reduced modulo the period
  // (equal angles modulo the period give equal streams: the loop is exact),
  // then advanced past its first five values.
  NoiseRandom keys[6];
  const double p = double(period);
  for (int i = 0; i < 6; ++i) {
    const double a = double(int32_t(base + uint32_t(kKeyOffsets[i])));
    double r = a - p * std::trunc(a / p);
    if (r < 0.0) r += p;
    keys[i].state = NoiseAdvanceFive(uint32_t(int32_t(r)));
  }

  // Each cell follows its own B-spline through the key values, shifted in
  // time by a fixed phase offset from a generator independent of the inputs.
  NoiseRandom offsets{kPhaseSeed};
  for (int c = 0; c < kLatticeCells; ++c) {
    const double o = NoiseUnitDraw(offsets);
    double k[6];
    for (int i = 0; i < 6; ++i) k[i] = NoiseUnitDraw(keys[i]);
    const double t = o + phase;
    double v;
    if (t < 0.0) {
      v = BSplineBlend(k[0], k[1], k[2], k[3], t + 1.0);
    } else if (t > 1.0) {
      v = BSplineBlend(k[2], k[3], k[4], k[5], t - 1.0);
    } else {
      v = BSplineBlend(k[1], k[2], k[3], k[4], t);
    }
    lattice.cell[c] = v;
  }
}

ComplexitySplit SplitComplexity(double complexity, int32_t quality) {
  ComplexitySplit s{0, 0.0};
  if (complexity >= -2147483648.0 && complexity < 2147483647.0) {
    const double n = std::floor(complexity);
    s.octaves = int32_t(n);
    s.fraction = complexity - n;
  } else if (complexity > 0.0) {
    s.octaves = INT32_MAX;  // beyond any octave loop; NaN and -inf stay 0
  }
  if (quality == 0) s.fraction = 0.0;
  return s;
}

uint8_t MapOverflow(double v, int32_t mode) {
  switch (mode) {
    case kOverflowSoftClamp:
      return SoftClamp(v);
    case kOverflowWrapBack:
      return WrapBack(v);
    case kOverflowClipInverted:
      return uint8_t(255 - Clip(v));
    case kOverflowSoftClampInverted:
      return uint8_t(255 - SoftClamp(v));
    case kOverflowWrapBackInverted:
      return uint8_t(255 - WrapBack(v));
    case kOverflowCentred:
      return CentredSoftClamp(v);
    case kOverflowCentredInverted:
      return uint8_t(255 - CentredSoftClamp(v));
    case kOverflowClip:
    default:
      return Clip(v);
  }
}

}  // namespace noise
