// Speckhue: adds reproducible noise to the hue, lightness and saturation of
// every pixel. The noise depends only on the pixel's position and the
// "Noise Phase" angle; animating the phase moves it smoothly from one
// random field to the next. Uniform, squared (small changes favoured) or
// grain (noise smoothed by the host to a grain size).
#include <pf/fixed.h>
#include <pf/rows.h>
#include <pf/shell.h>
#include <pf/smooth.h>

#include "kernels.h"

#include <cstdlib>

OMBRIX_PLUGIN("OB Speckhue", "obx Speckhue", 11, 0, 0);

namespace {

enum {
  kParamInput = 0,
  kParamNoise,
  kParamHue,
  kParamLightness,
  kParamSaturation,
  kParamGrainSize,
  kParamPhase,
  kParamCount,
};

constexpr A_short kPercent = PF_ValueDisplayFlag_PERCENT;

using pf::Fix;

constexpr auto kParams = pf::ParamTable<kParamCount>({
    {kParamNoise, pf::PopupParam("Noise...", "Uniform|Squared|Grain", speckhue::kUniform)},
    {kParamHue, pf::FixSliderParam("Hue", 0, 0, Fix(10), 0, Fix(1), 1, kPercent)},
    {kParamLightness, pf::FixSliderParam("Lightness", 0, 0, Fix(10), 0, Fix(1), 1, kPercent)},
    {kParamSaturation, pf::FixSliderParam("Saturation", 0, 0, Fix(10), 0, Fix(1), 1, kPercent)},
    {kParamGrainSize, pf::FixSliderParam("Grain Size", Fix(1), 0, Fix(10), 0, Fix(4), 2, PF_ValueDisplayFlag_NONE,
                                         PF_ParamFlag_COLLAPSE_TWIRLY)},
    {kParamPhase, pf::AngleParam("Noise Phase", 0, PF_ParamFlag_COLLAPSE_TWIRLY)},
});

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
  return pf::RegisterParams(in_data, out_data, kParams, pf::ParamRecord::kReused);
}

PF_Err NoiseRow(void* refcon, A_long y, A_long width, PF_Pixel* in, PF_Pixel* out) {
  return speckhue::NoiseRow(*static_cast<const speckhue::Block*>(refcon), y, width, in, out);
}

PF_Err GrainFieldRow(void* refcon, A_long y, A_long width, PF_Pixel*, PF_Pixel* out) {
  speckhue::GrainFieldRow(*static_cast<const speckhue::Block*>(refcon), y, width, out);
  return PF_Err_NONE;
}

PF_Err GrainRow(void* refcon, A_long, A_long width, PF_Pixel* in, PF_Pixel* out) {
  return speckhue::GrainRow(*static_cast<const speckhue::Block*>(refcon), width, in, out);
}

// The noise tables of one render: row start states and column jumps, in
// one block from the heap, released before the render returns.
struct Tables {
  void* memory = nullptr;
  ~Tables() { std::free(memory); }
};

PF_Err Render(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output, void*) {
  PF_EffectWorld* input = &params[kParamInput]->u.ld;
  const A_long mode = params[kParamNoise]->u.pd.value;
  const bool grain = mode == speckhue::kGrain;

  speckhue::Block b{};
  b.amp[0] = float(params[kParamHue]->u.fd.value) * 360.0f;
  b.amp[1] = float(params[kParamLightness]->u.fd.value);
  b.amp[2] = float(params[kParamSaturation]->u.fd.value);
  const double grain_size = pf::Ratio(in_data->downsample_x) * pf::FixSliderValue(params[kParamGrainSize]);
  if (grain) {
    const float scale = float((0.2 * grain_size + 1.0) / 127.5);
    for (float& a : b.amp) a = a * scale;
  }
  if (b.amp[0] == 0.0f && b.amp[1] == 0.0f && b.amp[2] == 0.0f)
    return in_data->utils->copy(in_data->effect_ref, input, output, nullptr, nullptr);

  const speckhue::Phase phase = speckhue::PhaseOf(params[kParamPhase]->u.ad.value);
  b.phi = phase.phi;
  b.squared = mode == speckhue::kSquared;
  b.effect_ref = in_data->effect_ref;
  b.color = &in_data->utils->colorCB;

  const A_long width = output->width, height = output->height;
  if (width <= 0 || height <= 0) return PF_Err_NONE;
  Tables tables;
  const size_t row_bytes = size_t(height) * speckhue::kStreams * sizeof(uint32_t);
  const size_t column_bytes = size_t(width) * sizeof(pf::RandomStep);
  tables.memory = std::malloc(2 * column_bytes + row_bytes);
  if (tables.memory == nullptr) return PF_Err_OUT_OF_MEMORY;
  auto* offset_jump = static_cast<pf::RandomStep*>(tables.memory);
  auto* phase_jump = offset_jump + width;
  auto* rows = reinterpret_cast<uint32_t*>(phase_jump + width);
  speckhue::FillColumnJumps(offset_jump, phase_jump, width, int(mode));
  speckhue::FillRowStates(rows, width, height, phase, int(mode));
  b.rows = rows;
  b.offset_jump = offset_jump;
  b.phase_jump = phase_jump;

  if (!grain) return pf::IterateRows(in_data, input, output, &b, NoiseRow);

  PF_Err err = pf::IterateRows(in_data, input, output, &b, GrainFieldRow);
  // The field softened to grains of about F pixels; alpha stays 255.
  A_long block[3] = {333, 666, 999};
  if (err == PF_Err_NONE) err = pf::SmoothWorld(in_data, out_data, grain_size, block, '~', output);
  if (err == PF_Err_NONE) err = pf::IterateRows(in_data, input, output, &b, GrainRow);
  return err;
}

constexpr pf::Commands kCommands{
    .about = pf::About,
    .global_setup = pf::GlobalSetup,
    .params_setup = ParamsSetup,
    .render = Render,
};

}  // namespace

OMBRIX_MAIN(SpeckhueMain, kCommands);
