// Paint's preference record: its bytes, its life in the registry (with the
// failures the store can have), applying it to the global data, and the
// preferences dialog played by scripts.
#include "preferences.h"

#include <ombrix/platform/headless.h>
#include <ombrix/platform/input.h>
#include <ombrix/platform/registry.h>

#include <gtest/gtest.h>

#include <bit>
#include <cstddef>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "platform/scratch_dir.h"

namespace plat = ombrix::platform;
using paint::PaintGlobals;
using paint::PaintPreferences;

namespace {

using Words = std::vector<uint32_t>;
uint32_t Bits(float f) { return std::bit_cast<uint32_t>(f); }

// The defaults word by word: six flags on, opacity 0.3501, two frames each
// way, backward (1, 0.5, 0.5), forward (0.5, 1, 0.5).
const Words kDefaultWords = {1, 1,          1,          1,          1,          1,          Bits(0.3501f), 2,
                             2, Bits(1.0f), Bits(0.5f), Bits(0.5f), Bits(0.5f), Bits(1.0f), Bits(0.5f)};

Words WordsOf(const PaintPreferences& p) {
  Words w(15);
  std::memcpy(w.data(), &p, 60);
  return w;
}

PaintPreferences FromWords(const Words& w) {
  PaintPreferences p;
  std::memcpy(&p, w.data(), 60);
  return p;
}

// A record unlike the defaults in every word.
const Words kCustomWords = {0,   1,          0,           1,          0,          1,          Bits(0.75f), 12,
                            400, Bits(0.0f), Bits(0.25f), Bits(1.0f), Bits(0.2f), Bits(0.4f), Bits(0.6f)};

struct PaintPrefsTest : ::testing::Test {
  ScratchDir dir;
  int stores = 0;
  void SetUp() override { Fresh(); }
  // A fresh headless state with an empty registry of its own.
  void Fresh() {
    plat::ResetHeadless();
    plat::SetRegistryDirectory((dir.path / std::to_string(++stores)).string());
  }
  void TearDown() override {
    plat::ResetHeadless();
    plat::SetRegistryDirectory("");
  }

