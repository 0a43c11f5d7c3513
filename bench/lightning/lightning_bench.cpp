// Lightning at 1920x1080: the default bolt and a fork-heavy one (Forking
// 100 %, Complexity 8), as whole renders through the host (milliseconds per
// frame) and as walks alone (points walked per second). The render counter
// "points" is the number of points the frame's bolts walk, from the same
// walk run once beforehand.
#include "batch.h"
#include "bolt.h"

#include <ombrix/host/host.h>
#include <ombrix/host/pixel_ops.h>

#include <benchmark/benchmark.h>

#include "common/effect_bench.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace effect_bench;

struct Config {
  A_long forking;  // 16.16
  uint32_t complexity;
};
constexpr Config kDefault{0x4000, 6};
constexpr Config kForkHeavy{0x10000, 8};

PF_Err Sample(PF_ProgPtr, PF_Fixed x, PF_Fixed y, const PF_SampPB* pb, PF_Pixel* out) {
  *out = ombrix::SubpixelSample(*pb->src, x, y);
  return PF_Err_NONE;
}

// The host library's handles, sampler and sqrt, outside any command.
const PF_UtilCallbacks* Utils() {
  static const PF_UtilCallbacks u = [] {
    PF_UtilCallbacks t{};
    t.subpixel_sample = Sample;
    t.host_new_handle = [](A_u_long size) { return ombrix::NewHandle(size); };
    t.host_lock_handle = [](PF_Handle h) -> void* { return *h; };
    t.host_unlock_handle = [](PF_Handle) {};
    t.host_dispose_handle = [](PF_Handle h) { ombrix::DisposeHandle(h); };
    t.ansi.sqrt = [](PF_FpLong v) { return std::sqrt(v); };
    return t;
  }();
  return &u;
}

// The render's walks for the default parameters and `cfg`, each path handed
// to path(c, p) before it is freed; returns the number of points stored.
template <class Path>
int64_t WalkFrame(const Config& cfg, lightning::BoltLattice& lattice, const PF_EffectWorld& input, Path&& path) {
  lightning::BuildBoltLattice(lattice, 0.0);
  lightning::WalkContext c{};
  c.origin_x = 0.45f * kWidth;
  c.origin_y = 0.05f * kHeight;
  c.target_x = 0.50f * kWidth;
  c.target_y = 0.95f * kHeight;
  c.turbulence_gain = 100.0f;
  c.noise_frequency = 0.003f;
  c.fractal_model = 1;
  c.complexity = int32_t(cfg.complexity);
  c.fork_threshold = float(2.0 * (cfg.forking / 65536.0) - 1.0);
  c.min_fork_distance = 64.0f;
  c.walk_flags = lightning::kFlagMainDecayOff;
  c.fork_strength = 0.7f;
  c.fork_variation = 0.25f;
  c.termination_threshold = 100.0f;
  c.decay_step = (0x4CCC / 65536.0) * 0.005;
  c.lightning_type = lightning::kDirection;
  c.frame_width = float(kWidth);
  c.frame_height = float(kHeight);
  c.scale = 1.0f;
  c.input = const_cast<PF_EffectWorld*>(&input);
  c.utils = Utils();
  c.lattice = &lattice;
  c.output = const_cast<PF_EffectWorld*>(&input);
  c.core_radius = 2.0f;
  c.core_amount = float(0.75 * 0.75 * 210.0);
  c.core_colour = PF_Pixel{210, 255, 255, 255};
  c.glow_radius = 50.0f;
  c.glow_amount = float(0.5 * 0.5 * 255.0);
  c.glow_colour = PF_Pixel{255, 50, 50, 255};
  lightning::BoltQueue queue;
  lightning::CreateQueue(c.utils, &queue);
  lightning::BoltRecord main{0, lightning::kMainPhase, 1.0, c.origin_x, c.origin_y, c.target_x, c.target_y};
  lightning::AppendRecord(&queue, main);
  int64_t points = 0;
  for (int32_t i = 0; i < queue.count; ++i) {
    lightning::BoltPath p;
    if (lightning::WalkBolt(queue.records[i], c, &queue, &p)) {
      points += p.count;
      path(c, p);
      lightning::FreePath(c.utils, &p);
    }
  }
  lightning::FreeQueue(c.utils, &queue);
  return points;
}

