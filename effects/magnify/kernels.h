// Magnify's per-pixel work: the lens weight from the distance to the centre,
// the enlarged sample (the host's bilinear sampler, or a cubic B-spline read
// here) and its blend over the layer. Free functions on the frame's constant
// block and one pixel; the host is reached through the block's in_data.
#pragma once

#include <pf/api.h>
#include <pf/blend.h>
#include <pf/fixed.h>
#include <pf/smoothstep.h>
#include <pf/world.h>

#include <cmath>
#include <cstdint>

namespace magnify {

// Built afresh for every frame and handed to the pixel callback as its refcon.
struct Block {
  double cx, cy;           // lens centre, buffer pixels
  double inverse;          // 100 / Magnification
  double opacity;          // 0..1
  double scale;            // downsample factor R
  double feather_width;    // fw: the rim band, at least 1.5 pixels
  double feather_recip;    // 1 / fw
  double inner, inner_sq;  // inside inner the lens is at full weight; inner_sq < 0 when inner < 0
  double outer, outer_sq;  // outside outer there is no lens
  bool softer;
  PF_SampPB samp;  // source: the input layer
  const PF_EffectWorld* input;
  PF_InData* in_data;
};

inline constexpr float kSixth = 0.1666666667f;

// Cubic B-spline basis for the fraction f, without the 1/6.
inline void Basis(float f, float w[4]) {
  const float f2 = f * f, f3 = f2 * f;
  const float g = 1.0f - f;
  w[0] = g * g * g;
  w[1] = 3.0f * f3 - 6.0f * f2 + 4.0f;
  w[2] = 3.0f * (f + f2) - 3.0f * f3 + 1.0f;
  w[3] = f3;
}

inline A_u_char ToByte(float v) {
  const int i = int(v);
  return A_u_char(i < 0 ? 0 : (i > 255 ? 255 : i));
}

// The 4 x 4 cubic B-spline of the layer around (x, y), each channel on its
// own, pixels outside the layer transparent black: a row pass per source row
// (each kept as a byte), then the column pass. The plain form, tap by tap;
// SampleSofter gives the same bytes faster.
inline PF_Pixel SampleSofterReference(double x, double y, const PF_EffectWorld& layer) {
  // Far outside, every tap is outside: no integer conversion of a huge value.
  if (!(x > -3.0 && y > -3.0 && x < layer.width + 2.0 && y < layer.height + 2.0)) return PF_Pixel{0, 0, 0, 0};
  const double fx_floor = std::floor(x), fy_floor = std::floor(y);
  const A_long ix = A_long(fx_floor), iy = A_long(fy_floor);
  float wx[4], wy[4];
  Basis(float(x - fx_floor), wx);
  for (float& w : wx) w *= kSixth;
  Basis(float(y - fy_floor), wy);
  float sum[4] = {0, 0, 0, 0};
  for (int j = 0; j < 4; ++j) {
    const A_long yy = iy - 1 + j;
    float row[4] = {0, 0, 0, 0};
    if (yy >= 0 && yy < layer.height) {
      const PF_Pixel* p = pf::PixelRow(layer, yy);
      for (int i = 0; i < 4; ++i) {
        const A_long xx = ix - 1 + i;
        if (xx < 0 || xx >= layer.width) continue;
        row[0] += wx[i] * p[xx].alpha;
        row[1] += wx[i] * p[xx].red;
        row[2] += wx[i] * p[xx].green;
        row[3] += wx[i] * p[xx].blue;
      }
    }
    for (int c = 0; c < 4; ++c) sum[c] += wy[j] * float(ToByte(row[c]));
  }
  return PF_Pixel{ToByte(sum[0] * kSixth), ToByte(sum[1] * kSixth), ToByte(sum[2] * kSixth), ToByte(sum[3] * kSixth)};
}

// Four channels (alpha, red, green, blue) side by side: the same single
// precision operations in the same order on every lane, so each lane holds
// exactly what SampleSofterReference computes for its channel.
typedef float Lanes __attribute__((vector_size(16)));
typedef int32_t IntLanes __attribute__((vector_size(16)));

inline Lanes PixelLanes(const PF_Pixel& p) {
  return __builtin_convertvector((IntLanes{p.alpha, p.red, p.green, p.blue}), Lanes);
}

// ToByte on every lane: truncation, then held to 0..255.
inline IntLanes ToBytes(Lanes v) {
  IntLanes i = __builtin_convertvector(v, IntLanes);
  i = i < 0 ? IntLanes{0, 0, 0, 0} : i;
  return i > 255 ? IntLanes{255, 255, 255, 255} : i;
}

// SampleSofterReference with the four channels in one vector where all 16
// taps lie inside the layer; near the border it is used as it is.
inline PF_Pixel SampleSofter(double x, double y, const PF_EffectWorld& layer) {
  if (!(x >= 1.0 && y >= 1.0 && x < layer.width - 2.0 && y < layer.height - 2.0))
    return SampleSofterReference(x, y, layer);
  const double fx_floor = std::floor(x), fy_floor = std::floor(y);
  const A_long ix = A_long(fx_floor), iy = A_long(fy_floor);
  float wx[4], wy[4];
  Basis(float(x - fx_floor), wx);
  for (float& w : wx) w *= kSixth;
  Basis(float(y - fy_floor), wy);
  Lanes sum = {0, 0, 0, 0};
  for (int j = 0; j < 4; ++j) {
    const PF_Pixel* p = pf::PixelRow(layer, iy - 1 + j) + (ix - 1);
    Lanes row = {0, 0, 0, 0};
    for (int i = 0; i < 4; ++i) row += wx[i] * PixelLanes(p[i]);
    sum += wy[j] * __builtin_convertvector(ToBytes(row), Lanes);
  }
  const IntLanes b = ToBytes(sum * kSixth);
  return PF_Pixel{A_u_char(b[0]), A_u_char(b[1]), A_u_char(b[2]), A_u_char(b[3])};
}

// Weight of the lens at squared distance d_sq (inside the outer circle) and
// the enlarged sample there; the sample's alpha carries the weight. Across
// the rim the weight falls from the opacity to 0 along a smoothstep.
inline PF_Err LensSample(const Block& c, double dx, double dy, double d_sq, PF_Pixel* s) {
  double weight = c.opacity;
  if (d_sq > c.inner_sq) {
    const double t = (c.outer - c.in_data->utils->ansi.sqrt(d_sq)) * c.feather_recip;
    weight = pf::SmoothStep(t) * c.opacity;
  }
  const double sx = dx * c.inverse + c.cx, sy = dy * c.inverse + c.cy;
  if (c.softer) {
    *s = SampleSofter(sx, sy, *c.input);
  } else {
    PF_InData* in_data = c.in_data;
    const PF_Err err = in_data->utils->subpixel_sample(in_data->effect_ref, pf::FixedFromDouble(sx),
                                                       pf::FixedFromDouble(sy), &c.samp, s);
    if (err != PF_Err_NONE) return err;
  }
  s->alpha = A_u_char(int(s->alpha * weight));
  return PF_Err_NONE;
}

// The lens alone: transparent outside it.
inline PF_Err LensAlone(const Block& c, A_long x, A_long y, PF_Pixel& out) {
  const double dx = x - c.cx, dy = y - c.cy, d_sq = dx * dx + dy * dy;
  if (d_sq >= c.outer_sq) {
    out.alpha = 0;
    return PF_Err_NONE;
  }
  return LensSample(c, dx, dy, d_sq, &out);
}

// The lens over the layer's pixel `in`.
inline PF_Err LensOver(const Block& c, A_long x, A_long y, const PF_Pixel& in, PF_Pixel& out) {
  const double dx = x - c.cx, dy = y - c.cy, d_sq = dx * dx + dy * dy;
  if (d_sq >= c.outer_sq) {
    out = in;
    return PF_Err_NONE;
  }
  PF_Pixel s;
  const PF_Err err = LensSample(c, dx, dy, d_sq, &s);
  if (err != PF_Err_NONE) return err;
  out = pf::BlendOver(s, in);
  return PF_Err_NONE;
}

}  // namespace magnify
