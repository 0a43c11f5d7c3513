#include <ombrix/platform/color.h>
#include <ombrix/platform/dialog.h>
#include <ombrix/platform/headless.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace plat = ombrix::platform;
using plat::ColorChooserOutcome;

namespace {

struct ColorTest : ::testing::Test {
  plat::ColorRef custom[plat::kCustomColorCount] = {};
  void SetUp() override { plat::ResetHeadless(); }
  void TearDown() override { plat::ResetHeadless(); }

  // One chooser asked for `start`; answers what it returned and the colour it left.
  std::pair<bool, plat::ColorRef> Ask(plat::ColorRef start, uint32_t flags = plat::kCcRgbInit,
                                      plat::DialogWindow* owner = nullptr) {
    plat::ChooseColorRequest r;
    r.owner = owner;
    r.color = start;
    r.custom_colors = custom;
    r.flags = flags;
    const bool chosen = plat::ChooseColor(&r);
    return {chosen, r.color};
  }
};

TEST_F(ColorTest, AnswersComeInOrderAndEveryRequestIsRecorded) {
  plat::PushColorAnswer({false, 0x00336699});
  plat::PushColorAnswer({true, 0});
  plat::PushColorAnswer({false, 0xFF102030});  // the top byte is no colour
  const plat::ColorRef start = plat::MakeColorRef(1, 2, 3);
  struct Case {
    uint32_t flags;
    bool chosen;
    plat::ColorRef left;
    ColorChooserOutcome outcome;
    plat::ColorRef initial;
  };
  const Case cases[] = {
      {plat::kCcRgbInit, true, 0x00336699, ColorChooserOutcome::kChosen, start},
      {plat::kCcRgbInit, false, start, ColorChooserOutcome::kCancelled, start},
      {plat::kCcFullOpen, true, 0x00102030, ColorChooserOutcome::kChosen, 0},  // without kCcRgbInit: black
      {plat::kCcRgbInit, false, start, ColorChooserOutcome::kUnanswered, start},
  };
  for (const Case& c : cases) {
    const auto [chosen, left] = Ask(start, c.flags);
    EXPECT_EQ(chosen, c.chosen);
    EXPECT_EQ(left, c.left);
  }
  const auto records = plat::ColorChooserRecords();
  ASSERT_EQ(records.size(), std::size(cases));
  for (size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(records[i].outcome, cases[i].outcome) << i;
    EXPECT_EQ(records[i].initial, cases[i].initial) << i;
    EXPECT_EQ(records[i].flags, cases[i].flags) << i;
    EXPECT_EQ(records[i].owner, "") << i;
  }
  EXPECT_EQ(records[0].chosen, 0x00336699u);
}

TEST_F(ColorTest, RequestsThatCannotBeShown) {
  plat::PushColorAnswer({false, 0x00FFFFFF});
  EXPECT_FALSE(plat::ChooseColor(nullptr));
  plat::ChooseColorRequest no_custom;
  no_custom.color = 5;
  EXPECT_FALSE(plat::ChooseColor(&no_custom));
  EXPECT_EQ(no_custom.color, 5u);
  auto* stale = reinterpret_cast<plat::DialogWindow*>(&custom[0]);
  EXPECT_FALSE(Ask(7, plat::kCcRgbInit, stale).first);
  const auto records = plat::ColorChooserRecords();
  ASSERT_EQ(records.size(), 3u);
  for (const auto& r : records) {
    EXPECT_EQ(r.outcome, ColorChooserOutcome::kNotShown);
    EXPECT_FALSE(r.error.empty());
  }
  EXPECT_EQ(plat::PendingColorAnswers(), 1u) << "no answer is used up";
}

// A dialog whose button 10 opens a chooser owned by the dialog and writes
// the outcome into the button's text.
intptr_t ChooserProc(plat::DialogWindow* d, unsigned msg, uintptr_t wparam, intptr_t) {
  if (msg != plat::kWmCommand || plat::HighWord(wparam) != plat::kBnClicked) return 0;
  const int id = int(plat::LowWord(wparam));
  if (id == plat::kIdOk) return plat::EndDialog(d, plat::kIdOk);
  plat::ColorRef custom[plat::kCustomColorCount] = {};
  plat::ChooseColorRequest r;
  r.owner = plat::GetDialogItem(d, id);
  r.custom_colors = custom;
  const bool chosen = plat::ChooseColor(&r);
  plat::SetDialogItemText(d, id, chosen ? std::to_string(r.color).c_str() : "none");
  return 1;
}

TEST_F(ColorTest, ChoosersInADialogTakeThatDialogsAnswers) {
  constexpr plat::DialogControl kControls[] = {
      {10, plat::ControlKind::kPushButton, "", 0, 0, 10, 10, 0},
      {plat::kIdOk, plat::ControlKind::kPushButton, "OK", 0, 20, 10, 10, 0},
  };
  const plat::DialogTemplate tmpl = {"Chooser", 40, 40, "MS Sans Serif", 8, kControls, 2};
  plat::PushColorAnswer({false, 0x000000AA});  // for choosers outside dialogs only
  struct Case {
    const char* script;
    const char* text;
    int unused;
  };
  const Case cases[] = {
      {"click 10; color #0A0B0C; ok", "789258", 0},  // 0x0C0B0A
      {"click 10; ok", "none", 0},
      {"color cancel; color #FFFFFF; click 10; ok", "none", 1},
  };
  for (const Case& c : cases) {
    plat::DialogScript script;
    std::string error;
    ASSERT_TRUE(plat::ParseDialogScript(c.script, &script, &error)) << error;
    plat::ClearDialogRecords();
    plat::PushDialogScript(script);
    EXPECT_EQ(plat::DialogBoxParam(&tmpl, nullptr, ChooserProc, 0), plat::kIdOk) << c.script;
    const auto records = plat::DialogRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].controls[0].text, c.text) << c.script;
    EXPECT_EQ(records[0].colors_unused, c.unused) << c.script;
    EXPECT_EQ(plat::ColorChooserRecords().back().owner, "Chooser") << "a control's owner is its dialog";
  }
  EXPECT_EQ(plat::PendingColorAnswers(), 1u);
}

TEST_F(ColorTest, ColorAnswerText) {
  struct Case {
    const char* text;
    bool ok;
    bool cancel;
    plat::ColorRef color;
  };
  const Case cases[] = {
      {"#FF8000", true, false, 0x000080FF},
      {"#00ff7f", true, false, 0x007FFF00},
      {"cancel", true, true, 0},
      {"#FF800", false, false, 0},
      {"FF8000", false, false, 0},
      {"#GG0000", false, false, 0},
      {"#FF80001", false, false, 0},
      {"", false, false, 0},
      {"#-12345", false, false, 0},
      {"#0x1234", false, false, 0},
  };
  for (const Case& c : cases) {
    plat::ColorAnswer a{false, 0xDEADBEEF};
    EXPECT_EQ(plat::ParseColorAnswer(c.text, &a), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(a.cancel, c.cancel) << c.text;
    if (!c.cancel) {
      EXPECT_EQ(a.color, c.color) << c.text;
    }
  }
  plat::DialogScript script;
  std::string error;
  EXPECT_FALSE(plat::ParseDialogScript("color #12345", &script, &error));
  EXPECT_NE(error.find("colour"), std::string::npos);
}

}  // namespace
