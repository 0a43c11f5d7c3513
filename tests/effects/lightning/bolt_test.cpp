// Bolt generation on its own: the lattice against a step-by-step generator,
// its continuity in "Conductivity State", the readers' hash and wrap, the
// turbulence sum's model bits, and walks of every type with the services
// answered by the host library (see walk_support.h).
#include "bolt.h"
#include "walk_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

using lightning::BoltLattice;
using lightning::BoltQueue;
using lightning::BoltRecord;
using lightning_test::Scene;
using lightning_test::Walk;
using lightning_test::Walked;

std::unique_ptr<BoltLattice> Lattice(double conductivity) {
  auto l = std::make_unique<BoltLattice>();
  lightning::BuildBoltLattice(*l, conductivity);
  return l;
}

// The lattice built by stepping every generator one draw at a time from its
// key (m - 2 + k) x 65536, with the spline written out per segment.
double ReferenceEntry(double conductivity, int entry) {
  const double G = conductivity + 1.0;
  const int m = int(std::floor(G));
  const double frac = G - std::floor(G);
  uint32_t q = 12356789u;
  uint32_t s[6];
  for (int k = 0; k < 6; ++k) {
    s[k] = uint32_t(m - 2 + k) * 65536u;
    for (int step = 0; step < 6; ++step) s[k] = s[k] * 1103515245u + 12345u;
  }
  double values[6] = {};
  double g = 0;
  for (int e = 0; e <= entry; ++e) {
    q = q * 1103515245u + 12345u;
    g = ((q >> 16) % 32768) / 16384.0 - 1.0 + frac;
    for (int k = 0; k < 6; ++k) {
      s[k] = s[k] * 1103515245u + 12345u;
      values[k] = ((s[k] >> 16) % 32768) / 16384.0 - 1.0;
    }
  }
  int first = 1;
  if (g < 0) {
    first = 0;
    g += 1;
  } else if (g > 1) {
    first = 2;
    g -= 1;
  }
  const double* v = values + first;
  const double b0 = (1 - g) * (1 - g) * (1 - g);
  const double b1 = 3 * g * g * g - 6 * g * g + 4;
  const double b2 = -3 * g * g * g + 3 * g * g + 3 * g + 1;
  const double b3 = g * g * g;
  return 0.2 * (b0 * v[0] + b1 * v[1] + b2 * v[2] + b3 * v[3]);
}

TEST(BoltLattice, MatchesTheGeneratorStepByStep) {
  for (double c : {0.0, 2.0, 2.75, 17.3, -0.4, 32767.0}) {
    const auto l = Lattice(c);
    for (int e : {0, 1, 2, 63, 64, 1000, 4095})
      EXPECT_NEAR(l->v[e], ReferenceEntry(c, e), 1e-15) << "conductivity " << c << " entry " << e;
  }
}

TEST(BoltLattice, ChangesContinuouslyWithConductivity) {
  constexpr double kUnit = 1.0 / 65536.0;
  // Within a unit: 2.0 and 2.0 + 1/65536 give nearly the same table.
  {
    const auto a = Lattice(2.0), b = Lattice(2.0 + kUnit);
    for (int e = 0; e < 4096; ++e) ASSERT_LT(std::fabs(a->v[e] - b->v[e]), 0.001) << "entry " << e;
  }
  // Across integer steps no entry jumps.
  for (double step : {1.0, 2.0, 3.0, 50.0}) {
    const auto a = Lattice(step - kUnit), b = Lattice(step);
    double worst = 0;
    for (int e = 0; e < 4096; ++e) worst = std::fmax(worst, std::fabs(a->v[e] - b->v[e]));
    EXPECT_LT(worst, 0.01) << "across " << step;
  }
  // Yet whole units do change it.
  const auto a = Lattice(2.0), b = Lattice(3.0);
  int changed = 0;
  for (int e = 0; e < 4096; ++e) changed += std::fabs(a->v[e] - b->v[e]) > 0.01;
  EXPECT_GT(changed, 2000);
}

