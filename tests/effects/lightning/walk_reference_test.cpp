// The walk against a reference written out in this file: every lightning
// type, at full and half resolution, with turbulence, an alpha obstacle and
// forks. Scalars are doubles; positions, directions and gradients are pairs of
// floats, each vector operation rounding its components to float. The walk is
// chaotic, so paths and fork records must agree bit for bit; a failure names
// the first bolt and step where they part.
#include "bolt.h"
#include "walk_support.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

namespace {

using lightning::BoltRecord;
using lightning::PathPoint;
using lightning::WalkContext;

struct F2 {
  float x, y;
};

// The walk restated step by step, sharing only the lattice table and the host's
// services (square root, sub-pixel sampler) with the code under test.
struct ReferenceWalk {
  const WalkContext& c;

  double Entry(int32_t ix, int32_t iy) const {
    const int32_t row = ((iy >> 5) ^ ix) & 63, column = ((ix >> 5) ^ iy) & 63;
    return c.lattice->v[64 * row + column];
  }
  double Linear(double x, double y) const {
    x = x - std::trunc(x / 65536) * 65536;
    if (x < 0) x = x + 65536;
    y = y - std::trunc(y / 65536) * 65536;
    if (y < 0) y = y + 65536;
    const int32_t ix = int32_t(std::floor(x)), iy = int32_t(std::floor(y));
    const double fx = x - ix, fy = y - iy;
    return (1 - fy) * ((1 - fx) * Entry(ix, iy) + fx * Entry(ix + 1, iy)) +
           fy * ((1 - fx) * Entry(ix, iy + 1) + fx * Entry(ix + 1, iy + 1));
  }
  double Turbulence(double x, double y) const {
    double X = x * double(c.noise_frequency), Y = y * double(c.noise_frequency), amplitude = 0.8, sum = 0;
    for (int32_t i = 0; i < c.complexity; ++i) {
      X = X * 1.79 - 17.3;
      Y = Y * 1.79 + 9.7;
      sum = sum + amplitude * Linear(X, Y);
      amplitude = amplitude * 0.71;
    }
    return sum;
  }
  F2 TurbulenceStep(F2 pos, double phase) const {
    const float px = float(pos.x + phase), py = float(pos.y - phase);
    const double t0 = Turbulence(px, py);
    return {float(Turbulence(px + 0.5, py) - t0), float(Turbulence(px, py + 0.5) - t0)};
  }
  int Alpha(double x, double y) const {
    PF_SampPB pb{};
    pb.src = c.input;
    PF_Pixel p{};
    c.utils->subpixel_sample(nullptr, PF_Fixed(x), PF_Fixed(y), &pb, &p);
    return p.alpha;
  }
  F2 Obstacle(F2 pos) const {
    const double rf = std::trunc(double(c.scale) * 65536);
    const double X = std::trunc(pos.x * rf), Y = std::trunc(pos.y * rf), D = 2 * rf;
    return {float(Alpha(X - D, Y) - Alpha(X + D, Y)), float(Alpha(X, Y - D) - Alpha(X, Y + D))};
  }
  F2 Unit(F2 v) const {
    const double squared = double(v.x) * v.x + double(v.y) * v.y;
    if (squared < 0.00001) return {0, 1};
    const double length = c.utils->ansi.sqrt(squared);
    return {float(v.x / length), float(v.y / length)};
  }
  F2 Base(F2 pos, const BoltRecord& r) const {
    switch (c.lightning_type) {
      case 1:
        return Unit({c.target_x - c.origin_x, c.target_y - c.origin_y});
      case 2:
        return Unit({c.target_x - pos.x, c.target_y - pos.y});
      case 3:
        return Unit({r.target_x - c.origin_x, r.target_y - c.origin_y});
      case 4:
        return Unit({r.target_x - pos.x, r.target_y - pos.y});
      case 6:
        return Unit({pos.x - c.origin_x, pos.y - c.origin_y});
      case 7:
        return Unit({pos.x - r.start_x, pos.y - r.start_y});
      case 8:
        return {0, 1};
      default:
        return Unit(pos);
    }
  }
  static double Squared(F2 d) { return double(d.x) * d.x + double(d.y) * d.y; }
  bool Finished(F2 pos, const BoltRecord& r) const {
    if (pos.x < -16 || pos.x > c.frame_width + 16.0 || pos.y < -16 || pos.y > c.frame_height + 16.0) return true;
    const int type = c.lightning_type;
    if (type == 2 || type == 4) return Squared({pos.x - r.target_x, pos.y - r.target_y}) < 4;
    if (type == 6 || type == 7)
      return Squared({pos.x - c.origin_x, pos.y - c.origin_y}) >
             Squared({c.target_x - c.origin_x, c.target_y - c.origin_y});
    return false;
  }

