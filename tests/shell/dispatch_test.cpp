// The entry's dispatch on its own: every command reaches the handler named
// for it and no other, and the hook runs around every call in order.
#include <pf/shell.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

// What ran, in order: handlers as their command, hooks as 100 + cmd (before)
// and 200 + cmd (after).
std::vector<int> g_trace;

template <PF_Cmd kCmd>
PF_Err Handler(PF_InData*, PF_OutData*, PF_ParamDef*[], PF_LayerDef*, void*) {
  g_trace.push_back(kCmd);
  return 1000 + kCmd;
}

constexpr pf::Commands kEveryCommand{
    .about = Handler<PF_Cmd_ABOUT>,
    .global_setup = Handler<PF_Cmd_GLOBAL_SETUP>,
    .global_setdown = Handler<PF_Cmd_GLOBAL_SETDOWN>,
    .params_setup = Handler<PF_Cmd_PARAMS_SETUP>,
    .sequence_setup = Handler<PF_Cmd_SEQUENCE_SETUP>,
    .sequence_resetup = Handler<PF_Cmd_SEQUENCE_RESETUP>,
    .sequence_flatten = Handler<PF_Cmd_SEQUENCE_FLATTEN>,
    .sequence_setdown = Handler<PF_Cmd_SEQUENCE_SETDOWN>,
    .do_dialog = Handler<PF_Cmd_DO_DIALOG>,
    .frame_setup = Handler<PF_Cmd_FRAME_SETUP>,
    .render = Handler<PF_Cmd_RENDER>,
    .frame_setdown = Handler<PF_Cmd_FRAME_SETDOWN>,
    .user_changed_param = Handler<PF_Cmd_USER_CHANGED_PARAM>,
    .update_params_ui = Handler<PF_Cmd_UPDATE_PARAMS_UI>,
    .event = Handler<PF_Cmd_EVENT>,
};

PF_Err Send(const pf::Commands& commands, PF_Cmd cmd) {
  return pf::Dispatch(commands, cmd, nullptr, nullptr, nullptr, nullptr, nullptr);
}

TEST(Dispatch, EachCommandReachesItsOwnHandler) {
  for (PF_Cmd cmd = 0; cmd < PF_Cmd_NUM_CMDS; ++cmd) {
    SCOPED_TRACE(cmd);
    g_trace.clear();
    if (cmd == PF_Cmd_UNUSED_0) {
      EXPECT_EQ(Send(kEveryCommand, cmd), PF_Err_NONE);
      EXPECT_TRUE(g_trace.empty());
    } else {
      EXPECT_EQ(Send(kEveryCommand, cmd), 1000 + cmd);
      EXPECT_EQ(g_trace, std::vector<int>{cmd});
    }
  }
}

TEST(Dispatch, OutOfRangeAndUnnamedCommandsRunNothing) {
  const pf::Commands render_only{.render = Handler<PF_Cmd_RENDER>};
  g_trace.clear();
  for (PF_Cmd cmd : {PF_Cmd(-1), PF_Cmd(16), PF_Cmd(0x7FFFFFFF), PF_Cmd(-0x7FFFFFFF - 1)})
    EXPECT_EQ(Send(kEveryCommand, cmd), PF_Err_NONE) << cmd;
  for (PF_Cmd cmd : {PF_Cmd_ABOUT, PF_Cmd_FRAME_SETUP, PF_Cmd_EVENT})
    EXPECT_EQ(Send(render_only, cmd), PF_Err_NONE) << cmd;
  EXPECT_TRUE(g_trace.empty());
}

PF_Err Before(PF_Cmd cmd, PF_InData*, PF_OutData*) {
  g_trace.push_back(100 + cmd);
  return PF_Err_NONE;
}

PF_Err RefuseSetdown(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data) {
  Before(cmd, in_data, out_data);
  return cmd == PF_Cmd_SEQUENCE_SETDOWN ? PF_Err_OUT_OF_MEMORY : PF_Err_NONE;
}

// Reports the handler's result in the trace and replaces it.
PF_Err After(PF_Cmd cmd, PF_InData*, PF_OutData*, PF_Err err) {
  g_trace.push_back(200 + cmd);
  g_trace.push_back(err);
  return err == PF_Err_NONE ? PF_Err_NONE : err + 1;
}

TEST(Dispatch, HookRunsAroundEveryCall) {
  pf::Commands hooked = kEveryCommand;
  hooked.before = Before;
  hooked.after = After;
  hooked.event = nullptr;
  struct Case {
    PF_Cmd cmd;
    PF_Err result;
    std::vector<int> trace;
  };
  const Case cases[] = {
      {PF_Cmd_RENDER, 1012, {111, 11, 211, 1011}},           // after sees the handler's result
      {PF_Cmd_EVENT, PF_Err_NONE, {115, 215, PF_Err_NONE}},  // unnamed: hooks only
      {PF_Cmd(40), PF_Err_NONE, {140, 240, PF_Err_NONE}},    // out of range: hooks only
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cmd);
    g_trace.clear();
    EXPECT_EQ(Send(hooked, c.cmd), c.result);
    EXPECT_EQ(g_trace, c.trace);
  }
}

TEST(Dispatch, ErrorBeforeTheCallEndsIt) {
  pf::Commands hooked = kEveryCommand;
  hooked.before = RefuseSetdown;
  hooked.after = After;
  g_trace.clear();
  EXPECT_EQ(Send(hooked, PF_Cmd_SEQUENCE_SETDOWN), PF_Err_OUT_OF_MEMORY);
  EXPECT_EQ(g_trace, std::vector<int>{100 + PF_Cmd_SEQUENCE_SETDOWN});
  // Only `before` is set: the handler's result is the entry's.
  hooked.after = nullptr;
  g_trace.clear();
  EXPECT_EQ(Send(hooked, PF_Cmd_PARAMS_SETUP), 1000 + PF_Cmd_PARAMS_SETUP);
  EXPECT_EQ(g_trace, (std::vector<int>{100 + PF_Cmd_PARAMS_SETUP, PF_Cmd_PARAMS_SETUP}));
}

}  // namespace
