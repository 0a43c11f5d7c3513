// The smoothing routine at radii 2, 10, 50 and 200 on 1920x1080 RGBA (mode
// 111, colour and alpha), on one thread and on all cores (argument
// "threads": 1, or 0 for all), beside OpenCV's GaussianBlur, libvips'
// gaussblur and a plain three-pass box blur at the same standard deviation
// (radius / 2) in the same run, and beside the routine's plain reference form.
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

#include <algorithm>
#include <cmath>
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

// Argument `reference`: the plain one-lane-at-a-time form the vector passes
// are tested against, for the gain in the same run.
void Smooth(benchmark::State& state, bool reference) {
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
    (reference ? ombrix::SmoothWorldReference : ombrix::SmoothWorld)(world.pf(), radius, ombrix::kSmoothColorAlpha,
                                                                     run);
    benchmark::DoNotOptimize(world.pf().data);
  }
  SetRate(state);
}

void BM_Smooth(benchmark::State& state) { Smooth(state, false); }
void BM_SmoothReference(benchmark::State& state) { Smooth(state, true); }

// A plain three-pass box blur as a baseline peer: three running-sum boxes
// along the rows, then three down the columns, of the half-width that makes
// three boxes approximate a Gaussian of standard deviation radius / 2;
// 8-bit RGBA, edges clamped, rows (then column strips) split over the
// threads.
struct BoxBlur {
  int r;
  std::vector<uint8_t> a, b;

  void Rows(int y0, int y1) {
    std::vector<uint8_t>* from = &a;
    std::vector<uint8_t>* to = &b;
    const int w = 2 * r + 1;
    for (int pass = 0; pass < 3; ++pass, std::swap(from, to))
      for (int y = y0; y < y1; ++y) {
        const uint8_t* src = from->data() + size_t(y) * kWidth * 4;
        uint8_t* dst = to->data() + size_t(y) * kWidth * 4;
        for (int c = 0; c < 4; ++c) {
          int sum = 0;
          for (int i = -r; i <= r; ++i) sum += src[std::clamp(i, 0, int(kWidth) - 1) * 4 + c];
          for (int x = 0; x < kWidth; ++x) {
            dst[x * 4 + c] = uint8_t((sum + w / 2) / w);
            sum += src[std::min(x + r + 1, int(kWidth) - 1) * 4 + c] - src[std::max(x - r, 0) * 4 + c];
          }
        }
      }
    // Three passes leave the rows in b; copy them back for the columns.
    for (int y = y0; y < y1; ++y)
      std::memcpy(a.data() + size_t(y) * kWidth * 4, b.data() + size_t(y) * kWidth * 4, size_t(kWidth) * 4);
  }

  void Columns(int x0, int x1) {
    std::vector<uint8_t>* from = &a;
    std::vector<uint8_t>* to = &b;
    const int w = 2 * r + 1, n = (x1 - x0) * 4;
    std::vector<int> sum(static_cast<size_t>(n));
    auto row = [&](const std::vector<uint8_t>* img, int y) {
      return img->data() + (size_t(std::clamp(y, 0, int(kHeight) - 1)) * kWidth + x0) * 4;
    };
    for (int pass = 0; pass < 3; ++pass, std::swap(from, to)) {
      std::fill(sum.begin(), sum.end(), 0);
      for (int i = -r; i <= r; ++i)
        for (int k = 0; k < n; ++k) sum[k] += row(from, i)[k];
      for (int y = 0; y < kHeight; ++y) {
        uint8_t* dst = to->data() + (size_t(y) * kWidth + x0) * 4;
        const uint8_t *in = row(from, y + r + 1), *out = row(from, y - r);
        for (int k = 0; k < n; ++k) {
          dst[k] = uint8_t((sum[k] + w / 2) / w);
          sum[k] += in[k] - out[k];
        }
      }
    }
  }
};

void BM_BoxBlur3(benchmark::State& state) {
  const double sigma = double(state.range(0)) / 2;
  const int threads = Threads(state);
  ombrix::ThreadPool pool(threads);
  BoxBlur blur{std::max(1, int(std::lround((std::sqrt(4 * sigma * sigma + 1) - 1) / 2))), Noise(), {}};
  blur.b.resize(blur.a.size());
  const std::vector<uint8_t> source = blur.a;
  const int strips = threads * 4;
  for (auto _ : state) {
    state.PauseTiming();
    blur.a = source;
    state.ResumeTiming();
    pool.ForEach(strips, [&](int i) { blur.Rows(int(kHeight) * i / strips, int(kHeight) * (i + 1) / strips); });
    pool.ForEach(strips, [&](int i) { blur.Columns(int(kWidth) * i / strips, int(kWidth) * (i + 1) / strips); });
    benchmark::DoNotOptimize(blur.b.data());
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
BENCHMARK(BM_SmoothReference)->Apply(Radii);
BENCHMARK(BM_BoxBlur3)->Apply(Radii);
#ifdef OMBRIX_BENCH_OPENCV
BENCHMARK(BM_OpenCV_GaussianBlur)->Apply(Radii);
#endif
#ifdef OMBRIX_BENCH_VIPS
BENCHMARK(BM_Vips_Gaussblur)->Apply(Radii);
#endif
BENCHMARK_MAIN();
