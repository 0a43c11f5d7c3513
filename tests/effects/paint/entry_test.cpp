// The Paint plug-in through the host: registration, global data, the life
// of the drawing in the sequence data (set up, restored in either byte
// order, flattened, rendered from flat data) and the failure answers.
#include <ombrix/host/host.h>
#include <ombrix/platform/headless.h>
#include <ombrix/platform/registry.h>
#include <ombrix/platform/tablet.h>
#include <ombrix/platform/view.h>
#include <ombrix/platform/window.h>

#include <pf/suites.h>

#include "effects/common/effect_test.h"

#include "flat_drawing.h"
#include "globals.h"
#include "local_handles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace effect_test;
using ombrix::CommandResult;
using ombrix::Effect;
using ombrix::Host;
using ombrix::HostOptions;
using ombrix::Instance;
using ombrix::TimeBase;
using ombrix::World;
namespace plat = ombrix::platform;

using Bytes = std::vector<uint8_t>;

constexpr A_long kW = 9, kH = 5;

// A host with Paint loaded and a registry of the test's own.
struct PaintHost {
  explicit PaintHost(const std::string& test) : dir(test), host(Options(dir)), effect(host, TestPlugin("paint.aex")) {}
  static HostOptions Options(const TestDir& dir) {
    HostOptions o;
    o.registry_dir = dir.path / "registry";
    return o;
  }
  TestDir dir;
  Host host;
  Effect effect;
};

uint32_t Word(const Bytes& b, size_t i) {
  uint32_t w = 0;
  std::memcpy(&w, b.data() + 4 * i, 4);
  return w;
}

// Two strokes of three points, stored in the given byte order.
Bytes StoredDrawing(paint::ByteOrder order) {
  paint::MemoryBlock* drawing = paint::NewDrawing();
  for (int s = 0; s < 2; ++s) {
    paint::MemoryBlock* stroke = paint::BeginStroke(0.5f * float(s), paint::DefaultBrush());
    for (int p = 0; p < 3; ++p)
      paint::AppendStrokePoint(stroke, paint::StrokePoint{0.1f * float(p), 0.25f * float(p), 0.5f, 0.75f});
    paint::EndStrokeAfter(drawing, stroke, 0.25f);
  }
  const PF_UtilCallbacks* u = paint::LocalHandleServices();
  paint::DrawingRef ref{drawing, nullptr};
  EXPECT_EQ(paint::Flatten(u, ref, order).err, PF_Err_NONE);
  const auto* data = static_cast<const uint8_t*>(u->host_lock_handle(ref.flat));
  Bytes bytes(data, data + u->host_get_handle_size(ref.flat));
  u->host_unlock_handle(ref.flat);
  paint::DisposeDrawing(u, ref);
  return bytes;
}

World Layer() {
  World in(kW, kH, 8);
  RandomPixels(in, 77);
  return in;
}

bool SameWorld(const World& a, const World& b) {
  for (A_long y = 0; y < a.height(); ++y)
    if (std::memcmp(a.Row(y), b.Row(y), size_t(4 * a.width())) != 0) return false;
  return true;
}

