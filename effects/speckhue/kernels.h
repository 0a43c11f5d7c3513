// Speckhue's per-pixel work: the noise of one pixel from the offset stream
// and the four phase streams, and what the noise does to the pixel's hue,
// lightness and saturation.
//
// The streams advance per pixel of a row-by-row walk: pixel i = y x width + x
// has drawn i values from the offset stream and i x (3 or 6) from each phase
// stream before it. Instead of stepping through the image in one thread, a
// pixel's states are found from the states at the start of its row and a
// jump of x pixels (tables filled before the iteration), so the host may
// run rows in any order and on any thread with the same result.
#pragma once

#include <pf/api.h>
#include <pf/random.h>

#include <cmath>
#include <cstdint>

namespace speckhue {

// "Noise..." items.
enum { kUniform = 1, kSquared = 2, kGrain = 3 };

inline constexpr uint32_t kOffsetSeed = 1357;
inline constexpr int64_t kSeedStep = 13793;
inline constexpr int64_t kSeedModulus = 3641352;  // 264 x 13793
inline constexpr int64_t kFullTurn = 0x1680000;   // 360 degrees in 16.16
inline constexpr int kStreams = 5;                // offset, then the phase streams s-1, s0, s1, s2

// The phase in quarter turns, split into its whole part n and fraction phi,
// and the seeds of the four phase streams s(n-1) .. s(n+2).
struct Phase {
  int64_t n;
  float phi;
  uint32_t seeds[4];
};

inline uint32_t PhaseSeed(int64_t k) {
  int64_t s = (k * kSeedStep) % kSeedModulus;
  if (s < 0) s += kSeedModulus;
  return uint32_t(s);
}

inline Phase PhaseOf(PF_Fixed angle) {
  const double p = angle / 5898240.0;
  Phase ph;
  ph.n = int64_t(std::floor(p));
  ph.phi = float(p - double(ph.n));
  for (int k = 0; k < 4; ++k) ph.seeds[k] = PhaseSeed(ph.n - 1 + k);
  return ph;
}

// Draws per pixel from each phase stream: 3 (one per component) or 6 (two).
constexpr int DrawsPerPixel(int mode) { return mode == kSquared ? 6 : 3; }

// Built afresh for every frame and handed to the pixel callbacks as refcon.
struct Block {
  float amp[3];  // hue (16.16 degrees), lightness, saturation (16.16)
  float phi;
  bool squared;
  const uint32_t* rows;               // kStreams states at the start of each row
  const pf::RandomStep* offset_jump;  // x single steps, per column
  const pf::RandomStep* phase_jump;   // x pixels of phase draws, per column
  PF_ProgPtr effect_ref;
  const PF_ColorCallbacks* color;
};

// The start states of every row, for a walk of `width` pixels per row.
inline void FillRowStates(uint32_t* rows, A_long width, A_long height, const Phase& ph, int mode) {
  const pf::RandomStep offset_row = pf::Steps(uint64_t(width));
  const pf::RandomStep phase_row = pf::Steps(uint64_t(width) * uint64_t(DrawsPerPixel(mode)));
  uint32_t s[kStreams] = {kOffsetSeed, ph.seeds[0], ph.seeds[1], ph.seeds[2], ph.seeds[3]};
  for (A_long y = 0; y < height; ++y) {
    for (int k = 0; k < kStreams; ++k) rows[size_t(y) * kStreams + k] = s[k];
    s[0] = pf::Advance(s[0], offset_row);
    for (int k = 1; k < kStreams; ++k) s[k] = pf::Advance(s[k], phase_row);
  }
}

inline void FillColumnJumps(pf::RandomStep* offset_jump, pf::RandomStep* phase_jump, A_long width, int mode) {
  const pf::RandomStep per_pixel = pf::Steps(uint64_t(DrawsPerPixel(mode)));
  pf::RandomStep o = pf::kRandomIdentity, p = pf::kRandomIdentity;
  for (A_long x = 0; x < width; ++x) {
    offset_jump[x] = o;
    phase_jump[x] = p;
    o = pf::Compose(o, pf::kRandomStep);
    p = pf::Compose(p, per_pixel);
  }
}

// One noise value from a stream: a unit draw, or in squared mode the
// product of two successive draws (the first in single precision).
inline double StreamValue(uint32_t& state, bool squared) {
  if (!squared) return pf::RandomUnit(state);
  const float first = float(pf::RandomUnit(state));
  return double(first) * pf::RandomUnit(state);
}

// The pixel's noise in hue, lightness and saturation, each in [-1, 1).
inline void PixelNoise(const Block& b, A_long x, A_long y, double noise[3]) {
  const uint32_t* row = b.rows + size_t(y) * kStreams;
  uint32_t offset = pf::Advance(row[0], b.offset_jump[x]);
  const float r = float(pf::RandomUnit(offset)) + b.phi;
  // The pair starts at s-1 below 0, at s1 above 1, else at s0; t = r + 1,
  // r - 1 or r. Computed without branches: r's side is random.
  const int lower = int(r >= 0.0f) + int(r > 1.0f);
  const float t = r - float(lower - 1);
  uint32_t lo = pf::Advance(row[1 + lower], b.phase_jump[x]);
  uint32_t hi = pf::Advance(row[2 + lower], b.phase_jump[x]);
  double low[3];
  for (int c = 0; c < 3; ++c) low[c] = StreamValue(lo, b.squared);
  for (int c = 0; c < 3; ++c) {
    const double high = StreamValue(hi, b.squared);
    noise[c] = low[c] + (high - low[c]) * double(t);
  }
}

// A hue in 16.16 degrees brought into [0, 360).
constexpr PF_Fixed WrapHue(int64_t h) {
  if (h >= kFullTurn || h < 0) {  // the division only for hues out of range
    h %= kFullTurn;
    if (h < 0) h += kFullTurn;
  }
  return PF_Fixed(h);
}

constexpr PF_Fixed Clamp(int64_t v, int64_t top) { return PF_Fixed(v < 0 ? 0 : (v > top ? top : v)); }

// hue, lightness, saturation moved by `shift` x amplitude; lightness and
// saturation limited to 0..top.
inline void Shift(const Block& b, const double shift[3], PF_Fixed hls[3], int64_t top) {
  hls[0] = WrapHue(int64_t(shift[0] * double(b.amp[0]) + hls[0]));
  hls[1] = Clamp(int64_t(shift[1] * double(b.amp[1]) + hls[1]), top);
  hls[2] = Clamp(int64_t(shift[2] * double(b.amp[2]) + hls[2]), top);
}

// Uniform and squared noise applied to one pixel.
inline PF_Err NoisePixel(const Block& b, A_long x, A_long y, const PF_Pixel& in, PF_Pixel& out) {
  double noise[3];
  PixelNoise(b, x, y, noise);
  PF_Pixel src = in;
  PF_HLS_Pixel hls = {0, 0, 0};
  PF_Err err = b.color->RGBtoHLS(b.effect_ref, &src, hls);
  Shift(b, noise, hls, 0x10000);
  PF_Pixel result = in;
  err |= b.color->HLStoRGB(b.effect_ref, hls, &result);
  result.alpha = in.alpha;
  out = result;
  return err;
}

// The grain field before smoothing: the noise as bytes around 127.5.
inline void GrainFieldPixel(const Block& b, A_long x, A_long y, PF_Pixel& out) {
  double noise[3];
  PixelNoise(b, x, y, noise);
  out.alpha = 255;
  out.red = A_u_char((noise[0] + 1.0) * 127.5);
  out.green = A_u_char((noise[1] + 1.0) * 127.5);
  out.blue = A_u_char((noise[2] + 1.0) * 127.5);
}

// The smoothed grain in `out` applied to the input pixel.
inline PF_Err GrainPixel(const Block& b, const PF_Pixel& in, PF_Pixel& out) {
  const double shift[3] = {out.red - 127.5, out.green - 127.5, out.blue - 127.5};
  PF_Pixel src = in;
  PF_HLS_Pixel hls = {0, 0, 0};
  PF_Err err = b.color->RGBtoHLS(b.effect_ref, &src, hls);
  Shift(b, shift, hls, 0xFFFF);
  PF_Pixel result = in;
  err |= b.color->HLStoRGB(b.effect_ref, hls, &result);
  result.alpha = in.alpha;
  out = result;
  return err;
}

// Rows of `width` pixels through NoisePixel, GrainFieldPixel and
// GrainPixel, left to right, stopping at the first error as the per-pixel
// walk does.
inline PF_Err NoiseRow(const Block& b, A_long y, A_long width, const PF_Pixel* in, PF_Pixel* out) {
  for (A_long x = 0; x < width; ++x)
    if (PF_Err err = NoisePixel(b, x, y, in[x], out[x])) return err;
  return PF_Err_NONE;
}

inline void GrainFieldRow(const Block& b, A_long y, A_long width, PF_Pixel* out) {
  for (A_long x = 0; x < width; ++x) GrainFieldPixel(b, x, y, out[x]);
}

inline PF_Err GrainRow(const Block& b, A_long width, const PF_Pixel* in, PF_Pixel* out) {
  for (A_long x = 0; x < width; ++x)
    if (PF_Err err = GrainPixel(b, in[x], out[x])) return err;
  return PF_Err_NONE;
}

}  // namespace speckhue
