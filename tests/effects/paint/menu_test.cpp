// The popup menu's state and commands on small drawings, the undo store
// with its redo, and the boxes the commands open (answered by scripts).
#include <gtest/gtest.h>

#include <ombrix/platform/headless.h>
#include <ombrix/platform/input.h>
#include <ombrix/platform/message_box.h>

#include <set>
#include <string>
#include <vector>

#include "platform/scratch_dir.h"
#include "menu.h"
#include "resources.h"
#include "set_dialog.h"

namespace {

using namespace paint;
namespace plat = ombrix::platform;

struct StrokeSpec {
  float time;
  float radius = 5.0f;
  float red = 1.0f;
};

class MenuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::ResetHeadless();
    drawing_ = NewDrawing();
    InitPaintGlobals(&globals_);
    ctx_.drawing = drawing_;
    ctx_.globals = &globals_;
    ctx_.parent = plat::MainWindow();
  }
  void TearDown() override {
    DisposeDrawing(drawing_);
    EXPECT_EQ(LiveMemoryBlocks(), 0u);
    plat::ResetHeadless();
  }

  DrawingHeader& H() { return *HeaderOf(drawing_); }

  // Files a two-point stroke; ids are issued 2, 3, ...
  void Add(const StrokeSpec& s) {
    BrushSettings b = DefaultBrush();
    b.radius = s.radius;
    b.red = s.red;
    MemoryBlock* stroke = BeginStroke(s.time, b);
    ASSERT_TRUE(AppendStrokePoint(stroke, {0.0f, 0.1f, 0.1f, 1.0f}));
    ASSERT_TRUE(AppendStrokePoint(stroke, {0.1f, 0.2f, 0.2f, 1.0f}));
    ASSERT_TRUE(EndStrokeAfter(drawing_, stroke, 0.1f));
  }
  void AddMany(int n) {
    for (int i = 0; i < n; ++i) Add({float(i)});
  }

  // The ids of the selected strokes (flags only count with a selection).
  std::set<int32_t> Selected() {
    std::set<int32_t> ids;
    for (int32_t i = 0; i < StrokeCount(drawing_); ++i) {
      if (StrokeAt(drawing_, i)->selected) ids.insert(StrokeAt(drawing_, i)->id);
    }
    if (!ids.empty()) {
      EXPECT_NE(H().selection_state, 0);
    }
    return ids;
  }
  std::set<int32_t> Ids() {
    std::set<int32_t> ids;
    for (int32_t i = 0; i < StrokeCount(drawing_); ++i) ids.insert(StrokeAt(drawing_, i)->id);
    return ids;
  }
  const StrokeRecord& ById(int32_t id) {
    for (int32_t i = 0; i < StrokeCount(drawing_); ++i) {
      if (StrokeAt(drawing_, i)->id == id) return *StrokeAt(drawing_, i);
    }
    ADD_FAILURE() << "no stroke " << id;
    return *StrokeAt(drawing_, 0);
  }
  CommandResult Run(int id) { return RunMenuCommand(ctx_, id); }

  MemoryBlock* drawing_ = nullptr;
  PaintGlobals globals_;
  CommandContext ctx_;
};

// ---------------------------------------------------------------------------
// The menu as it opens
// ---------------------------------------------------------------------------

// What the popup shows for every item, as the platform recorded it.
std::vector<plat::MenuItemRecord> Shown(const CommandContext& ctx) {
  plat::ClearMenuRecords();
  plat::PushMenuAnswer(0);
  RunPopupMenu(ctx, 10, 20, nullptr);
  const auto records = plat::MenuRecords();
  return records.empty() ? std::vector<plat::MenuItemRecord>{} : records.back().items;
}

