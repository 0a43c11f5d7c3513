// SmoothWorld against a direct evaluation of the documented kernel: every
// pass as a plain weighted sum over all taps with an exact integer division,
// then the documented conversions back to bytes.
#include <ombrix/host/smooth.h>

#include "host/sampling/test_world.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <thread>
#include <vector>

namespace ombrix {
namespace {

using pixtest::TestWorld;

// One pass over n values: taps -k..k weigh 256, -(k+1) and k+1 weigh a;
// outside the values are 0 or the nearest edge value.
std::vector<int64_t> RefPass(const std::vector<int64_t>& v, int k, int a, bool clamp) {
  const int n = int(v.size());
  const int64_t D = 256 * (2 * k + 1) + 2 * a;
  std::vector<int64_t> out(v.size());
  for (int x = 0; x < n; ++x) {
    int64_t sum = 0;
    for (int i = -k - 1; i <= k + 1; ++i) {
      const int j = x + i;
      int64_t value = 0;
      if (j >= 0 && j < n)
        value = v[size_t(j)];
      else if (clamp)
        value = v[size_t(std::clamp(j, 0, n - 1))];
      sum += (std::abs(i) <= k ? 256 : a) * value;
    }
    out[size_t(x)] = (sum + D / 2) / D;  // D is even
  }
  return out;
}

// Three passes along x, then three along y, of one plane.
void RefPlane(std::vector<int64_t>& plane, int w, int h, int k, int a, bool clamp) {
  for (int y = 0; y < h; ++y) {
    std::vector<int64_t> row(plane.begin() + y * w, plane.begin() + (y + 1) * w);
    for (int p = 0; p < 3; ++p) row = RefPass(row, k, a, clamp);
    std::copy(row.begin(), row.end(), plane.begin() + y * w);
  }
  for (int x = 0; x < w; ++x) {
    std::vector<int64_t> col(static_cast<size_t>(h));
    for (int y = 0; y < h; ++y) col[size_t(y)] = plane[size_t(y * w + x)];
    for (int p = 0; p < 3; ++p) col = RefPass(col, k, a, clamp);
    for (int y = 0; y < h; ++y) plane[size_t(y * w + x)] = col[size_t(y)];
  }
}

int64_t RoundDiv(int64_t p, int64_t q) { return (2 * p + q) / (2 * q); }

void RefSmooth(TestWorld& world, int k, int a, A_long mode) {
  const int w = world.pf.width, h = world.pf.height;
  const int channels = mode == 97 ? 1 : mode == 111 ? 4 : 3;
  std::vector<std::vector<int64_t>> planes(size_t(channels), std::vector<int64_t>(size_t(w * h)));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const PF_Pixel p = world.At(x, y);
      const size_t i = size_t(y * w + x);
      if (mode == 97) {
        planes[0][i] = 255 * p.alpha;
      } else if (mode == 111) {
        planes[0][i] = 255 * p.alpha;
        planes[1][i] = p.red * p.alpha;
        planes[2][i] = p.green * p.alpha;
        planes[3][i] = p.blue * p.alpha;
      } else {
        planes[0][i] = 255 * p.red;
        planes[1][i] = 255 * p.green;
        planes[2][i] = 255 * p.blue;
      }
    }
  for (auto& plane : planes) RefPlane(plane, w, h, k, a, mode == 126);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      PF_Pixel& p = world.At(x, y);
      const size_t i = size_t(y * w + x);
      if (mode == 126) {
        p = PF_Pixel{255, uint8_t(RoundDiv(planes[0][i], 255)), uint8_t(RoundDiv(planes[1][i], 255)),
                     uint8_t(RoundDiv(planes[2][i], 255))};
        continue;
      }
      const int64_t A = planes[0][i];
      p.alpha = uint8_t(RoundDiv(A, 255));
      if (mode == 111) {
        uint8_t* colour[3] = {&p.red, &p.green, &p.blue};
        for (int c = 0; c < 3; ++c)
          *colour[c] = A == 0 ? 0 : uint8_t(std::min<int64_t>(255, RoundDiv(255 * planes[size_t(c + 1)][i], A)));
      }
    }
}

