// The cell noise core against geometry worked out here: regular grids whose
// distances and edges are known in closed form, the wrap written out with
// integer arithmetic, the byte table from a generator stepped one step at a
// time.
#include <noise/cell.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>

namespace {

using noise::CellGrid;
using noise::CellPoint;

double Sqrt(double v) { return std::sqrt(v); }

std::unique_ptr<noise::NoiseLattice> Lattice(int32_t evolution) {
  auto l = std::make_unique<noise::NoiseLattice>();
  noise::BuildNoiseLattice(*l, evolution, nullptr);
  return l;
}

// Mathematical modulo into 0..n-1.
int32_t Mod(int64_t c, int64_t n) { return int32_t(((c % n) + n) % n); }

TEST(CellWrap, ReducesIntoTheTileOnlyWhenTiled) {
  for (int32_t n : {1, 3, 8, 65535}) {
    for (int32_t c : {0, 1, 7, 8, 9, -1, -8, -9, -65536, 123456789, -2147483647 - 1, 2147483647}) {
      EXPECT_EQ(noise::CellWrap(c, n, true), Mod(c, n)) << c << " mod " << n;
      EXPECT_EQ(noise::CellWrap(c, n, false), c);
    }
  }
}

TEST(CellGrid, TileFlagAndCounts) {
  const auto l = Lattice(0);
  const CellGrid off = noise::MakeCellGrid(l.get(), 0.5, 0, 3, 5);
  EXPECT_FALSE(off.tiled);
  const CellGrid on = noise::MakeCellGrid(l.get(), 0.5, 1, 3, 5);
  EXPECT_TRUE(on.tiled);
  EXPECT_EQ(on.tile_x, 3);
  EXPECT_EQ(on.tile_y, 5);
  EXPECT_TRUE(noise::MakeCellGrid(l.get(), 0.5, 7, 3, 5).tiled);
  EXPECT_FALSE(noise::MakeCellGrid(l.get(), 0.5).tiled);
  // A damaged record's counts never reach the wrap as 0 or beyond the dialog's range.
  const CellGrid bad = noise::MakeCellGrid(l.get(), 0.5, 1, 0, 70000);
  EXPECT_EQ(bad.tile_x, 1);
  EXPECT_EQ(bad.tile_y, 65535);
  EXPECT_EQ(noise::CellWrap(-5, bad.tile_x, true), 0);
}

TEST(LocateCell, FloorsAndMeasuresFromTheCentre) {
  // Cells of 10 pixels, grid shifted by (3, -4).
  noise::CellPosition c = noise::LocateCell(13.0, 6.0, 3.0, -4.0, 0.1);
  EXPECT_EQ(c.cx, 1);  // exactly on the boundary: the cell to the right
  EXPECT_EQ(c.cy, 1);  // and below
  EXPECT_DOUBLE_EQ(c.px, -0.5);
  EXPECT_DOUBLE_EQ(c.py, -0.5);
  c = noise::LocateCell(2.0, -5.0, 3.0, -4.0, 0.1);
  EXPECT_EQ(c.cx, -1);
  EXPECT_EQ(c.cy, -1);
  EXPECT_NEAR(c.px, 0.4, 1e-12);
  EXPECT_NEAR(c.py, 0.4, 1e-12);
  c = noise::LocateCell(-7.0, 0.0, 3.0, 0.0, 0.1);  // -1.0 exactly
  EXPECT_EQ(c.cx, -1);
  EXPECT_DOUBLE_EQ(c.px, -0.5);
}

TEST(FeaturePoint, ReadsTheLatticeAtTheWrappedCell) {
  const auto l = Lattice(37 * 65536 + 99);
  const CellGrid g = noise::MakeCellGrid(l.get(), 0.7, 1, 8, 5);
  for (int32_t cx : {-9, -1, 0, 7, 8, 1000}) {
    for (int32_t cy : {-6, 0, 4, 5}) {
      for (int i = 0; i < 9; ++i) {
        const int dx = i % 3 - 1, dy = i / 3 - 1;
        const int32_t X = Mod(int64_t(cx) + dx, 8), Y = Mod(int64_t(cy) + dy, 5);
        const int32_t row = ((Y >> 6) ^ X) & 63, col = ((X >> 6) ^ Y) & 63;
        const int32_t row2 = (((Y + 29) >> 6) ^ (X + 17)) & 63, col2 = (((X + 17) >> 6) ^ (Y + 29)) & 63;
        const CellPoint q = noise::FeaturePoint(g, cx, cy, i);
        EXPECT_EQ(q.x, dx + l->cell[row * 64 + col] * 0.7);
        EXPECT_EQ(q.y, dy + l->cell[row2 * 64 + col2] * 0.7);
        EXPECT_EQ(noise::PlateValue(g, cx + dx, cy + dy), l->cell[row * 64 + col]);
      }
    }
  }
}

// Cells 8 apart share offsets and plate values when tiled 8 x 8; the
// geometric offset of the neighbour stays unwrapped.
TEST(FeaturePoint, TilingRepeatsEveryTileCount) {
  const auto l = Lattice(5 * 65536);
  const CellGrid g = noise::MakeCellGrid(l.get(), 0.5, 1, 8, 8);
  const CellGrid free = noise::MakeCellGrid(l.get(), 0.5);
  bool differs_untiled = false;
  for (int32_t cx = -3; cx < 5; ++cx) {
    for (int32_t cy = -2; cy < 4; ++cy) {
      for (int i = 0; i < 9; ++i) {
        const CellPoint a = noise::FeaturePoint(g, cx, cy, i);
        for (int32_t shift : {8, -8, 64}) {
          const CellPoint b = noise::FeaturePoint(g, cx + shift, cy - shift, i);
          EXPECT_EQ(a.x, b.x);
          EXPECT_EQ(a.y, b.y);
          EXPECT_EQ(noise::PlateValue(g, cx, cy), noise::PlateValue(g, cx + shift, cy + shift));
        }
        const CellPoint u = noise::FeaturePoint(free, cx, cy, i);
        const CellPoint v = noise::FeaturePoint(free, cx + 8, cy, i);
        differs_untiled = differs_untiled || u.x != v.x;
      }
    }
  }
  EXPECT_TRUE(differs_untiled);
}

// Disperse 0: points at the cell centres, F1 = 0 at a centre, and the
// distances of a regular grid.
TEST(Distances, RegularGridAtDisperseZero) {
  const auto l = Lattice(123 * 65536);
  const CellGrid g = noise::MakeCellGrid(l.get(), 0.0);
  CellPoint q[9];
  noise::FeaturePoints(g, 17, -40, q);
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(q[i].x, i % 3 - 1);
    EXPECT_EQ(q[i].y, i / 3 - 1);
  }
  double d[9];
  noise::SquaredDistances(0.0, 0.0, q, d);
  noise::NearestTwo n = noise::FindNearestTwo(d);
  EXPECT_EQ(n.f1, 0.0);
  EXPECT_EQ(n.i1, 4);
  EXPECT_EQ(n.f2, 1.0);
  EXPECT_EQ(n.i2, 1);  // (0,-1), (-1,0), (1,0), (0,1) all at 1: the earliest wins

