// Lightning at 1920x1080: the default bolt and a fork-heavy one (Forking
// 100 %, Complexity 8), as whole renders through the host (milliseconds per
// frame) and as walks alone (points walked per second). The render counter
// "points" is the number of points the frame's bolts walk, from the same
// walk run once beforehand.
#include "bolt.h"

#include <ombrix/host/host.h>
#include <ombrix/host/pixel_ops.h>

#include <benchmark/benchmark.h>

#include "common/effect_bench.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
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

// The render's walks for the default parameters and `cfg`, without drawing;
// returns the number of points stored.
int64_t WalkFrame(const Config& cfg, lightning::BoltLattice& lattice, const PF_EffectWorld& input) {
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
  lightning::BoltQueue queue;
  lightning::CreateQueue(c.utils, &queue);
  lightning::BoltRecord main{0, lightning::kMainPhase, 1.0, c.origin_x, c.origin_y, c.target_x, c.target_y};
  lightning::AppendRecord(&queue, main);
  int64_t points = 0;
  for (int32_t i = 0; i < queue.count; ++i) {
    lightning::BoltPath path;
    if (lightning::WalkBolt(queue.records[i], c, &queue, &path)) {
      points += path.count;
      lightning::FreePath(c.utils, &path);
    }
  }
  lightning::FreeQueue(c.utils, &queue);
  return points;
}

void Walks(benchmark::State& state, Config cfg) {
  auto lattice = std::make_unique<lightning::BoltLattice>();
  ombrix::World input(kWidth, kHeight);
  int64_t points = 0;
  for (auto _ : state) points += WalkFrame(cfg, *lattice, input.pf());
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
  const int64_t points = WalkFrame(cfg, *lattice, b.in.pf());
  for (auto _ : state)
    if (!b.Render(state)) break;
  state.counters["points"] = double(points);
  state.counters["points_per_s"] =
      benchmark::Counter(double(points) * double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_LightningRender_Default(benchmark::State& state) { Render(state, kDefault); }
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

}  // namespace

BENCHMARK_MAIN();