TestWorld RandomWorld(int w, int h, int pad, unsigned seed) {
  TestWorld world(w, h, pad);
  testimage::FillPixels(world, testimage::Lcg{seed}, [](A_long, A_long, uint32_t r) {
    // A third of the pixels fully transparent, a third opaque.
    const int pick = int((uint64_t(r) * 3) >> 32);
    const uint8_t alpha = pick == 0 ? 0 : pick == 1 ? 255 : testimage::Byte(r, 8);
    return PF_Pixel{alpha, testimage::Byte(r, 16), testimage::Byte(r, 24), testimage::Byte(r, 4)};
  });
  return world;
}

void ExpectSamePixels(const TestWorld& got, const TestWorld& want) {
  for (int y = 0; y < want.pf.height; ++y)
    for (int x = 0; x < want.pf.width; ++x) ASSERT_EQ(got.At(x, y), want.At(x, y)) << "at " << x << "," << y;
}

TEST(SmoothKernel, FromTheRadius) {
  // s = r^2 / 4; k the largest with k(k+1) <= s; alpha as documented.
  EXPECT_EQ(SmoothKernelFor(2).k, 0);     // s = 1
  EXPECT_EQ(SmoothKernelFor(2).a, 64);    // alpha = 1 * 1 / (6 - 2) = 0.25
  EXPECT_EQ(SmoothKernelFor(10).k, 4);    // s = 25
  EXPECT_EQ(SmoothKernelFor(10).a, 115);  // alpha = 9 * 5 / (150 - 50) = 0.45 -> 115.2
  EXPECT_EQ(SmoothKernelFor(0.5).k, 0);   // s = 1/16
  EXPECT_EQ(SmoothKernelFor(0.5).a, 3);   // alpha = 0.0625 / 5.875 -> 2.72
  EXPECT_EQ(SmoothKernelFor(5).k, 2);     // s = 6.25
  EXPECT_EQ(SmoothKernelFor(5).a, 8);     // alpha = 5 * 0.25 / (54 - 12.5) -> 7.71
  EXPECT_EQ(SmoothKernelFor(200).k, 99);  // s = 10000: 99 * 100 <= 10000 < 100 * 101
  EXPECT_EQ(SmoothKernelFor(0).k, -1);
  EXPECT_EQ(SmoothKernelFor(-3).k, -1);
  EXPECT_EQ(SmoothKernelFor(std::nan("")).k, -1);
  EXPECT_EQ(SmoothKernelFor(1e9).k, SmoothKernelFor(kSmoothMaxRadius).k);
  // The three boxes' variance approximates (r / 2)^2 for every radius.
  for (double r : {0.7, 3.3, 17.0, 123.4, 5000.0}) {
    const SmoothKernel kn = SmoothKernelFor(r);
    const double k = kn.k, a = kn.a / 256.0;
    const double var = (k * (k + 1) * (2 * k + 1) / 3 + 2 * a * (k + 1) * (k + 1)) / (2 * k + 1 + 2 * a);
    EXPECT_NEAR(std::sqrt(3 * var), r / 2, 0.02 * r / 2 + 0.01) << r;
  }
}

TEST(SmoothWorld, EqualsTheDirectKernelInEveryMode) {
  // Odd sizes, padded rows, radii from a fraction of a pixel to beyond the image.
  for (A_long mode : {97, 111, 126})
    for (double radius : {0.5, 2.0, 3.7, 10.0, 45.0}) {
      TestWorld world = RandomWorld(23, 17, 12, unsigned(mode * 100 + radius * 10));
      TestWorld want = world;
      want.pf.data = reinterpret_cast<PF_Pixel*>(want.bytes.data());
      const SmoothKernel kn = SmoothKernelFor(radius);
      RefSmooth(want, kn.k, kn.a, mode);
      SmoothWorld(world.pf, radius, mode);
      SCOPED_TRACE(testing::Message() << "mode " << mode << " radius " << radius);
      ExpectSamePixels(world, want);
      EXPECT_TRUE(world.PaddingIntact());
    }
}

