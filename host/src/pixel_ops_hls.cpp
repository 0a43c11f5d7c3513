// colorCB: RGB <-> HLS with the hexcone model in double, 16.16 words.
#include <ombrix/host/pixel_ops.h>

#include "pixel_ops_internal.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace ombrix {

using namespace pixel_ops;

namespace {

// byte / 255, the same doubles the division gives.
constexpr std::array<double, 256> kUnit = [] {
  std::array<double, 256> t{};
  for (int i = 0; i < 256; ++i) t[size_t(i)] = i / 255.0;
  return t;
}();

// round(v * 65536) for the non-negative H, L and S: truncation is the floor.
inline PF_Fixed ToFixed(double v) { return PF_Fixed(v * 65536.0 + 0.5); }

// round(255 * v), clamped; values a rounding error outside 0..1 included.
inline uint8_t ToByte(double v) {
  const double b = 255.0 * v + 0.5;
  return b < 1 ? 0 : b >= 255 ? 255 : uint8_t(b);
}

// One channel of the inverse from its hue in degrees.
inline double HueChannel(double n1, double n2, double hue) {
  if (hue >= 360) hue -= 360;
  if (hue < 0) hue += 360;
  if (hue < 60) return n1 + (n2 - n1) * hue / 60;
  if (hue < 180) return n2;
  if (hue < 240) return n1 + (n2 - n1) * (240 - hue) / 60;
  return n1;
}

}  // namespace

void RgbToHls(const PF_Pixel& rgb, PF_Fixed hls[3]) {
  const double r = kUnit[rgb.red], g = kUnit[rgb.green], b = kUnit[rgb.blue];
  const double mx = std::max(r, std::max(g, b));
  const double mn = std::min(r, std::min(g, b));
  const double l = (mx + mn) / 2;
  double h = 0, s = 0;
  if (mx != mn) {
    const double d = mx - mn;
    s = l <= 0.5 ? d / (mx + mn) : d / (2 - mx - mn);
    if (r == mx)
      h = 60 * ((g - b) / d);
    else if (g == mx)
      h = 60 * (2 + (b - r) / d);
    else
      h = 60 * (4 + (r - g) / d);
    if (h < 0) h += 360;
  }
  hls[0] = ToFixed(h);
  hls[1] = ToFixed(l);
  hls[2] = ToFixed(s);
}

void HlsToRgb(const PF_Fixed hls[3], PF_Pixel& rgb) {
  double h = hls[0] / 65536.0;
  if (hls[0] < 0 || hls[0] >= 360 * 65536) {
    h = std::fmod(h, 360.0);  // exact
    if (h < 0) h += 360;      // exact for 16.16 inputs, so never 360
  }
  const double l = std::clamp(hls[1] / 65536.0, 0.0, 1.0);
  const double s = std::clamp(hls[2] / 65536.0, 0.0, 1.0);
  const double m2 = l <= 0.5 ? l * (1 + s) : l + s - l * s;
  const double m1 = 2 * l - m2;
  rgb.red = ToByte(HueChannel(m1, m2, h + 120));
  rgb.green = ToByte(HueChannel(m1, m2, h));
  rgb.blue = ToByte(HueChannel(m1, m2, h - 120));
}

}  // namespace ombrix
