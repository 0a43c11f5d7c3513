// Hueswap through the host: registration, the pass-through cases, the short
// way round the hue circle, the mask's grey levels, and every output byte
// of padded frames against the selection and colour rules evaluated here
// on the host's HLS conversion.
#include <ombrix/host/host.h>
#include <ombrix/host/pixel_ops.h>

#include "effects/common/effect_test.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
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

enum { kFrom = 1, kTo, kChange, kChangeBy, kHueTol, kLightTol, kSatTol, kSoftness, kViewMask };

ombrix::HostOptions WithThreads(int threads) {
  ombrix::HostOptions options;
  options.threads = threads;
  return options;
}

struct Fixture {
  Host host;
  Effect effect{host, TestPlugin("hueswap.aex")};
  Fixture() = default;
  explicit Fixture(int threads) : host(WithThreads(threads)) {}
};

// The parameters of one render, as raw values.
struct Values {
  PF_Pixel from{255, 255, 255, 255};
  PF_Pixel to{255, 255, 255, 255};
  int change = 1;
  int change_by = 1;
  A_long hue_tol = 0x199A, light_tol = 0x10000, sat_tol = 0x10000;
  A_long softness = 0x8000;
  bool mask = false;
};

void Apply(Instance& inst, const Values& v) {
  inst.SetValue(kFrom, Colour(v.from));
  inst.SetValue(kTo, Colour(v.to));
  inst.SetValue(kChange, Scalar(v.change));
  inst.SetValue(kChangeBy, Scalar(v.change_by));
  inst.SetValue(kHueTol, Scalar(v.hue_tol));
  inst.SetValue(kLightTol, Scalar(v.light_tol));
  inst.SetValue(kSatTol, Scalar(v.sat_tol));
  inst.SetValue(kSoftness, Scalar(v.softness));
  inst.SetValue(kViewMask, Scalar(v.mask ? 1 : 0));
}

// The selection rule and both views, written out from the effect's
// description, on the host's conversions.
struct Reference {
  Values v;
  PF_Fixed from[3], to[3];
  PF_Fixed dh, dl, ds;
  double f;

  explicit Reference(const Values& values) : v(values) {
    ombrix::RgbToHls(v.from, from);
    ombrix::RgbToHls(v.to, to);
    dh = to[0] - from[0];
    if (dh > 180 * 65536) dh -= 360 * 65536;
    if (dh < -180 * 65536) dh += 360 * 65536;
    dl = to[1] - from[1];
    ds = to[2] - from[2];
    f = 65536.0 / (v.softness + 1.0);
  }

  double Distance(const PF_Fixed hls[3]) const {
    int64_t h = std::llabs(int64_t(from[0]) - hls[0]);
    if (h > 180 * 65536) h = 360 * 65536 - h;
    return double(h) / (190.0 * v.hue_tol) + std::llabs(int64_t(from[2]) - hls[2]) * (0.125 / v.sat_tol) +
           std::llabs(int64_t(from[1]) - hls[1]) * (0.125 / v.light_tol);
  }

  static PF_Fixed Unit(double x) { return PF_Fixed(std::min(65536.0, std::max(0.0, std::trunc(x)))); }

