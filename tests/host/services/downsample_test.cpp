// Rendering at a reduced resolution: the plug-in gets the box reduction of
// the full input and an output of the buffer size, full-size in_data, and
// point values in buffer pixels.
#include <cmath>
#include <cstring>

#include "host/core/probe_record.h"
#include "host/services/services_fixture.h"

namespace ombrix::svctest {
namespace {

PluginFile Probe() { return ReadPluginFile(std::filesystem::path(OMBRIX_PROBE_DIR) / "probe.aex"); }

probe::Record RecordOf(Instance& inst) {
  const std::vector<uint8_t> bytes = inst.SequenceDataBytes();
  probe::Record r{};
  EXPECT_EQ(bytes.size(), sizeof r);
  if (bytes.size() == sizeof r) std::memcpy(&r, bytes.data(), sizeof r);
  return r;
}

RenderSettings At(A_long nx, A_u_long dx, A_long ny, A_u_long dy) {
  RenderSettings s;
  s.downsample_x = {nx, dx};
  s.downsample_y = {ny, dy};
  return s;
}

TEST(Downsampling, ThePlugInSeesTheReducedInputAndABufferSizedOutput) {
  Host host;
  host.on_message = [](std::string_view) {};
  Effect effect(host, Probe());
  const A_long w = 41, h = 27;
  World input(w, h, 8);
  Randomize(input, 21);
  const A_long factors[][4] = {{1, 2, 1, 2}, {1, 3, 1, 3}, {2, 3, 2, 3}, {1, 2, 1, 4}, {1, 1, 1, 1}};
  for (const auto& f : factors) {
    SCOPED_TRACE(::testing::Message() << f[0] << "/" << f[1] << " x " << f[2] << "/" << f[3]);
    Instance inst(effect, TimeBase{}, w, h);  // Mode 0: output = input with colours inverted
    RenderSettings s = At(f[0], A_u_long(f[1]), f[2], A_u_long(f[3]));
    s.pixel_aspect = {10, 11};
    const A_long bw = CeilScaled(w, f[0], f[1]), bh = CeilScaled(h, f[2], f[3]);
    EXPECT_EQ(inst.BufferSizeAt(s), (BufferSize{bw, bh}));
    World out(w, h, 4);  // resized to the buffer, padding kept
    ASSERT_EQ(inst.RenderFrame(0, input.pf(), out, s).err, PF_Err_NONE);
    ASSERT_EQ(out.width(), bw);
    ASSERT_EQ(out.height(), bh);
    EXPECT_EQ(out.rowbytes(), bw * 4 + 4);
    for (A_long y = 0; y < bh; ++y)
      for (A_long x = 0; x < bw; ++x) {
        // Equal sizes copy exactly, colour under alpha 0 included.
        PF_Pixel want = (bw == w && bh == h) ? input.At(x, y) : RefBox(input, bw, bh, x, y);
        want = PF_Pixel{want.alpha, uint8_t(255 - want.red), uint8_t(255 - want.green), uint8_t(255 - want.blue)};
        ASSERT_TRUE(Same(out.At(x, y), want)) << x << "," << y << ": " << Text(out.At(x, y)) << " want " << Text(want);
      }
    const probe::Record rec = RecordOf(inst);
    EXPECT_EQ(rec.width, w);  // in_data keeps the layer's full size
    EXPECT_EQ(rec.height, h);
    EXPECT_EQ(rec.in_width, bw);
    EXPECT_EQ(rec.in_height, bh);
    EXPECT_EQ(rec.in_rowbytes, bw * 4 + 8);  // the input's padding kept
    EXPECT_EQ(rec.out_width, bw);
    EXPECT_EQ(rec.downsample_x.num, f[0]);
    EXPECT_EQ(rec.downsample_x.den, A_u_long(f[1]));
    EXPECT_EQ(rec.downsample_y.den, A_u_long(f[3]));
    EXPECT_EQ(rec.pixel_aspect.num, 10);
    EXPECT_EQ(rec.pixel_aspect.den, 11u);
  }
}

TEST(Downsampling, BufferSizedInputsAreUsedAsTheyAreAndOtherSizesRefused) {
  Host host;
  host.on_message = [](std::string_view) {};
  Effect effect(host, Probe());
  Instance inst(effect, TimeBase{}, 9, 7);
  inst.SetValue(probe::kMode, Val(probe::kNop));  // the input passes through untouched
  const RenderSettings half = At(1, 2, 1, 2);
  World small(5, 4), out(5, 4);
  Randomize(small, 22);
  ASSERT_EQ(inst.RenderFrame(0, small.pf(), out.pf(), half).err, PF_Err_NONE);
  EXPECT_TRUE(SamePixels(small.pf(), out.pf()));
  // A pass-through of a full input passes the reduced input.
  World full(9, 7);
  Randomize(full, 23);
  ASSERT_EQ(inst.RenderFrame(0, full.pf(), out.pf(), half).err, PF_Err_NONE);
  for (A_long y = 0; y < 4; ++y)
    for (A_long x = 0; x < 5; ++x) ASSERT_TRUE(Same(out.At(x, y), RefBox(full, 5, 4, x, y))) << x << "," << y;
  World odd(6, 4), big(9, 7);
  EXPECT_THROW(inst.RenderFrame(0, odd.pf(), out.pf(), half), HostError);
  EXPECT_THROW(inst.RenderFrame(0, full.pf(), big.pf(), half), HostError);
}

TEST(Downsampling, PointValuesAreInBufferPixelsAndDefaultsOfTheFullLayer) {
  Host host;
  host.on_message = [](std::string_view) {};
  Effect effect(host, Probe());
  // The probe's Centre defaults to 50 %, 25 % of the layer.
  const A_long w = 203, h = 101;
  const double full_x = std::floor(0.50 * w * 65536 + 0.5), full_y = std::floor(0.25 * h * 65536 + 0.5);
  const A_long factors[][2] = {{1, 2}, {1, 3}, {2, 3}, {3, 4}};
  for (const auto& f : factors) {
    Instance inst(effect, TimeBase{}, w, h);
    const RenderSettings s = At(f[0], A_u_long(f[1]), f[0], A_u_long(f[1]));
    World in(w, h), out(1, 1);
    ASSERT_EQ(inst.RenderFrame(0, in.pf(), out, s).err, PF_Err_NONE);
    probe::Record rec = RecordOf(inst);
    EXPECT_EQ(rec.centre_x, A_long(std::floor(full_x * f[0] / f[1] + 0.5))) << f[0] << "/" << f[1];
    EXPECT_EQ(rec.centre_y, A_long(std::floor(full_y * f[0] / f[1] + 0.5))) << f[0] << "/" << f[1];
    // A value set in full-resolution pixels, one unit off a half.
    const PF_Fixed vx = (37 << 16) + 1, vy = -((11 << 16) + 3);
    inst.SetValue(probe::kCentre, ParamValue{0, vx, vy, {}});
    ASSERT_EQ(inst.RenderFrame(0, in.pf(), out, s).err, PF_Err_NONE);
    rec = RecordOf(inst);
    EXPECT_EQ(rec.centre_x, A_long(std::floor(double(vx) * f[0] / f[1] + 0.5))) << f[0] << "/" << f[1];
    EXPECT_EQ(rec.centre_y, A_long(std::floor(double(vy) * f[0] / f[1] + 0.5))) << f[0] << "/" << f[1];
  }
}

}  // namespace
}  // namespace ombrix::svctest
