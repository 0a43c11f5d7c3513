// Flatwash: replaces the colour of every pixel with one chosen colour, keeping
// the layer's alpha, optionally blended back toward the original.
#include <pf/shell.h>

#include "kernels.h"

OMBRIX_PLUGIN("OB Flatwash", "obx Flatwash", 11, 0, 0);

namespace {

enum { kParamInput = 0, kParamColour, kParamBlend, kParamCount };

constexpr auto kParams = pf::ParamTable<kParamCount>({
    {kParamColour, pf::ColorParam("Color", PF_Pixel{255, 255, 255, 255})},
    {kParamBlend, pf::FixSliderParam("Blend With Original", 0, 0, PF_Fixed_ONE, 0, PF_Fixed_ONE, 1,
                                     PF_ValueDisplayFlag_PERCENT, PF_ParamFlag_COLLAPSE_TWIRLY)},
});

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
  return pf::RegisterParams(in_data, out_data, kParams, pf::ParamRecord::kReused);
}

// At 100 % the output equals the input: the host may skip this frame's render.
PF_Err FrameSetup(PF_InData*, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef*, void*) {
  if (params[kParamBlend]->u.fd.value >= PF_Fixed_ONE) out_data->out_flags |= PF_OutFlag_NOP_RENDER;
  return PF_Err_NONE;
}

PF_Err PureColourPixel(void* refcon, A_long, A_long, PF_Pixel* in, PF_Pixel* out) {
  flatwash::PureColour(*static_cast<const flatwash::Block*>(refcon), *in, *out);
  return PF_Err_NONE;
}

PF_Err BlendPixel(void* refcon, A_long, A_long, PF_Pixel* in, PF_Pixel* out) {
  flatwash::BlendColour(*static_cast<const flatwash::Block*>(refcon), *in, *out);
  return PF_Err_NONE;
}

PF_Err Render(PF_InData* in_data, PF_OutData*, PF_ParamDef* params[], PF_LayerDef* output, void*) {
  PF_EffectWorld* input = &params[kParamInput]->u.ld;
  PF_Fixed blend = params[kParamBlend]->u.fd.value;
  if (blend >= PF_Fixed_ONE) {
    return in_data->utils->copy(in_data->effect_ref, input, output, nullptr, nullptr);
  }
  // The registered range starts at 0; a lower value would push the mix out of
  // the byte range, so it is read as pure colour.
  if (blend < 0) blend = 0;
  flatwash::Block block = flatwash::MakeBlock(params[kParamColour]->u.cd.value, blend);
  const PF_IteratePixel8Func pixel = (blend == 0) ? PureColourPixel : BlendPixel;
  return in_data->utils->iterate(in_data, 0, output->height, input, nullptr, &block, pixel, output);
}

constexpr pf::Commands kCommands{
    .about = pf::About,
    .global_setup = pf::GlobalSetup,
    .params_setup = ParamsSetup,
    .frame_setup = FrameSetup,
    .render = Render,
};

}  // namespace

OMBRIX_MAIN(FlatwashMain, kCommands);
