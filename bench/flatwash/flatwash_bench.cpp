// Flatwash through the host at 1920x1080 (pure colour, 50 % blend, 100 %
// pass-through), in megapixels per second, beside memcpy of the same buffer.
// Argument: thread count (1, or 0 for all cores).
#include <ombrix/host/host.h>

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr A_long kWidth = 1920;
constexpr A_long kHeight = 1080;
constexpr double kMegapixels = double(kWidth) * kHeight / 1e6;

void FillPattern(ombrix::World& w) {
  uint32_t s = 1;
  for (A_long y = 0; y < w.height(); ++y) {
    for (A_long x = 0; x < w.width(); ++x) {
      s = s * 1103515245u + 12345u;
      std::memcpy(&w.At(x, y), &s, 4);
    }
  }
}

void SetRate(benchmark::State& state) {
  state.counters["Mpx"] = benchmark::Counter(kMegapixels * double(state.iterations()),
                                              benchmark::Counter::kIsRate);
}

void Flatwash(benchmark::State& state, A_long blend) {
  ombrix::HostOptions options;
  options.threads = int(state.range(0));
  ombrix::Host host(options);
  const ombrix::PluginFile file =
      ombrix::ReadPluginFile(std::string(OMBRIX_BENCH_PLUGIN_DIR) + "/flatwash.aex");
  ombrix::Effect effect(host, file);
  ombrix::Instance instance(effect, ombrix::TimeBase{}, kWidth, kHeight);
  ombrix::ParamValue colour;
  colour.color = PF_Pixel{255, 40, 120, 200};
  instance.SetValue(1, colour);
  ombrix::ParamValue b;
  b.value = blend;
  instance.SetValue(2, b);
  ombrix::World in(kWidth, kHeight), out(kWidth, kHeight);
  FillPattern(in);
  for (auto _ : state) {
    const ombrix::CommandResult r = instance.RenderFrame(0, in.pf(), out.pf());
    if (r.err != PF_Err_NONE) {
      state.SkipWithError("render failed");
      break;
    }
    benchmark::DoNotOptimize(out.pf().data);
  }
  SetRate(state);
}

void BM_FlatwashPure(benchmark::State& state) { Flatwash(state, 0); }
void BM_FlatwashHalf(benchmark::State& state) { Flatwash(state, 0x8000); }
void BM_FlatwashFull(benchmark::State& state) { Flatwash(state, 0x10000); }

// The floor for any per-pixel pass: one copy of the same 8 MB buffer.
void BM_Memcpy(benchmark::State& state) {
  std::vector<uint8_t> src(size_t(kWidth) * kHeight * 4, 7), dst(src.size());
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), src.size());
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  SetRate(state);
}

BENCHMARK(BM_FlatwashPure)->Arg(1)->Arg(0)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FlatwashHalf)->Arg(1)->Arg(0)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FlatwashFull)->Arg(1)->Arg(0)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
