// Facetry's row form, whose pixels share their cell's feature points, pair
// roots and neighbouring colours, against the per-pixel form that works each
// pixel out alone: the same bytes for every type, on grids shifted into
// negative cells, tiled and untiled, small and large cells.
#include "kernels.h"

#include <noise/cell.h>
#include <noise/fractal.h>
#include <ombrix/host/world.h>

#include "common/test_image.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace {

using ombrix::World;

// A colour for every 16.16 position, standing in for the reduced copy.
PF_Err Sample(PF_ProgPtr, PF_Fixed x, PF_Fixed y, const PF_SampPB*, PF_Pixel* out) {
  *out = PF_Pixel{uint8_t(128 + (x >> 17)), uint8_t(x >> 13), uint8_t(y >> 12), uint8_t((x ^ y) >> 14)};
  return PF_Err_NONE;
}
PF_Err FailingSample(PF_ProgPtr, PF_Fixed, PF_Fixed, const PF_SampPB*, PF_Pixel*) { return PF_Err_BAD_CALLBACK_PARAM; }
double Sqrt(double v) { return std::sqrt(v); }

constexpr int kTypes[] = {1, 2, 3, 4, 5, 7, 8, 9, 10, 11, 12, 13};

struct Geometry {
  double size, ox, oy, dispersion;
  bool tiled;
};

facetry::Block MakeBlock(int type, const Geometry& g, const noise::NoiseLattice* lattice,
                         const noise::PlateBytes* plates) {
  facetry::Block b{};
  b.grid = g.tiled ? noise::MakeCellGrid(lattice, g.dispersion, 1, 3, 2) : noise::MakeCellGrid(lattice, g.dispersion);
  b.plates = plates;
  b.type = type;
  b.mode = facetry::ModeFor(type, 2, false);
  b.amplitude = facetry::Amplitude(type, 1.5);
  b.h = g.size;
  b.k = 1.0 / g.size;
  b.ox = g.ox;
  b.oy = g.oy;
  b.sqrt = Sqrt;
  b.colour = facetry::ColourSource{Sample, nullptr, nullptr, 0.37 * 65536, 0.41 * 65536, 30 << 16, 20 << 16};
  return b;
}

TEST(FacetryRows, MatchThePixelByPixelForm) {
  auto lattice = std::make_unique<noise::NoiseLattice>();
  noise::BuildNoiseLattice(*lattice, 123457, nullptr);
  auto plates = std::make_unique<noise::PlateBytes>();
  noise::BuildPlateBytes(*plates);
  const Geometry geometries[] = {
      {7.5, 3.25, -6.5, 0.7, false}, {3.0, 200.5, 90.25, 0.5, true}, {60, 30, 1, 0.6, false}, {1.5, -2, 5, 0.0, false}};
  constexpr A_long kW = 67, kH = 23;
  World in(kW, kH, 12);
  testimage::FillPixels(in, testimage::Lcg{99}, [](A_long x, A_long y, uint32_t s) {
    return PF_Pixel{uint8_t((x + 2 * y) % 7 == 0 ? 0 : 1 + (s >> 24) % 255), uint8_t(s >> 16), uint8_t(s >> 8),
                    uint8_t(s)};
  });
  for (int type : kTypes) {
    for (const Geometry& g : geometries) {
      SCOPED_TRACE(::testing::Message() << "type " << type << " size " << g.size << " tiled " << g.tiled);
      const facetry::Block b = MakeBlock(type, g, lattice.get(), plates.get());
      World rows(kW, kH, 4), pixels(kW, kH);
      for (A_long y = 0; y < kH; ++y) {
        // Two runs per row, the second starting inside a cell the first left.
        ASSERT_EQ(facetry::ShadeRow(b, y, 0, 29, in.Row(y), rows.Row(y)), PF_Err_NONE);
        ASSERT_EQ(facetry::ShadeRow(b, y, 29, kW, in.Row(y), rows.Row(y)), PF_Err_NONE);
        for (A_long x = 0; x < kW; ++x)
          ASSERT_EQ(facetry::ShadePixel(b, x, y, in.At(x, y), pixels.At(x, y)), PF_Err_NONE);
      }
      ASSERT_TRUE(ombrix::SamePixels(rows.pf(), pixels.pf()));
    }
  }
}

// A failing sampler ends the row with its error, though the colours of a
// cell are read only once.
TEST(FacetryRows, SamplerErrorEndsTheRow) {
  auto lattice = std::make_unique<noise::NoiseLattice>();
  noise::BuildNoiseLattice(*lattice, 0, nullptr);
  for (int type : {5, 11}) {
    facetry::Block b = MakeBlock(type, Geometry{9, 0, 0, 0.5, false}, lattice.get(), nullptr);
    b.colour.sample = FailingSample;
    World in(20, 1), out(20, 1);
    in.At(7, 0).alpha = 255;
    EXPECT_EQ(facetry::ShadeRow(b, 0, 0, 20, in.Row(0), out.Row(0)), PF_Err_BAD_CALLBACK_PARAM) << type;
  }
}

}  // namespace
