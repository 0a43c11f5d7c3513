// Worlds, pixel comparison, time units and failure injection.
#include <gtest/gtest.h>
#include <ombrix/host/host.h>

#include <cstring>

namespace ombrix {
namespace {

const uint8_t* Bytes(const World& w) { return reinterpret_cast<const uint8_t*>(w.pf().data); }

TEST(World, NewWorldIsTransparentBlackIncludingPadding) {
  World w(5, 3, 12);
  EXPECT_EQ(w.rowbytes(), 5 * 4 + 12);
  EXPECT_EQ(w.pf().extent_hint.right, 5);
  EXPECT_EQ(w.pf().extent_hint.bottom, 3);
  for (int i = 0; i < w.rowbytes() * 3; ++i) ASSERT_EQ(Bytes(w)[i], 0) << "byte " << i;
}

TEST(World, CopyIsDeepAndKeepsLayout) {
  World a(4, 2, 4);
  a.At(3, 1) = PF_Pixel{1, 2, 3, 4};
  World b(a);
  a.At(3, 1).red = 99;
  EXPECT_EQ(b.rowbytes(), a.rowbytes());
  EXPECT_EQ(b.At(3, 1).red, 2);
  World c;
  c = std::move(b);
  EXPECT_TRUE(b.empty());
  EXPECT_EQ(c.At(3, 1).blue, 4);
}

TEST(World, SamePixelsIgnoresPaddingOnly) {
  World tight(3, 2), padded(3, 2, 8);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) tight.At(x, y) = padded.At(x, y) = PF_Pixel{uint8_t(x), uint8_t(y), 7, 9};
  std::memset(reinterpret_cast<uint8_t*>(padded.Row(0)) + 12, 0xAB, 8);  // padding differs
  EXPECT_TRUE(SamePixels(tight.pf(), padded.pf()));
  padded.At(2, 1).green = 8;
  EXPECT_FALSE(SamePixels(tight.pf(), padded.pf()));
  EXPECT_FALSE(SamePixels(tight.pf(), World(2, 3).pf()));
}

TEST(Time, ScalesAndStepsForCommonRates) {
  struct Case {
    const char* text;
    A_u_long scale;
    A_long step;
  };
  for (const Case& c :
       {Case{"24", 2400, 100}, Case{"25", 2500, 100}, Case{"24000/1001", 24000, 1001}, Case{"30000/1001", 30000, 1001},
        Case{"24/1", 24, 1}, Case{"23.976", 24000, 1001}, Case{"29.97", 30000, 1001}, Case{"59.94", 60000, 1001}}) {
    TimeBase t = TimeBase::ForRate(FrameRate::Parse(c.text));
    EXPECT_EQ(t.time_scale, c.scale) << c.text;
    EXPECT_EQ(t.time_step, c.step) << c.text;
  }
  EXPECT_EQ(TimeBase{}.time_scale, 2400u);  // default 24 fps
}

TEST(Time, SecondsRoundHalvesUpAndFramesAreWholeSteps) {
  TimeBase t24 = TimeBase::ForRate({24, 1});
  EXPECT_EQ(t24.SecondsToTicks(1.5), 3600);
  EXPECT_EQ(t24.FrameToTicks(7), 700);
  TimeBase ntsc = TimeBase::ForRate({24000, 1001});
  EXPECT_EQ(ntsc.SecondsToTicks(1.0), 24000);
  EXPECT_EQ(ntsc.FrameToTicks(3), 3003);
  // One frame per second at two ticks per second: quarter seconds land on halves.
  TimeBase half = TimeBase::ForRate({1, 1}, 2);
  EXPECT_EQ(half.time_step, 2);
  EXPECT_EQ(half.SecondsToTicks(0.25), 1);
  EXPECT_EQ(half.SecondsToTicks(1.75), 4);
  EXPECT_EQ(half.SecondsToTicks(-0.25), 0);
  EXPECT_EQ(half.SecondsToTicks(-0.75), -1);
}

TEST(Time, RejectsBadRatesAndScales) {
  for (const char* bad : {"", "0", "-24", "24/0", "x", "24/", "/1001", "24.5"})
    EXPECT_THROW(FrameRate::Parse(bad), HostError) << bad;
  // Other decimals name the ratio they stand for.
  for (auto [bad, ratio] : {std::pair{"12.5", "25/2"}, std::pair{"23.98", "1199/50"}, std::pair{"30.0", "30/1"}}) {
    try {
      FrameRate::Parse(bad);
      ADD_FAILURE() << bad;
    } catch (const HostError& e) {
      EXPECT_NE(std::string(e.what()).find(ratio), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(TimeBase::ForRate({24, 1}, 1000), HostError);  // 1000/24 ticks per frame
  EXPECT_EQ(TimeBase::ForRate({24, 1}, 4800).time_step, 200);
}

TEST(FailureInjector, FailsTheNthCallCountedFromArming) {
  FailureInjector f;
  EXPECT_EQ(f.Check("copy"), 0);
  f.Arm("copy", 2, 1234);
  EXPECT_EQ(f.Check("copy"), 0);
  EXPECT_EQ(f.Check("fill"), 0);
  EXPECT_EQ(f.Check("copy"), 1234);
  EXPECT_EQ(f.Check("copy"), 0);
  EXPECT_EQ(f.Calls("copy"), 4);
  f.Clear();
  EXPECT_EQ(f.Calls("copy"), 0);
  EXPECT_THROW(f.Arm("no_such_service", 1, 1), HostError);
  EXPECT_THROW(f.Arm("copy", 0, 1), HostError);
}

}  // namespace
}  // namespace ombrix
