// What the two implementations of the smoothing routine share: the pass
// parameters, the conversions of pixels to channel values and back, and
// running a set of tasks.
#pragma once

#include <ombrix/host/smooth.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>

namespace ombrix::smoothing {

struct Pass {
  A_long k;
  double a;     // end weight
  double half;  // D / 2 (D is even)
  double inv;   // 1 / D
  bool clamp;   // edges clamped (else zero outside)
  // Whole-number form, used when every sum plus D / 2 stays below 2^31
  // (D x 65025.5 < 2^31, which holds for k up to 63, radius about 127).
  bool fits32;
  int32_t a32, half32, d32;
  float inv32;
};

Pass PassFor(const SmoothKernel& kernel, bool clamp);

// What a run of the passes works with: the world's size, its channels,
// the pass and the plane of interleaved channel values (row y at y *
// pitch). Rows are smoothed along x in bands of band_rows rows, columns
// along y in strips of strip_cols columns: a band's or strip's two buffers
// stay in a core's cache (with three channels the lanes stay a multiple of
// 8, the vector width). `smooth` is false when nothing is to be done.
struct Run {
  bool smooth;
  A_long W, H, channels;
  Pass pass;
  size_t pitch;
  A_long band_rows, strip_cols;
  int bands, strips;
};

inline A_long ChannelsOf(A_long mode) { return mode == kSmoothAlpha ? 1 : mode == kSmoothColorAlpha ? 4 : 3; }

inline Run RunFor(const PF_EffectWorld& world, double radius, A_long mode) {
  const SmoothKernel kernel = SmoothKernelFor(radius);
  Run r{};
  r.W = world.width;
  r.H = world.height;
  r.smooth = kernel.k >= 0 && r.W > 0 && r.H > 0 && world.data;
  if (!r.smooth) return r;
  r.channels = ChannelsOf(mode);
  r.pass = PassFor(kernel, mode == kSmoothColor);
  r.pitch = size_t(r.W) * size_t(r.channels);
  r.band_rows = r.channels == 3 ? 16 : 32 / r.channels;
  r.strip_cols = r.channels == 3 ? 32 : 64 / r.channels;
  r.bands = int((r.H + r.band_rows - 1) / r.band_rows);
  r.strips = int((r.W + r.strip_cols - 1) / r.strip_cols);
  return r;
}

// Scratch that every pass writes before it is read: no clearing.
template <typename T>
std::unique_ptr<T[]> Scratch(size_t n) {
  return std::unique_ptr<T[]>(new T[n]);
}

// floor(n / D + 1/2) for whole n + D/2 below 2^40 and D below 2^24: the
// product with the rounded reciprocal is within 2^-36 of the true quotient,
// whose fraction is 0 or at least 1/D > 2^-24, so adding 2^-30 before
// truncating lands in the right integer.
inline uint16_t DivideRound(double sum, double half, double inv) {
  return uint16_t(int32_t((sum + half) * inv + 0x1p-30));
}

inline PF_Pixel* RowOf(PF_EffectWorld& w, A_long y) {
  return reinterpret_cast<PF_Pixel*>(reinterpret_cast<uint8_t*>(w.data) + size_t(y) * size_t(w.rowbytes));
}

// The channel values of one pixel before the passes.
inline void Load(const PF_Pixel& px, A_long mode, uint16_t* v) {
  switch (mode) {
    case kSmoothAlpha:
      v[0] = uint16_t(255 * px.alpha);
      break;
    case kSmoothColorAlpha:
      v[0] = uint16_t(255 * px.alpha);
      v[1] = uint16_t(px.red * px.alpha);
      v[2] = uint16_t(px.green * px.alpha);
      v[3] = uint16_t(px.blue * px.alpha);
      break;
    default:
      v[0] = uint16_t(255 * px.red);
      v[1] = uint16_t(255 * px.green);
      v[2] = uint16_t(255 * px.blue);
      break;
  }
}

inline uint8_t Round255(uint32_t v) { return uint8_t((2 * v + 255) / 510); }

// The pixel after the passes from its smoothed values.
inline void Store(const uint16_t* v, A_long mode, PF_Pixel& px) {
  switch (mode) {
    case kSmoothAlpha:
      px.alpha = Round255(v[0]);
      break;
    case kSmoothColorAlpha: {
      const uint32_t A = v[0];
      px.alpha = Round255(A);
      const double inv2a = A ? 1.0 / (2.0 * A) : 0.0;
      uint8_t* colour[3] = {&px.red, &px.green, &px.blue};
      for (int c = 0; c < 3; ++c) {
        // round(255 C / A) = floor((510 C + A) / 2A): the numerator is below
        // 2^26, so the product with the rounded reciprocal is within 2^-40 of
        // the quotient, whose fraction is 0 or at least 1/2A > 2^-18.
        if (A == 0) {
          *colour[c] = 0;
        } else {
          const int32_t q = int32_t((510.0 * v[c + 1] + A) * inv2a + 0x1p-30);
          *colour[c] = uint8_t(std::min(q, 255));
        }
      }
      break;
    }
    default:
      px.red = Round255(v[0]);
      px.green = Round255(v[1]);
      px.blue = Round255(v[2]);
      px.alpha = 255;
      break;
  }
}

// Row i of a pass's input of n rows: outside, the nearest edge row when
// the edges are clamped, else the zero row.
inline const uint16_t* PassRow(const uint16_t* in, size_t in_stride, A_long n, A_long i, const Pass& p,
                               const uint16_t* zeros) {
  if (i < 0) return p.clamp ? in : zeros;
  if (i >= n) return p.clamp ? in + size_t(n - 1) * in_stride : zeros;
  return in + size_t(i) * in_stride;
}

// acc = the window sums of a pass's first output, rows -k..k. A window sum
// is below 65025 x 32001 < 2^31 (k is at most 16000).
inline void StartWindow(const uint16_t* in, size_t in_stride, A_long n, A_long lanes, const Pass& p, uint32_t* acc) {
  const A_long k = p.k;
  std::fill(acc, acc + lanes, 0u);
  const A_long last_inside = std::min(k, n - 1);
  for (A_long i = 0; i <= last_inside; ++i) {
    const uint16_t* r = in + size_t(i) * in_stride;
    for (A_long j = 0; j < lanes; ++j) acc[j] += r[j];
  }
  if (p.clamp) {
    const uint32_t before = uint32_t(k), after = uint32_t(std::max<A_long>(0, k - (n - 1)));
    const uint16_t* first = in;
    const uint16_t* last = in + size_t(n - 1) * in_stride;
    for (A_long j = 0; j < lanes; ++j) acc[j] += before * first[j] + after * last[j];
  }
}

// One lane of a pass in the whole-number form: the output value from the
// window sum s and the end taps, floor(N / D) for N = 256 s + a (lo + hi) +
// D / 2 < 2^31. The float quotient is within 0.02 of N / D (three roundings
// of 2^-24 on a quotient below 65026), so its truncation is floor(N / D) or
// one off; the remainder, exact in 32 bits, puts it right.
inline uint16_t Divide32(uint32_t s, uint16_t lo, uint16_t hi, const Pass& p) {
  const int32_t N = int32_t(s << 8) + p.a32 * (int32_t(lo) + int32_t(hi)) + p.half32;
  int32_t q = int32_t(float(N) * p.inv32);
  const int32_t r = int32_t(uint32_t(N) - uint32_t(q) * uint32_t(p.d32));
  q += int32_t(r >= p.d32) - int32_t(r < 0);
  return uint16_t(q);
}

// The same in doubles, for sums past the whole-number form.
inline uint16_t DivideWide(uint32_t s, uint16_t lo, uint16_t hi, const Pass& p) {
  return DivideRound(256.0 * double(s) + p.a * double(int32_t(lo) + int32_t(hi)), p.half, p.inv);
}

// Rows y0 .. y0 + rows - 1 of the world as channel values, laid out x-major
// ([x][row][channel], `lanes` = rows x channels values per x).
inline void LoadBand(PF_EffectWorld& world, A_long mode, A_long y0, A_long rows, uint16_t* band) {
  const A_long channels = ChannelsOf(mode), lanes = rows * channels;
  for (A_long j = 0; j < rows; ++j) {
    const PF_Pixel* px = RowOf(world, y0 + j);
    uint16_t* t = band + size_t(j) * channels;
    for (A_long x = 0; x < world.width; ++x) Load(px[x], mode, t + size_t(x) * lanes);
  }
}

// The band's rows back into the plane's row layout ([y][x][channel]).
inline void BandToPlane(const uint16_t* band, A_long rows, A_long channels, A_long width, uint16_t* plane,
                        size_t pitch) {
  const A_long lanes = rows * channels;
  for (A_long j = 0; j < rows; ++j) {
    uint16_t* dst = plane + size_t(j) * pitch;
    const uint16_t* src = band + size_t(j) * channels;
    if (channels == 4) {
      for (A_long x = 0; x < width; ++x) std::memcpy(dst + size_t(x) * 4, src + size_t(x) * lanes, 8);
    } else {
      for (A_long x = 0; x < width; ++x)
        for (A_long c = 0; c < channels; ++c) dst[size_t(x) * channels + c] = src[size_t(x) * lanes + c];
    }
  }
}

// Mode 111's pixels of one row of `width` pixels from their smoothed values
// (v: width groups of A, C_red, C_green, C_blue), the same numbers as Store.
void StoreColorAlphaRow(const uint16_t* v, uint8_t* px, A_long width);

// task(0) .. task(count - 1) through `run`, or in order on this thread.
void RunAll(const SmoothRunner& run, int count, const std::function<void(int)>& task);

}  // namespace ombrix::smoothing
