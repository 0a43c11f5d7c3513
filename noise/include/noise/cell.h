// The cell noise core: the plane divided into square cells, one feature point
// per cell wandering around the cell's centre as the evolving lattice of the
// fractal core changes, optional tiling, the fixed 3 x 3 neighbourhood search
// and the two sources of per-cell gray values.
//
// Coordinates are in cell units. A pixel's own cell has its centre at (0, 0);
// the feature point of neighbour i lies near (dx_i, dy_i). The effect builds
// the lattice (and, for the static plates, the byte table) before the host's
// per-pixel iteration and only reads them during it.
#pragma once

#include <noise/fractal.h>

#include <cstdint>

namespace noise {

// The neighbourhood, visited in this fixed order; ties keep the earlier index.
inline constexpr int kNeighbours = 9;
inline constexpr int kOwnCell = 4;
inline constexpr int32_t kNeighbourDx[kNeighbours] = {-1, 0, 1, -1, 0, 1, -1, 0, 1};
inline constexpr int32_t kNeighbourDy[kNeighbours] = {-1, -1, -1, 0, 0, 0, 1, 1, 1};

// The distance searches start from this value.
inline constexpr double kCellFar = 99999.0;

// Tile counts as the options dialog allows them.
inline constexpr int32_t kTileCountMin = 1;
inline constexpr int32_t kTileCountMax = 65535;

// What the feature points of one render depend on.
struct CellGrid {
  const NoiseLattice* lattice;  // built for this render
  double dispersion;            // D = "Disperse" x 0.5
  bool tiled;                   // tiling on: cell coordinates wrap
  int32_t tile_x, tile_y;       // repeat in cells, 1..65535 when tiled
};

// The tiling of a settings record: on when the tile flag is at least 1. A
// count outside 1..65535 (only a damaged record holds one) is brought into
// that range, so that the wrap never divides by zero.
CellGrid MakeCellGrid(const NoiseLattice* lattice, double dispersion, int32_t tile_flag, int32_t tile_x,
                      int32_t tile_y);
// No record: tiling off.
CellGrid MakeCellGrid(const NoiseLattice* lattice, double dispersion);

// c reduced modulo count into 0..count-1 when tiled (floating-point
// remainder, plus count when negative), else c unchanged.
inline int32_t CellWrap(int32_t c, int32_t count, bool tiled) {
  if (!tiled) return c;
  const double t = double(count);
  double r = double(c) - t * double(int64_t(double(c) / t));
  if (r < 0.0) r = r + t;
  return int32_t(r);
}

// A pixel's cell and its position from the cell's centre (each in -0.5..0.5).
struct CellPosition {
  int32_t cx, cy;
  double px, py;
};

// Pixel (x, y) with the grid shifted by (ox, oy) pixels, k cells per pixel.
// The cell is floor((x - ox) k): a pixel on a boundary belongs to the cell to
// its right or below.
inline CellPosition LocateCell(double x, double y, double ox, double oy, double k) {
  const double fx = (x - ox) * k;
  const double fy = (y - oy) * k;
  CellPosition c;
  double rx, ry;
  detail::FloorCell(fx, c.cx, rx);
  detail::FloorCell(fy, c.cy, ry);
  c.px = fx - double(c.cx) - 0.5;
  c.py = fy - double(c.cy) - 0.5;
  return c;
}

struct CellPoint {
  double x, y;
};

// The feature point of neighbour i of cell (cx, cy), relative to that cell's
// centre. The lattice is read at the wrapped cell; the offset (dx, dy) is not
// wrapped.
inline CellPoint FeaturePoint(const CellGrid& g, int32_t cx, int32_t cy, int i) {
  const int32_t X = CellWrap(detail::Offset(cx, kNeighbourDx[i]), g.tile_x, g.tiled);
  const int32_t Y = CellWrap(detail::Offset(cy, kNeighbourDy[i]), g.tile_y, g.tiled);
  return CellPoint{
      double(kNeighbourDx[i]) + LatticeValue(*g.lattice, X, Y) * g.dispersion,
      double(kNeighbourDy[i]) + LatticeValue(*g.lattice, detail::Offset(X, 17), detail::Offset(Y, 29)) * g.dispersion};
}

inline void FeaturePoints(const CellGrid& g, int32_t cx, int32_t cy, CellPoint q[kNeighbours]) {
  for (int i = 0; i < kNeighbours; ++i) q[i] = FeaturePoint(g, cx, cy, i);
}

// Squared distances from (px, py) to the nine points.
inline void SquaredDistances(double px, double py, const CellPoint q[kNeighbours], double d[kNeighbours]) {
  for (int i = 0; i < kNeighbours; ++i) {
    const double ex = px - q[i].x;
    const double ey = py - q[i].y;
    d[i] = ex * ex + ey * ey;
  }
}

// Nearest and second nearest by squared distance, with their indices.
struct NearestTwo {
  double f1, f2;
  int i1, i2;
};

inline NearestTwo FindNearestTwo(const double d[kNeighbours]) {
  NearestTwo n{kCellFar, kCellFar, kOwnCell, kOwnCell};
  for (int i = 0; i < kNeighbours; ++i) {
    if (d[i] < n.f1) {
      n.f2 = n.f1;
      n.i2 = n.i1;
      n.f1 = d[i];
      n.i1 = i;
    } else if (d[i] < n.f2) {
      n.f2 = d[i];
      n.i2 = i;
    }
  }
  return n;
}

using SqrtFunc = double (*)(double);

// The index of the nearest point by squared distance (ties keep the earlier
// index; the own cell when none is below kCellFar).
inline int FindNearest(const double d[kNeighbours]) {
  int n1 = kOwnCell;
  double best = kCellFar;
  for (int i = 0; i < kNeighbours; ++i) {
    if (d[i] < best) {
      best = d[i];
      n1 = i;
    }
  }
  return n1;
}

// The edge terms of the HQ patterns: the nearest point I1 and, for every
// other neighbour, e_i = (d_i - d_I1) / |q_i - q_I1|, twice the distance from
// the pixel to the bisector between the two points. A point that coincides
// with the nearest one has no bisector; its term is infinite.
struct EdgeTerms {
  int i1;
  double e[kNeighbours];  // e[i1] unused (infinite)
};

void ComputeEdgeTerms(const CellPoint q[kNeighbours], const double d[kNeighbours], SqrtFunc sqrt_fn, EdgeTerms& out);

// E, the smallest term (twice the distance to the cell's nearest edge), and
// its index I2. Ties keep the earlier index, or with `later_wins_ties` the
// later one. E stays kCellFar and I2 is I1 when no term is below it.
struct EdgeDistance {
  double e;
  int i2;
};

inline EdgeDistance NearestEdge(const EdgeTerms& t, bool later_wins_ties) {
  EdgeDistance r{kCellFar, t.i1};
  for (int i = 0; i < kNeighbours; ++i) {
    if (i == t.i1) continue;
    if (t.e[i] < r.e || (later_wins_ties && t.e[i] == r.e)) {
      r.e = t.e[i];
      r.i2 = i;
    }
  }
  return r;
}

// The evolving gray value of cell (cx, cy) (wrapped when tiled), in [-1.2, 1.2).
inline double PlateValue(const CellGrid& g, int32_t cx, int32_t cy) {
  return LatticeValue(*g.lattice, CellWrap(cx, g.tile_x, g.tiled), CellWrap(cy, g.tile_y, g.tiled));
}

// The fixed table of gray bytes, indexed like the lattice.
struct PlateBytes {
  uint8_t bytes[kLatticeCells];
};

inline constexpr uint32_t kPlateSeed = 3173241u;

// Fills the table: from state 3173241, byte i = (draw i >> 3) & 255.
void BuildPlateBytes(PlateBytes& table);

// The fixed gray byte of cell (cx, cy) (wrapped when tiled), read with the
// lattice's hash.
inline uint8_t PlateByte(const PlateBytes& table, const CellGrid& g, int32_t cx, int32_t cy) {
  const int32_t x = CellWrap(cx, g.tile_x, g.tiled);
  const int32_t y = CellWrap(cy, g.tile_y, g.tiled);
  const uint32_t row = uint32_t((y >> 6) ^ x) & 63u;
  const uint32_t col = uint32_t((x >> 6) ^ y) & 63u;
  return table.bytes[row * 64u + col];
}

}  // namespace noise
