// Lenswarp through the host: every output pixel against the lens mapping
// evaluated here from the focal-length and ray formulas, sampled with the
// host's own samplers; the pass-through cases, the view centre, the corners,
// non-square pixels, the rim, and the shell's commands.
#include <ombrix/host/host.h>
#include <ombrix/host/pixel_ops.h>
#include <ombrix/platform/headless.h>
#include <ombrix/platform/input.h>
#include <ombrix/platform/registry.h>

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
using ombrix::ParamValue;
using ombrix::TimeBase;
using ombrix::World;
namespace plat = ombrix::platform;

enum { kFov = 1, kReverse, kOrientation, kCentre, kOptimal };

void FillPattern(World& w, uint32_t seed) {
  FillPixels(w, Lcg{seed}, [](A_long x, A_long y, uint32_t s) {
    return PF_Pixel{uint8_t(128 + (s >> 25)), uint8_t(x * 9), uint8_t(y * 13), Byte(s, 16)};
  });
}

struct Lens {
  A_long fov = 0;  // 16.16 degrees
  bool reverse = false;
  int orientation = 1;
  double cx = -1, cy = -1;  // -1: the default middle
  bool optimal = false;
  PF_RationalScale aspect{1, 1};
  PF_Quality quality = PF_Quality_HI;
};

struct Rig : EffectFixture {
  Rig() : EffectFixture("lenswarp.aex") {}
  PF_Err Render(World& in, World& out, const Lens& s) {
    ombrix::RenderSettings settings;
    settings.pixel_aspect = s.aspect;
    settings.quality = s.quality;
    return EffectFixture::Render(
        in, out,
        [&](Instance& inst) {
          inst.SetValue(kFov, Scalar(s.fov));
          inst.SetValue(kReverse, Scalar(s.reverse));
          inst.SetValue(kOrientation, Scalar(s.orientation));
          if (s.cx >= 0) inst.SetValue(kCentre, RoundedPoint(s.cx, s.cy));
          inst.SetValue(kOptimal, Scalar(s.optimal));
        },
        settings);
  }
};

// The mapping worked out from the lens geometry: the focal length that
// gives the field of view across the chosen span, the stretch of each ray,
// and the sampler the quality and stretch call for.
PF_Pixel Expected(const World& in, const Lens& s, A_long x, A_long y) {
  const double P = double(s.aspect.num) / double(s.aspect.den);
  const double W = in.width() * P, H = in.height(), D = std::sqrt(W * W + H * H);
  const double span = s.orientation == 1 ? W : (s.orientation == 2 ? H : D);
  const double fov = s.fov / 65536.0;
  const double f = (span / 2) / std::tan(fov * M_PI / 360.0);
  double k = 1;
  if (s.optimal) {
    const double c = std::cos(std::atan2(D / 2, f));
    k = s.reverse ? 1 / c : (c + 1) / 2;
  }
  const double cx = s.cx >= 0 ? s.cx : in.width() / 2.0, cy = s.cy >= 0 ? s.cy : in.height() / 2.0;
  const double a = (x - cx) * k, b = (y - cy) * k;
  const double r2 = (a * P) * (a * P) + b * b, r = std::sqrt(r2);
  double m;
  if (!s.reverse) {
    if (r2 >= f * f) return PF_Pixel{0, 0, 0, 0};
    m = std::sqrt(r2 * f * f / (f * f - r2)) / (r + 1e-5);
  } else {
    m = std::cos(std::atan2(r + 1e-5, f));
  }
  const PF_Fixed sx = PF_Fixed(std::trunc((cx + m * a) * 65536)), sy = PF_Fixed(std::trunc((cy + m * b) * 65536));
  const double e = (m - 1) * k;
  if (s.quality == PF_Quality_HI && e > 0) {
    const double g = e * 2 * M_PI / (r + 1e-5);
    const double rx = std::min(60.0, std::max(0.5, std::fabs(a * g)));
    const double ry = std::min(60.0, std::max(0.5, std::fabs(b * g)));
    return ombrix::AreaSample(in.pf(), sx, sy, PF_Fixed(rx * 65536), PF_Fixed(ry * 65536));
  }
  return ombrix::SubpixelSample(in.pf(), sx, sy);
}

