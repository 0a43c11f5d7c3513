// Mistform through the host at 1920x1080 with default parameters, each of the
// eighteen types, in megapixels per second on one thread and on all cores
// (argument "threads": 1, or 0 for all), beside libvips' perlin noise of the
// same size computed into memory in the same run.
#include <ombrix/host/host.h>

#include <benchmark/benchmark.h>

#include "common/effect_bench.h"

#ifdef OMBRIX_BENCH_VIPS
#include "common/vips_bench.h"
#endif

#include <string>

namespace {

using namespace effect_bench;

void Mistform(benchmark::State& state, A_long type) {
  EffectBench b("mistform.aex", int(state.range(0)));
  b.instance.SetValue(1, Scalar(type));
  for (A_long y = 0; y < kHeight; ++y)
    for (A_long x = 0; x < kWidth; ++x) b.in.At(x, y) = PF_Pixel{255, 0, 0, 0};
  for (auto _ : state)
    if (!b.Render(state)) break;
  SetRate(state);
}

#define MISTFORM_TYPE(value, name)                                                       \
  void BM_Mistform_##value##_##name(benchmark::State& state) { Mistform(state, value); } \
  BENCHMARK(BM_Mistform_##value##_##name)                                                \
      ->Arg(1)                                                                           \
      ->Arg(0)                                                                           \
      ->ArgName("threads")                                                               \
      ->UseRealTime()                                                                    \
      ->Unit(benchmark::kMillisecond)

MISTFORM_TYPE(2, Linear);
MISTFORM_TYPE(3, Smooth);
MISTFORM_TYPE(5, Soft);
MISTFORM_TYPE(6, Standard);
MISTFORM_TYPE(7, Sharp);
MISTFORM_TYPE(9, DynamicLinear);
MISTFORM_TYPE(10, LinearProgressive);
MISTFORM_TYPE(11, LinearTwist);
MISTFORM_TYPE(12, DynamicSmooth);
MISTFORM_TYPE(13, SmoothProgressive);
MISTFORM_TYPE(14, SmoothTwist);
MISTFORM_TYPE(16, Max);
MISTFORM_TYPE(17, Smeary);
MISTFORM_TYPE(18, Swirly);
MISTFORM_TYPE(19, Rocky);
MISTFORM_TYPE(20, Cloudy);
MISTFORM_TYPE(21, Terrain);
MISTFORM_TYPE(22, Subscale);

#ifdef OMBRIX_BENCH_VIPS
// vips_perlin at 1920x1080 (default 256-pixel cells), one 8-bit band,
// rendered into memory; libvips' own worker threads set to 1 or all cores.
void BM_VipsPerlin(benchmark::State& state) {
  VipsPeer(state, "mistform_bench", "vips_perlin",
           [](VipsImage** out) { return vips_perlin(out, kWidth, kHeight, "uchar", TRUE, nullptr); });
}
BENCHMARK(BM_VipsPerlin)->Arg(1)->Arg(0)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
#endif

}  // namespace

BENCHMARK_MAIN();
