// Mistform through the host at 1920x1080 with default parameters, each of the
// eighteen types, in megapixels per second on one thread and on all cores
// (argument "threads": 1, or 0 for all), beside a six-octave fractal of
// libvips' perlin noise of the same size computed into memory in the same run.
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
// A six-octave fractal of vips_perlin at 1920x1080: cells of 256, 128, ... 8
// pixels, each octave at half the amplitude of the one before, summed in
// float and brought to one 8-bit band; libvips' own worker threads set to 1
// or all cores. The same work as Mistform's default six octaves.
int VipsPerlinFractal(VipsImage** out) {
  constexpr int kOctaves = 6;
  VipsImage* octaves[kOctaves] = {};
  int err = 0;
  for (int k = 0; k < kOctaves && err == 0; ++k) {
    VipsImage* noise = nullptr;
    err = vips_perlin(&noise, kWidth, kHeight, "cell_size", 256 >> k, "seed", k, nullptr);
    if (err == 0) err = vips_linear1(noise, &octaves[k], 1.0 / double(1 << k), 0.0, nullptr);
    if (noise) g_object_unref(noise);
  }
  VipsImage* sum = nullptr;
  if (err == 0) err = vips_sum(octaves, &sum, kOctaves, nullptr);
  for (VipsImage* o : octaves)
    if (o) g_object_unref(o);
  if (err == 0) err = vips_linear1(sum, out, 64.0, 128.0, "uchar", TRUE, nullptr);
  if (sum) g_object_unref(sum);
  return err;
}

void BM_VipsPerlinFractal(benchmark::State& state) {
  VipsPeer(state, "mistform_bench", "vips_perlin fractal", VipsPerlinFractal);
}
BENCHMARK(BM_VipsPerlinFractal)->Arg(1)->Arg(0)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
#endif

}  // namespace

BENCHMARK_MAIN();
