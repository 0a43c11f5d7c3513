// The studio's session: project files, edits and undo, compositing and
// renders, checked against `ombrix render` and independent arithmetic.
#include "apps/ombrix/cli_support.h"
#include "studio/composite.h"
#include "studio/project.h"
#include "studio/session.h"

#include <ombrix/host/image_io.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace ombrix::studio {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using ombrix_cli_test::Bytes;
using ombrix_cli_test::Quote;

class StudioSession : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("ombrix-studio-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    common_.plugins = OMBRIX_TEST_PLUGIN_DIR;
    common_.quiet = true;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  void WriteText(const std::string& name, const std::string& text) const { std::ofstream(dir_ / name) << text; }

  // `ombrix ARGS` with the test's plug-ins; the exit status.
  int Ombrix(const std::string& args) const {
    const std::string cmd = Quote(OMBRIX_CLI) + " " + args + " --plugins " + Quote(OMBRIX_TEST_PLUGIN_DIR) + " -q >" +
                            Quote(Path("out.txt")) + " 2>&1";
    return std::system(cmd.c_str());
  }

  // A project of the test card with Mistform: Scale set, Contrast keyed.
  void MakeMistformProject(Session& s) {
    const std::string layer = s.Edit({{"op", "add_layer"}, {"source", "testcard"}})["added"];
    const std::string entry = s.Edit({{"op", "add_effect"}, {"layer", layer}, {"effect", "mistform"}})["added"];
    s.Edit({{"op", "set_param"}, {"layer", layer}, {"entry", entry}, {"param", 3}, {"value", "150"}});
    s.Edit({{"op", "set_param"}, {"layer", layer}, {"entry", entry}, {"param", 2}, {"value", "50"}, {"time", 0}});
    s.Edit({{"op", "set_param"}, {"layer", layer}, {"entry", entry}, {"param", 2}, {"value", "200"}, {"time", 2}});
  }

  fs::path dir_;
  cli::CommonOptions common_;
};

Frame ReadFrame(const std::string& path) { return FrameOf(ReadImage(path).pf()); }

void ExpectSameFrame(const Frame& a, const Frame& b) {
  ASSERT_EQ(a.width, b.width);
  ASSERT_EQ(a.height, b.height);
  EXPECT_TRUE(a.rgba == b.rgba);
}

// Source-over of straight alpha in real numbers, rounded at the end.
PF_Pixel OverReal(PF_Pixel top, PF_Pixel bottom) {
  const double t = top.alpha / 255.0, b = bottom.alpha / 255.0;
  const double a = t + b * (1 - t);
  auto mix = [&](int ct, int cb) { return A_u_char(std::lround((ct * t + cb * b * (1 - t)) / a)); };
  return PF_Pixel{A_u_char(std::lround(a * 255)), mix(top.red, bottom.red), mix(top.green, bottom.green),
                  mix(top.blue, bottom.blue)};
}

TEST(StudioComposite, OverMatchesRealArithmetic) {
  for (int t = 1; t < 255; t += 7) {
    for (int b = 1; b <= 255; b += 9) {
      const PF_Pixel top{A_u_char(t), 200, 13, 97}, bottom{A_u_char(b), 31, 250, 97};
      const PF_Pixel got = Over(top, bottom), want = OverReal(top, bottom);
      EXPECT_EQ(got.alpha, want.alpha) << t << " over " << b;
      EXPECT_EQ(got.red, want.red) << t << " over " << b;
      EXPECT_EQ(got.green, want.green) << t << " over " << b;
      EXPECT_EQ(got.blue, want.blue) << t << " over " << b;
    }
  }
}

TEST(StudioComposite, EndsKeepOnePixelExactly) {
  struct Case {
    PF_Pixel top, bottom, want;
  } cases[] = {
      {{0, 1, 2, 3}, {0, 9, 9, 9}, {0, 1, 2, 3}},                // over nothing: the top, colour and all
      {{77, 10, 20, 30}, {0, 200, 200, 200}, {77, 10, 20, 30}},  // over nothing
      {{0, 10, 20, 30}, {90, 1, 2, 3}, {90, 1, 2, 3}},           // nothing over: the bottom
      {{255, 10, 20, 30}, {90, 1, 2, 3}, {255, 10, 20, 30}},     // opaque top
  };
  for (const Case& c : cases) {
    const PF_Pixel got = Over(c.top, c.bottom);
    EXPECT_EQ(std::vector<int>({got.alpha, got.red, got.green, got.blue}),
              std::vector<int>({c.want.alpha, c.want.red, c.want.green, c.want.blue}));
  }
}

