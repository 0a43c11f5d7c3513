// Fourtint through the host at 1920x1080, plain and with jitter, in megapixels
// per second, beside ImageMagick's Shepards sparse-colour interpolation of the
// same four points (when built with Magick++).
// Argument: thread count (1, or 0 for all cores).
#include <ombrix/host/host.h>

#include <benchmark/benchmark.h>

#include "common/effect_bench.h"

#ifdef OMBRIX_BENCH_MAGICK
#include <Magick++.h>
#endif

#include <string>

namespace {

using namespace effect_bench;

// The default corners: 10 % and 90 % of each side.
#ifdef OMBRIX_BENCH_MAGICK
// The peer's four points and colours.
constexpr double kPointX[4] = {0.1 * kWidth, 0.9 * kWidth, 0.1 * kWidth, 0.9 * kWidth};
constexpr double kPointY[4] = {0.1 * kHeight, 0.1 * kHeight, 0.9 * kHeight, 0.9 * kHeight};
constexpr PF_Pixel kColours[4] = {{255, 255, 255, 0}, {255, 0, 255, 0}, {255, 255, 0, 255}, {255, 0, 0, 255}};
#endif

void Fourtint(benchmark::State& state, double jitter_percent) {
  EffectBench b("fourtint.aex", int(state.range(0)));
  b.instance.SetValue(10, Scalar(A_long(jitter_percent * 65536)));
  for (A_long y = 0; y < kHeight; ++y)
    for (A_long x = 0; x < kWidth; ++x) b.in.At(x, y) = PF_Pixel{255, 128, 128, 128};
  A_long frame = 0;
  for (auto _ : state) {
    // A new frame time each round, so the jitter table is rebuilt as in playback.
    if (!b.Render(state, 100 * frame++)) break;
  }
  SetRate(state);
}

void BM_FourtintPlain(benchmark::State& state) { Fourtint(state, 0); }
void BM_FourtintJitter(benchmark::State& state) { Fourtint(state, 100); }

BENCHMARK(BM_FourtintPlain)->Arg(1)->Arg(0)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FourtintJitter)->Arg(1)->Arg(0)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);

#ifdef OMBRIX_BENCH_MAGICK
// Inverse-square (Shepards) interpolation of the four coloured points over a
// new 1920x1080 image, ImageMagick's own threads limited like ours.
void BM_MagickShepards(benchmark::State& state) {
  Magick::InitializeMagick(nullptr);
  const int threads = int(state.range(0));
  // ImageMagick's own default (all cores), read before any run limits it.
  static const MagickCore::MagickSizeType all_cores = MagickCore::GetMagickResourceLimit(MagickCore::ThreadResource);
  MagickCore::SetMagickResourceLimit(MagickCore::ThreadResource,
                                     threads > 0 ? MagickCore::MagickSizeType(threads) : all_cores);
  double args[4 * 5];
  for (int k = 0; k < 4; ++k) {
    args[5 * k + 0] = kPointX[k];
    args[5 * k + 1] = kPointY[k];
    args[5 * k + 2] = kColours[k].red / 255.0;
    args[5 * k + 3] = kColours[k].green / 255.0;
    args[5 * k + 4] = kColours[k].blue / 255.0;
  }
  const auto channels =
      MagickCore::ChannelType(MagickCore::RedChannel | MagickCore::GreenChannel | MagickCore::BlueChannel);
  for (auto _ : state) {
    Magick::Image image(Magick::Geometry(kWidth, kHeight), Magick::Color("gray50"));
    image.sparseColor(channels, MagickCore::ShepardsColorInterpolate, 20, args);
    benchmark::DoNotOptimize(image.constImageInfo());
  }
  SetRate(state);
}
BENCHMARK(BM_MagickShepards)->Arg(1)->Arg(0)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
#endif

}  // namespace

BENCHMARK_MAIN();
