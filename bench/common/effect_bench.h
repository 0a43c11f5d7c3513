// What the effect benchmarks share: a plug-in of this build loaded into a
// host on the benchmark's thread count, an instance and worlds of one
// 1920x1080 frame, the render step and the megapixels-per-second counter.
// Header-only.
#pragma once

#include <ombrix/host/host.h>

#include <benchmark/benchmark.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace effect_bench {

inline constexpr A_long kWidth = 1920;
inline constexpr A_long kHeight = 1080;
inline constexpr double kMegapixels = double(kWidth) * kHeight / 1e6;

// The "Mpx" counter: `megapixels` per iteration, as a rate.
inline void SetRate(benchmark::State& state, double megapixels = kMegapixels) {
  state.counters["Mpx"] = benchmark::Counter(megapixels * double(state.iterations()), benchmark::Counter::kIsRate);
}

// The plug-in file `name` (e.g. "mistform.aex") of this build.
inline ombrix::PluginFile BenchPlugin(const std::string& name) {
  return ombrix::ReadPluginFile(std::string(OMBRIX_BENCH_PLUGIN_DIR) + "/" + name);
}

inline ombrix::ParamValue Scalar(A_long v) {
  ombrix::ParamValue p;
  p.value = v;
  return p;
}

// A point in layer pixels, truncated to 16.16.
inline ombrix::ParamValue Point(double x, double y) {
  ombrix::ParamValue p;
  p.x = PF_Fixed(x * 65536);
  p.y = PF_Fixed(y * 65536);
  return p;
}

inline ombrix::ParamValue Colour(PF_Pixel c) {
  ombrix::ParamValue p;
  p.color = c;
  return p;
}

inline ombrix::HostOptions ThreadOptions(int threads) {
  ombrix::HostOptions options;
  options.threads = threads;  // 0: all cores
  return options;
}

// One effect on a 1920x1080 layer: `in` (transparent black until the
// benchmark fills it) rendered into `out`.
struct EffectBench {
  EffectBench(const std::string& plugin, int threads, std::optional<std::vector<uint8_t>> record = {})
      : host(ThreadOptions(threads)),
        file(BenchPlugin(plugin)),
        effect(host, file),
        instance(effect, ombrix::TimeBase{}, kWidth, kHeight, std::move(record)) {}

  // One render at `time`; false, with the benchmark skipped, when it fails.
  bool Render(benchmark::State& state, A_long time = 0) {
    const ombrix::CommandResult r = instance.RenderFrame(time, in.pf(), out.pf());
    if (r.err != PF_Err_NONE) {
      state.SkipWithError(("render failed with " + std::to_string(r.err)).c_str());
      return false;
    }
    benchmark::DoNotOptimize(out.pf().data);
    return true;
  }

  ombrix::Host host;
  ombrix::PluginFile file;
  ombrix::Effect effect;
  ombrix::Instance instance;
  ombrix::World in{kWidth, kHeight}, out{kWidth, kHeight};
};

}  // namespace effect_bench
