// Swirlshift's sampling stage on its own: the displacement field of the
// default Turbulent type (Amount 50, Scale 100, Complexity 1, centred offset)
// over a 1920x1080 frame is worked out once, then only the sampling is
// timed: the bilinear sampler at the displaced positions (Low), or the area
// sampler over each pixel's stretched footprint (High), each in its fast and
// its plain form. The peer is OpenCV remap over the same positions.
#include <ombrix/host/pixel_ops.h>

#include "bench_data.h"
#include "kernels.h"

#include <benchmark/benchmark.h>

#include <vector>

#if OMBRIX_BENCH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace ombrix::bench {
namespace {

struct Field {
  std::vector<swirlshift::Position> at;
  std::vector<swirlshift::Footprint> footprint;
};

const Field& TurbulentField() {
  static const Field field = [] {
    static noise::NoiseLattice lattice;
    noise::BuildNoiseLattice(lattice, 0, nullptr);
    swirlshift::Frame b{};
    b.lattice = &lattice;
    b.amplitude = swirlshift::Amplitude(50, 100, PF_RationalScale{1, 1});
    b.frequency = swirlshift::Frequency(100, PF_RationalScale{1, 1}, swirlshift::kTurbulent);
    const noise::ComplexitySplit split = noise::SplitComplexity(1, PF_Quality_HI);
    b.octaves = split.octaves;
    b.fraction = split.fraction;
    b.offset_x = kWidth / 2.0;
    b.offset_y = kHeight / 2.0;
    b.field = swirlshift::Field::kTurbulent;
    Field f;
    f.at.reserve(size_t(kWidth) * kHeight);
    f.footprint.reserve(size_t(kWidth) * kHeight);
    for (A_long y = 0; y < kHeight; ++y)
      for (A_long x = 0; x < kWidth; ++x) {
        const double px = swirlshift::LatticeX(b, x), py = swirlshift::LatticeY(b, y);
        const swirlshift::Offset d = swirlshift::Displace(b, px, py);
        f.at.push_back(swirlshift::SamplePosition(b, d, x, y));
        f.footprint.push_back(swirlshift::Stretch(b, d, px, py));
      }
    return f;
  }();
  return field;
}

void SetRate(benchmark::State& state) {
  state.counters["MP/s"] =
      benchmark::Counter(double(kWidth) * kHeight * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}

// range(0): threads; range(1): 1 for the area sampler (High); range(2): 1
// for the plain forms.
void BM_SwirlshiftSampling(benchmark::State& state) {
  const Frame& src = TestFrame();
  const Field& field = TurbulentField();
  const bool area = state.range(1) != 0;
  SetReferenceSampling(state.range(2) != 0);
  std::vector<PF_Pixel> out(field.at.size());
  for (auto _ : state) {
    SplitRows(kHeight, int(state.range(0)), [&](int y0, int y1) {
      for (size_t i = size_t(y0) * kWidth; i < size_t(y1) * kWidth; ++i) {
        const swirlshift::Position p = field.at[i];
        const swirlshift::Footprint& fp = field.footprint[i];
        out[i] = area ? AreaSample(src.world, p.x, p.y, fp.x_radius, fp.y_radius) : SubpixelSample(src.world, p.x, p.y);
      }
    });
    benchmark::DoNotOptimize(out.data());
  }
  SetReferenceSampling(false);
  SetRate(state);
}
BENCHMARK(BM_SwirlshiftSampling)
    ->ArgsProduct({{1, 2}, {0, 1}, {0, 1}})
    ->ArgNames({"threads", "high", "plain"})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

#if OMBRIX_BENCH_OPENCV
void BM_OpenCV_RemapSwirlshift(benchmark::State& state) {
  cv::setNumThreads(int(state.range(0)));
  const Frame& f = TestFrame();
  const cv::Mat src(f.height, f.width, CV_8UC4, const_cast<PF_Pixel*>(f.pixels.data()));
  const Field& field = TurbulentField();
  cv::Mat map_x(kHeight, kWidth, CV_32FC1), map_y(kHeight, kWidth, CV_32FC1);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const swirlshift::Position p = field.at[size_t(y) * kWidth + x];
      map_x.at<float>(y, x) = float(p.x / 65536.0);
      map_y.at<float>(y, x) = float(p.y / 65536.0);
    }
  cv::Mat dst;
  for (auto _ : state) {
    cv::remap(src, dst, map_x, map_y, cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar::all(0));
    benchmark::DoNotOptimize(dst.data);
  }
  SetRate(state);
}
BENCHMARK(BM_OpenCV_RemapSwirlshift)->Arg(1)->Arg(2)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
#endif

}  // namespace
}  // namespace ombrix::bench
