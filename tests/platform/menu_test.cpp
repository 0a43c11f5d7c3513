// Menus from resources with the scripted popup, message boxes, module
// resources and the info palette.
#include <ombrix/platform/dialog.h>
#include <ombrix/platform/headless.h>
#include <ombrix/platform/info_palette.h>
#include <ombrix/platform/menu.h>
#include <ombrix/platform/message_box.h>
#include <ombrix/platform/resources.h>

#include <gtest/gtest.h>

#include <iterator>
#include <string>

namespace plat = ombrix::platform;
using plat::MenuOutcome;

namespace {

struct MenuPlatformTest : ::testing::Test {
  void SetUp() override { plat::ResetHeadless(); }
  void TearDown() override { plat::ResetHeadless(); }
};

constexpr uint32_t kPop = plat::kMfPopup, kEnd = plat::kMfEnd;
constexpr plat::MenuResourceItem kItems[] = {
    {kPop | kEnd, 0, "BAR"},
    {kPop, 0, "File"},
    {0, 1, "Open"},
    {plat::kMfSeparator, 0, ""},
    {kPop | kEnd, 0, "Recent"},
    {kEnd, 2, "One"},
    {plat::kMfGrayed, 3, "Gray"},
    {kEnd | plat::kMfChecked, 4, "Last"},
};

TEST_F(MenuPlatformTest, ResourcesBuildTreesAndDamagedOnesAreRefused) {
  const plat::MenuResource good{kItems, int(std::size(kItems))};
  plat::Menu* bar = plat::LoadMenuResource(&good);
  ASSERT_NE(bar, nullptr);
  plat::Menu* popup = plat::GetSubMenu(bar, 0);
  EXPECT_EQ(plat::GetMenuItemCount(popup), 3);
  EXPECT_EQ(plat::GetMenuItemCount(plat::GetSubMenu(plat::GetSubMenu(popup, 0), 2)), 1);
  EXPECT_EQ(plat::GetMenuState(popup, 4, plat::kMfByCommand), plat::kMfChecked);
  EXPECT_EQ(plat::CheckMenuItem(popup, 2, plat::kMfChecked), 0u);  // found in a submenu
  EXPECT_EQ(plat::CheckMenuItem(popup, 2, plat::kMfUnchecked), plat::kMfChecked);
  EXPECT_EQ(plat::EnableMenuItem(popup, 0, plat::kMfByPosition | plat::kMfGrayed), 0u);
  EXPECT_EQ(plat::EnableMenuItem(popup, 9, plat::kMfByCommand), plat::kMenuNoItem);
  EXPECT_FALSE(plat::DestroyMenu(popup));  // freed with its bar only
  EXPECT_TRUE(plat::DestroyMenu(bar));
  EXPECT_EQ(plat::GetMenuItemCount(popup), -1);  // stale handles are refused

  const plat::MenuResourceItem no_end[] = {{kPop | kEnd, 0, "BAR"}, {0, 1, "A"}};
  const plat::MenuResourceItem past_end[] = {{kEnd, 1, "A"}, {kEnd, 2, "B"}};
  for (const plat::MenuResource& bad : {plat::MenuResource{no_end, 2}, plat::MenuResource{past_end, 2},
                                        plat::MenuResource{nullptr, 3}, plat::MenuResource{kItems, 0}}) {
    EXPECT_EQ(plat::LoadMenuResource(&bad), nullptr);
  }
}

TEST_F(MenuPlatformTest, ThePopupTakesOnlyItemsThatCanBeChosen) {
  const plat::MenuResource res{kItems, int(std::size(kItems))};
  plat::Menu* bar = plat::LoadMenuResource(&res);
  plat::Menu* popup = plat::GetSubMenu(bar, 0);
  plat::EnableMenuItem(plat::GetSubMenu(popup, 0), 2, plat::kMfByPosition | plat::kMfGrayed);  // "Recent"
  struct Case {
    int answer;
    int chosen;
    MenuOutcome outcome;
    const char* item;
  };
  const Case cases[] = {
      {1, 1, MenuOutcome::kChosen, "File > Open"},
      {2, 0, MenuOutcome::kDisabled, "File > Recent > One"},  // inside a grayed submenu
      {3, 0, MenuOutcome::kDisabled, "Gray"},
      {4, 4, MenuOutcome::kChosen, "Last"},
      {77, 0, MenuOutcome::kNoSuchItem, ""},
      {0, 0, MenuOutcome::kDismissed, ""},
  };
  for (const Case& c : cases) plat::PushMenuAnswer(c.answer);
  for (const Case& c : cases) EXPECT_EQ(plat::TrackPopupMenu(popup, plat::kTpmReturnCmd, 5, 6, nullptr), c.chosen);
  EXPECT_EQ(plat::TrackPopupMenu(popup, 0, 0, 0, nullptr), 0);  // nothing left
  int not_a_window = 0;
  auto* stale = reinterpret_cast<plat::DialogWindow*>(&not_a_window);
  EXPECT_EQ(plat::TrackPopupMenu(popup, 0, 0, 0, stale), 0);
  plat::DestroyMenu(bar);
  EXPECT_EQ(plat::TrackPopupMenu(popup, 0, 0, 0, nullptr), 0);

  const auto records = plat::MenuRecords();
  ASSERT_EQ(records.size(), std::size(cases) + 3);
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(records[i].outcome, cases[i].outcome) << i;
    EXPECT_EQ(records[i].item, cases[i].item) << i;
  }
  EXPECT_EQ(records[0].x, 5);
  EXPECT_EQ(records[0].items.size(), 7u);  // File, Open, separator, Recent, One; Gray, Last
  EXPECT_EQ(records[6].outcome, MenuOutcome::kUnanswered);
  EXPECT_EQ(records[7].outcome, MenuOutcome::kNotShown);
  EXPECT_EQ(records[8].outcome, MenuOutcome::kNotShown);
}

