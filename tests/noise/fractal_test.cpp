// The fractal noise core against values worked out independently here: the
// generator stepped one step at a time, the B-spline weights in Horner form,
// key-stream seeds derived by hand from the angles and the period.
#include <noise/fractal.h>

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>

namespace {

using noise::NoiseLattice;
using noise::NoiseSettings;

constexpr int32_t kQ = 5898240;     // a quarter turn, 16.16 degrees
constexpr int32_t kRev = 23592960;  // a revolution
constexpr int64_t kP = 2123366400;  // the default period, 32400 degrees
constexpr int32_t kDeg = 65536;

// The classic generator, one step per call.
struct Lcg {
  uint32_t s;
  int draw() {
    s = s * 1103515245u + 12345u;
    return int(s >> 16) & 0x7FFF;
  }
  double unit() { return draw() / 16384.0 - 1.0; }
};

// 0.2 x uniform cubic B-spline, weights expanded and evaluated in Horner form.
double Blend(double p0, double p1, double p2, double p3, double t) {
  const double w0 = ((-t + 3.0) * t - 3.0) * t + 1.0;
  const double w1 = ((3.0 * t - 6.0) * t) * t + 4.0;
  const double w2 = ((-3.0 * t + 3.0) * t + 3.0) * t + 1.0;
  const double w3 = t * t * t;
  return (w0 * p0 + w1 * p1 + w2 * p2 + w3 * p3) / 5.0;
}

// One lattice cell from the six key-stream seeds (the reduced key angles) and
// the phase, stepping every generator one step at a time.
double ReferenceCell(const std::array<uint32_t, 6>& seeds, double phase, int cell) {
  Lcg offsets{12356789u};
  double o = 0.0;
  for (int c = 0; c <= cell; ++c) o = offsets.unit();
  double k[6];
  for (int i = 0; i < 6; ++i) {
    Lcg key{seeds[i]};
    for (int skip = 0; skip < 5; ++skip) key.draw();
    for (int c = 0; c <= cell; ++c) k[i] = key.unit();
  }
  const double t = o + phase;
  if (t < 0.0) return Blend(k[0], k[1], k[2], k[3], t + 1.0);
  if (t > 1.0) return Blend(k[2], k[3], k[4], k[5], t - 1.0);
  return Blend(k[1], k[2], k[3], k[4], t);
}

std::unique_ptr<NoiseLattice> Build(int32_t evolution, const NoiseSettings* settings) {
  auto lattice = std::make_unique<NoiseLattice>();
  noise::BuildNoiseLattice(*lattice, evolution, settings);
  return lattice;
}

bool Identical(const NoiseLattice& a, const NoiseLattice& b) { return std::memcmp(a.cell, b.cell, sizeof a.cell) == 0; }

void ExpectCells(const NoiseLattice& lattice, const std::array<uint32_t, 6>& seeds, double phase) {
  for (int cell : {0, 1, 2, 63, 64, 1000, 4095}) {
    EXPECT_NEAR(lattice.cell[cell], ReferenceCell(seeds, phase, cell), 1e-13) << "cell " << cell;
  }
}

// ---------------------------------------------------------------------------

TEST(NoiseRandom, DrawsTheClassicSequence) {
  // The textbook rand() of this generator, seeded with 1.
  noise::NoiseRandom r{1};
  const int expected[] = {16838, 5758, 10113, 17515, 31051, 5627, 23010, 7419, 16212, 4086};
  for (int e : expected) EXPECT_EQ(noise::NoiseDraw(r), e);

  noise::NoiseRandom u{1};
  EXPECT_EQ(noise::NoiseUnitDraw(u), 16838.0 / 16384.0 - 1.0);
  EXPECT_EQ(noise::NoiseUnitDraw(u), 5758.0 / 16384.0 - 1.0);
}

TEST(NoiseRandom, FiveStepsAtOnceEqualFiveSteps) {
  for (uint32_t s : {0u, 1u, 12356789u, 2111569920u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
    Lcg one{s};
    for (int i = 0; i < 5; ++i) one.draw();
    EXPECT_EQ(noise::NoiseAdvanceFive(s), one.s) << s;
  }
}

TEST(BSplineBlend, WeightsScaledByOneFifth) {
  EXPECT_NEAR(noise::BSplineBlend(0.7, 0.7, 0.7, 0.7, 0.3), 1.2 * 0.7, 1e-15);
  EXPECT_NEAR(noise::BSplineBlend(1, 2, 3, 5, 0.0), 0.2 * (1 + 8 + 3), 1e-15);
  EXPECT_NEAR(noise::BSplineBlend(1, 2, 3, 5, 1.0), 0.2 * (2 + 12 + 5), 1e-15);
  // t = 1/2: weights 1/8, 23/8, 23/8, 1/8.
  EXPECT_NEAR(noise::BSplineBlend(1, 2, 3, 5, 0.5), 0.2 * (1 + 46 + 69 + 5) / 8.0, 1e-15);
  for (double t : {0.1, 0.37, 0.9}) {
    EXPECT_NEAR(noise::BSplineBlend(-0.3, 0.9, 0.2, -1.0, t), Blend(-0.3, 0.9, 0.2, -1.0, t), 1e-15);
  }
}

// ---------------------------------------------------------------------------
// Lattice build
// ---------------------------------------------------------------------------

TEST(BuildNoiseLattice, EvolutionZeroWithoutRecord) {
  // B = 0; -180 and -90 degrees reduce to P - 11796480 and P - 5898240; phase 0.
  const auto lattice = Build(0, nullptr);
  ExpectCells(*lattice,
              {uint32_t(kP - 2 * kQ), uint32_t(kP - kQ), 0u, uint32_t(kQ), uint32_t(2 * kQ), uint32_t(3 * kQ)}, 0.0);
}

TEST(BuildNoiseLattice, MinusOneDegreeWithoutRecord) {
  // q = -1, W = -5898240, phase 89/90; the key angles run from -270 to +180 degrees.
  const auto lattice = Build(-kDeg, nullptr);
  ExpectCells(*lattice,
              {uint32_t(kP - 3 * kQ), uint32_t(kP - 2 * kQ), uint32_t(kP - kQ), 0u, uint32_t(kQ), uint32_t(2 * kQ)},
              89.0 / 90.0);
}

TEST(BuildNoiseLattice, SeedAndPeriodFromRecord) {
  // Seed 1000, repeat every 2 revolutions: P = 47185920, B = 1000.
  const NoiseSettings settings{1000, 1, 2};
  const auto lattice = Build(0, &settings);
  const uint32_t p = 2 * kRev;
  ExpectCells(*lattice, {p + 1000 - 2 * kQ, p + 1000 - kQ, 1000u, 1000u + kQ, 1000u + 2 * kQ, 1000u + 3 * kQ}, 0.0);
}

TEST(BuildNoiseLattice, NoRecordMeansSeedZeroWithoutRepeat) {
  const NoiseSettings plain{0, 0, 1};
  for (int32_t e : {0, 77 * kDeg + 123, -400 * kDeg}) {
    EXPECT_TRUE(Identical(*Build(e, nullptr), *Build(e, &plain))) << e;
  }
}

TEST(BuildNoiseLattice, SeedOfAQuarterTurnEqualsTurningEvolution) {
  const NoiseSettings quarter{kQ, 0, 1};
  const NoiseSettings none{0, 0, 1};
  EXPECT_TRUE(Identical(*Build(33 * kDeg + 5, &quarter), *Build(33 * kDeg + 5 + kQ, &none)));
  const NoiseSettings last{kQ - 1, 0, 1};
  EXPECT_FALSE(Identical(*Build(0, &last), *Build(0, &none)));
}

TEST(BuildNoiseLattice, RepeatLoopsExactly) {
  const NoiseSettings once{0, 1, 1};
  const auto at0 = Build(0, &once);
  EXPECT_TRUE(Identical(*at0, *Build(360 * kDeg, &once)));
  EXPECT_TRUE(Identical(*at0, *Build(720 * kDeg, &once)));
  EXPECT_FALSE(Identical(*at0, *Build(180 * kDeg, &once)));

  const NoiseSettings thrice{4321, 1, 3};
  const int32_t e = 47 * kDeg + 12345;
  EXPECT_TRUE(Identical(*Build(e, &thrice), *Build(e + 3 * kRev, &thrice)));
  EXPECT_TRUE(Identical(*Build(e, &thrice), *Build(e - 3 * kRev, &thrice)));
  EXPECT_FALSE(Identical(*Build(e, &thrice), *Build(e + kRev, &thrice)));
}

TEST(BuildNoiseLattice, WithoutRepeatLoopsEvery32400Degrees) {
  EXPECT_TRUE(Identical(*Build(0, nullptr), *Build(int32_t(kP), nullptr)));
  EXPECT_TRUE(Identical(*Build(-int32_t(kP), nullptr), *Build(0, nullptr)));
  const int32_t e = -1000 * kDeg + 999;
  EXPECT_TRUE(Identical(*Build(e, nullptr), *Build(e + int32_t(kP), nullptr)));
  const NoiseSettings seeded{12, 0, 5};
  EXPECT_TRUE(Identical(*Build(e, &seeded), *Build(e + int32_t(kP), &seeded)));
  EXPECT_FALSE(Identical(*Build(e, nullptr), *Build(e + 360 * kDeg, nullptr)));
}

TEST(BuildNoiseLattice, ExtremeEvolutionsWrapIn32Bits) {
  // INT32_MIN: q = -365 and W = -2152857600 wraps to 2142109696; the phase
  // (E - W) stays 5373952 / 5898240. Key angles above 2^31 wrap, then reduce
  // modulo P.
  ExpectCells(*Build(std::numeric_limits<int32_t>::min(), nullptr),
              {6946816u, 12845056u, 18743296u, 2099773440u, 2105671680u, 2111569920u}, 5373952.0 / 5898240.0);
  // INT32_MAX: q = 364, W = 2146959360, phase 524287 / 5898240.
  ExpectCells(*Build(std::numeric_limits<int32_t>::max(), nullptr),
              {11796480u, 17694720u, 23592960u, 2104623104u, 2110521344u, 2116419584u}, 524287.0 / 5898240.0);
}

TEST(BuildNoiseLattice, RevolutionsBeyond32BitsMeanNoRepeat) {
  // Above 91 revolutions the period no longer fits 32 bits (8192 would wrap
  // to 0, 183 to 22544384, not a whole number of quarter turns).
  const NoiseSettings plain{77, 0, 1};
  const int32_t e = 10 * kDeg;
  for (int32_t revolutions : {92, 183, 8192, std::numeric_limits<int32_t>::max()}) {
    const NoiseSettings damaged{77, 1, revolutions};
    EXPECT_TRUE(Identical(*Build(e, &damaged), *Build(e, &plain))) << revolutions;
  }
  const NoiseSettings largest{77, 1, 91};
  EXPECT_FALSE(Identical(*Build(e, &largest), *Build(e, &plain)));
  EXPECT_TRUE(Identical(*Build(-1000 * kDeg, &largest), *Build(-1000 * kDeg + 91 * kRev, &largest)));
}

TEST(BuildNoiseLattice, ValuesStayWithinRange) {
  const int32_t seeds[] = {0, 1, kQ - 1, -7, std::numeric_limits<int32_t>::max()};
  const int32_t revolutions[] = {1, 91, 0, 92, 8192};
  auto lattice = std::make_unique<NoiseLattice>();
  int builds = 0;
  for (int64_t e = std::numeric_limits<int32_t>::min(); e <= std::numeric_limits<int32_t>::max(); e += 42949673) {
    for (int i = 0; i < 5; ++i) {
      const NoiseSettings s{seeds[i], i & 1, revolutions[i]};
      noise::BuildNoiseLattice(*lattice, int32_t(e), i == 0 ? nullptr : &s);
      for (double v : lattice->cell) {
        ASSERT_GE(v, -1.2) << e;
        ASSERT_LT(v, 1.2) << e;
      }
      ++builds;
    }
  }
  EXPECT_EQ(builds, 500);
}

// ---------------------------------------------------------------------------
// Readers
// ---------------------------------------------------------------------------

// A table whose every value is its own index shows which cell a read hit.
std::unique_ptr<NoiseLattice> IndexTable() {
  auto lattice = std::make_unique<NoiseLattice>();
  for (int i = 0; i < noise::kLatticeCells; ++i) lattice->cell[i] = i;
  return lattice;
}

TEST(LatticeValue, FoldsHighBitsWithArithmeticShift) {
  const auto t = IndexTable();
  EXPECT_EQ(noise::LatticeValue(*t, 5, 9), 5 * 64 + 9);  // row from X, column from Y
  EXPECT_EQ(noise::LatticeValue(*t, 64, 0), 1);          // not a plain 64-cell repeat
  EXPECT_EQ(noise::LatticeValue(*t, 0, 64), 64);
  EXPECT_EQ(noise::LatticeValue(*t, -1, 0), 4095);
  EXPECT_EQ(noise::LatticeValue(*t, -1, -1), 0);
  EXPECT_EQ(noise::LatticeValue(*t, -64, 5), 58);  // row (-64) & 63 = 0, column (-1 ^ 5) & 63
  EXPECT_EQ(noise::LatticeValue(*t, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()), 4095);
}

TEST(NoiseReaders, AtLatticePoints) {
  const NoiseSettings s{321, 0, 1};
  const auto lattice = Build(123 * kDeg + 4567, &s);
  const auto L = [&](int32_t x, int32_t y) { return noise::LatticeValue(*lattice, x, y); };
  const auto row = [&](int32_t x, int32_t y) { return 0.2 * (L(x - 1, y) + 4.0 * L(x, y) + L(x + 1, y)); };
  const std::array<int32_t, 2> points[] = {{0, 0}, {7913, 9711}, {-1, -70}, {-100000, 33}, {63, 64}};
  for (const auto& [x, y] : points) {
    EXPECT_EQ(noise::NoiseFaded(*lattice, x, y), L(x, y));
    EXPECT_EQ(noise::NoiseLinear(*lattice, x, y), L(x, y));
    const double expected = 0.2 * (row(x, y - 1) + 4.0 * row(x, y) + row(x, y + 1));
    EXPECT_NEAR(noise::NoiseCubic(*lattice, x, y), expected, 1e-14);
  }
}

TEST(NoiseReaders, BetweenLatticePoints) {
  const auto lattice = Build(5 * kDeg, nullptr);
  const auto L = [&](int32_t x, int32_t y) { return noise::LatticeValue(*lattice, x, y); };

  // Plain weights 0.25 and 0.75 from cell (10, 20).
  const double linear = 0.75 * (0.25 * L(11, 21) + 0.75 * L(10, 21)) + 0.25 * (0.25 * L(11, 20) + 0.75 * L(10, 20));
  EXPECT_NEAR(noise::NoiseLinear(*lattice, 10.25, 20.75), linear, 1e-15);

  // The fade maps 0.25 to 0.15625 and 0.75 to 0.84375.
  const double faded =
      0.84375 * (0.15625 * L(11, 21) + 0.84375 * L(10, 21)) + 0.15625 * (0.15625 * L(11, 20) + 0.84375 * L(10, 20));
  EXPECT_NEAR(noise::NoiseFaded(*lattice, 10.25, 20.75), faded, 1e-15);

  // Bicubic: blend four rows of four at fx = 0.25, then across at fy = 0.75.
  double rows[4];
  for (int j = 0; j < 4; ++j) {
    const int32_t y = 19 + j;
    rows[j] = Blend(L(9, y), L(10, y), L(11, y), L(12, y), 0.25);
  }
  EXPECT_NEAR(noise::NoiseCubic(*lattice, 10.25, 20.75), Blend(rows[0], rows[1], rows[2], rows[3], 0.75), 1e-14);
}

TEST(NoiseReaders, NegativeCoordinatesFloorDown) {
  const auto lattice = Build(-33 * kDeg, nullptr);
  const auto L = [&](int32_t x, int32_t y) { return noise::LatticeValue(*lattice, x, y); };
  // floor(-0.5) = -1: halfway between cells -1 and 0 on both axes.
  const double mean = 0.25 * (L(-1, -1) + L(0, -1) + L(-1, 0) + L(0, 0));
  EXPECT_NEAR(noise::NoiseLinear(*lattice, -0.5, -0.5), mean, 1e-15);
  EXPECT_NEAR(noise::NoiseFaded(*lattice, -0.5, -0.5), mean, 1e-15);
  // floor(-3.25) = -4 with fraction 0.75.
  const double linear = 0.75 * L(-3, 2) + 0.25 * L(-4, 2);
  EXPECT_NEAR(noise::NoiseLinear(*lattice, -3.25, 2.0), linear, 1e-15);
}

TEST(NoiseReaders, CoordinatesBeyond32BitsWrap) {
  const auto lattice = Build(kDeg, nullptr);
  const auto L = [&](int32_t x, int32_t y) { return noise::LatticeValue(*lattice, x, y); };
  const int32_t kMin = std::numeric_limits<int32_t>::min();
  const int32_t kMax = std::numeric_limits<int32_t>::max();
  // Cell 2^31 - 1 and its neighbour, which wraps to -2^31.
  EXPECT_NEAR(noise::NoiseLinear(*lattice, 2147483647.5, 3.0), 0.5 * (L(kMax, 3) + L(kMin, 3)), 1e-15);
  EXPECT_EQ(noise::NoiseLinear(*lattice, 2147483648.0, 3.0), L(kMin, 3));
  EXPECT_EQ(noise::NoiseLinear(*lattice, -2147483649.0, 3.0), L(kMax, 3));
  EXPECT_EQ(noise::NoiseLinear(*lattice, 1099511627776.5, 3.25),  // 2^40 + 0.5
            noise::NoiseLinear(*lattice, 0.5, 3.25));
  // NaN and infinities read cell 0 with no fraction.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(noise::NoiseCubic(*lattice, nan, 2.0), noise::NoiseCubic(*lattice, 0.0, 2.0));
  EXPECT_EQ(noise::NoiseFaded(*lattice, -inf, inf), L(0, 0));
}

// ---------------------------------------------------------------------------
// Complexity and overflow
// ---------------------------------------------------------------------------

TEST(SplitComplexity, WholeOctavesAndFraction) {
  auto s = noise::SplitComplexity(0x38000 / 65536.0, 1);  // 3.5
  EXPECT_EQ(s.octaves, 3);
  EXPECT_EQ(s.fraction, 0.5);
  s = noise::SplitComplexity(3.5, 0);
  EXPECT_EQ(s.octaves, 3);
  EXPECT_EQ(s.fraction, 0.0);
  s = noise::SplitComplexity(6.0, 1);
  EXPECT_EQ(s.octaves, 6);
  EXPECT_EQ(s.fraction, 0.0);
  s = noise::SplitComplexity(0.25, 1);
  EXPECT_EQ(s.octaves, 0);
  EXPECT_EQ(s.fraction, 0.25);
}

uint8_t Map(double v, int mode) { return noise::MapOverflow(v, mode); }

TEST(MapOverflow, Clip) {
  EXPECT_EQ(Map(254.99, 1), 254);
  EXPECT_EQ(Map(255.0, 1), 255);
  EXPECT_EQ(Map(1e300, 1), 255);
  EXPECT_EQ(Map(0.99, 1), 0);
  EXPECT_EQ(Map(-1.0, 1), 0);
  EXPECT_EQ(Map(std::numeric_limits<double>::quiet_NaN(), 1), 0);
  EXPECT_EQ(Map(254.99, 6), 1);
  EXPECT_EQ(Map(255.0, 6), 0);
  EXPECT_EQ(Map(-1.0, 6), 255);
  // Numbers that name no mode map as Clip.
  EXPECT_EQ(Map(12.7, 0), 12);
  EXPECT_EQ(Map(300.0, 4), 255);
}

TEST(MapOverflow, WrapBackIsATriangleWave) {
  EXPECT_EQ(Map(511.9, 3), 0);
  EXPECT_EQ(Map(512.0, 3), 0);
  EXPECT_EQ(Map(-1.0, 3), 0);
  EXPECT_EQ(Map(-0.9, 3), 0);  // truncates to 0
  EXPECT_EQ(Map(255.0, 3), 255);
  EXPECT_EQ(Map(256.0, 3), 255);
  EXPECT_EQ(Map(257.0, 3), 254);
  for (int n = -2000; n <= 2000; ++n) {
    const int m = ((n % 512) + 512) % 512;
    const int tri = m < 256 ? m : 511 - m;
    ASSERT_EQ(Map(n + 0.5 * (n >= 0 ? 1 : -1), 3), tri) << n;
    ASSERT_EQ(Map(n, 8), 255 - tri) << n;
  }
  // Beyond 32 bits the truncated value wraps modulo 2^32.
  EXPECT_EQ(Map(4294967296.0 + 300.0, 3), 211);
  EXPECT_EQ(Map(-4294967296.0 - 1.0, 3), 0);
  EXPECT_EQ(Map(std::numeric_limits<double>::infinity(), 3), 0);
}

TEST(MapOverflow, SoftClamp) {
  // 255 a / (1 + a) with a = v / 255, that is v / (1 + v / 255), truncated.
  EXPECT_EQ(Map(50.0, 2), 41);     // 41.80
  EXPECT_EQ(Map(100.0, 2), 71);    // 71.83
  EXPECT_EQ(Map(1000.0, 2), 203);  // 203.19
  EXPECT_EQ(Map(1e6, 2), 254);     // 254.94
  EXPECT_EQ(Map(100.0, 7), 184);
  EXPECT_EQ(Map(1000.0, 7), 52);
}

TEST(MapOverflow, SoftClampIsBlackAtAndBelowZero) {
  for (double v : {0.0, -0.0, -1.0, -254.9, -255.0, -300.0, -1e9, -std::numeric_limits<double>::infinity(),
                   std::numeric_limits<double>::quiet_NaN()}) {
    EXPECT_EQ(Map(v, 2), 0) << v;
    EXPECT_EQ(Map(v, 7), 255) << v;
  }
  EXPECT_EQ(Map(1.0, 2), 0);  // 0.996: the formula still holds just above 0
}

TEST(MapOverflow, CentredSoftClamp) {
  // d = |v - 127.5| / 127.5, c = d / (1 + d); 127.5 (1 +- c).
  EXPECT_EQ(Map(127.5, 10), 127);
  EXPECT_EQ(Map(255.0, 10), 191);  // d = 1: 191.25
  EXPECT_EQ(Map(0.0, 10), 63);     // 63.75
  EXPECT_EQ(Map(382.5, 10), 212);  // d = 2: 212.5
  EXPECT_EQ(Map(-127.5, 10), 42);  // 42.5
  EXPECT_EQ(Map(1e6, 10), 254);    // c = 7843 / 7844
  EXPECT_EQ(Map(-1e6, 10), 0);
  EXPECT_EQ(Map(127.5, 11), 128);
  EXPECT_EQ(Map(255.0, 11), 64);
  EXPECT_EQ(Map(0.0, 11), 192);
}

}  // namespace
