// The command protocol through the probe plug-in: registration, the records
// handed to each command, sequence data, messages, keyframes and injected
// failures.
#include "probe_host.h"

namespace ombrix {
namespace {

using probe::Record;
using testing::ProbeHost;
using testing::RecordOf;

ParamValue Val(A_long v) { return ParamValue{v, 0, 0, {}}; }
ParamValue Pt(PF_Fixed x, PF_Fixed y) { return ParamValue{0, x, y, {}}; }
ParamValue Col(A_u_char a, A_u_char r, A_u_char g, A_u_char b) { return ParamValue{0, 0, 0, PF_Pixel{a, r, g, b}}; }

void FillInput(World& w) {
  for (A_long y = 0; y < w.height(); ++y)
    for (A_long x = 0; x < w.width(); ++x)
      w.At(x, y) = PF_Pixel{uint8_t(200 + x % 50), uint8_t(x * 9), uint8_t(y * 5), 17};
}

bool IsInverted(const World& in, const World& out) {
  for (A_long y = 0; y < in.height(); ++y)
    for (A_long x = 0; x < in.width(); ++x) {
      const PF_Pixel &a = in.At(x, y), &b = out.At(x, y);
      if (b.alpha != a.alpha || b.red != 255 - a.red || b.green != 255 - a.green || b.blue != 255 - a.blue)
        return false;
    }
  return true;
}

using Protocol = ProbeHost;

TEST_F(Protocol, RegistrationIsKeptAsRegistered) {
  Effect effect(host, file);
  EXPECT_EQ(effect.my_version(), 0x80600u);
  EXPECT_EQ(effect.num_params(), probe::kParamCount);
  ASSERT_EQ(effect.params().size(), size_t(probe::kParamCount));
  EXPECT_EQ(effect.params()[0].param_type, PF_Param_LAYER);
  EXPECT_EQ(effect.params()[0].u.ld.dephault, PF_LayerDefault_MYSELF);
  EXPECT_STREQ(effect.params()[probe::kAmount].name, "Amount");
  EXPECT_EQ(effect.PopupItems(probe::kChoice), (std::vector<std::string>{"One", "(-", "Three"}));
  EXPECT_EQ(effect.CheckboxLabel(probe::kFlag), "Flag");
  // The probe reuses one record: the popup still carries the Mode slider's range.
  EXPECT_EQ(effect.params()[probe::kChoice].u.sd.valid_max, 10);
  EXPECT_EQ(effect.FindParam("Flag"), probe::kFlag);
  EXPECT_EQ(effect.FindParam("Centre"), probe::kCentre);
  EXPECT_EQ(effect.FindParam("3"), 3);
  EXPECT_EQ(effect.FindParam("Nothing"), -1);
}

TEST_F(Protocol, RenderHandsTheFullRecords) {
  Effect effect(host, file);
  Instance inst(effect, TimeBase::ForRate({24, 1}), 40, 30);
  EXPECT_EQ(inst.setup_result().err, PF_Err_NONE);
  World in(40, 30, 8), out(40, 30, 4);
  FillInput(in);
  CommandResult r = inst.RenderFrame(300, in.pf(), out.pf());
  ASSERT_EQ(r.err, PF_Err_NONE);
  EXPECT_TRUE(IsInverted(in, out));
  Record rec = RecordOf(inst);
  EXPECT_EQ(rec.setups, 1);
  EXPECT_EQ(rec.frame_setups, 1);
  EXPECT_EQ(rec.renders, 1);
  EXPECT_EQ(rec.protocol_faults, 0);
  EXPECT_EQ(rec.current_time, 300);
  EXPECT_EQ(rec.time_step, 100);
  EXPECT_EQ(rec.local_time_step, 100);
  EXPECT_EQ(rec.total_time, 100);
  EXPECT_EQ(rec.time_scale, 2400u);
  EXPECT_EQ(rec.width, 40);
  EXPECT_EQ(rec.height, 30);
  EXPECT_EQ(rec.extent_hint.right, 40);
  EXPECT_EQ(rec.extent_hint.bottom, 30);
  EXPECT_EQ(rec.downsample_x.num, 1);
  EXPECT_EQ(rec.downsample_x.den, 1u);
  EXPECT_EQ(rec.quality, PF_Quality_HI);
  EXPECT_EQ(rec.num_params, probe::kParamCount);
  EXPECT_EQ(rec.in_width, 40);
  EXPECT_EQ(rec.in_rowbytes, 168);
  EXPECT_EQ(rec.in_dephault, -1);
  EXPECT_EQ(rec.out_rowbytes, 164);
  EXPECT_EQ(rec.has_services, 1);
  // Defaults: point percentages of the layer (50 % of 40, 25 % of 30).
  EXPECT_EQ(rec.amount, 0x10000);
  EXPECT_EQ(rec.angle, 45 << 16);
  EXPECT_EQ(rec.choice, 1);
  EXPECT_EQ(rec.tint.red, 10);
  EXPECT_EQ(rec.centre_x, 20 << 16);
  EXPECT_EQ(rec.centre_y, (15 << 16) / 2);
}

TEST_F(Protocol, PointsAreScaledToTheDownsampledBuffer) {
  Effect effect(host, file);
  Instance inst(effect, TimeBase{}, 203, 100);
  inst.SetValue(probe::kCentre, Pt((101 << 16) + 1, 10 << 16));
  World in(102, 34), out(102, 34);
  RenderSettings s;
  s.downsample_x = {1, 2};
  s.downsample_y = {1, 3};
  s.quality = PF_Quality_LO;
  ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf(), s).err, PF_Err_NONE);
  Record rec = RecordOf(inst);
  EXPECT_EQ(rec.centre_x, ((101 << 16) + 1 + 1) / 2);  // 50.5 px + half a unit, rounded up
  EXPECT_EQ(rec.centre_y, 218453);                     // 655360 / 3 = 218453.33
  EXPECT_EQ(rec.width, 203);                           // the layer's full size
  EXPECT_EQ(rec.extent_hint.right, 102);               // the buffer
  EXPECT_EQ(rec.downsample_y.den, 3u);
  EXPECT_EQ(rec.quality, PF_Quality_LO);
  inst.SetValue(probe::kCentre, Pt(-3, 0));
  ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf(), s).err, PF_Err_NONE);
  EXPECT_EQ(RecordOf(inst).centre_x, -1);  // -1.5 rounds up to -1
}

