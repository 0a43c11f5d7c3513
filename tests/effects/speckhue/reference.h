// Speckhue worked out one draw at a time, for the tests: the offset stream and the four phase
// streams stepped one draw at a time through the pixels in walking order
// (row by row, each row's pixels only), the streams not chosen skipped
// ahead three draws at a time, and the noise applied on the host's HLS
// conversion.
#pragma once

#include <ombrix/host/host.h>
#include <ombrix/host/pixel_ops.h>

#include "common/test_image.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace speckhue_ref {

// One draw of stream `s` in -1..1 (15 bits of the rand() recurrence).
inline double Unit(uint32_t& s) {
  testimage::Lcg g{s};
  const double u = double(g.Rand15()) / 16384.0 - 1.0;
  s = g.state;
  return u;
}

inline void SkipThree(uint32_t& s) { s = testimage::Lcg{s}.Stride(3).Next(); }

struct Settings {
  int mode = 1;
  A_long hue = 0, lightness = 0, saturation = 0;  // raw 16.16
  A_long grain_size = 0x10000;
  A_long phase = 0;  // 16.16 degrees
  double downsample = 1.0;
};

// n and the fraction of the phase in quarter turns.
inline void SplitPhase(A_long phase, int64_t& n, float& phi) {
  const double p = phase / 5898240.0;
  n = int64_t(std::floor(p));
  phi = float(p - double(n));
}

inline uint32_t Seed(int64_t k) {
  int64_t s = (k * 13793) % 3641352;
  return uint32_t(s < 0 ? s + 3641352 : s);
}

struct Streams {
  uint32_t offset = 1357;
  uint32_t phase[4];
  float phi = 0;
  bool squared = false;

  double Value(uint32_t& s) const {
    if (!squared) return Unit(s);
    const float first = float(Unit(s));
    return double(first) * Unit(s);
  }

  // The next pixel's noise in hue, lightness, saturation.
  void Next(double noise[3]) {
    const double d = Unit(offset);
    const float r = float(d) + phi;
    int lower = 1;
    float t = r;
    if (r < 0) {
      lower = 0;
      t = r + 1;
    } else if (r > 1) {
      lower = 2;
      t = r - 1;
    }
    double lo[3], hi[3];
    for (double& v : lo) v = Value(phase[lower]);
    for (double& v : hi) v = Value(phase[lower + 1]);
    for (int k = 0; k < 4; ++k) {
      if (k == lower || k == lower + 1) continue;
      SkipThree(phase[k]);
      if (squared) SkipThree(phase[k]);
    }
    for (int c = 0; c < 3; ++c) noise[c] = lo[c] + (hi[c] - lo[c]) * double(t);
  }
};

inline Streams StreamsFor(const Settings& s) {
  Streams st;
  int64_t n;
  SplitPhase(s.phase, n, st.phi);
  for (int k = 0; k < 4; ++k) st.phase[k] = Seed(n - 1 + k);
  st.squared = s.mode == 2;
  return st;
}

inline double GrainRadius(const Settings& s) { return s.downsample * (s.grain_size / 65536.0); }

// Amplitudes in single precision, grain-scaled in grain mode.
inline void Amplitudes(const Settings& s, float amp[3]) {
  amp[0] = float(s.hue) * 360.0f;
  amp[1] = float(s.lightness);
  amp[2] = float(s.saturation);
  if (s.mode == 3) {
    const float scale = float((0.2 * GrainRadius(s) + 1.0) / 127.5);
    for (int c = 0; c < 3; ++c) amp[c] = amp[c] * scale;
  }
}

// The pixel with its hue, lightness and saturation moved by shift x amp.
inline PF_Pixel Shifted(const PF_Pixel& in, const double shift[3], const float amp[3], int64_t top) {
  PF_Fixed hls[3];
  ombrix::RgbToHls(in, hls);
  int64_t h = int64_t(std::trunc(shift[0] * amp[0] + hls[0])) % 0x1680000;
  if (h < 0) h += 0x1680000;
  int64_t l = int64_t(std::trunc(shift[1] * amp[1] + hls[1]));
  int64_t sat = int64_t(std::trunc(shift[2] * amp[2] + hls[2]));
  l = l < 0 ? 0 : (l > top ? top : l);
  sat = sat < 0 ? 0 : (sat > top ? top : sat);
  const PF_Fixed out_hls[3] = {PF_Fixed(h), PF_Fixed(l), PF_Fixed(sat)};
  PF_Pixel out = in;
  ombrix::HlsToRgb(out_hls, out);
  out.alpha = in.alpha;
  return out;
}

// Uniform and squared modes over the whole frame.
inline ombrix::World Render(const ombrix::World& in, const Settings& s, Streams st) {
  ombrix::World out(in.width(), in.height());
  float amp[3];
  Amplitudes(s, amp);
  for (A_long y = 0; y < in.height(); ++y) {
    for (A_long x = 0; x < in.width(); ++x) {
      double noise[3];
      st.Next(noise);
      out.At(x, y) = Shifted(in.At(x, y), noise, amp, 0x10000);
    }
  }
  return out;
}

inline ombrix::World Render(const ombrix::World& in, const Settings& s) { return Render(in, s, StreamsFor(s)); }

// The grain field before smoothing.
inline ombrix::World GrainField(A_long width, A_long height, const Settings& s) {
  ombrix::World field(width, height);
  Streams st = StreamsFor(s);
  st.squared = false;
  for (A_long y = 0; y < height; ++y) {
    for (A_long x = 0; x < width; ++x) {
      double noise[3];
      st.Next(noise);
      field.At(x, y) = PF_Pixel{255, uint8_t((noise[0] + 1) * 127.5), uint8_t((noise[1] + 1) * 127.5),
                                uint8_t((noise[2] + 1) * 127.5)};
    }
  }
  return field;
}

// The grain applied to the input from a (smoothed) field.
inline ombrix::World ApplyGrain(const ombrix::World& in, const ombrix::World& field, const Settings& s) {
  ombrix::World out(in.width(), in.height());
  float amp[3];
  Amplitudes(s, amp);
  for (A_long y = 0; y < in.height(); ++y) {
    for (A_long x = 0; x < in.width(); ++x) {
      const PF_Pixel& g = field.At(x, y);
      const double shift[3] = {g.red - 127.5, g.green - 127.5, g.blue - 127.5};
      out.At(x, y) = Shifted(in.At(x, y), shift, amp, 0xFFFF);
    }
  }
  return out;
}

}  // namespace speckhue_ref