TEST_F(StudioSession, LayersCompositeBottomToTopClippedToTheComposition) {
  Session s(common_, std::nullopt);
  s.Edit({{"op", "set_composition"}, {"width", 4}, {"height", 3}});
  s.Edit({{"op", "add_layer"}, {"source", "solid:4x3:#102030FF"}});
  s.Edit({{"op", "add_layer"}, {"source", "solid:2x2:#F0804080"}, {"at", 0}});
  const std::string hidden = s.Edit({{"op", "add_layer"}, {"source", "solid:4x3:#FFFFFFFF"}, {"at", 0}})["added"];
  s.Edit({{"op", "set_layer"}, {"layer", hidden}, {"visible", false}});
  const Frame f = *s.Render(0, "1/1", nullptr);
  ASSERT_EQ(f.width, 4);
  ASSERT_EQ(f.height, 3);
  const PF_Pixel mixed = OverReal({0x80, 0xF0, 0x80, 0x40}, {0xFF, 0x10, 0x20, 0x30});
  for (A_long y = 0; y < 3; ++y) {
    for (A_long x = 0; x < 4; ++x) {
      const bool covered = x < 2 && y < 2;
      const uint8_t* p = &f.rgba[size_t(y * 4 + x) * 4];
      const std::vector<int> want = covered ? std::vector<int>{mixed.red, mixed.green, mixed.blue, mixed.alpha}
                                            : std::vector<int>{0x10, 0x20, 0x30, 0xFF};
      EXPECT_EQ(std::vector<int>(p, p + 4), want) << x << "," << y;
    }
  }
}

TEST_F(StudioSession, BadProjectFilesAreRefusedNamingTheField) {
  const std::string good_layer =
      R"({"id": "L1", "source": "testcard:64x36", "effects": [{"id": "E1", "effect": "mistform", "params": [)";
  auto project = [&](const std::string& params, const std::string& extra = "") {
    return R"({"ombrix_project": 1, "composition": {"width": 64, "height": 36, "fps": "24", "frames": 4},)"
           R"( "layers": [)" +
           good_layer + params + "]" + extra + "}]}]}";
  };
  struct Case {
    std::string text, message;
  } cases[] = {
      {"{\n  \"ombrix_project\": 1,\n  \"composition\": {,}\n}", "line 3, column"},
      {R"({"ombrix_project": 2, "composition": {}, "layers": []})", "ombrix_project"},
      {R"({"ombrix_project": 1, "composition": {"width": 8, "height": 8, "fps": "24", "frames": 0}, "layers": []})",
       "composition.frames"},
      {R"({"ombrix_project": 1, "composition": {"width": 8, "height": 8, "fps": "x", "frames": 1}, "layers": []})",
       "composition.fps"},
      {R"({"ombrix_project": 1, "composition": {"width": 8, "height": 8, "fps": "24", "frames": 1},)"
       R"( "layers": [{"id": "L", "source": "rgba:4x4:-"}]})",
       "layers[0].source"},
      {R"({"ombrix_project": 1, "composition": {"width": 8, "height": 8, "fps": "24", "frames": 1},)"
       R"( "layers": [{"id": "L", "source": "testcard"}, {"id": "L", "source": "testcard"}]})",
       "layers[1].id"},
      {R"({"ombrix_project": 1, "composition": {"width": 8, "height": 8, "fps": "24", "frames": 1},)"
       R"( "layers": [{"id": "L", "source": "testcard", "effects": [{"id": "E", "effect": "nosuch"}]}]})",
       "layers[0].effects[0].effect"},
      {project(R"({"index": 99, "value": "1"})"), "layers[0].effects[0].params[0].index"},
      {project(R"({"index": 3, "name": "Contrast", "value": "1"})"), "layers[0].effects[0].params[0].name"},
      {project(R"({"index": 2, "value": "1"}, {"index": 3, "value": "lots"})"), "layers[0].effects[0].params[1].value"},
      {project(R"({"index": 2, "value": "1", "keys": [{"time": 1, "value": "2"}, {"time": 0.5, "value": "3"}]})"),
       "layers[0].effects[0].params[0].keys[1].time"},
      {project(R"({"index": 2, "value": "1", "keys": [{"time": 1, "value": "high"}]})"),
       "layers[0].effects[0].params[0].keys[0].value"},
      {project("", R"(, "sequence_data": "AAA")"), "layers[0].effects[0].sequence_data"},
      {project("", R"(, "sequence_data": 5)"), "layers[0].effects[0].sequence_data"},
      {project("", R"(, "colour": "red")"), "unknown field \"colour\""},
      {project("", R"(, "enabled": true, "enabled": false)"), "\"enabled\" is given twice"},
  };
  Session s(common_, std::nullopt);
  s.Edit({{"op", "add_layer"}, {"source", "testcard"}});
  s.Save(Path("kept.ombrix"));
  const json before = s.State();
  for (const Case& c : cases) {
    WriteText("bad.ombrix", c.text);
    try {
      s.Open(Path("bad.ombrix"));
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const cli::UsageError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
    EXPECT_EQ(s.State(), before) << c.text;
  }
}

TEST_F(StudioSession, SaveThenOpenIsByteStable) {
  {
    Session s(common_, std::nullopt);
    MakeMistformProject(s);
    s.Edit({{"op", "add_layer"}, {"source", "solid:32x16:#336699"}, {"name", "Back"}});
    s.Save(Path("a.ombrix"));
    EXPECT_FALSE(s.State()["dirty"].get<bool>());
  }
  Session reopened(common_, Path("a.ombrix"));
  reopened.Save(Path("b.ombrix"));
  EXPECT_EQ(Bytes(Path("a.ombrix")), Bytes(Path("b.ombrix")));
  const json seq = reopened.State()["project"]["layers"][1]["effects"][0]["sequence_data"];
  ASSERT_TRUE(seq.is_string()) << reopened.State().dump();
  EXPECT_EQ(Base64Encode(*Base64Decode(seq.get<std::string>())), seq.get<std::string>());
}

TEST_F(StudioSession, AFailedSaveChangesNothing) {
  Session s(common_, std::nullopt);
  EXPECT_THROW(s.Save(std::nullopt), cli::UsageError);  // no file yet
  s.Edit({{"op", "add_layer"}, {"source", "testcard"}});
  WriteText("locked.ombrix", "old");
  fs::permissions(Path("locked.ombrix"), fs::perms::owner_read);
  fs::create_directories(Path("folder.ombrix"));
  const json before = s.State();
  for (const std::string& target : {Path("locked.ombrix"), Path("folder.ombrix"), Path("missing/p.ombrix")}) {
    EXPECT_THROW(s.Save(target), cli::UsageError) << target;
    EXPECT_EQ(s.State(), before);
  }
  EXPECT_EQ(Bytes(Path("locked.ombrix")), "old");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);  // no temporary left
}

