// The fractal noise core: the per-render lattice build, the per-pixel
// readers and the bicubic row reader, in lookups per second.
#include <noise/fractal.h>
#include <noise/row_readers.h>

#include <benchmark/benchmark.h>

#include <cstdint>

namespace {

noise::NoiseLattice g_lattice;

void BM_BuildNoiseLattice(benchmark::State& state) {
  const noise::NoiseSettings settings{1234, 1, 3};
  int32_t evolution = 0;
  for (auto _ : state) {
    noise::BuildNoiseLattice(g_lattice, evolution, &settings);
    benchmark::DoNotOptimize(g_lattice.cell[4095]);
    evolution += 65536 * 7 + 321;  // a new phase and new keys every time
  }
}
BENCHMARK(BM_BuildNoiseLattice)->Unit(benchmark::kMicrosecond);

// One row of a 1920-pixel image at Mistform's default frequency, starting
// from the lattice origin, as an octave loop would read it. Reader is a
// point reader, or CubicRowReader, which keeps a noise::CubicRow per row.
template <class Reader>
void BM_Reader(benchmark::State& state) {
  noise::BuildNoiseLattice(g_lattice, 65536 * 45, nullptr);
  constexpr int kRow = 1920;
  constexpr double kStep = 0.015;
  double y = noise::kNoiseOriginY;
  for (auto _ : state) {
    Reader read{};
    double sum = 0.0;
    double x = noise::kNoiseOriginX;
    for (int i = 0; i < kRow; ++i) {
      sum += read(g_lattice, x, y);
      x += kStep;
    }
    y += kStep;
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kRow);
}

template <double (*Read)(const noise::NoiseLattice&, double, double)>
struct PointReader {
  double operator()(const noise::NoiseLattice& l, double x, double y) const { return Read(l, x, y); }
};

struct CubicRowReader {
  noise::CubicRow row;
  double operator()(const noise::NoiseLattice& l, double x, double y) { return noise::CubicRead(l, row, x, y); }
};

BENCHMARK(BM_Reader<PointReader<noise::NoiseFaded>>)->Name("BM_NoiseFaded");
BENCHMARK(BM_Reader<PointReader<noise::NoiseLinear>>)->Name("BM_NoiseLinear");
BENCHMARK(BM_Reader<PointReader<noise::NoiseCubic>>)->Name("BM_NoiseCubic");
BENCHMARK(BM_Reader<CubicRowReader>)->Name("BM_CubicRowRead");

}  // namespace

BENCHMARK_MAIN();
