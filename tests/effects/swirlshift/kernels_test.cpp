// Swirlshift's setup arithmetic against numbers worked out by hand, the fields
// against the step-by-step reference, and the area footprint from chosen
// Jacobians, a flat field and a very strong stretch.
#include "kernels.h"
#include "reference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace {

using swirlshift::Frame;

constexpr int kTypes[] = {1, 2, 3, 5, 6, 7};

std::unique_ptr<noise::NoiseLattice> ConstantLattice(double v) {
  auto l = std::make_unique<noise::NoiseLattice>();
  for (double& c : l->cell) c = v;
  return l;
}

Frame FrameFor(const noise::NoiseLattice& lattice, int32_t type, double amplitude, double frequency, int32_t octaves,
               double fraction) {
  Frame b{};
  b.lattice = &lattice;
  b.amplitude = amplitude;
  b.frequency = frequency;
  b.octaves = octaves;
  b.fraction = fraction;
  EXPECT_TRUE(swirlshift::FieldOf(type, b.field, b.hq));
  return b;
}

TEST(SwirlshiftSetup, AmplitudeAndFrequency) {
  // Amount 50, Scale 100: 50 x 100 x 0.01 x 327680 = 16384000 (250 pixels per unit of noise).
  EXPECT_EQ(swirlshift::Amplitude(50.0, 100.0, PF_RationalScale{1, 1}), 16384000.0);
  EXPECT_EQ(swirlshift::Amplitude(-50.0, 100.0, PF_RationalScale{1, 1}), -16384000.0);
  EXPECT_EQ(swirlshift::Amplitude(50.0, 100.0, PF_RationalScale{1, 2}), 8192000.0);
  // HQ: 0.5 / 100 lattice units per pixel; fast: x 0.70710678 x 0.5.
  for (int type : {5, 6, 7}) EXPECT_EQ(swirlshift::Frequency(100.0, PF_RationalScale{1, 1}, type), 0.005);
  for (int type : {1, 2, 3})
    EXPECT_NEAR(swirlshift::Frequency(100.0, PF_RationalScale{1, 1}, type), 0.005 * 0.70710678 * 0.5, 1e-18);
  // Half resolution doubles the frequency.
  EXPECT_EQ(swirlshift::Frequency(40.0, PF_RationalScale{1, 2}, 6), 0.025);
  swirlshift::Field field;
  bool hq;
  for (int32_t type : {4, 0, 8, -1}) EXPECT_FALSE(swirlshift::FieldOf(type, field, hq)) << type;
}

// On a lattice of one value every read returns that value (to rounding), so
// the sums show the octave weights: 0.25 first, then x 0.7, the fraction on
// the next one.
TEST(SwirlshiftSum, OctaveWeights) {
  const auto flat = ConstantLattice(0.8);
  for (bool hq : {false, true}) {
    // NoiseCubic of a constant lattice is 1.2 x 1.2 times the value.
    const double value = hq ? 0.8 * 1.44 : 0.8;
    Frame b = FrameFor(*flat, hq ? 5 : 1, 1.0, 0.01, 1, 0.0);
    EXPECT_NEAR(swirlshift::FractalSum(b, 8000.3, -9000.7), 0.25 * value, 1e-12);
    b.octaves = 2;
    b.fraction = 0.5;
    EXPECT_NEAR(swirlshift::FractalSum(b, 1.5, 2.5), (0.25 + 0.175 + 0.5 * 0.1225) * value, 1e-12);
  }
}

TEST(SwirlshiftSum, FieldsMatchTheReference) {
  auto lattice = std::make_unique<noise::NoiseLattice>();
  const noise::NoiseSettings settings{777, 0, 1};
  noise::BuildNoiseLattice(*lattice, 123 * 65536 + 99, &settings);
  for (int type : kTypes) {
    for (int32_t complexity : {1 << 16, 2 << 16 | 0x9999, 4 << 16 | 0x1000}) {
      swirlshift_ref::Values v;
      v.type = type;
      v.complexity = complexity;
      const swirlshift_ref::Setup s = swirlshift_ref::Prepare(v);
      const Frame b = FrameFor(*lattice, type, s.A, s.F, s.n, s.f);
      for (double px : {7913.17, 7900.05, -3.75}) {
        for (double py : {9711.73, 0.5, 12345.875}) {
          double dx, dy;
          swirlshift_ref::Displacement(*lattice, s, px, py, dx, dy);
          const swirlshift::Offset d = swirlshift::Displace(b, px, py);
          EXPECT_EQ(d.dx, dx) << type << " " << px << " " << py;
          EXPECT_EQ(d.dy, dy) << type << " " << px << " " << py;
        }
      }
    }
  }
}