TEST_F(Protocol, NopRenderHoldsForOneFrameOnly) {
  Effect effect(host, file);
  Instance inst(effect, TimeBase{}, 12, 9);
  inst.AddKey(probe::kMode, 0, Val(probe::kNop));
  inst.AddKey(probe::kMode, 100, Val(probe::kInvert));
  World in(12, 9, 4), out(12, 9);
  FillInput(in);
  CommandResult r = inst.RenderFrame(0, in.pf(), out.pf());
  EXPECT_EQ(r.err, PF_Err_NONE);
  EXPECT_TRUE(r.out_flags & PF_OutFlag_NOP_RENDER);
  EXPECT_TRUE(SamePixels(in.pf(), out.pf()));
  Record rec = RecordOf(inst);
  EXPECT_EQ(rec.frame_setups, 1);
  EXPECT_EQ(rec.renders, 0);
  r = inst.RenderFrame(100, in.pf(), out.pf());
  EXPECT_FALSE(r.out_flags & PF_OutFlag_NOP_RENDER);
  EXPECT_TRUE(IsInverted(in, out));
  rec = RecordOf(inst);
  EXPECT_EQ(rec.renders, 1);
  EXPECT_EQ(rec.protocol_faults, 0);  // out_data arrived clear every time
}

TEST_F(Protocol, MessagesAreDeliveredWhateverTheResult) {
  Effect effect(host, file);
  Instance inst(effect, TimeBase{}, 4, 4);
  World in(4, 4), out(4, 4);
  inst.SetValue(probe::kMode, Val(probe::kMessage));
  CommandResult r = inst.RenderFrame(200, in.pf(), out.pf());
  EXPECT_EQ(r.err, PF_Err_NONE);
  EXPECT_EQ(r.message, "render 1 at 200");
  inst.SetValue(probe::kMode, Val(probe::kFail));
  r = inst.RenderFrame(300, in.pf(), out.pf());
  EXPECT_EQ(r.err, PF_Err_INTERNAL_STRUCT_DAMAGED);
  EXPECT_EQ(r.message, "damaged");
  EXPECT_EQ(messages, (std::vector<std::string>{"render 1 at 200", "damaged"}));
  // The next command starts with an empty message again.
  inst.SetValue(probe::kMode, Val(probe::kInvert));
  EXPECT_EQ(inst.RenderFrame(400, in.pf(), out.pf()).message, "");
  EXPECT_EQ(RecordOf(inst).protocol_faults, 0);
}