TEST(BoltNoise, HashAndWrap) {
  BoltLattice l;
  for (int e = 0; e < 4096; ++e) l.v[e] = e;
  // Index 64 x (((iy >> 5) ^ ix) & 63) + (((ix >> 5) ^ iy) & 63).
  EXPECT_EQ(lightning::BoltLatticeValue(l, 5, 70), 64 * ((2 ^ 5) & 63) + ((0 ^ 70) & 63));
  EXPECT_EQ(lightning::BoltLatticeValue(l, -1, 0), 64 * 63 + 63);
  EXPECT_EQ(lightning::BoltLatticeValue(l, 0, -1), 64 * 63 + 63);
  EXPECT_EQ(lightning::BoltLatticeValue(l, 65537, 3), 64 * ((0 ^ 65537) & 63) + ((2048 ^ 3) & 63));
  // At integer points the linear reader is the table entry; coordinates wrap at 65536.
  EXPECT_EQ(lightning::BoltNoiseLinear(l, 5, 70), lightning::BoltLatticeValue(l, 5, 70));
  EXPECT_EQ(lightning::BoltNoiseLinear(l, 5 - 65536.0, 70 + 3 * 65536.0), lightning::BoltLatticeValue(l, 5, 70));
  EXPECT_EQ(lightning::BoltNoiseLinear(l, -1.0, 4.0), lightning::BoltLatticeValue(l, 65535, 4));
}

TEST(BoltNoise, ReadersInterpolateAsWritten) {
  const auto l = Lattice(4.5);
  auto L = [&](int x, int y) { return lightning::BoltLatticeValue(*l, x, y); };
  const double x = 130.25, y = 7.75;
  const double fx = 0.25, fy = 0.75;
  const double lin = (1 - fy) * ((1 - fx) * L(130, 7) + fx * L(131, 7)) + fy * ((1 - fx) * L(130, 8) + fx * L(131, 8));
  EXPECT_NEAR(lightning::BoltNoiseLinear(*l, x, y), lin, 1e-15);
  const double sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
  const double semi = (1 - sy) * ((1 - sx) * L(130, 7) + sx * L(131, 7)) + sy * ((1 - sx) * L(130, 8) + sx * L(131, 8));
  EXPECT_NEAR(lightning::BoltNoiseSemiLinear(*l, x, y), semi, 1e-15);
  // The spline at a lattice point: 0.2 (L(-1) + 4 L(0) + L(1)) along each axis.
  double rows[3];
  for (int j = -1; j <= 1; ++j) rows[j + 1] = 0.2 * (L(129, 7 + j) + 4 * L(130, 7 + j) + L(131, 7 + j));
  EXPECT_NEAR(lightning::BoltNoiseSpline(*l, 130, 7), 0.2 * (rows[0] + 4 * rows[1] + rows[2]), 1e-14);
}