  PF_Pixel Pixel(const PF_Pixel& in) const {
    const bool nothing = v.hue_tol == 0 || v.light_tol == 0 || v.sat_tol == 0 || (dh == 0 && dl == 0 && ds == 0);
    if (nothing) return v.mask ? PF_Pixel{255, 0, 0, 0} : in;
    if (in.alpha == 0) return in;
    PF_Fixed hls[3];
    ombrix::RgbToHls(in, hls);
    const double g = Distance(hls);
    if (v.mask) {
      if (g > 1) return PF_Pixel{255, 0, 0, 0};
      const double grey = 255.0 * f * (1 - g);
      const uint8_t c = grey >= 255 ? 255 : (grey > 0 ? uint8_t(grey) : 0);
      return PF_Pixel{in.alpha, c, c, c};
    }
    if (g >= 1) return in;
    const double m = std::min(1.0, std::max(0.0, f * (1 - g)));
    const bool light = v.change == 2 || v.change == 4;
    const bool sat = v.change == 3 || v.change == 4;
    PF_Fixed out[3];
    if (v.change_by == 2) {
      out[0] = PF_Fixed(std::trunc(dh * m + hls[0]));
      out[1] = light ? Unit(m * dl + hls[1]) : hls[1];
      out[2] = sat ? Unit(m * ds + hls[2]) : hls[2];
    } else {
      out[0] = to[0];
      out[1] = light ? to[1] : hls[1];
      out[2] = sat ? to[2] : hls[2];
    }
    PF_Pixel p = in;
    ombrix::HlsToRgb(out, p);
    if (m < 1) {
      p.red = uint8_t((p.red - in.red) * m + in.red);
      p.green = uint8_t((p.green - in.green) * m + in.green);
      p.blue = uint8_t((p.blue - in.blue) * m + in.blue);
    }
    return p;
  }
};

// Colours spread around the hue circle and in lightness, a transparent
// pixel every few with colour bytes under it, and some exact copies of
// `near` so that the selection is never empty.
void FillPattern(World& w, uint32_t seed, PF_Pixel near) {
  FillPixels(w, Lcg{seed}, [near](A_long x, A_long y, uint32_t s) {
    PF_Pixel p{((x + 3 * y) % 7 == 0) ? uint8_t(0) : uint8_t(1 + (s >> 24) % 255), Byte(s, 16), Byte(s, 8), Byte(s, 3)};
    if ((x + y) % 4 == 1) {  // close to the chosen colour
      p.red = uint8_t(std::min(255, near.red + int(s >> 29)));
      p.green = uint8_t(std::max(0, near.green - int((s >> 26) & 7)));
      p.blue = uint8_t(std::min(255, near.blue + int((s >> 22) & 15)));
    }
    if ((x * 5 + y) % 11 == 3) p.red = near.red, p.green = near.green, p.blue = near.blue;
    return p;
  });
}

// Renders `in` with `v` and compares every pixel with the reference.
::testing::AssertionResult MatchesReference(Fixture& f, const Values& v, World& in, A_long pad,
                                            int* changed = nullptr) {
  Instance inst(f.effect, TimeBase{}, in.width(), in.height());
  Apply(inst, v);
  World out(in.width(), in.height(), pad);
  const ombrix::CommandResult r = inst.RenderFrame(0, in.pf(), out.pf());
  if (r.err != PF_Err_NONE) return ::testing::AssertionFailure() << "render failed: " << r.err;
  const Reference ref(v);
  int differ = 0;
  for (A_long y = 0; y < in.height(); ++y) {
    for (A_long x = 0; x < in.width(); ++x) {
      const PF_Pixel e = ref.Pixel(in.At(x, y));
      if (!Same(e, out.At(x, y)))
        return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") from " << Show(in.At(x, y))
                                             << ": got " << Show(out.At(x, y)) << " expected " << Show(e);
      differ += Same(e, in.At(x, y)) ? 0 : 1;
    }
  }
  if (changed != nullptr) *changed = differ;
  return PaddingUntouched(out);
}

PF_Pixel RenderOne(Fixture& f, const Values& v, PF_Pixel in_pixel) {
  Instance inst(f.effect, TimeBase{}, 1, 1);
  Apply(inst, v);
  World in(1, 1, 8), out(1, 1, 8);
  in.At(0, 0) = in_pixel;
  EXPECT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
  return out.At(0, 0);
}

constexpr A_long kW = 29, kH = 17, kPad = 20;
constexpr PF_Pixel kRed{255, 255, 0, 0};
constexpr PF_Pixel kBlue{255, 0, 0, 255};
constexpr PF_Pixel kOrange{255, 230, 120, 30};

// ---------------------------------------------------------------------------