TEST_F(MenuTest, ItemsAreOfferedAsTheDrawingAndToolAllow) {
  struct Case {
    const char* state;
    std::set<int> disabled;  // among the items below
  };
  const std::vector<int> watched = {kCmdUndo,           kCmdToolSelect,    kCmdToolEyedropper,   kCmdColorPicker,
                                    kCmdSelectAll,      kCmdSelectNone,    kCmdSelectSimilar,    kCmdSelectInverse,
                                    kCmdDeleteSelected, kCmdDeleteAll,     kCmdCopySmart,        kCmdPasteSmart,
                                    kCmdPasteRadius,    kCmdSettingsLabel, kCmdShiftPaintInserts};
  const std::set<int> always_off = {kCmdSettingsLabel, kCmdShiftPaintInserts};
  auto with = [&](std::set<int> s) {
    s.insert(always_off.begin(), always_off.end());
    return s;
  };
  const std::set<int> selection_items = {kCmdSelectNone, kCmdSelectSimilar, kCmdSelectInverse, kCmdDeleteSelected,
                                         kCmdCopySmart,  kCmdPasteSmart,    kCmdPasteRadius};
  std::set<int> empty = selection_items;
  empty.insert({kCmdUndo, kCmdToolSelect, kCmdSelectAll, kCmdDeleteAll});
  std::set<int> no_selection = selection_items;
  no_selection.insert({kCmdToolEyedropper, kCmdColorPicker});

  auto check = [&](const char* state, const std::set<int>& disabled) {
    SCOPED_TRACE(state);
    const auto items = Shown(ctx_);
    ASSERT_FALSE(items.empty());
    for (int id : watched) {
      EXPECT_EQ(MenuItemEnabled(ctx_, id), !disabled.count(id)) << id;
    }
    // The popup grays out exactly what MenuItemEnabled refuses.
    for (const auto& item : items) {
      if (item.popup || item.separator) continue;
      EXPECT_EQ(item.reachable, MenuItemEnabled(ctx_, item.id)) << item.path;
      EXPECT_EQ(item.checked, MenuItemChecked(ctx_, item.id)) << item.path;
    }
  };
  check("empty drawing", with(empty));
  Add({0.0f});
  SetColorClone(H(), true);
  check("a stroke, no selection, Color Clone on", with(no_selection));
  SetColorClone(H(), false);
  Run(kCmdSelectAll);
  check("a stroke selected, undo available", with({}));
  ClearUndoStore(H());
  check("undo store empty", with({kCmdUndo}));
}

TEST_F(MenuTest, ChecksFollowToolBrushAndOptions) {
  globals_.tool = kToolEraser;
  H().brush.type = kBrushPaint + kEraserOffset;  // an eraser of the Paint shape
  H().brush.stylus = kPressureOpacity;
  SetColorClone(H(), true);
  SetPaintTiming(H(), kTimingRealtime);
  SetSmoothStrokes(H(), true);
  const std::set<int> checked = {kCmdToolEraser, kCmdPaintBrush, kCmdPressureOpacity,
                                 kCmdColorClone, kCmdInRealtime, kCmdSmoothStrokes};
  for (const auto& item : Shown(ctx_)) {
    if (item.popup || item.separator) continue;
    EXPECT_EQ(item.checked, checked.count(item.id) == 1) << item.path;
  }
}

TEST_F(MenuTest, EveryCommandOfTheTableIsInTheMenuUnderItsName) {
  const auto items = Shown(ctx_);
  std::set<int> ids;
  for (const auto& item : items) {
    if (!item.popup && !item.separator) ids.insert(item.id);
  }
  for (int id = kCmdUndo; id <= kCmdEditPreferences; ++id) {
    EXPECT_EQ(ids.count(id), (id == 40014 || id == 40015) ? 0u : 1u) << id;
  }
  auto path_of = [&](int id) {
    for (const auto& item : items) {
      if (item.id == id && !item.popup) return item.path;
    }
    return std::string();
  };
  EXPECT_EQ(path_of(kCmdPasteStylus), "Edit > Paste > Stylus Controls");
  EXPECT_EQ(path_of(kCmdContinuously), "Options > Continously");
  EXPECT_EQ(path_of(kCmdShiftPaintInserts), "Options > Shift-Paintv Inserts");
  EXPECT_EQ(path_of(kCmdEditPreferences), "Options > Edit Preferences...");
}

TEST_F(MenuTest, ADisabledChoiceRunsNothing) {
  Add({0.0f});
  plat::PushMenuAnswer(kCmdDeleteSelected);  // no selection
  int chosen = -1;
  RunPopupMenu(ctx_, 0, 0, &chosen);
  EXPECT_EQ(chosen, 0);
  EXPECT_EQ(StrokeCount(drawing_), 1);
  EXPECT_EQ(plat::MenuRecords().back().outcome, plat::MenuOutcome::kDisabled);
  EXPECT_EQ(plat::MenuRecords().back().item, "Edit > Delete Selected");
}

// ---------------------------------------------------------------------------
// Selection
// ---------------------------------------------------------------------------

