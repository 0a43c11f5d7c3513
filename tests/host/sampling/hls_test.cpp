// RgbToHls and HlsToRgb against a plain double implementation of the
// hexcone model, over every 8-bit colour, and the round trip.
#include <ombrix/host/pixel_ops.h>

#include "host/sampling/test_world.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>

namespace ombrix {
namespace {

PF_Fixed Fix(double v) { return PF_Fixed(std::floor(v * 65536 + 0.5)); }

void RefRgbToHls(int R, int G, int B, PF_Fixed out[3]) {
  const double r = R / 255.0, g = G / 255.0, b = B / 255.0;
  double mx = r, mn = r;
  if (g > mx) mx = g;
  if (b > mx) mx = b;
  if (g < mn) mn = g;
  if (b < mn) mn = b;
  const double l = (mx + mn) / 2;
  double h = 0, s = 0;
  if (mx > mn) {
    const double delta = mx - mn;
    if (l <= 0.5)
      s = delta / (mx + mn);
    else
      s = delta / (2 - mx - mn);
    if (R >= G && R >= B)
      h = 60 * ((g - b) / delta);
    else if (G >= B)
      h = 60 * (2 + (b - r) / delta);
    else
      h = 60 * (4 + (r - g) / delta);
    if (h < 0) h = h + 360;
  }
  out[0] = Fix(h);
  out[1] = Fix(l);
  out[2] = Fix(s);
}

double RefValue(double n1, double n2, double hue) {
  while (hue >= 360) hue -= 360;
  while (hue < 0) hue += 360;
  if (hue < 60) return n1 + (n2 - n1) * hue / 60;
  if (hue < 180) return n2;
  if (hue < 240) return n1 + (n2 - n1) * (240 - hue) / 60;
  return n1;
}

PF_Pixel RefHlsToRgb(const PF_Fixed hls[3]) {
  double h = hls[0] / 65536.0;
  while (h >= 360) h -= 360;
  while (h < 0) h += 360;
  double l = hls[1] / 65536.0, s = hls[2] / 65536.0;
  l = l < 0 ? 0 : l > 1 ? 1 : l;
  s = s < 0 ? 0 : s > 1 ? 1 : s;
  const double m2 = l <= 0.5 ? l * (1 + s) : l + s - l * s;
  const double m1 = 2 * l - m2;
  auto byte = [](double v) {
    const double b = std::floor(255 * v + 0.5);
    return uint8_t(b < 0 ? 0 : b > 255 ? 255 : b);
  };
  return PF_Pixel{0, byte(RefValue(m1, m2, h + 120)), byte(RefValue(m1, m2, h)), byte(RefValue(m1, m2, h - 120))};
}

// Every colour in the normal build; under the sanitizers a stride that still
// reaches every value of each channel.
#if defined(__SANITIZE_ADDRESS__)
constexpr uint32_t kColourStride = 97;
#else
constexpr uint32_t kColourStride = 1;
#endif

TEST(Hls, EveryColourMatchesHexconeAndSurvivesRoundTrip) {
  uint32_t bad_forward = 0, bad_inverse = 0, changed = 0, first_bad = 0;
  for (uint32_t c = 0; c < (1u << 24); c += kColourStride) {
    const PF_Pixel rgb{255, uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)};
    PF_Fixed hls[3], ref[3];
    RgbToHls(rgb, hls);
    RefRgbToHls(rgb.red, rgb.green, rgb.blue, ref);
    const bool forward_ok = hls[0] == ref[0] && hls[1] == ref[1] && hls[2] == ref[2];
    PF_Pixel back{255, 0, 0, 0};
    HlsToRgb(hls, back);
    const PF_Pixel ref_back = RefHlsToRgb(hls);
    const bool inverse_ok = back.red == ref_back.red && back.green == ref_back.green && back.blue == ref_back.blue;
    if ((!forward_ok || !inverse_ok) && bad_forward + bad_inverse == 0) first_bad = c;
    bad_forward += !forward_ok;
    bad_inverse += !inverse_ok;
    changed += !(back == rgb);
  }
  EXPECT_EQ(bad_forward, 0u) << "first mismatch at colour 0x" << std::hex << first_bad;
  EXPECT_EQ(bad_inverse, 0u) << "first mismatch at colour 0x" << std::hex << first_bad;
  // The 16.16 words keep enough precision for every byte to come back.
  EXPECT_EQ(changed, 0u);
}

TEST(Hls, PrimariesAndGreys) {
  PF_Fixed hls[3];
  RgbToHls(PF_Pixel{255, 255, 0, 0}, hls);
  EXPECT_EQ(hls[0], 0);
  EXPECT_EQ(hls[1], 0x8000);
  EXPECT_EQ(hls[2], 0x10000);
  RgbToHls(PF_Pixel{255, 0, 255, 0}, hls);
  EXPECT_EQ(hls[0], 120 << 16);
  RgbToHls(PF_Pixel{255, 0, 0, 255}, hls);
  EXPECT_EQ(hls[0], 240 << 16);
  RgbToHls(PF_Pixel{255, 255, 0, 255}, hls);  // magenta: -60 wraps to 300
  EXPECT_EQ(hls[0], 300 << 16);
  RgbToHls(PF_Pixel{255, 128, 128, 128}, hls);  // 128 / 255 * 65536 = 32896.50...
  EXPECT_EQ(hls[0], 0);
  EXPECT_EQ(hls[1], 32897);
  EXPECT_EQ(hls[2], 0);
}

TEST(Hls, InverseWrapsHueAndClampsLightnessAndSaturation) {
  auto to_rgb = [](PF_Fixed h, PF_Fixed l, PF_Fixed s) {
    const PF_Fixed hls[3] = {h, l, s};
    PF_Pixel p{77, 1, 2, 3};
    HlsToRgb(hls, p);
    return p;
  };
  EXPECT_EQ(to_rgb(0, 0x8000, 0x10000), (PF_Pixel{77, 255, 0, 0}));  // alpha untouched
  EXPECT_EQ(to_rgb(-120 << 16, 0x8000, 0x10000), (PF_Pixel{77, 0, 0, 255}));
  EXPECT_EQ(to_rgb(480 << 16, 0x8000, 0x10000), (PF_Pixel{77, 0, 255, 0}));
  EXPECT_EQ(to_rgb(360 << 16, 0x8000, 0x10000), (PF_Pixel{77, 255, 0, 0}));
  EXPECT_EQ(to_rgb(30 << 16, 0x20000, 0x10000), (PF_Pixel{77, 255, 255, 255}));
  EXPECT_EQ(to_rgb(30 << 16, -0x10000, 0x10000), (PF_Pixel{77, 0, 0, 0}));
  EXPECT_EQ(to_rgb(30 << 16, 0x8000, -0x10000), (PF_Pixel{77, 128, 128, 128}));  // 127.5 up
  // Out-of-range and awkward words against the reference.
  const PF_Fixed hues[] = {INT_MIN,         -1,        0,      1, 59 << 16, (60 << 16) - 1, 0x1234567, (240 << 16) + 3,
                           (360 << 16) - 1, 360 << 16, INT_MAX};
  const PF_Fixed levels[] = {INT_MIN, -1, 0, 1, 0x3FFF, 0x8000, 0x8001, 0xC000, 0xFFFF, 0x10000, 0x10001, INT_MAX};
  for (PF_Fixed h : hues)
    for (PF_Fixed l : levels)
      for (PF_Fixed s : levels) {
        const PF_Fixed hls[3] = {h, l, s};
        PF_Pixel ref = RefHlsToRgb(hls);
        ref.alpha = 77;
        ASSERT_EQ(to_rgb(h, l, s), ref) << h << " " << l << " " << s;
      }
}

// The fast inverse against its plain form on words the effects produce:
// in-range hues at every 1/64 degree near the sector edges, shifted and
// wrapped hues, lightness and saturation a little outside 0..1.
TEST(Hls, FastInverseEqualsPlainForm) {
  uint32_t s = 12345;
  auto next = [&s] { return s = s * 1664525u + 1013904223u; };
  const PF_Fixed edges[] = {0, 60, 120, 180, 240, 300, 360};
  uint32_t bad = 0;
  PF_Fixed first[3] = {};
  auto check = [&](PF_Fixed h, PF_Fixed l, PF_Fixed sat) {
    const PF_Fixed hls[3] = {h, l, sat};
    PF_Pixel fast{9, 0, 0, 0}, plain{9, 0, 0, 0};
    HlsToRgb(hls, fast);
    HlsToRgbReference(hls, plain);
    if (!(fast == plain) && bad++ == 0) std::copy(hls, hls + 3, first);
  };
  for (int i = 0; i < 2000000; ++i) {
    const PF_Fixed h = PF_Fixed(next() % (720u << 16)) - (180 << 16);
    check(h, PF_Fixed(next() % 0x14000) - 0x2000, PF_Fixed(next() % 0x14000) - 0x2000);
  }
  for (PF_Fixed h = 0; h < (360 << 16); h += 3) {
    check(h, 0x8000, 0x10000);
    check(h, 0x6A3D, 0xB7E1);
  }
  for (PF_Fixed e : edges)
    for (PF_Fixed d = -256; d <= 256; ++d)
      for (PF_Fixed l : {0, 1, 0x7FFF, 0x8000, 0x8001, 0xB000, 0xFFFF, 0x10000})
        check((e << 16) + d * 64, l, PF_Fixed(next() % 0x10001));
  EXPECT_EQ(bad, 0u) << "first at " << first[0] << " " << first[1] << " " << first[2];
}

TEST(Hls, FastForwardEqualsPlainFormOnEveryColour) {
  uint32_t bad = 0;
  for (uint32_t c = 0; c < (1u << 24); c += kColourStride) {
    const PF_Pixel rgb{255, uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)};
    PF_Fixed fast[3], plain[3];
    RgbToHls(rgb, fast);
    RgbToHlsReference(rgb, plain);
    bad += !std::equal(fast, fast + 3, plain);
  }
  EXPECT_EQ(bad, 0u);
}

}  // namespace
}  // namespace ombrix