TEST(HueswapRender, Registration) {
  Fixture f;
  EXPECT_EQ(f.effect.num_params(), 10);
  EXPECT_EQ(f.effect.file().pipl.display_name, "OB Hueswap");
  EXPECT_EQ(f.effect.file().pipl.match_name, "obx Hueswap");
  EXPECT_EQ(f.effect.file().pipl.global_flags, 0u);
  const auto& p = f.effect.params();
  ASSERT_EQ(p.size(), 10u);
  const char* names[] = {
      "From",     "To", "Change...", "Change By...", "Hue Tolerance", "Lightness Tolerance", "Saturation Tolerance",
      "Softness", " "};
  for (int i = 0; i < 9; ++i) EXPECT_STREQ(p[i + 1].name, names[i]);
  EXPECT_EQ(f.effect.PopupItems(kChange),
            (std::vector<std::string>{"Hue", "Hue & Lightness", "Hue & Saturation", "All Channels"}));
  EXPECT_EQ(f.effect.PopupItems(kChangeBy), (std::vector<std::string>{"Setting To Color", "Transforming To Color"}));
  EXPECT_EQ(f.effect.CheckboxLabel(kViewMask), "View Mask");
  EXPECT_TRUE(Same(p[kFrom].u.cd.dephault, PF_Pixel{255, 255, 255, 255}));
  struct Slider {
    int index;
    A_long def, vmax, smax, flags;
  };
  const Slider sliders[] = {{kHueTol, 0x199A, 0x20000, 0x10000, 0},
                            {kLightTol, 0x10000, 0x20000, 0x10000, 0x20},
                            {kSatTol, 0x10000, 0x20000, 0x10000, 0x20},
                            {kSoftness, 0x8000, 0x10000, 0x10000, 0}};
  for (const Slider& s : sliders) {
    const PF_FixedSliderDef& d = p[s.index].u.fd;
    EXPECT_EQ(d.dephault, s.def) << s.index;
    EXPECT_EQ(d.valid_min, 0) << s.index;
    EXPECT_EQ(d.valid_max, s.vmax) << s.index;
    EXPECT_EQ(d.slider_max, s.smax) << s.index;
    EXPECT_EQ(d.precision, 1) << s.index;
    EXPECT_EQ(d.display_flags, 1) << s.index;
    EXPECT_EQ(p[s.index].flags, s.flags) << s.index;
  }
}

// From = To (the defaults), or any tolerance 0: the colour view is an exact
// copy, the mask view opaque black everywhere, transparent pixels included.
TEST(HueswapRender, NothingSelectedCopiesOrShowsBlack) {
  Fixture f;
  Values same;  // white to white
  Values red_to_blue;
  red_to_blue.from = kRed;
  red_to_blue.to = kBlue;
  std::vector<Values> cases = {same};
  for (int which = 0; which < 3; ++which) {
    Values v = red_to_blue;
    (which == 0 ? v.hue_tol : which == 1 ? v.light_tol : v.sat_tol) = 0;
    cases.push_back(v);
  }
  for (const Values& base : cases) {
    for (bool mask : {false, true}) {
      Values v = base;
      v.mask = mask;
      SCOPED_TRACE(::testing::Message() << "tolerances " << v.hue_tol << "/" << v.light_tol << "/" << v.sat_tol
                                        << " mask " << mask);
      Instance inst(f.effect, TimeBase{}, kW, kH);
      Apply(inst, v);
      World in(kW, kH, kPad), out(kW, kH, kPad);
      FillPattern(in, 3, kRed);
      ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
      for (A_long y = 0; y < kH; ++y)
        for (A_long x = 0; x < kW; ++x)
          ASSERT_TRUE(Same(out.At(x, y), mask ? PF_Pixel{255, 0, 0, 0} : in.At(x, y))) << x << "," << y;
      EXPECT_TRUE(PaddingUntouched(out));
    }
  }
}

