// Floodspill, Lenswarp, Magnify and Lampcast through the host on the test
// card at 1920x1080, in megapixels per second, on one thread and on all
// cores (argument: thread count, 0 for all). Peers, when OpenCV is built in:
// floodFill from the same point with the same tolerance (and with the whole
// frame as its region for the Uniform mode), and remap with the
// forward lens map and the magnifier's map, each computed once. With
// OMBRIX_REFERENCE_PATHS=1 in the environment the host's samplers and the
// plug-ins run their plain forms (the figures before the fast forms).
#include <ombrix/host/host.h>
#include <ombrix/host/image_io.h>
#include <ombrix/host/pixel_ops.h>

#include <benchmark/benchmark.h>

#include "common/effect_bench.h"

#include <cmath>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#if OMBRIX_BENCH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

using namespace effect_bench;

const ombrix::World& Card() {
  static const ombrix::World card = ombrix::MakeTestCard(kWidth, kHeight);
  return card;
}

using Values = std::vector<std::pair<int, ombrix::ParamValue>>;

void Run(benchmark::State& state, const char* name, const Values& values) {
  EffectBench b(std::string(name) + ".aex", int(state.range(0)));
  for (const auto& [index, v] : values) b.instance.SetValue(index, v);
  b.in = Card();
  for (auto _ : state)
    if (!b.Render(state)) break;
  SetRate(state);
}

// The sky of the test card's photo-like panel: a large smooth region.
constexpr double kSeedX = 400, kSeedY = 560;

void BM_FloodspillPaintBucket(benchmark::State& state) {
  Run(state, "floodspill", {{2, Point(kSeedX, kSeedY)}, {3, Scalar(20 << 16)}, {5, Scalar(0)}});
}
void BM_FloodspillBleed4(benchmark::State& state) {
  Run(state, "floodspill", {{2, Point(kSeedX, kSeedY)}, {3, Scalar(20 << 16)}});
}
// The whole frame is one region: the fill's best case.
void BM_FloodspillUniform(benchmark::State& state) {
  Run(state, "floodspill", {{2, Point(kSeedX, kSeedY)}, {3, Scalar(255 << 16)}, {5, Scalar(0)}});
}
void BM_LenswarpForward(benchmark::State& state) { Run(state, "lenswarp", {{1, Scalar(100 << 16)}, {3, Scalar(3)}}); }
void BM_LenswarpReverse(benchmark::State& state) {
  Run(state, "lenswarp", {{1, Scalar(100 << 16)}, {2, Scalar(1)}, {3, Scalar(3)}});
}
void BM_Magnify(benchmark::State& state) { Run(state, "magnify", {{2, Scalar(400 << 16)}, {4, Scalar(20 << 16)}}); }
void BM_MagnifySofter(benchmark::State& state) {
  Run(state, "magnify", {{2, Scalar(400 << 16)}, {4, Scalar(20 << 16)}, {6, Scalar(1)}});
}
void BM_LampcastSharp(benchmark::State& state) { Run(state, "lampcast", {{4, Scalar(20 << 16)}, {8, Scalar(0)}}); }
void BM_LampcastSoftGlass(benchmark::State& state) {
  Run(state, "lampcast", {{4, Scalar(20 << 16)}, {5, Scalar(20 << 16)}, {6, Scalar(2)}});
}

#define OMBRIX_THREADS ->Arg(1)->Arg(0)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond)
BENCHMARK(BM_FloodspillPaintBucket) OMBRIX_THREADS;
BENCHMARK(BM_FloodspillBleed4) OMBRIX_THREADS;
BENCHMARK(BM_FloodspillUniform) OMBRIX_THREADS;
BENCHMARK(BM_LenswarpForward) OMBRIX_THREADS;
BENCHMARK(BM_LenswarpReverse) OMBRIX_THREADS;
BENCHMARK(BM_Magnify) OMBRIX_THREADS;
BENCHMARK(BM_MagnifySofter) OMBRIX_THREADS;
BENCHMARK(BM_LampcastSharp) OMBRIX_THREADS;
BENCHMARK(BM_LampcastSoftGlass) OMBRIX_THREADS;

