// Tintmatch through the host: averages worked out here from the source's
// pixels in each mode, with and without the original alpha, from another
// layer, the own layer and no layer, on padded rows, and the failure paths.
#include <ombrix/host/host.h>
#include <ombrix/host/image_io.h>

#include "effects/common/effect_test.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

using namespace effect_test;
using ombrix::Effect;
using ombrix::Host;
using ombrix::Instance;
using ombrix::LayerSource;
using ombrix::ParamValue;
using ombrix::TimeBase;
using ombrix::World;

enum { kSource = 1, kMode, kKeepAlpha };
enum { kSkipEmpty = 1, kAll, kAllPremultiplied, kIncludingAlpha };

// Varied colours, alpha 0 on every fifth pixel.
void FillPattern(World& w, int seed) {
  for (A_long y = 0; y < w.height(); ++y)
    for (A_long x = 0; x < w.width(); ++x)
      w.At(x, y) = PF_Pixel{A_u_char((x + y) % 5 == 0 ? 0 : 40 + (x * 29 + y * seed) % 216), A_u_char(x * 31 + seed),
                            A_u_char(y * 53 + 7), A_u_char((x * y + seed) * 11)};
}

// Garbage in the bytes past each row's width.
void SoilPadding(World& w) {
  for (A_long y = 0; y < w.height(); ++y) {
    uint8_t* row = reinterpret_cast<uint8_t*>(w.Row(y));
    std::memset(row + 4 * w.width(), 0xEE, size_t(w.rowbytes() - 4 * w.width()));
  }
}

// The average as the modes define it, before the alpha is made opaque.
PF_Pixel Expected(const World& w, int mode) {
  int64_t sum[4] = {0, 0, 0, 0}, n = 0;
  for (A_long y = 0; y < w.height(); ++y)
    for (A_long x = 0; x < w.width(); ++x) {
      const PF_Pixel& p = w.At(x, y);
      if (mode == kSkipEmpty && p.alpha == 0) continue;
      sum[0] += p.alpha, sum[1] += p.red, sum[2] += p.green, sum[3] += p.blue, ++n;
    }
  if (n == 0) return PF_Pixel{0, 0, 0, 0};
  PF_Pixel a{A_u_char(sum[0] / n), A_u_char(sum[1] / n), A_u_char(sum[2] / n), A_u_char(sum[3] / n)};
  if (mode == kAllPremultiplied && a.alpha != 0)
    a = PF_Pixel{a.alpha, A_u_char(a.red * a.alpha / 255), A_u_char(a.green * a.alpha / 255),
                 A_u_char(a.blue * a.alpha / 255)};
  return a;
}

class Tintmatch : public ::testing::Test {
 protected:
  Tintmatch() { base = ombrix::LiveCheckoutCount(); }
  LayerSource File(const World& w) { return dir.ImageLayer(w, "source.png"); }
  // Renders `mode` with the source bound as given; returns the output.
  World Render(const LayerSource* source, int mode, bool keep_alpha, const World& in) {
    Instance inst(effect, TimeBase{}, in.width(), in.height());
    if (source) inst.BindLayer(kSource, *source);
    inst.SetValue(kMode, Scalar(mode));
    inst.SetValue(kKeepAlpha, Scalar(keep_alpha));
    World copy = in;
    World out(in.width(), in.height(), 4);
    result = inst.RenderFrame(0, copy.pf(), out.pf()).err;
    EXPECT_EQ(ombrix::LiveCheckoutCount(), base);
    return out;
  }

  Host host;
  Effect effect{host, TestPlugin("tintmatch.aex")};
  TestDir dir{"tintmatch"};
  size_t base = 0;
  PF_Err result = PF_Err_NONE;
};

::testing::AssertionResult AllAre(const World& w, const PF_Pixel& p) {
  for (A_long y = 0; y < w.height(); ++y)
    for (A_long x = 0; x < w.width(); ++x)
      if (!Same(w.At(x, y), p))
        return ::testing::AssertionFailure()
               << "(" << x << ", " << y << ") is " << Show(w.At(x, y)) << ", expected " << Show(p);
  return ::testing::AssertionSuccess();
}

TEST_F(Tintmatch, Registration) {
  EXPECT_EQ(effect.num_params(), 4);
  EXPECT_EQ(effect.params()[kSource].u.ld.dephault, PF_LayerDefault_MYSELF);
  EXPECT_EQ(effect.PopupItems(kMode),
            (std::vector<std::string>{"Skip Empty", "All", "All Premultiplied", "Including Alpha"}));
  EXPECT_EQ(effect.FindParam("Maintain Original Alpha"), kKeepAlpha);
}

// Every mode from another layer, filled over the frame: the average, opaque
// except in "Including Alpha".
TEST_F(Tintmatch, EveryModeFromAnotherLayer) {
  World src(23, 17), in(9, 7);
  FillPattern(src, 3);
  FillPattern(in, 8);
  const LayerSource file = File(src);
  for (int mode = 1; mode <= 4; ++mode) {
    SCOPED_TRACE(mode);
    PF_Pixel e = Expected(src, mode);
    if (mode != kIncludingAlpha) e.alpha = 255;
    const World out = Render(&file, mode, false, in);
    ASSERT_EQ(result, PF_Err_NONE);
    EXPECT_TRUE(AllAre(out, e));
  }
  // The modes really differ on this source.
  EXPECT_FALSE(Same(Expected(src, kSkipEmpty), Expected(src, kAll)));
  EXPECT_FALSE(Same(Expected(src, kAll), Expected(src, kAllPremultiplied)));
}

