// Views, headless: bitmaps drawn on in memory, with a log of the calls.
#include <ombrix/platform/view.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <set>

namespace ombrix::platform {

struct View {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;
  std::vector<std::string> log;
};

namespace {

struct State {
  std::recursive_mutex mu;
  std::set<View*> views;
  View* screen = nullptr;
};

State& S() {
  static State* state = new State;
  return *state;
}

using Lock = std::lock_guard<std::recursive_mutex>;

uint32_t Rgb(ColorRef c) { return uint32_t(RedOf(c)) << 16 | uint32_t(GreenOf(c)) << 8 | BlueOf(c); }

std::string Hex(ColorRef c) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", RedOf(c), GreenOf(c), BlueOf(c));
  return text;
}

void Put(View* v, int x, int y, uint32_t rgb) {
  if (x >= 0 && y >= 0 && x < v->width && y < v->height) v->pixels[size_t(y) * size_t(v->width) + size_t(x)] = rgb;
}

// Runs `draw` on a live view and logs `line`; false for a dead view.
template <class Draw>
bool Drawing(View* view, const std::string& line, Draw draw) noexcept {
  try {
    State& s = S();
    Lock lock(s.mu);
    if (!s.views.count(view)) return false;
    draw(view);
    view->log.push_back(line);
    return true;
  } catch (...) {
    return false;
  }
}

std::string Num(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

}  // namespace

bool ViewFillDisc(View* view, double cx, double cy, double r, ColorRef color) noexcept {
  const std::string line = "disc " + Num(cx) + " " + Num(cy) + " " + Num(r) + " " + Hex(color);
  if (!std::isfinite(cx) || !std::isfinite(cy) || !std::isfinite(r)) return false;
  return Drawing(view, line, [&](View* v) {
    // Only the pixels of the view are visited.
    const auto clip = [](double a, int n) { return int(std::clamp(a, -1.0, double(n))); };
    const int y0 = clip(std::floor(cy - r), v->height), y1 = clip(std::ceil(cy + r), v->height);
    const int x0 = clip(std::floor(cx - r), v->width), x1 = clip(std::ceil(cx + r), v->width);
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) {
        const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
        if (dx * dx + dy * dy <= r * r) Put(v, x, y, Rgb(color));
      }
  });
}

bool ViewLine(View* view, int x0, int y0, int x1, int y1, ColorRef color) noexcept {
  const std::string line = "line " + std::to_string(x0) + " " + std::to_string(y0) + " " + std::to_string(x1) + " " +
                           std::to_string(y1) + " " + Hex(color);
  // Lines reaching far beyond any view are refused rather than walked.
  constexpr int kFar = 1 << 20;
  for (int c : {x0, y0, x1, y1})
    if (c < -kFar || c > kFar) return false;
  return Drawing(view, line, [&](View* v) {
    // Bresenham, both ends included.
    int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1, err = dx + dy, x = x0, y = y0;
    for (;;) {
      Put(v, x, y, Rgb(color));
      if (x == x1 && y == y1) break;
      const int e2 = 2 * err;
      if (e2 >= dy) err += dy, x += sx;
      if (e2 <= dx) err += dx, y += sy;
    }
  });
}

bool ViewFillRect(View* view, int left, int top, int right, int bottom, ColorRef color) noexcept {
  const std::string line = "rect " + std::to_string(left) + " " + std::to_string(top) + " " + std::to_string(right) +
                           " " + std::to_string(bottom) + " " + Hex(color);
  return Drawing(view, line, [&](View* v) {
    for (int y = top; y < bottom; ++y)
      for (int x = left; x < right; ++x) Put(v, x, y, Rgb(color));
  });
}

