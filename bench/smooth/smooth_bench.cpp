// The smoothing routine at radii 2, 10, 50 and 200 on 1920x1080 RGBA (mode
// 111, colour and alpha), on one thread and on all cores (argument
// "threads": 1, or 0 for all), beside OpenCV's GaussianBlur and libvips'
// gaussblur at the same standard deviation (radius / 2) in the same run.
#include <ombrix/host/host.h>
#include <ombrix/host/smooth.h>

#include <benchmark/benchmark.h>

#ifdef OMBRIX_BENCH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif
#ifdef OMBRIX_BENCH_VIPS
#include <vips/vips.h>
#endif

#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <thread>
#include <vector>

namespace {

constexpr A_long kWidth = 1920;
constexpr A_long kHeight = 1080;
constexpr double kMegapixels = double(kWidth) * kHeight / 1e6;

void SetRate(benchmark::State& state) {
  state.counters["Mpx"] = benchmark::Counter(kMegapixels * double(state.iterations()), benchmark::Counter::kIsRate);
}

std::vector<uint8_t> Noise() {
  std::vector<uint8_t> bytes(size_t(kWidth) * kHeight * 4);
  std::mt19937 rng(1);
  for (auto& b : bytes) b = uint8_t(rng());
  return bytes;
}

int Threads(const benchmark::State& state) {
  return state.range(1) ? int(state.range(1)) : int(std::max(1u, std::thread::hardware_concurrency()));
}

void BM_Smooth(benchmark::State& state) {
  const double radius = double(state.range(0));
  ombrix::ThreadPool pool(Threads(state));
  const std::vector<uint8_t> source = Noise();
  ombrix::World world(kWidth, kHeight);
  const ombrix::SmoothRunner run = [&pool](int count, const std::function<void(int)>& task) {
    pool.ForEach(count, task);
  };
  for (auto _ : state) {
    state.PauseTiming();
    for (A_long y = 0; y < kHeight; ++y) std::memcpy(world.Row(y), &source[size_t(y) * kWidth * 4], size_t(kWidth) * 4);
    state.ResumeTiming();
    ombrix::SmoothWorld(world.pf(), radius, ombrix::kSmoothColorAlpha, run);
    benchmark::DoNotOptimize(world.pf().data);
  }
  SetRate(state);
}

#ifdef OMBRIX_BENCH_OPENCV
void BM_OpenCV_GaussianBlur(benchmark::State& state) {
  const double sigma = double(state.range(0)) / 2;
  cv::setNumThreads(Threads(state));
  std::vector<uint8_t> source = Noise();
  cv::Mat in(kHeight, kWidth, CV_8UC4, source.data()), out;
  for (auto _ : state) {
    cv::GaussianBlur(in, out, cv::Size(0, 0), sigma, sigma, cv::BORDER_CONSTANT);
    benchmark::DoNotOptimize(out.data);
  }
  SetRate(state);
}
#endif

#ifdef OMBRIX_BENCH_VIPS
void BM_Vips_Gaussblur(benchmark::State& state) {
  static const bool started = VIPS_INIT("smooth_bench") == 0;
  if (!started) {
    state.SkipWithError("vips did not start");
    return;
  }
  const double sigma = double(state.range(0)) / 2;
  vips_concurrency_set(Threads(state));
  vips_cache_set_max(0);
  std::vector<uint8_t> source = Noise();
  for (auto _ : state) {
    VipsImage* in = vips_image_new_from_memory(source.data(), source.size(), kWidth, kHeight, 4, VIPS_FORMAT_UCHAR);
    VipsImage* out = nullptr;
    if (vips_gaussblur(in, &out, sigma, nullptr)) {
      g_object_unref(in);
      state.SkipWithError("gaussblur failed");
      break;
    }
    size_t size = 0;
    void* mem = vips_image_write_to_memory(out, &size);
    benchmark::DoNotOptimize(mem);
    g_free(mem);
    g_object_unref(out);
    g_object_unref(in);
  }
  SetRate(state);
}
#endif

void Radii(benchmark::internal::Benchmark* b) {
  for (int radius : {2, 10, 50, 200})
    for (int threads : {1, 0}) b->Args({radius, threads});
  b->ArgNames({"radius", "threads"})->UseRealTime()->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_Smooth)->Apply(Radii);
#ifdef OMBRIX_BENCH_OPENCV
BENCHMARK(BM_OpenCV_GaussianBlur)->Apply(Radii);
#endif
#ifdef OMBRIX_BENCH_VIPS
BENCHMARK(BM_Vips_Gaussblur)->Apply(Radii);
#endif
BENCHMARK_MAIN();
