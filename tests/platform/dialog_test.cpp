#include <ombrix/platform/dialog.h>
#include <ombrix/platform/headless.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace plat = ombrix::platform;
using plat::DialogWindow;

namespace {

// A small options dialog: a number edit (1..50), a check box, three radio
// buttons, a scroll bar 0..20 with its label, OK and Cancel.
enum {
  kEditNumber = 1002,
  kCheck = 1003,
  kRadioA = 1013,
  kRadioB = 1014,
  kRadioC = 1015,
  kBar = 1040,
  kBarLabel = 1041
};

constexpr plat::DialogControl kControls[] = {
    {0, plat::ControlKind::kStatic, "Number:", 4, 4, 40, 8, 0},
    {kEditNumber, plat::ControlKind::kEdit, "", 48, 4, 40, 12, 0},
    {kCheck, plat::ControlKind::kCheckBox, "Enable", 4, 20, 60, 10, 0},
    {0, plat::ControlKind::kGroupBox, "Model", 4, 34, 100, 40, 0},
    {kRadioA, plat::ControlKind::kRadioButton, "A", 8, 44, 30, 10, plat::kControlGroup},
    {kRadioB, plat::ControlKind::kRadioButton, "B", 8, 54, 30, 10, 0},
    {kRadioC, plat::ControlKind::kRadioButton, "C", 8, 64, 30, 10, 0},
    {kBar, plat::ControlKind::kHScrollBar, "", 4, 80, 80, 10, 0},
    {kBarLabel, plat::ControlKind::kStatic, "", 88, 80, 20, 10, 0},
    {plat::kIdOk, plat::ControlKind::kPushButton, "OK", 4, 96, 40, 14, plat::kControlDefault},
    {plat::kIdCancel, plat::ControlKind::kPushButton, "Cancel", 48, 96, 40, 14, 0},
};
constexpr plat::DialogTemplate kTemplate = {"Test Options",           126, 115, "MS Sans Serif", 8, kControls,
                                            int(std::size(kControls))};

struct Settings {
  int number = 7;
  bool enabled = false;
  int model = kRadioA;
  int bar = 3;
  // What the procedure saw.
  int clicks_seen_checked = -1;
  int scroll_actions = 0;
  int end_scrolls = 0;
  bool destroyed = false;
};

void ShowNumber(DialogWindow* d, int id, int v) { plat::SetDialogItemText(d, id, std::to_string(v).c_str()); }

intptr_t TestProc(DialogWindow* d, unsigned msg, uintptr_t wparam, intptr_t lparam) {
  auto* s = reinterpret_cast<Settings*>(plat::GetWindowUserData(d));
  switch (msg) {
    case plat::kWmInitDialog: {
      if (!plat::SetWindowUserData(d, lparam)) {
        plat::EndDialog(d, plat::kIdCancel);
        return 1;
      }
      s = reinterpret_cast<Settings*>(lparam);
      ShowNumber(d, kEditNumber, s->number);
      plat::CheckDialogButton(d, kCheck, s->enabled ? 1 : 0);
      plat::CheckDialogButton(d, s->model, 1);
      DialogWindow* bar = plat::GetDialogItem(d, kBar);
      plat::SetScrollRange(bar, plat::kSbCtl, 0, 20, false);
      plat::SetScrollPos(bar, plat::kSbCtl, s->bar, true);
      ShowNumber(d, kBarLabel, s->bar);
      plat::SetFocus(plat::GetDialogItem(d, kEditNumber));
      plat::SendMessage(plat::GetDialogItem(d, kEditNumber), plat::kEmSetSel, 0, 0x7FFF);
      return 0;
    }
    case plat::kWmCommand: {
      if (plat::HighWord(wparam) != plat::kBnClicked) return 0;
      const int id = int(plat::LowWord(wparam));
      if (id == kCheck) {
        s->clicks_seen_checked = int(plat::IsDialogButtonChecked(d, kCheck));
      } else if (id == plat::kIdOk) {
        char text[256];
        plat::GetDialogItemText(d, kEditNumber, text, sizeof text);
        const int n = std::atoi(text);
        if (n < 1 || n > 50) {
          ShowNumber(d, kEditNumber, n < 1 ? 1 : 50);
          DialogWindow* edit = plat::GetDialogItem(d, kEditNumber);
          plat::SetFocus(edit);
          plat::SetEditSelection(edit, 0, 0x7FFF);
          return 1;
        }
        s->number = n;
        s->enabled = plat::IsDialogButtonChecked(d, kCheck) == 1;
        for (int r : {kRadioA, kRadioB, kRadioC})
          if (plat::IsDialogButtonChecked(d, r)) s->model = r;
        s->bar = plat::GetScrollPos(plat::GetDialogItem(d, kBar), plat::kSbCtl);
        plat::EndDialog(d, plat::kIdOk);
      } else if (id == plat::kIdCancel) {
        plat::EndDialog(d, plat::kIdCancel);
      }
      return 1;
    }
    case plat::kWmHScroll: {
      auto* bar = reinterpret_cast<DialogWindow*>(lparam);
      int lo, hi;
      plat::GetScrollRange(bar, plat::kSbCtl, &lo, &hi);
      int pos = plat::GetScrollPos(bar, plat::kSbCtl);
      ++s->scroll_actions;
      switch (plat::LowWord(wparam)) {
        case plat::kSbLineLeft:
          pos -= 1;
          break;
        case plat::kSbLineRight:
          pos += 1;
          break;
        case plat::kSbPageLeft:
          pos -= 5;
          break;
        case plat::kSbPageRight:
          pos += 5;
          break;
        case plat::kSbThumbTrack:
        case plat::kSbThumbPosition:
          pos = int(plat::HighWord(wparam));
          break;
        case plat::kSbLeft:
          pos = lo;
          break;
        case plat::kSbRight:
          pos = hi;
          break;
        case plat::kSbEndScroll:
          ++s->end_scrolls;
          break;
      }
      plat::SetScrollPos(bar, plat::kSbCtl, pos, true);
      ShowNumber(d, plat::GetDialogControlId(bar) + 1, plat::GetScrollPos(bar, plat::kSbCtl));
      return 1;
    }
    case plat::kWmDestroy:
      if (s) s->destroyed = true;
      return 1;
  }
  return 0;
}

const plat::ControlRecord& Find(const plat::DialogRecord& r, int id) {
  for (const auto& c : r.controls)
    if (c.id == id) return c;
  static plat::ControlRecord none;
  ADD_FAILURE() << "no control " << id;
  return none;
}

plat::DialogScript Parse(const char* text) {
  plat::DialogScript script;
  std::string error;
  EXPECT_TRUE(plat::ParseDialogScript(text, &script, &error)) << error;
  return script;
}

struct DialogTest : ::testing::Test {
  void SetUp() override { plat::ResetHeadless(); }
  intptr_t Run(Settings* s) {
    return plat::DialogBoxParam(&kTemplate, plat::MainWindow(), TestProc, reinterpret_cast<intptr_t>(s));
  }
};

TEST_F(DialogTest, ScriptDrivesEveryMessageKindAndOkReturnsOne) {
  Settings s;
  plat::PushDialogScript(
      Parse("text 1002=42; check 1003=1; click 1014; scroll 1040=lineright; scroll 1040=pageright;"
            "scroll 1040=lineleft; scroll 1040=thumbtrack@17; ok"));
  EXPECT_EQ(Run(&s), plat::kIdOk);
  EXPECT_EQ(s.number, 42);
  EXPECT_TRUE(s.enabled);
  EXPECT_EQ(s.clicks_seen_checked, 1);  // toggled before the click arrived
  EXPECT_EQ(s.model, kRadioB);
  EXPECT_EQ(s.bar, 17);            // 3 + 1 + 5 - 1, then the thumb to 17
  EXPECT_EQ(s.scroll_actions, 8);  // four actions, each closed by end-scroll
  EXPECT_EQ(s.end_scrolls, 4);
  EXPECT_TRUE(s.destroyed);

  const auto records = plat::DialogRecords();
  ASSERT_EQ(records.size(), 1u);
  const auto& r = records[0];
  EXPECT_EQ(r.title, "Test Options");
  EXPECT_EQ(r.outcome, plat::DialogOutcome::kEnded);
  EXPECT_EQ(r.result, 1);
  EXPECT_EQ(r.steps_run, 8);
  EXPECT_EQ(Find(r, kEditNumber).text, "42");
  EXPECT_EQ(Find(r, kCheck).check, 1u);
  EXPECT_EQ(Find(r, kRadioA).check, 0u);  // the group cleared by the click on B
  EXPECT_EQ(Find(r, kRadioB).check, 1u);
  EXPECT_EQ(Find(r, kBar).scroll_pos, 17);
  EXPECT_EQ(Find(r, kBar).scroll_max, 20);
  EXPECT_EQ(Find(r, kBarLabel).text, "17");
  EXPECT_EQ(r.user_data, reinterpret_cast<intptr_t>(&s));

  // Messages: INITDIALOG first with the creation parameter, DESTROY last,
  // the typed text announced with EN_CHANGE, the clicks with code 0.
  ASSERT_GE(r.messages.size(), 2u);
  EXPECT_EQ(r.messages.front().msg, plat::kWmInitDialog);
  EXPECT_EQ(r.messages.front().lparam, reinterpret_cast<intptr_t>(&s));
  EXPECT_EQ(r.messages.back().msg, plat::kWmDestroy);
  EXPECT_EQ(r.messages[1].msg, plat::kWmCommand);
  EXPECT_EQ(r.messages[1].wparam, plat::MakeWParam(kEditNumber, plat::kEnChange));
  EXPECT_EQ(r.messages[2].wparam, plat::MakeWParam(kCheck, plat::kBnClicked));
  EXPECT_EQ(r.messages[4].msg, plat::kWmHScroll);
  EXPECT_EQ(r.messages[4].wparam, plat::MakeWParam(plat::kSbLineRight, 0));
  EXPECT_EQ(r.messages[5].wparam, plat::MakeWParam(plat::kSbEndScroll, 0));
}

TEST_F(DialogTest, CancelAndTheSetStepByControlKind) {
  Settings s;
  plat::PushDialogScript(Parse("set 1002=9; set 1003=on; set 1040=12; set 1015=1; cancel"));
  EXPECT_EQ(Run(&s), plat::kIdCancel);
  EXPECT_EQ(s.number, 7);  // unchanged on Cancel
  const auto r = plat::DialogRecords().at(0);
  EXPECT_EQ(Find(r, kEditNumber).text, "9");
  EXPECT_EQ(Find(r, kCheck).check, 1u);
  EXPECT_EQ(Find(r, kBar).scroll_pos, 12);
  EXPECT_EQ(Find(r, kRadioC).check, 1u);
  EXPECT_EQ(Find(r, kRadioA).check, 0u);
}

TEST_F(DialogTest, ProcedureThatKeepsTheDialogOpenEndsWhenTheScriptRunsOut) {
  Settings s;
  plat::PushDialogScript(Parse("text 1002=600; ok"));
  EXPECT_EQ(Run(&s), plat::kDialogScriptExhausted);
  EXPECT_EQ(s.number, 7);
  EXPECT_TRUE(s.destroyed);
  const auto r = plat::DialogRecords().at(0);
  EXPECT_EQ(r.outcome, plat::DialogOutcome::kScriptExhausted);
  EXPECT_EQ(Find(r, kEditNumber).text, "50");  // rewritten, focused and selected
  EXPECT_EQ(Find(r, kEditNumber).sel_start, 0);
  EXPECT_EQ(Find(r, kEditNumber).sel_end, 2);
  EXPECT_EQ(r.focus_id, kEditNumber);

  // No script at all: the dialog is created, initialised and closed.
  EXPECT_EQ(Run(&s), plat::kDialogScriptExhausted);
  EXPECT_EQ(plat::DialogRecords().at(1).controls.at(1).text, "7");
}

TEST_F(DialogTest, FailuresTheScriptCanAskFor) {
  Settings s;
  plat::DialogScript refuse = Parse("refuse-user-data; ok");
  plat::PushDialogScript(refuse);
  EXPECT_EQ(Run(&s), plat::kIdCancel);
  EXPECT_EQ(plat::DialogRecords().at(0).steps_run, 0);
  EXPECT_EQ(plat::DialogRecords().at(0).steps_unused, 1);

  plat::PushDialogScript(Parse("fail-create"));
  EXPECT_EQ(Run(&s), -1);
  EXPECT_EQ(plat::DialogRecords().at(1).outcome, plat::DialogOutcome::kNotCreated);
  EXPECT_FALSE(s.destroyed);

  // A parent that is not a window: 0, as the system answers.
  auto* bogus = reinterpret_cast<DialogWindow*>(&s);
  EXPECT_EQ(plat::DialogBoxParam(&kTemplate, bogus, TestProc, 0), 0);
  EXPECT_EQ(plat::DialogBoxParam(nullptr, nullptr, TestProc, 0), -1);
}

TEST_F(DialogTest, StepsOnMissingOrUnsuitableControlsStopTheDialog) {
  Settings s;
  plat::PushDialogScript(Parse("click 4242; ok"));
  EXPECT_EQ(Run(&s), plat::kDialogScriptError);
  auto r = plat::DialogRecords().at(0);
  EXPECT_EQ(r.outcome, plat::DialogOutcome::kScriptError);
  EXPECT_NE(r.error.find("4242"), std::string::npos);
  plat::PushDialogScript(Parse("text 1003=abc"));
  EXPECT_EQ(Run(&s), plat::kDialogScriptError);
  plat::PushDialogScript(Parse("scroll 1040=thumbposition@21"));  // beyond 0..20
  EXPECT_EQ(Run(&s), plat::kDialogScriptError);
}

DialogWindow* g_kept = nullptr;
intptr_t KeepHandleProc(DialogWindow* d, unsigned msg, uintptr_t, intptr_t) {
  if (msg == plat::kWmInitDialog) {
    g_kept = d;
    plat::EndDialog(d, 5);
  }
  return 0;
}

TEST_F(DialogTest, HandlesDieWithTheDialog) {
  EXPECT_EQ(plat::DialogBoxParam(&kTemplate, nullptr, KeepHandleProc, 0), 5);
  ASSERT_NE(g_kept, nullptr);
  EXPECT_FALSE(plat::SetDialogItemText(g_kept, kEditNumber, "x"));
  EXPECT_FALSE(plat::EndDialog(g_kept, 1));
  EXPECT_EQ(plat::GetDialogItem(g_kept, kEditNumber), nullptr);
}

TEST(DialogScriptText, ParsesStepsAndEscapesAndRejectsNonsense) {
  plat::DialogScript script;
  std::string error;
  ASSERT_TRUE(plat::ParseDialogScript("text 5=a\\;b; scroll 7=3@9\nset 8=x y;command 2", &script, &error));
  ASSERT_EQ(script.steps.size(), 4u);
  EXPECT_EQ(script.steps[0].kind, plat::DialogStepKind::kSetText);
  EXPECT_EQ(script.steps[0].text, "a;b");
  EXPECT_EQ(script.steps[1].value, 3);
  EXPECT_EQ(script.steps[1].pos, 9);
  EXPECT_EQ(script.steps[2].text, "x y");
  EXPECT_EQ(script.steps[3].kind, plat::DialogStepKind::kCommand);
  EXPECT_FALSE(plat::ParseDialogScript("wiggle 3", &script, &error));
  EXPECT_NE(error.find("wiggle"), std::string::npos);
  EXPECT_FALSE(plat::ParseDialogScript("check 3=maybe", &script, &error));
  EXPECT_FALSE(plat::ParseDialogScript("scroll 3=sideways", &script, &error));
}

}  // namespace