TEST(TurbulenceSum, ModelBitsAndOctaves) {
  Scene s(200, 200, 3.0);
  lightning::WalkContext& c = s.c;
  const double x = 1234.5, y = -987.25;
  c.complexity = 1;
  c.fractal_model = 1;
  const double X = x * double(0.003f) * 1.79 - 17.3, Y = y * double(0.003f) * 1.79 + 9.7;
  EXPECT_NEAR(lightning::TurbulenceSum(x, y, c), 0.8 * lightning::BoltNoiseLinear(*s.lattice, X, Y), 1e-15);
  c.complexity = 3;
  const double lin = lightning::TurbulenceSum(x, y, c);
  double expected = 0, X3 = x * double(0.003f), Y3 = y * double(0.003f), amp = 0.8;
  for (int i = 0; i < 3; ++i) {
    X3 = X3 * 1.79 - 17.3;
    Y3 = Y3 * 1.79 + 9.7;
    expected += amp * lightning::BoltNoiseLinear(*s.lattice, X3, Y3);
    amp *= 0.71;
  }
  EXPECT_NEAR(lin, expected, 1e-14);
  // Bits are tested in the order 1, 2, 4; without any of them the sum is 0.
  c.fractal_model = 3;
  EXPECT_EQ(lightning::TurbulenceSum(x, y, c), lin);
  c.fractal_model = 2;
  const double semi = lightning::TurbulenceSum(x, y, c);
  c.fractal_model = 6;
  EXPECT_EQ(lightning::TurbulenceSum(x, y, c), semi);
  c.fractal_model = 4;
  EXPECT_NE(lightning::TurbulenceSum(x, y, c), semi);
  for (int32_t model : {0, 8, 16, -8}) {
    c.fractal_model = model;
    EXPECT_EQ(lightning::TurbulenceSum(x, y, c), 0.0) << "model " << model;
  }
  c.fractal_model = 1;
  c.complexity = 0;
  EXPECT_EQ(lightning::TurbulenceSum(x, y, c), 0.0);
}

// ---------------------------------------------------------------------------
// Walks
// ---------------------------------------------------------------------------

struct QueueGuard {
  BoltQueue q;
  explicit QueueGuard(const lightning::WalkContext& c) { EXPECT_TRUE(lightning::CreateQueue(c.utils, &q)); }
  ~QueueGuard() { lightning::FreeQueue(lightning_test::Utils(), &q); }
};

::testing::AssertionResult Straight(const Walked& w) {
  if (w.points.size() < 2) return ::testing::AssertionFailure() << "only " << w.points.size() << " points";
  const float dx = w.points[1].x - w.points[0].x, dy = w.points[1].y - w.points[0].y;
  if (std::fabs(std::hypot(dx, dy) - 1.0f) > 1e-4f) return ::testing::AssertionFailure() << "first step not unit";
  for (size_t i = 1; i < w.points.size(); ++i) {
    const float ex = w.points[0].x + float(i) * dx, ey = w.points[0].y + float(i) * dy;
    if (std::fabs(w.points[i].x - ex) > 0.01f * float(i) / 100 + 0.01f ||
        std::fabs(w.points[i].y - ey) > 0.01f * float(i) / 100 + 0.01f)
      return ::testing::AssertionFailure() << "point " << i << " off the line";
  }
  return ::testing::AssertionSuccess();
}

TEST(WalkBolt, NoTurbulenceGivesOneStraightBoltForEveryType) {
  for (int32_t type : {1, 2, 3, 4, 6, 7, 8}) {
    SCOPED_TRACE("type " + std::to_string(type));
    Scene s(300, 200);
    s.c.lightning_type = type;
    s.c.turbulence_gain = 0.0f;
    s.c.fork_threshold = -1.0f;  // Forking is ignored without turbulence
    s.c.min_fork_distance = 16.0f;
    QueueGuard g(s.c);
    lightning::AppendRecord(&g.q, s.Main());
    const Walked w = Walk(s.Main(), s.c, &g.q);
    ASSERT_TRUE(w.made);
    EXPECT_TRUE(Straight(w));
    EXPECT_EQ(g.q.count, 1) << "no forks";
    const auto& last = w.points.back();
    const float tx = s.c.target_x, ty = s.c.target_y;
    switch (type) {
      case lightning::kStrike:
      case lightning::kBouncey:
        EXPECT_LT(std::hypot(last.x - tx, last.y - ty), 2.0f);
        break;
      case lightning::kDirection:
      case lightning::kVertical:
      case lightning::kBreaking:
        EXPECT_GT(last.y, 200.0f + 16.0f);
        EXPECT_LE(last.y, 200.0f + 17.0f);
        break;
      default: {  // Omni, Anywhere: the first point past the radius around the Origin
        const float r = std::hypot(tx - s.c.origin_x, ty - s.c.origin_y);
        const float d = std::hypot(last.x - s.c.origin_x, last.y - s.c.origin_y);
        if (last.x >= -16 && last.x <= 316 && last.y >= -16 && last.y <= 216) {
          EXPECT_GT(d, r);
          EXPECT_LE(d, r + 1.0f);
        }
      }
    }
    if (type == lightning::kVertical) {
      EXPECT_EQ(w.points[1].x, w.points[0].x);
    }
  }
}

