// Difference through the host: the layer against itself, against a target
// file in both modes at several intensities, every alpha mode on one worked
// pixel, the target at a time offset from a sequence, and the paths without a
// usable target (none, another size, a failing checkout or copy).
#include <ombrix/host/host.h>
#include <ombrix/host/image_io.h>

#include "effects/common/effect_test.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace effect_test;
using ombrix::Effect;
using ombrix::Host;
using ombrix::Instance;
using ombrix::LayerSource;
using ombrix::ParamValue;
using ombrix::TimeBase;
using ombrix::World;

enum { kTarget = 1, kOffset, kIntensity, kAbsolute, kAlpha };

ParamValue Fixed(double v) { return Scalar(A_long(std::lround(v * 65536))); }

void FillPattern(World& w, int seed) {
  for (A_long y = 0; y < w.height(); ++y)
    for (A_long x = 0; x < w.width(); ++x)
      w.At(x, y) = PF_Pixel{A_u_char(x * 23 + y * seed), A_u_char(x * 41 + seed), A_u_char(y * 67 + x * seed),
                            A_u_char((x * y * 13 + seed) & 255)};
}

bool AllEqual(const World& w, const PF_Pixel& p) {
  for (A_long y = 0; y < w.height(); ++y)
    for (A_long x = 0; x < w.width(); ++x)
      if (!Same(w.At(x, y), p)) return false;
  return true;
}

class Difference : public ::testing::Test {
 protected:
  Difference() { base = ombrix::LiveCheckoutCount(); }
  LayerSource File(const World& w, const std::string& name) { return dir.ImageLayer(w, name); }

  Host host;
  Effect effect{host, TestPlugin("difference.aex")};
  const int quiet_ = (
      host.on_message = [](std::string_view) {}, 0);
  TestDir dir{"difference"};
  size_t base = 0;
};

TEST_F(Difference, Registration) {
  EXPECT_EQ(effect.num_params(), 6);
  EXPECT_EQ(effect.global_out_flags(), PF_OutFlag_WIDE_TIME_INPUT);
  EXPECT_EQ(effect.file().pipl.global_flags, uint32_t(PF_OutFlag_WIDE_TIME_INPUT));
  EXPECT_EQ(effect.params()[kTarget].u.ld.dephault, PF_LayerDefault_MYSELF);
  EXPECT_EQ(effect.params()[kAlpha].u.pd.value, 5);
  EXPECT_EQ(effect.params()[kAlpha].u.pd.num_choices, 9);
  EXPECT_EQ(effect.FindParam("Absolute Difference"), kAbsolute);
  EXPECT_EQ(effect.params()[kOffset].u.fd.precision, 3);
}

// The own layer at offset 0: nothing differs. Absolute is black, signed is
// 0 x k + 127.5 = 127; the alpha follows the menu.
TEST_F(Difference, SameLayerAtOffsetZero) {
  World in(13, 9, 8);
  FillPattern(in, 3);
  struct Case {
    bool absolute;
    int mode;
  };
  for (Case c : {Case{true, 5}, Case{false, 5}, Case{true, 1}, Case{false, 1}, Case{false, 2}, Case{true, 9}}) {
    SCOPED_TRACE(::testing::Message() << "absolute " << c.absolute << " mode " << c.mode);
    Instance inst(effect, TimeBase{}, 13, 9);
    inst.SetValue(kAbsolute, Scalar(c.absolute));
    inst.SetValue(kAlpha, Scalar(c.mode));
    World out(13, 9, 8);
    ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
    const A_u_char level = c.absolute ? 0 : 127;
    for (A_long y = 0; y < 9; ++y) {
      for (A_long x = 0; x < 13; ++x) {
        A_u_char alpha = in.At(x, y).alpha;             // Original
        if (c.mode == 1) alpha = level;                 // no alpha difference either
        if (c.mode == 2) alpha = c.absolute ? 0 : 127;  // (117 + 204 + 64) x 127 / 385
        if (c.mode == 9) alpha = 255;
        ASSERT_TRUE(Same(out.At(x, y), PF_Pixel{alpha, level, level, level})) << x << "," << y;
      }
    }
    EXPECT_EQ(ombrix::LiveCheckoutCount(), base);
  }
}

