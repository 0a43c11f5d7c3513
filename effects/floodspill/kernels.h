// Floodspill's fill: the tolerance test, the scan-line fill of the connected
// region driven by a mask of pixel states, the bleed that softens the
// region's edge and the threshold view. Free functions on one fill's record,
// nothing that talks to the host, so tests call them directly.
//
// The fill keeps no stack or queue. One mask byte per pixel records its
// state, and pixels marked "pending" are the seeds still to be filled: a
// downward and an upward pass from the seed column, then a sweep over the
// rows that steps back one row whenever a span marks new seeds above it.
// Memory is width x height bytes whatever the region's shape.
#pragma once

#include <pf/api.h>
#include <pf/blend.h>
#include <pf/world.h>

#include <cstdint>
#include <cstring>

namespace floodspill {

// "Fill Using..." values.
enum Mode { kModePaintBucket = 1, kModeUnderfill = 2 };

// Mask states.
enum : uint8_t {
  kOutside = 0,  // examined, not inside
  kPending = 1,  // examined, inside, not yet filled: a seed
  kFilled = 2,
  kUnseen = 0xFF,  // not yet examined
};

// Everything one fill needs.
struct Fill {
  const PF_EffectWorld* input;
  PF_EffectWorld* output;
  uint8_t* mask;  // width x height, row-major
  A_long width, height;
  PF_Pixel colour;  // alpha 255
  bool underfill;
  // Paint Bucket: the seed colour premultiplied by its alpha; Underfill: unused.
  int seed_r, seed_g, seed_b;
  int threshold;  // T
};

inline int Abs(int v) { return v < 0 ? -v : v; }

// Paint Bucket compares colours premultiplied by their alpha, so any two fully
// transparent pixels are equal; Underfill takes the pixels whose alpha is
// below the threshold.
inline bool Inside(const Fill& f, const PF_Pixel& p) {
  if (f.underfill) return p.alpha < f.threshold;
  const int a = p.alpha;
  const int d = (Abs(p.red * a - f.seed_r) + Abs(p.green * a - f.seed_g) + Abs(p.blue * a - f.seed_b)) >> 8;
  return d < f.threshold;
}

inline void WriteFill(const Fill& f, PF_Pixel& out) {
  out = f.underfill ? pf::BlendOver(out, f.colour) : pf::BlendOver(f.colour, out);
}

// Marks the unseen pixel (x, y) of a neighbouring row: pending when inside,
// outside otherwise. True when it became pending.
inline bool MarkNeighbour(Fill& f, A_long x, A_long y) {
  uint8_t& m = f.mask[intptr_t(y) * f.width + x];
  if (m != kUnseen) return false;
  if (Inside(f, pf::PixelAt(*f.input, x, y))) {
    m = kPending;
    return true;
  }
  m = kOutside;
  return false;
}

enum : unsigned { kMarkedBelow = 1, kMarkedAbove = 2 };

// Fills pixel x of row y if it is pending or inside; false ends the scan.
inline bool FillOne(Fill& f, A_long x, A_long y, unsigned& bits) {
  uint8_t& m = f.mask[intptr_t(y) * f.width + x];
  // A filled pixel was inside when it was filled; an outside one was tested.
  if (m == kOutside) return false;
  if (m == kUnseen && !Inside(f, pf::PixelAt(*f.input, x, y))) return false;
  WriteFill(f, pf::PixelAt(*f.output, x, y));
  m = kFilled;
  if (y > 0 && MarkNeighbour(f, x, y - 1)) bits |= kMarkedAbove;
  if (y + 1 < f.height && MarkNeighbour(f, x, y + 1)) bits |= kMarkedBelow;
  return true;
}

// Fills the run of inside pixels through (x, y) in row y: rightward from x,
// then leftward from x - 1 (also when (x, y) itself is not inside), marking
// the inside pixels above and below the run as pending. Returns kMarkedAbove
// and kMarkedBelow for the rows where it marked at least one pixel.
inline unsigned FillSpan(Fill& f, A_long x, A_long y) {
  if (x < 0 || y < 0 || x >= f.width || y >= f.height) return 0;
  unsigned bits = 0;
  for (A_long i = x; i < f.width && FillOne(f, i, y, bits); ++i) {
  }
  for (A_long i = x - 1; i >= 0 && FillOne(f, i, y, bits); --i) {
  }
  return bits;
}

inline void RunFill(Fill& f, PF_Fixed point_x, PF_Fixed point_y) {
  const A_long sx = point_x / 65536;  // truncation toward zero
  const A_long sy = point_y / 65536;
  for (A_long y = sy; y < f.height; ++y) {
    if ((FillSpan(f, sx, y) & kMarkedBelow) == 0) break;
  }
  for (A_long y = A_long((int64_t(point_y) - 65536) / 65536); y >= 0; --y) {
    if ((FillSpan(f, sx, y) & kMarkedAbove) == 0) break;
  }
  // The sweep: every pending pixel left behind by the passes, row by row;
  // a span that marks seeds in the row above sends the sweep back there.
  A_long j = 0;
  while (j < f.height) {
    uint8_t* row = f.mask + intptr_t(j) * f.width;
    bool back = false;
    for (A_long k = 0; k < f.width; ++k) {
      const void* next = std::memchr(row + k, kPending, size_t(f.width - k));
      if (next == nullptr) break;
      k = A_long(static_cast<const uint8_t*>(next) - row);
      if (FillSpan(f, k, j) & kMarkedAbove) {
        back = true;
        break;
      }
    }
    j = back ? j - 1 : j + 1;
  }
}

// Widens and softens the region's edge: a disc with a paraboloid falloff on
// every filled pixel that has a neighbour outside the region. The border
// rows and columns are not used as centres.
inline void Bleed(Fill& f, double bleed, double scale) {
  const double r = bleed * scale + 1.0;
  const float rf = float(r);
  const float r2 = rf * rf;
  const float alpha_scale = 255.0f / r2;
  const A_long w = f.width, h = f.height;
  for (A_long m = 1; m + 1 < h; ++m) {
    const uint8_t* row = f.mask + intptr_t(m) * w;
    for (A_long p = 1; p + 1 < w; ++p) {
      if (row[p] != kFilled) continue;
      if (row[p - 1] == kFilled && row[p + 1] == kFilled && row[p - w] == kFilled && row[p + w] == kFilled) continue;
      A_long x0 = A_long(double(p) - r), x1 = A_long(double(p) + r);
      A_long y0 = A_long(double(m) - r), y1 = A_long(double(m) + r);
      if (x0 < 0) x0 = 0;
      if (y0 < 0) y0 = 0;
      if (x1 > w - 1) x1 = w - 1;
      if (y1 > h - 1) y1 = h - 1;
      for (A_long y = y0; y <= y1; ++y) {
        for (A_long x = x0; x <= x1; ++x) {
          const A_long d2 = (p - x) * (p - x) + (m - y) * (m - y);
          if (!(float(d2) < r2)) continue;
          PF_Pixel& out = pf::PixelAt(*f.output, x, y);
          PF_Pixel c = f.colour;
          c.alpha = A_u_char(int((r2 - float(d2)) * alpha_scale));
          if (f.underfill) {
            if (out.alpha != 255) out = pf::BlendOver(out, c);
          } else {
            out = pf::BlendOver(c, out);
          }
        }
      }
    }
  }
}

// Opaque black where the test says inside, opaque white elsewhere.
inline void ViewThreshold(const Fill& f) {
  for (A_long y = 0; y < f.height; ++y) {
    for (A_long x = 0; x < f.width; ++x) {
      const A_u_char v = Inside(f, pf::PixelAt(*f.input, x, y)) ? 0 : 255;
      pf::PixelAt(*f.output, x, y) = PF_Pixel{255, v, v, v};
    }
  }
}

}  // namespace floodspill
