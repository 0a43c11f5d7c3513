// Grid through the host at 1920x1080, sharp and feathered, in the solid colour
// and cut from the layer, in megapixels per second.
// Argument: thread count (1, or 0 for all cores).
#include <ombrix/host/host.h>

#include <benchmark/benchmark.h>

#include <string>

namespace {

constexpr A_long kWidth = 1920;
constexpr A_long kHeight = 1080;
constexpr double kMegapixels = double(kWidth) * kHeight / 1e6;

enum { kGridsizeFrom = 2, kWidthParam = 4, kBorder = 6, kFeatherWidth = 7, kFeatherHeight = 8, kUseSolid = 9 };

ombrix::ParamValue Value(A_long v) {
  ombrix::ParamValue p;
  p.value = v;
  return p;
}

void Grid(benchmark::State& state, bool feathered, bool solid) {
  ombrix::HostOptions options;
  options.threads = int(state.range(0));
  ombrix::Host host(options);
  const ombrix::PluginFile file = ombrix::ReadPluginFile(std::string(OMBRIX_BENCH_PLUGIN_DIR) + "/grid.aex");
  ombrix::Effect effect(host, file);
  ombrix::Instance instance(effect, ombrix::TimeBase{}, kWidth, kHeight);
  instance.SetValue(kGridsizeFrom, Value(2));
  instance.SetValue(kWidthParam, Value(48 * 65536));
  instance.SetValue(kBorder, Value(6 * 65536));
  instance.SetValue(kFeatherWidth, Value(feathered ? 4 * 65536 : 0));
  instance.SetValue(kFeatherHeight, Value(feathered ? 4 * 65536 : 0));
  instance.SetValue(kUseSolid, Value(solid ? 1 : 0));
  ombrix::World in(kWidth, kHeight), out(kWidth, kHeight);
  for (A_long y = 0; y < kHeight; ++y)
    for (A_long x = 0; x < kWidth; ++x) in.At(x, y) = PF_Pixel{255, A_u_char(x), A_u_char(y), 90};
  for (auto _ : state) {
    const ombrix::CommandResult r = instance.RenderFrame(0, in.pf(), out.pf());
    if (r.err != PF_Err_NONE) {
      state.SkipWithError("render failed");
      break;
    }
    benchmark::DoNotOptimize(out.pf().data);
  }
  state.counters["Mpx"] = benchmark::Counter(kMegapixels * double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_GridSharp(benchmark::State& state) { Grid(state, false, true); }
void BM_GridFeathered(benchmark::State& state) { Grid(state, true, true); }
void BM_GridSharpLayer(benchmark::State& state) { Grid(state, false, false); }
void BM_GridFeatheredLayer(benchmark::State& state) { Grid(state, true, false); }

BENCHMARK(BM_GridSharp)->Arg(1)->Arg(0)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GridFeathered)->Arg(1)->Arg(0)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GridSharpLayer)->Arg(1)->Arg(0)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GridFeatheredLayer)->Arg(1)->Arg(0)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
