// Facetry's arithmetic: the render setup (amplitude, overflow numbering, the
// size of the reduced copy for the crystallize types) and the per-pixel
// patterns, as free functions on the frame's constant block. The pixel
// function talks to the host only through the square root and the sampler
// the block carries.
#pragma once

#include <noise/cell.h>
#include <noise/fractal.h>
#include <pf/api.h>
#include <pf/smoothstep.h>

#include <cstdint>
#include <cstring>
#include <limits>

namespace facetry {

// "Facetry..." values; 6 is the separator.
enum CellType : int32_t {
  kBubbles = 1,
  kCrystals = 2,
  kPlates = 3,
  kStaticPlates = 4,
  kCrystallize = 5,
  kSeparator = 6,
  kPillow = 7,
  kCrystalsHQ = 8,
  kPlatesHQ = 9,
  kStaticPlatesHQ = 10,
  kCrystallizeHQ = 11,
  kMixedCrystalsHQ = 12,
  kTubular = 13,
};

// Facetry's overflow numbers: 1 Clip, 2 Soft Clamp, 3 Wrap Back, 5..7 the
// same inverted, 9 centred soft clamp, 10 the same inverted.
enum FacetryMode : int32_t {
  kModeSoftClamp = 2,
  kModeSoftClampInverted = 6,
  kModeCentred = 9,
  kModeCentredInverted = 10,
  kModeInvertStep = 4,
};

inline bool IsPatternType(int32_t type) { return type >= kBubbles && type <= kTubular && type != kSeparator; }
inline bool IsCrystallize(int32_t type) { return type == kCrystallize || type == kCrystallizeHQ; }
inline bool IsStatic(int32_t type) { return type == kStaticPlates || type == kStaticPlatesHQ; }

// Bubbles, Pillow and Tubular are dark at the feature points: their invert
// check box is flipped.
inline bool FlipsInvert(int32_t type) { return type == kBubbles || type == kPillow || type == kTubular; }

// The mode number: the "Overflow..." value, plus 4 when the effective invert
// is on; Mixed Crystals HQ takes the centred soft clamp.
inline int32_t ModeFor(int32_t type, int32_t overflow, bool invert_box) {
  const bool invert = FlipsInvert(type) ? !invert_box : invert_box;
  int32_t mode = overflow + (invert ? kModeInvertStep : 0);
  if (type == kMixedCrystalsHQ) {
    if (mode == kModeSoftClamp) mode = kModeCentred;
    if (mode == kModeSoftClampInverted) mode = kModeCentredInverted;
  }
  return mode;
}

// The gray byte for intensity v under a Facetry mode: the core's mappings,
// whose numbers run one higher from the inverted ones on.
inline uint8_t MapFacetryOverflow(double v, int32_t mode) {
  return noise::MapOverflow(v, mode > kModeInvertStep ? mode + 1 : mode);
}

// The plain clip of the plate types (truncating), inverted above mode 4.
inline uint8_t PlateGray(double v, int32_t mode) {
  const uint8_t g = noise::MapOverflow(v, noise::kOverflowClip);
  return mode > kModeInvertStep ? uint8_t(255 - g) : g;
}

// A = "Contrast or Sharpness" x 0.15, scaled per type.
inline double Amplitude(int32_t type, double contrast) {
  const double a0 = contrast * 0.15;
  switch (type) {
    case kBubbles:
    case kCrystals:
    case kPillow:
    case kCrystalsHQ:
      return a0 * 1275.0;
    case kMixedCrystalsHQ:
      return a0 * 637.5;
    case kTubular:
      return a0 * 2550.0;
    default:
      return a0 * 15.0 + 5.0;
  }
}

// The reduced copy of the input for the crystallize types: about two pixels
// per cell, at least eight cells across the smaller side, never enlarged.
struct CopySize {
  A_long width, height;
};

inline CopySize ReducedCopySize(A_long width, A_long height, double k) {
  double g = k;
  if (g * width < 8.0 || g * height < 8.0) g = 8.0 / double(width < height ? width : height);
  double s = 2.0 * g;
  if (s > 1.0) s = 1.0;
  return CopySize{A_long(s * width), A_long(s * height)};
}

using SampleFunc = PF_Err (*)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params,
                              PF_Pixel* dst_pixel);