// A fully transparent source (colour bytes set) with "Skip Empty": nothing
// counts, the average is 0 and then opaque: black.
TEST_F(Tintmatch, TransparentSourceSkippingEmptyIsOpaqueBlack) {
  World in(6, 5);
  FillPattern(in, 1);
  const LayerSource clear = LayerSource::Image(ombrix::ParseSource("solid:6x5:#FF804000"));
  const World out = Render(&clear, kSkipEmpty, false, in);
  ASSERT_EQ(result, PF_Err_NONE);
  EXPECT_TRUE(AllAre(out, PF_Pixel{255, 0, 0, 0}));

  // "All Premultiplied" with average alpha 0 leaves the colour unscaled.
  EXPECT_TRUE(AllAre(Render(&clear, kAllPremultiplied, false, in), PF_Pixel{255, 255, 128, 64}));
}

// "Including Alpha" keeps the averaged alpha a = 128 and, in the layer's
// shape, scales it by each input alpha: ((alpha + 1) x a) >> 8, so 255 gives
// a, 100 gives 50, 1 gives 1; transparent pixels get alpha 0.
TEST_F(Tintmatch, IncludingAlphaScalesByTheInputAlpha) {
  const LayerSource half = LayerSource::Image(ombrix::ParseSource("solid:4x1:#6496C880"));
  World in(4, 1);
  const A_u_char alphas[4] = {255, 100, 1, 0};
  for (A_long x = 0; x < 4; ++x) in.At(x, 0) = PF_Pixel{alphas[x], 1, 2, 3};
  World out = Render(&half, kIncludingAlpha, false, in);
  EXPECT_TRUE(AllAre(out, PF_Pixel{128, 100, 150, 200}));
  out = Render(&half, kIncludingAlpha, true, in);
  const A_u_char expected[4] = {128, 50, 1, 0};
  for (A_long x = 0; x < 4; ++x)
    EXPECT_TRUE(Same(out.At(x, 0), PF_Pixel{expected[x], 100, 150, 200})) << x << ": " << Show(out.At(x, 0));

  // The other modes keep the input's alpha as it is, under an opaque average.
  out = Render(&half, kAll, true, in);
  for (A_long x = 0; x < 4; ++x) EXPECT_TRUE(Same(out.At(x, 0), PF_Pixel{alphas[x], 100, 150, 200}));
}

// No source layer: the layer the effect is applied to is averaged; the
// default (the own layer through a checkout) gives the same.
TEST_F(Tintmatch, NoSourceAveragesTheOwnLayer) {
  World in(11, 8);
  FillPattern(in, 6);
  const LayerSource none = LayerSource::None();
  for (int mode = 1; mode <= 4; ++mode) {
    SCOPED_TRACE(mode);
    PF_Pixel e = Expected(in, mode);
    if (mode != kIncludingAlpha) e.alpha = 255;
    EXPECT_TRUE(AllAre(Render(&none, mode, false, in), e));
    EXPECT_TRUE(AllAre(Render(nullptr, mode, false, in), e));
  }
}

// Padded rows with garbage past the width, in the input (averaged when there
// is no source) and in the host's checkouts: only the image counts.
TEST_F(Tintmatch, PaddedRowsCountOnlyTheImage) {
  Host padded_host(ombrix::HostOptions{0, 20, {}});
  Effect padded(padded_host, TestPlugin("tintmatch.aex"));
  World in(7, 6, 24);
  FillPattern(in, 2);
  SoilPadding(in);
  for (bool own : {false, true}) {
    SCOPED_TRACE(own ? "own layer checked out" : "no source");
    Instance inst(padded, TimeBase{}, 7, 6);
    if (!own) inst.BindLayer(kSource, LayerSource::None());
    inst.SetValue(kMode, Scalar(kAll));
    World out(7, 6);
    ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
    PF_Pixel e = Expected(in, kAll);
    e.alpha = 255;
    EXPECT_TRUE(AllAre(out, e));
  }
}

TEST_F(Tintmatch, FailingServices) {
  World in(5, 5);
  FillPattern(in, 4);
  host.failures().Arm("checkout_param", 1, PF_Err_OUT_OF_MEMORY);
  World out = Render(nullptr, kAll, false, in);
  EXPECT_EQ(result, PF_Err_OUT_OF_MEMORY);
  EXPECT_TRUE(AllAre(out, PF_Pixel{0, 0, 0, 0}));

  host.failures().Arm("checkin_param", 1, PF_Err_BAD_CALLBACK_PARAM);
  Render(nullptr, kAll, false, in);
  EXPECT_EQ(result, PF_Err_BAD_CALLBACK_PARAM);

  host.failures().Arm("iterate", 1, PF_Err_INTERNAL_STRUCT_DAMAGED);
  Render(nullptr, kAll, true, in);
  EXPECT_EQ(result, PF_Err_INTERNAL_STRUCT_DAMAGED);
}

}  // namespace
