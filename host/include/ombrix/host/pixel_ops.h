// The host's pixel services as pure functions on PF_EffectWorld: the two
// samplers, the scaled copy (box reduction and enlargement) and the
// RGB <-> HLS conversion behind colorCB.
//
// Every function honours `rowbytes` (padded rows are read and written only
// within `width`), keeps no state and is safe to call from many threads at
// once. "Round" is to nearest with halves up: floor(x + 0.5).
//
// Precision: the samplers and the scaled copy are exact. Their weights are
// rationals (16.16 fractions, or coverage in units of the two sizes), all
// sums are kept in integers, and every rounded quotient equals the one of
// the real-number formula (RoundQuotient in src/pixel_ops_internal.h).
// The HLS conversion gives the 16.16 words and bytes of the hexcone model
// evaluated in IEEE double in the order written below, so that an
// independent double implementation agrees (the forward direction reaches
// them in integers, the inverse computes only the channel on a ramp).
#pragma once

#include <pf/api.h>

namespace ombrix {

// Bilinear sample at the 16.16 position (x, y) = (X / 65536, Y / 65536),
// pixel centres at integer coordinates (negative positions floor toward
// minus infinity), pixels outside the world (or a world without data)
// transparent black. With the four weights w and alphas a: A = sum w*a,
// alpha = min(255, round(A)), each colour = min(255, round(sum w*a*c / A));
// all four bytes 0 when A = 0.
PF_Pixel SubpixelSample(const PF_EffectWorld& w, PF_Fixed x, PF_Fixed y);

// Mean over the box [x - rx, x + rx] x [y - ry, y + ry] (16.16 radii; radii
// below half a pixel count as half a pixel), pixel i covering [i - 0.5,
// i + 0.5] with fractional coverage, outside transparent; alpha = round of
// the mean alpha, colours premultiplied and rounded as in SubpixelSample.
// With both radii at or below half a pixel this equals SubpixelSample.
PF_Pixel AreaSample(const PF_EffectWorld& w, PF_Fixed x, PF_Fixed y, PF_Fixed x_radius, PF_Fixed y_radius);

// The two samplers in their plain form: every weight applied to every pixel
// as the formulas above read, with none of the regrouping that makes
// SubpixelSample and AreaSample fast. They give the same bytes; tests
// compare the two.
PF_Pixel SubpixelSampleReference(const PF_EffectWorld& w, PF_Fixed x, PF_Fixed y);
PF_Pixel AreaSampleReference(const PF_EffectWorld& w, PF_Fixed x, PF_Fixed y, PF_Fixed x_radius, PF_Fixed y_radius);

// While on, SubpixelSample and AreaSample answer with their plain forms, in
// every thread of the process, so that whole renders through the host can be
// compared against them. Off by default, on when OMBRIX_REFERENCE_PATHS
// was set when the process started.
void SetReferenceSampling(bool on);

// Copies src into dst of any size. Each destination pixel averages the
// source area its footprint covers (the source stretched so that its edges
// meet the destination's edges, each axis on its own), with fractional
// coverage, premultiplied by alpha: alpha = round(mean alpha), each colour
// = round(sum a*c / sum a), 0 where the alpha sum is 0. Equal sizes copy
// the bytes exactly, colour under alpha 0 included. A source without pixels
// leaves dst transparent black. Only the `width` pixels of each dst row are
// written. May throw std::bad_alloc (scratch rows); src and dst must not
// overlap unless they are the same world.
void ScaledCopy(const PF_EffectWorld& src, PF_EffectWorld& dst);

// The buffer size for a full size at the downsample factor num/den:
// ceil(full * num / den). Non-positive factors or sizes give `full`
// (nothing to scale); the result is limited to the A_long range.
A_long ScaledSize(A_long full, A_long num, A_long den);

// RGB to HLS in 16.16 units: hue in degrees [0, 360), lightness and
// saturation 0..1 (0x10000 = 1). r, g, b = byte / 255; mx, mn their largest
// and smallest; L = (mx + mn) / 2; H = S = 0 when mx = mn, else
// S = (mx - mn) / (mx + mn) for L <= 0.5 and (mx - mn) / (2 - mx - mn)
// above; H = 60 * ((g - b) / (mx - mn)) when r is largest, 60 * (2 + (b - r)
// / (mx - mn)) when g is, 60 * (4 + (r - g) / (mx - mn)) when b is, plus 360
// when negative (ties take r before g before b). Each result is round(v *
// 65536).
void RgbToHls(const PF_Pixel& rgb, PF_Fixed hls[3]);

// HLS (16.16) to RGB, the textbook inverse: hue wrapped into [0, 360),
// L and S clamped to 0..1; m2 = L * (1 + S) for L <= 0.5 else L + S - L * S,
// m1 = 2 * L - m2; each channel from its hue h (h + 120 for red, h for
// green, h - 120 for blue, brought back into [0, 360)): m1 + (m2 - m1) * h
// / 60 below 60, m2 below 180, m1 + (m2 - m1) * (240 - h) / 60 below 240,
// else m1; each byte = round(255 * value). Alpha is left unchanged.
// The 16.16 words are fine enough that every one of the 2^24 colours comes
// back byte for byte from RgbToHls followed by HlsToRgb.
void HlsToRgb(const PF_Fixed hls[3], PF_Pixel& rgb);

// The same two conversions evaluated plainly, one channel after another in
// double: the slow forms the fast ones above must equal word for word and
// byte for byte.
void RgbToHlsReference(const PF_Pixel& rgb, PF_Fixed hls[3]);
void HlsToRgbReference(const PF_Fixed hls[3], PF_Pixel& rgb);

}  // namespace ombrix