// Red to blue is 120 degrees back, not 240 forward: with the change scaled
// to about three quarters a dark red turns purple (no green), where the
// long way round would make it cyan.
TEST(HueswapRender, HueTakesTheShortWayRound) {
  Fixture f;
  Values v;
  v.from = kRed;
  v.to = kBlue;
  v.change_by = 2;
  v.light_tol = 0x2000;  // a lightness difference counts in full
  v.softness = 0x10000;  // m = 1 - g, to a hair
  const Reference ref(v);
  EXPECT_EQ(ref.dh, -120 * 65536);
  const PF_Pixel dark_red{255, 128, 0, 0};
  const PF_Pixel got = RenderOne(f, v, dark_red);
  EXPECT_EQ(got.green, 0);
  EXPECT_GT(got.blue, got.red);
  EXPECT_TRUE(Same(got, ref.Pixel(dark_red))) << Show(got);
  // By hand: g = 16320 / 65536, m = 0.75097; hue -90.1 degrees -> (64, 0, 128),
  // mixed back toward the input by m -> (79, 0, 96).
  EXPECT_TRUE(Same(got, PF_Pixel{255, 79, 0, 96})) << Show(got);

  // Setting mode at a hard edge: a red pixel takes the To hue outright.
  Values set = v;
  set.change_by = 1;
  set.softness = 0;
  EXPECT_TRUE(Same(RenderOne(f, set, kRed), kBlue));
}

// Transparent pixels keep every byte in both views.
TEST(HueswapRender, TransparentPixelsPassThrough) {
  Fixture f;
  for (bool mask : {false, true}) {
    Values v;
    v.from = kRed;
    v.to = kBlue;
    v.softness = 0;
    v.mask = mask;
    const PF_Pixel hidden{0, 255, 0, 0};
    EXPECT_TRUE(Same(RenderOne(f, v, hidden), hidden)) << mask;
    const PF_Pixel shown{1, 255, 0, 0};
    EXPECT_FALSE(Same(RenderOne(f, v, shown), shown)) << mask;
  }
}

// The mask's grey level is 255 x f x (1 - g), f taken times 255 once. At
// Softness 100 % f = 65536 / 65537: the From colour itself shows 254, not
// 255, and a dark red a quarter of the lightness tolerance away 191.
// Outside the selection the mask is opaque black whatever the alpha.
TEST(HueswapRender, MaskGreyLevels) {
  Fixture f;
  Values v;
  v.from = kRed;
  v.to = kBlue;
  v.mask = true;
  v.light_tol = 0x2000;
  v.softness = 0x10000;
  EXPECT_TRUE(Same(RenderOne(f, v, PF_Pixel{90, 255, 0, 0}), PF_Pixel{90, 254, 254, 254}));
  EXPECT_TRUE(Same(RenderOne(f, v, PF_Pixel{200, 128, 0, 0}), PF_Pixel{200, 191, 191, 191}));
  EXPECT_TRUE(Same(RenderOne(f, v, PF_Pixel{77, 0, 255, 0}), PF_Pixel{255, 0, 0, 0}));

  // The default softness: full white up to g = 0.5, then a ramp.
  v.softness = 0x8000;
  EXPECT_TRUE(Same(RenderOne(f, v, PF_Pixel{255, 255, 0, 0}), PF_Pixel{255, 255, 255, 255}));
  for (int r = 1; r <= 255; r += 6) {
    const PF_Pixel in{255, uint8_t(r), 0, 0};
    const double l = std::floor(r / 510.0 * 65536 + 0.5);
    const double g = (32768 - l) * (0.125 / 8192);  // lightness only: H and S match
    const double grey = 255.0 * (65536.0 / 32769.0) * (1 - g);
    const uint8_t e = g > 1 ? 0 : grey >= 255 ? 255 : (grey > 0 ? uint8_t(grey) : 0);
    const PF_Pixel expected = g > 1 ? PF_Pixel{255, 0, 0, 0} : PF_Pixel{255, e, e, e};
    EXPECT_TRUE(Same(RenderOne(f, v, in), expected)) << r << ": " << Show(RenderOne(f, v, in));
  }
}

