// Magnify: an enlarged copy of the layer inside a circular lens with a soft
// rim, over the layer or alone. "Softer Scaling" reads the enlargement with a
// cubic B-spline instead of the host's bilinear sampler.
#include <pf/blend.h>
#include <pf/fixed.h>
#include <pf/shell.h>

#include <cmath>
#include <cstdint>

OMBRIX_PLUGIN("OB Magnify", "obx Magnify", 11, 0, 0);

namespace {

enum {
  kParamInput = 0,
  kParamCentre,
  kParamRadius,
  kParamMagnification,
  kParamFeather,
  kParamOpacity,
  kParamSofter,
  kParamComposite,
};

constexpr pf::ParamSpec kParams[] = {
    pf::PointParam("Center", 50 << 16, 50 << 16, false),
    pf::FixSliderParam("Radius", 100 << 16, 1 << 16, 4000 << 16, 10 << 16, 500 << 16, 1, 0),
    pf::FixSliderParam("Magnification", 150 << 16, 100 << 16, 10000 << 16, 100 << 16, 500 << 16, 1, 0),
    pf::FixSliderParam("Feather", 0, 0, 1000 << 16, 0, 50 << 16, 1, 0, PF_ParamFlag_COLLAPSE_TWIRLY),
    pf::FixSliderParam("Opacity", 100 << 16, 0, 100 << 16, 0, 100 << 16, 1, PF_ValueDisplayFlag_PERCENT,
                       PF_ParamFlag_COLLAPSE_TWIRLY),
    pf::CheckboxParam(" ", "Softer Scaling", false),
    pf::CheckboxParam(" ", "Composite With Original", true),
};
static_assert(pf::ParamNamesFit(kParams));

// The iterate's constant block.
struct LensContext {
  double cx, cy;          // lens centre, buffer pixels
  double inverse;         // 100 / Magnification
  double opacity;         // 0..1
  double scale;           // downsample factor R
  double feather_width;   // fw: the rim band, at least 1.5 pixels
  double feather_recip;   // 1 / fw
  double inner, inner_sq; // inside inner the lens is at full weight; inner_sq < 0 when inner < 0
  double outer, outer_sq; // outside outer there is no lens
  bool softer;
  PF_SampPB samp;         // source: the input layer
  const PF_EffectWorld* input;
  PF_InData* in_data;
};

inline const PF_Pixel* Row(const PF_EffectWorld& w, A_long y) {
  return reinterpret_cast<const PF_Pixel*>(reinterpret_cast<const uint8_t*>(w.data) + intptr_t(y) * w.rowbytes);
}

constexpr float kSixth = 0.1666666667f;

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
// (each kept as a byte), then the column pass.
PF_Pixel SampleSofter(double x, double y, const PF_EffectWorld& layer) {
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
      const PF_Pixel* p = Row(layer, yy);
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
  return PF_Pixel{ToByte(sum[0] * kSixth), ToByte(sum[1] * kSixth), ToByte(sum[2] * kSixth),
                  ToByte(sum[3] * kSixth)};
}

// Weight of the lens at squared distance d_sq (inside the outer circle) and
// the enlarged sample there; the sample's alpha carries the weight.
PF_Err LensSample(const LensContext& c, double dx, double dy, double d_sq, PF_Pixel* s) {
  double weight = c.opacity;
  if (d_sq > c.inner_sq) {
    const double t = (c.outer - c.in_data->utils->ansi.sqrt(d_sq)) * c.feather_recip;
    weight = t <= 0.0 ? 0.0 : (t >= 1.0 ? c.opacity : t * t * (3.0 - 2.0 * t) * c.opacity);
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

PF_Err LensAlone(void* refcon, A_long x, A_long y, PF_Pixel*, PF_Pixel* out) {
  const LensContext& c = *static_cast<const LensContext*>(refcon);
  const double dx = x - c.cx, dy = y - c.cy, d_sq = dx * dx + dy * dy;
  if (d_sq >= c.outer_sq) {
    out->alpha = 0;
    return PF_Err_NONE;
  }
  return LensSample(c, dx, dy, d_sq, out);
}

PF_Err LensOver(void* refcon, A_long x, A_long y, PF_Pixel* in, PF_Pixel* out) {
  const LensContext& c = *static_cast<const LensContext*>(refcon);
  const double dx = x - c.cx, dy = y - c.cy, d_sq = dx * dx + dy * dy;
  if (d_sq >= c.outer_sq) {
    *out = *in;
    return PF_Err_NONE;
  }
  PF_Pixel s;
  const PF_Err err = LensSample(c, dx, dy, d_sq, &s);
  if (err != PF_Err_NONE) return err;
  *out = pf::BlendOver(s, *in);
  return PF_Err_NONE;
}

PF_Err Render(PF_InData* in_data, PF_OutData*, PF_ParamDef* params[], PF_LayerDef* output, void*) {
  PF_UtilCallbacks* const utils = in_data->utils;
  PF_EffectWorld* input = &params[kParamInput]->u.ld;
  LensContext c{};
  c.cx = params[kParamCentre]->u.td.x_value / 65536.0;
  c.cy = params[kParamCentre]->u.td.y_value / 65536.0;
  c.inverse = 100.0 / (params[kParamMagnification]->u.fd.value / 65536.0);
  c.opacity = params[kParamOpacity]->u.fd.value / 65536.0 * 0.01;
  c.scale = double(in_data->downsample_x.num) / double(in_data->downsample_x.den);
  const double radius = c.scale * (params[kParamRadius]->u.fd.value / 65536.0);
  c.feather_width = c.scale * (params[kParamFeather]->u.fd.value / 65536.0) * 2.0 + 1.5;
  c.feather_recip = 1.0 / c.feather_width;
  c.inner = radius - c.feather_width / 2.0;
  c.inner_sq = c.inner < 0.0 ? -(c.inner * c.inner) : c.inner * c.inner;
  c.outer = radius + c.feather_width / 2.0;
  c.outer_sq = c.outer * c.outer;
  c.softer = params[kParamSofter]->u.bd.value != 0 && in_data->quality != PF_Quality_LO;
  c.samp.src = input;
  c.input = input;
  c.in_data = in_data;
  const bool composite = params[kParamComposite]->u.bd.value != 0;

  if (c.opacity * 255.0 < 0.5) {
    return composite ? utils->copy(in_data->effect_ref, input, output, nullptr, nullptr)
                     : utils->fill(in_data->effect_ref, nullptr, nullptr, output);
  }
  // The lens alone reads no input pixel; the input is still passed as the
  // source, which the host requires.
  return utils->iterate(in_data, 0, output->height, input, nullptr, &c, composite ? LensOver : LensAlone, output);
}

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
  return pf::RegisterParams(in_data, out_data, kParams, pf::ParamRecord::kReused);
}

// Commands 0..11 to handler slots: 0 about, 1 global setup, 2 parameters,
// 3 render, 4 nothing.
constexpr uint8_t kSlots[pf::kDispatchedCommands] = {0, 1, 4, 4, 2, 4, 4, 4, 4, 4, 4, 3};
constexpr pf::Handler kHandlers[] = {pf::About, pf::GlobalSetup, ParamsSetup, Render, pf::NoCommand};

}  // namespace

OMBRIX_ENTRY(MagnifyMain);

PF_Err MagnifyMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                   PF_LayerDef* output, void* extra) {
  return pf::DispatchBySlot(kSlots, kHandlers, cmd, in_data, out_data, params, output, extra);
}
