// Difference's per-pixel work: each channel of the original minus the target,
// scaled by k in single precision, shown as a magnitude or around mid-grey,
// and the new alpha chosen by the menu.
#pragma once

#include <pf/api.h>

namespace difference {

enum AlphaMode {
  kAlphaDifference = 1,
  kLuminanceResult = 2,
  kLightnessResult = 3,
  kSeparator = 4,
  kOriginal = 5,
  kTarget = 6,
  kBlend = 7,
  kMax = 8,
  kFullOn = 9,
};

struct Block {
  float k;  // Intensity / 100, doubled in absolute mode
  A_long alpha_mode;
};

// |v| truncated, 255 at and beyond +-255.
inline A_u_char AbsoluteLevel(float v) {
  if (v >= 255.0f) return 255;
  if (v >= 0.0f) return A_u_char(v);
  if (v > -255.0f) return A_u_char(-v);
  return 255;
}

// (o - t) k + 127.5, truncated and clamped to 0..255.
inline A_u_char SignedLevel(float scaled) {
  const double v = double(scaled) + 127.5;
  if (v >= 255.0) return 255;
  if (v > 0.0) return A_u_char(float(v));
  return 0;
}

inline A_u_char Level(bool absolute, int diff, float k) {
  const float v = float(diff) * k;
  return absolute ? AbsoluteLevel(v) : SignedLevel(v);
}

inline A_u_char NewAlpha(const Block& b, bool absolute, const PF_Pixel& o, const PF_Pixel& t, A_u_char r, A_u_char g,
                         A_u_char bl) {
  switch (b.alpha_mode) {
    case kAlphaDifference:
      return Level(absolute, int(o.alpha) - int(t.alpha), b.k);
    case kLuminanceResult:
      return A_u_char((117 * r + 204 * g + 64 * bl) / 385);
    case kLightnessResult: {
      A_u_char m = r > g ? r : g;
      return m > bl ? m : bl;
    }
    case kOriginal:
      return o.alpha;
    case kBlend:
      return A_u_char((o.alpha + t.alpha) >> 1);
    case kMax:
      return o.alpha > t.alpha ? o.alpha : t.alpha;
    case kFullOn:
      return 255;
    default:
      return t.alpha;  // the target's alpha, the separator's item included
  }
}

// `o` is the original's pixel, `inout` holds the target's and receives the result.
inline void DifferencePixel(const Block& b, bool absolute, const PF_Pixel& o, PF_Pixel& inout) {
  const PF_Pixel t = inout;
  const A_u_char r = Level(absolute, int(o.red) - int(t.red), b.k);
  const A_u_char g = Level(absolute, int(o.green) - int(t.green), b.k);
  const A_u_char bl = Level(absolute, int(o.blue) - int(t.blue), b.k);
  inout.alpha = NewAlpha(b, absolute, o, t, r, g, bl);
  inout.red = r;
  inout.green = g;
  inout.blue = bl;
}

}  // namespace difference
