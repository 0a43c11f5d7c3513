#include "bench_data.h"

#include <cmath>

namespace ombrix::bench {

const Frame& TestFrame() {
  static const Frame frame = [] {
    Frame f;
    f.width = kWidth;
    f.height = kHeight;
    f.pixels.resize(size_t(kWidth) * kHeight);
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        PF_Pixel& p = f.pixels[size_t(y) * kWidth + x];
        p.alpha = y < kHeight / 2 ? 255 : (x / 8) % 40 == 0 ? 0 : uint8_t(255 - (x * 255) / kWidth);
        p.red = uint8_t(x * 255 / kWidth);
        p.green = uint8_t(y * 255 / kHeight);
        p.blue = uint8_t((x + y) & 0xFF);
      }
    f.world.data = f.pixels.data();
    f.world.width = kWidth;
    f.world.height = kHeight;
    f.world.rowbytes = kWidth * 4;
    return f;
  }();
  return frame;
}

namespace {
struct Maps {
  std::vector<PF_Fixed> x, y;
};
const Maps& TheMaps() {
  static const Maps maps = [] {
    Maps m;
    m.x.resize(size_t(kWidth) * kHeight);
    m.y.resize(m.x.size());
    const double cx = (kWidth - 1) / 2.0, cy = (kHeight - 1) / 2.0;
    const double norm = 1.0 / (cx * cx + cy * cy);
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        const double dx = x - cx, dy = y - cy;
        const double k = 1 + 0.08 * (dx * dx + dy * dy) * norm;
        const size_t i = size_t(y) * kWidth + x;
        m.x[i] = PF_Fixed(std::lround((cx + dx * k) * 65536));
        m.y[i] = PF_Fixed(std::lround((cy + dy * k) * 65536));
      }
    return m;
  }();
  return maps;
}
}  // namespace

const std::vector<PF_Fixed>& MapX() { return TheMaps().x; }
const std::vector<PF_Fixed>& MapY() { return TheMaps().y; }

}  // namespace ombrix::bench
