// Grid through the host at 1920x1080, sharp and feathered, in the solid colour
// and cut from the layer, in megapixels per second.
// Argument: thread count (1, or 0 for all cores).
#include <ombrix/host/host.h>

#include <benchmark/benchmark.h>

#include "common/effect_bench.h"

#include <string>

namespace {

using namespace effect_bench;

enum { kGridsizeFrom = 2, kWidthParam = 4, kBorder = 6, kFeatherWidth = 7, kFeatherHeight = 8, kUseSolid = 9 };

void Grid(benchmark::State& state, bool feathered, bool solid) {
  EffectBench b("grid.aex", int(state.range(0)));
  b.instance.SetValue(kGridsizeFrom, Scalar(2));
  b.instance.SetValue(kWidthParam, Scalar(48 * 65536));
  b.instance.SetValue(kBorder, Scalar(6 * 65536));
  b.instance.SetValue(kFeatherWidth, Scalar(feathered ? 4 * 65536 : 0));
  b.instance.SetValue(kFeatherHeight, Scalar(feathered ? 4 * 65536 : 0));
  b.instance.SetValue(kUseSolid, Scalar(solid ? 1 : 0));
  for (A_long y = 0; y < kHeight; ++y)
    for (A_long x = 0; x < kWidth; ++x) b.in.At(x, y) = PF_Pixel{255, A_u_char(x), A_u_char(y), 90};
  for (auto _ : state)
    if (!b.Render(state)) break;
  SetRate(state);
}

void BM_GridSharp(benchmark::State& state) { Grid(state, false, true); }
void BM_GridFeathered(benchmark::State& state) { Grid(state, true, true); }
void BM_GridSharpLayer(benchmark::State& state) { Grid(state, false, false); }
void BM_GridFeatheredLayer(benchmark::State& state) { Grid(state, true, false); }

BENCHMARK(BM_GridSharp)->Arg(1)->Arg(0)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GridFeathered)->Arg(1)->Arg(0)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GridSharpLayer)->Arg(1)->Arg(0)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GridFeatheredLayer)->Arg(1)->Arg(0)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
