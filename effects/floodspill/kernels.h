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

#include <algorithm>
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
// and kMarkedBelow for the rows where it marked at least one pixel. One
// pixel at a time, each marking its neighbours as it is filled: the plain
// form that FillSpan must match.
inline unsigned FillSpanByPixel(Fill& f, A_long x, A_long y) {
  if (x < 0 || y < 0 || x >= f.width || y >= f.height) return 0;
  unsigned bits = 0;
  for (A_long i = x; i < f.width && FillOne(f, i, y, bits); ++i) {
  }
  for (A_long i = x - 1; i >= 0 && FillOne(f, i, y, bits); --i) {
  }
  return bits;
}

// Whether a pixel in state m joins the run: pending, filled (it was inside
// when filled) or unseen and inside. The test leaves the mask as it is.
inline bool Joins(const Fill& f, uint8_t m, const PF_Pixel& p) {
  return m != kOutside && (m != kUnseen || Inside(f, p));
}

// Four lanes of 32-bit integers (GCC vector extensions, SSE2 on every x86-64).
typedef int32_t Lanes __attribute__((vector_size(16)));
typedef uint32_t ULanes __attribute__((vector_size(16)));

// The tolerance test of four neighbouring pixels, each lane -1 when inside:
// Inside's integer arithmetic, lane by lane.
inline Lanes InsideLanes(const Fill& f, const PF_Pixel* p) {
  ULanes v;
  std::memcpy(&v, p, sizeof v);
  const Lanes a = Lanes(v & 255u);  // PF_Pixel's bytes: alpha, red, green, blue
  if (f.underfill) return a < f.threshold;
  auto abs = [](Lanes d) { return d < 0 ? -d : d; };
  const Lanes r = Lanes((v >> 8) & 255u), g = Lanes((v >> 16) & 255u), b = Lanes(v >> 24);
  const Lanes d = (abs(r * a - f.seed_r) + abs(g * a - f.seed_g) + abs(b * a - f.seed_b)) >> 8;
  return d < f.threshold;
}

// True when one of the eight mask bytes at m is kUnseen (0xFF).
inline bool AnyUnseen(const uint8_t* m) {
  uint64_t w;
  std::memcpy(&w, m, sizeof w);
  const uint64_t u = ~w;  // a zero byte where the mask is kUnseen
  return ((u - 0x0101010101010101ull) & ~u & 0x8080808080808080ull) != 0;
}

// Marks the unseen pixels x0 .. x1 - 1 of row y; true when one became pending.
// Words of eight examined pixels are stepped over; the test runs four
// pixels at a time.
inline bool MarkRow(Fill& f, A_long x0, A_long x1, A_long y) {
  uint8_t* m = f.mask + intptr_t(y) * f.width;
  const PF_Pixel* in = pf::PixelRow(*f.input, y);
  bool marked = false;
  auto mark = [&](A_long x, bool inside) {
    if (m[x] != kUnseen) return;
    m[x] = inside ? kPending : kOutside;
    marked = marked || inside;
  };
  A_long x = x0;
  while (x + 8 <= x1) {
    uint64_t word;
    std::memcpy(&word, m + x, sizeof word);
    if (word == ~uint64_t(0)) {
      // Eight unseen pixels: their states are the tests' results as bytes.
      static_assert(kPending == 1 && kOutside == 0);
      const Lanes lo = InsideLanes(f, in + x) & 1, hi = InsideLanes(f, in + x + 4) & 1;
      word = 0;
      for (int i = 0; i < 4; ++i) word |= uint64_t(lo[i]) << (8 * i) | uint64_t(hi[i]) << (8 * i + 32);
      std::memcpy(m + x, &word, sizeof word);
      marked = marked || word != 0;
      x += 8;
      continue;
    }
    if (!AnyUnseen(m + x)) {
      x += 8;
      continue;
    }
    for (A_long end = x + 8; x < end; x += 4) {
      const Lanes inside = InsideLanes(f, in + x);
      for (int i = 0; i < 4; ++i) mark(x + i, inside[i] != 0);
    }
  }
  for (; x < x1; ++x) mark(x, Inside(f, in[x]));
  return marked;
}

// FillSpanByPixel a run at a time: the run's ends are found first, then it is
// filled, then the rows above and below are marked under it. A pixel's
// marks touch only its column of the other rows, never the run's own row,
// so the order of the steps changes no byte of the output or the mask.
inline unsigned FillSpan(Fill& f, A_long x, A_long y) {
  if (x < 0 || y < 0 || x >= f.width || y >= f.height) return 0;
  uint8_t* m = f.mask + intptr_t(y) * f.width;
  const PF_Pixel* in = pf::PixelRow(*f.input, y);
  A_long hi = x, lo = x;
  while (hi < f.width && Joins(f, m[hi], in[hi])) ++hi;
  while (lo > 0 && Joins(f, m[lo - 1], in[lo - 1])) --lo;
  if (lo == hi) return 0;
  PF_Pixel* out = pf::PixelRow(*f.output, y);
  if (!f.underfill && f.colour.alpha == 255) {
    // An opaque colour over anything is the colour.
    std::fill(out + lo, out + hi, f.colour);
  } else {
    for (A_long i = lo; i < hi; ++i) WriteFill(f, out[i]);
  }
  std::memset(m + lo, kFilled, size_t(hi - lo));
  unsigned bits = 0;
  if (y > 0 && MarkRow(f, lo, hi, y - 1)) bits |= kMarkedAbove;
  if (y + 1 < f.height && MarkRow(f, lo, hi, y + 1)) bits |= kMarkedBelow;
  return bits;
}

