// The host's smoothing routine (get_callback_addr routine -2) as a pure
// function on PF_EffectWorld.
//
// Kernel: three passes of a weighted box along x, then three along y. A box
// of half-width k weighs 256 at offsets -k..k and `a` (0..256) at -(k+1) and
// k+1; its sum D = 256 (2k + 1) + 2a. For a radius r > 0 (at most
// kSmoothMaxRadius; larger radii count as that), with s = r * r / 4 in
// double: k is the largest integer with k (k + 1) <= s, and
//   alpha = (2k + 1) (s - k (k + 1)) / (6 (k + 1)^2 - 2 s),
//   a = floor(256 alpha + 0.5),
// evaluated in double in that order. The six passes together approximate a
// Gaussian of standard deviation r / 2 (each box has variance s / 3 before
// `a` is rounded).
//
// Values: each channel becomes an integer 0..65025 before the passes:
//   mode 97 ('a'):  255 * alpha;
//   mode 111 ('o'): 255 * alpha, and red * alpha, green * alpha, blue * alpha;
//   mode 126 ('~'): 255 * red, 255 * green, 255 * blue.
// A pass maps values v to out(x) = floor((sum_i w_i v(x + i) + D / 2) / D),
// exactly in integers. Outside the world v is 0 for modes 97 and 111 (the
// outside is transparent) and the nearest edge value for mode 126 (clamped).
// Afterwards, with round(p / q) = floor((2p + q) / (2q)):
//   mode 97:  alpha = round(A / 255); red, green, blue unchanged;
//   mode 111: alpha = round(A / 255); each colour = 0 when A = 0, else
//             min(255, round(255 * C / A));
//   mode 126: each colour = round(C / 255); alpha = 255.
// A radius of 0 or less (or NaN) leaves the world unchanged. Only the
// `width` pixels of each row are read and written. The result does not
// depend on how the work is split between threads.
#pragma once

#include <pf/api.h>

#include <functional>

namespace ombrix {

inline constexpr double kSmoothMaxRadius = 32000.0;

struct SmoothKernel {
  A_long k = -1;  // box half-width; -1: the radius asks for no smoothing
  A_long a = 0;   // weight of the two end taps, in 256ths
};

SmoothKernel SmoothKernelFor(double radius);

// The three mode codes.
inline constexpr A_long kSmoothAlpha = 97;        // 'a'
inline constexpr A_long kSmoothColorAlpha = 111;  // 'o'
inline constexpr A_long kSmoothColor = 126;       // '~'
bool SmoothModeKnown(A_long mode);

// Runs task(0) .. task(count - 1), in any order, possibly on several threads;
// returns when all have finished. Empty: run them in order on this thread.
using SmoothRunner = std::function<void(int count, const std::function<void(int)>& task)>;

// Smooths `world` in place. `mode` must be known (SmoothModeKnown). May
// throw std::bad_alloc (scratch planes of 2 bytes per channel and pixel).
void SmoothWorld(PF_EffectWorld& world, double radius, A_long mode, const SmoothRunner& run = {});

// The same bytes computed one value at a time, without vectors: the plain
// form of SmoothWorld, for tests that compare the two.
void SmoothWorldReference(PF_EffectWorld& world, double radius, A_long mode, const SmoothRunner& run = {});

}  // namespace ombrix