// Against a target file, every channel: Intensity 50 is |o - t| in absolute
// mode and (o - t) / 2 + 127.5 truncated in signed mode; -50 flips the signed
// result and leaves the absolute one; 150 clamps.
TEST_F(Difference, IntensityScalesTheDifference) {
  World in(16, 16, 4), target(16, 16);
  FillPattern(in, 5);
  FillPattern(target, 11);
  // The extremes: +255 and -255.
  in.At(0, 0) = PF_Pixel{255, 255, 0, 128};
  target.At(0, 0) = PF_Pixel{255, 0, 255, 128};
  const LayerSource file = File(target, "target.png");
  for (double intensity : {50.0, -50.0, 150.0, 13.3}) {
    for (bool absolute : {true, false}) {
      SCOPED_TRACE(::testing::Message() << "intensity " << intensity << " absolute " << absolute);
      Instance inst(effect, TimeBase{}, 16, 16);
      inst.BindLayer(kTarget, file);
      inst.SetValue(kIntensity, Fixed(intensity));
      inst.SetValue(kAbsolute, Scalar(absolute));
      inst.SetValue(kAlpha, Scalar(6));  // Target
      World out(16, 16, 4);
      ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
      const double k = std::lround(intensity * 65536) / 65536.0 * 0.01 * (absolute ? 2 : 1);
      auto level = [&](int o, int t) {
        const double v = (o - t) * k;
        if (absolute) return std::fabs(v) >= 255 ? 255 : int(std::fabs(v));
        const double s = v + 127.5;
        return s >= 255 ? 255 : s > 0 ? int(s) : 0;
      };
      for (A_long y = 0; y < 16; ++y) {
        for (A_long x = 0; x < 16; ++x) {
          const PF_Pixel& o = in.At(x, y);
          const PF_Pixel& t = target.At(x, y);
          const PF_Pixel e{t.alpha, A_u_char(level(o.red, t.red)), A_u_char(level(o.green, t.green)),
                           A_u_char(level(o.blue, t.blue))};
          ASSERT_TRUE(Same(out.At(x, y), e))
              << x << "," << y << " got " << Show(out.At(x, y)) << " expected " << Show(e);
        }
      }
      if (intensity == 50.0 && !absolute) {
        EXPECT_EQ(out.At(0, 0).red, 255);  // +255 x 0.5 + 127.5
        EXPECT_EQ(out.At(0, 0).green, 0);  // -255 x 0.5 + 127.5
      }
      if (intensity == -50.0 && !absolute) {
        EXPECT_EQ(out.At(0, 0).red, 0);
        EXPECT_EQ(out.At(0, 0).green, 255);
      }
    }
  }
}

// One pixel worked through every alpha mode. Original 200,10,250,100 against
// target 100,60,40,100 at Intensity 50. Absolute (k = 1): 50, 210, 0; signed
// (k = 0.5): 102.5, 232.5, 127.5 -> 102, 232, 127.
TEST_F(Difference, EveryAlphaMode) {
  World in(2, 2), target(2, 2);
  for (A_long y = 0; y < 2; ++y)
    for (A_long x = 0; x < 2; ++x) {
      in.At(x, y) = PF_Pixel{200, 10, 250, 100};
      target.At(x, y) = PF_Pixel{100, 60, 40, 100};
    }
  const LayerSource file = File(target, "pixel.png");
  // Items 1..9: alpha difference, luminance, lightness, separator (the
  // target's alpha), original, target, blend, max, full on.
  const int absolute_alpha[9] = {100, 48690 / 385, 210, 100, 200, 100, 150, 200, 255};
  const int signed_alpha[9] = {177, 67390 / 385, 232, 100, 200, 100, 150, 200, 255};
  for (bool absolute : {true, false}) {
    for (int mode = 1; mode <= 9; ++mode) {
      SCOPED_TRACE(::testing::Message() << "absolute " << absolute << " mode " << mode);
      Instance inst(effect, TimeBase{}, 2, 2);
      inst.BindLayer(kTarget, file);
      inst.SetValue(kAbsolute, Scalar(absolute));
      inst.SetValue(kAlpha, Scalar(mode));
      World out(2, 2);
      ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
      const PF_Pixel e = absolute ? PF_Pixel{A_u_char(absolute_alpha[mode - 1]), 50, 210, 0}
                                  : PF_Pixel{A_u_char(signed_alpha[mode - 1]), 102, 232, 127};
      EXPECT_TRUE(Same(out.At(1, 1), e)) << Show(out.At(1, 1));
    }
  }
}

