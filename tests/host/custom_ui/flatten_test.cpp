// Sequence data that must be flattened: saved flat, kept flat until the
// plug-in unflattens it, handed back through RESETUP, and duplicated.
#include "uiprobe_host.h"

namespace ombrix {
namespace {

using testing::SavedOf;
using testing::TestEvent;
using testing::UiProbeHost;
using testing::Value;

TEST_F(UiProbeHost, FlatDataIsSavedKeptAndHandedBack) {
  const size_t base = LiveHandleCount();
  {
    Instance inst(effect, TimeBase{}, 8, 8);
    EXPECT_EQ(inst.flat_sdata_size(), A_long(sizeof(uiprobe::Flat)));
    World in(8, 8), out(8, 8);
    ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
    // Saved: the flat data only, not the padding of the handle it sits in.
    testing::Saved saved = SavedOf(inst.SequenceDataBytes());
    EXPECT_EQ(saved.log, "S-RUFU");
    EXPECT_EQ(saved.count, 1);
    EXPECT_EQ(HandleSize(inst.sequence_data()), sizeof(uiprobe::Flat) + uiprobe::kFlatPadding);

    // The next commands receive the flat data; the first unflattens it.
    ASSERT_EQ(inst.RenderFrame(100, in.pf(), out.pf()).err, PF_Err_NONE);
    TestEvent click(PF_Window_COMP, PF_Event_DO_CLICK);
    ASSERT_EQ(inst.Command(PF_Cmd_EVENT, 100, click.extra()).err, PF_Err_NONE);

    // A duplicate gets the flattened data through RESETUP, and the tracks.
    inst.SetValue(uiprobe::kStep, Value(3));
    std::unique_ptr<Instance> copy = inst.Duplicate();
    EXPECT_EQ(copy->setup_result().err, PF_Err_NONE);
    ASSERT_EQ(copy->RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);

    saved = SavedOf(inst.SequenceDataBytes());
    EXPECT_EQ(saved.log, "S-RUFURFEUFUFF");
    EXPECT_EQ(saved.count, 3);
    saved = SavedOf(copy->SequenceDataBytes());
    EXPECT_EQ(saved.log, "S-RUFURFEUFUrFRUFU");
    EXPECT_EQ(saved.count, 3 + 3);

    // Stored bytes come back through RESETUP as well.
    Instance restored(effect, TimeBase{}, 8, 8, inst.SequenceDataBytes());
    EXPECT_EQ(SavedOf(restored.SequenceDataBytes()).log, "S-RUFURFEUFUFFFFrFFU");
  }
  EXPECT_EQ(LiveHandleCount(), base);
}

TEST_F(UiProbeHost, FlatSizeBeyondItsHandleIsRefused) {
  Instance inst(effect, TimeBase{}, 8, 8);
  inst.SetValue(uiprobe::kStep, Value(uiprobe::kStepOversized));
  try {
    inst.SequenceDataBytes();
    ADD_FAILURE() << "a flat size past the handle was read";
  } catch (const HostError& e) {
    EXPECT_EQ(e.err, PF_Err_INTERNAL_STRUCT_DAMAGED);
  }
}

}  // namespace
}  // namespace ombrix
