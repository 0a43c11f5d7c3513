// libmypaint beside Paint: the benchmark drawing's strokes laid as round
// dabs of the same radius and the Solid shape's spacing (radius x 0.2 + 1
// pixels) on a 1920x1080 fixed tiled surface, one atomic section per stroke
// (milliseconds per frame).
#include <benchmark/benchmark.h>

#include "common/effect_bench.h"

#include "paint_bench.h"

extern "C" {
#include <mypaint-fixed-tiled-surface.h>
}

namespace {

void BM_MyPaintRoundDabs(benchmark::State& state) {
  const auto strokes = paint_bench::Strokes(effect_bench::kWidth, effect_bench::kHeight);
  MyPaintFixedTiledSurface* surface = mypaint_fixed_tiled_surface_new(effect_bench::kWidth, effect_bench::kHeight);
  if (surface == nullptr) {
    state.SkipWithError("no libmypaint surface");
    return;
  }
  MyPaintSurface* s = mypaint_fixed_tiled_surface_interface(surface);
  const float hardness = state.range(0) / 100.0f;
  int64_t dabs = 0;
  for (auto _ : state) {
    dabs = 0;
    for (const auto& points : strokes) {
      mypaint_surface_begin_atomic(s);
      dabs += paint_bench::WalkDabs(points, 0.2f, [&](float x, float y) {
        mypaint_surface_draw_dab(s, x, y, paint_bench::kRadius, 1.0f, 0.5f, 0.25f, 0.8f, hardness, 1.0f, 1.0f, 0.0f,
                                 0.0f, 0.0f);
      });
      MyPaintRectangle roi;
      mypaint_surface_end_atomic(s, &roi);
    }
  }
  state.counters["dabs"] = double(dabs);
  effect_bench::SetRate(state);
  mypaint_surface_unref(s);
}
// Hardness 100 % (a hard round dab, as Solid) and 50 % (soft, as Paint and Air).
BENCHMARK(BM_MyPaintRoundDabs)->ArgName("hardness")->Arg(100)->Arg(50)->Unit(benchmark::kMillisecond);

}  // namespace
