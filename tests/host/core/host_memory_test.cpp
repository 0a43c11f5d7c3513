// Two hosts in one process: each keeps the memory of its plug-ins to itself,
// and either can go while the other goes on working.
#include <ombrix/host/host.h>

#include <gtest/gtest.h>

#include <memory>

#include "probe_host.h"

namespace ombrix {
namespace {

ParamValue Val(A_long v) { return ParamValue{v, 0, 0, {}}; }

// An effect of the probe plug-in with one instance, on a host of its own.
struct Side {
  Side() : effect(host, ReadPluginFile(testing::ProbePath())), inst(effect, TimeBase{}, 8, 8) {
    host.on_message = [](std::string_view) {};
  }
  Host host;
  Effect effect;
  Instance inst;
};

TEST(TwoHosts, KeepTheirMemoryApartAndOutliveEachOther) {
  auto a = std::make_unique<Side>();
  Side b;
  // Global data and sequence data, each in its own host's memory.
  for (Side* side : {a.get(), &b}) EXPECT_EQ(side->host.memory().Live().handles, 2u);
  PF_Handle a_data = a->inst.sequence_data(), b_data = b.inst.sequence_data();
  EXPECT_TRUE(a->host.memory().HandleIsLive(a_data));
  EXPECT_FALSE(b.host.memory().HandleIsLive(a_data));
  EXPECT_FALSE(a->host.memory().HandleIsLive(b_data));

  // A world made by a's effect; then, during a command of b (its progress
  // report), b's services do not reach a's handle or world.
  PF_InData a_in = a->effect.BaseInData();
  PF_EffectWorld a_world;
  ASSERT_EQ(a_in.utils->new_world(a_in.effect_ref, 4, 4, PF_WorldFlag_NONE, &a_world), PF_Err_NONE);
  EXPECT_EQ(a->host.memory().Live().worlds, 1u);
  EXPECT_EQ(b.host.memory().Live().worlds, 0u);
  PF_InData b_in = b.effect.BaseInData();
  int reports = 0;
  b.host.on_progress = [&](A_long, A_long) {
    ++reports;
    EXPECT_EQ(b_in.utils->host_lock_handle(a_data), nullptr);
    EXPECT_EQ(b_in.utils->host_get_handle_size(a_data), 0u);
    b_in.utils->host_dispose_handle(a_data);
    PF_EffectWorld w = a_world;
    EXPECT_EQ(b_in.utils->dispose_world(b_in.effect_ref, &w), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_NE(b_in.utils->host_lock_handle(b_data), nullptr);
  };
  b.inst.SetValue(probe::kMode, Val(probe::kCallService));
  b.inst.SetValue(probe::kService, Val(9));  // progress
  World in(8, 8), out(8, 8);
  ASSERT_EQ(b.inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
  EXPECT_EQ(reports, 1);
  EXPECT_TRUE(a->host.memory().HandleIsLive(a_data));
  EXPECT_EQ(a->host.memory().Live().worlds, 1u);

  // a goes, the world its plug-in never disposed with it; b renders on.
  const size_t handles = LiveHandleCount(), worlds = LiveWorldCount();
  a.reset();
  EXPECT_EQ(LiveHandleCount(), handles - 2);
  EXPECT_EQ(LiveWorldCount(), worlds - 1);
  b.host.on_progress = nullptr;
  b.inst.SetValue(probe::kMode, Val(probe::kInvert));
  ASSERT_EQ(b.inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
  EXPECT_EQ(out.At(3, 3).red, 255);
  EXPECT_EQ(testing::RecordOf(b.inst).renders, 2);
  EXPECT_EQ(b.host.memory().Live().handles, 2u);
}

}  // namespace
}  // namespace ombrix