  void Store(const std::vector<uint8_t>& bytes, uint32_t type = plat::kRegBinary) {
    plat::RegKeyHandle key = nullptr;
    ASSERT_EQ(plat::RegCreateKey(plat::kRegCurrentUser, paint::kPreferencesKey, plat::kRegOptionNonVolatile,
                                 plat::kKeyAllAccess, &key, nullptr),
              plat::kOk);
    ASSERT_EQ(plat::RegSetValue(key, nullptr, type, bytes.data(), uint32_t(bytes.size())), plat::kOk);
    plat::RegCloseKey(key);
  }
  void StoreWords(const Words& w) {
    std::vector<uint8_t> b(w.size() * 4);
    std::memcpy(b.data(), w.data(), b.size());
    Store(b);
  }
  // The stored words; empty when there is no 60-byte binary value.
  Words Stored() {
    plat::RegKeyHandle key = nullptr;
    if (plat::RegOpenKey(plat::kRegCurrentUser, paint::kPreferencesKey, plat::kKeyRead, &key) != plat::kOk) return {};
    Words w(15);
    uint32_t type = 0, size = 60;
    const bool ok = plat::RegQueryValue(key, nullptr, &type, w.data(), &size) == plat::kOk &&
                    type == plat::kRegBinary && size == 60;
    plat::RegCloseKey(key);
    return ok ? w : Words{};
  }
};

TEST_F(PaintPrefsTest, RecordAndGlobalDataLayout) {
  EXPECT_EQ(WordsOf(paint::kDefaultPreferences), kDefaultWords);
  // Each field sits at its word.
  EXPECT_EQ(offsetof(PaintPreferences, disable_mouse_drawing), 8u);
  EXPECT_EQ(offsetof(PaintPreferences, swedish_ui), 20u);
  EXPECT_EQ(offsetof(PaintPreferences, onion.skin_opacity), 24u);
  EXPECT_EQ(offsetof(PaintPreferences, onion.frames_forward), 32u);
  EXPECT_EQ(offsetof(PaintPreferences, onion.back_color), 36u);
  EXPECT_EQ(offsetof(PaintPreferences, onion.forward_color), 48u);

  // The global data in its order: the tablet, five flags, six floats, the
  // two tools, four flags, the onion block.
  EXPECT_LT(offsetof(PaintGlobals, tablet_in_use), offsetof(PaintGlobals, x_scale));
  EXPECT_EQ(offsetof(PaintGlobals, pressure_offset) - offsetof(PaintGlobals, x_scale), 20u);
  EXPECT_EQ(offsetof(PaintGlobals, tool_after_eyedropper), offsetof(PaintGlobals, tool) + 4);
  EXPECT_EQ(offsetof(PaintGlobals, swedish_ui), offsetof(PaintGlobals, show_actual_brush_size) + 3);
  EXPECT_GT(offsetof(PaintGlobals, onion), offsetof(PaintGlobals, swedish_ui));

  PaintGlobals g;
  std::memset(&g, 0xA5, sizeof g);
  paint::InitPaintGlobals(&g);
  EXPECT_EQ(g.tablet, nullptr);
  EXPECT_FALSE(g.tablet_available || g.tablet_in_use || g.tablet_has_pressure);
  const float expected[] = {1, 1, 0, 0, 1, 0};
  const float got[] = {g.x_scale, g.y_scale, g.x_offset, g.y_offset, g.pressure_scale, g.pressure_offset};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(got[i], expected[i]) << i;
  EXPECT_EQ(g.tool, 2);
  EXPECT_EQ(g.tool_after_eyedropper, 2);
}

TEST_F(PaintPrefsTest, LoadUsesAValidRecordAndReplacesAnythingElse) {
  std::vector<uint8_t> custom(60);
  std::memcpy(custom.data(), kCustomWords.data(), 60);
  struct Case {
    const char* what;
    std::optional<std::vector<uint8_t>> bytes;
    uint32_t type;
    Words loaded;
  };
  const Case cases[] = {
      {"nothing stored", std::nullopt, plat::kRegBinary, kDefaultWords},
      {"a valid record", custom, plat::kRegBinary, kCustomWords},
      {"59 bytes", std::vector<uint8_t>(custom.begin(), custom.end() - 1), plat::kRegBinary, kDefaultWords},
      {"61 bytes",
       [&] {
         auto b = custom;
         b.push_back(0);
         return b;
       }(),
       plat::kRegBinary, kDefaultWords},
      {"not binary", custom, plat::kRegDword, kDefaultWords},
  };
  for (const Case& c : cases) {
    Fresh();
    if (c.bytes) Store(*c.bytes, c.type);
    EXPECT_EQ(WordsOf(paint::LoadPreferences()), c.loaded) << c.what;
    EXPECT_EQ(Stored(), c.loaded) << c.what << ": the store holds what was loaded";
    EXPECT_EQ(plat::BeepTotal(), 0u) << c.what;
  }
}

TEST_F(PaintPrefsTest, LoadBringsStoredFieldsIntoRange) {
  Words w = kCustomWords;
  w[6] = Bits(std::numeric_limits<float>::quiet_NaN());
  w[7] = uint32_t(-5);
  w[8] = 5000;
  w[9] = Bits(-0.5f);
  w[13] = Bits(7.0f);
  w[14] = Bits(std::numeric_limits<float>::quiet_NaN());
  StoreWords(w);
  Words expected = kCustomWords;
  expected[6] = Bits(0.3501f);
  expected[7] = 0;
  expected[8] = 1000;
  expected[9] = Bits(0.0f);
  expected[13] = Bits(1.0f);
  expected[14] = Bits(0.5f);  // the forward blue's default
  EXPECT_EQ(WordsOf(paint::LoadPreferences()), expected);
  EXPECT_EQ(Stored(), w) << "loading does not write";

  w[6] = Bits(0.01f);
  StoreWords(w);
  EXPECT_EQ(paint::LoadPreferences().onion.skin_opacity, 0.05f);
}

TEST_F(PaintPrefsTest, LoadFailuresEndInTheDefaultsWithABeep) {
  struct Case {
    const char* what;
    bool stored;
    plat::RegistryCall call;
    plat::Status status;
    Words store_after;
    uint32_t beeps;
  };
  const Case cases[] = {
      // Nothing stored: the defaults cannot be written.
      {"create fails", false, plat::RegistryCall::kCreate, plat::kErrAccessDenied, {}, 1},
      {"write fails", false, plat::RegistryCall::kSet, plat::kErrStoreIoFailed, {}, 1},
      // A record stored that cannot be read: it is kept.
      {"open fails", true, plat::RegistryCall::kOpen, plat::kErrAccessDenied, kCustomWords, 1},
      {"read fails", true, plat::RegistryCall::kQuery, plat::kErrStoreIoFailed, kCustomWords, 1},
      // Reported missing: replaced.
      {"read answers not found", true, plat::RegistryCall::kQuery, plat::kErrFileNotFound, kDefaultWords, 0},
  };
  for (const Case& c : cases) {
    Fresh();
    if (c.stored) StoreWords(kCustomWords);
    plat::FailRegistryCall(c.call, 1, c.status);
    EXPECT_EQ(WordsOf(paint::LoadPreferences()), kDefaultWords) << c.what;
    plat::ClearRegistryFailures();
    EXPECT_EQ(Stored(), c.store_after) << c.what;
    EXPECT_EQ(plat::BeepCount(plat::kBeepSimple), c.beeps) << c.what;
    EXPECT_EQ(plat::BeepTotal(), c.beeps) << c.what;
  }
}

TEST_F(PaintPrefsTest, SaveRetriesWithTheSameRecordAndBeepsWhenThatFailsToo) {
  struct Case {
    const char* what;
    bool key_exists;
    std::vector<std::pair<plat::RegistryCall, int>> failures;
    bool saved;
  };
  const Case cases[] = {
      {"existing key", true, {}, true},
      {"new key", false, {}, true},
      {"first write fails", true, {{plat::RegistryCall::kSet, 1}}, true},
      {"open fails", true, {{plat::RegistryCall::kOpen, 1}}, true},
      {"both writes fail", true, {{plat::RegistryCall::kSet, 1}, {plat::RegistryCall::kSet, 2}}, false},
      {"open and create fail", true, {{plat::RegistryCall::kOpen, 1}, {plat::RegistryCall::kCreate, 1}}, false},
  };
  for (const Case& c : cases) {
    Fresh();
    if (c.key_exists) StoreWords(kDefaultWords);
    for (const auto& [call, nth] : c.failures) plat::FailRegistryCall(call, nth, plat::kErrStoreIoFailed);
    EXPECT_EQ(paint::SavePreferences(FromWords(kCustomWords)), c.saved) << c.what;
    plat::ClearRegistryFailures();
    const Words expected = c.saved ? kCustomWords : c.key_exists ? kDefaultWords : Words{};
    EXPECT_EQ(Stored(), expected) << c.what;
    EXPECT_EQ(plat::BeepCount(plat::kBeepSimple), c.saved ? 0u : 1u) << c.what;
  }
}

TEST_F(PaintPrefsTest, ApplyKeepsTheStylusFlagsOnlyWithATablet) {
  for (bool tablet : {false, true}) {
    PaintGlobals g;
    paint::InitPaintGlobals(&g);
    g.tablet_available = tablet;
    Words w = kCustomWords;
    w[2] = 0xFFFFFFFF;  // only bit 0 counts
    w[3] = 2;
    w[4] = 3;
    paint::ApplyPreferences(FromWords(w), &g);
    EXPECT_FALSE(g.show_actual_brush_size);
    EXPECT_TRUE(g.better_preview);
    EXPECT_EQ(g.mouse_drawing_disabled, tablet);
    EXPECT_FALSE(g.high_res_coordinates);
    EXPECT_TRUE(g.show_toolbar);
    EXPECT_TRUE(g.swedish_ui);
    Words onion(9);
    std::memcpy(onion.data(), &g.onion, 36);
    EXPECT_EQ(onion, Words(w.begin() + 6, w.end()));
    EXPECT_EQ(g.tool, 2) << "the tools are not preferences";
  }
}

// ---------------------------------------------------------------------------
// The dialog
// ---------------------------------------------------------------------------
struct DialogRun {
  intptr_t result = 0;
  plat::DialogRecord record;
  PaintGlobals globals;
  std::string Text(int id) const {
    for (const auto& c : record.controls)
      if (c.id == id) return c.text;
    return "<none>";
  }
  unsigned Check(int id) const {
    for (const auto& c : record.controls)
      if (c.id == id) return c.check;
    return 99;
  }
};

DialogRun RunDialog(const std::string& script, bool tablet = true) {
  plat::DialogScript s;
  std::string error;
  EXPECT_TRUE(plat::ParseDialogScript(script, &s, &error)) << error;
  plat::PushDialogScript(s);
  DialogRun run;
  paint::InitPaintGlobals(&run.globals);
  run.globals.tablet_available = tablet;
  plat::ClearDialogRecords();
  run.result = paint::RunPreferencesDialog(&run.globals, plat::MainWindow());
  const auto records = plat::DialogRecords();
  EXPECT_EQ(records.size(), 1u);
  if (!records.empty()) run.record = records.back();
  return run;
}

TEST_F(PaintPrefsTest, DialogOpensOnTheStoredRecord) {
  StoreWords(kCustomWords);
  const DialogRun run = RunDialog("cancel");
  EXPECT_EQ(run.result, plat::kIdCancel);
  EXPECT_EQ(run.record.title, "Paint Preferences");
  const std::pair<int, unsigned> checks[] = {{1009, 0}, {1008, 1}, {1007, 0}, {1006, 1}, {1010, 0}, {1011, 1}};
  for (const auto& [id, state] : checks) EXPECT_EQ(run.Check(id), state) << id;
  EXPECT_EQ(run.Text(1014), "75");
  EXPECT_EQ(run.Text(1012), "12");
  EXPECT_EQ(run.Text(1013), "400");
  // Channels x 255, truncated: (0, 63.75, 255) and (51, 102, 153).
  EXPECT_EQ(run.Text(1015), "#003FFF");
  EXPECT_EQ(run.Text(1016), "#336699");
  EXPECT_EQ(Stored(), kCustomWords) << "Cancel changes nothing";
  EXPECT_FALSE(run.globals.better_preview) << "Cancel applies nothing";
}

TEST_F(PaintPrefsTest, OkStoresEveryControlAndAppliesWhatIsStored) {
  StoreWords(kDefaultWords);
  const DialogRun run =
      RunDialog("check 1009=0; check 1007=0; check 1011=0; text 1014=40; text 1012=7; text 1013=0; ok");
  EXPECT_EQ(run.result, plat::kIdOk);
  const Words expected = {0, 1,          0,          1,          1,          0,          Bits(0.4f), 7,
                          0, Bits(1.0f), Bits(0.5f), Bits(0.5f), Bits(0.5f), Bits(1.0f), Bits(0.5f)};
  EXPECT_EQ(Stored(), expected);
  const PaintGlobals& g = run.globals;
  const bool flags[] = {g.show_actual_brush_size, g.better_preview, g.mouse_drawing_disabled,
                        g.high_res_coordinates,   g.show_toolbar,   g.swedish_ui};
  const bool expected_flags[] = {false, true, false, true, true, false};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(flags[i], expected_flags[i]) << i;
  EXPECT_EQ(g.onion.skin_opacity, 0.4f);
  EXPECT_EQ(g.onion.frames_back, 7);
  EXPECT_EQ(g.onion.frames_forward, 0);
  EXPECT_EQ(g.onion.forward_color[1], 1.0f);
}

TEST_F(PaintPrefsTest, OkClampsAndRewritesFieldsOutOfRange) {
  struct Case {
    const char* script;
    int id;
    const char* shown;
    size_t word;
    uint32_t stored;
  };
  const Case cases[] = {
      {"text 1012=5000", 1012, "1000", 7, 1000},  {"text 1013=-3", 1013, "0", 8, 0},
      {"text 1014=1", 1014, "5", 6, Bits(0.05f)}, {"text 1014=250", 1014, "100", 6, Bits(1.0f)},
      {"text 1012=abc", 1012, "abc", 7, 0},  // no digits reads as 0, in range
  };
  for (const Case& c : cases) {
    Fresh();
    const DialogRun run = RunDialog(std::string(c.script) + "; ok");
    EXPECT_EQ(run.result, plat::kIdOk) << c.script;
    EXPECT_EQ(run.Text(c.id), c.shown) << c.script;
    const Words stored = Stored();
    ASSERT_EQ(stored.size(), 15u) << c.script;
    EXPECT_EQ(stored[c.word], c.stored) << c.script;
  }
}

TEST_F(PaintPrefsTest, WholePercentsReadBackAsTyped) {
  // The ends, and percents whose float lies just below them (x 100 in
  // double precision: 6, 35; in single precision: 53, 59).
  for (int percent : {5, 6, 35, 53, 59, 100}) {
    Fresh();
    RunDialog("text 1014=" + std::to_string(percent) + "; ok");
    const DialogRun reopened = RunDialog("cancel");
    EXPECT_EQ(reopened.Text(1014), std::to_string(percent));
    const Words stored = Stored();
    ASSERT_EQ(stored.size(), 15u);
    EXPECT_EQ(stored[6], Bits(float(percent / 100.0))) << percent;
  }
}

TEST_F(PaintPrefsTest, DefaultPutsTheDefaultRecordInEveryControl) {
  StoreWords(kCustomWords);
  const DialogRun run = RunDialog("click 1005; ok");
  EXPECT_EQ(run.Text(1014), "35");
  EXPECT_EQ(run.Text(1015), "#FF7F7F");
  EXPECT_EQ(run.Text(1016), "#7FFF7F");
  // The opacity reads back as the 35 the edit shows.
  Words expected = kDefaultWords;
  expected[6] = Bits(0.35f);
  EXPECT_EQ(Stored(), expected);
}

TEST_F(PaintPrefsTest, SwatchesAskTheColourChooser) {
  StoreWords(kCustomWords);
  const DialogRun run = RunDialog("click 1015; color #FF8000; click 1016; color cancel; click 1016; ok");
  EXPECT_EQ(run.result, plat::kIdOk);
  EXPECT_EQ(run.Text(1015), "#FF8000");
  EXPECT_EQ(run.Text(1016), "#336699");
  const auto asked = plat::ColorChooserRecords();
  ASSERT_EQ(asked.size(), 3u);
  EXPECT_EQ(asked[0].initial, plat::MakeColorRef(0x00, 0x3F, 0xFF));
  EXPECT_EQ(asked[0].owner, "Paint Preferences");
  EXPECT_TRUE(asked[0].flags & plat::kCcRgbInit);
  EXPECT_EQ(asked[1].outcome, plat::ColorChooserOutcome::kCancelled);
  EXPECT_EQ(asked[2].outcome, plat::ColorChooserOutcome::kUnanswered);
  const Words stored = Stored();
  ASSERT_EQ(stored.size(), 15u);
  EXPECT_EQ(Words(stored.begin() + 9, stored.end()),
            (Words{Bits(1.0f), Bits(128 / 255.0f), Bits(0.0f), Bits(0.2f), Bits(0.4f), Bits(0.6f)}));
  EXPECT_EQ(run.globals.onion.back_color[1], 128 / 255.0f);
}

TEST_F(PaintPrefsTest, DialogWithoutGlobalDataOrUserDataDoesNothing) {
  StoreWords(kCustomWords);
  plat::PushDialogScript({});
  EXPECT_EQ(paint::RunPreferencesDialog(nullptr, plat::MainWindow()), 0);
  EXPECT_TRUE(plat::DialogRecords().empty());
  plat::ClearDialogScripts();

  const DialogRun run = RunDialog("refuse-user-data; text 1012=9; ok");
  EXPECT_EQ(run.result, plat::kIdCancel);
  EXPECT_EQ(Stored(), kCustomWords);
}

TEST_F(PaintPrefsTest, WithoutATabletTheStylusFlagsStayOffWhenChecked) {
  const DialogRun run = RunDialog("check 1007=1; check 1006=1; ok", /*tablet=*/false);
  EXPECT_EQ(run.result, plat::kIdOk);
  EXPECT_FALSE(run.globals.mouse_drawing_disabled);
  EXPECT_FALSE(run.globals.high_res_coordinates);
  const Words stored = Stored();
  ASSERT_EQ(stored.size(), 15u);
  EXPECT_EQ(stored[2], 1u);
  EXPECT_EQ(stored[3], 1u);
}

}  // namespace