// Where the crystallize types read their cell colours.
struct ColourSource {
  SampleFunc sample;  // the host's subpixel sampler
  PF_ProgPtr effect_ref;
  const PF_SampPB* samp;      // its src: the reduced copy
  double x_scale, y_scale;    // (copy size / input size) x 65536
  PF_Fixed x_limit, y_limit;  // (copy size - 1) x 65536
};

// The frame's constant block, handed to every pixel as the iterate refcon.
struct Block {
  noise::CellGrid grid;
  const noise::PlateBytes* plates;  // static plate types
  int32_t type;
  int32_t mode;
  double amplitude;      // A
  double k, h;           // cells per pixel, pixels per cell
  double ox, oy;         // "Offset", buffer pixels
  noise::SqrtFunc sqrt;  // the host's square root
  ColourSource colour;   // crystallize types
};

// The 16.16 position in the copy of cell c's corner: at least 32768 (half a
// pixel in), at most the limit. Clamped before the conversion to an integer.
inline PF_Fixed CornerPosition(int32_t c, double h, double offset, double scale, PF_Fixed limit) {
  const double v = (double(c) * h + offset) * scale;
  PF_Fixed p;
  if (!(v >= 32768.0))
    p = 32768;
  else if (v >= double(limit) + 1.0)
    p = limit;
  else
    p = PF_Fixed(v);
  return p > limit ? limit : p;
}

inline PF_Err CellColour(const ColourSource& src, int32_t cx, int32_t cy, double h, double ox, double oy,
                         PF_Pixel& colour) {
  const PF_Fixed x = CornerPosition(cx, h, ox, src.x_scale, src.x_limit);
  const PF_Fixed y = CornerPosition(cy, h, oy, src.y_scale, src.y_limit);
  return src.sample(src.effect_ref, x, y, src.samp, &colour);
}

inline uint8_t ByteOf(float v) {
  if (!(v > 0.0f)) return 0;
  if (v >= 255.0f) return 255;
  return uint8_t(v);
}

// C1 weighted by t against C2, alpha-weighted, in single precision.
inline PF_Pixel BlendColours(const PF_Pixel& c1, const PF_Pixel& c2, double t) {
  if (t <= 0.0) return c2;
  if (t >= 1.0) return c1;
  const float w1 = float(t);
  const float w2 = 1.0f - w1;
  const float a1 = float(c1.alpha), a2 = float(c2.alpha);
  const float alpha = w1 * a1 + w2 * a2;
  if (alpha <= 0.0f) return PF_Pixel{0, 0, 0, 0};
  const bool opaque = ByteOf(alpha) == 255;
  auto channel = [&](uint8_t v1, uint8_t v2) {
    const float c = (w1 * a1 * float(v1) + w2 * a2 * float(v2)) / 255.0f;
    return opaque ? ByteOf(c) : ByteOf(255.0f / alpha * c);
  };
  return PF_Pixel{ByteOf(alpha), channel(c1.red, c2.red), channel(c1.green, c2.green), channel(c1.blue, c2.blue)};
}

// From one feature point `from` to every other one j: the squared length of
// q[j] - q[from] and its square root. Both depend on the cell alone, so the
// pixels of a cell share them.
struct PairRow {
  double len2[noise::kNeighbours];
  double root[noise::kNeighbours];
};

