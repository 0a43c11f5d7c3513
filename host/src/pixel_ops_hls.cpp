// colorCB: RGB <-> HLS with the hexcone model, 16.16 words.
//
// RgbToHls works in integers: every result is the rounded quotient of two
// small integers, which the double formula reaches exactly (see below), so
// the bytes are the same as the double evaluation without its divisions.
// HlsToRgb finds from the hue's sector which channel lies on a ramp and
// evaluates only that channel's quotient, in the plain form's order.
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

// ceil(2^64 / d) for the even divisors d = 2q, q = 1..510: floor(n / d) is
// the high word of n * kReciprocal[q] for every n below 2^32 (the error of
// the rounded-up reciprocal adds less than n / 2^64 < 1 / d to n / d, whose
// fraction is at most 1 - 1 / d).
constexpr std::array<uint64_t, 511> kReciprocal = [] {
  std::array<uint64_t, 511> t{};
  for (uint64_t q = 1; q < t.size(); ++q) t[q] = ~uint64_t(0) / (2 * q) + 1;
  return t;
}();

// round(p / q) = floor((2p + q) / 2q) for 0 <= p, 2p + q < 2^32, 1 <= q <= 510.
inline uint32_t RoundedQuotient(uint32_t p, uint32_t q) { return uint32_t((u128(2 * p + q) * kReciprocal[q]) >> 64); }

}  // namespace

// With the bytes' largest mx, smallest mn, sum = mx + mn and d = mx - mn,
// the double formula computes L = sum / 510, S = d / sum or d / (510 - sum)
// and H = 60 k / d plus 0, 120, 240 or 360 degrees (k the difference of the
// other two bytes). Times 65536 each is p / q with q <= 510 holding fewer
// than 17 factors of 2, so never a half-integer and at least 1 / 1020 from
// one, while the double evaluation errs by far less than that: both round
// to the same word. With sum = 255 the two saturation forms are equal.
void RgbToHls(const PF_Pixel& rgb, PF_Fixed hls[3]) {
  const int32_t r = rgb.red, g = rgb.green, b = rgb.blue;
  const int32_t mx = std::max(std::max(r, g), b);
  const int32_t mn = std::min(std::min(r, g), b);
  const uint32_t sum = uint32_t(mx + mn), d = uint32_t(mx - mn);
  hls[1] = PF_Fixed(RoundedQuotient(32768 * sum, 255));
  if (d == 0) {
    hls[0] = hls[2] = 0;
    return;
  }
  hls[2] = PF_Fixed(RoundedQuotient(65536 * d, sum <= 255 ? sum : 510 - sum));
  // 60 degrees in 16.16 is 3932160; the hue step is 60 x k / d degrees,
  // k the difference of the two other bytes (ties take red, then green).
  // Masks rather than branches: which byte is largest is not predictable.
  const int32_t red = -int32_t(r == mx), green = ~red & -int32_t(g == mx), blue = ~(red | green);
  const int32_t k = (red & (g - b)) | (green & (b - r)) | (blue & (r - g));
  const int32_t negative = k >> 31;  // all ones when k < 0
  const int32_t base = (red & negative & 360) | (green & 120) | (blue & 240);
  // k / d is never a half away from a whole 16.16 step, so rounding the
  // magnitude and restoring the sign rounds halves-up the same way.
  const int32_t step = int32_t(RoundedQuotient(3932160u * uint32_t((k ^ negative) - negative), d));
  hls[0] = base * 65536 + ((step ^ negative) - negative);
}

void RgbToHlsReference(const PF_Pixel& rgb, PF_Fixed hls[3]) {
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

namespace {

// m1 and m2 of the inverse, and the hue wrapped into [0, 360).
struct InverseTerms {
  double h, m1, m2;
};

inline InverseTerms Terms(double h, const PF_Fixed hls[3]) {
  const double l = std::clamp(hls[1] / 65536.0, 0.0, 1.0);
  const double s = std::clamp(hls[2] / 65536.0, 0.0, 1.0);
  // Both forms, one picked by index: the branch would be mispredicted
  // as often as lightness crosses one half.
  const double forms[2] = {l * (1 + s), l + s - l * s};
  const double m2 = forms[l > 0.5];
  return {h, 2 * l - m2, m2};
}

constexpr PF_Fixed kSixty = 60 * 65536;

// ToByte with the limits as min and max: the same byte for every v.
inline uint8_t ClampedByte(double v) {
  const double b = 255.0 * v + 0.5;
  return uint8_t(int(std::min(std::max(b, 0.0), 255.0)));
}

// Which of n1 (0), n2 (1) and the ramp (2) red, green and blue take in each
// 60-degree sector of the hue: the channel hues h + 120, h and h - 120 are
// 120 degrees apart, so exactly one of them lies on a ramp.
constexpr uint8_t kSectorPick[6][3] = {{1, 2, 0}, {2, 1, 0}, {0, 1, 2}, {0, 2, 1}, {2, 0, 1}, {1, 0, 2}};

}  // namespace

// The hue as a 16.16 word in [0, 360 x 65536): every channel hue and ramp
// argument of the plain form (h - 120, 240 - (h + 120), ...) is then an
// exact multiple of 1/65536, found here in integers; only the ramp value
// n1 + (n2 - n1) x t / 60 is rounded, in the plain form's order.
void HlsToRgb(const PF_Fixed hls[3], PF_Pixel& rgb) {
  PF_Fixed hw = hls[0];
  if (hw < 0 || hw >= 6 * kSixty) {
    hw %= 6 * kSixty;  // what fmod gives, exactly
    if (hw < 0) hw += 6 * kSixty;
  }
  const int sector = hw / kSixty;
  // Rising ramps (even sectors) run from the sector's start, falling ones
  // toward the next sector's end.
  const PF_Fixed t = sector % 2 == 0 ? hw - sector * kSixty : (sector + 1) * kSixty - hw;
  const InverseTerms terms = Terms(hw / 65536.0, hls);
  const double ramp = terms.m1 + (terms.m2 - terms.m1) * (t / 65536.0) / 60;
  const uint8_t bytes[3] = {ClampedByte(terms.m1), ClampedByte(terms.m2), ClampedByte(ramp)};
  const uint8_t* pick = kSectorPick[sector];
  rgb.red = bytes[pick[0]];
  rgb.green = bytes[pick[1]];
  rgb.blue = bytes[pick[2]];
}

void HlsToRgbReference(const PF_Fixed hls[3], PF_Pixel& rgb) {
  double h = hls[0] / 65536.0;
  if (hls[0] < 0 || hls[0] >= 360 * 65536) {
    h = std::fmod(h, 360.0);  // exact
    if (h < 0) h += 360;      // exact for 16.16 inputs, so never 360
  }
  const InverseTerms t = Terms(h, hls);
  rgb.red = ToByte(HueChannel(t.m1, t.m2, t.h + 120));
  rgb.green = ToByte(HueChannel(t.m1, t.m2, t.h));
  rgb.blue = ToByte(HueChannel(t.m1, t.m2, t.h - 120));
}

}  // namespace ombrix
