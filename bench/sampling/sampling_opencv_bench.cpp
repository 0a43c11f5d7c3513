// OpenCV doing comparable work on the same frame and map: bilinear remap
// with a transparent border, RGB <-> HLS, and area resizing.
#include "bench_data.h"

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace ombrix::bench {
namespace {

void SetRate(benchmark::State& state, double pixels) {
  state.counters["MP/s"] = benchmark::Counter(pixels * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}

cv::Mat FrameMat() {
  const Frame& f = TestFrame();
  return cv::Mat(f.height, f.width, CV_8UC4, const_cast<PF_Pixel*>(f.pixels.data()));
}

void BM_OpenCV_Remap(benchmark::State& state) {
  cv::setNumThreads(int(state.range(0)));
  const cv::Mat src = FrameMat();
  cv::Mat map_x(kHeight, kWidth, CV_32FC1), map_y(kHeight, kWidth, CV_32FC1);
  const auto& mx = MapX();
  const auto& my = MapY();
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const size_t i = size_t(y) * kWidth + x;
      map_x.at<float>(y, x) = float(mx[i] / 65536.0);
      map_y.at<float>(y, x) = float(my[i] / 65536.0);
    }
  cv::Mat dst;
  for (auto _ : state) {
    cv::remap(src, dst, map_x, map_y, cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar::all(0));
    benchmark::DoNotOptimize(dst.data);
  }
  SetRate(state, double(kWidth) * kHeight);
}
BENCHMARK(BM_OpenCV_Remap)->Arg(1)->Arg(2)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_OpenCV_HlsRoundTrip(benchmark::State& state) {
  cv::setNumThreads(int(state.range(0)));
  cv::Mat rgb;
  cv::cvtColor(FrameMat(), rgb, cv::COLOR_RGBA2RGB);
  cv::Mat hls, back;
  for (auto _ : state) {
    cv::cvtColor(rgb, hls, cv::COLOR_RGB2HLS);
    cv::cvtColor(hls, back, cv::COLOR_HLS2RGB);
    benchmark::DoNotOptimize(back.data);
  }
  SetRate(state, double(kWidth) * kHeight);
}
BENCHMARK(BM_OpenCV_HlsRoundTrip)->Arg(1)->Arg(2)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_OpenCV_ResizeArea(benchmark::State& state) {
  cv::setNumThreads(1);
  const cv::Mat src = FrameMat();
  const int den = int(state.range(0));
  cv::Mat dst;
  for (auto _ : state) {
    cv::resize(src, dst, cv::Size((kWidth + den - 1) / den, (kHeight + den - 1) / den), 0, 0, cv::INTER_AREA);
    benchmark::DoNotOptimize(dst.data);
  }
  SetRate(state, double(kWidth) * kHeight);
}
BENCHMARK(BM_OpenCV_ResizeArea)->Arg(2)->Arg(3)->ArgName("den")->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ombrix::bench
