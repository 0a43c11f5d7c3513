// The parameters and modes of the services probe plug-in.
#pragma once

namespace svcprobe {

// Parameter indices (0 is the input layer).
enum Param { kMode = 1, kShiftX, kShiftY, kRadiusX, kRadiusY, kOffset, kOther, kParamCount };

// What RENDER does.
enum Mode {
  kSubpixel = 0,           // each output pixel (x, y) = subpixel_sample(input, x + Shift X, y + Shift Y)
  kArea = 1,               // the same through area_sample with Radius X and Y
  kHueShift = 2,           // RGBtoHLS, hue + Shift X, HLStoRGB
  kCheckout = 3,           // checks "Other" out at Offset frames from now, shows it, checks it in
  kCheckoutSelf = 4,       // the same with the own layer (index 0)
  kCheckoutKeep = 5,       // checks "Other" out and never checks it in
  kCheckoutFineScale = 6,  // as kCheckout, with the time given in units three times finer
  kRenderLayer = 7,        // shows the value of "Other" handed to RENDER
  kScaledCopy = 8,         // copies the input into the output's top-left quarter (half width and height)
  kSmooth = 9,             // copies the input, then smooths it through the smoothing routine ('o', Radius X)
  // The work of kSubpixel, kArea and kHueShift with the host's pixel maths
  // compiled into the probe and called directly, inside the same iterate:
  // the services' cost beyond the work of a sample.
  kSubpixelInPlugin = 10,
  kAreaInPlugin = 11,
  kHueShiftInPlugin = 12,
  kModeCount
};

}  // namespace svcprobe
