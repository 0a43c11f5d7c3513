// Whole renders of the effects that sample their input at computed positions
// (Lenswarp, Magnify, Swirlshift, Lampcast), with the host's samplers in
// their fast forms on 1, 2 and 3 threads against one render with the plain
// forms: the bytes must not differ, on odd sizes, padded rows and
// downsampled renders.
#include <ombrix/host/host.h>
#include <ombrix/host/pixel_ops.h>

#include "effects/common/effect_test.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

using namespace effect_test;
using ombrix::Instance;
using ombrix::World;

struct Case {
  const char* name;
  const char* plugin;
  std::function<void(Instance&)> values;
};

ombrix::ParamValue Fix(double v) { return Scalar(A_long(v * 65536)); }

// The plain forms for the scope of one render.
struct PlainSamplers {
  PlainSamplers() { ombrix::SetReferenceSampling(true); }
  ~PlainSamplers() { ombrix::SetReferenceSampling(false); }
};

TEST(SamplerRenders, FastSamplersRenderThePlainFormsBytes) {
  const Case cases[] = {
      // Lenswarp: field of view, Reverse, orientation, centre, Optimal Pixels.
      {"lenswarp forward", "lenswarp.aex",
       [](Instance& i) {
         i.SetValue(1, Fix(120));
         i.SetValue(3, Scalar(3));
       }},
      {"lenswarp reverse", "lenswarp.aex",
       [](Instance& i) {
         i.SetValue(1, Fix(100));
         i.SetValue(2, Scalar(1));
         i.SetValue(5, Scalar(1));
       }},
      // Magnify: radius, magnification, feather; Softer Scaling off.
      {"magnify", "magnify.aex",
       [](Instance& i) {
         i.SetValue(2, Fix(25));
         i.SetValue(3, Fix(230));
         i.SetValue(4, Fix(6));
       }},
      // Swirlshift: type, amount, scale; antialiasing Low (bilinear) or High (area).
      {"swirlshift bulge low", "swirlshift.aex", [](Instance& i) { i.SetValue(1, Scalar(2)); }},
      {"swirlshift turbulent high", "swirlshift.aex",
       [](Instance& i) {
         i.SetValue(1, Scalar(5));
         i.SetValue(2, Fix(4));
         i.SetValue(3, Fix(20));
         i.SetValue(7, Scalar(2));
       }},
      {"lampcast", "lampcast.aex", [](Instance& i) { i.SetValue(4, Fix(20)); }},
  };
  struct Frame {
    A_long w, h, pad;
    A_u_long downsample;
  };
  const Frame frames[] = {{97, 61, 0, 1}, {131, 77, 12, 1}, {131, 77, 4, 2}, {101, 89, 8, 3}};
  for (const Case& s : cases) {
    EffectFixture f(s.plugin);
    for (const Frame& fr : frames) {
      SCOPED_TRACE(testing::Message() << s.name << " " << fr.w << "x" << fr.h << " pad " << fr.pad << " at 1/"
                                      << fr.downsample);
      World in(fr.w, fr.h);
      RandomPixels(in, uint32_t(fr.w * 31 + fr.h));
      Instance inst(f.effect, ombrix::TimeBase{}, fr.w, fr.h);
      s.values(inst);
      const ombrix::RenderSettings settings = Downsampled(fr.downsample);
      const ombrix::BufferSize size = inst.BufferSizeAt(settings);
      World plain(size.width, size.height, fr.pad);
      f.host.SetThreads(1);
      {
        PlainSamplers on;
        ASSERT_EQ(inst.RenderFrame(0, in.pf(), plain.pf(), settings).err, PF_Err_NONE);
      }
      ASSERT_FALSE(ombrix::SamePixels(plain.pf(), World(size.width, size.height, fr.pad).pf())) << "renders nothing";
      for (int threads : {1, 2, 3}) {
        f.host.SetThreads(threads);
        World out(size.width, size.height, fr.pad);
        ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf(), settings).err, PF_Err_NONE);
        EXPECT_TRUE(ombrix::SamePixels(plain.pf(), out.pf())) << threads << " threads";
      }
    }
  }
}

}  // namespace
