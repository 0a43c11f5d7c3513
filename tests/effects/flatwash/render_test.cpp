// Flatwash through the host: every output pixel compared with the mixing
// formula evaluated here, on padded rows, odd sizes and a reduced buffer.
#include <ombrix/host/host.h>

#include "effects/common/effect_test.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace effect_test;
using ombrix::Effect;
using ombrix::Host;
using ombrix::Instance;
using ombrix::ParamValue;
using ombrix::TimeBase;
using ombrix::World;

constexpr int kColourParam = 1;
constexpr int kBlendParam = 2;

// A deterministic, varied input: every byte value appears, alpha included.
void FillPattern(World& w, uint32_t seed) {
  FillPixels(w, Lcg{seed}, [](A_long x, A_long y, uint32_t s) {
    return PF_Pixel{Byte(s, 24), Byte(s, 16), Byte(s, 8), uint8_t(x * 37 + y * 11)};
  });
}

ParamValue Colour(uint8_t a, uint8_t r, uint8_t g, uint8_t b) {
  ParamValue v;
  v.color = PF_Pixel{a, r, g, b};
  return v;
}

ParamValue Blend(A_long b) {
  ParamValue v;
  v.value = b;
  return v;
}

// The expected output pixel for input `in`, colour `c` and blend b < 0x10000.
PF_Pixel Expected(const PF_Pixel& in, const PF_Pixel& c, int64_t b) {
  auto mix = [b](int original, int colour) { return uint8_t((original * b + colour * (65536 - b)) / 65536); };
  return PF_Pixel{in.alpha, mix(in.red, c.red), mix(in.green, c.green), mix(in.blue, c.blue)};
}

::testing::AssertionResult MatchesFormula(const World& in, const World& out, const PF_Pixel& c, int64_t b) {
  for (A_long y = 0; y < in.height(); ++y) {
    for (A_long x = 0; x < in.width(); ++x) {
      const PF_Pixel e = Expected(in.At(x, y), c, b);
      const PF_Pixel& o = out.At(x, y);
      if (o.alpha != e.alpha || o.red != e.red || o.green != e.green || o.blue != e.blue)
        return ::testing::AssertionFailure()
               << "pixel (" << x << ", " << y << "): got " << int(o.alpha) << "," << int(o.red) << "," << int(o.green)
               << "," << int(o.blue) << " expected " << int(e.alpha) << "," << int(e.red) << "," << int(e.green) << ","
               << int(e.blue);
    }
  }
  // Row padding is not part of the image and stays as the host made it.
  for (A_long y = 0; y < out.height(); ++y) {
    const uint8_t* row = reinterpret_cast<const uint8_t*>(out.Row(y));
    for (A_long i = 4 * out.width(); i < out.rowbytes(); ++i)
      if (row[i] != 0) return ::testing::AssertionFailure() << "padding written in row " << y;
  }
  return ::testing::AssertionSuccess();
}

struct Fixture {
  Host host;
  Effect effect{host, TestPlugin("flatwash.aex")};
};

TEST(FlatwashRender, RegistersColourAndBlend) {
  Fixture f;
  EXPECT_EQ(f.effect.num_params(), 3);
  EXPECT_EQ(f.effect.my_version(), 0x80600u);
  EXPECT_EQ(f.effect.global_out_flags(), 0);
  ASSERT_EQ(f.effect.params().size(), 3u);
  EXPECT_EQ(f.effect.FindParam("Color"), kColourParam);
  EXPECT_EQ(f.effect.FindParam("Blend With Original"), kBlendParam);
}

TEST(FlatwashRender, PureAndBlendedColourOverSizesAndPadding) {
  Fixture f;
  struct Size {
    A_long w, h, pad;
  };
  const Size sizes[] = {{1, 1, 0}, {7, 5, 0}, {7, 5, 12}, {33, 3, 4}, {64, 17, 64}};
  const PF_Pixel colours[] = {{255, 255, 255, 255}, {0, 12, 200, 99}, {128, 0, 0, 0}};
  for (const Size& s : sizes) {
    for (const PF_Pixel& c : colours) {
      for (int64_t b : {0, 1, 0x4000, 0x8000, 0xC001, 0xFFFF}) {
        SCOPED_TRACE(::testing::Message()
                     << s.w << "x" << s.h << " pad " << s.pad << " colour alpha " << int(c.alpha) << " blend " << b);
        Instance inst(f.effect, TimeBase{}, s.w, s.h);
        inst.SetValue(kColourParam, Colour(c.alpha, c.red, c.green, c.blue));
        inst.SetValue(kBlendParam, Blend(A_long(b)));
        World in(s.w, s.h, s.pad), out(s.w, s.h, s.pad);
        FillPattern(in, uint32_t(s.w * 131 + b));
        const ombrix::CommandResult r = inst.RenderFrame(0, in.pf(), out.pf());
        ASSERT_EQ(r.err, PF_Err_NONE);
        EXPECT_EQ(r.out_flags & PF_OutFlag_NOP_RENDER, 0);
        ASSERT_TRUE(MatchesFormula(in, out, c, b));
      }
    }
  }
}

