// Frayline through the host at 1920x1080 (a rounded opaque shape on a
// transparent layer, default parameters, Border 8), each edge type, in
// megapixels per second on one thread and on all cores ("threads": 1 or 0).
#include <ombrix/host/host.h>

#include <benchmark/benchmark.h>

#include <cmath>
#include <string>

namespace {

constexpr A_long kWidth = 1920;
constexpr A_long kHeight = 1080;

void Frayline(benchmark::State& state) {
  ombrix::Host host;
  host.SetThreads(int(state.range(1)));
  const ombrix::PluginFile file = ombrix::ReadPluginFile(std::string(OMBRIX_BENCH_PLUGIN_DIR) + "/frayline.aex");
  ombrix::Effect effect(host, file);
  ombrix::Instance instance(effect, ombrix::TimeBase{}, kWidth, kHeight);
  ombrix::ParamValue type;
  type.value = A_long(state.range(0));
  instance.SetValue(1, type);
  ombrix::World in(kWidth, kHeight), out(kWidth, kHeight);
  for (A_long y = 0; y < kHeight; ++y)
    for (A_long x = 0; x < kWidth; ++x) {
      const bool inside = std::hypot(x - kWidth / 2.0, y - kHeight / 2.0) < 450;
      in.At(x, y) = PF_Pixel{A_u_char(inside ? 255 : 0), A_u_char(x), A_u_char(y), 90};
    }
  for (auto _ : state) {
    if (instance.RenderFrame(0, in.pf(), out.pf()).err != PF_Err_NONE) {
      state.SkipWithError("render failed");
      break;
    }
    benchmark::DoNotOptimize(out.pf().data);
  }
  state.counters["Mpx"] = benchmark::Counter(double(kWidth) * kHeight / 1e6 * double(state.iterations()),
                                              benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(Frayline)
    ->ArgsProduct({{1, 2, 3, 4, 5, 6, 7, 8}, {1, 0}})
    ->ArgNames({"type", "threads"})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