  // (0.2, -0.3): nearest the own centre (0.13), then (0, -1) at 0.04 + 0.49.
  noise::SquaredDistances(0.2, -0.3, q, d);
  n = noise::FindNearestTwo(d);
  EXPECT_EQ(n.i1, 4);
  EXPECT_NEAR(n.f1, 0.13, 1e-15);
  EXPECT_EQ(n.i2, 1);
  EXPECT_NEAR(n.f2, 0.53, 1e-15);

  // On the left boundary: own centre and the left one tie; the earlier index (3) is nearest.
  noise::SquaredDistances(-0.5, 0.1, q, d);
  n = noise::FindNearestTwo(d);
  EXPECT_EQ(n.i1, 3);
  EXPECT_EQ(n.i2, 4);
  EXPECT_EQ(n.f1, n.f2);
}

// The edge measure of a regular grid is twice the distance to the nearest
// side of the square cell: 2 (0.5 - max(|px|, |py|)).
TEST(EdgeDistance, TwiceTheDistanceToTheNearestEdge) {
  const auto l = Lattice(0);
  const CellGrid g = noise::MakeCellGrid(l.get(), 0.0);
  CellPoint q[9];
  noise::FeaturePoints(g, 0, 0, q);
  struct Case {
    double px, py;
    int i2;
  };
  const Case cases[] = {{0.1, -0.3, 1}, {0.35, 0.2, 5}, {-0.45, 0.0, 3}, {0.0, 0.4, 7}, {0.0, 0.0, 1}};
  for (const Case& c : cases) {
    double d[9];
    noise::SquaredDistances(c.px, c.py, q, d);
    noise::EdgeTerms t;
    noise::ComputeEdgeTerms(q, d, Sqrt, t);
    EXPECT_EQ(t.i1, 4);
    const noise::EdgeDistance e = noise::NearestEdge(t, false);
    EXPECT_NEAR(e.e, 2.0 * (0.5 - std::max(std::fabs(c.px), std::fabs(c.py))), 1e-12) << c.px << "," << c.py;
    EXPECT_EQ(e.i2, c.i2);
    // Diagonal neighbours: bisector at distance (sqrt(2)/2 - (|px|+|py|)/sqrt(2)) from p.
    const double diag = 2.0 * (std::sqrt(0.5) - (std::fabs(c.px) + std::fabs(c.py)) / std::sqrt(2.0));
    const int corner = (c.py < 0 ? 0 : 6) + (c.px < 0 ? 0 : 2);
    EXPECT_NEAR(t.e[corner], diag, 1e-12);
  }
  // At the centre all four sides tie: the earliest (0,-1) or, with later
  // winning ties, the last of them (0,+1).
  double d[9];
  noise::SquaredDistances(0.0, 0.0, q, d);
  noise::EdgeTerms t;
  noise::ComputeEdgeTerms(q, d, Sqrt, t);
  EXPECT_EQ(noise::NearestEdge(t, false).i2, 1);
  EXPECT_EQ(noise::NearestEdge(t, true).i2, 7);
}