inline void FillPairRow(const noise::CellPoint q[noise::kNeighbours], int from, noise::SqrtFunc sqrt_fn, PairRow& row) {
  for (int j = 0; j < noise::kNeighbours; ++j) {
    const double ux = q[j].x - q[from].x, uy = q[j].y - q[from].y;
    row.len2[j] = ux * ux + uy * uy;
    row.root[j] = row.len2[j] > 0.0 ? sqrt_fn(row.len2[j]) : 0.0;
  }
}

// What the pixels of one cell share: its nine feature points, the pair rows
// filled so far (bit `from` of `rows`) and, for the crystallize types, the
// colours of the neighbouring cells read so far (bit i of `colours`). A row
// of pixels keeps one on its stack; `valid` is false until the first cell.
struct CellCache {
  bool valid;
  int32_t cx, cy;
  uint32_t rows, colours;
  noise::CellPoint q[noise::kNeighbours];
  PairRow pairs[noise::kNeighbours];
  PF_Pixel colour[noise::kNeighbours];
};

// The pair row of `from`, filled on first use.
inline const PairRow& CachedPairRow(CellCache& cache, int from, noise::SqrtFunc sqrt_fn) {
  if ((cache.rows & (1u << from)) == 0) {
    FillPairRow(cache.q, from, sqrt_fn, cache.pairs[from]);
    cache.rows |= 1u << from;
  }
  return cache.pairs[from];
}

// Two lanes of double precision (GCC vector extensions, SSE2 on every
// x86-64); each lane does the scalar operations exactly.
typedef double Doubles2 __attribute__((vector_size(16)));

// The edge terms from a pair row: the same arithmetic as
// noise::ComputeEdgeTerms, with the square roots taken from the row and the
// divisions done two at a time.
inline void EdgeTermsFromRow(CellCache& cache, const double d[noise::kNeighbours], noise::SqrtFunc sqrt_fn,
                             noise::EdgeTerms& out) {
  const int n1 = noise::FindNearest(d);
  const PairRow& row = CachedPairRow(cache, n1, sqrt_fn);
  const double inf = std::numeric_limits<double>::infinity();
  out.i1 = n1;
  int i = 0;
  for (; i + 1 < noise::kNeighbours; i += 2) {
    Doubles2 di, len2, root;
    std::memcpy(&di, d + i, sizeof di);
    std::memcpy(&len2, row.len2 + i, sizeof len2);
    std::memcpy(&root, row.root + i, sizeof root);
    const Doubles2 e = len2 > 0.0 ? (di - d[n1]) / root : Doubles2{} + inf;
    std::memcpy(out.e + i, &e, sizeof e);
  }
  for (; i < noise::kNeighbours; ++i) out.e[i] = row.len2[i] > 0.0 ? (d[i] - d[n1]) / row.root[i] : inf;
  out.e[n1] = inf;
}

// The smallest distance from p to the segments from q[from] to the other
// points (not `skip`, not `from`) that are at most about one cell away, where
// p projects inside the segment; `best` when none is nearer. The squared
// lengths and their roots come from `row` (the pair row of `from`) when
// given, else are computed here.
inline double NearestSegment(const noise::CellPoint q[noise::kNeighbours], int from, int skip, double px, double py,
                             noise::SqrtFunc sqrt_fn, double best, const PairRow* row = nullptr) {
  const noise::CellPoint a = q[from];
  for (int j = 0; j < noise::kNeighbours; ++j) {
    if (j == from || j == skip) continue;
    const noise::CellPoint b = q[j];
    const double bax = b.x - a.x, bay = b.y - a.y;
    const double len2 = row ? row->len2[j] : bax * bax + bay * bay;
    if (len2 > 0.99 || !(len2 > 0.0)) continue;
    const double bpx = b.x - px, bpy = b.y - py;
    const double s = (bpx * bax + bpy * bay) / len2;
    if (!(s > 0.0 && s < 1.0)) continue;
    double cross = bpx * (a.y - b.y) - bpy * (a.x - b.x);
    if (cross < 0.0) cross = -cross;
    const double dist = cross / (row ? row->root[j] : sqrt_fn(len2));
    if (dist < best) best = dist;
  }
  return best;
}

