// The bicubic row reader against NoiseCubic, bit for bit, over walks that
// stay in a cell, cross cells both ways, stride past its window, change y
// mid-row, and reach the ends of the 32-bit lattice range and non-finite
// coordinates.
#include <noise/fractal.h>
#include <noise/row_readers.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

namespace {

using noise::NoiseLattice;

uint64_t Bits(double v) { return __builtin_bit_cast(uint64_t, v); }

struct Walk {
  const char* name;
  double x0, step;  // x = x0 + i * step
  int count;
  std::vector<double> ys;  // y of point i is ys[i % size]
};

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

const Walk kWalks[] = {
    {"fine steps in one row", 7913.17, 0.0123, 400, {9711.73}},
    {"coarse steps", -55.5, 0.77, 300, {-3.25}},
    {"backwards across cells", 40.0, -0.31, 300, {0.5}},
    {"on whole cells", -8.0, 1.0, 17, {2.0}},
    {"strides beyond the window", 0.5, 97.3, 30, {1.5}},
    {"strides back beyond the window", 5000.25, -61.7, 40, {7.75}},
    {"y on a whole cell, then just below", 1.5, 0.25, 40, {3.0, std::nextafter(3.0, 0.0)}},
    {"alternating rows", 100.1, 0.05, 200, {12.4, 12.6, -12.4}},
    {"signed zeros", -0.5, 0.25, 9, {0.0, -0.0}},
    {"around the 32-bit ends", 2147483645.5, 0.75, 12, {-2147483647.25}},
    {"beyond the 32-bit range", 6442450941.0, 0.5, 12, {-1e12, 5e9}},
    {"non-finite", -1.0, 0.5, 5, {kNaN, kInf, -kInf}},
};

TEST(RowReaders, MatchThePointReadersBitForBit) {
  auto lattice = std::make_unique<NoiseLattice>();
  noise::BuildNoiseLattice(*lattice, 65536 * 123 + 77, nullptr);
  for (const Walk& w : kWalks) {
    SCOPED_TRACE(w.name);
    noise::CubicRow cubic{};
    for (int i = 0; i < w.count; ++i) {
      const double x = w.x0 + i * w.step;
      const double y = w.ys[size_t(i) % w.ys.size()];
      ASSERT_EQ(Bits(noise::CubicRead(*lattice, cubic, x, y)), Bits(noise::NoiseCubic(*lattice, x, y)))
          << x << ", " << y;
    }
  }
}

// A reader prepared for one y and then given points of another must not keep
// the old rows: every lattice row differs here, so stale values would show.
TEST(RowReaders, ChangingLatticeRowsMidCell) {
  auto lattice = std::make_unique<NoiseLattice>();
  for (int i = 0; i < noise::kLatticeCells; ++i) lattice->cell[i] = double(i % 97) * 0.01 - 0.4;
  noise::CubicRow cubic{};
  noise::PrepareCubicRow(cubic, 4.5);
  for (double y : {4.5, 5.5, 4.5, 70.5, -60.5}) {
    for (double x : {1.25, 1.75, 1.25, kNaN, -kInf, 1.75}) {
      EXPECT_EQ(Bits(noise::CubicRead(*lattice, cubic, x, y)), Bits(noise::NoiseCubic(*lattice, x, y)))
          << x << " " << y;
    }
  }
}

}  // namespace
