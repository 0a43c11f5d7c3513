// Difference: a difference matte between the layer and a target layer, taken
// at a time offset, as a magnitude (black where equal) or signed around
// mid-grey, with the alpha chosen from a menu.
#include <pf/fixed.h>
#include <pf/shell.h>

#include "kernels.h"

#include <cmath>
#include <cstdint>

OMBRIX_PLUGIN("OB Difference", "obx Difference", 11, 0, PF_OutFlag_WIDE_TIME_INPUT);

namespace {

enum {
  kParamInput = 0,
  kParamTarget,
  kParamTimeOffset,
  kParamIntensity,
  kParamAbsolute,
  kParamAlpha,
  kParamCount,
};

using pf::Fix;

constexpr auto kParams = pf::ParamTable<kParamCount>({
    {kParamTarget, pf::LayerParam("Target")},
    {kParamTimeOffset,
     pf::FixSliderParam("Time Offset (sec)", 0, Fix(-2000), Fix(2000), Fix(-1), Fix(1), 3, PF_ValueDisplayFlag_NONE)},
    {kParamIntensity, pf::FixSliderParam("Intensity", Fix(50), Fix(-10000), Fix(10000), Fix(-100), Fix(100), 1,
                                         PF_ValueDisplayFlag_NONE)},
    {kParamAbsolute, pf::CheckboxParam(" ", "Absolute Difference", false)},
    {kParamAlpha,
     pf::PopupParam("Alpha Channel...",
                    "Alpha Difference|Luminance Result|Lightness Result|(-|Original|Target|Blend|Max|Full On",
                    difference::kOriginal)},
});

constexpr PF_Pixel kMidGrey{255, 127, 127, 127};
constexpr PF_Pixel kBlack{255, 0, 0, 0};

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
  return pf::RegisterParams(in_data, out_data, kParams, pf::ParamRecord::kReused);
}

// trunc(offset x time_scale) ticks after the current time. Held to the range
// of a time value: two thousand seconds at a fine time scale would otherwise
// overflow it.
A_long TargetTime(PF_Fixed offset, A_u_long time_scale, A_long current_time) {
  double when = std::trunc(pf::FixedToDouble(offset) * double(time_scale)) + double(current_time);
  if (when > double(INT32_MAX)) when = double(INT32_MAX);
  if (when < double(INT32_MIN)) when = double(INT32_MIN);
  return A_long(when);
}

PF_Err AbsolutePixel(void* refcon, A_long, A_long, PF_Pixel* in, PF_Pixel* out) {
  difference::DifferencePixel(*static_cast<const difference::Block*>(refcon), true, *in, *out);
  return PF_Err_NONE;
}

PF_Err SignedPixel(void* refcon, A_long, A_long, PF_Pixel* in, PF_Pixel* out) {
  difference::DifferencePixel(*static_cast<const difference::Block*>(refcon), false, *in, *out);
  return PF_Err_NONE;
}

PF_Err Render(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output, void*) {
  PF_EffectWorld* original = &params[kParamInput]->u.ld;
  const PF_Fixed offset = params[kParamTimeOffset]->u.fd.value;
  const PF_Fixed intensity = params[kParamIntensity]->u.fd.value;
  const bool absolute = params[kParamAbsolute]->u.bd.value != 0;
  PF_UtilCallbacks* utils = in_data->utils;
  const PF_ProgPtr ref = in_data->effect_ref;

  const A_long when = TargetTime(offset, in_data->time_scale, in_data->current_time);
  PF_ParamDef target{};
  PF_Err err = in_data->inter.checkout_param(ref, kParamTarget, when, in_data->time_step, in_data->time_scale, &target);
  if (err != PF_Err_NONE) {
    utils->fill(ref, &kMidGrey, nullptr, output);
    return err;
  }
  const PF_Pixel* zero = absolute ? &kBlack : &kMidGrey;
  PF_EffectWorld* t = &target.u.ld;
  if (t->data == nullptr) return utils->fill(ref, zero, nullptr, output);
  if (t->width != original->width || t->height != original->height) {
    in_data->inter.checkin_param(ref, &target);
    const PF_Err fill_err = utils->fill(ref, zero, nullptr, output);
    utils->ansi.strcpy(out_data->return_msg, "Layer sizes differ");
    return fill_err;
  }
  err = utils->copy(ref, t, output, nullptr, nullptr);
  if (err != PF_Err_NONE) {
    in_data->inter.checkin_param(ref, &target);
    return err;
  }

  difference::Block block;
  block.k = float(pf::FixedToDouble(intensity) * 0.01);
  if (absolute) block.k = 2 * block.k;
  block.alpha_mode = params[kParamAlpha]->u.pd.value;
  // The output holds the target; each pixel callback reads it back as the
  // target's pixel and overwrites it with the result.
  err = utils->iterate(in_data, 0, output->height, original, nullptr, &block, absolute ? AbsolutePixel : SignedPixel,
                       output);
  const PF_Err checkin_err = in_data->inter.checkin_param(ref, &target);
  return err != PF_Err_NONE ? err : checkin_err;
}

constexpr pf::Commands kCommands{
    .about = pf::About,
    .global_setup = pf::GlobalSetup,
    .params_setup = ParamsSetup,
    .render = Render,
};

}  // namespace

OMBRIX_MAIN(DifferenceMain, kCommands);
