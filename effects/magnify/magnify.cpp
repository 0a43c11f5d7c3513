// Magnify: an enlarged copy of the layer inside a circular lens with a soft
// rim, over the layer or alone. "Softer Scaling" reads the enlargement with a
// cubic B-spline instead of the host's bilinear sampler.
#include <pf/fixed.h>
#include <pf/shell.h>

#include "kernels.h"

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
  kParamCount,
};

using pf::Fix;

constexpr auto kParams = pf::ParamTable<kParamCount>({
    {kParamCentre, pf::PointParam("Center", Fix(50), Fix(50), false)},
    {kParamRadius, pf::FixSliderParam("Radius", Fix(100), Fix(1), Fix(4000), Fix(10), Fix(500), 1, 0)},
    {kParamMagnification,
     pf::FixSliderParam("Magnification", Fix(150), Fix(100), Fix(10000), Fix(100), Fix(500), 1, 0)},
    {kParamFeather, pf::FixSliderParam("Feather", 0, 0, Fix(1000), 0, Fix(50), 1, 0, PF_ParamFlag_COLLAPSE_TWIRLY)},
    {kParamOpacity, pf::FixSliderParam("Opacity", Fix(100), 0, Fix(100), 0, Fix(100), 1, PF_ValueDisplayFlag_PERCENT,
                                       PF_ParamFlag_COLLAPSE_TWIRLY)},
    {kParamSofter, pf::CheckboxParam(" ", "Softer Scaling", false)},
    {kParamComposite, pf::CheckboxParam(" ", "Composite With Original", true)},
});

PF_Err LensAlone(void* refcon, A_long x, A_long y, PF_Pixel*, PF_Pixel* out) {
  return magnify::LensAlone(*static_cast<const magnify::Block*>(refcon), x, y, *out);
}

PF_Err LensOver(void* refcon, A_long x, A_long y, PF_Pixel* in, PF_Pixel* out) {
  return magnify::LensOver(*static_cast<const magnify::Block*>(refcon), x, y, *in, *out);
}

PF_Err Render(PF_InData* in_data, PF_OutData*, PF_ParamDef* params[], PF_LayerDef* output, void*) {
  PF_UtilCallbacks* const utils = in_data->utils;
  PF_EffectWorld* input = &params[kParamInput]->u.ld;
  magnify::Block c{};
  c.cx = pf::FixedToDouble(params[kParamCentre]->u.td.x_value);
  c.cy = pf::FixedToDouble(params[kParamCentre]->u.td.y_value);
  c.inverse = 100.0 / pf::FixSliderValue(params[kParamMagnification]);
  c.opacity = pf::FixSliderValue(params[kParamOpacity]) * 0.01;
  c.scale = pf::Ratio(in_data->downsample_x);
  const double radius = c.scale * pf::FixSliderValue(params[kParamRadius]);
  c.feather_width = c.scale * pf::FixSliderValue(params[kParamFeather]) * 2.0 + 1.5;
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

constexpr pf::Commands kCommands{
    .about = pf::About,
    .global_setup = pf::GlobalSetup,
    .params_setup = ParamsSetup,
    .render = Render,
};

}  // namespace

OMBRIX_MAIN(MagnifyMain, kCommands);