::testing::AssertionResult MatchesMapping(const World& in, const World& out, const Lens& s) {
  for (A_long y = 0; y < out.height(); ++y)
    for (A_long x = 0; x < out.width(); ++x) {
      const PF_Pixel e = Expected(in, s, x, y), o = out.At(x, y);
      if (!Same(e, o))
        return ::testing::AssertionFailure()
               << "(" << x << ", " << y << "): " << int(o.alpha) << "," << int(o.red) << "," << int(o.green) << ","
               << int(o.blue) << " expected " << int(e.alpha) << "," << int(e.red) << "," << int(e.green) << ","
               << int(e.blue);
    }
  return ::testing::AssertionSuccess();
}

TEST(LenswarpRender, NoFieldOfViewIsAnExactCopy) {
  Rig rig;
  World in(23, 17, 12), out(23, 17, 12);
  FillPattern(in, 3);
  for (A_long fov : {0, -(1 << 16), 180 << 16, 200 << 16}) {
    Lens s;
    s.fov = fov;
    ASSERT_EQ(rig.Render(in, out, s), PF_Err_NONE) << fov;
    EXPECT_TRUE(ombrix::SamePixels(in.pf(), out.pf())) << fov;
  }
  rig.host.failures().Arm("copy", 1, PF_Err_OUT_OF_MEMORY);
  EXPECT_EQ(rig.Render(in, out, Lens{}), PF_Err_OUT_OF_MEMORY);
}

TEST(LenswarpRender, EveryPixelFollowsTheMapping) {
  Rig rig;
  World in(41, 29, 8), out(41, 29, 8);
  FillPattern(in, 11);
  for (bool reverse : {false, true})
    for (int orientation : {1, 2, 3})
      for (bool optimal : {false, true})
        for (PF_Quality q : {PF_Quality_LO, PF_Quality_HI})
          for (A_long fov : {A_long(30 << 16), A_long(95 << 16), A_long(0xB3FFFF)}) {
            Lens s;
            s.fov = fov;
            s.reverse = reverse;
            s.orientation = orientation;
            s.optimal = optimal;
            s.quality = q;
            SCOPED_TRACE(::testing::Message() << "reverse " << reverse << " orientation " << orientation << " optimal "
                                              << optimal << " quality " << q << " fov " << fov);
            ASSERT_EQ(rig.Render(in, out, s), PF_Err_NONE);
            ASSERT_TRUE(MatchesMapping(in, out, s));
          }
}

// The centre's ray has length 0: forward m = 0, reverse m = 1 (to within
// the tiny offset that keeps the division defined).
TEST(LenswarpRender, ViewCentreMapsToItself) {
  Rig rig;
  World in(31, 21, 0), out(31, 21, 0);
  FillPattern(in, 5);
  for (bool reverse : {false, true})
    for (bool optimal : {false, true}) {
      Lens s;
      s.fov = 120 << 16;
      s.reverse = reverse;
      s.optimal = optimal;
      s.cx = 9;
      s.cy = 13;
      ASSERT_EQ(rig.Render(in, out, s), PF_Err_NONE);
      EXPECT_TRUE(Same(out.At(9, 13), in.At(9, 13))) << reverse << optimal;
    }
}

// Diagonal field of view, centre in the middle of a square-pixel frame:
// the corner pixel (at distance D / 2) keeps a source below 90 degrees and
// falls outside the lens's view beyond it.
TEST(LenswarpRender, CornersLeaveTheViewBeyondNinetyDegreesDiagonal) {
  Rig rig;
  // An opaque frame: below 90 degrees a pixel near the middle has its
  // source inside the layer.
  World in(40, 30, 0), out(40, 30, 0);
  for (A_long y = 0; y < 30; ++y)
    for (A_long x = 0; x < 40; ++x) in.At(x, y) = PF_Pixel{255, 200, 100, 50};
  Lens s;
  s.orientation = 3;
  s.quality = PF_Quality_LO;
  s.fov = 60 << 16;
  ASSERT_EQ(rig.Render(in, out, s), PF_Err_NONE);
  EXPECT_GT(out.At(20 - 8, 15 - 6).alpha, 0);
  for (A_long fov : {A_long(91 << 16), A_long(120 << 16), A_long(0xB3FFFF)}) {
    s.fov = fov;
    ASSERT_EQ(rig.Render(in, out, s), PF_Err_NONE);
    // f = 25 / tan(fov / 2) < 25: the corner's r = 25 is beyond it.
    EXPECT_EQ(out.At(0, 0).alpha, 0) << fov;
    ASSERT_TRUE(MatchesMapping(in, out, s));
  }
}

