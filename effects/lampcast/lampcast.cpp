// Lampcast: the shadow a point light casts from the layer's opaque parts.
// Every output pixel reads the layer's alpha at a point pulled towards the
// light, so the shadow is the layer enlarged about the light source. The
// shadow can be softened (the host's smoothing routine on a copy of the
// layer), tinted by the colour of semi-transparent "glass" areas, and shown
// alone or under the layer.
#include <pf/blend.h>
#include <pf/fixed.h>
#include <pf/shell.h>
#include <pf/smooth.h>

#include <cstdint>

OMBRIX_PLUGIN("OB Lampcast", "obx Lampcast", 11, 0, 0);

namespace {

enum {
  kParamInput = 0,
  kParamColour,
  kParamOpacity,
  kParamLight,
  kParamDistance,
  kParamSoftness,
  kParamMode,
  kParamInfluence,
  kParamComposite,
};

enum { kRegular = 1, kGlassEdge = 2 };

constexpr pf::ParamSpec kParams[] = {
    pf::ColorParam("Shadow Color", PF_Pixel{255, 0, 0, 0}),
    pf::FixSliderParam("Opacity", 0x8000, 0, PF_Fixed_ONE, 0, PF_Fixed_ONE, 1, PF_ValueDisplayFlag_PERCENT),
    pf::PointParam("Light Source", 25 << 16, 25 << 16, false),
    pf::FixSliderParam("Projection Distance", 10 << 16, 0, 100 << 16, 0, 50 << 16, 1, 0),
    pf::FixSliderParam("Softness", 0, 0, 100 << 16, 0, 50 << 16, 1, 0),
    pf::PopupParam("Render...", "Regular|Glass Edge", kRegular),
    pf::FixSliderParam("Color Influence (Glass Edge)", PF_Fixed_ONE, 0, 2 << 16, 0, PF_Fixed_ONE, 1,
                       PF_ValueDisplayFlag_PERCENT, PF_ParamFlag_COLLAPSE_TWIRLY),
    pf::CheckboxParam(" ", "Composite Shadow", true),
};
static_assert(pf::ParamNamesFit(kParams));

// The iterate's constant block.
struct ShadowContext {
  float light_x, light_y;  // buffer pixels
  double k;                // Projection Distance x 0.01: 0 samples the pixel itself, 1 the light
  double opacity;          // 0..1
  double influence;        // Color Influence / 127.5
  PF_Pixel colour;         // the shadow colour
  PF_SampPB samp;          // source: the layer, or its softened copy
  PF_InData* in_data;
};

// The layer (or its softened copy) at the point pulled towards the light.
inline PF_Err ProjectedSample(const ShadowContext& c, A_long x, A_long y, PF_Pixel* v) {
  const double sx = x + (double(c.light_x) - x) * c.k;
  const double sy = y + (double(c.light_y) - y) * c.k;
  return c.in_data->utils->subpixel_sample(c.in_data->effect_ref, pf::FixedFromDouble(sx), pf::FixedFromDouble(sy),
                                           &c.samp, v);
}

inline A_u_char ShadowAlpha(const ShadowContext& c, const PF_Pixel& v) { return A_u_char(int(v.alpha * c.opacity)); }

PF_Pixel RegularShadow(const ShadowContext& c, const PF_Pixel& v) {
  PF_Pixel s = c.colour;
  s.alpha = ShadowAlpha(c, v);
  return s;
}

// Semi-transparent parts of the layer pass their own colour into the
// shadow: the more transparent, the more of it (all of it from m = 1 on).
PF_Pixel GlassShadow(const ShadowContext& c, const PF_Pixel& v) {
  PF_Pixel s = c.colour;
  if (v.alpha != 255) {
    const double m = (255 - v.alpha) * c.influence;
    if (m >= 1.0) {
      s.red = v.red;
      s.green = v.green;
      s.blue = v.blue;
    } else if (m > 0.0) {
      const double d = (1.0 - m) * (1.0 - m);
      s.red = A_u_char(int(d * c.colour.red + (1.0 - d) * v.red));
      s.green = A_u_char(int(d * c.colour.green + (1.0 - d) * v.green));
      s.blue = A_u_char(int(d * c.colour.blue + (1.0 - d) * v.blue));
    }
  }
  s.alpha = ShadowAlpha(c, v);
  return s;
}

template <PF_Pixel (*Shadow)(const ShadowContext&, const PF_Pixel&)>
PF_Err WithComposite(void* refcon, A_long x, A_long y, PF_Pixel* in, PF_Pixel* out) {
  const ShadowContext& c = *static_cast<const ShadowContext*>(refcon);
  if (in->alpha == 255) {
    *out = *in;
    return PF_Err_NONE;
  }
  PF_Pixel v;
  const PF_Err err = ProjectedSample(c, x, y, &v);
  if (err != PF_Err_NONE) return err;
  *out = v.alpha == 0 ? *in : pf::BlendOver(*in, Shadow(c, v));
  return PF_Err_NONE;
}

template <PF_Pixel (*Shadow)(const ShadowContext&, const PF_Pixel&)>
PF_Err Alone(void* refcon, A_long x, A_long y, PF_Pixel*, PF_Pixel* out) {
  const ShadowContext& c = *static_cast<const ShadowContext*>(refcon);
  PF_Pixel v;
  const PF_Err err = ProjectedSample(c, x, y, &v);
  if (err != PF_Err_NONE) return err;
  if (v.alpha == 0) {
    out->alpha = 0;
  } else {
    *out = Shadow(c, v);
  }
  return PF_Err_NONE;
}

PF_Err Render(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output, void*) {
  PF_UtilCallbacks* const utils = in_data->utils;
  PF_EffectWorld* input = &params[kParamInput]->u.ld;
  const bool composite = params[kParamComposite]->u.bd.value != 0;
  if (params[kParamOpacity]->u.fd.value == 0) {
    return composite ? utils->copy(in_data->effect_ref, input, output, nullptr, nullptr) : PF_Err_NONE;
  }
  const PF_Fixed influence = params[kParamInfluence]->u.fd.value;
  const bool glass = params[kParamMode]->u.pd.value == kGlassEdge && influence != 0;

  ShadowContext c{};
  c.light_x = float(params[kParamLight]->u.td.x_value / 65536.0);
  c.light_y = float(params[kParamLight]->u.td.y_value / 65536.0);
  c.k = params[kParamDistance]->u.fd.value / 65536.0 * 0.01;
  c.opacity = params[kParamOpacity]->u.fd.value / 65536.0;
  c.influence = influence / 65536.0 * 0.00784313725490196;
  c.colour = params[kParamColour]->u.cd.value;
  c.samp.src = input;
  c.in_data = in_data;

  // Softness: the shadow is read from a smoothed copy of the layer, which is
  // disposed of on every path out.
  PF_EffectWorld soft{};
  bool have_soft = false;
  const double softness = params[kParamSoftness]->u.fd.value / 65536.0 * 0.5;
  if (softness > 0.0) {
    PF_Err err = utils->new_world(in_data->effect_ref, output->width, output->height, 0, &soft);
    if (err != PF_Err_NONE) return err;
    err = utils->copy(in_data->effect_ref, input, &soft, nullptr, nullptr);
    if (err == PF_Err_NONE) {
      const double scale = double(in_data->downsample_x.num) / double(in_data->downsample_x.den);
      A_long block[3] = {33, 66, 99};
      err = pf::SmoothWorld(in_data, out_data, scale * softness, block, glass ? 'o' : 'a', &soft);
    }
    if (err != PF_Err_NONE) {
      utils->dispose_world(in_data->effect_ref, &soft);
      return err;
    }
    c.samp.src = &soft;
    have_soft = true;
  }

  PF_IteratePixel8Func pixel = composite ? (glass ? WithComposite<GlassShadow> : WithComposite<RegularShadow>)
                                         : (glass ? Alone<GlassShadow> : Alone<RegularShadow>);
  const PF_Err err = utils->iterate(in_data, 0, output->height, input, nullptr, &c, pixel, output);
  PF_Err disposed = PF_Err_NONE;
  if (have_soft) disposed = utils->dispose_world(in_data->effect_ref, &soft);
  return err != PF_Err_NONE ? err : disposed;
}

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
  return pf::RegisterParams(in_data, out_data, kParams, pf::ParamRecord::kReused);
}

// Commands 0..11 to handler slots: 0 about, 1 global setup, 2 parameters,
// 3 render, 4 nothing.
constexpr uint8_t kSlots[pf::kDispatchedCommands] = {0, 1, 4, 4, 2, 4, 4, 4, 4, 4, 4, 3};
constexpr pf::Handler kHandlers[] = {pf::About, pf::GlobalSetup, ParamsSetup, Render, pf::NoCommand};

}  // namespace

OMBRIX_ENTRY(LampcastMain);

PF_Err LampcastMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                    PF_LayerDef* output, void* extra) {
  return pf::DispatchBySlot(kSlots, kHandlers, cmd, in_data, out_data, params, output, extra);
}