TEST(WalkBolt, OriginFarOutsideGivesTwoPoints) {
  Scene s(300, 200);
  s.c.origin_x = -40.0f;
  s.c.origin_y = 50.0f;
  QueueGuard g(s.c);
  const Walked w = Walk(s.Main(), s.c, &g.q);
  EXPECT_EQ(w.points.size(), 2u);
  EXPECT_EQ(g.q.count, 0);
}

TEST(WalkBolt, OmniWithRadiusZeroEndsAfterItsFirstStep) {
  for (int32_t type : {lightning::kOmni, lightning::kAnywhere}) {
    Scene s(300, 200);
    s.c.lightning_type = type;
    s.c.target_x = s.c.origin_x;
    s.c.target_y = s.c.origin_y;
    QueueGuard g(s.c);
    const Walked w = Walk(s.Main(), s.c, &g.q);
    EXPECT_EQ(w.points.size(), 2u) << "type " << type;
  }
}

TEST(WalkBolt, FullForkingTriesAForkEveryMinimumDistancePlusOneSteps) {
  Scene s(400, 1200);
  s.c.fork_threshold = 1.0f;  // Forking 100 %
  s.c.min_fork_distance = 20.0f;
  s.c.fork_drain = 0.0f;
  QueueGuard g(s.c);
  lightning::AppendRecord(&g.q, s.Main());
  const Walked w = Walk(s.Main(), s.c, &g.q);
  ASSERT_GT(g.q.count, 10);
  // Fork k starts at the point of steering step 22 + 21 k (the counter must
  // exceed 20 and restarts at 1 after a fork).
  for (int32_t k = 1; k < g.q.count; ++k) {
    const BoltRecord& f = g.q.records[k];
    const size_t index = size_t(22 + 21 * (k - 1));
    ASSERT_LT(index, w.points.size());
    EXPECT_EQ(f.start_x, w.points[index].x) << "fork " << k;
    EXPECT_EQ(f.start_y, w.points[index].y) << "fork " << k;
    EXPECT_EQ(f.generation, 1);
    const double phase = lightning::kMainPhase + 373.7 + 715.3 * (k - 1);
    EXPECT_NEAR(f.phase, phase > 40000 ? phase - 40000 : phase, 1e-9);
    // Strength: the noise at the raw position, times variation, plus strength.
    double st = lightning::BoltNoiseLinear(*s.lattice, f.start_x, f.start_y) * 0.25f + 0.7f;
    st = st < 0 ? 0 : st > 1 ? 1 : st;
    EXPECT_NEAR(f.strength, st, 1e-12);
  }
}

TEST(WalkBolt, QueueHoldsAtMostOneHundredBolts) {
  Scene s(640, 480);
  s.c.fork_threshold = 1.0f;
  s.c.min_fork_distance = 16.0f;
  s.c.decay_step = 0.0;
  QueueGuard g(s.c);
  lightning::AppendRecord(&g.q, s.Main());
  for (int32_t i = 0; i < g.q.count; ++i) Walk(g.q.records[i], s.c, &g.q);
  EXPECT_EQ(g.q.count, lightning::kQueueCapacity);
  // A full queue ignores further records.
  lightning::AppendRecord(&g.q, s.Main());
  EXPECT_EQ(g.q.count, lightning::kQueueCapacity);
}