// Optimal Pixels shrinks the offsets before the forward mapping (a closer
// view) and enlarges them before the reverse one (more of the source).
TEST(LenswarpRender, OptimalPixelsScalesTheOffsets) {
  Rig rig;
  World in(64, 48, 0), out_plain(64, 48, 0), out_optimal(64, 48, 0);
  FillPattern(in, 9);
  for (bool reverse : {false, true}) {
    Lens s;
    s.fov = 100 << 16;
    s.reverse = reverse;
    s.quality = PF_Quality_LO;
    ASSERT_EQ(rig.Render(in, out_plain, s), PF_Err_NONE);
    s.optimal = true;
    ASSERT_EQ(rig.Render(in, out_optimal, s), PF_Err_NONE);
    ASSERT_TRUE(MatchesMapping(in, out_optimal, s));
    // Forward at 100 degrees: the plain mapping loses the corners, the
    // scaled one keeps more of the frame.
    int plain_clear = 0, optimal_clear = 0;
    for (A_long y = 0; y < 48; ++y)
      for (A_long x = 0; x < 64; ++x) {
        plain_clear += out_plain.At(x, y).alpha == 0;
        optimal_clear += out_optimal.At(x, y).alpha == 0;
      }
    if (!reverse) {
      EXPECT_LT(optimal_clear, plain_clear);
    }
  }
}

// With pixels twice as wide as tall the lens is round in square pixels: a
// horizontal offset of 5 pixels is as far out as a vertical one of 10.
TEST(LenswarpRender, NonSquarePixels) {
  Rig rig;
  World in(40, 40, 4), out(40, 40, 4);
  FillPattern(in, 21);
  for (bool reverse : {false, true}) {
    Lens s;
    s.fov = 110 << 16;
    s.reverse = reverse;
    s.aspect = PF_RationalScale{2, 1};
    s.cx = 20;
    s.cy = 20;
    ASSERT_EQ(rig.Render(in, out, s), PF_Err_NONE);
    ASSERT_TRUE(MatchesMapping(in, out, s));
  }
  // Forward, horizontal field of 110 degrees over W = 80: f = 40 / tan(55)
  // = 28.0; a pixel 14 to the side (r = 28) is outside, 10 down (r = 10) is not.
  Lens s;
  s.fov = 110 << 16;
  s.aspect = PF_RationalScale{2, 1};
  s.cx = 20;
  s.cy = 20;
  s.quality = PF_Quality_LO;
  World flat(40, 40, 0);
  for (A_long y = 0; y < 40; ++y)
    for (A_long x = 0; x < 40; ++x) flat.At(x, y) = PF_Pixel{255, 1, 2, 3};
  ASSERT_EQ(rig.Render(flat, out, s), PF_Err_NONE);
  EXPECT_EQ(out.At(34, 20).alpha, 0);
  EXPECT_EQ(out.At(20, 30).alpha, 255);
}