TEST_F(StudioSession, TheDocumentedExampleOpens) {
  const std::string doc = Bytes(fs::path(OMBRIX_TEST_SOURCE_DIR) / "docs" / "studio.md");
  const size_t start = doc.find("```json\n");
  ASSERT_NE(start, std::string::npos);
  WriteText("example.ombrix", doc.substr(start + 8, doc.find("```", start + 8) - start - 8));
  Session s(common_, Path("example.ombrix"));
  EXPECT_EQ(s.State()["project"]["layers"][0]["effects"][0]["params"][1]["name"], "Scale");
}

TEST(StudioBase64, KnownTextsAndRefusals) {
  const std::pair<std::string, std::string> known[] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}};
  for (const auto& [plain, text] : known) {
    EXPECT_EQ(Base64Encode(std::vector<uint8_t>(plain.begin(), plain.end())), text);
    EXPECT_EQ(Base64Decode(text), std::vector<uint8_t>(plain.begin(), plain.end()));
  }
  for (const char* bad : {"Zg=", "Z===", "Zh==", "Zm9v=Zg=", "Zm 9", "Zm9*"}) EXPECT_FALSE(Base64Decode(bad)) << bad;
}

TEST_F(StudioSession, EditsUndoRedoAndMergedDrags) {
  Session s(common_, std::nullopt);
  const std::string layer = s.Edit({{"op", "add_layer"}, {"source", "testcard"}})["added"];
  const std::string entry = s.Edit({{"op", "add_effect"}, {"layer", layer}, {"effect", "mistform"}})["added"];
  auto scale = [&]() -> json {
    const json params = s.State()["project"]["layers"][0]["effects"][0]["params"];
    return params.empty() ? json(nullptr) : params[0]["value"];
  };
  const json drag{{"op", "set_param"}, {"layer", layer}, {"entry", entry}, {"param", 3}, {"merge", true}};
  for (const char* v : {"120", "140", "160"}) {
    json step = drag;
    step["value"] = v;
    s.Edit(step);
  }
  EXPECT_EQ(scale(), "160");
  s.Undo();  // the whole drag is one step
  EXPECT_EQ(scale(), nullptr);
  s.Redo();
  EXPECT_EQ(scale(), "160");
  s.Undo();
  s.Edit({{"op", "set_effect"}, {"layer", layer}, {"entry", entry}, {"enabled", false}});
  EXPECT_FALSE(s.State()["can_redo"].get<bool>());  // a new edit clears redo

  // A refused edit changes nothing, not even the revision.
  const json before = s.State();
  for (const json& bad :
       {json{{"op", "set_param"}, {"layer", layer}, {"entry", entry}, {"param", 3}, {"value", "x"}},
        json{{"op", "set_param"}, {"layer", layer}, {"entry", entry}, {"param", 40}, {"value", "1"}},
        json{{"op", "remove_layer"}, {"layer", "nosuch"}}, json{{"op", "set_composition"}, {"fps", "0"}},
        json{{"op", "add_effect"}, {"layer", layer}, {"effect", "nosuch"}}, json{{"op", "spin"}}}) {
    EXPECT_THROW(s.Edit(bad), cli::UsageError) << bad;
    EXPECT_EQ(s.State(), before) << bad;
  }

  // Dirty follows the saved file, also when undo returns to it.
  s.Save(Path("p.ombrix"));
  s.Edit({{"op", "set_layer"}, {"layer", layer}, {"name", "Card"}});
  EXPECT_TRUE(s.State()["dirty"].get<bool>());
  s.Undo();
  EXPECT_FALSE(s.State()["dirty"].get<bool>());

  // The history is bounded.
  for (int i = 0; i < 210; ++i) s.Edit({{"op", "set_layer"}, {"layer", layer}, {"name", std::to_string(i)}});
  int undone = 0;
  while (s.State()["can_undo"].get<bool>()) s.Undo(), ++undone;
  EXPECT_EQ(undone, 200);
  EXPECT_EQ(s.State()["project"]["layers"][0]["name"], "9");
}