TEST(SmoothWorld, SameBytesWhateverTheThreadsAndOrder) {
  TestWorld serial = RandomWorld(300, 70, 0, 7);
  TestWorld threaded = serial;
  threaded.pf.data = reinterpret_cast<PF_Pixel*>(threaded.bytes.data());
  SmoothWorld(serial.pf, 6.5, 111);
  // Tasks in reverse order, spread over three threads.
  SmoothWorld(threaded.pf, 6.5, 111, [](int count, const std::function<void(int)>& task) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
      threads.emplace_back([&, t] {
        for (int i = count - 1 - t; i >= 0; i -= 3) task(i);
      });
    for (auto& th : threads) th.join();
  });
  ExpectSamePixels(threaded, serial);
}

// Runs the tasks on `threads` threads, each taking every threads-th task
// from the end, so that neighbouring tasks run at once and out of order.
SmoothRunner ThreadsOf(int threads) {
  return [threads](int count, const std::function<void(int)>& task) {
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
      pool.emplace_back([&, t] {
        for (int i = count - 1 - t; i >= 0; i -= threads) task(i);
      });
    for (auto& th : pool) th.join();
  };
}

TEST(SmoothWorld, VectorPathEqualsThePlainPath) {
  // Widths and heights that leave partial bands, strips and vectors; padded
  // rows; whole-number division (radius up to about 127) and the double form
  // beyond; a radius wider than the image. The 200x150 frame at radius 10
  // has sums whose float quotient falls just below a whole number, which the
  // remainder must put right.
  struct Case {
    int w, h, pad;
    double radius;
  };
  const Case cases[] = {{1, 1, 0, 3.0},      {7, 5, 3, 2.0},      {37, 29, 5, 2.0},
                        {61, 43, 0, 9.5},    {130, 17, 7, 60},    {45, 300, 1, 140},
                        {300, 45, 2, 700.0}, {19, 11, 4, 5000.0}, {200, 150, 0, 10.0}};
  for (A_long mode : {97, 111, 126})
    for (const Case& c : cases)
      for (int threads : {1, 2, 3}) {
        SCOPED_TRACE(testing::Message() << "mode " << mode << " " << c.w << "x" << c.h << " radius " << c.radius
                                        << " threads " << threads);
        TestWorld want = RandomWorld(c.w, c.h, c.pad, unsigned(c.w * 7 + c.h + mode));
        TestWorld got = want;
        got.pf.data = reinterpret_cast<PF_Pixel*>(got.bytes.data());
        SmoothWorldReference(want.pf, c.radius, mode);
        SmoothWorld(got.pf, c.radius, mode, ThreadsOf(threads));
        EXPECT_EQ(got.bytes, want.bytes);
      }
}

TEST(SmoothWorld, RadiusZeroOrLessChangesNothing) {
  for (double radius : {0.0, -1.0, std::nan("")}) {
    TestWorld world = RandomWorld(9, 5, 4, 3);
    const TestWorld before = world;
    for (A_long mode : {97, 111, 126}) SmoothWorld(world.pf, radius, mode);
    EXPECT_EQ(world.bytes, before.bytes);
  }
}

TEST(SmoothWorld, ModesTouchOnlyTheirChannels) {
  TestWorld world = RandomWorld(12, 9, 0, 11);
  const TestWorld before = world;
  SmoothWorld(world.pf, 3, 97);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 12; ++x) {
      EXPECT_EQ(world.At(x, y).red, before.At(x, y).red);
      EXPECT_EQ(world.At(x, y).green, before.At(x, y).green);
      EXPECT_EQ(world.At(x, y).blue, before.At(x, y).blue);
    }
  SmoothWorld(world.pf, 3, 126);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 12; ++x) EXPECT_EQ(world.At(x, y).alpha, 255);
}

TEST(SmoothWorld, ConstantImageStaysConstantWithClampedEdges) {
  for (double radius : {1.0, 7.0, 300.0, 1e7}) {
    TestWorld world(31, 13, 8);
    for (int y = 0; y < 13; ++y)
      for (int x = 0; x < 31; ++x) world.At(x, y) = PF_Pixel{uint8_t(x * 8), 201, 77, 3};
    SmoothWorld(world.pf, radius, 126);
    for (int y = 0; y < 13; ++y)
      for (int x = 0; x < 31; ++x) ASSERT_EQ(world.At(x, y), (PF_Pixel{255, 201, 77, 3})) << radius;
    EXPECT_TRUE(world.PaddingIntact());
  }
}

