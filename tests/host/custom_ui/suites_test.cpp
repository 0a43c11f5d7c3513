// The host suites through the probe's events: clicks under the host's
// current tool, refreshes, fonts for drawing the control, and each suite
// missing or failing.
#include "uiprobe_host.h"

#include <pf/suites.h>

#include <fontconfig/fontconfig.h>

#include <fstream>
#include <sstream>

namespace ombrix {
namespace {

using testing::TestEvent;
using testing::UiProbeHost;

TEST_F(UiProbeHost, ClickPaintsOnlyWithTheArrowToolAndAlwaysAsksForARefresh) {
  struct Case {
    const char* what;
    A_long tool;
    const char* fail;  // a service made to fail at its nth call of the click, or none
    int nth;
    bool paints;
    int refreshes;
  };
  const Case cases[] = {
      {"arrow tool", PF_SuiteTool_ARROW, nullptr, 0, true, 1},
      {"another tool", 4, nullptr, 0, false, 1},
      {"helper suite missing", 4, "acquire_suite", 1, true, 1},
      {"tool query failing", 4, "current_tool", 1, true, 1},
      {"helper suite not released", 4, "release_suite", 1, false, 1},
      {"advanced app suite missing", PF_SuiteTool_ARROW, "acquire_suite", 2, true, 0},
      {"refresh failing", PF_SuiteTool_ARROW, "refresh_windows", 1, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Instance inst(effect, TimeBase{}, 8, 8);
    host.suites().SetCurrentTool(c.tool);
    if (c.fail) host.failures().Arm(c.fail, c.nth, 9000);
    const int refreshes = host.suites().window_refreshes();
    const int helpers = host.suites().Held(kPFHelperSuite);
    TestEvent click(PF_Window_COMP, PF_Event_DO_CLICK);
    const CommandResult r = inst.Command(PF_Cmd_EVENT, 0, click.extra());
    EXPECT_EQ(r.err, PF_Err_NONE);
    EXPECT_EQ(r.message, c.paints ? "count 1" : "count 0");
    EXPECT_EQ(r.out_flags, c.paints ? PF_OutFlag_FORCE_RERENDER : PF_OutFlag_REFRESH_UI);
    EXPECT_EQ(click.extra()->evt_out_flags, PF_EO_HANDLED_EVENT);
    EXPECT_EQ(host.suites().window_refreshes() - refreshes, c.refreshes);
    // Every suite handed out was given back, except the one whose release failed.
    const bool kept = c.fail && std::string(c.fail) == "release_suite";
    EXPECT_EQ(host.suites().Held(kPFHelperSuite) - helpers, kept ? 1 : 0);
    EXPECT_EQ(host.suites().Held(kPFAdvAppSuite), 0);
    host.failures().Clear();
  }
}

std::vector<std::string> Fields(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream ss(text);
  for (std::string f; std::getline(ss, f, '|');) out.push_back(f);
  if (!text.empty() && text.back() == '|') out.emplace_back();
  return out;
}

// Whether fontconfig lists an installed font of this family.
bool Installed(const std::string& family) {
  FcPattern* pattern = FcPatternCreate();
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcObjectSet* objects = FcObjectSetBuild(FC_FILE, nullptr);
  FcFontSet* fonts = FcFontList(nullptr, pattern, objects);
  const bool found = fonts && fonts->nfont > 0;
  if (fonts) FcFontSetDestroy(fonts);
  FcObjectSetDestroy(objects);
  FcPatternDestroy(pattern);
  return found;
}

TEST_F(UiProbeHost, ControlIsDrawnWithSystemFontsOrEmptyNames) {
  Instance inst(effect, TimeBase{}, 8, 8);
  auto draw = [&] {
    TestEvent event(PF_Window_EFFECT, PF_Event_DRAW);
    const CommandResult r = inst.Command(PF_Cmd_EVENT, 0, event.extra());
    EXPECT_EQ(event.extra()->evt_out_flags, PF_EO_HANDLED_EVENT);
    return Fields(r.message);
  };
  // Small and medium sheets name fonts installed here.
  const std::vector<std::string> fonts = draw();
  ASSERT_EQ(fonts.size(), 4u);
  EXPECT_EQ(fonts[1], "0");
  EXPECT_EQ(fonts[3], "0");
  EXPECT_TRUE(Installed(fonts[0])) << fonts[0];
  EXPECT_TRUE(Installed(fonts[2])) << fonts[2];
  EXPECT_EQ(host.suites().Held(kPFAppSuite), 0);

  struct Case {
    const char* what;
    const char* fail;
    int nth;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"app suite missing", "acquire_suite", 1, {"", "9000", "", "9000"}},
      {"medium sheet failing", "font_style_sheet", 2, {fonts[0], "0", "", "9000"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    host.failures().Arm(c.fail, c.nth, 9000);
    EXPECT_EQ(draw(), c.want);
    host.failures().Clear();
  }

  // A system without fonts: a fontconfig configuration that lists none.
  const std::filesystem::path empty = std::filesystem::temp_directory_path() / "ombrix-no-fonts.conf";
  std::ofstream(empty) << "<?xml version=\"1.0\"?>\n<fontconfig></fontconfig>\n";
  host.suites().SetFontConfig(empty);
  const std::string none = std::to_string(PF_Err_INTERNAL_STRUCT_DAMAGED);
  EXPECT_EQ(draw(), (std::vector<std::string>{"", none, "", none}));
  host.suites().SetFontConfig({});
  EXPECT_EQ(draw(), fonts);
  std::filesystem::remove(empty);
}

TEST(StyleSheetFonts, OnlySheetsOneToSixAreKnown) {
  for (A_long sheet : {0, 7, -1}) EXPECT_FALSE(FindStyleSheetFont(sheet, {})) << sheet;
  for (A_long sheet = PF_FontStyle_SMALL; sheet <= PF_FontStyle_MEDIUM_ITALIC; ++sheet)
    EXPECT_TRUE(FindStyleSheetFont(sheet, {})) << sheet;
}

}  // namespace
}  // namespace ombrix
