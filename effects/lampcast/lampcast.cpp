// Lampcast: the shadow a point light casts from the layer's opaque parts.
// Every output pixel reads the layer's alpha at a point pulled towards the
// light, so the shadow is the layer enlarged about the light source. The
// shadow can be softened (the host's smoothing routine on a copy of the
// layer), tinted by the colour of semi-transparent "glass" areas, and shown
// alone or under the layer.
#include <pf/fixed.h>
#include <pf/shell.h>
#include <pf/smooth.h>

#include "kernels.h"

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
  kParamCount,
};

using pf::Fix;

constexpr auto kParams = pf::ParamTable<kParamCount>({
    {kParamColour, pf::ColorParam("Shadow Color", PF_Pixel{255, 0, 0, 0})},
    {kParamOpacity,
     pf::FixSliderParam("Opacity", 0x8000, 0, PF_Fixed_ONE, 0, PF_Fixed_ONE, 1, PF_ValueDisplayFlag_PERCENT)},
    {kParamLight, pf::PointParam("Light Source", Fix(25), Fix(25), false)},
    {kParamDistance, pf::FixSliderParam("Projection Distance", Fix(10), 0, Fix(100), 0, Fix(50), 1, 0)},
    {kParamSoftness, pf::FixSliderParam("Softness", 0, 0, Fix(100), 0, Fix(50), 1, 0)},
    {kParamMode, pf::PopupParam("Render...", "Regular|Glass Edge", lampcast::kRegular)},
    {kParamInfluence, pf::FixSliderParam("Color Influence (Glass Edge)", PF_Fixed_ONE, 0, Fix(2), 0, PF_Fixed_ONE, 1,
                                         PF_ValueDisplayFlag_PERCENT, PF_ParamFlag_COLLAPSE_TWIRLY)},
    {kParamComposite, pf::CheckboxParam(" ", "Composite Shadow", true)},
});

template <lampcast::ShadowFunc Shadow>
PF_Err UnderLayer(void* refcon, A_long x, A_long y, PF_Pixel* in, PF_Pixel* out) {
  return lampcast::UnderLayer<Shadow>(*static_cast<const lampcast::Block*>(refcon), x, y, *in, *out);
}

template <lampcast::ShadowFunc Shadow>
PF_Err Alone(void* refcon, A_long x, A_long y, PF_Pixel*, PF_Pixel* out) {
  return lampcast::Alone<Shadow>(*static_cast<const lampcast::Block*>(refcon), x, y, *out);
}

PF_Err Render(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output, void*) {
  PF_UtilCallbacks* const utils = in_data->utils;
  PF_EffectWorld* input = &params[kParamInput]->u.ld;
  const bool composite = params[kParamComposite]->u.bd.value != 0;
  if (params[kParamOpacity]->u.fd.value == 0) {
    return composite ? utils->copy(in_data->effect_ref, input, output, nullptr, nullptr) : PF_Err_NONE;
  }
  const PF_Fixed influence = params[kParamInfluence]->u.fd.value;
  const bool glass = params[kParamMode]->u.pd.value == lampcast::kGlassEdge && influence != 0;

  lampcast::Block c{};
  c.light_x = float(pf::FixedToDouble(params[kParamLight]->u.td.x_value));
  c.light_y = float(pf::FixedToDouble(params[kParamLight]->u.td.y_value));
  c.k = pf::FixSliderValue(params[kParamDistance]) * 0.01;
  c.opacity = pf::FixSliderValue(params[kParamOpacity]);
  c.influence = pf::FixedToDouble(influence) * 0.00784313725490196;
  c.colour = params[kParamColour]->u.cd.value;
  c.samp.src = input;
  c.in_data = in_data;

  // Softness: the shadow is read from a smoothed copy of the layer, which is
  // disposed of on every path out.
  PF_EffectWorld soft{};
  bool have_soft = false;
  const double softness = pf::FixSliderValue(params[kParamSoftness]) * 0.5;
  if (softness > 0.0) {
    PF_Err err = utils->new_world(in_data->effect_ref, output->width, output->height, 0, &soft);
    if (err != PF_Err_NONE) return err;
    err = utils->copy(in_data->effect_ref, input, &soft, nullptr, nullptr);
    if (err == PF_Err_NONE) {
      const double scale = pf::Ratio(in_data->downsample_x);
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

  using lampcast::GlassShadow;
  using lampcast::RegularShadow;
  PF_IteratePixel8Func pixel = composite ? (glass ? UnderLayer<GlassShadow> : UnderLayer<RegularShadow>)
                                         : (glass ? Alone<GlassShadow> : Alone<RegularShadow>);
  const PF_Err err = utils->iterate(in_data, 0, output->height, input, nullptr, &c, pixel, output);
  PF_Err disposed = PF_Err_NONE;
  if (have_soft) disposed = utils->dispose_world(in_data->effect_ref, &soft);
  return err != PF_Err_NONE ? err : disposed;
}

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
  return pf::RegisterParams(in_data, out_data, kParams, pf::ParamRecord::kReused);
}

constexpr pf::Commands kCommands{
    .about = pf::About,
    .global_setup = pf::GlobalSetup,
    .params_setup = ParamsSetup,
    .render = Render,
};

}  // namespace

OMBRIX_MAIN(LampcastMain, kCommands);