TEST_F(MenuTest, SelectionCommands) {
  // Ids 2..6: times and radii chosen so that each command picks a distinct set.
  for (const StrokeSpec& s : {StrokeSpec{0.99f, 5}, {0.97f, 5}, {1.015f, 7}, {1.03f, 5}, {2.0f, 5, 0.5f}}) Add(s);
  struct Case {
    std::vector<int> commands;
    double time;
    std::set<int32_t> selected;
  };
  const Case cases[] = {
      {{kCmdSelectAll}, 0, {2, 3, 4, 5, 6}},
      {{kCmdSelectAll, kCmdSelectNone}, 0, {}},
      {{kCmdSelectLast}, 0, {6}},
      {{kCmdSelectLast, kCmdSelectInverse}, 0, {2, 3, 4, 5}},
      // Within 0.02 s of 1.00: 0.99 and 1.015, not 0.97 nor 1.03.
      {{kCmdSelectCurrentTime}, 1.0, {2, 4}},
      {{kCmdSelectCurrentTime}, 5.0, {}},
      // Within 0.02 s of 0.99: 0.99 and 0.97 (a float a little above 0.97).
      {{kCmdSelectCurrentTime}, 0.99, {2, 3}},
  };
  for (const Case& c : cases) {
    for (int32_t i = 0; i < StrokeCount(drawing_); ++i) StrokeAt(drawing_, i)->selected = 0;
    H().selection_state = 0;
    ctx_.current_time = c.time;
    for (int id : c.commands) Run(id);
    EXPECT_EQ(Selected(), c.selected) << c.commands[0] << " at " << c.time;
    EXPECT_EQ(H().selection_state != 0, !c.selected.empty());
  }
  // Similar to 2 and 3 (radius 5, white): 5 too, not 4 (radius 7) nor 6 (red 0.5).
  Run(kCmdSelectSimilar);
  EXPECT_EQ(Selected(), (std::set<int32_t>{2, 3, 5}));
}

TEST_F(MenuTest, SelectionBrushAndMaskAgreeWithTheSelectedStrokes) {
  Add({0.0f, 5.0f, 1.0f});
  Add({0.0f, 9.0f, 1.0f});
  Add({0.0f, 9.0f, 0.25f});
  StrokeAt(drawing_, 0)->selected = 1;
  StrokeAt(drawing_, 1)->selected = 1;
  RecomputeSelection(drawing_);
  EXPECT_EQ(H().selection_state, 1);
  // Visited from the last slot: stroke 1 gives the brush.
  EXPECT_EQ(H().selection.radius, 9.0f);
  const int32_t want[6] = {1, 1, 0, 1, 1, 1};  // colour, opacity, radius, type, feather, stylus
  for (int f = 0; f < 6; ++f) EXPECT_EQ(H().selection_mask[f], want[f]) << f;

  // Copy Smart takes the colour they agree on, not the radius they do not.
  H().brush.red = 0.0f;
  H().brush.radius = 42.0f;
  Run(kCmdCopySmart);
  EXPECT_EQ(H().brush.red, 1.0f);
  EXPECT_EQ(H().brush.radius, 42.0f);
}

// ---------------------------------------------------------------------------
// Pastes and undo
// ---------------------------------------------------------------------------

TEST_F(MenuTest, PastesChangeTheSelectedStrokesAndUndoGivesTheSettingsBack) {
  struct Case {
    int command;
    float radius, red;  // of the selected stroke after the paste
  };
  const Case cases[] = {
      {kCmdPasteRadius, 20.0f, 1.0f}, {kCmdPasteColor, 5.0f, 0.25f},  {kCmdPasteAll, 20.0f, 0.25f},
      {kCmdPasteOpacity, 5.0f, 1.0f}, {kCmdPasteSmart, 20.0f, 0.25f},  // mask all 1: one stroke selected
  };
  Add({0.0f});
  Add({1.0f});
  H().brush.radius = 20.0f;
  H().brush.red = 0.25f;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    Run(kCmdSelectLast);
    const CommandResult r = Run(c.command);
    EXPECT_TRUE(r.changed && r.rerender);
    EXPECT_EQ(ById(3).brush.radius, c.radius);
    EXPECT_EQ(ById(3).brush.red, c.red);
    EXPECT_EQ(ById(2).brush.radius, 5.0f);  // not selected
    EXPECT_TRUE(Run(kCmdUndo).rerender);
    EXPECT_EQ(ById(3).brush.radius, 5.0f);
    EXPECT_EQ(ById(3).brush.red, 1.0f);
    Run(kCmdUndo);  // redo
    EXPECT_EQ(ById(3).brush.radius, c.radius);
    StrokeAt(drawing_, 1)->brush = DefaultBrush();
  }
}

