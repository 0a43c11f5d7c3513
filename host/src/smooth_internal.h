// What the two implementations of the smoothing routine share: the pass
// parameters, the conversions of pixels to channel values and back, and
// running a set of tasks.
#pragma once

#include <ombrix/host/smooth.h>

#include <cmath>
#include <cstdint>
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

inline A_long ChannelsOf(A_long mode) { return mode == kSmoothAlpha ? 1 : mode == kSmoothColorAlpha ? 4 : 3; }

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

// Mode 111's pixels of one row of `width` pixels from their smoothed values
// (v: width groups of A, C_red, C_green, C_blue), the same numbers as Store.
void StoreColorAlphaRow(const uint16_t* v, uint8_t* px, A_long width);

// task(0) .. task(count - 1) through `run`, or in order on this thread.
void RunAll(const SmoothRunner& run, int count, const std::function<void(int)>& task);

}  // namespace ombrix::smoothing