TEST_F(StudioSession, OptionsDialogKeepsNewSequenceDataAndUndoRestoresIt) {
  Session s(common_, std::nullopt);
  MakeMistformProject(s);
  auto seq = [&] { return s.State()["project"]["layers"][0]["effects"][0]["sequence_data"]; };
  const json before = seq();
  const json state = s.State()["project"]["layers"][0];
  s.Edit({{"op", "options"}, {"layer", state["id"]}, {"entry", state["effects"][0]["id"]}, {"answers", "1002=99"}});
  EXPECT_NE(seq(), before);
  const Frame seeded = *s.Render(3, "1/4", nullptr);
  s.Undo();
  EXPECT_EQ(seq(), before);
  EXPECT_FALSE(s.Render(3, "1/4", nullptr)->rgba == seeded.rgba);  // the live instance follows the data
}

TEST_F(StudioSession, OneLayerRendersWhatOmbrixRenderRendersWithKeys) {
  // Frame 12 at 24 fps is 0.5 s, between the keys at 0 and 2 s.
  ASSERT_EQ(Ombrix("render mistform -i testcard -p Scale=150 -k Contrast@0=50 -k Contrast@2=200 --frame 12 -o " +
                   Quote(Path("ref.png"))),
            0)
      << Bytes(Path("out.txt"));
  Session s(common_, std::nullopt);
  MakeMistformProject(s);
  const Frame ref = ReadFrame(Path("ref.png"));
  ExpectSameFrame(*s.Render(12, "1/1", nullptr), ref);
  // The same after the instance was used for another frame.
  s.Render(40, "1/1", nullptr);
  ExpectSameFrame(*s.Render(12, "1/1", nullptr), ref);
}