// Just inside the rim the stretch grows without bound: the source position
// leaves the 16.16 range and is held at its limit, which samples
// transparent. Found here: a field of view whose focal length lies a hair
// beyond the last pixel of a wide row.
TEST(LenswarpRender, RimPositionsBeyondTheFixedRange) {
  const A_long w = 1001, h = 3;
  const double half = w / 2.0;
  const double target_f = 499.02;
  const A_long fov = A_long(std::lround(2 * std::atan(half / target_f) * 180 / M_PI * 65536));
  const double f = half / std::tan((fov / 65536.0) * 0.008726646259971648);
  ASSERT_GT(f, 499.0);
  ASSERT_LT(f, 499.05);
  const double r = 499.0;
  const double m = std::sqrt(r * r * f * f / (f * f - r * r)) / (r + 1e-5);
  ASSERT_GT((500 + m * r) * 65536, 2147483647.0);  // the plain conversion would overflow

  Rig rig;
  World in(w, h, 0), out(w, h, 0);
  for (A_long y = 0; y < h; ++y)
    for (A_long x = 0; x < w; ++x) in.At(x, y) = PF_Pixel{255, 9, 9, 9};
  for (PF_Quality q : {PF_Quality_LO, PF_Quality_HI}) {
    Lens s;
    s.fov = fov;
    s.cx = 500;
    s.cy = 1;
    s.quality = q;
    ASSERT_EQ(rig.Render(in, out, s), PF_Err_NONE);
    EXPECT_TRUE(Same(out.At(999, 1), PF_Pixel{0, 0, 0, 0}));
    EXPECT_TRUE(Same(out.At(1, 1), PF_Pixel{0, 0, 0, 0}));
    EXPECT_TRUE(Same(out.At(500, 1), in.At(500, 1)));
  }
}

TEST(LenswarpRender, SamplerAndIterateErrorsAreReturned) {
  for (const char* service : {"iterate", "subpixel_sample", "area_sample"}) {
    Rig rig;
    World in(20, 20, 0), out(20, 20, 0);
    FillPattern(in, 1);
    Lens s;
    s.fov = 100 << 16;
    rig.host.failures().Arm(service, 1, PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(rig.Render(in, out, s), PF_Err_INTERNAL_STRUCT_DAMAGED) << service;
  }
}

TEST(LenswarpCommands, RegistrationSetdownAndAbout) {
  const std::filesystem::path reg =
      std::filesystem::temp_directory_path() / ("lenswarp_test_reg_" + std::to_string(::getpid()));
  std::filesystem::create_directories(reg);
  plat::ResetHeadless();
  {
    ombrix::HostOptions options;
    options.registry_dir = reg;
    Host host(options);
    Effect effect(host, TestPlugin("lenswarp.aex"));
    EXPECT_EQ(effect.num_params(), 6);
    EXPECT_EQ(effect.params()[kFov].u.fd.valid_max, 0xB3FFFF);
    EXPECT_EQ(effect.params()[kCentre].u.td.restrict_bounds, 0);
    EXPECT_EQ(effect.CheckboxLabel(kOptimal), "Optimal Pixels");
    for (PF_Cmd cmd : {2, 3, 7, 10, 12, 99}) {
      PF_InData in_data = effect.BaseInData();
      PF_OutData out_data{};
      out_data.num_params = 77;
      EXPECT_EQ(effect.Send(cmd, in_data, out_data, nullptr, nullptr, nullptr), PF_Err_NONE) << cmd;
      EXPECT_EQ(out_data.num_params, 77);
      EXPECT_EQ(out_data.return_msg[0], '\0');
    }
    Instance inst(effect, TimeBase{}, 4, 4);
    const ombrix::CommandResult about = inst.Command(PF_Cmd_ABOUT);
    EXPECT_EQ(about.err, PF_Err_NONE);
    EXPECT_EQ(about.message.rfind("OB Lenswarp, v1.0  ", 0), 0u) << about.message;

    // A launcher record whose mode says to do nothing: Alt-click writes nothing.
    std::vector<uint8_t> record(264, 0);
    plat::RegKeyHandle key = nullptr;
    ASSERT_EQ(plat::RegCreateKey(plat::kRegCurrentUser, "Software\\Kestrane\\Ombrix One", 0, plat::kKeyAllAccess, &key,
                                 nullptr),
              plat::kOk);
    ASSERT_EQ(plat::RegSetValue(key, nullptr, plat::kRegBinary, record.data(), 264), plat::kOk);
    plat::RegCloseKey(key);
    plat::SetKeyDown(plat::kVkAlt, true);
    const ombrix::CommandResult alt = inst.Command(PF_Cmd_ABOUT);
    plat::SetKeyDown(plat::kVkAlt, false);
    EXPECT_EQ(alt.err, PF_Err_NONE);
    EXPECT_EQ(alt.message, "");
  }
  plat::ResetHeadless();
  std::filesystem::remove_all(reg);
}

}  // namespace
