// Facetry through the host at 1920x1080 with default parameters (Size 60),
// each of the twelve types, in megapixels per second on one thread and on all
// cores (argument "threads": 1, or 0 for all), beside libvips' worley cell
// noise with 60-pixel cells computed into memory in the same run.
#include <ombrix/host/host.h>

#include <benchmark/benchmark.h>

#include "common/effect_bench.h"

#ifdef OMBRIX_BENCH_VIPS
#include "common/vips_bench.h"
#endif

#include <string>

namespace {

using namespace effect_bench;

void Facetry(benchmark::State& state, A_long type) {
  EffectBench b("facetry.aex", int(state.range(0)));
  b.instance.SetValue(1, Scalar(type));
  // An opaque input with colour, so the crystallize types have something to read.
  for (A_long y = 0; y < kHeight; ++y)
    for (A_long x = 0; x < kWidth; ++x) b.in.At(x, y) = PF_Pixel{255, uint8_t(x), uint8_t(y), uint8_t(x + y)};
  for (auto _ : state)
    if (!b.Render(state)) break;
  SetRate(state);
}

#define FACETRY_TYPE(value, name)                                                      \
  void BM_Facetry_##value##_##name(benchmark::State& state) { Facetry(state, value); } \
  BENCHMARK(BM_Facetry_##value##_##name)                                               \
      ->Arg(1)                                                                         \
      ->Arg(0)                                                                         \
      ->ArgName("threads")                                                             \
      ->UseRealTime()                                                                  \
      ->Unit(benchmark::kMillisecond)

FACETRY_TYPE(1, Bubbles);
FACETRY_TYPE(2, Crystals);
FACETRY_TYPE(3, Plates);
FACETRY_TYPE(4, StaticPlates);
FACETRY_TYPE(5, Crystallize);
FACETRY_TYPE(7, Pillow);
FACETRY_TYPE(8, CrystalsHQ);
FACETRY_TYPE(9, PlatesHQ);
FACETRY_TYPE(10, StaticPlatesHQ);
FACETRY_TYPE(11, CrystallizeHQ);
FACETRY_TYPE(12, MixedCrystalsHQ);
FACETRY_TYPE(13, Tubular);

#ifdef OMBRIX_BENCH_VIPS
// vips_worley at 1920x1080 with 60-pixel cells (Facetry's default Size), one
// float band, rendered into memory; libvips' worker threads set to 1 or all cores.
void BM_VipsWorley(benchmark::State& state) {
  VipsPeer(state, "facetry_bench", "vips_worley",
           [](VipsImage** out) { return vips_worley(out, kWidth, kHeight, "cell_size", 60, nullptr); });
}
BENCHMARK(BM_VipsWorley)->Arg(1)->Arg(0)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
#endif

}  // namespace

BENCHMARK_MAIN();