TEST(SmoothWorld, OpaqueInteriorStaysAndOutsideIsTransparent) {
  // 3(k + 1) = 6 pixels of support at radius 3 (k = 1): beyond that from
  // every border the colour-and-alpha mode keeps a constant opaque image.
  TestWorld world(40, 30);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) world.At(x, y) = PF_Pixel{255, 10, 200, 90};
  ASSERT_EQ(SmoothKernelFor(3).k, 1);
  SmoothWorld(world.pf, 3, 111);
  for (int y = 6; y < 24; ++y)
    for (int x = 6; x < 34; ++x) ASSERT_EQ(world.At(x, y), (PF_Pixel{255, 10, 200, 90}));
  // The transparent outside pulls the corners down; colour is unchanged.
  EXPECT_LT(world.At(0, 0).alpha, 128);
  EXPECT_GT(world.At(0, 0).alpha, 0);
  EXPECT_EQ(world.At(0, 0).green, 200);
}

TEST(SmoothWorld, TransparentColourDoesNotLeak) {
  // Opaque grey stripes between fully transparent pixels whose colour bytes
  // are pure red: in mode 111 no red may appear anywhere.
  TestWorld world(25, 25, 4);
  for (int y = 0; y < 25; ++y)
    for (int x = 0; x < 25; ++x) world.At(x, y) = (x / 5) % 2 ? PF_Pixel{255, 100, 100, 100} : PF_Pixel{0, 255, 0, 0};
  SmoothWorld(world.pf, 4, 111);
  for (int y = 0; y < 25; ++y)
    for (int x = 0; x < 25; ++x) {
      const PF_Pixel p = world.At(x, y);
      if (p.alpha == 0) {
        EXPECT_EQ(p, (PF_Pixel{0, 0, 0, 0}));
      } else {
        EXPECT_EQ(p.red, 100) << x << "," << y;
        EXPECT_EQ(p.green, 100);
      }
    }
}

TEST(SmoothWorld, HardEdgeBecomesRampOfDocumentedWidth) {
  // Mode 126 on a vertical black/white edge (clamped edges: every row alike).
  // Support: pixels further than 3(k + 1) from the edge keep their value;
  // the 10 %..90 % rise spans about 2.56 sigma = 1.28 r.
  for (double radius : {4.0, 12.0, 30.0}) {
    const int w = 200, edge = 100;
    TestWorld world(w, 3);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < w; ++x) world.At(x, y) = x < edge ? PF_Pixel{255, 0, 0, 0} : PF_Pixel{255, 255, 255, 255};
    SmoothWorld(world.pf, radius, 126);
    const int support = 3 * (SmoothKernelFor(radius).k + 1);
    int first10 = -1, first90 = -1;
    for (int x = 0; x < w; ++x) {
      const int v = world.At(x, 1).red;
      EXPECT_EQ(v, world.At(x, 0).red);
      if (x < edge - support) {
        EXPECT_EQ(v, 0) << x;
      }
      if (x >= edge + support) {
        EXPECT_EQ(v, 255) << x;
      }
      if (x > 0) {
        EXPECT_GE(v, world.At(x - 1, 1).red);  // monotonic
      }
      if (first10 < 0 && v >= 26) first10 = x;
      if (first90 < 0 && v >= 230) first90 = x;
    }
    EXPECT_NEAR(first90 - first10, 1.28 * radius, 0.1 * radius + 1.5) << radius;
    // Symmetric about the edge, between pixels edge - 1 and edge.
    for (int d = 0; d < 2 * support; ++d)
      EXPECT_NEAR(world.At(edge - 1 - d, 1).red + world.At(edge + d, 1).red, 255, 1);
  }
}

TEST(SmoothWorld, RadiusBeyondTheImageFadesAlphaAndAveragesColour) {
  TestWorld world = RandomWorld(8, 6, 0, 5);
  SmoothWorld(world.pf, 5000, 97);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(world.At(x, y).alpha, 0);
  // Clamped: every pixel tends to one colour.
  TestWorld colour = RandomWorld(8, 6, 0, 6);
  SmoothWorld(colour.pf, 5000, 126);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_NEAR(colour.At(x, y).red, colour.At(0, 0).red, 1);
}

}  // namespace
}  // namespace ombrix
