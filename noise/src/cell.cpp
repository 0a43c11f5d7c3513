// The cell noise core's out-of-line parts: the grid set-up, the edge terms
// and the plate byte table.
#include <noise/cell.h>

#include <limits>

namespace noise {

namespace {

int32_t ClampTileCount(int32_t n) {
  if (n < kTileCountMin) return kTileCountMin;
  if (n > kTileCountMax) return kTileCountMax;
  return n;
}

}  // namespace

CellGrid MakeCellGrid(const NoiseLattice* lattice, double dispersion, int32_t tile_flag, int32_t tile_x,
                      int32_t tile_y) {
  CellGrid g{lattice, dispersion, tile_flag >= 1, 1, 1};
  if (g.tiled) {
    g.tile_x = ClampTileCount(tile_x);
    g.tile_y = ClampTileCount(tile_y);
  }
  return g;
}

CellGrid MakeCellGrid(const NoiseLattice* lattice, double dispersion) {
  return CellGrid{lattice, dispersion, false, 1, 1};
}

void ComputeEdgeTerms(const CellPoint q[kNeighbours], const double d[kNeighbours], SqrtFunc sqrt_fn, EdgeTerms& out) {
  const int n1 = FindNearest(d);
  out.i1 = n1;
  const double inf = std::numeric_limits<double>::infinity();
  for (int i = 0; i < kNeighbours; ++i) {
    if (i == n1) {
      out.e[i] = inf;
      continue;
    }
    const double ux = q[i].x - q[n1].x;
    const double uy = q[i].y - q[n1].y;
    const double len2 = ux * ux + uy * uy;
    out.e[i] = len2 > 0.0 ? (d[i] - d[n1]) / sqrt_fn(len2) : inf;
  }
}

void BuildPlateBytes(PlateBytes& table) {
  NoiseRandom r{kPlateSeed};
  for (int i = 0; i < kLatticeCells; ++i) table.bytes[i] = uint8_t((NoiseDraw(r) >> 3) & 0xFF);
}

}  // namespace noise