void Walks(benchmark::State& state, Config cfg) {
  auto lattice = std::make_unique<lightning::BoltLattice>();
  ombrix::World input(kWidth, kHeight);
  int64_t points = 0;
  for (auto _ : state) points += WalkFrame(cfg, *lattice, input.pf(), [](auto&, auto&) {});
  state.counters["points_per_s"] = benchmark::Counter(double(points), benchmark::Counter::kIsRate);
  state.counters["points"] = double(points) / double(state.iterations());
}

void Render(benchmark::State& state, Config cfg) {
  const uint32_t words[9] = {1, cfg.complexity, 64, 100, 0, 1, 0, 0x3F333333u, 0x3E800000u};
  std::vector<uint8_t> record(sizeof words);
  std::memcpy(record.data(), words, sizeof words);
  EffectBench b("lightning.aex", int(state.range(0)), record);
  b.instance.SetValue(13, Scalar(cfg.forking));
  auto lattice = std::make_unique<lightning::BoltLattice>();
  const int64_t points = WalkFrame(cfg, *lattice, b.in.pf(), [](auto&, auto&) {});
  for (auto _ : state)
    if (!b.Render(state)) break;
  state.counters["points"] = double(points);
  state.counters["points_per_s"] =
      benchmark::Counter(double(points) * double(state.iterations()), benchmark::Counter::kIsRate);
}

// The frame's discs, stamped one by one on this thread into a cleared frame
// (`stamp`), or the clearing alone: the render's time besides the walk.
void Stamps(benchmark::State& state, Config cfg, bool stamp) {
  auto lattice = std::make_unique<lightning::BoltLattice>();
  ombrix::World frame(kWidth, kHeight);
  std::vector<std::pair<lightning::Disc, PF_Pixel>> discs;
  WalkFrame(cfg, *lattice, frame.pf(), [&](const lightning::WalkContext& c, const lightning::BoltPath& p) {
    auto keep = [&](bool made, const lightning::Disc& d, PF_Pixel colour) {
      if (made) discs.emplace_back(d, colour);
    };
    lightning::PlaceCoreDiscs(p, c, [&](float cx, float cy, float r, float a) {
      lightning::Disc d;
      keep(lightning::PrepareCoreDisc(cx, cy, r, a, frame.pf(), &d), d, c.core_colour);
    });
    lightning::PlaceGlowDiscs(p, c, [&](float cx, float cy, float r, float a) {
      lightning::Disc d;
      keep(lightning::PrepareGlowDisc(cx, cy, r, a, frame.pf(), &d), d, c.glow_colour);
    });
  });
  int64_t pixels = 0;
  for (const auto& [d, colour] : discs) pixels += int64_t(d.box.x1 - d.box.x0 + 1) * (d.box.y1 - d.box.y0 + 1);
  for (auto _ : state) {
    std::memset(frame.pf().data, 0, size_t(frame.rowbytes()) * size_t(kHeight));
    if (stamp)
      for (const auto& [d, colour] : discs) lightning::StampDisc(d, colour, frame.pf());
    benchmark::DoNotOptimize(frame.pf().data);
  }
  state.counters["discs"] = double(discs.size());
  state.counters["box_pixels"] = double(pixels);
}

void BM_LightningRender_Default(benchmark::State& state) { Render(state, kDefault); }
void BM_LightningClear(benchmark::State& state) { Stamps(state, kDefault, false); }
void BM_LightningStampSerial_Default(benchmark::State& state) { Stamps(state, kDefault, true); }
void BM_LightningStampSerial_ForkHeavy(benchmark::State& state) { Stamps(state, kForkHeavy, true); }
void BM_LightningRender_ForkHeavy(benchmark::State& state) { Render(state, kForkHeavy); }
void BM_LightningWalk_Default(benchmark::State& state) { Walks(state, kDefault); }
void BM_LightningWalk_ForkHeavy(benchmark::State& state) { Walks(state, kForkHeavy); }

BENCHMARK(BM_LightningRender_Default)->Arg(1)->Arg(0)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LightningRender_ForkHeavy)
    ->Arg(1)
    ->Arg(0)
    ->ArgName("threads")
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LightningWalk_Default)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LightningWalk_ForkHeavy)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LightningClear)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LightningStampSerial_Default)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LightningStampSerial_ForkHeavy)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
