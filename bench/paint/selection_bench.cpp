// A selection path of 10000 points drawn over the benchmark drawing (1000
// strokes of 200 points, all drawn): the time the Select tool's click takes
// to test every stroke against the path.
#include <benchmark/benchmark.h>

#include "drawing.h"
#include "paint_bench.h"
#include "painting.h"

#include <cmath>
#include <vector>

namespace {

constexpr int kWidth = 1920, kHeight = 1080;
constexpr int kPathPoints = 10000;

paint::MemoryBlock* BenchDrawing() {
  paint::MemoryBlock* drawing = paint::NewDrawing();
  const paint::BrushSettings brush = paint::DefaultBrush();
  for (const auto& points : paint_bench::Strokes(kWidth, kHeight)) {
    paint::MemoryBlock* stroke = paint::BeginStroke(0.0f, brush);
    for (const paint_bench::Point& p : points)
      paint::AppendStrokePoint(stroke, {0.0f, p.x / float(kWidth), p.y / float(kHeight), 1.0f});
    paint::EndStrokeAfter(drawing, stroke, 1.0f);
  }
  for (int32_t i = 0; i < paint::StrokeCount(drawing); ++i) {
    paint::StrokeRecord* s = paint::StrokeAt(drawing, i);
    s->points_drawn = s->point_count;
  }
  return drawing;
}

// A path sweeping the layer in a slow spiral, 3 pixels a point or so.
std::vector<float> Path() {
  std::vector<float> xy;
  for (int i = 0; i < kPathPoints; ++i) {
    const double t = double(i) / kPathPoints, a = t * 40.0;
    xy.push_back(float(kWidth / 2 + std::cos(a) * t * kWidth * 0.45));
    xy.push_back(float(kHeight / 2 + std::sin(a) * t * kHeight * 0.45));
  }
  return xy;
}

void BM_SelectionPath(benchmark::State& state) {
  paint::MemoryBlock* drawing = BenchDrawing();
  const std::vector<float> path = Path();
  // A fresh selection each time (state 0), so every click finds the same strokes.
  for (auto _ : state) {
    benchmark::DoNotOptimize(paint::SelectAlongPath(drawing, path.data(), kPathPoints, 0, kWidth, kHeight));
  }
  int64_t selected = 0;
  for (int32_t i = 0; i < paint::StrokeCount(drawing); ++i) selected += paint::StrokeAt(drawing, i)->selected;
  state.counters["selected"] = double(selected);
  paint::DisposeDrawing(drawing);
}
BENCHMARK(BM_SelectionPath)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