TEST_F(Protocol, SequenceDataIsAdoptedRestoredAndNeverLeaked) {
  const size_t base = LiveHandleCount();
  {
    Effect effect(host, file);
    EXPECT_NE(effect.global_data(), nullptr);
    std::vector<uint8_t> stored;
    {
      Instance inst(effect, TimeBase{}, 4, 4);
      World in(4, 4), out(4, 4);
      PF_Handle first = inst.sequence_data();
      inst.SetValue(probe::kMode, Val(probe::kSwapData));
      ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
      EXPECT_NE(inst.sequence_data(), first);  // the plug-in's new handle was adopted
      EXPECT_TRUE(HandleIsLive(inst.sequence_data()));
      EXPECT_EQ(RecordOf(inst).renders, 1);
      inst.SetValue(probe::kMode, Val(probe::kInvert));
      ASSERT_EQ(inst.RenderFrame(100, in.pf(), out.pf()).err, PF_Err_NONE);
      stored = inst.SequenceDataBytes();
      EXPECT_EQ(LiveHandleCount(), base + 2);  // global data and this sequence
    }
    EXPECT_EQ(LiveHandleCount(), base + 1);
    Instance restored(effect, TimeBase{}, 4, 4, stored);
    Record rec = RecordOf(restored);
    EXPECT_EQ(rec.resetups, 1);
    EXPECT_EQ(rec.setups, 1);
    EXPECT_EQ(rec.renders, 2);
    EXPECT_EQ(rec.protocol_faults, 0);
    // The host's copy of the stored bytes went when the plug-in replaced it.
    EXPECT_EQ(LiveHandleCount(), base + 2);
    {
      Instance careless(effect, TimeBase{}, 4, 4);
      careless.SetValue(probe::kMode, Val(probe::kKeepOnSetdown));
    }
    EXPECT_EQ(LiveHandleCount(), base + 2);
  }
  EXPECT_EQ(LiveHandleCount(), base);
}

TEST_F(Protocol, FlatteningEffectsFlattenBeforeTheirBytesAreTaken) {
  const size_t base = LiveHandleCount();
  {
    Effect effect(host, ReadPluginFile(testing::FlatProbePath()));
    EXPECT_EQ(effect.global_out_flags() & PF_OutFlag_SEQUENCE_DATA_NEEDS_FLATTENING,
              PF_OutFlag_SEQUENCE_DATA_NEEDS_FLATTENING);
    Instance inst(effect, TimeBase{}, 4, 4);
    Record first = RecordOf(inst);
    EXPECT_EQ(first.flattens, 1);
    EXPECT_EQ(first.resetups, 0);
    Record second = RecordOf(inst);
    EXPECT_EQ(second.flattens, 2);
    EXPECT_EQ(second.resetups, 0);  // the flat data is kept: later commands receive it as it is
    EXPECT_EQ(second.protocol_faults, 0);
  }
  EXPECT_EQ(LiveHandleCount(), base);
}

TEST_F(Protocol, KeyframesInterpolateOrHold) {
  Effect effect(host, file);
  Instance inst(effect, TimeBase{}, 100, 100);
  inst.AddKey(probe::kAmount, 100, Val(0));
  inst.AddKey(probe::kAmount, 200, Val(0x10000));
  EXPECT_EQ(inst.ValueAt(probe::kAmount, 0).value, 0);  // held before the first key
  EXPECT_EQ(inst.ValueAt(probe::kAmount, 150).value, 0x8000);
  EXPECT_EQ(inst.ValueAt(probe::kAmount, 133).value, 21627);    // 65536 * 0.33 = 21626.88
  EXPECT_EQ(inst.ValueAt(probe::kAmount, 900).value, 0x10000);  // held after the last
  // Halves go away from zero.
  inst.AddKey(probe::kAngle, 0, Val(-10));
  inst.AddKey(probe::kAngle, 2, Val(5));
  EXPECT_EQ(inst.ValueAt(probe::kAngle, 1).value, -3);  // -2.5
  inst.AddKey(probe::kMode, 0, Val(0));
  inst.AddKey(probe::kMode, 2, Val(1));
  EXPECT_EQ(inst.ValueAt(probe::kMode, 1).value, 1);  // 0.5
  // Colours per channel, points per axis.
  inst.AddKey(probe::kTint, 0, Col(0, 0, 0, 0));
  inst.AddKey(probe::kTint, 100, Col(1, 255, 100, 0));
  ParamValue c = inst.ValueAt(probe::kTint, 50);
  EXPECT_EQ(c.color.alpha, 1);
  EXPECT_EQ(c.color.red, 128);
  EXPECT_EQ(c.color.green, 50);
  inst.AddKey(probe::kCentre, 0, Pt(0, 100));
  inst.AddKey(probe::kCentre, 300, Pt(30, -200));
  EXPECT_EQ(inst.ValueAt(probe::kCentre, 100), Pt(10, 0));
  // Popups and check boxes hold until the next key.
  inst.AddKey(probe::kChoice, 0, Val(1));
  inst.AddKey(probe::kChoice, 100, Val(3));
  EXPECT_EQ(inst.ValueAt(probe::kChoice, 99).value, 1);
  EXPECT_EQ(inst.ValueAt(probe::kChoice, 100).value, 3);
  inst.AddKey(probe::kFlag, 50, Val(1));
  inst.AddKey(probe::kFlag, 10, Val(0));
  EXPECT_EQ(inst.ValueAt(probe::kFlag, 49).value, 0);
  EXPECT_EQ(inst.ValueAt(probe::kFlag, 50).value, 1);
  // A key at the same time replaces; a constant value clears the keys.
  inst.AddKey(probe::kChoice, 100, Val(4));
  EXPECT_EQ(inst.ValueAt(probe::kChoice, 500).value, 4);
  inst.SetValue(probe::kChoice, Val(2));
  EXPECT_EQ(inst.ValueAt(probe::kChoice, 0).value, 2);
  EXPECT_EQ(inst.ValueAt(probe::kChoice, 500).value, 2);
}

