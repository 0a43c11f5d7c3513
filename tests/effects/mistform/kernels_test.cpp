// Mistform's setup arithmetic against numbers worked out by hand, and each
// formula against the step-by-step reference at a handful of points.
#include "kernels.h"
#include "reference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace {

constexpr int kTypes[] = {2, 3, 5, 6, 7, 9, 10, 11, 12, 13, 14, 16, 17, 18, 19, 20, 21, 22};

PF_FpLong Pow(PF_FpLong x, PF_FpLong y) { return std::pow(x, y); }

TEST(MistformSetup, BaseFrequency) {
  EXPECT_NEAR(mistform::BaseFrequency(100.0, PF_RationalScale{1, 1}), 0.015, 1e-17);
  EXPECT_NEAR(mistform::BaseFrequency(20.0, PF_RationalScale{1, 1}), 0.075, 1e-17);
  // Half resolution doubles the frequency exactly; a third triples it.
  EXPECT_EQ(mistform::BaseFrequency(37.5, PF_RationalScale{1, 2}),
            2.0 * mistform::BaseFrequency(37.5, PF_RationalScale{1, 1}));
  EXPECT_NEAR(mistform::BaseFrequency(100.0, PF_RationalScale{1, 3}), 0.045, 1e-16);
}

TEST(MistformSetup, OctaveCap) {
  // Complexity 4 or less is never changed, however fine the octaves.
  EXPECT_EQ(mistform::CapComplexity(4.0, 0.9, 3), 4.0);
  EXPECT_EQ(mistform::CapComplexity(1.5, 0.9, 3), 1.5);
  // Scale 20 (F = 0.075): S = 0.075 x 1.77^k passes 1.1 at k = 5 (i = 4):
  // C = 5 - (0.075 x 1.77^5 - 1) / 0.77 = 4.60656...
  const double s5 = 0.075 * std::pow(1.77, 5);
  EXPECT_NEAR(mistform::CapComplexity(20.0, 0.075, 3), 5.0 - (s5 - 1.0) / 0.77, 1e-12);
  EXPECT_NEAR(mistform::CapComplexity(20.0, 0.075, 3), 4.60656, 1e-5);
  // Stops at i = floor(C) - 1: Complexity 5.5 only tries i = 1..3, which
  // stays below 1.1 at Scale 20.
  EXPECT_EQ(mistform::CapComplexity(5.5, 0.075, 3), 5.5);
  // Complexity 6 allows i = 4: the same cap.
  EXPECT_NEAR(mistform::CapComplexity(6.0, 0.075, 3), 5.0 - (s5 - 1.0) / 0.77, 1e-12);
  // A coarse frequency would cap below 4: raised to 4.
  EXPECT_EQ(mistform::CapComplexity(20.0, 0.6, 3), 4.0);
  // "Max" steps by 1.1: at Scale 20, 0.075 x 1.1^k reaches 1.1 only at
  // k = 29, beyond the 19 steps Complexity 20 allows: unchanged.
  EXPECT_EQ(mistform::CapComplexity(20.0, 0.075, 16), 20.0);
  // With F = 0.5: 0.5 x 1.1^k passes 1.1 at k = 9 (i = 8): C = 9 - (0.5 x 1.1^9 - 1) / 0.1.
  EXPECT_NEAR(mistform::CapComplexity(20.0, 0.5, 16), 9.0 - (0.5 * std::pow(1.1, 9) - 1.0) / 0.1, 1e-11);
}

TEST(MistformSetup, AmplitudeNormaliser) {
  EXPECT_DOUBLE_EQ(mistform::OctaveNormaliser(0, 0.0), 1.0);
  EXPECT_DOUBLE_EQ(mistform::OctaveNormaliser(1, 0.0), 2.0);
  EXPECT_DOUBLE_EQ(mistform::OctaveNormaliser(1, 0.5), 2.35);
  // 1 + (1 - 0.7^6) / 0.3
  EXPECT_NEAR(mistform::OctaveNormaliser(6, 0.0), 1.0 + (1.0 - std::pow(0.7, 6)) / 0.3, 1e-14);
  EXPECT_NEAR(mistform::OctaveNormaliser(3, 0.25), 1.0 + 1.0 + 0.7 + 0.49 + 0.25 * 0.343, 1e-14);
}

