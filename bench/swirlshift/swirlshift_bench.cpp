// Swirlshift through the host at 1920x1080 with default parameters, each type
// with Low and High antialiasing, in megapixels per second on one thread and
// on all cores (argument "threads": 1, or 0 for all), beside libvips' perlin
// noise of the same size computed into memory in the same run.
#include <ombrix/host/host.h>

#include <benchmark/benchmark.h>

#include "common/effect_bench.h"

#ifdef OMBRIX_BENCH_VIPS
#include "common/vips_bench.h"
#endif

#include <string>

namespace {

using namespace effect_bench;

void Swirlshift(benchmark::State& state, A_long type, A_long antialiasing) {
  EffectBench b("swirlshift.aex", int(state.range(0)));
  b.instance.SetValue(1, Scalar(type));
  b.instance.SetValue(7, Scalar(antialiasing));
  // An opaque colour gradient, so the samplers do their full work.
  for (A_long y = 0; y < kHeight; ++y)
    for (A_long x = 0; x < kWidth; ++x)
      b.in.At(x, y) = PF_Pixel{255, uint8_t(x * 255 / kWidth), uint8_t(y * 255 / kHeight), uint8_t((x ^ y) & 255)};
  for (auto _ : state)
    if (!b.Render(state)) break;
  SetRate(state);
}

#define SWIRLSHIFT_TYPE(value, name)                                                         \
  void BM_Swirlshift_##name##_Low(benchmark::State& state) { Swirlshift(state, value, 1); }  \
  void BM_Swirlshift_##name##_High(benchmark::State& state) { Swirlshift(state, value, 2); } \
  BENCHMARK(BM_Swirlshift_##name##_Low)                                                      \
      ->Arg(1)                                                                               \
      ->Arg(0)                                                                               \
      ->ArgName("threads")                                                                   \
      ->UseRealTime()                                                                        \
      ->Unit(benchmark::kMillisecond);                                                       \
  BENCHMARK(BM_Swirlshift_##name##_High)                                                     \
      ->Arg(1)                                                                               \
      ->Arg(0)                                                                               \
      ->ArgName("threads")                                                                   \
      ->UseRealTime()                                                                        \
      ->Unit(benchmark::kMillisecond)

SWIRLSHIFT_TYPE(1, Turbulent);
SWIRLSHIFT_TYPE(2, Bulge);
SWIRLSHIFT_TYPE(3, Twist);
SWIRLSHIFT_TYPE(5, TurbulentHQ);
SWIRLSHIFT_TYPE(6, BulgeHQ);
SWIRLSHIFT_TYPE(7, TwistHQ);

#ifdef OMBRIX_BENCH_VIPS
// vips_perlin at 1920x1080 (default 256-pixel cells), one 8-bit band,
// rendered into memory; libvips' own worker threads set to 1 or all cores.
void BM_VipsPerlin(benchmark::State& state) {
  VipsPeer(state, "swirlshift_bench", "vips_perlin",
           [](VipsImage** out) { return vips_perlin(out, kWidth, kHeight, "uchar", TRUE, nullptr); });
}
BENCHMARK(BM_VipsPerlin)->Arg(1)->Arg(0)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
#endif

}  // namespace

BENCHMARK_MAIN();