TEST(PaintEntry, RegistersItsIdentityParametersAndCustomUi) {
  PaintHost p("registration");
  const ombrix::PiplInfo& pipl = p.effect.file().pipl;
  EXPECT_EQ(pipl.display_name, "OB Paint");
  EXPECT_EQ(pipl.category, "Ombrix One");
  EXPECT_EQ(pipl.match_name, "obx Basic Paint");
  EXPECT_EQ(pipl.api_major, 12);
  EXPECT_EQ(pipl.api_minor, 1);
  EXPECT_EQ(pipl.effect_version, 0x80600u);
  EXPECT_EQ(pipl.global_flags, 0x8035u);
  EXPECT_EQ(p.effect.my_version(), 0x80600u);
  EXPECT_EQ(p.effect.global_out_flags(), 0x8035);
  EXPECT_EQ(p.effect.num_params(), 6);

  const auto& defs = p.effect.params();
  ASSERT_EQ(defs.size(), 6u);
  const struct {
    PF_ParamType kind;
    const char* name;
    PF_ParamFlags flags;
  } rows[] = {{PF_Param_NO_DATA, "Brush Settings", 0},
              {PF_Param_POPUP, "Draw Strokes...", 0},
              {PF_Param_FIX_SLIDER, "Animation Speed", 0x20},
              {PF_Param_CHECKBOX, " ", 0x20},
              {PF_Param_POPUP, "Composite Paint...", 0}};
  for (int i = 1; i < 6; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(defs[i].param_type, rows[i - 1].kind);
    EXPECT_STREQ(defs[i].name, rows[i - 1].name);
    EXPECT_EQ(defs[i].flags, rows[i - 1].flags);
  }
  EXPECT_EQ(defs[1].ui_flags, PF_PUI_CONTROL);
  EXPECT_EQ(defs[1].ui_width, 260);
  EXPECT_EQ(defs[1].ui_height, 74);
  EXPECT_EQ(p.effect.PopupItems(2), (std::vector<std::string>{"All Strokes", "Past Strokes", "Hold Strokes",
                                                              "Animate Strokes", "Current Frame", "Onion Skin"}));
  EXPECT_EQ(defs[2].u.pd.dephault, 1);
  const PF_FixedSliderDef& speed = defs[3].u.fd;
  EXPECT_EQ(speed.valid_min, 0x100);
  EXPECT_EQ(speed.valid_max, 100 * 65536);
  EXPECT_EQ(speed.slider_min, 65536 / 4);
  EXPECT_EQ(speed.slider_max, 5 * 65536);
  EXPECT_EQ(speed.dephault, 65536);
  EXPECT_EQ(speed.precision, 2);
  EXPECT_EQ(speed.display_flags, 0);
  EXPECT_EQ(p.effect.CheckboxLabel(4), "Speed affects insert time");
  EXPECT_EQ(defs[4].u.bd.dephault, 0);
  const std::vector<std::string> composite = p.effect.PopupItems(5);
  ASSERT_EQ(composite.size(), 11u);
  EXPECT_EQ(composite[3], "Over Original");
  for (int separator : {2, 5, 8}) EXPECT_EQ(composite[size_t(separator)], "(-");
  EXPECT_EQ(defs[5].u.pd.dephault, 2);

  ASSERT_TRUE(p.effect.custom_ui().has_value());
  EXPECT_EQ(p.effect.custom_ui()->events, 7);
}

TEST(PaintEntry, GlobalDataHasNoTabletAndTheStoredPreferences) {
  PaintHost p("globals");
  ASSERT_EQ(ombrix::HandleSize(p.effect.global_data()), sizeof(paint::PaintGlobals));
  paint::PaintGlobals g;
  std::memcpy(&g, *p.effect.global_data(), sizeof g);
  EXPECT_EQ(g.tablet, nullptr);
  EXPECT_FALSE(g.tablet_available || g.tablet_in_use || g.mouse_drawing_disabled || g.high_res_coordinates);
  const float identity[] = {1, 1, 0, 0, 1, 0};
  const float got[] = {g.x_scale, g.y_scale, g.x_offset, g.y_offset, g.pressure_scale, g.pressure_offset};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(got[i], identity[i]) << i;
  EXPECT_EQ(g.tool, paint::kToolPaint);
  EXPECT_EQ(g.tool_after_eyedropper, paint::kToolPaint);
  // A new store holds the default preferences: every interface option on,
  // two onion frames each way.
  EXPECT_TRUE(g.show_actual_brush_size && g.better_preview && g.show_toolbar && g.swedish_ui);
  EXPECT_EQ(g.onion.frames_back, 2);
  EXPECT_EQ(g.onion.frames_forward, 2);
}

// With a tablet driver the global data holds the open tablet, its
// conversion and the tablet preferences; it is closed at GLOBAL_SETDOWN.
TEST(PaintEntry, GlobalSetupOpensTheTabletAndSetdownClosesIt) {
  plat::TabletDriver d;
  d.in_ext_x = 3840, d.in_ext_y = 2160, d.sys_ext_x = 1920, d.sys_ext_y = 1080;
  d.pressure_min = 0, d.pressure_max = 1023;
  plat::SetTabletDriver(d);
  {
    PaintHost p("tablet");
    paint::PaintGlobals g;
    std::memcpy(&g, *p.effect.global_data(), sizeof g);
    EXPECT_NE(g.tablet, nullptr);
    EXPECT_TRUE(g.tablet_available && g.tablet_in_use && g.tablet_has_pressure);
    EXPECT_TRUE(g.mouse_drawing_disabled && g.high_res_coordinates);  // stored defaults, now in force
    const float want[] = {0.5f, 0.5f, 0, 1080, 1.0f / 1023, 0};
    const float got[] = {g.x_scale, g.y_scale, g.x_offset, g.y_offset, g.pressure_scale, g.pressure_offset};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(got[i], want[i]) << i;
    EXPECT_EQ(plat::TabletDriverRecords().open_contexts, 1);
  }
  const plat::TabletDriverRecord r = plat::TabletDriverRecords();
  EXPECT_EQ(r.open_contexts, 0);
  EXPECT_EQ(r.frees, r.loads);
  EXPECT_FALSE(plat::IsWindowClassRegistered("Ombrix1PaintWClass"));
  plat::RemoveTabletDriver();
}

