// Hueswap's per-pixel work: how close a pixel is to the "From" colour in
// hue, lightness and saturation, and what that closeness does to it. Free
// functions on the frame's constant block and one pixel; the colour
// conversions are the host's, reached through the block.
#pragma once

#include <pf/api.h>
#include <pf/fixed.h>

namespace hueswap {

inline constexpr PF_Fixed kHalfTurn = 0xB40000;   // 180 degrees in 16.16
inline constexpr PF_Fixed kFullTurn = 0x1680000;  // 360 degrees

// Built afresh for every frame and handed to the pixel callback as its refcon.
struct Block {
  PF_Pixel from, to;
  PF_Fixed from_hls[3];  // hue, lightness, saturation
  PF_Fixed to_hls[3];
  PF_Fixed dh, dl, ds;  // To - From, the hue the short way round
  double sh, sl, ss;    // distance weights of hue, lightness, saturation
  double f;             // softness factor (times 255 for the mask view)
  bool change_lightness;
  bool change_saturation;
  bool transform;
  PF_ProgPtr effect_ref;
  const PF_ColorCallbacks* color;
};

// A hue difference brought into -180..+180 degrees.
constexpr PF_Fixed ShortHueDifference(PF_Fixed to, PF_Fixed from) {
  PF_Fixed d = to - from;
  if (d > kHalfTurn) d -= kFullTurn;
  if (d < -kHalfTurn) d += kFullTurn;
  return d;
}

// The weights: a hue difference of 190 x tolerance (16.16 degrees) counts
// 1, lightness and saturation differences of the full tolerance 0.125.
// Tolerances are their raw 16.16 words, all above 0.
inline void SetWeights(Block& b, PF_Fixed hue_tol, PF_Fixed light_tol, PF_Fixed sat_tol, PF_Fixed softness) {
  b.sh = 1.0 / (190.0 * double(hue_tol));
  b.sl = 0.125 / double(light_tol);
  b.ss = 0.125 / double(sat_tol);
  b.f = 1.0 / (pf::FixedToDouble(softness) + 1.0 / 65536.0);
}

constexpr PF_Fixed Abs(PF_Fixed v) { return v < 0 ? -v : v; }

// The selection distance g of a pixel with HLS `hls`: 0 at the From colour,
// 1 at the edge of the tolerances.
inline double Distance(const Block& b, const PF_Fixed hls[3]) {
  PF_Fixed h = Abs(b.from_hls[0] - hls[0]);
  if (h > kHalfTurn) h = kFullTurn - h;
  return h * b.sh + Abs(b.from_hls[2] - hls[2]) * b.ss + Abs(b.from_hls[1] - hls[1]) * b.sl;
}

constexpr PF_Fixed ClampUnit(PF_Fixed v) { return v < 0 ? 0 : (v > 0x10000 ? 0x10000 : v); }

// The colour view. `in` and `out` are distinct pixels.
inline PF_Err ColourPixel(const Block& b, const PF_Pixel& in, PF_Pixel& out) {
  if (in.alpha == 0) {
    out = in;
    return PF_Err_NONE;
  }
  PF_Pixel src = in;
  PF_HLS_Pixel hls;
  PF_Err err = b.color->RGBtoHLS(b.effect_ref, &src, hls);
  if (err != PF_Err_NONE) return err;
  const double g = Distance(b, hls);
  if (g >= 1.0) {
    out = in;
    return PF_Err_NONE;
  }
  double m = b.f * (1.0 - g);
  if (m > 1.0) m = 1.0;
  if (m < 0.0) m = 0.0;

  PF_HLS_Pixel changed;
  if (b.transform) {
    changed[0] = PF_Fixed(b.dh * m + hls[0]);
    changed[1] = b.change_lightness ? ClampUnit(PF_Fixed(m * b.dl + hls[1])) : hls[1];
    changed[2] = b.change_saturation ? ClampUnit(PF_Fixed(m * b.ds + hls[2])) : hls[2];
  } else {
    changed[0] = b.to_hls[0];
    changed[1] = b.change_lightness ? b.to_hls[1] : hls[1];
    changed[2] = b.change_saturation ? b.to_hls[2] : hls[2];
  }
  PF_Pixel result = in;
  err = b.color->HLStoRGB(b.effect_ref, changed, &result);
  if (err != PF_Err_NONE) return err;
  result.alpha = in.alpha;
  if (m < 1.0) {
    result.red = A_u_char((result.red - in.red) * m + in.red);
    result.green = A_u_char((result.green - in.green) * m + in.green);
    result.blue = A_u_char((result.blue - in.blue) * m + in.blue);
  }
  out = result;
  return PF_Err_NONE;
}

// The mask view: the selection strength as grey, b.f already times 255.
inline PF_Err MaskPixel(const Block& b, const PF_Pixel& in, PF_Pixel& out) {
  if (in.alpha == 0) {
    out = in;
    return PF_Err_NONE;
  }
  PF_Pixel src = in;
  PF_HLS_Pixel hls;
  const PF_Err err = b.color->RGBtoHLS(b.effect_ref, &src, hls);
  if (err != PF_Err_NONE) return err;
  const double g = Distance(b, hls);
  if (g > 1.0) {
    out = PF_Pixel{255, 0, 0, 0};
    return PF_Err_NONE;
  }
  const double v = b.f * (1.0 - g);
  A_u_char grey = 0;
  if (v >= 255.0) {
    grey = 255;
  } else if (v > 0.0) {
    grey = A_u_char(v);
  }
  out = PF_Pixel{in.alpha, grey, grey, grey};
  return PF_Err_NONE;
}

// A row of `width` pixels through ColourPixel or MaskPixel, left to right,
// stopping at the first error as the per-pixel walk does.
template <PF_Err (*Pixel)(const Block&, const PF_Pixel&, PF_Pixel&)>
inline PF_Err Row(const Block& b, A_long width, const PF_Pixel* in, PF_Pixel* out) {
  for (A_long x = 0; x < width; ++x)
    if (PF_Err err = Pixel(b, in[x], out[x])) return err;
  return PF_Err_NONE;
}

inline PF_Err ColourRow(const Block& b, A_long width, const PF_Pixel* in, PF_Pixel* out) {
  return Row<ColourPixel>(b, width, in, out);
}

inline PF_Err MaskRow(const Block& b, A_long width, const PF_Pixel* in, PF_Pixel* out) {
  return Row<MaskPixel>(b, width, in, out);
}

}  // namespace hueswap
