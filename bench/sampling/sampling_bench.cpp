// The host's pixel services over a 1920x1080 frame, megapixels per second;
// the samplers in their fast and (plain:1) their plain forms.
#include <ombrix/host/pixel_ops.h>

#include "bench_data.h"

#include <benchmark/benchmark.h>

namespace ombrix::bench {
namespace {

void SetRate(benchmark::State& state, double pixels) {
  state.counters["MP/s"] = benchmark::Counter(pixels * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}

void BM_SubpixelSampleRemap(benchmark::State& state) {
  const Frame& f = TestFrame();
  const auto& mx = MapX();
  const auto& my = MapY();
  std::vector<PF_Pixel> out(f.pixels.size());
  SetReferenceSampling(state.range(1) != 0);
  for (auto _ : state) {
    SplitRows(kHeight, int(state.range(0)), [&](int y0, int y1) {
      for (int y = y0; y < y1; ++y)
        for (int x = 0; x < kWidth; ++x) {
          const size_t i = size_t(y) * kWidth + x;
          out[i] = SubpixelSample(f.world, mx[i], my[i]);
        }
    });
    benchmark::DoNotOptimize(out.data());
  }
  SetReferenceSampling(false);
  SetRate(state, double(kWidth) * kHeight);
}
BENCHMARK(BM_SubpixelSampleRemap)
    ->ArgsProduct({{1, 2}, {0, 1}})
    ->ArgNames({"threads", "plain"})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Area sampling with a one-pixel radius (a 2 x 2 pixel box, 3 x 3 pixels touched).
void BM_AreaSampleRemap(benchmark::State& state) {
  const Frame& f = TestFrame();
  const auto& mx = MapX();
  const auto& my = MapY();
  std::vector<PF_Pixel> out(f.pixels.size());
  SetReferenceSampling(state.range(1) != 0);
  for (auto _ : state) {
    SplitRows(kHeight, int(state.range(0)), [&](int y0, int y1) {
      for (int y = y0; y < y1; ++y)
        for (int x = 0; x < kWidth; ++x) {
          const size_t i = size_t(y) * kWidth + x;
          out[i] = AreaSample(f.world, mx[i], my[i], 0x10000, 0x10000);
        }
    });
    benchmark::DoNotOptimize(out.data());
  }
  SetReferenceSampling(false);
  SetRate(state, double(kWidth) * kHeight);
}
BENCHMARK(BM_AreaSampleRemap)
    ->ArgsProduct({{1, 2}, {0, 1}})
    ->ArgNames({"threads", "plain"})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_HlsRoundTrip(benchmark::State& state) {
  const Frame& f = TestFrame();
  std::vector<PF_Pixel> out(f.pixels.size());
  for (auto _ : state) {
    SplitRows(kHeight, int(state.range(0)), [&](int y0, int y1) {
      for (size_t i = size_t(y0) * kWidth; i < size_t(y1) * kWidth; ++i) {
        PF_Fixed hls[3];
        RgbToHls(f.pixels[i], hls);
        HlsToRgb(hls, out[i]);
      }
    });
    benchmark::DoNotOptimize(out.data());
  }
  SetRate(state, double(kWidth) * kHeight);
}
BENCHMARK(BM_HlsRoundTrip)->Arg(1)->Arg(2)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);

// Downsampling at 1/2 and 1/3 (the box reduction), rate in source megapixels.
void BM_ScaledCopyReduce(benchmark::State& state) {
  const Frame& f = TestFrame();
  const A_long den = A_long(state.range(0));
  PF_EffectWorld dst{};
  dst.width = ScaledSize(kWidth, 1, den);
  dst.height = ScaledSize(kHeight, 1, den);
  dst.rowbytes = dst.width * 4;
  std::vector<PF_Pixel> out(size_t(dst.width) * dst.height);
  dst.data = out.data();
  for (auto _ : state) {
    ScaledCopy(f.world, dst);
    benchmark::DoNotOptimize(out.data());
  }
  SetRate(state, double(kWidth) * kHeight);
}
BENCHMARK(BM_ScaledCopyReduce)->Arg(2)->Arg(3)->ArgName("den")->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ombrix::bench

BENCHMARK_MAIN();