TEST_F(StudioSession, RenderProjectWritesTheSessionsFrames) {
  Session s(common_, std::nullopt);
  MakeMistformProject(s);
  s.Edit({{"op", "add_layer"}, {"source", "solid:640x360:#204060"}});
  s.Save(Path("p.ombrix"));
  ASSERT_EQ(Ombrix("render --project " + Quote(Path("p.ombrix")) + " --frame 12 -o " + Quote(Path("one.png"))), 0)
      << Bytes(Path("out.txt"));
  ExpectSameFrame(ReadFrame(Path("one.png")), *s.Render(12, "1/1", nullptr));
  ASSERT_EQ(Ombrix("render --project " + Quote(Path("p.ombrix")) + " --frames 30-31 -o " + Quote(Path("f.####.png"))),
            0)
      << Bytes(Path("out.txt"));
  ExpectSameFrame(ReadFrame(Path("f.0030.png")), *s.Render(30, "1/1", nullptr));
  ExpectSameFrame(ReadFrame(Path("f.0031.png")), *s.Render(31, "1/1", nullptr));
  // Options the project itself holds are refused, as are frames past its end.
  EXPECT_NE(Ombrix("render --project " + Quote(Path("p.ombrix")) + " -p Scale=3 -o " + Quote(Path("x.png"))), 0);
  EXPECT_NE(Ombrix("render --project " + Quote(Path("p.ombrix")) + " --frame 48 -o " + Quote(Path("x.png"))), 0);
  EXPECT_FALSE(fs::exists(Path("x.png")));
}

TEST_F(StudioSession, EffectDetailsComeFromTheEffect) {
  Session s(common_, std::nullopt);
  const json effects = s.Effects();
  EXPECT_TRUE(std::any_of(effects.begin(), effects.end(), [](const json& e) { return e["name"] == "mistform"; }));
  const json d = s.EffectDetails("mistform");
  EXPECT_EQ(d["info"]["params"][3]["name"], "Scale");
  EXPECT_FALSE(d["about"].get<std::string>().empty());
  EXPECT_TRUE(d["dialog"]["has_dialog"].get<bool>());
  const json controls = d["dialog"]["controls"];
  EXPECT_TRUE(std::any_of(controls.begin(), controls.end(), [](const json& c) { return c["id"] == 1002; }));
  EXPECT_THROW(s.EffectDetails("nosuch"), cli::UsageError);
}

TEST_F(StudioSession, DownsampledPreviewAndCancel) {
  Session s(common_, std::nullopt);
  MakeMistformProject(s);
  const Frame half = *s.Render(5, "1/2", nullptr);
  EXPECT_EQ(half.width, 320);
  EXPECT_EQ(half.height, 180);
  EXPECT_EQ(half.rgba.size(), size_t(320 * 180 * 4));
  const Frame full = *s.Render(5, "1/1", nullptr);
  const std::atomic<bool> cancelled{true};
  EXPECT_FALSE(s.Render(5, "1/1", &cancelled));
  // A cancelled render leaves the session as it was.
  const std::atomic<bool> go{false};
  ExpectSameFrame(*s.Render(5, "1/1", &go), full);
  EXPECT_THROW(s.Render(48, "1/1", nullptr), cli::UsageError);
  EXPECT_THROW(s.Render(0, "2/1", nullptr), cli::UsageError);
}

TEST_F(StudioSession, RendersRunBesideEditsAndStopWhenCancelled) {
  Session s(common_, std::nullopt);
  s.Edit({{"op", "set_composition"}, {"width", 1600}, {"height", 1600}});
  const std::string layer = s.Edit({{"op", "add_layer"}, {"source", "solid:1600x1600:#808080"}})["added"];
  const std::string entry = s.Edit({{"op", "add_effect"}, {"layer", layer}, {"effect", "mistform"}})["added"];
  s.Edit({{"op", "set_param"}, {"layer", layer}, {"entry", entry}, {"param", 5}, {"value", "20"}});
  const auto t0 = std::chrono::steady_clock::now();
  const Frame full = *s.Render(0, "1/1", nullptr);
  const auto full_time = std::chrono::steady_clock::now() - t0;
  std::atomic<bool> cancel{false};
  std::optional<Frame> cancelled;
  std::chrono::steady_clock::duration cancelled_time{};
  std::thread render([&] {
    const auto t1 = std::chrono::steady_clock::now();
    cancelled = s.Render(0, "1/1", &cancel);
    cancelled_time = std::chrono::steady_clock::now() - t1;
  });
  // Edits go on while the render runs; it renders the project as it was.
  for (int i = 0; i < 5; ++i) {
    s.Edit({{"op", "set_param"}, {"layer", layer}, {"entry", entry}, {"param", 3}, {"value", std::to_string(60 + i)}});
  }
  std::this_thread::sleep_for(full_time / 10);
  cancel = true;
  render.join();
  EXPECT_FALSE(cancelled);
  // Stopped inside the effect's render, not after it.
  EXPECT_LT(cancelled_time, full_time);
  for (int i = 0; i < 5; ++i) s.Undo();
  ExpectSameFrame(*s.Render(0, "1/1", nullptr), full);
}

}  // namespace
}  // namespace ombrix::studio