TEST(WalkBolt, PathsStopAt4799Points) {
  Scene s(100, 8000);
  s.c.lightning_type = lightning::kVertical;
  s.c.turbulence_gain = 0.0f;
  s.c.origin_x = 50.0f;
  s.c.origin_y = 0.0f;
  QueueGuard g(s.c);
  const Walked w = Walk(s.Main(), s.c, &g.q);
  EXPECT_EQ(w.points.size(), 4799u);
  EXPECT_EQ(w.capacity, 4800);
  EXPECT_EQ(w.points.back().y, 4798.0f);
}

TEST(WalkBolt, DecayEndsForksAndMainOnlyWhenAsked) {
  Scene s(400, 2000);
  s.c.turbulence_gain = 0.0f;
  s.c.decay_step = 0.01;
  QueueGuard g(s.c);
  // "Decay Main Core" off: the main bolt runs to the frame edge.
  const Walked off = Walk(s.Main(), s.c, &g.q);
  EXPECT_GT(off.points.back().y, 2016.0f);
  // On: strength 1 loses 0.01 a step and the walk ends below 0.01.
  s.c.walk_flags = 0;
  const Walked on = Walk(s.Main(), s.c, &g.q);
  EXPECT_GE(on.points.size(), 99u);
  EXPECT_LE(on.points.size(), 101u);
  EXPECT_NEAR(on.points.back().strength, 0.01f, 0.0101f);
}

// An input with an opaque block in the bolt's way.
void OpaqueBlock(ombrix::World& in, A_long x0, A_long y0, A_long x1, A_long y1) {
  for (A_long y = y0; y < y1; ++y)
    for (A_long x = x0; x < x1; ++x) in.At(x, y) = PF_Pixel{255, 0, 0, 0};
}

TEST(WalkBolt, UniformInputNeverDeflects) {
  for (bool opaque : {false, true}) {
    Scene s(200, 200);
    s.c.lightning_type = lightning::kStrike;
    s.c.turbulence_gain = 0.0f;
    s.c.fork_threshold = -1.0f;
    s.c.origin_x = 60.0f;
    s.c.origin_y = 20.0f;
    s.c.target_x = 140.0f;
    s.c.target_y = 180.0f;
    if (opaque) OpaqueBlock(s.input, 0, 0, 200, 200);
    QueueGuard g(s.c);
    const Walked plain = Walk(s.Main(), s.c, &g.q);
    s.c.obstacle_gain = 4.0f * 0.02f * 100;  // switches steering on
    const Walked steered = Walk(s.Main(), s.c, &g.q);
    ASSERT_EQ(plain.points.size(), steered.points.size()) << "opaque " << opaque;
    for (size_t i = 0; i < plain.points.size(); ++i) {
      EXPECT_NEAR(plain.points[i].x, steered.points[i].x, 1e-3f);
      EXPECT_NEAR(plain.points[i].y, steered.points[i].y, 1e-3f);
    }
    EXPECT_EQ(g.q.count, 0);
  }
}

TEST(WalkBolt, ObstacleSteersAwayFromOpaqueAreas) {
  // An opaque area from x = 102 rightwards beside a bolt heading straight
  // down x = 100: the gradient (0 - 255, 0) pushes it left, away from the
  // edge, and it never enters the area.
  Scene s(200, 200);
  s.c.lightning_type = lightning::kStrike;
  s.c.turbulence_gain = 0.0f;
  s.c.fork_threshold = -1.0f;
  s.c.origin_x = 100.0f;
  s.c.origin_y = 10.0f;
  s.c.target_x = 100.0f;
  s.c.target_y = 190.0f;
  OpaqueBlock(s.input, 102, 0, 200, 200);
  s.c.obstacle_gain = 0.02f;
  lightning::BoltQueue none{};
  const Walked w = Walk(s.Main(), s.c, &none);
  ASSERT_GT(w.points.size(), 100u);
  float least = 1e9f, most = -1e9f;
  for (const auto& p : w.points) {
    least = std::fmin(least, p.x);
    most = std::fmax(most, p.x);
  }
  EXPECT_LT(least, 99.5f);
  EXPECT_LE(most, 100.0f);
}

