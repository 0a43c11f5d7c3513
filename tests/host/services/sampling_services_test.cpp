// subpixel_sample, area_sample and the HLS conversion as a plug-in calls
// them: inside iterate, on padded worlds, on any number of threads.
#include <ombrix/host/pixel_ops.h>
#include <ombrix/host/smooth.h>
#include <ombrix/platform/headless.h>

#include <cstring>

#include "host/services/services_fixture.h"

namespace ombrix::svctest {
namespace {

using namespace svcprobe;

using SamplingServices = ServicesProbe;

World RenderMode(Instance& inst, World& input, Mode mode) {
  World out(input.width(), input.height(), 12);
  inst.SetValue(kMode, Val(mode));
  const CommandResult r = inst.RenderFrame(0, input.pf(), out.pf());
  EXPECT_EQ(r.err, PF_Err_NONE) << r.message;
  return out;
}

TEST_F(SamplingServices, SubpixelSampleServesTheSampler) {
  World input(23, 17, 8);
  Randomize(input, 11);
  Instance inst(effect, TimeBase{}, 23, 17);
  const PF_Fixed shifts[][2] = {{0, 0}, {0x8000, 0x8000}, {-0x18000, 0x4000}, {0x3FFF, -0x2C001}, {20 << 16, 0}};
  for (int threads : {1, 3}) {
    host.SetThreads(threads);
    for (const auto& s : shifts) {
      inst.SetValue(kShiftX, Val(s[0]));
      inst.SetValue(kShiftY, Val(s[1]));
      World out = RenderMode(inst, input, kSubpixel);
      for (A_long y = 0; y < 17; ++y)
        for (A_long x = 0; x < 23; ++x) {
          const PF_Pixel want = SubpixelSample(input.pf(), x * 0x10000 + s[0], y * 0x10000 + s[1]);
          ASSERT_TRUE(Same(out.At(x, y), want)) << x << "," << y << " shift " << s[0] << "," << s[1] << ": "
                                                << Text(out.At(x, y)) << " want " << Text(want);
        }
    }
  }
}

TEST_F(SamplingServices, HalfwayBetweenOpaqueAndTransparentKeepsTheColour) {
  // Worked from the formula: weights 1/2, A = 127.5 gives alpha 128, and the
  // colour is 127.5 x 200 / 127.5 = 200, not darkened by the empty pixel.
  World input(2, 1);
  input.At(0, 0) = PF_Pixel{255, 200, 60, 7};
  input.At(1, 0) = PF_Pixel{0, 10, 250, 99};
  Instance inst(effect, TimeBase{}, 2, 1);
  inst.SetValue(kShiftX, Val(0x8000));
  World out = RenderMode(inst, input, kSubpixel);
  EXPECT_TRUE(Same(out.At(0, 0), PF_Pixel{128, 200, 60, 7})) << Text(out.At(0, 0));
  // Half a pixel right of the last pixel: A = 0 gives all four bytes 0.
  EXPECT_TRUE(Same(out.At(1, 0), PF_Pixel{0, 0, 0, 0})) << Text(out.At(1, 0));
}

TEST_F(SamplingServices, AreaSampleServesTheBoxWithTheRecordsRadii) {
  World input(19, 13, 4);
  Randomize(input, 12);
  Instance inst(effect, TimeBase{}, 19, 13);
  const PF_Fixed radii[][2] = {{0x4000, 0x4000}, {0x8000, 0x18000}, {0x28000, 0x10000}, {0x60000, 0x3000}};
  host.SetThreads(2);
  for (const auto& r : radii) {
    inst.SetValue(kRadiusX, Val(r[0]));
    inst.SetValue(kRadiusY, Val(r[1]));
    inst.SetValue(kShiftX, Val(0x6000));
    inst.SetValue(kShiftY, Val(-0x9000));
    World out = RenderMode(inst, input, kArea);
    for (A_long y = 0; y < 13; ++y)
      for (A_long x = 0; x < 19; ++x) {
        const PF_Pixel want = AreaSample(input.pf(), x * 0x10000 + 0x6000, y * 0x10000 - 0x9000, r[0], r[1]);
        ASSERT_TRUE(Same(out.At(x, y), want)) << x << "," << y << " radii " << r[0] << "," << r[1];
      }
  }
}

TEST_F(SamplingServices, HlsServicesRoundTripAndTurnTheHue) {
  World input(64, 32);
  Randomize(input, 13);
  input.At(0, 0) = PF_Pixel{255, 255, 0, 0};    // red
  input.At(1, 0) = PF_Pixel{255, 255, 128, 0};  // orange, hue 60 x 128 / 255
  Instance inst(effect, TimeBase{}, 64, 32);
  World same = RenderMode(inst, input, kHueShift);
  EXPECT_TRUE(SamePixels(same.pf(), input.pf()));  // every colour comes back, alpha kept

  inst.SetValue(kShiftX, Val(120 << 16));
  World turned = RenderMode(inst, input, kHueShift);
  // Red turns to green; orange (L 0.5, S 1) to hue 150.1: green full, blue
  // 255 x 30.1 / 60 = 128.
  EXPECT_TRUE(Same(turned.At(0, 0), PF_Pixel{255, 0, 255, 0})) << Text(turned.At(0, 0));
  EXPECT_TRUE(Same(turned.At(1, 0), PF_Pixel{255, 0, 255, 128})) << Text(turned.At(1, 0));
  for (A_long y = 0; y < 32; ++y)
    for (A_long x = 0; x < 64; ++x) {
      PF_Fixed hls[3];
      RgbToHls(input.At(x, y), hls);
      hls[0] += 120 << 16;
      PF_Pixel want = input.At(x, y);
      HlsToRgb(hls, want);
      ASSERT_TRUE(Same(turned.At(x, y), want)) << x << "," << y;
    }
}

TEST_F(SamplingServices, InjectedFailuresComeBackFromInsideIterate) {
  World input(20, 40);
  Instance inst(effect, TimeBase{}, 20, 40);
  World out(20, 40);
  host.SetThreads(3);
  const std::pair<Mode, const char*> cases[] = {
      {kSubpixel, "subpixel_sample"}, {kArea, "area_sample"}, {kHueShift, "RGBtoHLS"}, {kHueShift, "HLStoRGB"}};
  for (const auto& [mode, service] : cases) {
    inst.SetValue(kMode, Val(mode));
    host.failures().Arm(service, 500, 4242);
    EXPECT_EQ(inst.RenderFrame(0, input.pf(), out.pf()).err, 4242) << service;
    host.failures().Clear();
  }
}

TEST_F(SamplingServices, ServicesAnswerWhatTheirMathsGiveInsideThePlugin) {
  // Each per-pixel service called through the host's table gives the bytes
  // of the same maths called directly in the plug-in, on one thread and
  // several, so the bookkeeping around a call changes nothing.
  World input(37, 29, 12);
  Randomize(input, 5);
  const std::pair<Mode, Mode> pairs[] = {
      {kSubpixel, kSubpixelInPlugin}, {kArea, kAreaInPlugin}, {kHueShift, kHueShiftInPlugin}};
  for (int threads : {1, 3}) {
    host.SetThreads(threads);
    for (const auto& [through_host, in_plugin] : pairs) {
      SCOPED_TRACE(testing::Message() << "mode " << through_host << " on " << threads << " threads");
      Instance inst(effect, TimeBase{}, 37, 29);
      inst.SetValue(kShiftX, Val(0x6000));
      inst.SetValue(kShiftY, Val(-0x2800));
      inst.SetValue(kRadiusX, Val(0x14000));
      inst.SetValue(kRadiusY, Val(0x9000));
      World served(37, 29), direct(37, 29);
      inst.SetValue(kMode, Val(through_host));
      ASSERT_EQ(inst.RenderFrame(0, input.pf(), served.pf()).err, PF_Err_NONE);
      inst.SetValue(kMode, Val(in_plugin));
      ASSERT_EQ(inst.RenderFrame(0, input.pf(), direct.pf()).err, PF_Err_NONE);
      for (A_long y = 0; y < 29; ++y) ASSERT_EQ(0, std::memcmp(served.Row(y), direct.Row(y), 37 * 4)) << "row " << y;
    }
  }
}

TEST_F(SamplingServices, SmoothingThroughTheHostEqualsThePlainFormOnAnyThreadCount) {
  // The routine -2 a plug-in gets, run on the host's pool at its thread
  // setting, against the one-lane reference form on this thread.
  World input(61, 37, 8);
  Randomize(input, 9);
  World want(61, 37);
  for (A_long y = 0; y < 37; ++y) std::memcpy(want.Row(y), input.Row(y), 61 * 4);
  SmoothWorldReference(want.pf(), 7.5, kSmoothColorAlpha);
  for (int threads : {1, 2, 3}) {
    host.SetThreads(threads);
    Instance inst(effect, TimeBase{}, 61, 37);
    inst.SetValue(kMode, Val(kSmooth));
    inst.SetValue(kRadiusX, Val(0x78000));  // 7.5
    World out(61, 37, 4);
    ASSERT_EQ(inst.RenderFrame(0, input.pf(), out.pf()).err, PF_Err_NONE);
    for (A_long y = 0; y < 37; ++y)
      ASSERT_EQ(0, std::memcmp(out.Row(y), want.Row(y), 61 * 4)) << "row " << y << " on " << threads << " threads";
  }
}

TEST_F(SamplingServices, PlatformDataAnswersTheMainWindowAndOnlyRoutineMinusTwoIsOffered) {
  PF_InData in = effect.BaseInData();
  void* wnd = nullptr;
  ASSERT_EQ(in.utils->get_platform_data(in.effect_ref, PF_PlatData_MAIN_WND, &wnd), PF_Err_NONE);
  EXPECT_NE(wnd, nullptr);
  EXPECT_EQ(wnd, static_cast<void*>(platform::MainWindow()));
  void* fn = nullptr;
  EXPECT_EQ(in.utils->get_callback_addr(in.effect_ref, PF_Quality_HI, 1, PF_Callback_SMOOTH, &fn), PF_Err_NONE);
  EXPECT_NE(fn, nullptr);
  fn = &fn;
  EXPECT_EQ(in.utils->get_callback_addr(in.effect_ref, PF_Quality_HI, 1, -3, &fn), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(fn, nullptr);
}

}  // namespace
}  // namespace ombrix::svctest
