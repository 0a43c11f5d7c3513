// Layer parameters: checkouts at any time of the own layer, image files,
// sequences, solids and no layer; their values at RENDER; reduction when
// downsampling; checkin, failures and leaks.
#include <ombrix/host/image_io.h>

#include <unistd.h>

#include <filesystem>

#include "host/services/services_fixture.h"

namespace ombrix::svctest {
namespace {

namespace fs = std::filesystem;
using namespace svcprobe;

// A colour of its own for each sequence frame.
PF_Pixel FrameColour(int64_t f) { return PF_Pixel{255, uint8_t(10 * f), uint8_t(200 - f), uint8_t(f * f)}; }

class Layers : public ServicesProbe {
 protected:
  Layers() {
    dir = fs::temp_directory_path() / ("ombrix-layer-test-" + std::to_string(::getpid()) + "-" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir);
    // Frames 3, 4, 5 and, after a gap, 7.
    for (int64_t f : {3, 4, 5, 7}) WriteImage(Frame(f), MakeSolid(6, 4, FrameColour(f)).pf());
    base = LiveCheckoutCount();
  }
  ~Layers() override {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  fs::path Frame(int64_t f) const {
    char name[32];
    std::snprintf(name, sizeof name, "seq.%04lld.png", static_cast<long long>(f));
    return dir / name;
  }
  LayerSource Sequence(std::optional<FrameRate> rate = {}) const {
    return LayerSource::Image(ParseSource((dir / "seq.####.png").string()), rate);
  }
  // Renders `mode` at `time` on a 6x4 input; the message tells what the
  // plug-in saw of the layer, the output's corner pixel what it held.
  CommandResult Run(Instance& inst, Mode mode, A_long time, A_long offset, World* out_keep = nullptr,
                    const RenderSettings& s = {}) {
    inst.SetValue(kMode, Val(mode));
    inst.SetValue(kOffset, Val(offset));
    World in(6, 4, 4);
    for (A_long y = 0; y < 4; ++y)
      for (A_long x = 0; x < 6; ++x) in.At(x, y) = PF_Pixel{255, 1, 2, 3};
    World out(6, 4, 8);
    CommandResult r = inst.RenderFrame(time, in.pf(), out, s);
    EXPECT_EQ(LiveCheckoutCount(), base) << "a checkout outlived its render";
    corner = out.At(0, 0);
    if (out_keep) *out_keep = std::move(out);
    return r;
  }

  fs::path dir;
  size_t base = 0;
  PF_Pixel corner{};
};

TEST_F(Layers, SequenceCheckoutsFollowTheFrameAtTheAskedTime) {
  Instance inst(effect, TimeBase::ForRate({24, 1}), 6, 4);  // step 100 ticks
  inst.BindLayer(kOther, Sequence());
  // From frame 4: offsets reach before the first frame, into the gap and past the last.
  const std::pair<A_long, int64_t> cases[] = {{-4, 3}, {-1, 3}, {0, 4}, {1, 5}, {2, 5}, {3, 7}, {50, 7}};
  for (Mode mode : {kCheckout, kCheckoutFineScale}) {
    for (const auto& [offset, frame] : cases) {
      const CommandResult r = Run(inst, mode, 400, offset);
      ASSERT_EQ(r.err, PF_Err_NONE) << r.message;
      EXPECT_EQ(r.message, "6x4");
      EXPECT_TRUE(Same(corner, FrameColour(frame))) << "offset " << offset << " mode " << mode << ": " << Text(corner);
    }
  }
  // Within a frame's ticks the frame holds: 499 is still frame 4, 500 frame 5.
  Run(inst, kCheckout, 499, 0);
  EXPECT_TRUE(Same(corner, FrameColour(4)));
  Run(inst, kCheckout, 500, 0);
  EXPECT_TRUE(Same(corner, FrameColour(5)));
}

TEST_F(Layers, ASequenceKeepsItsOwnFrameRate) {
  Instance inst(effect, TimeBase::ForRate({24, 1}), 6, 4);
  inst.BindLayer(kOther, Sequence(FrameRate{12, 1}));
  // Seconds x 12 = frame: 400/2400 s is frame 2 (before the first), 1000/2400 s frame 5,
  // 1100 frame 5.5 -> 5, 1200 frame 6 (the gap holds 5), 1400 frame 7.
  const std::pair<A_long, int64_t> cases[] = {{400, 3}, {1000, 5}, {1100, 5}, {1200, 5}, {1400, 7}, {-700, 3}};
  for (const auto& [time, frame] : cases) {
    ASSERT_EQ(Run(inst, kCheckout, time, 0).err, PF_Err_NONE);
    EXPECT_TRUE(Same(corner, FrameColour(frame))) << time;
  }
}

TEST_F(Layers, NoLayerChecksOutWithoutPixels) {
  Instance inst(effect, TimeBase{}, 6, 4);  // "Other" defaults to none
  World out;
  CommandResult r = Run(inst, kCheckout, 0, 3, &out);
  ASSERT_EQ(r.err, PF_Err_NONE);
  EXPECT_EQ(r.message, "none");
  EXPECT_TRUE(SamePixels(out.pf(), World(6, 4).pf()));
  r = Run(inst, kRenderLayer, 0, 0);
  EXPECT_EQ(r.message, "none");
  inst.BindLayer(kOther, LayerSource::None());
  EXPECT_EQ(Run(inst, kCheckout, 0, 0).message, "none");
}

TEST_F(Layers, TheOwnLayerIsTheInputAtAnyTime) {
  Instance inst(effect, TimeBase::ForRate({24, 1}), 6, 4);
  // Unbound: the render's input at every time.
  CommandResult r = Run(inst, kCheckoutSelf, 300, -2);
  ASSERT_EQ(r.err, PF_Err_NONE);
  EXPECT_EQ(r.message, "6x4");
  EXPECT_TRUE(Same(corner, PF_Pixel{255, 1, 2, 3}));
  // Bound to a sequence: the input's frame at the asked time; "Other" set to
  // the own layer follows it.
  inst.BindLayer(0, Sequence());
  inst.BindLayer(kOther, LayerSource::Self());
  Run(inst, kCheckoutSelf, 500, -1);
  EXPECT_TRUE(Same(corner, FrameColour(4)));
  Run(inst, kCheckout, 500, 2);
  EXPECT_TRUE(Same(corner, FrameColour(7)));
  EXPECT_THROW(inst.BindLayer(0, LayerSource::None()), HostError);
  EXPECT_THROW(inst.BindLayer(kMode, LayerSource::None()), HostError);
}

TEST_F(Layers, CheckedOutAndRenderedLayersAreReducedLikeTheInput) {
  World file(9, 7);
  Randomize(file, 31);
  const fs::path path = dir / "layer.png";
  WriteImage(path, file.pf());
  Instance inst(effect, TimeBase{}, 12, 10);
  inst.BindLayer(kOther, LayerSource::Image(ParseSource(path.string())));
  RenderSettings half;
  half.downsample_x = {1, 2};
  half.downsample_y = {1, 2};
  for (Mode mode : {kCheckout, kRenderLayer}) {
    inst.SetValue(kMode, Val(mode));
    World in(12, 10), out(6, 5);
    const CommandResult r = inst.RenderFrame(0, in.pf(), out, half);
    ASSERT_EQ(r.err, PF_Err_NONE) << r.message;
    EXPECT_EQ(r.message, "5x4");
    for (A_long y = 0; y < 4; ++y)
      for (A_long x = 0; x < 5; ++x)
        ASSERT_TRUE(Same(out.At(x, y), RefBox(file, 5, 4, x, y))) << mode << " at " << x << "," << y;
  }
  // A solid, and the own layer at full input size, reduced the same way.
  inst.BindLayer(kOther, LayerSource::Image(ParseSource("solid:8x6:#102030")));
  World in(12, 10), out(6, 5);
  inst.SetValue(kMode, Val(kRenderLayer));
  CommandResult r = inst.RenderFrame(0, in.pf(), out, half);
  EXPECT_EQ(r.message, "4x3");
  EXPECT_TRUE(Same(out.At(3, 2), PF_Pixel{255, 0x10, 0x20, 0x30}));
  Randomize(in, 32);
  inst.SetValue(kMode, Val(kCheckoutSelf));
  r = inst.RenderFrame(0, in.pf(), out, half);
  EXPECT_EQ(r.message, "6x5");
  for (A_long y = 0; y < 5; ++y)
    for (A_long x = 0; x < 6; ++x) ASSERT_TRUE(Same(out.At(x, y), RefBox(in, 6, 5, x, y))) << x << "," << y;
}

TEST_F(Layers, CheckoutsNeverOutliveTheirCommand) {
  Instance inst(effect, TimeBase{}, 6, 4);
  inst.BindLayer(kOther, Sequence());
  // Checked in by the plug-in, or left behind and released by the host; Run checks the count.
  ASSERT_EQ(Run(inst, kCheckout, 0, 0).err, PF_Err_NONE);
  ASSERT_EQ(Run(inst, kCheckoutKeep, 0, 0).err, PF_Err_NONE);
  EXPECT_EQ(Run(inst, kCheckoutKeep, 0, 0).message, "6x4");
  // A checkin of pixels the host never handed out, or handed back already, is refused.
  PF_InData in = effect.BaseInData();
  PF_ParamDef def{};
  def.param_type = PF_Param_LAYER;
  PF_Pixel stranger[4] = {};
  def.u.ld.data = stranger;
  EXPECT_EQ(in.inter.checkin_param(in.effect_ref, &def), PF_Err_BAD_CALLBACK_PARAM);
  def.u.ld.data = nullptr;
  EXPECT_EQ(in.inter.checkin_param(in.effect_ref, &def), PF_Err_NONE);
}

TEST_F(Layers, FailedCheckoutsReachThePlugInAsErrors) {
  Instance inst(effect, TimeBase{}, 6, 4);
  inst.BindLayer(kOther, Sequence());
  host.failures().Arm("checkout_param", 1, 4321);
  EXPECT_EQ(Run(inst, kCheckout, 0, 0).err, 4321);
  host.failures().Clear();
  ASSERT_EQ(Run(inst, kCheckout, 0, 0).err, PF_Err_NONE);
  // A frame that vanished after the sequence was found: an error code for the
  // plug-in, and the reason for whoever asked for the render. The value
  // handed to RENDER is loaded before the command, so that fails as a throw.
  inst.BindLayer(0, Sequence());
  fs::remove(Frame(4));
  EXPECT_THROW(Run(inst, kCheckout, 400, 0), HostError);
  inst.BindLayer(kOther, LayerSource::None());
  const CommandResult r = Run(inst, kCheckoutSelf, 300, 1);
  EXPECT_EQ(r.err, PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_NE(r.message.find("seq.0004.png"), std::string::npos) << r.message;
}

}  // namespace
}  // namespace ombrix::svctest