  // By value: forks are appended to the queue that holds the record.
  std::vector<PathPoint> Walk(const BoltRecord record, std::vector<BoltRecord>& queue) const {
    BoltRecord w = record;
    const bool turbulence_on = c.turbulence_gain != 0;
    const bool obstacle_on = c.obstacle_gain != 0 && !(record.generation >= 1 && (c.walk_flags & 4));
    const bool decay_on = !(record.generation < 1 && (c.walk_flags & 2));
    const bool steer = turbulence_on || obstacle_on;
    bool stop = false;
    double fork_phase = record.phase + 373.7;
    std::vector<PathPoint> path{{record.start_x, record.start_y, float(record.strength)}};
    F2 pos{record.start_x, record.start_y};
    F2 dir = c.lightning_type == 6 || c.lightning_type == 7 ? Unit(TurbulenceStep(pos, w.phase)) : Base(pos, w);
    double K = 0;
    int32_t fork_counter = 0;
    for (;;) {
      pos = {pos.x + dir.x, pos.y + dir.y};
      if (path.size() < 4799)
        path.push_back({pos.x, pos.y, float(w.strength)});
      else
        stop = true;
      if (Finished(pos, w)) break;
      const F2 base = Base(pos, w);
      if (steer) {
        F2 t{0, 0}, a{0, 0};
        if (turbulence_on) {
          const F2 g = TurbulenceStep(pos, w.phase);
          t = {g.x * c.turbulence_gain, g.y * c.turbulence_gain};
        }
        if (obstacle_on) {
          const F2 g = Obstacle(pos);
          a = {g.x * c.obstacle_gain, g.y * c.obstacle_gain};
        }
        F2 v{t.x + a.x, t.y + a.y};
        v = {v.x + base.x, v.y + base.y};
        if (K > 0) v = {v.x + float(base.x * K), v.y + float(base.y * K)};
        F2 nd = Unit(v);
        const double dot = double(base.x) * nd.x + double(base.y) * nd.y;
        const double k2 = (1 - dot) * 0.1 + K;
        if (dot > 0) {
          K = 0.9 * k2 - 0.1 * (dot * dot);
          if (K < 0) K = 0;
        } else {
          K = 2 * k2;
          if (K > c.termination_threshold) stop = true;
        }
        if (c.lightning_type == 4) {
          bool reaim = false;
          if (Squared(a) <= 0.1) {
            reaim = dot < 0;
          } else {
            const F2 na = Unit(a);
            const double d2 = double(base.x) * na.x + double(base.y) * na.y;
            if (d2 < 0) {
              nd = {base.x - float(2 * d2 * na.x), base.y - float(2 * d2 * na.y)};
              reaim = true;
            }
          }
          if (reaim) {
            w.start_x = pos.x;
            w.start_y = pos.y;
            K = 0;
            const F2 reach{nd.x * 10000.0f, nd.y * 10000.0f};
            w.target_x = pos.x + reach.x;
            w.target_y = pos.y + reach.y;
          }
        }
        if (fork_counter > c.min_fork_distance && dot < c.fork_threshold) {
          BoltRecord f = w;
          f.generation = w.generation + 1;
          f.phase = fork_phase;
          fork_phase = fork_phase + 715.3;
          if (fork_phase > 40000) fork_phase = fork_phase - 40000;
          f.start_x = pos.x;
          f.start_y = pos.y;
          double s = Linear(pos.x, pos.y) * c.fork_variation + c.fork_strength;
          s = std::fmin(std::fmax(s, 0.0), 1.0);
          f.strength = s * w.strength;
          if (c.lightning_type == 3) {
            const F2 reach{nd.x * 400.0f, nd.y * 400.0f};
            f.target_x = c.target_x + reach.x;
            f.target_y = c.target_y + reach.y;
          }
          w.strength = w.strength - c.fork_drain * f.strength;
          if (w.strength < 0.01) stop = true;
          if (f.strength > 0.01 && queue.size() < 100) queue.push_back(f);
          fork_counter = 0;
        }
        fork_counter = fork_counter + 1;
        dir = nd;
      }
      if (decay_on) {
        w.strength = w.strength - c.decay_step;
        if (w.strength < 0.01) break;
      }
      if (stop) break;
    }
    return path;
  }
};

// A frame with two soft-edged opaque discs in the bolts' way, sampled at the
// resolution R: input pixel (x, y) shows walk-space point (x / R, y / R).
constexpr A_long kWidth = 160, kHeight = 120;

void PaintObstacles(ombrix::World& in, double R) {
  struct Disc {
    double x, y, r;
  } const discs[] = {{74, 50, 14}, {110, 80, 10}, {40, 90, 12}};
  for (A_long y = 0; y < in.height(); ++y)
    for (A_long x = 0; x < in.width(); ++x) {
      double alpha = 0;
      for (const Disc& d : discs) {
        const double edge = d.r - std::hypot(x / R - d.x, y / R - d.y);
        alpha = std::fmax(alpha, std::fmin(std::fmax(edge / 6, 0.0), 1.0));
      }
      in.At(x, y) = PF_Pixel{A_u_char(alpha * 255), 0, 0, 0};
    }
}

bool Same(float a, float b) { return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b); }
bool Same(double a, double b) { return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b); }