TEST_F(Protocol, CheckoutGivesTheValueAtTheAskedTime) {
  Effect effect(host, file);
  Instance inst(effect, TimeBase{}, 8, 8);
  inst.SetValue(probe::kMode, Val(probe::kCallService));
  inst.SetValue(probe::kService, Val(6));
  inst.AddKey(probe::kAmount, 0, Val(0));
  inst.AddKey(probe::kAmount, 400, Val(400));
  World in(8, 8), out(8, 8);
  ASSERT_EQ(inst.RenderFrame(100, in.pf(), out.pf()).err, PF_Err_NONE);
  EXPECT_EQ(RecordOf(inst).amount, 100);
  EXPECT_EQ(RecordOf(inst).checkout_amount, 200);  // one frame later
}

TEST_F(Protocol, EveryInjectedFailureReachesTheCaller) {
  Effect effect(host, file);
  World in(8, 8), out(8, 8);
  for (int s = 1; s < probe::kServiceCount; ++s) {
    const std::string service = probe::kServices[s];
    Instance inst(effect, TimeBase{}, 8, 8);
    inst.SetValue(probe::kMode, Val(probe::kCallService));
    inst.SetValue(probe::kService, Val(s));
    // A dry run counts the service's calls in one frame; the last is the probe's own.
    const int before = host.failures().Calls(service);
    inst.RenderFrame(0, in.pf(), out.pf());
    const int per_frame = host.failures().Calls(service) - before;
    ASSERT_GE(per_frame, 1) << service;
    host.failures().Arm(service, per_frame, 9000 + s);
    const PF_Err err = inst.RenderFrame(0, in.pf(), out.pf()).err;
    // Handle services answer NULL rather than an error; the probe reports that as out of memory.
    const PF_Err want = (service == "new_handle" || service == "lock_handle") ? PF_Err_OUT_OF_MEMORY : 9000 + s;
    EXPECT_EQ(err, want) << service;
    host.failures().Clear();
  }
}

TEST_F(Protocol, FailingRegistrationStopsAtTheFirstError) {
  const size_t base = LiveHandleCount();
  host.failures().Arm("add_param", 2, 4321);
  try {
    Effect effect(host, file);
    ADD_FAILURE() << "registration should have failed";
  } catch (const HostError& e) {
    EXPECT_EQ(e.err, 4321);
  }
  EXPECT_EQ(host.failures().Calls("add_param"), 2);
  EXPECT_EQ(LiveHandleCount(), base);  // global data released on the way out
}

TEST_F(Protocol, UnhandledCommandsAndFailedSetupsAreReported) {
  Effect effect(host, file);
  host.failures().Arm("new_handle", 1, 1);
  Instance inst(effect, TimeBase{}, 4, 4);
  EXPECT_EQ(inst.setup_result().err, PF_Err_OUT_OF_MEMORY);
  EXPECT_EQ(inst.sequence_data(), nullptr);
  EXPECT_EQ(inst.Command(PF_Cmd_DO_DIALOG).err, PF_Err_NONE);
  EXPECT_TRUE(inst.SequenceDataBytes().empty());
}

}  // namespace
}  // namespace ombrix