TEST_F(MenuTest, UndoRemovesTheStrokeJustPaintedAndASecondUndoBringsItBack) {
  Add({0.5f});
  ClearUndoStore(H());
  Add({0.75f});
  const std::set<int32_t> before = {2}, after = {2, 3};
  EXPECT_EQ(Ids(), after);
  for (int round = 0; round < 2; ++round) {
    Run(kCmdUndo);
    EXPECT_EQ(Ids(), before);
    Run(kCmdUndo);
    EXPECT_EQ(Ids(), after);
    EXPECT_EQ(ById(3).paint_time, 0.75f);
    EXPECT_EQ(ById(3).point_count, 2);
  }
  ClearUndoStore(H());
  EXPECT_FALSE(Run(kCmdUndo).changed);
  EXPECT_EQ(plat::BeepCount(plat::kBeepDefault), 1u);
}

TEST_F(MenuTest, DeletionsAndTheirUndo) {
  struct Case {
    std::vector<int> setup;
    int command;
    std::set<int32_t> left;
  };
  const Case cases[] = {
      {{}, kCmdDeleteLast, {2, 3}},
      {{kCmdSelectAll}, kCmdDeleteSelected, {}},
      {{kCmdSelectLast, kCmdSelectInverse}, kCmdDeleteSelected, {4}},
      {{}, kCmdDeleteAll, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    AddMany(3);
    for (int id : c.setup) Run(id);
    const CommandResult r = Run(c.command);
    EXPECT_TRUE(r.changed && r.rerender);
    EXPECT_EQ(Ids(), c.left);
    EXPECT_EQ(H().selection_state, 0);
    Run(kCmdUndo);
    EXPECT_EQ(Ids(), (std::set<int32_t>{2, 3, 4}));
    while (StrokeCount(drawing_) > 0) DeleteStroke(drawing_, 0);
    ClearUndoStore(H());
    H().last_stroke_id = 1;
  }
}

TEST_F(MenuTest, DeleteAllAsksFromNineStrokesOn) {
  struct Case {
    int strokes;
    std::vector<int> answers;
    bool asked, deleted;
  };
  const Case cases[] = {
      {8, {}, false, true},
      {9, {plat::kIdOk}, true, true},
      {9, {plat::kIdCancel}, true, false},
      {12, {}, true, false},  // unanswered: closed as by Cancel
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.strokes);
    plat::ClearMessageBoxRecords();
    AddMany(c.strokes);
    for (int a : c.answers) plat::PushMessageBoxAnswer(a);
    Run(kCmdDeleteAll);
    EXPECT_EQ(StrokeCount(drawing_), c.deleted ? 0 : c.strokes);
    const auto boxes = plat::MessageBoxRecords();
    ASSERT_EQ(boxes.size(), c.asked ? 1u : 0u);
    if (c.asked) {
      EXPECT_EQ(boxes[0].text, "Are you sure that you want to delete all " + std::to_string(c.strokes) + " strokes?");
      EXPECT_EQ(boxes[0].caption, "Confirm");
      EXPECT_EQ(boxes[0].type, plat::kMbOkCancel | plat::kMbIconExclamation);
    }
    while (StrokeCount(drawing_) > 0) DeleteStroke(drawing_, 0);
    ClearUndoStore(H());
  }
}

// ---------------------------------------------------------------------------
// Tools, brush and options
// ---------------------------------------------------------------------------

TEST_F(MenuTest, TheSelectToolGivesWayToPaintWhenNoStrokeIsLeft) {
  Add({0.0f});
  Run(kCmdToolSelect);
  EXPECT_EQ(globals_.tool, kToolSelect);
  Run(kCmdSelectAll);
  Run(kCmdDeleteSelected);
  EXPECT_EQ(globals_.tool, kToolPaint);
  // The eyedropper remembers the tool to return to.
  Run(kCmdToolEraser);
  Run(kCmdToolEyedropper);
  EXPECT_EQ(globals_.tool, kToolEyedropper);
  EXPECT_EQ(globals_.tool_after_eyedropper, kToolEraser);
}

