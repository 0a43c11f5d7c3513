// Fourtint: a smooth gradient between four coloured points, with an optional
// per-frame noise to break up banding. The layer's alpha is kept.
#include <pf/shell.h>

#include "kernels.h"

OMBRIX_PLUGIN("OB Fourtint", "obx Fourtint", 11, 0, 0);

namespace {

enum {
  kParamInput = 0,
  kParamPoint1 = 1,  // points at 1, 3, 5, 7, their colours right after
  kParamBlend = 9,
  kParamJitter = 10,
};

constexpr PF_Fixed Fix(A_long whole) { return whole * PF_Fixed_ONE; }

constexpr pf::ParamSpec kParams[] = {
    pf::PointParam("Point 1", Fix(10), Fix(10), false),
    pf::ColorParam("Color 1", PF_Pixel{255, 255, 255, 0}),
    pf::PointParam("Point 2", Fix(90), Fix(10), false),
    pf::ColorParam("Color 2", PF_Pixel{255, 0, 255, 0}),
    pf::PointParam("Point 3", Fix(10), Fix(90), false),
    pf::ColorParam("Color 3", PF_Pixel{255, 255, 0, 255}),
    pf::PointParam("Point 4", Fix(90), Fix(90), false),
    pf::ColorParam("Color 4", PF_Pixel{255, 0, 0, 255}),
    pf::FixSliderParam("Blend", Fix(100), Fix(5), Fix(10000), Fix(10), Fix(500), 1, PF_ValueDisplayFlag_NONE),
    pf::FixSliderParam("Jitter", 0, 0, Fix(500), 0, Fix(100), 1, PF_ValueDisplayFlag_PERCENT,
                       PF_ParamFlag_COLLAPSE_TWIRLY),
};
static_assert(pf::ParamNamesFit(kParams));

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
    block.px[k] = float(point->u.td.x_value / 65536.0);
    block.py[k] = float(point->u.td.y_value / 65536.0);
    block.colour[k] = params[kParamPoint1 + 2 * k + 1]->u.cd.value;
  }
  block.blend2 = fourtint::BlendSquared(params[kParamBlend]->u.fd.value, in_data->downsample_x);

  const double jitter = params[kParamJitter]->u.fd.value / 65536.0 * 0.01;  // 100 % is 1.0
  PF_IteratePixel8Func pixel = PlainPixel;
  if (jitter > 0) {
    fourtint::FillJitter(g_jitter, in_data->current_time, jitter);
    pixel = JitterPixel;
  }
  return in_data->utils->iterate(in_data, 0, input->height, input, nullptr, &block, pixel, output);
}

// Commands 0..11 to handler slots: 0 about, 1 global setup, 2 parameters,
// 3 render, 4 nothing.
constexpr uint8_t kSlots[pf::kDispatchedCommands] = {0, 1, 4, 4, 2, 4, 4, 4, 4, 4, 4, 3};
constexpr pf::Handler kHandlers[] = {pf::About, pf::GlobalSetup, ParamsSetup, Render, pf::NoCommand};

}  // namespace

OMBRIX_ENTRY(FourtintMain);

PF_Err FourtintMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                    PF_LayerDef* output, void* extra) {
  return pf::DispatchBySlot(kSlots, kHandlers, cmd, in_data, out_data, params, output, extra);
}
