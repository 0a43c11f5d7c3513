// IterateRows against a stand-in iterate that walks its area pixel by pixel
// as the host does: one row call per row with the row's first pixels, and
// a source smaller than the destination refused before any call.
#include <pf/rows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

struct Walk {
  PF_Rect area{};
  int iterate_calls = 0;
  std::vector<A_long> rows;  // y of each row call
};
Walk* walk = nullptr;

PF_Err StandInIterate(PF_InData*, A_long, A_long, PF_EffectWorld* src, const PF_Rect* area, void* refcon,
                      PF_IteratePixel8Func fn, PF_EffectWorld* dst) {
  ++walk->iterate_calls;
  walk->area = *area;
  for (A_long y = area->top; y < area->bottom; ++y)
    for (A_long x = area->left; x < area->right; ++x) {
      auto at = [x, y](PF_EffectWorld* w) {
        return reinterpret_cast<PF_Pixel*>(reinterpret_cast<char*>(w->data) + y * w->rowbytes) + x;
      };
      if (PF_Err e = fn(refcon, x, y, at(src), at(dst))) return e;
    }
  return PF_Err_NONE;
}

// Each output pixel takes the input's red plus its column; row 2 fails.
PF_Err AddColumn(void* refcon, A_long y, A_long width, PF_Pixel* in, PF_Pixel* out) {
  static_cast<Walk*>(refcon)->rows.push_back(y);
  if (y == 2) return PF_Err_INTERNAL_STRUCT_DAMAGED;
  for (A_long x = 0; x < width; ++x) out[x] = PF_Pixel{255, uint8_t(in[x].red + x), 0, 0};
  return PF_Err_NONE;
}

struct Image {
  std::vector<PF_Pixel> pixels;
  PF_EffectWorld world{};
  Image(A_long w, A_long h, A_long pad) : pixels(size_t((w + pad) * h)) {
    world.width = w;
    world.height = h;
    world.rowbytes = (w + pad) * 4;
    world.data = pixels.data();
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i].red = uint8_t(i);
  }
};

TEST(IterateRows, OneCallPerRowAndSmallerSourcesRefused) {
  _PF_UtilCallbacks utils{};
  utils.iterate = StandInIterate;
  PF_InData in_data{};
  in_data.utils = &utils;
  struct Case {
    A_long src_w, src_h, dst_w, dst_h, pad;
    PF_Err err;
    int rows_called;
  };
  const Case cases[] = {
      {5, 2, 5, 2, 3, PF_Err_NONE, 2},                     // padded rows
      {9, 6, 7, 2, 0, PF_Err_NONE, 2},                     // larger source
      {7, 5, 7, 5, 1, PF_Err_INTERNAL_STRUCT_DAMAGED, 3},  // the row function's error stops the walk
      {6, 2, 7, 2, 0, PF_Err_BAD_CALLBACK_PARAM, 0},       // narrower source
      {7, 1, 7, 2, 0, PF_Err_BAD_CALLBACK_PARAM, 0},       // shorter source
  };
  for (const Case& c : cases) {
    Walk w;
    walk = &w;
    Image src(c.src_w, c.src_h, c.pad), dst(c.dst_w, c.dst_h, c.pad);
    EXPECT_EQ(pf::IterateRows(&in_data, &src.world, &dst.world, &w, AddColumn), c.err) << c.src_w;
    ASSERT_EQ(int(w.rows.size()), c.rows_called) << c.src_w;
    if (c.rows_called == 0) {
      EXPECT_EQ(w.iterate_calls, 0);
      continue;
    }
    EXPECT_EQ(w.area.right - w.area.left, 1);
    for (A_long y = 0; y < std::min<A_long>(c.dst_h, 2); ++y)
      for (A_long x = 0; x < c.dst_w; ++x) {
        const uint8_t in_red = uint8_t(y * (c.src_w + c.pad) + x);
        EXPECT_EQ(dst.pixels[size_t(y * (c.dst_w + c.pad) + x)].red, uint8_t(in_red + x)) << x << "," << y;
      }
  }
}

}  // namespace
