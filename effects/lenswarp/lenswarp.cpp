// Lenswarp: adds or removes the radial distortion of a wide-angle lens. From
// the lens's field of view across the frame it derives a focal length, then
// maps every output pixel to a source position along the ray from the view
// centre: rectilinear to lens (forward) or lens to rectilinear ("Reverse").
#include <pf/fixed.h>
#include <pf/shell.h>

#include "kernels.h"

OMBRIX_PLUGIN("OB Lenswarp", "obx Lenswarp", 11, 0, 0);

namespace {

enum { kParamInput = 0, kParamFov, kParamReverse, kParamOrientation, kParamCentre, kParamOptimal, kParamCount };

constexpr PF_Fixed kFovMax = 0xB3FFFF;  // just below 180 degrees

constexpr auto kParams = pf::ParamTable<kParamCount>({
    {kParamFov, pf::FixSliderParam("Field Of View (FOV)", 0, 0, kFovMax, 0, pf::Fix(90), 1, 0)},
    {kParamReverse, pf::CheckboxParam("Lens Distortion", "Reverse", false)},
    {kParamOrientation, pf::PopupParam("FOV Orientation...", "Horizontal|Vertical|Diagonal", lenswarp::kHorizontal)},
    {kParamCentre, pf::PointParam("View Center", pf::Fix(50), pf::Fix(50), false)},
    {kParamOptimal, pf::CheckboxParam("(Invalidates FOV)", "Optimal Pixels", false)},
});

PF_Err ForwardPixel(void* refcon, A_long x, A_long y, PF_Pixel*, PF_Pixel* out) {
  return lenswarp::ForwardPixel(*static_cast<const lenswarp::Block*>(refcon), x, y, out);
}

PF_Err ReversePixel(void* refcon, A_long x, A_long y, PF_Pixel*, PF_Pixel* out) {
  return lenswarp::ReversePixel(*static_cast<const lenswarp::Block*>(refcon), x, y, out);
}

PF_Err Render(PF_InData* in_data, PF_OutData*, PF_ParamDef* params[], PF_LayerDef* output, void*) {
  PF_UtilCallbacks* const utils = in_data->utils;
  PF_EffectWorld* input = &params[kParamInput]->u.ld;
  const double fov = pf::FixSliderValue(params[kParamFov]);
  if (fov <= 0.0 || fov >= 180.0) return utils->copy(in_data->effect_ref, input, output, nullptr, nullptr);

  const PF_ANSICallbacks& ansi = utils->ansi;
  lenswarp::Block c{};
  c.aspect = in_data->pixel_aspect_ratio.den != 0 ? pf::Ratio(in_data->pixel_aspect_ratio) : 1.0;
  // The frame in square pixels, at the size of the buffer being rendered.
  const double w = output->width * c.aspect, h = output->height;
  const double d = ansi.sqrt(w * w + h * h);
  const A_long orientation = params[kParamOrientation]->u.pd.value;
  const double span = orientation == lenswarp::kVertical ? h : (orientation == lenswarp::kDiagonal ? d : w);
  c.f = (span / 2.0) / ansi.tan(fov * lenswarp::kHalfDegree);
  c.f2 = c.f * c.f;
  const bool reverse = params[kParamReverse]->u.bd.value != 0;
  c.k = 1.0;
  if (params[kParamOptimal]->u.bd.value != 0) {
    // Scales the offsets so that the frame's corner keeps its place on
    // average (forward) or shows the whole source (reverse).
    const double corner = ansi.cos(ansi.atan2(d / 2.0, c.f));
    c.k = reverse ? 1.0 / corner : (corner + 1.0) * 0.5;
  }
  c.cx = pf::FixedToDouble(params[kParamCentre]->u.td.x_value);
  c.cy = pf::FixedToDouble(params[kParamCentre]->u.td.y_value);
  c.area = in_data->quality == PF_Quality_HI;
  c.samp.src = input;
  c.in_data = in_data;
  return utils->iterate(in_data, 0, output->height, input, nullptr, &c, reverse ? ReversePixel : ForwardPixel, output);
}

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
  return pf::RegisterParams(in_data, out_data, kParams, pf::ParamRecord::kReused);
}

constexpr pf::Commands kCommands{
    .about = pf::AboutPrechecked,
    .global_setup = pf::GlobalSetup,
    .params_setup = ParamsSetup,
    .render = Render,
};

}  // namespace

OMBRIX_MAIN(LenswarpMain, kCommands);
