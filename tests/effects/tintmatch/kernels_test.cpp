// A source without pixel units (no rows, no width, no row bytes) averages to
// 0, 0, 0, 0 in every mode instead of dividing by a zero count.
#include "kernels.h"

#include <gtest/gtest.h>

namespace {

TEST(TintmatchAverage, EmptySourcesAverageToZeroInEveryMode) {
  PF_Pixel pixels[4] = {{255, 9, 9, 9}, {255, 9, 9, 9}, {255, 9, 9, 9}, {255, 9, 9, 9}};
  struct Shape {
    A_long width, height, rowbytes;
  };
  for (Shape s : {Shape{2, 0, 8}, Shape{0, 2, 8}, Shape{0, 2, 0}, Shape{0, 0, 0}}) {
    PF_EffectWorld w{};
    w.data = pixels;
    w.width = s.width;
    w.height = s.height;
    w.rowbytes = s.rowbytes;
    for (A_long mode = 1; mode <= 4; ++mode) {
      SCOPED_TRACE(::testing::Message() << s.width << "x" << s.height << " mode " << mode);
      const PF_Pixel a = tintmatch::Average(w, mode);
      EXPECT_EQ(a.alpha + a.red + a.green + a.blue, 0);
    }
  }
}

// A world whose rows are longer than its width: the bytes past the width do
// not count, whatever they hold.
TEST(TintmatchAverage, BytesPastTheWidthDoNotCount) {
  PF_Pixel rows[2][3] = {{{255, 10, 20, 30}, {255, 30, 40, 50}, {0, 255, 255, 255}},
                         {{255, 50, 60, 70}, {255, 70, 80, 90}, {0, 255, 255, 255}}};
  PF_EffectWorld w{};
  w.data = &rows[0][0];
  w.width = 2;
  w.height = 2;
  w.rowbytes = 12;
  const PF_Pixel a = tintmatch::Average(w, tintmatch::kAll);
  EXPECT_EQ(a.alpha, 255);
  EXPECT_EQ(a.red, 40);
  EXPECT_EQ(a.green, 50);
  EXPECT_EQ(a.blue, 60);
}

}  // namespace