inline void SetGray(PF_Pixel& out, uint8_t g) { out.red = out.green = out.blue = g; }

// One output pixel. Where the input is transparent only the alpha is written.
// With a cache, what the pixel's cell shares with its neighbours along the
// row is kept there; without one (the plain per-pixel form) everything is
// worked out for this pixel alone. Both give the same bytes.
inline PF_Err ShadePixelWith(const Block& b, CellCache* cache, A_long x, A_long y, const PF_Pixel& in, PF_Pixel& out) {
  out.alpha = in.alpha;
  if (in.alpha == 0) return PF_Err_NONE;

  const noise::CellPosition c = noise::LocateCell(double(x), double(y), b.ox, b.oy, b.k);
  noise::CellPoint own[noise::kNeighbours];
  const noise::CellPoint* q = own;
  if (cache) {
    if (!cache->valid || cache->cx != c.cx || cache->cy != c.cy) {
      cache->valid = true;
      cache->cx = c.cx;
      cache->cy = c.cy;
      cache->rows = cache->colours = 0;
      noise::FeaturePoints(b.grid, c.cx, c.cy, cache->q);
    }
    q = cache->q;
  } else {
    noise::FeaturePoints(b.grid, c.cx, c.cy, own);
  }
  double d[noise::kNeighbours];
  noise::SquaredDistances(c.px, c.py, q, d);
  auto cell_x = [&](int i) { return noise::detail::Offset(c.cx, noise::kNeighbourDx[i]); };
  auto cell_y = [&](int i) { return noise::detail::Offset(c.cy, noise::kNeighbourDy[i]); };
  auto plate = [&](int i) { return noise::PlateValue(b.grid, cell_x(i), cell_y(i)); };
  auto plate_byte = [&](int i) { return double(noise::PlateByte(*b.plates, b.grid, cell_x(i), cell_y(i))); };
  auto colour_of = [&](int i, PF_Pixel& colour) -> PF_Err {
    if (cache && (cache->colours & (1u << i)) != 0) {
      colour = cache->colour[i];
      return PF_Err_NONE;
    }
    if (PF_Err e = CellColour(b.colour, cell_x(i), cell_y(i), b.h, b.ox, b.oy, colour)) return e;
    if (cache) {
      cache->colour[i] = colour;
      cache->colours |= 1u << i;
    }
    return PF_Err_NONE;
  };
  auto crystallize = [&](int i1, int i2, double t) -> PF_Err {
    PF_Pixel c1, c2;
    if (PF_Err e = colour_of(i1, c1)) return e;
    if (PF_Err e = colour_of(i2, c2)) return e;
    out = BlendColours(c1, c2, t);
    return PF_Err_NONE;
  };
  auto pair_row = [&](int from) { return cache ? &CachedPairRow(*cache, from, b.sqrt) : nullptr; };
  auto clamp01 = [](double t) { return t < 0.0 ? 0.0 : (t > 1.0 ? 1.0 : t); };

  switch (b.type) {
    case kBubbles: {
      const noise::NearestTwo n = noise::FindNearestTwo(d);
      SetGray(out, MapFacetryOverflow(b.amplitude * n.f1, b.mode));
      return PF_Err_NONE;
    }
    case kCrystals: {
      const noise::NearestTwo n = noise::FindNearestTwo(d);
      SetGray(out, MapFacetryOverflow(b.amplitude * (n.f2 - n.f1), b.mode));
      return PF_Err_NONE;
    }
    case kPlates:
    case kStaticPlates: {
      const noise::NearestTwo n = noise::FindNearestTwo(d);
      const double t = clamp01((n.f2 - n.f1) * b.amplitude + 0.5);
      if (b.type == kPlates) {
        const double p1 = plate(n.i1), p2 = plate(n.i2);
        SetGray(out, PlateGray((p2 + t * (p1 - p2)) * 122.0 + 127.5, b.mode));
      } else {
        const double p1 = plate_byte(n.i1), p2 = plate_byte(n.i2);
        SetGray(out, PlateGray(p2 + t * (p1 - p2), b.mode));
      }
      return PF_Err_NONE;
    }
    case kCrystallize: {
      const noise::NearestTwo n = noise::FindNearestTwo(d);
      return crystallize(n.i1, n.i2, clamp01((n.f2 - n.f1) * b.amplitude + 0.5));
    }
    case kTubular: {
      const noise::NearestTwo n = noise::FindNearestTwo(d);
      double t = b.sqrt(n.f1);
      t = NearestSegment(q, n.i1, n.i1, c.px, c.py, b.sqrt, t, pair_row(n.i1));
      t = NearestSegment(q, n.i2, n.i1, c.px, c.py, b.sqrt, t, pair_row(n.i2));
      double v = t * t;
      if (v > 1.0) v = 1.0;
      SetGray(out, MapFacetryOverflow(b.amplitude * v, b.mode));
      return PF_Err_NONE;
    }
    default:
      break;
  }

  noise::EdgeTerms terms;
  if (cache)
    EdgeTermsFromRow(*cache, d, b.sqrt, terms);
  else
    noise::ComputeEdgeTerms(q, d, b.sqrt, terms);
  if (b.type == kPillow) {
    double s = 0.0;
    for (int i = 0; i < noise::kNeighbours; ++i)
      if (i != terms.i1 && terms.e[i] <= 0.5) s = s + pf::SmoothStep(0.12 / (terms.e[i] + 0.1) - 0.2);
    SetGray(out, MapFacetryOverflow(b.amplitude * s, b.mode));
    return PF_Err_NONE;
  }
  const noise::EdgeDistance e = noise::NearestEdge(terms, b.type == kCrystallizeHQ);
  switch (b.type) {
    case kCrystalsHQ:
      SetGray(out, MapFacetryOverflow(b.amplitude * e.e, b.mode));
      return PF_Err_NONE;
    case kPlatesHQ:
    case kStaticPlatesHQ: {
      const double t = e.e * b.amplitude + 0.5;
      const bool bytes = b.type == kStaticPlatesHQ;
      const double p1 = bytes ? plate_byte(terms.i1) : plate(terms.i1);
      const double p2 = bytes ? plate_byte(e.i2) : plate(e.i2);
      const double v = t >= 1.0 ? p1 : p2 + t * (p1 - p2);
      SetGray(out, PlateGray(bytes ? v : v * 122.0 + 127.5, b.mode));
      return PF_Err_NONE;
    }
    case kCrystallizeHQ:
      return crystallize(terms.i1, e.i2, clamp01(e.e * b.amplitude + 0.5));
    case kMixedCrystalsHQ:
      SetGray(out, MapFacetryOverflow(plate(terms.i1) * b.amplitude * e.e + 127.5, b.mode));
      return PF_Err_NONE;
    default:
      return PF_Err_NONE;
  }
}

inline PF_Err ShadePixel(const Block& b, A_long x, A_long y, const PF_Pixel& in, PF_Pixel& out) {
  return ShadePixelWith(b, nullptr, x, y, in, out);
}

// Pixels x0 .. x1 - 1 of row y, left to right, sharing one cell cache: the
// feature points of a cell are read once per run of its pixels instead of
// once per pixel.
inline PF_Err ShadeRow(const Block& b, A_long y, A_long x0, A_long x1, const PF_Pixel* in, PF_Pixel* out) {
  CellCache cache;
  cache.valid = false;
  for (A_long x = x0; x < x1; ++x)
    if (PF_Err e = ShadePixelWith(b, &cache, x, y, in[x], out[x])) return e;
  return PF_Err_NONE;
}

}  // namespace facetry
