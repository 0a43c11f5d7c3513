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

// The smallest distance from p to the segments from q[from] to the other
// points (not `skip`, not `from`) that are at most about one cell away, where
// p projects inside the segment; `best` when none is nearer.
inline double NearestSegment(const noise::CellPoint q[noise::kNeighbours], int from, int skip, double px, double py,
                             noise::SqrtFunc sqrt_fn, double best) {
  const noise::CellPoint a = q[from];
  for (int j = 0; j < noise::kNeighbours; ++j) {
    if (j == from || j == skip) continue;
    const noise::CellPoint b = q[j];
    const double bax = b.x - a.x, bay = b.y - a.y;
    const double len2 = bax * bax + bay * bay;
    if (len2 > 0.99 || !(len2 > 0.0)) continue;
    const double bpx = b.x - px, bpy = b.y - py;
    const double s = (bpx * bax + bpy * bay) / len2;
    if (!(s > 0.0 && s < 1.0)) continue;
    double cross = bpx * (a.y - b.y) - bpy * (a.x - b.x);
    if (cross < 0.0) cross = -cross;
    const double dist = cross / sqrt_fn(len2);
    if (dist < best) best = dist;
  }
  return best;
}

inline void SetGray(PF_Pixel& out, uint8_t g) { out.red = out.green = out.blue = g; }

// One output pixel. Where the input is transparent only the alpha is written.
inline PF_Err ShadePixel(const Block& b, A_long x, A_long y, const PF_Pixel& in, PF_Pixel& out) {
  out.alpha = in.alpha;
  if (in.alpha == 0) return PF_Err_NONE;

  const noise::CellPosition c = noise::LocateCell(double(x), double(y), b.ox, b.oy, b.k);
  noise::CellPoint q[noise::kNeighbours];
  double d[noise::kNeighbours];
  noise::FeaturePoints(b.grid, c.cx, c.cy, q);
  noise::SquaredDistances(c.px, c.py, q, d);
  auto cell_x = [&](int i) { return noise::detail::Offset(c.cx, noise::kNeighbourDx[i]); };
  auto cell_y = [&](int i) { return noise::detail::Offset(c.cy, noise::kNeighbourDy[i]); };
  auto plate = [&](int i) { return noise::PlateValue(b.grid, cell_x(i), cell_y(i)); };
  auto plate_byte = [&](int i) { return double(noise::PlateByte(*b.plates, b.grid, cell_x(i), cell_y(i))); };
  auto crystallize = [&](int i1, int i2, double t) -> PF_Err {
    PF_Pixel c1, c2;
    if (PF_Err e = CellColour(b.colour, cell_x(i1), cell_y(i1), b.h, b.ox, b.oy, c1)) return e;
    if (PF_Err e = CellColour(b.colour, cell_x(i2), cell_y(i2), b.h, b.ox, b.oy, c2)) return e;
    out = BlendColours(c1, c2, t);
    return PF_Err_NONE;
  };
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
      t = NearestSegment(q, n.i1, n.i1, c.px, c.py, b.sqrt, t);
      t = NearestSegment(q, n.i2, n.i1, c.px, c.py, b.sqrt, t);
      double v = t * t;
      if (v > 1.0) v = 1.0;
      SetGray(out, MapFacetryOverflow(b.amplitude * v, b.mode));
      return PF_Err_NONE;
    }
    default:
      break;
  }

  noise::EdgeTerms terms;
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

}  // namespace facetry