// Twist moves along the contour Bulge pushes across: (tx, ty) = (-by, bx).
TEST(SwirlshiftSum, TwistIsBulgeTurnedAQuarter) {
  auto lattice = std::make_unique<noise::NoiseLattice>();
  noise::BuildNoiseLattice(*lattice, 40 * 65536, nullptr);
  for (int hq : {0, 1}) {
    const Frame bulge = FrameFor(*lattice, hq ? 6 : 2, 1.0, 0.01, 3, 0.25);
    const Frame twist = FrameFor(*lattice, hq ? 7 : 3, 1.0, 0.01, 3, 0.25);
    for (double p : {7913.5, 7920.125, 7931.0}) {
      const swirlshift::Offset b = swirlshift::Displace(bulge, p, p + 1800.3);
      const swirlshift::Offset t = swirlshift::Displace(twist, p, p + 1800.3);
      EXPECT_EQ(t.dx, -b.dy);
      EXPECT_EQ(t.dy, b.dx);
      EXPECT_NE(b.dx, 0.0);
    }
  }
}

TEST(SwirlshiftFootprint, FromTheJacobian) {
  // rx from |Jxy| and |Jxx|, ry from |Jyy| and |Jyx|; area = trunc(ry rx / 65536) x 4.
  swirlshift::Footprint f = swirlshift::FootprintOf(3 * 65536.0, 10.0, -5 * 65536.0, 1.5 * 65536.0);
  EXPECT_EQ(f.x_radius, 163840);
  EXPECT_EQ(f.y_radius, 49152);
  EXPECT_EQ(f.area, 491520);
  // Radii truncate, and so does the area's quotient: 0.5 x 131075 = 65537.5.
  f = swirlshift::FootprintOf(131075.0, 0.0, 0.0, 65536.0);
  EXPECT_EQ(f.x_radius, 65537);
  EXPECT_EQ(f.y_radius, 32768);
  EXPECT_EQ(f.area, (32768LL * 65537 / 65536) * 4);  // 32768.5 -> 32768 -> 131072
  EXPECT_EQ(f.area, 131072);
  // A shrinking map still reads at least half a pixel around the point.
  f = swirlshift::FootprintOf(100.0, -3.0, 2.0, -7.0);
  EXPECT_EQ(f.x_radius, 32768);
  EXPECT_EQ(f.y_radius, 32768);
  EXPECT_EQ(f.area, 65536);
  // A very strong stretch: both radii at 32 pixels; the product 2^42 needs
  // 64 bits, the area 2^28 fits.
  f = swirlshift::FootprintOf(1e12, -1e12, 5e11, -3e12);
  EXPECT_EQ(f.x_radius, 2097152);
  EXPECT_EQ(f.y_radius, 2097152);
  EXPECT_EQ(f.area, 268435456);
}

// Where the field is flat (one lattice value everywhere) the neighbours see
// the same displacement: Jxx = Jyy = 65536, Jxy = Jyx = 0, radii of half a
// pixel and area 65536, however strong the amplitude.
TEST(SwirlshiftFootprint, FlatFieldReadsOnePixel) {
  const auto flat = ConstantLattice(-0.45);
  for (int type : kTypes) {
    for (double amplitude : {16384000.0, -3.2768e9}) {
      const Frame b = FrameFor(*flat, type, amplitude, 0.0035355339, 3, 0.5);
      const double px = 7913.17 + 11 * b.frequency, py = 9711.73 - 5 * b.frequency;
      const swirlshift::Offset d = swirlshift::Displace(b, px, py);
      const swirlshift::Footprint f = swirlshift::Stretch(b, d, px, py);
      EXPECT_EQ(f.x_radius, 32768) << type;
      EXPECT_EQ(f.y_radius, 32768) << type;
      EXPECT_EQ(f.area, 65536) << type;
    }
  }
}

TEST(SwirlshiftPosition, TruncatesAndStaysInRange) {
  const auto flat = ConstantLattice(0.0);
  Frame b = FrameFor(*flat, 5, 65536.0, 0.005, 1, 0.0);
  // 0.3 x 65536 + 2 x 65536 = 150732.8 -> 150732; -0.3 x 65536 + 0 = -19660.8 -> -19660.
  swirlshift::Position p = swirlshift::SamplePosition(b, {0.3, -0.3}, 2, 0);
  EXPECT_EQ(p.x, 150732);
  EXPECT_EQ(p.y, -19660);
  // Displacements beyond the 16.16 range end at its ends, far outside any layer.
  b.amplitude = 3.2768e10;
  p = swirlshift::SamplePosition(b, {0.4, -0.4}, 5, 5);
  EXPECT_EQ(p.x, INT32_MAX);
  EXPECT_EQ(p.y, INT32_MIN);
}

}  // namespace
