// Facetry: fills the layer with a cellular pattern (bubbles, crystal facets,
// plates, crystallized copies of the layer's colours, pillows, tubes) from the
// cell noise core, keeping the layer's alpha. The feature points move with
// "Evolution"; the settings record adds the seed, the loop of the evolution
// and the tiling of the cells.
#include <pf/dialogs.h>
#include <pf/fixed.h>
#include <pf/rows.h>
#include <pf/settings.h>
#include <pf/shell.h>

#include <noise/cell.h>
#include <noise/fractal.h>
#include <noise/record.h>

#include "kernels.h"

#include <cstdint>

OMBRIX_PLUGIN("OB Facetry", "obx Facetry", 11, 0, 0x21);
OMBRIX_OPTIONS(kFacetry);

namespace {

enum {
  kParamInput = 0,
  kParamType,
  kParamDisperse,
  kParamContrast,
  kParamSize,
  kParamOffset,
  kParamEvolution,
  kParamOverflow,
  kParamInvert,
  kParamCount,
};

using pf::Fix;

constexpr const char* kTypeItems =
    "Bubbles|Crystals|Plates|Static Plates|Crystallize|(-|Pillow|Crystals HQ|Plates HQ|Static Plates HQ|"
    "Crystallize HQ|Mixed Crystals HQ|Tubular";
static_assert(pf::PopupItemCount(kTypeItems) == 13);

constexpr const char* kOverflowItems = "Clip|Soft Clamp|Wrap Back";

constexpr PF_Fixed kDisperseMax = 91750;  // 1.4

constexpr auto kParams = pf::ParamTable<kParamCount>({
    {kParamType, pf::PopupParam("Facetry...", kTypeItems, facetry::kBubbles)},
    {kParamDisperse, pf::FixSliderParam("Disperse", Fix(1), 0, kDisperseMax, 0, Fix(1), 2, PF_ValueDisplayFlag_NONE)},
    {kParamContrast,
     pf::FixSliderParam("Contrast or Sharpness", Fix(1), 0, Fix(100), 0, Fix(6), 2, PF_ValueDisplayFlag_NONE)},
    {kParamSize,
     pf::FixSliderParam("Size", Fix(60), Fix(5), Fix(2000), Fix(10), Fix(500), 1, PF_ValueDisplayFlag_NONE)},
    {kParamOffset, pf::PointParam("Offset", Fix(50), Fix(50), false)},
    {kParamEvolution, pf::AngleParam("Evolution", 0)},
    {kParamOverflow, pf::PopupParam("Overflow...", kOverflowItems, 1)},
    {kParamInvert, pf::CheckboxParam(" ", "Invert", false)},
});

// The tables of the current render: rebuilt at its start, only read by the
// pixel callbacks while the host iterates.
noise::NoiseLattice g_lattice;
noise::PlateBytes g_plate_bytes;

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
  return pf::RegisterParams(in_data, out_data, kParams, pf::ParamRecord::kClearedEach);
}

// Called once per output row through pf::IterateRows, so that the pixels
// of a row share their cells' feature points; the host still splits the
// rows among its threads.
PF_Err ShadeRow(void* refcon, A_long y, A_long width, PF_Pixel* in, PF_Pixel* out) {
  return facetry::ShadeRow(*static_cast<const facetry::Block*>(refcon), y, 0, width, in, out);
}

PF_Err ShadeRows(PF_InData* in_data, const facetry::Block& block, PF_EffectWorld* input, PF_LayerDef* output) {
  return pf::IterateRows(in_data, input, output, const_cast<facetry::Block*>(&block), ShadeRow);
}

// Disposes the reduced copy, keeping an earlier error ahead of its own.
PF_Err Release(PF_InData* in_data, PF_EffectWorld* copy, PF_Err err) {
  const PF_Err e = in_data->utils->dispose_world(in_data->effect_ref, copy);
  return err != PF_Err_NONE ? err : e;
}

// The last pixel's 16.16 position, (size - 1) x 65536, kept within the 16.16
// range for copies wider than 32768 pixels.
PF_Fixed FixedLimit(A_long size) {
  const int64_t limit = (int64_t(size) - 1) * 65536;
  return limit > INT32_MAX ? INT32_MAX : PF_Fixed(limit);
}

PF_Err Render(PF_InData* in_data, PF_OutData*, PF_ParamDef* params[], PF_LayerDef* output, void*) {
  const int32_t type = params[kParamType]->u.pd.value;
  // The separator (or a value outside the list) renders nothing.
  if (!facetry::IsPatternType(type)) return PF_Err_NONE;

  const double ox = pf::FixedToDouble(params[kParamOffset]->u.td.x_value);
  const double oy = pf::FixedToDouble(params[kParamOffset]->u.td.y_value);
  const double dispersion = pf::FixSliderValue(params[kParamDisperse]) * 0.5;
  const double contrast = pf::FixSliderValue(params[kParamContrast]);
  const double size = pf::FixSliderValue(params[kParamSize]);
  const double h = pf::Ratio(in_data->downsample_x) * size;
  if (!(h > 0.0)) return PF_Err_NONE;
  const double k = 1.0 / h;
  const int32_t mode =
      facetry::ModeFor(type, params[kParamOverflow]->u.pd.value, params[kParamInvert]->u.bd.value != 0);

  pf::NoiseSettings record{};
  const bool has_record = noise::BuildRenderLattice(g_lattice, params[kParamEvolution]->u.ad.value, in_data, &record);

  facetry::Block block{};
  block.grid = has_record ? noise::MakeCellGrid(&g_lattice, dispersion, int32_t(record.words[4]),
                                                int32_t(record.words[5]), int32_t(record.words[6]))
                          : noise::MakeCellGrid(&g_lattice, dispersion);
  block.plates = &g_plate_bytes;
  block.type = type;
  block.mode = mode;
  block.amplitude = facetry::Amplitude(type, contrast);
  block.k = k;
  block.h = h;
  block.ox = ox;
  block.oy = oy;
  block.sqrt = in_data->utils->ansi.sqrt;
  if (facetry::IsStatic(type)) noise::BuildPlateBytes(g_plate_bytes);

  PF_EffectWorld* input = &params[kParamInput]->u.ld;
  if (!facetry::IsCrystallize(type)) return ShadeRows(in_data, block, input, output);

  // The crystallize types read each cell's colour from a copy of the input
  // reduced to about two pixels per cell.
  if (input->width <= 0 || input->height <= 0) return PF_Err_NONE;
  const facetry::CopySize cs = facetry::ReducedCopySize(input->width, input->height, k);
  PF_EffectWorld copy{};
  if (PF_Err e = in_data->utils->new_world(in_data->effect_ref, cs.width, cs.height, 0, &copy)) return e;
  if (PF_Err e = in_data->utils->copy(in_data->effect_ref, input, &copy, nullptr, nullptr))
    return Release(in_data, &copy, e);

  PF_SampPB samp{};
  samp.src = &copy;
  block.colour.sample = in_data->utils->subpixel_sample;
  block.colour.effect_ref = in_data->effect_ref;
  block.colour.samp = &samp;
  block.colour.x_scale = double(cs.width) / double(input->width) * 65536.0;
  block.colour.y_scale = double(cs.height) / double(input->height) * 65536.0;
  block.colour.x_limit = FixedLimit(cs.width);
  block.colour.y_limit = FixedLimit(cs.height);
  return Release(in_data, &copy, ShadeRows(in_data, block, input, output));
}

constexpr pf::Commands kCommands = pf::OptionsCommands(ParamsSetup, Render);

}  // namespace

OMBRIX_MAIN(FacetryMain, kCommands);