TEST_F(MenuPlatformTest, MessageBoxesCloseByTheirAnswerOrAsByEscape) {
  struct Case {
    uint32_t type;
    bool push;
    int answer;
    int result;
    plat::MessageBoxOutcome outcome;
  };
  using O = plat::MessageBoxOutcome;
  const Case cases[] = {
      {plat::kMbOkCancel, true, plat::kIdOk, plat::kIdOk, O::kAnswered},
      {plat::kMbOkCancel, false, 0, plat::kIdCancel, O::kUnanswered},
      {plat::kMbOk, true, plat::kIdCancel, plat::kIdOk, O::kRefused},
      {plat::kMbYesNo | plat::kMbIconQuestion, true, plat::kIdOk, plat::kIdNo, O::kRefused},
      {plat::kMbYesNo, true, plat::kIdYes, plat::kIdYes, O::kAnswered},
      {0x0003, true, plat::kIdOk, 0, O::kNotShown},  // a kind of box this backend does not know
  };
  for (const Case& c : cases) {
    plat::ClearMessageBoxAnswers();
    if (c.push) plat::PushMessageBoxAnswer(c.answer);
    EXPECT_EQ(plat::MessageBox(plat::MainWindow(), "text", "Title", c.type), c.result);
  }
  EXPECT_EQ(plat::MessageBox(nullptr, nullptr, "x", plat::kMbOk), 0);
  const auto records = plat::MessageBoxRecords();
  ASSERT_EQ(records.size(), std::size(cases) + 1);
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(records[i].outcome, cases[i].outcome) << i;
  EXPECT_EQ(records[0].caption, "Title");
  EXPECT_EQ(records.back().outcome, O::kNotShown);
}

TEST_F(MenuPlatformTest, ResourcesLoadByIdAndCanBeMadeToFail) {
  const uint32_t pixels[4] = {0xFF000000u, 0xFFFFFFFFu, 0, 0};
  const plat::StringResource strings[] = {{1, "One"}, {19, "Opacity"}};
  const plat::IconResource icons[] = {{136, 2, 2, pixels}};
  const plat::ModuleResources module{strings, 2, icons, 1};
  struct Case {
    int id;
    int size;
    int copied;
    const char* text;
  };
  const Case cases[] = {{19, 64, 7, "Opacity"}, {19, 4, 3, "Opa"}, {2, 64, 0, ""}, {1, 1, 0, ""}};
  for (const Case& c : cases) {
    char buffer[64] = "junk";
    EXPECT_EQ(plat::LoadStringResource(&module, c.id, buffer, c.size), c.copied) << c.id;
    EXPECT_STREQ(buffer, c.text) << c.id;
  }
  EXPECT_EQ(plat::LoadIconResource(&module, 136), &icons[0]);
  EXPECT_EQ(plat::LoadIconResource(&module, 137), nullptr);
  plat::FailResourceLoad(plat::ResourceKind::kString, 19);
  plat::FailResourceLoad(plat::ResourceKind::kIcon, 136);
  char buffer[16];
  EXPECT_EQ(plat::LoadStringResource(&module, 19, buffer, 16), 0);
  EXPECT_EQ(plat::LoadStringResource(&module, 1, buffer, 16), 3);
  EXPECT_EQ(plat::LoadIconResource(&module, 136), nullptr);
  plat::ResetHeadless();
  EXPECT_EQ(plat::LoadStringResource(&module, 19, buffer, 16), 7);
}

TEST_F(MenuPlatformTest, TheInfoPaletteRecordsWhatItShows) {
  EXPECT_TRUE(plat::InfoPaletteText("Pressure     X        Y", std::string(300, 'x').c_str()));
  EXPECT_TRUE(plat::InfoPaletteColor(1, 2, 3));
  EXPECT_TRUE(plat::InfoPaletteText(nullptr, nullptr));
  const auto records = plat::InfoPaletteRecords();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].line1, "Pressure     X        Y");
  EXPECT_EQ(records[0].line2.size(), 255u);
  EXPECT_TRUE(records[1].is_color);
  EXPECT_EQ(records[1].blue, 3);
  EXPECT_EQ(records[2].line1, "");
}

}  // namespace