// Time scale 30 (one tick a frame at 30 fps), the target a sequence at 2 fps:
// ticks 0..14 show frame 0, 15..29 frame 1, 30.. frame 2. Offset 0.5 s asks
// for tick 15; 0.499 s for 14.97, truncated to 14; -0.5 s at tick 30 for 15.
TEST_F(Difference, TimeOffsetInTicks) {
  const PF_Pixel colours[3] = {{255, 10, 0, 0}, {255, 20, 0, 0}, {255, 40, 0, 0}};
  for (int f = 0; f < 3; ++f) {
    char name[32];
    std::snprintf(name, sizeof name, "seq.%04d.png", f);
    ombrix::WriteImage(dir.path / name, ombrix::MakeSolid(4, 3, colours[f]).pf());
  }
  const LayerSource seq =
      LayerSource::Image(ombrix::ParseSource((dir.path / "seq.####.png").string()), ombrix::FrameRate{2, 1});
  World in = ombrix::MakeSolid(4, 3, PF_Pixel{255, 100, 0, 0});
  struct Case {
    double offset;
    A_long now;
    int frame;
  };
  for (Case c : {Case{0.5, 0, 1}, Case{0.499, 0, 0}, Case{0.0, 0, 0}, Case{-0.5, 30, 1}, Case{0.0, 30, 2}}) {
    SCOPED_TRACE(::testing::Message() << "offset " << c.offset << " at " << c.now);
    Instance inst(effect, TimeBase::ForRate({30, 1}, 30), 4, 3);
    inst.BindLayer(kTarget, seq);
    inst.SetValue(kOffset, Fixed(c.offset));
    inst.SetValue(kAbsolute, Scalar(1));
    World out(4, 3);
    ASSERT_EQ(inst.RenderFrame(c.now, in.pf(), out.pf()).err, PF_Err_NONE);
    EXPECT_EQ(out.At(2, 1).red, 100 - colours[c.frame].red);
  }
}

// The longest offset at a fine time scale lies past the range of a time
// value: the target is asked for at the last representable time, which for
// the own layer is the layer itself.
TEST_F(Difference, LongOffsetAtAFineTimeScale) {
  World in(4, 3);
  FillPattern(in, 7);
  Instance inst(effect, TimeBase::ForRate({25, 1}, 2000000), 4, 3);
  inst.SetValue(kOffset, Fixed(2000));
  inst.SetValue(kAbsolute, Scalar(1));
  inst.SetValue(kAlpha, Scalar(9));
  World out(4, 3);
  ASSERT_EQ(inst.RenderFrame(1000, in.pf(), out.pf()).err, PF_Err_NONE);
  EXPECT_TRUE(AllEqual(out, PF_Pixel{255, 0, 0, 0}));
  inst.SetValue(kOffset, Fixed(-2000));
  ASSERT_EQ(inst.RenderFrame(1000, in.pf(), out.pf()).err, PF_Err_NONE);
  EXPECT_TRUE(AllEqual(out, PF_Pixel{255, 0, 0, 0}));
}

// No target chosen: plain opaque black, or opaque 127-grey when signed.
TEST_F(Difference, NoTarget) {
  World in(5, 4);
  FillPattern(in, 2);
  for (bool absolute : {true, false}) {
    Instance inst(effect, TimeBase{}, 5, 4);
    inst.BindLayer(kTarget, LayerSource::None());
    inst.SetValue(kAbsolute, Scalar(absolute));
    World out(5, 4, 4);
    const ombrix::CommandResult r = inst.RenderFrame(0, in.pf(), out.pf());
    ASSERT_EQ(r.err, PF_Err_NONE);
    EXPECT_TRUE(r.message.empty());
    EXPECT_TRUE(AllEqual(out, absolute ? PF_Pixel{255, 0, 0, 0} : PF_Pixel{255, 127, 127, 127}));
  }
}

// A target of another size: the message, the zero-difference colour, success,
// and the target checked back in.
TEST_F(Difference, MismatchedSizes) {
  World in(6, 5);
  FillPattern(in, 9);
  for (bool absolute : {true, false}) {
    Instance inst(effect, TimeBase{}, 6, 5);
    inst.BindLayer(kTarget, LayerSource::Image(ombrix::ParseSource("solid:7x5:#808080")));
    inst.SetValue(kAbsolute, Scalar(absolute));
    World out(6, 5);
    const ombrix::CommandResult r = inst.RenderFrame(0, in.pf(), out.pf());
    EXPECT_EQ(r.err, PF_Err_NONE);
    EXPECT_EQ(r.message, "Layer sizes differ");
    EXPECT_TRUE(AllEqual(out, absolute ? PF_Pixel{255, 0, 0, 0} : PF_Pixel{255, 127, 127, 127}));
    EXPECT_EQ(ombrix::LiveCheckoutCount(), base);
  }
}

// A failing checkout: opaque mid-grey and the host's error. A failing copy or
// iterate: its error, with the target checked back in.
TEST_F(Difference, FailingServices) {
  World in(6, 5);
  FillPattern(in, 4);
  Instance inst(effect, TimeBase{}, 6, 5);
  inst.SetValue(kAbsolute, Scalar(1));
  World out(6, 5);
  host.failures().Arm("checkout_param", 1, PF_Err_OUT_OF_MEMORY);
  EXPECT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_OUT_OF_MEMORY);
  EXPECT_TRUE(AllEqual(out, PF_Pixel{255, 127, 127, 127}));

  for (const char* service : {"copy", "iterate"}) {
    SCOPED_TRACE(service);
    host.failures().Arm(service, 1, PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(ombrix::LiveCheckoutCount(), base);
  }

  // A failing check-in after a good render is the render's result.
  host.failures().Arm("checkin_param", 1, PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_BAD_CALLBACK_PARAM);
}

}  // namespace
