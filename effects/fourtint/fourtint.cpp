// Fourtint: a smooth gradient between four coloured points, with an optional
// per-frame noise to break up banding. The layer's alpha is kept.
#include <pf/fixed.h>
#include <pf/shell.h>

#include "kernels.h"

OMBRIX_PLUGIN("OB Fourtint", "obx Fourtint", 11, 0, 0);

namespace {

// The four points sit at 1, 3, 5, 7, each colour right after its point.
enum {
  kParamInput = 0,
  kParamPoint1,
  kParamColour1,
  kParamPoint2,
  kParamColour2,
  kParamPoint3,
  kParamColour3,
  kParamPoint4,
  kParamColour4,
  kParamBlend,
  kParamJitter,
  kParamCount,
};

using pf::Fix;

constexpr auto kParams = pf::ParamTable<kParamCount>({
    {kParamPoint1, pf::PointParam("Point 1", Fix(10), Fix(10), false)},
    {kParamColour1, pf::ColorParam("Color 1", PF_Pixel{255, 255, 255, 0})},
    {kParamPoint2, pf::PointParam("Point 2", Fix(90), Fix(10), false)},
    {kParamColour2, pf::ColorParam("Color 2", PF_Pixel{255, 0, 255, 0})},
    {kParamPoint3, pf::PointParam("Point 3", Fix(10), Fix(90), false)},
    {kParamColour3, pf::ColorParam("Color 3", PF_Pixel{255, 255, 0, 255})},
    {kParamPoint4, pf::PointParam("Point 4", Fix(90), Fix(90), false)},
    {kParamColour4, pf::ColorParam("Color 4", PF_Pixel{255, 0, 0, 255})},
    {kParamBlend,
     pf::FixSliderParam("Blend", Fix(100), Fix(5), Fix(10000), Fix(10), Fix(500), 1, PF_ValueDisplayFlag_NONE)},
    {kParamJitter, pf::FixSliderParam("Jitter", 0, 0, Fix(500), 0, Fix(100), 1, PF_ValueDisplayFlag_PERCENT,
                                      PF_ParamFlag_COLLAPSE_TWIRLY)},
});

// Refilled by every render that uses jitter, only read while the host iterates.
fourtint::JitterTable g_jitter;

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
  return pf::RegisterParams(in_data, out_data, kParams, pf::ParamRecord::kReused);
}

PF_Err PlainPixel(void* refcon, A_long x, A_long y, PF_Pixel* in, PF_Pixel* out) {
  fourtint::PlainPixel(*static_cast<const fourtint::Block*>(refcon), x, y, *in, *out);
  return PF_Err_NONE;
}

PF_Err JitterPixel(void* refcon, A_long x, A_long y, PF_Pixel* in, PF_Pixel* out) {
  fourtint::JitterPixel(*static_cast<const fourtint::Block*>(refcon), g_jitter, x, y, *in, *out);
  return PF_Err_NONE;
}

PF_Err Render(PF_InData* in_data, PF_OutData*, PF_ParamDef* params[], PF_LayerDef* output, void*) {
  PF_EffectWorld* input = &params[kParamInput]->u.ld;
  fourtint::Block block;
  for (int k = 0; k < 4; ++k) {
    const PF_ParamDef* point = params[kParamPoint1 + 2 * k];
    block.px[k] = float(pf::FixedToDouble(point->u.td.x_value));
    block.py[k] = float(pf::FixedToDouble(point->u.td.y_value));
    block.colour[k] = params[kParamColour1 + 2 * k]->u.cd.value;
  }
  block.blend2 = fourtint::BlendSquared(params[kParamBlend]->u.fd.value, in_data->downsample_x);

  const double jitter = pf::FixSliderValue(params[kParamJitter]) * 0.01;  // 100 % is 1.0
  PF_IteratePixel8Func pixel = PlainPixel;
  if (jitter > 0) {
    fourtint::FillJitter(g_jitter, in_data->current_time, jitter);
    pixel = JitterPixel;
  }
  return in_data->utils->iterate(in_data, 0, input->height, input, nullptr, &block, pixel, output);
}

constexpr pf::Commands kCommands{
    .about = pf::About,
    .global_setup = pf::GlobalSetup,
    .params_setup = ParamsSetup,
    .render = Render,
};

}  // namespace

OMBRIX_MAIN(FourtintMain, kCommands);