TEST(EdgeDistance, CoincidentPointsHaveNoEdge) {
  CellPoint q[9];
  for (int i = 0; i < 9; ++i) q[i] = CellPoint{double(i % 3 - 1), double(i / 3 - 1)};
  q[5] = q[4];  // the right neighbour's point on top of the own one
  double d[9];
  noise::SquaredDistances(0.1, 0.1, q, d);
  noise::EdgeTerms t;
  noise::ComputeEdgeTerms(q, d, Sqrt, t);
  EXPECT_EQ(t.i1, 4);
  EXPECT_TRUE(std::isinf(t.e[5]));
  const noise::EdgeDistance e = noise::NearestEdge(t, true);
  EXPECT_EQ(e.i2, 7);
  EXPECT_NEAR(e.e, 0.8, 1e-12);
}

TEST(PlateBytes, TableFromTheGeneratorAndHashedRead) {
  noise::PlateBytes t;
  noise::BuildPlateBytes(t);
  uint32_t s = 3173241u;
  for (int i = 0; i < 4096; ++i) {
    s = s * 1103515245u + 12345u;
    const int draw = int((s >> 16) & 0x7FFF);
    ASSERT_EQ(t.bytes[i], uint8_t(draw >> 3)) << i;
  }
  const auto l = Lattice(0);
  const CellGrid g = noise::MakeCellGrid(l.get(), 0.5, 1, 4, 4);
  const CellGrid free = noise::MakeCellGrid(l.get(), 0.5);
  // Cell (-3, 70): row = ((70 >> 6) ^ -3) & 63, col = ((-3 >> 6) ^ 70) & 63.
  EXPECT_EQ(noise::PlateByte(t, free, -3, 70), t.bytes[((1 ^ -3) & 63) * 64 + ((-1 ^ 70) & 63)]);
  // Tiled 4 x 4: the same cell reads (1, 2).
  EXPECT_EQ(noise::PlateByte(t, g, -3, 70), t.bytes[((0 ^ 1) & 63) * 64 + ((0 ^ 2) & 63)]);
}

}  // namespace