TEST_F(MenuTest, BrushAndOptionCommandsSetTheirWordAndEndUndo) {
  struct Case {
    int command;
    int32_t DrawingHeader::*word;  // or null for a brush field
    int32_t BrushSettings::*field;
    int32_t want;
    bool rerender;
  };
  const Case cases[] = {
      {kCmdAirBrush, nullptr, &BrushSettings::type, kBrushAir, false},
      {kCmdPressureRadius, nullptr, &BrushSettings::stylus, 0, false},  // default 1, toggled off
      {kCmdPressureOpacity, nullptr, &BrushSettings::stylus, kPressureOpacity, false},
      {kCmdColorClone, &DrawingHeader::color_clone, nullptr, 1, false},
      {kCmdToNextFrame, &DrawingHeader::timing, nullptr, kTimingNextFrame, false},
      {kCmdContinuously, &DrawingHeader::timing, nullptr, kTimingContinuous, false},
      {kCmdSmoothStrokes, &DrawingHeader::shaping, nullptr, 1, true},
      {kCmdSharpStrokes, &DrawingHeader::shaping, nullptr, 0, true},
  };
  Add({0.0f});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    ASSERT_NE(H().undo.available, 0);
    const CommandResult r = Run(c.command);
    EXPECT_EQ(c.word ? H().*c.word : H().brush.*c.field, c.want);
    EXPECT_EQ(r.rerender, c.rerender);
    EXPECT_EQ(H().undo.available, 0);
    H().undo.available = 1;  // an entry for the next case to clear
  }
  H().undo.available = 0;
  // Selection commands and tools leave the store alone.
  Add({1.0f});
  Run(kCmdSelectAll);
  Run(kCmdToolPaint);
  EXPECT_NE(H().undo.available, 0);
}

TEST_F(MenuTest, OpacityAndColourComeFromTheirBoxes) {
  struct Case {
    const char* script;  // the "Set" dialog's
    float opacity;
  };
  const Case cases[] = {{"set 1019=50; ok", 0.5f}, {"set 1019=150; ok", 1.0f}, {"cancel", 1.0f}};
  for (const Case& c : cases) {
    plat::DialogScript script;
    std::string error;
    ASSERT_TRUE(plat::ParseDialogScript(c.script, &script, &error)) << error;
    plat::PushDialogScript(script);
    Run(kCmdOpacity);
    EXPECT_EQ(H().brush.opacity, c.opacity) << c.script;
  }
  const auto dialogs = plat::DialogRecords();
  ASSERT_EQ(dialogs.size(), 3u);
  EXPECT_EQ(dialogs[0].title, "Set Opacity");
  // The last one opened on the opacity in per cent, under its label.
  EXPECT_EQ(dialogs[2].controls[0].text, "Opacity");
  EXPECT_EQ(dialogs[2].controls[1].text, "100");
  // A label that cannot be loaded: a beep, no dialog, no change.
  plat::FailResourceLoad(plat::ResourceKind::kString, kStrOpacity);
  plat::PushDialogScript({});
  Run(kCmdOpacity);
  EXPECT_EQ(plat::DialogRecords().size(), 3u);
  EXPECT_EQ(plat::BeepTotal(), 1u);

  plat::PushColorAnswer({false, plat::MakeColorRef(255, 128, 0)});
  plat::PushColorAnswer({true, 0});
  Run(kCmdColorPicker);
  Run(kCmdColorPicker);
  EXPECT_EQ(H().brush.red, 1.0f);
  EXPECT_EQ(H().brush.green, 128.0f / 255.0f);
  EXPECT_EQ(H().brush.blue, 0.0f);
  EXPECT_EQ(plat::ColorChooserRecords().back().initial, plat::MakeColorRef(255, 128, 0));
}

TEST_F(MenuTest, EditPreferencesRunsThePreferencesDialogOnTheGlobalData) {
  ScratchDir dir;
  plat::SetRegistryDirectory(dir.path.string());
  plat::DialogScript script;
  std::string error;
  ASSERT_TRUE(plat::ParseDialogScript("check 1011=0; ok", &script, &error)) << error;
  plat::PushDialogScript(script);
  Add({0.0f});
  Run(kCmdEditPreferences);
  plat::SetRegistryDirectory("");
  ASSERT_EQ(plat::DialogRecords().size(), 1u);
  EXPECT_EQ(plat::DialogRecords()[0].title, "Paint Preferences");
  // What the store then holds applies: the defaults, Swedish UI turned off.
  EXPECT_TRUE(globals_.show_toolbar);
  EXPECT_FALSE(globals_.swedish_ui);
  EXPECT_EQ(H().undo.available, 0);
}

}  // namespace