std::string Show(const PathPoint& p) {
  char text[96];
  std::snprintf(text, sizeof text, "(%.9g, %.9g, %.9g)", p.x, p.y, p.strength);
  return text;
}

std::string Show(const BoltRecord& r) {
  char text[200];
  std::snprintf(text, sizeof text, "{gen %d, phase %.17g, strength %.17g, start (%.9g, %.9g), target (%.9g, %.9g)}",
                r.generation, r.phase, r.strength, r.start_x, r.start_y, r.target_x, r.target_y);
  return text;
}

// Both queues walked in order; the first bolt record or path point that differs.
::testing::AssertionResult SameWalks(const std::vector<BoltRecord>& codeQueue,
                                     const std::vector<std::vector<PathPoint>>& codePaths,
                                     const std::vector<BoltRecord>& refQueue,
                                     const std::vector<std::vector<PathPoint>>& refPaths) {
  for (size_t i = 0; i < codeQueue.size() && i < refQueue.size(); ++i) {
    const BoltRecord &a = codeQueue[i], &b = refQueue[i];
    if (a.generation != b.generation || !Same(a.phase, b.phase) || !Same(a.strength, b.strength) ||
        !Same(a.start_x, b.start_x) || !Same(a.start_y, b.start_y) || !Same(a.target_x, b.target_x) ||
        !Same(a.target_y, b.target_y))
      return ::testing::AssertionFailure() << "bolt " << i << " record: walk " << Show(a) << ", reference " << Show(b);
    const auto &p = codePaths[i], &q = refPaths[i];
    for (size_t k = 0; k < p.size() && k < q.size(); ++k)
      if (!Same(p[k].x, q[k].x) || !Same(p[k].y, q[k].y) || !Same(p[k].strength, q[k].strength))
        return ::testing::AssertionFailure()
               << "bolt " << i << " step " << k << ": walk " << Show(p[k]) << ", reference " << Show(q[k]);
    if (p.size() != q.size())
      return ::testing::AssertionFailure()
             << "bolt " << i << ": walk has " << p.size() << " points, reference " << q.size();
  }
  if (codeQueue.size() != refQueue.size())
    return ::testing::AssertionFailure() << "walk queued " << codeQueue.size() << " bolts, reference "
                                         << refQueue.size();
  return ::testing::AssertionSuccess() << codeQueue.size() << " bolts";
}

struct Case {
  int32_t type;
  double R;
};

void PrintTo(const Case& k, std::ostream* os) { *os << "type " << k.type << ", R " << k.R; }

class WalkReference : public ::testing::TestWithParam<Case> {};

TEST_P(WalkReference, PathsAndForksMatchBitForBit) {
  const Case k = GetParam();
  lightning_test::Scene s(kWidth, kHeight, 7.3);
  ombrix::World input(A_long(kWidth * k.R), A_long(kHeight * k.R));
  PaintObstacles(input, k.R);
  WalkContext& c = s.c;
  c.input = &input.pf();
  c.scale = float(k.R);
  c.lightning_type = k.type;
  c.obstacle_gain = 1.5f * 0.02f;         // Alpha Obstacle 1.5
  c.fork_threshold = float(2 * 0.9 - 1);  // Forking 90 %
  c.min_fork_distance = 16.0f;
  c.fork_drain = 0.05f;
  if (k.type == lightning::kStrike || k.type == lightning::kBouncey) {
    c.target_x = 0.7f * kWidth;
    c.target_y = 0.8f * kHeight;
  }
  if (k.type == lightning::kOmni || k.type == lightning::kAnywhere) {
    c.origin_x = 0.5f * kWidth;
    c.origin_y = 0.5f * kHeight;
    c.target_x = 0.5f * kWidth;
    c.target_y = 0.05f * kHeight;
  }

  std::vector<BoltRecord> codeQueue, refQueue{s.Main()};
  std::vector<std::vector<PathPoint>> codePaths, refPaths;
  {
    lightning::BoltQueue q;
    ASSERT_TRUE(lightning::CreateQueue(c.utils, &q));
    lightning::AppendRecord(&q, s.Main());
    for (int32_t i = 0; i < q.count; ++i) codePaths.push_back(lightning_test::Walk(q.records[i], c, &q).points);
    codeQueue.assign(q.records, q.records + q.count);
    lightning::FreeQueue(c.utils, &q);
  }
  const ReferenceWalk reference{c};
  for (size_t i = 0; i < refQueue.size(); ++i) refPaths.push_back(reference.Walk(refQueue[i], refQueue));

  // The scene must fork at least once for the records to be compared.
  EXPECT_GE(refQueue.size(), 2u);
  EXPECT_TRUE(SameWalks(codeQueue, codePaths, refQueue, refPaths));
}

std::vector<Case> AllCases() {
  std::vector<Case> cases;
  for (int32_t type : {1, 2, 3, 4, 6, 7, 8})
    for (double R : {1.0, 0.5}) cases.push_back({type, R});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(TypesAndResolutions, WalkReference, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return "Type" + std::to_string(info.param.type) + (info.param.R == 1.0 ? "Full" : "Half");
                         });

}  // namespace