// Every mode, view and a spread of tolerances and softness on padded and
// tight rows, every byte against the reference; each case changes pixels.
TEST(HueswapRender, EveryModeMatchesTheRules) {
  Fixture f;
  struct Pair {
    PF_Pixel from, to;
  };
  const Pair pairs[] = {{kRed, kBlue}, {kOrange, PF_Pixel{255, 40, 200, 90}}, {PF_Pixel{255, 60, 90, 200}, kOrange}};
  int variant = 0;
  for (const Pair& pair : pairs) {
    for (int change = 1; change <= 4; ++change) {
      for (int change_by = 1; change_by <= 2; ++change_by) {
        ++variant;
        Values v;
        v.from = pair.from;
        v.to = pair.to;
        v.change = change;
        v.change_by = change_by;
        v.hue_tol = (variant % 3 == 0) ? 0x199A : 0x6000 + variant * 0x400;
        v.light_tol = 0x4000 + variant * 0x800;
        v.sat_tol = 0x20000 - variant * 0x600;
        v.softness = (variant * 0x2345) % 0x10001;
        v.mask = variant % 5 == 0;
        const A_long pad = (variant % 2) ? kPad : 0;
        SCOPED_TRACE(::testing::Message()
                     << "variant " << variant << " change " << change << " by " << change_by << " mask " << v.mask);
        World in(kW, kH, pad);
        FillPattern(in, uint32_t(variant), pair.from);
        int changed = 0;
        ASSERT_TRUE(MatchesReference(f, v, in, pad, &changed));
        EXPECT_GT(changed, 0);
      }
    }
  }
}

// Rows are shared out in bands among the host's threads: any thread count,
// odd sizes and padded rows give the rules' bytes.
TEST(HueswapRender, ThreadCountsAndSizesMatchTheRules) {
  struct Case {
    int threads;
    A_long w, h, pad;
  };
  const Case cases[] = {{1, 67, 41, 12}, {2, 67, 41, 0}, {3, 67, 41, 12}, {2, 1, 35, 4}, {3, 53, 1, 0}, {3, 3, 50, 8}};
  for (const Case& c : cases) {
    Fixture f(c.threads);
    for (int change_by : {1, 2}) {
      for (bool mask : {false, true}) {
        Values v;
        v.from = kOrange;
        v.to = PF_Pixel{255, 40, 200, 90};
        v.change = 4;
        v.change_by = change_by;
        v.hue_tol = 0x8000;
        v.mask = mask;
        SCOPED_TRACE(::testing::Message()
                     << c.threads << " threads " << c.w << "x" << c.h << " by " << change_by << " mask " << mask);
        World in(c.w, c.h, c.pad);
        FillPattern(in, uint32_t(c.w + c.h), kOrange);
        ASSERT_TRUE(MatchesReference(f, v, in, c.pad));
      }
    }
  }
}

// The results of the conversions and of the services reach the host.
TEST(HueswapRender, ServiceErrorsAreReturned) {
  Fixture f;
  Values v;
  v.from = kRed;
  v.to = kBlue;
  struct Case {
    const char* service;
    int nth;
    bool mask;
  };
  const Case cases[] = {{"RGBtoHLS", 1, false}, {"RGBtoHLS", 2, false}, {"RGBtoHLS", 5, false},
                        {"HLStoRGB", 1, false}, {"RGBtoHLS", 4, true},  {"iterate", 1, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.service << " " << c.nth);
    v.mask = c.mask;
    Instance inst(f.effect, TimeBase{}, kW, kH);
    Apply(inst, v);
    World in(kW, kH), out(kW, kH);
    FillPattern(in, 7, kRed);
    for (A_long x = 0; x < kW; ++x) in.At(x, 0) = kRed;  // the first pixels are all converted
    f.host.failures().Clear();
    f.host.failures().Arm(c.service, c.nth, PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_INTERNAL_STRUCT_DAMAGED);
    f.host.failures().Clear();
  }
  for (const char* service : {"copy", "fill"}) {
    Values nothing;
    nothing.mask = std::string(service) == "fill";
    Instance inst(f.effect, TimeBase{}, kW, kH);
    Apply(inst, nothing);
    World in(kW, kH), out(kW, kH);
    f.host.failures().Arm(service, 1, PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_OUT_OF_MEMORY) << service;
    f.host.failures().Clear();
  }
}

}  // namespace