// Every item of the "Fractal Type..." popup and values outside it, one row
// each: whether the type is centred on mid grey, divided by the octave
// weights, read at half the base frequency, and has a formula at all.
TEST(MistformSetup, TypeGroups) {
  const struct {
    int type;
    const char* name;
    bool centred, normalised, halves, formula;
  } rows[] = {
      {-1, "below the popup", false, false, false, false},
      {0, "below the popup", false, false, false, false},
      {1, "heading Basic", false, false, false, false},
      {2, "Linear", true, true, true, true},
      {3, "Smooth", true, true, false, true},
      {4, "heading Turbulent", false, false, false, false},
      {5, "Soft", false, false, false, true},
      {6, "Standard", false, false, false, true},
      {7, "Sharp", false, false, false, true},
      {8, "heading Dynamic", false, false, false, false},
      {9, "Dynamic Linear", true, true, true, true},
      {10, "Linear Progressive", true, true, true, true},
      {11, "Linear Twist", true, true, true, true},
      {12, "Dynamic Smooth", true, true, false, true},
      {13, "Smooth Progressive", true, true, false, true},
      {14, "Smooth Twist", true, true, false, true},
      {15, "heading Extras", false, false, false, false},
      {16, "Max", false, false, false, true},
      {17, "Smeary", false, false, false, true},
      {18, "Swirly", false, false, false, true},
      {19, "Rocky", true, false, false, true},
      {20, "Cloudy", false, false, false, true},
      {21, "Terrain", false, false, false, true},
      {22, "Subscale", true, true, false, true},
      {23, "past the popup", false, false, false, false},
      {24, "past the popup", false, false, false, false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(::testing::Message() << r.type << " " << r.name);
    EXPECT_EQ(mistform::IsCentred(r.type), r.centred);
    EXPECT_EQ(mistform::IsNormalised(r.type), r.normalised);
    EXPECT_EQ(mistform::HalvesFrequency(r.type), r.halves);
    EXPECT_EQ(mistform::FormulaFor(r.type) != nullptr, r.formula);
  }
}

struct Lattices {
  noise::NoiseLattice plain;
  noise::NoiseLattice seeded;
  Lattices() {
    noise::BuildNoiseLattice(plain, 0, nullptr);
    const noise::NoiseSettings s{4242, 1, 3};
    noise::BuildNoiseLattice(seeded, 11 * 65536 + 123, &s);
  }
};

// Every formula at points near and far from the offset, with and without the
// fractional octave, against the reference: exactly the same double.
TEST(MistformFormulas, EveryTypeMatchesTheWrittenSteps) {
  const auto lattices = std::make_unique<Lattices>();
  const double points[][2] = {{0.0, 0.0}, {0.37, -0.81}, {-2.25, 1.5}, {5.123, 7.77}, {-40.5, -13.01}};
  struct Octaves {
    int n;
    double f;
  };
  const Octaves octaves[] = {{1, 0.0}, {3, 0.4}, {6, 0.0}, {0, 0.75}};
  for (const noise::NoiseLattice* L : {&lattices->plain, &lattices->seeded}) {
    for (int type : kTypes) {
      for (const Octaves& o : octaves) {
        mistform::Block b{L, 123.4, 0.015, o.n, o.f, 0.0, 0.0, 1, Pow, mistform::FormulaFor(type)};
        const mistform_ref::Frame fr{123.4, o.n, o.f};
        for (const auto& p : points) {
          const double got = b.formula(b, p[0], p[1]);
          const double want = mistform_ref::Intensity(type, *L, fr, p[0], p[1]);
          ASSERT_EQ(got, want) << "type " << type << " n " << o.n << " f " << o.f << " at " << p[0] << "," << p[1];
        }
      }
    }
  }
}

// A few values that follow from the formulas without the lattice: no
// octaves at all leave the centred types at mid-gray and the products at 1.
TEST(MistformFormulas, NoOctavesGivesTheStartingValue) {
  const auto lattices = std::make_unique<Lattices>();
  for (int type : {2, 3, 9, 10, 11, 12, 13, 14, 19, 22}) {
    mistform::Block b{&lattices->plain, 200.0, 0.015, 0, 0.0, 0.0, 0.0, 1, Pow, mistform::FormulaFor(type)};
    EXPECT_EQ(b.formula(b, 1.25, -3.5), 127.5) << type;
  }
  for (int type : {5, 6, 7, 16, 17, 18}) {
    mistform::Block b{&lattices->plain, 200.0, 0.015, 0, 0.0, 0.0, 0.0, 1, Pow, mistform::FormulaFor(type)};
    EXPECT_EQ(b.formula(b, 1.25, -3.5), 0.0) << type;
  }
}

// Rocky's step is the shared smoothstep of (t + 0.15) / 0.3: the mapped value
// stays below 1 up to the step's end, so the curve's clamp never changes a
// bit against the curve evaluated unclamped.
TEST(MistformFormulas, RockyStepEndsMatchTheUnclampedCurve) {
  double below_end = 0.15, above_start = -0.15;
  for (int i = 0; i < 4000; ++i) {
    for (double t : {below_end, above_start}) {
      const double q = (t + 0.15) * 3.3333333333333335;
      const double curve = t < -0.15 ? 0.0 : t >= 0.15 ? 1.0 : q * q * (3.0 - 2.0 * q);
      ASSERT_EQ(mistform::RockyStep(t), curve) << t;
    }
    below_end = std::nextafter(below_end, 0.0);
    above_start = std::nextafter(above_start, 0.0);
  }
}

// The pixel: transparent pixels keep all four bytes; others get the mapped
// gray with their own alpha.
TEST(MistformPixel, TransparentKeepsItsBytesOthersTurnGray) {
  const auto lattices = std::make_unique<Lattices>();
  const mistform::Block b{&lattices->plain, 255.0, 0.05, 2, 0.5, 3.0, -2.0, 10, Pow, mistform::BasicSmooth};
  const PF_Pixel clear{0, 17, 99, 250};
  PF_Pixel out{1, 2, 3, 4};
  mistform::ShadePixel(b, 5, 6, clear, out);
  EXPECT_EQ(out.alpha, 0);
  EXPECT_EQ(out.red, 17);
  EXPECT_EQ(out.green, 99);
  EXPECT_EQ(out.blue, 250);

  const PF_Pixel half{128, 1, 2, 3};
  mistform::ShadePixel(b, 5, 6, half, out);
  const double v = mistform_ref::Intensity(3, lattices->plain, {255.0, 2, 0.5}, (5 - 3.0) * 0.05, (6 + 2.0) * 0.05);
  const uint8_t gray = noise::MapOverflow(v, 10);
  EXPECT_EQ(out.alpha, 128);
  EXPECT_EQ(out.red, gray);
  EXPECT_EQ(out.green, gray);
  EXPECT_EQ(out.blue, gray);
}

}  // namespace
