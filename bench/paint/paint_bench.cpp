// Paint at 1920x1080: a drawing of 1000 strokes of 200 points rendered
// whole through the host, once per brush shape (milliseconds per frame).
// The counter "dabs" is the number of dabs the strokes lay at the shape's
// spacing, counted by the same walk the peer benchmark uses.
#include <ombrix/host/host.h>

#include <benchmark/benchmark.h>

#include "common/effect_bench.h"

#include "flat_drawing.h"
#include "local_handles.h"
#include "paint_bench.h"

#include <cstdint>
#include <vector>

namespace {

using namespace effect_bench;

// The benchmark drawing with every stroke of brush `type`, as stored data.
std::vector<uint8_t> StoredDrawing(int32_t type) {
  paint::MemoryBlock* drawing = paint::NewDrawing();
  paint::BrushSettings brush = paint::DefaultBrush();
  brush.type = type;
  brush.radius = paint_bench::kRadius;
  brush.opacity = 0.8f;
  brush.stylus = 0;
  for (const auto& points : paint_bench::Strokes(kWidth, kHeight)) {
    paint::MemoryBlock* stroke = paint::BeginStroke(0.0f, brush);
    float t = 0;
    for (const paint_bench::Point& p : points) {
      paint::AppendStrokePoint(stroke, {t, p.x / float(kWidth), p.y / float(kHeight), 1.0f});
      t += 0.01f;
    }
    paint::EndStrokeAfter(drawing, stroke, t);
  }
  const PF_UtilCallbacks* u = paint::LocalHandleServices();
  paint::DrawingRef ref{drawing, nullptr};
  paint::Flatten(u, ref);
  const auto* bytes = static_cast<const uint8_t*>(u->host_lock_handle(ref.flat));
  std::vector<uint8_t> stored(bytes, bytes + u->host_get_handle_size(ref.flat));
  paint::DisposeDrawing(u, ref);
  return stored;
}

void BM_PaintRender(benchmark::State& state) {
  const int32_t type = int32_t(state.range(0));
  const float spacing = type == 1 ? 0.2f : type == 4 ? 0.1f : 0.3f;
  EffectBench bench("paint.aex", 1, StoredDrawing(type));
  int64_t dabs = 0;
  for (const auto& points : paint_bench::Strokes(kWidth, kHeight))
    dabs += paint_bench::WalkDabs(points, spacing, [](float, float) {});
  for (auto _ : state) {
    if (!bench.Render(state)) return;
  }
  state.counters["dabs"] = double(dabs);
  SetRate(state);
}
BENCHMARK(BM_PaintRender)->ArgName("shape")->DenseRange(1, 4)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