TEST(PaintEntry, UnusedCommandsAnswerSuccessAndChangeNothing) {
  PaintHost p("unused");
  Instance inst(p.effect, TimeBase{}, kW, kH, StoredDrawing(paint::ByteOrder::kNative));
  const PF_Handle before = inst.sequence_data();
  const PF_Cmd commands[] = {
      2, PF_Cmd_FRAME_SETUP, PF_Cmd_FRAME_SETDOWN, PF_Cmd_USER_CHANGED_PARAM, PF_Cmd_UPDATE_PARAMS_UI, 16, 40};
  for (PF_Cmd cmd : commands) {
    SCOPED_TRACE(cmd);
    const CommandResult r = inst.Command(cmd);
    EXPECT_EQ(r.err, PF_Err_NONE);
    EXPECT_EQ(r.out_flags, 0);
    EXPECT_EQ(r.message, "");
    EXPECT_EQ(inst.sequence_data(), before);
  }
  EXPECT_EQ(inst.SequenceDataBytes(), StoredDrawing(paint::ByteOrder::kNative));
}

TEST(PaintEntry, AboutEventAndSetupAnswer) {
  PaintHost p("about");
  PF_InData in = p.effect.BaseInData();
  PF_OutData out{};
  ASSERT_EQ(p.effect.Send(PF_Cmd_ABOUT, in, out, nullptr, nullptr, nullptr), PF_Err_NONE);
  EXPECT_EQ(std::string(out.return_msg).rfind("OB Paint, v1.0  ", 0), 0u) << out.return_msg;

  Instance inst(p.effect, TimeBase{}, kW, kH);
  EXPECT_EQ(inst.setup_result().err, PF_Err_NONE);
  EXPECT_EQ(inst.flat_sdata_size(), 216);
  // A click in a composition window with nothing recorded by the mouse
  // hook opens the popup menu, which no answer closes.
  PF_EventExtra event{};
  PF_Context context{};
  plat::View* view = plat::CreateView(kW, kH);
  context.w_type = PF_Window_COMP;
  context.reserved_drawref = view;
  event.contextH = &context;
  event.e_type = PF_Event_DO_CLICK;
  EXPECT_EQ(inst.Command(PF_Cmd_EVENT, 0, &event).err, PF_Err_NONE);
  plat::DestroyView(view);
  // A new drawing is saved as its bare header: version 264, flat, no strokes.
  const Bytes saved = inst.SequenceDataBytes();
  ASSERT_EQ(saved.size(), 216u);
  EXPECT_EQ(Word(saved, 0), 264u);
  EXPECT_EQ(Word(saved, 2), 216u);
  EXPECT_EQ(Word(saved, 5), 0u);
  EXPECT_EQ(inst.flat_sdata_size(), 216);
}