bool SamePath(const Walked& a, const Walked& b) {
  if (a.points.size() != b.points.size()) return false;
  for (size_t k = 0; k < a.points.size(); ++k)
    if (a.points[k].x != b.points[k].x || a.points[k].y != b.points[k].y) return false;
  return true;
}

TEST(WalkBolt, MainCoreCollisionOnlyLetsForksIgnoreTheObstacle) {
  Scene s(320, 320);
  s.c.fork_threshold = 1.0f;
  s.c.min_fork_distance = 16.0f;
  s.c.obstacle_gain = 0.02f;
  for (A_long y = 0; y < 320; ++y)
    for (A_long x = 0; x < 320; ++x)
      if (((x / 24) + (y / 24)) % 2 == 0) s.input.At(x, y) = PF_Pixel{255, 0, 0, 0};

  for (bool only : {false, true}) {
    SCOPED_TRACE(only ? "collision only" : "everyone collides");
    s.c.walk_flags = lightning::kFlagMainDecayOff | (only ? lightning::kFlagMainCollisionOnly : 0);
    lightning::WalkContext free = s.c;
    free.obstacle_gain = 0.0f;
    QueueGuard g(s.c), scratch(s.c);
    lightning::AppendRecord(&g.q, s.Main());
    const Walked main = Walk(s.Main(), s.c, &g.q);
    ASSERT_GT(g.q.count, 3);
    int differ = 0;
    for (int32_t i = 1; i < g.q.count && i < 8; ++i) {
      const Walked fork = Walk(g.q.records[i], s.c, &scratch.q);
      differ += !SamePath(fork, Walk(g.q.records[i], free, &scratch.q));
    }
    if (only)
      EXPECT_EQ(differ, 0);
    else
      EXPECT_GT(differ, 0);
    // The main bolt collides either way.
    lightning::BoltQueue none{};
    EXPECT_FALSE(SamePath(main, Walk(s.Main(), free, &none)));
  }
}

TEST(WalkBolt, BounceyMirrorsItsDirectionAtAnObstacle) {
  // Heading straight down onto an opaque band: the obstacle gradient points
  // up (a.x^2 + a.y^2 > 0.1) and against the base direction, so the base
  // direction is mirrored and the bolt is re-aimed upwards, leaving through
  // the top of the frame instead of reaching its target.
  Scene s(200, 200);
  s.c.lightning_type = lightning::kBouncey;
  s.c.turbulence_gain = 0.0f;
  s.c.fork_threshold = -1.0f;
  s.c.obstacle_gain = 0.02f;
  s.c.origin_x = 100.0f;
  s.c.origin_y = 50.0f;
  s.c.target_x = 100.0f;
  s.c.target_y = 190.0f;
  OpaqueBlock(s.input, 0, 100, 200, 200);
  lightning::BoltQueue none{};
  const Walked w = Walk(s.Main(), s.c, &none);
  float deepest = 0;
  for (const auto& p : w.points) deepest = std::fmax(deepest, p.y);
  EXPECT_GT(deepest, 90.0f);
  EXPECT_LT(deepest, 100.0f);
  EXPECT_LT(w.points.back().y, -16.0f);
  EXPECT_NEAR(w.points.back().x, 100.0f, 1e-3f);
}

TEST(WalkBolt, PathAllocationFailureSkipsTheBolt) {
  Scene s(300, 200);
  PF_UtilCallbacks failing = *s.c.utils;
  failing.host_new_handle = [](A_u_long) -> PF_Handle { return nullptr; };
  s.c.utils = &failing;
  lightning::BoltQueue none{};
  lightning::BoltPath path;
  EXPECT_FALSE(lightning::WalkBolt(s.Main(), s.c, &none, &path));
  EXPECT_EQ(path.points, nullptr);
}

}  // namespace
