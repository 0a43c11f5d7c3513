// Flatwash through the host at 1920x1080 (pure colour, 50 % blend, 100 %
// pass-through), in megapixels per second, beside memcpy of the same buffer.
// Argument: thread count (1, or 0 for all cores).
#include <ombrix/host/host.h>

#include <benchmark/benchmark.h>

#include "common/effect_bench.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace effect_bench;

void FillPattern(ombrix::World& w) {
  uint32_t s = 1;
  for (A_long y = 0; y < w.height(); ++y) {
    for (A_long x = 0; x < w.width(); ++x) {
      s = s * 1103515245u + 12345u;
      std::memcpy(&w.At(x, y), &s, 4);
    }
  }
}

void Flatwash(benchmark::State& state, A_long blend) {
  EffectBench b("flatwash.aex", int(state.range(0)));
  b.instance.SetValue(1, Colour(PF_Pixel{255, 40, 120, 200}));
  b.instance.SetValue(2, Scalar(blend));
  FillPattern(b.in);
  for (auto _ : state)
    if (!b.Render(state)) break;
  SetRate(state);
}

void BM_FlatwashPure(benchmark::State& state) { Flatwash(state, 0); }
void BM_FlatwashHalf(benchmark::State& state) { Flatwash(state, 0x8000); }
void BM_FlatwashFull(benchmark::State& state) { Flatwash(state, 0x10000); }

// The floor for any per-pixel pass: one copy of the same 8 MB buffer.
void BM_Memcpy(benchmark::State& state) {
  std::vector<uint8_t> src(size_t(kWidth) * kHeight * 4, 7), dst(src.size());
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), src.size());
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  SetRate(state);
}

BENCHMARK(BM_FlatwashPure)->Arg(1)->Arg(0)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FlatwashHalf)->Arg(1)->Arg(0)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FlatwashFull)->Arg(1)->Arg(0)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