TEST(PaintEntry, StoredDrawingsComeBackInEitherByteOrderAndRenderFromFlatData) {
  PaintHost p("restore");
  const size_t handles = ombrix::LiveHandleCount();
  const Bytes native = StoredDrawing(paint::ByteOrder::kNative);
  for (paint::ByteOrder order : {paint::ByteOrder::kNative, paint::ByteOrder::kReversed}) {
    SCOPED_TRACE(order == paint::ByteOrder::kNative ? "native" : "reversed");
    Instance inst(p.effect, TimeBase{}, kW, kH, StoredDrawing(order));
    EXPECT_EQ(inst.setup_result().err, PF_Err_NONE);
    EXPECT_EQ(inst.setup_result().message, "");
    // Unflat while it runs: the host holds the 8-byte wrapper.
    EXPECT_EQ(ombrix::HandleSize(inst.sequence_data()), 8u);
    // RESETUP on a drawing that is already unflat keeps it.
    EXPECT_EQ(inst.Command(PF_Cmd_SEQUENCE_RESETUP).err, PF_Err_NONE);
    EXPECT_EQ(inst.SequenceDataBytes(), native);

    // The host now holds the flat data; a render rebuilds the drawing and
    // paints its white strokes over the layer.
    World in = Layer(), out(kW, kH, 4);
    ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
    EXPECT_FALSE(SameWorld(in, out));
    EXPECT_TRUE(effect_test::Same(out.At(1, 2), PF_Pixel{255, 255, 255, 255}));
    EXPECT_EQ(ombrix::HandleSize(inst.sequence_data()), 8u);
    // The render notes its mode (word 13) and each stroke's points drawn (word 11).
    Bytes rendered = native;
    const uint32_t mode = 1, drawn = 3;
    std::memcpy(rendered.data() + 4 * 13, &mode, 4);
    for (uint32_t s = 0; s < 2; ++s) std::memcpy(rendered.data() + Word(native, 8) + 68 * s + 4 * 11, &drawn, 4);
    EXPECT_EQ(inst.SequenceDataBytes(), rendered);
    EXPECT_EQ(inst.Duplicate()->SequenceDataBytes(), rendered);
  }
  EXPECT_EQ(ombrix::LiveHandleCount(), handles);
}

TEST(PaintEntry, UnreadableStoredDataGivesAnEmptyDrawingWithTheReason) {
  PaintHost p("unreadable");
  Bytes old = StoredDrawing(paint::ByteOrder::kNative);
  const uint32_t v261 = 261;
  std::memcpy(old.data(), &v261, 4);
  Bytes cut = StoredDrawing(paint::ByteOrder::kNative);
  cut.resize(cut.size() - 4);
  const struct {
    const char* what;
    Bytes stored;
    const char* message;
  } cases[] = {
      {"old version", old, paint::kMsgOldVersion},
      {"cut short", cut, paint::kMsgDamaged},
      {"not a drawing", Bytes(100, 0x5A), paint::kMsgDamaged},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const size_t handles = ombrix::LiveHandleCount();
    {
      Instance inst(p.effect, TimeBase{}, kW, kH, c.stored);
      EXPECT_EQ(inst.setup_result().err, PF_Err_NONE);
      EXPECT_EQ(inst.setup_result().message, c.message);
      EXPECT_TRUE(inst.setup_result().out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE);
      const Bytes saved = inst.SequenceDataBytes();
      ASSERT_EQ(saved.size(), 216u);
      EXPECT_EQ(Word(saved, 5), 0u);
    }
    EXPECT_EQ(ombrix::LiveHandleCount(), handles);
  }
}

TEST(PaintEntry, FlattenFailuresKeepTheDrawingAndSayWhy) {
  PaintHost p("flatten");
  const Bytes native = StoredDrawing(paint::ByteOrder::kNative);
  {
    Instance inst(p.effect, TimeBase{}, kW, kH, native);
    p.host.failures().Arm("new_handle", 1, PF_Err_OUT_OF_MEMORY);
    const CommandResult r = inst.Command(PF_Cmd_SEQUENCE_FLATTEN);
    p.host.failures().Clear();
    EXPECT_EQ(r.err, PF_Err_MAC_OUT_OF_MEMORY);
    EXPECT_EQ(r.message, paint::kMsgSaveNoMemory);
    EXPECT_TRUE(r.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE);
    EXPECT_EQ(inst.flat_sdata_size(), 0);
    EXPECT_EQ(inst.SequenceDataBytes(), native);

    // Once the drawing is gone there is nothing to save.
    ASSERT_EQ(inst.Command(PF_Cmd_SEQUENCE_SETDOWN).err, PF_Err_NONE);
    const CommandResult none = inst.Command(PF_Cmd_SEQUENCE_FLATTEN);
    EXPECT_EQ(none.err, 517);
    EXPECT_EQ(none.message, "Drawing damaged, suggest restarting application. OB Paint");
  }
  // Flat data of no bytes at all cannot be saved either.
  PF_Handle empty = p.host.memory().NewHandle(0);
  PF_InData in = p.effect.BaseInData();
  in.sequence_data = empty;
  PF_OutData out{};
  out.sequence_data = empty;
  std::string message;
  p.host.on_message = [&](std::string_view m) { message = m; };
  EXPECT_EQ(p.effect.Send(PF_Cmd_SEQUENCE_FLATTEN, in, out, nullptr, nullptr, nullptr), PF_Err_MAC_OUT_OF_MEMORY);
  EXPECT_EQ(message, "Drawing damaged, strokes will be lost. OB Paint");
  EXPECT_EQ(out.flat_sdata_size, 0);
  p.host.memory().DisposeHandle(out.sequence_data);
}