TEST(FlatwashRender, FullBlendIsANoOpRender) {
  Fixture f;
  Instance inst(f.effect, TimeBase{}, 9, 4);
  inst.SetValue(kColourParam, Colour(255, 1, 2, 3));
  inst.SetValue(kBlendParam, Blend(0x10000));
  World in(9, 4, 8), out(9, 4, 8);
  FillPattern(in, 7);
  const ombrix::CommandResult r = inst.RenderFrame(0, in.pf(), out.pf());
  ASSERT_EQ(r.err, PF_Err_NONE);
  EXPECT_NE(r.out_flags & PF_OutFlag_NOP_RENDER, 0);
  EXPECT_TRUE(ombrix::SamePixels(in.pf(), out.pf()));
}

// RENDER sent at 100 % although FRAME_SETUP asked to skip it: a host copy.
TEST(FlatwashRender, FullBlendRenderCopiesTheInput) {
  Fixture f;
  World in(11, 7, 20), out(11, 7, 20);
  FillPattern(in, 5);
  std::vector<PF_ParamDef> defs = f.effect.params();
  defs[0].u.ld = in.pf();
  defs[kColourParam].u.cd.value = PF_Pixel{255, 9, 9, 9};
  defs[kBlendParam].u.fd.value = 0x10000;
  PF_ParamDef* params[3] = {&defs[0], &defs[1], &defs[2]};
  PF_InData in_data = f.effect.BaseInData();
  PF_OutData out_data{};
  ASSERT_EQ(f.effect.Send(PF_Cmd_RENDER, in_data, out_data, params, &out.pf(), nullptr), PF_Err_NONE);
  EXPECT_TRUE(ombrix::SamePixels(in.pf(), out.pf()));

  // A failing copy is returned unchanged.
  f.host.failures().Arm("copy", 1, PF_Err_INTERNAL_STRUCT_DAMAGED);
  in_data = f.effect.BaseInData();
  EXPECT_EQ(f.effect.Send(PF_Cmd_RENDER, in_data, out_data, params, &out.pf(), nullptr),
            PF_Err_INTERNAL_STRUCT_DAMAGED);
}

TEST(FlatwashRender, ColourAlphaPlaysNoPart) {
  Fixture f;
  World in(13, 6, 4);
  FillPattern(in, 99);
  World outs[2] = {World(13, 6, 4), World(13, 6, 4)};
  const uint8_t alphas[2] = {255, 3};
  for (int i = 0; i < 2; ++i) {
    Instance inst(f.effect, TimeBase{}, 13, 6);
    inst.SetValue(kColourParam, Colour(alphas[i], 90, 180, 45));
    inst.SetValue(kBlendParam, Blend(0x5000));
    ASSERT_EQ(inst.RenderFrame(0, in.pf(), outs[i].pf()).err, PF_Err_NONE);
  }
  EXPECT_TRUE(ombrix::SamePixels(outs[0].pf(), outs[1].pf()));
}

TEST(FlatwashRender, ReducedBufferAtHalfResolution) {
  Fixture f;
  // A 15x9 layer at 1/2 is a buffer of ceil(7.5) x ceil(4.5) = 8x5.
  Instance inst(f.effect, TimeBase{}, 15, 9);
  inst.SetValue(kColourParam, Colour(255, 250, 5, 128));
  inst.SetValue(kBlendParam, Blend(0x3000));
  ombrix::RenderSettings half;
  half.downsample_x = PF_RationalScale{1, 2};
  half.downsample_y = PF_RationalScale{1, 2};
  World in(8, 5, 4), out(8, 5, 4);
  FillPattern(in, 3);
  ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf(), half).err, PF_Err_NONE);
  EXPECT_TRUE(MatchesFormula(in, out, PF_Pixel{255, 250, 5, 128}, 0x3000));
}

TEST(FlatwashRender, KeyedBlendReachingFullSkipsOnlyThatFrame) {
  Fixture f;
  const TimeBase tb;  // 24 fps: 100 ticks a frame
  Instance inst(f.effect, tb, 6, 4);
  inst.SetValue(kColourParam, Colour(255, 0, 64, 255));
  inst.AddKey(kBlendParam, tb.FrameToTicks(0), Blend(0));
  inst.AddKey(kBlendParam, tb.FrameToTicks(2), Blend(0x10000));
  inst.AddKey(kBlendParam, tb.FrameToTicks(4), Blend(0));
  World in(6, 4, 0);
  FillPattern(in, 11);
  const int64_t blend_at[5] = {0, 0x8000, 0x10000, 0x8000, 0};
  for (int frame = 0; frame < 5; ++frame) {
    SCOPED_TRACE(frame);
    World out(6, 4, 0);
    const ombrix::CommandResult r = inst.RenderFrame(tb.FrameToTicks(frame), in.pf(), out.pf());
    ASSERT_EQ(r.err, PF_Err_NONE);
    if (blend_at[frame] == 0x10000) {
      EXPECT_NE(r.out_flags & PF_OutFlag_NOP_RENDER, 0);
      EXPECT_TRUE(ombrix::SamePixels(in.pf(), out.pf()));
    } else {
      EXPECT_EQ(r.out_flags & PF_OutFlag_NOP_RENDER, 0);
      EXPECT_TRUE(MatchesFormula(in, out, PF_Pixel{255, 0, 64, 255}, blend_at[frame]));
    }
  }
}

TEST(FlatwashRender, IterateFailureIsReturnedUnchanged) {
  Fixture f;
  Instance inst(f.effect, TimeBase{}, 5, 5);
  inst.SetValue(kBlendParam, Blend(0x8000));
  World in(5, 5), out(5, 5);
  f.host.failures().Arm("iterate", 1, PF_Err_OUT_OF_MEMORY);
  EXPECT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_OUT_OF_MEMORY);
}

}  // namespace
