// Hueswap and Speckhue through the host at 1920x1080, in megapixels per
// second, beside OpenCV converting the same frame to HLS and back (the two
// conversions every changed pixel of these effects costs).
// Argument: thread count (1, or 0 for all cores).
#include <ombrix/host/host.h>

#include <benchmark/benchmark.h>

#include "common/effect_bench.h"

#ifdef OMBRIX_BENCH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

#include <cstring>
#include <string>

namespace {

using namespace effect_bench;

// Opaque, every hue; a third of the frame close to orange so that Hueswap
// changes a good share of it.
void FillPattern(ombrix::World& w) {
  uint32_t s = 1;
  for (A_long y = 0; y < w.height(); ++y) {
    for (A_long x = 0; x < w.width(); ++x) {
      s = s * 1103515245u + 12345u;
      PF_Pixel& p = w.At(x, y);
      p = PF_Pixel{255, uint8_t(s >> 24), uint8_t(s >> 16), uint8_t(s >> 8)};
      if ((x + y) % 3 == 0) p = PF_Pixel{255, uint8_t(220 + (s >> 28)), uint8_t(110 + (s >> 27)), 30};
    }
  }
}

struct Setting {
  int index;
  ombrix::ParamValue value;
};

void Run(benchmark::State& state, const char* plugin, std::initializer_list<Setting> settings) {
  EffectBench b(plugin, int(state.range(0)));
  for (const Setting& s : settings) b.instance.SetValue(s.index, s.value);
  FillPattern(b.in);
  for (auto _ : state)
    if (!b.Render(state)) break;
  SetRate(state);
}

// Hueswap: orange to green, hue tolerance 30 %, in each view and change mode.
void Hueswap(benchmark::State& state, int change_by, bool mask) {
  Run(state, "hueswap.aex",
      {{1, Colour(PF_Pixel{255, 230, 120, 30})},
       {2, Colour(PF_Pixel{255, 40, 200, 90})},
       {3, Scalar(4)},
       {4, Scalar(change_by)},
       {5, Scalar(0x4CCD)},
       {9, Scalar(mask ? 1 : 0)}});
}

void BM_HueswapSetting(benchmark::State& state) { Hueswap(state, 1, false); }
void BM_HueswapTransforming(benchmark::State& state) { Hueswap(state, 2, false); }
void BM_HueswapMask(benchmark::State& state) { Hueswap(state, 1, true); }

// Speckhue: 30 % in hue, lightness and saturation, phase 45 degrees.
void Speckhue(benchmark::State& state, int mode) {
  Run(state, "speckhue.aex",
      {{1, Scalar(mode)},
       {2, Scalar(0x4CCD)},
       {3, Scalar(0x4CCD)},
       {4, Scalar(0x4CCD)},
       {5, Scalar(3 << 16)},
       {6, Scalar(45 << 16)}});
}

void BM_SpeckhueUniform(benchmark::State& state) { Speckhue(state, 1); }
void BM_SpeckhueSquared(benchmark::State& state) { Speckhue(state, 2); }
void BM_SpeckhueGrain(benchmark::State& state) { Speckhue(state, 3); }

#ifdef OMBRIX_BENCH_OPENCV
// The peer: RGB -> HLS -> RGB of the same frame's colour channels.
void BM_OpenCVHlsRoundTrip(benchmark::State& state) {
  cv::setNumThreads(state.range(0) == 0 ? -1 : int(state.range(0)));  // -1: all cores
  ombrix::World in(kWidth, kHeight);
  FillPattern(in);
  cv::Mat rgb(kHeight, kWidth, CV_8UC3);
  for (A_long y = 0; y < kHeight; ++y)
    for (A_long x = 0; x < kWidth; ++x) {
      const PF_Pixel& p = in.At(x, y);
      rgb.at<cv::Vec3b>(y, x) = cv::Vec3b(p.red, p.green, p.blue);
    }
  cv::Mat hls, back;
  for (auto _ : state) {
    cv::cvtColor(rgb, hls, cv::COLOR_RGB2HLS_FULL);
    cv::cvtColor(hls, back, cv::COLOR_HLS2RGB_FULL);
    benchmark::DoNotOptimize(back.data);
  }
  SetRate(state);
}
BENCHMARK(BM_OpenCVHlsRoundTrip)->Arg(1)->Arg(0)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
#endif

BENCHMARK(BM_HueswapSetting)->Arg(1)->Arg(0)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HueswapTransforming)->Arg(1)->Arg(0)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HueswapMask)->Arg(1)->Arg(0)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SpeckhueUniform)->Arg(1)->Arg(0)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SpeckhueSquared)->Arg(1)->Arg(0)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SpeckhueGrain)->Arg(1)->Arg(0)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
