// Bicubic reads of the fractal noise for effects that walk the frame row by
// row. They give bit for bit the values of NoiseCubic (fractal.h), with the
// same operations in the same order, but skip the work a row repeats:
// `CubicRow` holds what depends on the y coordinate alone (its cell, the
// four lattice rows and the B-spline weights of its fraction), so an octave
// whose y does not change along the row prepares it once; and it keeps a
// window of the lattice values along those rows, which the pixels of the row
// read in turn. The four row blends run as one four-lane vector (GCC
// vector extensions: each lane does the scalar operations, no contraction).
// A reader belongs to one walk along one row: never shared between threads.
#pragma once

#include <noise/fractal.h>

#include <cstdint>

namespace noise {

// Four doubles, one per lattice row of a bicubic read.
typedef double RowLanes __attribute__((vector_size(4 * sizeof(double))));

// The weights BSplineBlend gives p0..p3 for fraction t (before its factor 0.2).
struct SplineWeights {
  double w0, w1, w2, w3;
};

inline SplineWeights SplineWeightsAt(double t) {
  const double u = 1.0 - t;
  const double t2 = t * t;
  const double t3 = t2 * t;
  return {u * u * u, 3.0 * t3 - 6.0 * t2 + 4.0, -3.0 * t3 + 3.0 * t2 + 3.0 * t + 1.0, t3};
}

// Lattice cells of a row reader's window.
inline constexpr int32_t kWindowCells = 64;

// The part of a bicubic read fixed by its y coordinate, and a window of the
// lattice along those rows. Start a row with `prepared` false (or call
// PrepareCubicRow).
struct CubicRow {
  bool prepared;
  uint64_t y_bits;  // the y prepared for, bit for bit
  int32_t y[4];     // lattice rows y0 - 1 .. y0 + 2
  SplineWeights w;  // of the y fraction
  // Cells lo .. lo + kWindowCells - 1, each as the four rows' values.
  bool filled;
  int32_t lo;
  RowLanes column[kWindowCells];
};

inline uint64_t DoubleBits(double v) { return __builtin_bit_cast(uint64_t, v); }

inline void PrepareCubicRow(CubicRow& r, double y) {
  int32_t y0;
  double fy;
  detail::FloorCell(y, y0, fy);
  for (int j = 0; j < 4; ++j) r.y[j] = detail::Offset(y0, j - 1);
  r.w = SplineWeightsAt(fy);
  r.y_bits = DoubleBits(y);
  r.prepared = true;
  r.filled = false;
}

// Fills the window with the cells from lo on.
inline void FillWindow(const NoiseLattice& lattice, CubicRow& r, int32_t lo) {
  for (int32_t i = 0; i < kWindowCells; ++i) {
    const int32_t x = detail::Offset(lo, i);
    r.column[i] = RowLanes{LatticeValue(lattice, x, r.y[0]), LatticeValue(lattice, x, r.y[1]),
                           LatticeValue(lattice, x, r.y[2]), LatticeValue(lattice, x, r.y[3])};
  }
  r.lo = lo;
  r.filled = true;
}

// NoiseCubic(lattice, x, y). A y other than the one prepared (bit for bit)
// prepares the row again, so any sequence of points reads right; the saving
// comes when y stays. A cell outside the window moves it on in the direction
// of the walk, so a monotonic walk along the row refills it rarely and the
// cell changes of the fine octaves cost no branch.
[[gnu::always_inline]] inline double CubicRead(const NoiseLattice& lattice, CubicRow& r, double x, double y) {
  if (!r.prepared || DoubleBits(y) != r.y_bits) PrepareCubicRow(r, y);
  int32_t x0;
  double fx;
  detail::FloorCell(x, x0, fx);
  // Position of column x0 - 1 in the window (wrapping like the lattice coordinates).
  uint32_t at = uint32_t(x0) - 1u - uint32_t(r.lo);
  if (!r.filled || at > uint32_t(kWindowCells - 4)) {
    const bool backward = r.filled && int32_t(at) < 0;
    FillWindow(lattice, r, backward ? detail::Offset(x0, 3 - kWindowCells) : detail::Offset(x0, -1));
    at = uint32_t(x0) - 1u - uint32_t(r.lo);
  }
  const RowLanes* c = r.column + at;
  // Each lane is one row's BSplineBlend along x: ((w0 p0 + w1 p1) + w2 p2) + w3 p3, times 0.2.
  const SplineWeights wx = SplineWeightsAt(fx);
  const RowLanes rows = 0.2 * (wx.w0 * c[0] + wx.w1 * c[1] + wx.w2 * c[2] + wx.w3 * c[3]);
  const SplineWeights& wy = r.w;
  return 0.2 * (wy.w0 * rows[0] + wy.w1 * rows[1] + wy.w2 * rows[2] + wy.w3 * rows[3]);
}

// ---------------------------------------------------------------------------
// Reader records for formulas written once for both walks
// ---------------------------------------------------------------------------

// A formula template takes one of these and names a site with every read.
// PointReads reads every point afresh: the per-pixel path and the reference.
struct PointReads {
  const NoiseLattice& lattice;
  double Cubic(int32_t, double u, double v) const { return NoiseCubic(lattice, u, v); }
  double Faded(int32_t, double u, double v) const { return NoiseFaded(lattice, u, v); }
};

// RowReads keeps a bicubic row reader per site, for one walk along one row:
// the octaves whose y stays along the row prepare it once, and neighbouring
// pixels reuse the cells of the coarse octaves. Values are PointReads' bit
// for bit; sites must be below `Sites`.
template <int32_t Sites>
struct RowReads {
  const NoiseLattice& lattice;
  CubicRow cubic[Sites];

  explicit RowReads(const NoiseLattice& l) : lattice(l) {
    for (int32_t i = 0; i < Sites; ++i) cubic[i].prepared = false;
  }
  [[gnu::always_inline]] double Cubic(int32_t site, double u, double v) {
    return CubicRead(lattice, cubic[site], u, v);
  }
  // Faded reads change cell too often along a row for a cache to pay.
  double Faded(int32_t, double u, double v) const { return NoiseFaded(lattice, u, v); }
};

}  // namespace noise
