// Floodspill: fills the connected region around a point with a colour, as a
// paint bucket or underneath the layer's transparent parts ("Underfill"),
// softens the region's edge with discs ("Bleed"), or shows which pixels pass
// the tolerance test ("View Threshold").
#include <pf/fixed.h>
#include <pf/shell.h>
#include <pf/world.h>

#include "kernels.h"

#include <cstdint>
#include <cstring>

OMBRIX_PLUGIN("OB Floodspill", "obx Floodspill", 11, 0, 0);

namespace {

enum {
  kParamInput = 0,
  kParamColour,
  kParamPoint,
  kParamTolerance,
  kParamMode,
  kParamBleed,
  kParamFillOnly,
  kParamViewThreshold,
  kParamCount,
};

using pf::Fix;

constexpr auto kParams = pf::ParamTable<kParamCount>({
    {kParamColour, pf::ColorParam("Color", PF_Pixel{255, 255, 0, 0})},
    {kParamPoint, pf::PointParam("Fill Point", Fix(50), Fix(50), true)},
    {kParamTolerance, pf::FixSliderParam("Tolerance", Fix(50), 0, Fix(255), 0, Fix(255), 0, 0)},
    {kParamMode, pf::PopupParam("Fill Using...", "Paint Bucket|Underfill", floodspill::kModePaintBucket)},
    {kParamBleed, pf::FixSliderParam("Bleed", Fix(4), 0, Fix(20), Fix(1), Fix(10), 0, 0)},
    {kParamFillOnly, pf::CheckboxParam(" ", "Fill Only", false)},
    {kParamViewThreshold, pf::CheckboxParam(" ", "View Threshold", false)},
});

PF_Err Render(PF_InData* in_data, PF_OutData*, PF_ParamDef* params[], PF_LayerDef* output, void*) {
  PF_UtilCallbacks* const utils = in_data->utils;
  PF_EffectWorld* input = &params[kParamInput]->u.ld;
  const PF_Fixed point_x = params[kParamPoint]->u.td.x_value;
  const PF_Fixed point_y = params[kParamPoint]->u.td.y_value;
  const PF_Fixed tolerance = params[kParamTolerance]->u.fd.value;

  floodspill::Fill f{};
  f.input = input;
  f.output = output;
  f.width = output->width;
  f.height = output->height;
  f.colour = params[kParamColour]->u.cd.value;
  f.colour.alpha = 255;
  f.underfill = params[kParamMode]->u.pd.value == floodspill::kModeUnderfill;
  const bool view_threshold = params[kParamViewThreshold]->u.bd.value != 0;

  if (f.underfill) {
    f.threshold = tolerance >> 16;
    if (view_threshold) {
      floodspill::ViewThreshold(f);
      return PF_Err_NONE;
    }
  } else {
    f.threshold = int((int64_t(3) * tolerance) >> 16);
    PF_SampPB samp{};
    samp.src = input;
    PF_Pixel seed{};
    const PF_Err err = utils->subpixel_sample(in_data->effect_ref, point_x, point_y, &samp, &seed);
    if (err != PF_Err_NONE) return err;
    f.seed_r = seed.red * seed.alpha;
    f.seed_g = seed.green * seed.alpha;
    f.seed_b = seed.blue * seed.alpha;
    if (view_threshold) {
      floodspill::ViewThreshold(f);
      return PF_Err_NONE;
    }
  }

  const PF_Err err = params[kParamFillOnly]->u.bd.value != 0
                         ? utils->fill(in_data->effect_ref, nullptr, nullptr, output)
                         : utils->copy(in_data->effect_ref, input, output, nullptr, nullptr);
  if (err != PF_Err_NONE) return err;
  if (f.threshold < 1 || f.width <= 0 || f.height <= 0) return PF_Err_NONE;

  if (f.underfill) {
    // Nothing to fill when the point lies on an opaque enough pixel.
    A_long x = point_x / 65536, y = point_y / 65536;
    x = x > f.width - 1 ? f.width - 1 : x;
    y = y > f.height - 1 ? f.height - 1 : y;
    x = x < 0 ? 0 : x;
    y = y < 0 ? 0 : y;
    if (pf::PixelAt(*input, x, y).alpha >= f.threshold) return PF_Err_NONE;
  }

  // The mask comes from the host's handle service; without it nothing can be
  // filled, which is reported rather than passed off as success.
  const uint64_t mask_size = uint64_t(f.width) * uint64_t(f.height);
  if (mask_size > UINT32_MAX) return PF_Err_OUT_OF_MEMORY;
  PF_Handle handle = utils->host_new_handle(A_u_long(mask_size));
  if (handle == nullptr) return PF_Err_OUT_OF_MEMORY;
  f.mask = static_cast<uint8_t*>(utils->host_lock_handle(handle));
  if (f.mask == nullptr) {
    utils->host_dispose_handle(handle);
    return PF_Err_OUT_OF_MEMORY;
  }
  std::memset(f.mask, floodspill::kUnseen, size_t(mask_size));

  floodspill::RunFill(f, point_x, point_y);
  const double bleed = pf::FixSliderValue(params[kParamBleed]);
  if (bleed >= 0.99) floodspill::Bleed(f, bleed, pf::Ratio(in_data->downsample_x));

  utils->host_unlock_handle(handle);
  utils->host_dispose_handle(handle);
  return PF_Err_NONE;
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

OMBRIX_MAIN(FloodspillMain, kCommands);
