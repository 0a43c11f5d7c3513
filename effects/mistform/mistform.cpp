// Mistform: fills the layer with gray fractal noise in eighteen types, keeping
// the layer's alpha. The pattern evolves with "Evolution" and, through the
// settings record, with a random seed and an optional loop period.
#include <pf/dialogs.h>
#include <pf/fixed.h>
#include <pf/reference_paths.h>
#include <pf/rows.h>
#include <pf/settings.h>
#include <pf/shell.h>

#include <noise/fractal.h>
#include <noise/record.h>

#include "kernels.h"

OMBRIX_PLUGIN("OB Mistform", "obx Mistform", 11, 0, 0x21);
OMBRIX_OPTIONS(kSeedEvolution);

namespace {

enum {
  kParamInput = 0,
  kParamType,
  kParamContrast,
  kParamScale,
  kParamOffset,
  kParamComplexity,
  kParamEvolution,
  kParamOverflow,
  kParamInvert,
  kParamCount,
};

using pf::Fix;

// Items starting with "(" are the disabled group headers (values 1, 4, 8, 15).
constexpr const char* kTypeItems =
    "(=== Basic ===|Linear|Smooth|(=== Turbulent ===|Soft|Standard|Sharp|(=== Dynamic ===|Linear|"
    "Linear Progressive|Linear Twist|Smooth|Smooth Progressive|Smooth Twist|(=== Extras === |Max|"
    "Smeary|Swirly|Rocky|Cloudy|Terrain|Subscale";
static_assert(pf::PopupItemCount(kTypeItems) == 22);

constexpr const char* kOverflowItems = "Clip|Soft Clamp|Wrap Back";

constexpr auto kParams = pf::ParamTable<kParamCount>({
    {kParamType, pf::PopupParam("Fractal Type...", kTypeItems, mistform::kBasicLinear)},
    {kParamContrast, pf::FixSliderParam("Contrast", Fix(100), 0, Fix(10000), 0, Fix(400), 1, PF_ValueDisplayFlag_NONE)},
    {kParamScale,
     pf::FixSliderParam("Scale", Fix(100), Fix(20), Fix(10000), Fix(25), Fix(600), 1, PF_ValueDisplayFlag_NONE)},
    {kParamOffset, pf::PointParam("Offset Turbulence", Fix(50), Fix(50), false)},
    {kParamComplexity,
     pf::FixSliderParam("Complexity", Fix(6), Fix(1), Fix(20), Fix(1), Fix(10), 1, PF_ValueDisplayFlag_NONE)},
    {kParamEvolution, pf::AngleParam("Evolution", 0)},
    {kParamOverflow, pf::PopupParam("Overflow...", kOverflowItems, noise::kOverflowClip)},
    {kParamInvert, pf::CheckboxParam(" ", "Invert", false)},
});

// The lattice of the current render: rebuilt at its start, only read by the
// pixel callbacks while the host iterates.
noise::NoiseLattice g_lattice;

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
  return pf::RegisterParams(in_data, out_data, kParams, pf::ParamRecord::kClearedEach);
}

PF_Err FillWhole(PF_InData* in_data, PF_LayerDef* output, A_u_char gray) {
  const PF_Pixel colour{255, gray, gray, gray};
  return in_data->utils->fill(in_data->effect_ref, &colour, nullptr, output);
}

PF_Err ShadePixel(void* refcon, A_long x, A_long y, PF_Pixel* in, PF_Pixel* out) {
  mistform::ShadePixel(*static_cast<const mistform::Block*>(refcon), x, y, *in, *out);
  return PF_Err_NONE;
}

// The row walk: pf::IterateRows hands each of the host's calls a whole row.
struct RowJob {
  const mistform::Block* block;
  mistform::RowShader shade;
};

PF_Err ShadeRow(void* refcon, A_long y, A_long width, PF_Pixel* in, PF_Pixel* out) {
  const RowJob& job = *static_cast<const RowJob*>(refcon);
  job.shade(*job.block, y, width, in, out);
  return PF_Err_NONE;
}

PF_Err Render(PF_InData* in_data, PF_OutData*, PF_ParamDef* params[], PF_LayerDef* output, void*) {
  const double ox = pf::FixedToDouble(params[kParamOffset]->u.td.x_value);
  const double oy = pf::FixedToDouble(params[kParamOffset]->u.td.y_value);
  const double contrast = pf::FixSliderValue(params[kParamContrast]);
  const double scale = pf::FixSliderValue(params[kParamScale]);
  double complexity = pf::FixSliderValue(params[kParamComplexity]);
  const int32_t type = params[kParamType]->u.pd.value;
  const bool invert = params[kParamInvert]->u.bd.value != 0;
  int32_t mode = params[kParamOverflow]->u.pd.value + (invert ? 5 : 0);

  double amplitude = contrast * 2.55;

  // Zero contrast: a flat frame over the whole output, whatever the layer's alpha.
  if (mistform::IsCentred(type)) {
    if (amplitude <= 0.0) return FillWhole(in_data, output, 127);
    if (mode == noise::kOverflowSoftClamp) mode = noise::kOverflowCentred;
    if (mode == noise::kOverflowSoftClampInverted) mode = noise::kOverflowCentredInverted;
  }
  if (amplitude <= 0.0) return FillWhole(in_data, output, invert ? 255 : 0);

  // A header item (or a value outside the list) renders nothing.
  const mistform::Formula formula = mistform::FormulaFor(type);
  if (formula == nullptr) return PF_Err_NONE;

  double frequency = mistform::BaseFrequency(scale, in_data->downsample_x);
  complexity = mistform::CapComplexity(complexity, frequency, type);
  if (mistform::HalvesFrequency(type)) frequency = frequency * 0.5;
  const noise::ComplexitySplit split = noise::SplitComplexity(complexity, in_data->quality);

  noise::BuildRenderLattice(g_lattice, params[kParamEvolution]->u.ad.value, in_data);

  if (mistform::IsNormalised(type)) amplitude = amplitude / mistform::OctaveNormaliser(split.octaves, split.fraction);
  if (type == mistform::kTerrain) amplitude = amplitude * 4.0;

  mistform::Block block{
      &g_lattice, amplitude, frequency, split.octaves, split.fraction, ox, oy, mode, in_data->utils->ansi.pow, formula};
  PF_LayerDef* input = &params[kParamInput]->u.ld;
  // Whole rows need the input at least as wide as the output, else the
  // host's per-pixel walk answers as it does for any mismatch.
  if (!pf::ReferencePathsRequested() && mistform::RowsFit(split.octaves) && input->width >= output->width) {
    RowJob job{&block, mistform::RowShaderFor(type)};
    return pf::IterateRows(in_data, input, output, &job, ShadeRow);
  }
  return in_data->utils->iterate(in_data, 0, output->height, input, nullptr, &block, ShadePixel, output);
}

constexpr pf::Commands kCommands = pf::OptionsCommands(ParamsSetup, Render);

}  // namespace

OMBRIX_MAIN(MistformMain, kCommands);
