// Lenswarp: adds or removes the radial distortion of a wide-angle lens. From
// the lens's field of view across the frame it derives a focal length, then
// maps every output pixel to a source position along the ray from the view
// centre: rectilinear to lens (forward) or lens to rectilinear ("Reverse").
#include <pf/fixed.h>
#include <pf/shell.h>

#include <cstdint>
#include <cstdlib>

OMBRIX_PLUGIN("OB Lenswarp", "obx Lenswarp", 11, 0, 0);

namespace {

enum { kParamInput = 0, kParamFov, kParamReverse, kParamOrientation, kParamCentre, kParamOptimal };
enum { kHorizontal = 1, kVertical = 2, kDiagonal = 3 };

constexpr PF_Fixed kFovMax = 0xB3FFFF;  // just below 180 degrees

constexpr pf::ParamSpec kParams[] = {
    pf::FixSliderParam("Field Of View (FOV)", 0, 0, kFovMax, 0, 90 << 16, 1, 0),
    pf::CheckboxParam("Lens Distortion", "Reverse", false),
    pf::PopupParam("FOV Orientation...", "Horizontal|Vertical|Diagonal", 1),
    pf::PointParam("View Center", 50 << 16, 50 << 16, false),
    pf::CheckboxParam("(Invalidates FOV)", "Optimal Pixels", false),
};
static_assert(pf::ParamNamesFit(kParams));

constexpr double kHalfDegree = 0.008726646259971648;  // pi / 360
constexpr double kTwoPi = 6.283185307179586;
constexpr double kRayEpsilon = 0.00001;

// The iterate's constant block.
struct LensWarpContext {
  double cx, cy;   // view centre, buffer pixels
  double aspect;   // pixel aspect ratio P
  double f, f2;    // focal length in pixels, and its square
  double k;        // offset scale ("Optimal Pixels"), 1 when off
  bool area;       // high quality: area sampling where the mapping magnifies
  PF_SampPB samp;  // source: the input layer
  PF_InData* in_data;
};

// Samples the source at (sx, sy). Where the forward mapping stretches the
// source (e > 0) at high quality, the box follows the local stretch along
// the ray, up to 60 pixels each way.
PF_Err Sample(const LensWarpContext& c, double a, double b, double r, double m, PF_Pixel* out) {
  PF_InData* in_data = c.in_data;
  const PF_Fixed sx = pf::FixedFromDouble(c.cx + m * a);
  const PF_Fixed sy = pf::FixedFromDouble(c.cy + m * b);
  const double e = (m - 1.0) * c.k;
  if (c.area && e > 0.0) {
    const double g = e * kTwoPi / (r + kRayEpsilon);
    auto limit = [](double v) { return v < 0.5 ? 0.5 : (v > 60.0 ? 60.0 : v); };
    PF_SampPB samp = c.samp;
    samp.x_radius = PF_Fixed(limit(std::abs(a * g)) * 65536.0);
    samp.y_radius = PF_Fixed(limit(std::abs(b * g)) * 65536.0);
    // At most 60 x 60 pixels in 16.16: the product needs 64 bits.
    samp.area = PF_Fixed((int64_t(samp.y_radius) * samp.x_radius / 65536) * 4);
    return in_data->utils->area_sample(in_data->effect_ref, sx, sy, &samp, out);
  }
  return in_data->utils->subpixel_sample(in_data->effect_ref, sx, sy, &c.samp, out);
}

// Rectilinear to lens: a ray at distance r from the centre comes from
// tan(asin(r / f)) x f; beyond the focal length there is nothing to see.
PF_Err ForwardPixel(void* refcon, A_long x, A_long y, PF_Pixel*, PF_Pixel* out) {
  const LensWarpContext& c = *static_cast<const LensWarpContext*>(refcon);
  const double a = (x - c.cx) * c.k, b = (y - c.cy) * c.k;
  const double ap = a * c.aspect;
  const double r2 = ap * ap + b * b;
  if (r2 >= c.f2) {
    out->alpha = 0;
    return PF_Err_NONE;
  }
  const double r = c.in_data->utils->ansi.sqrt(r2);
  const double m = c.in_data->utils->ansi.sqrt(r2 * c.f2 / (c.f2 - r2)) / (r + kRayEpsilon);
  return Sample(c, a, b, r, m, out);
}

// Lens to rectilinear: every pixel has a source, nearer the centre.
PF_Err ReversePixel(void* refcon, A_long x, A_long y, PF_Pixel*, PF_Pixel* out) {
  const LensWarpContext& c = *static_cast<const LensWarpContext*>(refcon);
  const PF_ANSICallbacks& ansi = c.in_data->utils->ansi;
  const double a = (x - c.cx) * c.k, b = (y - c.cy) * c.k;
  const double ap = a * c.aspect;
  const double r = ansi.sqrt(ap * ap + b * b);
  const double m = ansi.cos(ansi.atan2(r + kRayEpsilon, c.f));
  return Sample(c, a, b, r, m, out);
}

PF_Err Render(PF_InData* in_data, PF_OutData*, PF_ParamDef* params[], PF_LayerDef* output, void*) {
  PF_UtilCallbacks* const utils = in_data->utils;
  PF_EffectWorld* input = &params[kParamInput]->u.ld;
  const double fov = params[kParamFov]->u.fd.value / 65536.0;
  if (fov <= 0.0 || fov >= 180.0) return utils->copy(in_data->effect_ref, input, output, nullptr, nullptr);

  const PF_ANSICallbacks& ansi = utils->ansi;
  LensWarpContext c{};
  c.aspect = in_data->pixel_aspect_ratio.den != 0
                 ? double(in_data->pixel_aspect_ratio.num) / double(in_data->pixel_aspect_ratio.den)
                 : 1.0;
  // The frame in square pixels, at the size of the buffer being rendered.
  const double w = output->width * c.aspect, h = output->height;
  const double d = ansi.sqrt(w * w + h * h);
  const A_long orientation = params[kParamOrientation]->u.pd.value;
  const double span = orientation == kVertical ? h : (orientation == kDiagonal ? d : w);
  c.f = (span / 2.0) / ansi.tan(fov * kHalfDegree);
  c.f2 = c.f * c.f;
  const bool reverse = params[kParamReverse]->u.bd.value != 0;
  c.k = 1.0;
  if (params[kParamOptimal]->u.bd.value != 0) {
    // Scales the offsets so that the frame's corner keeps its place on
    // average (forward) or shows the whole source (reverse).
    const double corner = ansi.cos(ansi.atan2(d / 2.0, c.f));
    c.k = reverse ? 1.0 / corner : (corner + 1.0) * 0.5;
  }
  c.cx = params[kParamCentre]->u.td.x_value / 65536.0;
  c.cy = params[kParamCentre]->u.td.y_value / 65536.0;
  c.area = in_data->quality == PF_Quality_HI;
  c.samp.src = input;
  c.in_data = in_data;
  return utils->iterate(in_data, 0, output->height, input, nullptr, &c, reverse ? ReversePixel : ForwardPixel,
                        output);
}

PF_Err GlobalSetdown(PF_InData*, PF_OutData*, PF_ParamDef*[], PF_LayerDef*, void*) { return PF_Err_NONE; }

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
  return pf::RegisterParams(in_data, out_data, kParams, pf::ParamRecord::kReused);
}

// Commands 0..11 to handler slots: 0 about, 1 global setup, 2 global
// setdown, 3 parameters, 4 render, 5 nothing.
constexpr uint8_t kSlots[pf::kDispatchedCommands] = {0, 1, 5, 2, 3, 5, 5, 5, 5, 5, 5, 4};
constexpr pf::Handler kHandlers[] = {pf::AboutPrechecked, pf::GlobalSetup, GlobalSetdown,
                                     ParamsSetup,         Render,          pf::NoCommand};

}  // namespace

OMBRIX_ENTRY(LenswarpMain);

PF_Err LenswarpMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                    PF_LayerDef* output, void* extra) {
  return pf::DispatchBySlot(kSlots, kHandlers, cmd, in_data, out_data, params, output, extra);
}