TEST(PaintEntry, AWrapperThatCannotBeMadeHandsTheDrawingOverFlat) {
  PaintHost p("wrapper");
  // The first new handle of SETUP is the wrapper: the drawing goes to the host flat.
  p.host.failures().Arm("new_handle", 1, PF_Err_OUT_OF_MEMORY);
  Instance flat(p.effect, TimeBase{}, kW, kH);
  p.host.failures().Clear();
  EXPECT_EQ(flat.setup_result().err, PF_Err_NONE);
  EXPECT_EQ(ombrix::HandleSize(flat.sequence_data()), 216u);

  // With no memory for the flat form either, the drawing is lost and the user told.
  p.host.failures().Arm("new_handle", 1, PF_Err_OUT_OF_MEMORY);
  p.host.failures().Arm("new_handle", 2, PF_Err_OUT_OF_MEMORY);
  Instance lost(p.effect, TimeBase{}, kW, kH);
  p.host.failures().Clear();
  EXPECT_EQ(lost.setup_result().err, PF_Err_INTERNAL_STRUCT_DAMAGED);
  EXPECT_EQ(lost.setup_result().message, "Out of memory. OB Paint");
  EXPECT_EQ(lost.sequence_data(), nullptr);
}

TEST(PaintEntry, MissingAppSuiteIsReportedOnceAndLoadingGoesOn) {
  TestDir dir("suite");
  HostOptions o;
  o.registry_dir = dir.path / "registry";
  Host host(o);
  std::vector<std::string> messages;
  host.on_message = [&](std::string_view m) { messages.emplace_back(m); };
  host.failures().Arm("acquire_suite", 1, 9000);
  Effect effect(host, TestPlugin("paint.aex"));
  EXPECT_EQ(messages, std::vector<std::string>{"Not able to acquire AEFX Suite."});
  EXPECT_EQ(host.failures().Calls("acquire_suite"), 1);
  // The fonts are asked for once per process: later calls do not try again.
  Instance inst(effect, TimeBase{}, kW, kH);
  World in = Layer(), out(kW, kH);
  EXPECT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
  EXPECT_EQ(host.failures().Calls("acquire_suite"), 1);
  EXPECT_EQ(messages.size(), 1u);
}

TEST(PaintEntry, FontsAreFetchedOnceAndTheSuiteReleased) {
  PaintHost p("fonts");
  EXPECT_EQ(p.host.failures().Calls("acquire_suite"), 1);
  EXPECT_EQ(p.host.failures().Calls("font_style_sheet"), 2);
  EXPECT_EQ(p.host.suites().Held(kPFAppSuite), 0);
}

TEST(PaintEntry, DialogEditsThePreferencesOfTheGlobalData) {
  PaintHost p("dialog");
  Instance inst(p.effect, TimeBase{}, kW, kH);
  auto frames_back = [](PF_Handle h) {
    paint::PaintGlobals g;
    std::memcpy(&g, *h, sizeof g);
    return g.onion.frames_back;
  };
  plat::DialogScript script;
  std::string error;
  ASSERT_TRUE(plat::ParseDialogScript("set 1012=7; ok", &script, &error)) << error;
  plat::PushDialogScript(script);
  EXPECT_EQ(inst.Command(PF_Cmd_DO_DIALOG).err, PF_Err_NONE);
  EXPECT_EQ(frames_back(p.effect.global_data()), 7);

  // Without global data from the host it is made, and the dialog edits it.
  ASSERT_TRUE(plat::ParseDialogScript("set 1012=9; ok", &script, &error)) << error;
  plat::PushDialogScript(script);
  PF_InData in = p.effect.BaseInData();
  in.global_data = nullptr;
  PF_OutData out{};
  EXPECT_EQ(p.effect.Send(PF_Cmd_DO_DIALOG, in, out, nullptr, nullptr, nullptr), PF_Err_NONE);
  ASSERT_NE(out.global_data, nullptr);
  EXPECT_EQ(ombrix::HandleSize(out.global_data), sizeof(paint::PaintGlobals));
  EXPECT_EQ(frames_back(out.global_data), 9);
  ombrix::DisposeHandle(out.global_data);
  plat::ClearDialogScripts();
}

}  // namespace