using SpanFunc = unsigned (*)(Fill& f, A_long x, A_long y);

inline void RunFill(Fill& f, PF_Fixed point_x, PF_Fixed point_y, SpanFunc span = FillSpan) {
  const A_long sx = point_x / 65536;  // truncation toward zero
  const A_long sy = point_y / 65536;
  for (A_long y = sy; y < f.height; ++y) {
    if ((span(f, sx, y) & kMarkedBelow) == 0) break;
  }
  for (A_long y = A_long((int64_t(point_y) - 65536) / 65536); y >= 0; --y) {
    if ((span(f, sx, y) & kMarkedAbove) == 0) break;
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
      if (span(f, k, j) & kMarkedAbove) {
        back = true;
        break;
      }
    }
    j = back ? j - 1 : j + 1;
  }
}

// The bleed's disc: radius r = bleed x scale + 1 and its paraboloid falloff.
struct BleedDisc {
  double r;
  float r2, alpha_scale;
};

inline BleedDisc MakeBleedDisc(double bleed, double scale) {
  const double r = bleed * scale + 1.0;
  const float rf = float(r);
  const float r2 = rf * rf;
  return BleedDisc{r, r2, 255.0f / r2};
}

// The alpha of the disc's pixel at squared distance d2 from its centre, or -1
// outside the disc.
inline int BleedAlpha(const BleedDisc& disc, A_long d2) {
  if (!(float(d2) < disc.r2)) return -1;
  return A_u_char(int((disc.r2 - float(d2)) * disc.alpha_scale));
}

inline void BleedPixel(const Fill& f, int alpha, PF_Pixel& out) {
  PF_Pixel c = f.colour;
  c.alpha = A_u_char(alpha);
  if (f.underfill) {
    if (out.alpha != 255) out = pf::BlendOver(out, c);
  } else {
    out = pf::BlendOver(c, out);
  }
}

// Every filled pixel with a neighbour outside the region, row by row, with
// its disc's box clamped into the frame: edge(p, m, x0, x1, y0, y1). The
// border rows and columns are not used as centres.
template <class Edge>
void ForEachBleedCentre(const Fill& f, double r, Edge&& edge) {
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
      edge(p, m, x0, x1, y0, y1);
    }
  }
}

// Widens and softens the region's edge: a disc with a paraboloid falloff on
// every filled pixel that has a neighbour outside the region, each disc's
// pixels worked out as it is stamped. The plain form Bleed must match.
inline void BleedByPixel(Fill& f, double bleed, double scale) {
  const BleedDisc disc = MakeBleedDisc(bleed, scale);
  ForEachBleedCentre(f, disc.r, [&](A_long p, A_long m, A_long x0, A_long x1, A_long y0, A_long y1) {
    for (A_long y = y0; y <= y1; ++y) {
      for (A_long x = x0; x <= x1; ++x) {
        const int alpha = BleedAlpha(disc, (p - x) * (p - x) + (m - y) * (m - y));
        if (alpha >= 0) BleedPixel(f, alpha, pf::PixelAt(*f.output, x, y));
      }
    }
  });
}

// The widest disc the table holds: Bleed at most 20 at full scale.
inline constexpr A_long kBleedTableReach = 24;
inline constexpr A_long kBleedTableSide = 2 * kBleedTableReach + 1;

// BleedByPixel with the disc's alphas worked out once, in a table by offset
// from the centre. A box reaches at most floor(r) + 1 pixels from its centre
// (the bounds are r either side, truncated); larger discs (a bleed scaled
// up beyond the slider) take the plain form.
inline void Bleed(Fill& f, double bleed, double scale) {
  const BleedDisc disc = MakeBleedDisc(bleed, scale);
  if (!(disc.r + 1.0 < double(kBleedTableReach))) {
    BleedByPixel(f, bleed, scale);
    return;
  }
  int16_t table[kBleedTableSide * kBleedTableSide];
  for (A_long dy = -kBleedTableReach; dy <= kBleedTableReach; ++dy)
    for (A_long dx = -kBleedTableReach; dx <= kBleedTableReach; ++dx)
      table[(dy + kBleedTableReach) * kBleedTableSide + dx + kBleedTableReach] =
          int16_t(BleedAlpha(disc, dx * dx + dy * dy));
  ForEachBleedCentre(f, disc.r, [&](A_long p, A_long m, A_long x0, A_long x1, A_long y0, A_long y1) {
    for (A_long y = y0; y <= y1; ++y) {
      const int16_t* alphas = table + (y - m + kBleedTableReach) * kBleedTableSide + kBleedTableReach;
      PF_Pixel* out = pf::PixelRow(*f.output, y);
      for (A_long x = x0; x <= x1; ++x)
        if (alphas[x - p] >= 0) BleedPixel(f, alphas[x - p], out[x]);
    }
  });
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