#if OMBRIX_BENCH_OPENCV
cv::Mat CardMat() {
  const ombrix::World& c = Card();
  return cv::Mat(kHeight, kWidth, CV_8UC4, const_cast<PF_Pixel*>(c.Row(0)), size_t(c.rowbytes()));
}

// floodFill on the colour channels from the same point, four-way, with a
// per-channel range either side; a fresh copy each time, as the effect
// writes a fresh output.
void FloodFillPeer(benchmark::State& state, double range) {
  cv::setNumThreads(int(state.range(0)));
  cv::Mat bgra = CardMat(), rgb;
  cv::cvtColor(bgra, rgb, cv::COLOR_BGRA2BGR);
  cv::Mat work;
  for (auto _ : state) {
    rgb.copyTo(work);
    cv::floodFill(work, cv::Point(int(kSeedX), int(kSeedY)), cv::Scalar(0, 0, 255), nullptr, cv::Scalar::all(range),
                  cv::Scalar::all(range), 4);
    benchmark::DoNotOptimize(work.data);
  }
  SetRate(state);
}

// The peer of the fill modes: a range of 20 either side.
void BM_OpenCV_FloodFill(benchmark::State& state) { FloodFillPeer(state, 20); }

// remap of the card through a map made once by map(x, y, &sx, &sy), bilinear.
template <class Map>
void RemapPeer(benchmark::State& state, Map&& map) {
  cv::setNumThreads(int(state.range(0)));
  const cv::Mat src = CardMat();
  cv::Mat map_x(kHeight, kWidth, CV_32FC1), map_y(kHeight, kWidth, CV_32FC1);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      double sx = 0, sy = 0;
      map(x, y, &sx, &sy);
      map_x.at<float>(y, x) = float(sx);
      map_y.at<float>(y, x) = float(sy);
    }
  cv::Mat dst;
  for (auto _ : state) {
    cv::remap(src, dst, map_x, map_y, cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar::all(0));
    benchmark::DoNotOptimize(dst.data);
  }
  SetRate(state);
}

// The forward lens map of Lenswarp at 100 degrees diagonal.
void BM_OpenCV_RemapLens(benchmark::State& state) {
  const double d = std::sqrt(double(kWidth) * kWidth + double(kHeight) * kHeight);
  const double f = (d / 2) / std::tan(100 * M_PI / 360), f2 = f * f;
  const double cx = kWidth / 2.0, cy = kHeight / 2.0;
  RemapPeer(state, [&](int x, int y, double* sx, double* sy) {
    const double a = x - cx, b = y - cy, r2 = a * a + b * b, r = std::sqrt(r2);
    const double m = r2 >= f2 ? 1e6 : std::sqrt(r2 * f2 / (f2 - r2)) / (r + 1e-5);
    *sx = cx + m * a;
    *sy = cy + m * b;
  });
}

// Magnify's map as benchmarked above: 150 % inside radius 400 plus half the
// feather band (20 x 2 + 1.5 pixels) around the centre, the layer elsewhere.
void BM_OpenCV_RemapMagnify(benchmark::State& state) {
  const double cx = kWidth / 2.0, cy = kHeight / 2.0, outer = 400 + (20 * 2 + 1.5) / 2;
  RemapPeer(state, [&](int x, int y, double* sx, double* sy) {
    const double a = x - cx, b = y - cy;
    const bool inside = a * a + b * b < outer * outer;
    *sx = inside ? cx + a / 1.5 : x;
    *sy = inside ? cy + b / 1.5 : y;
  });
}

// The peer of the Uniform mode: floodFill with a range of 255 either side,
// so that, as there, the whole frame is one region.
void BM_OpenCV_FloodFillUniform(benchmark::State& state) { FloodFillPeer(state, 255); }

BENCHMARK(BM_OpenCV_FloodFill) OMBRIX_THREADS;
BENCHMARK(BM_OpenCV_FloodFillUniform) OMBRIX_THREADS;
BENCHMARK(BM_OpenCV_RemapLens) OMBRIX_THREADS;
BENCHMARK(BM_OpenCV_RemapMagnify) OMBRIX_THREADS;
#endif

}  // namespace

BENCHMARK_MAIN();
