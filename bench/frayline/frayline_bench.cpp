// Frayline through the host at 1920x1080 (a rounded opaque shape on a
// transparent layer, default parameters, Border 8), each edge type, in
// megapixels per second on one thread and on all cores ("threads": 1 or 0).
#include <ombrix/host/host.h>

#include <benchmark/benchmark.h>

#include "common/effect_bench.h"

#include <cmath>
#include <string>

namespace {

using namespace effect_bench;

void Frayline(benchmark::State& state) {
  EffectBench b("frayline.aex", int(state.range(1)));
  b.instance.SetValue(1, Scalar(A_long(state.range(0))));
  for (A_long y = 0; y < kHeight; ++y)
    for (A_long x = 0; x < kWidth; ++x) {
      const bool inside = std::hypot(x - kWidth / 2.0, y - kHeight / 2.0) < 450;
      b.in.At(x, y) = PF_Pixel{A_u_char(inside ? 255 : 0), A_u_char(x), A_u_char(y), 90};
    }
  for (auto _ : state)
    if (!b.Render(state)) break;
  SetRate(state);
}

}  // namespace

BENCHMARK(Frayline)
    ->ArgsProduct({{1, 2, 3, 4, 5, 6, 7, 8}, {1, 0}})
    ->ArgNames({"type", "threads"})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