bool ViewInvertCircle(View* view, int cx, int cy, int r) noexcept {
  const std::string line = "invert-circle " + std::to_string(cx) + " " + std::to_string(cy) + " " + std::to_string(r);
  return Drawing(view, line, [&](View* v) {
    // Each outline pixel once: the points at distance r rounded, collected
    // first so that no pixel is inverted twice.
    // Circles larger than any view are drawn at this radius at most.
    const int64_t radius = std::clamp(r, 0, 1 << 16);
    std::set<std::pair<int64_t, int64_t>> ring;
    const int64_t steps = 8 * std::max<int64_t>(radius, 1);
    for (int64_t i = 0; i < steps; ++i) {
      const double a = 2.0 * M_PI * double(i) / double(steps);
      ring.insert({int64_t(cx) + std::llround(double(radius) * std::cos(a)),
                   int64_t(cy) + std::llround(double(radius) * std::sin(a))});
    }
    for (const auto& [x, y] : ring)
      if (x >= 0 && y >= 0 && x < v->width && y < v->height) {
        uint32_t& p = v->pixels[size_t(y) * size_t(v->width) + size_t(x)];
        p = ~p & 0xFFFFFFu;
      }
  });
}

bool ViewText(View* view, int x, int y, const char* text, const char* font, ColorRef color) noexcept {
  if (text == nullptr) return false;
  const std::string line = "text " + std::to_string(x) + " " + std::to_string(y) + " " + Hex(color) + " [" +
                           (font ? font : "") + "] " + text;
  return Drawing(view, line, [](View*) {});
}

bool ViewBlit(View* view, int x, int y, int width, int height, const uint32_t* pixels, int stride) noexcept {
  if (pixels == nullptr || width < 0 || height < 0 || stride < width) return false;
  const std::string line = "blit " + std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(width) + " " +
                           std::to_string(height);
  return Drawing(view, line, [&](View* v) {
    for (int j = 0; j < height; ++j)
      for (int i = 0; i < width; ++i) Put(v, x + i, y + j, pixels[size_t(j) * size_t(stride) + size_t(i)] & 0xFFFFFFu);
  });
}

bool ViewSize(View* view, int* width, int* height) noexcept {
  State& s = S();
  Lock lock(s.mu);
  if (!s.views.count(view)) return false;
  if (width) *width = view->width;
  if (height) *height = view->height;
  return true;
}

ColorRef GetScreenPixel(int x, int y) noexcept {
  State& s = S();
  Lock lock(s.mu);
  const View* v = s.screen;
  if (v == nullptr || x < 0 || y < 0 || x >= v->width || y >= v->height) return 0;
  const uint32_t p = v->pixels[size_t(y) * size_t(v->width) + size_t(x)];
  return MakeColorRef(uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p));
}

View* CreateView(int width, int height) {
  auto* v = new View;
  v->width = std::max(width, 0);
  v->height = std::max(height, 0);
  v->pixels.assign(size_t(v->width) * size_t(v->height), 0);
  State& s = S();
  Lock lock(s.mu);
  s.views.insert(v);
  return v;
}

void DestroyView(View* view) {
  State& s = S();
  Lock lock(s.mu);
  if (!s.views.erase(view)) return;
  if (s.screen == view) s.screen = nullptr;
  delete view;
}

void SetViewPixels(View* view, const std::vector<uint32_t>& pixels) {
  State& s = S();
  Lock lock(s.mu);
  if (!s.views.count(view) || pixels.size() != view->pixels.size()) return;
  view->pixels = pixels;
}

std::vector<uint32_t> ViewPixels(View* view) {
  State& s = S();
  Lock lock(s.mu);
  return s.views.count(view) ? view->pixels : std::vector<uint32_t>{};
}

std::vector<std::string> ViewLog(View* view) {
  State& s = S();
  Lock lock(s.mu);
  return s.views.count(view) ? view->log : std::vector<std::string>{};
}

void ClearViewLog(View* view) {
  State& s = S();
  Lock lock(s.mu);
  if (s.views.count(view)) view->log.clear();
}

void SetScreenView(View* view) {
  State& s = S();
  Lock lock(s.mu);
  s.screen = view == nullptr || s.views.count(view) ? view : nullptr;
}

}  // namespace ombrix::platform
