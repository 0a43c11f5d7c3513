// The drawing Paint's benchmarks render: 1000 strokes of 200 points each,
// wandering over a 1920x1080 layer, all with one brush shape; and the dabs a
// round brush lays along them, for peers that take dabs one by one.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace paint_bench {

inline constexpr int kStrokes = 1000;
inline constexpr int kPoints = 200;
inline constexpr float kRadius = 8.0f;

struct Point {
  float x, y;  // pixels
};

// Every stroke's points, the same on every call.
inline std::vector<std::vector<Point>> Strokes(int width, int height) {
  uint32_t state = 12345;
  auto unit = [&] {
    state = state * 1103515245u + 12345u;
    return float((state >> 8) & 0xFFFF) / 65536.0f;
  };
  std::vector<std::vector<Point>> strokes(kStrokes);
  for (auto& s : strokes) {
    // A wandering heading, 4 pixels a point, turned back at the edges.
    float x = unit() * float(width), y = unit() * float(height);
    float angle = unit() * 6.2831853f;
    for (int p = 0; p < kPoints; ++p) {
      s.push_back({x, y});
      angle += (unit() - 0.5f) * 0.6f;
      float vx = 4.0f * std::cos(angle), vy = 4.0f * std::sin(angle);
      if (x + vx < 0 || x + vx >= float(width)) vx = -vx;
      if (y + vy < 0 || y + vy >= float(height)) vy = -vy;
      angle = std::atan2(vy, vx);
      x += vx;
      y += vy;
    }
  }
  return strokes;
}

// Calls `dab(x, y)` at each dab a round brush of kRadius lays along
// `points`, spaced radius x `spacing` + 1 pixels; answers how many.
template <typename Dab>
int64_t WalkDabs(const std::vector<Point>& points, float spacing, Dab&& dab) {
  const float step = kRadius * spacing + 1.0f;
  int64_t count = 0;
  float carry = 0;  // distance into the current segment of the next dab
  for (size_t i = 0; i + 1 < points.size(); ++i) {
    const float dx = points[i + 1].x - points[i].x, dy = points[i + 1].y - points[i].y;
    const float len = std::max(0.01f, std::sqrt(dx * dx + dy * dy));
    for (; carry < len; carry += step, ++count) dab(points[i].x + dx * carry / len, points[i].y + dy * carry / len);
    carry -= len;
  }
  return count;
}

}  // namespace paint_bench
