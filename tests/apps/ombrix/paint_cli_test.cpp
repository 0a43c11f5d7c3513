// `ombrix paint`: a strokes file imported, described and exported again,
// in both byte orders, and failures that must leave existing files alone.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "cli_support.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using ombrix_cli_test::Bytes;
using ombrix_cli_test::Quote;
using ombrix_cli_test::Result;

const char kStrokes[] = R"({
  "brush": {"color": [1, 0.5, 0], "radius": 8, "pressure_opacity": true},
  "smooth": true, "timing": 3,
  "strokes": [
    {"time": 0.5, "duration": 0.25, "points": [[0, 0.1, 0.2, 1], [0.1, 0.3, 0.7, 0.8], [0.25, 0.9, 0.4, 0.6]]},
    {"time": 2, "brush": {"type": 9, "radius": 1000}, "points": [[0, 0.5, 0.5], [0.5, -0.25, 1.5, 0.3]]}
  ]})";

// A stored drawing without the notes a render leaves in it: the "Draw
// Strokes..." mode (header word 13) and each stroke's points drawn (word 11).
std::string WithoutRenderNotes(std::string drawing) {
  auto word = [&](size_t at) {
    uint32_t w = 0;
    std::memcpy(&w, drawing.data() + at, 4);
    return w;
  };
  if (drawing.size() < 216) return drawing;
  drawing.replace(4 * 13, 4, 4, '\0');
  const size_t strokes = word(4 * 8), count = word(4 * 5);
  for (size_t k = 0; k < count && strokes + 68 * (k + 1) <= drawing.size(); ++k)
    drawing.replace(strokes + 68 * k + 4 * 11, 4, 4, '\0');
  return drawing;
}

class PaintCli : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "ombrix-paint-XXXXXX").string();
    dir_ = mkdtemp(tmpl.data());
    std::ofstream(Path("strokes.json")) << kStrokes;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  Result Paint(std::vector<std::string> args) {
    args.insert(args.begin(), "paint");
    return Ombrix(args);
  }
  Result Ombrix(const std::vector<std::string>& args) {
    std::string cmd = Quote(OMBRIX_CLI);
    for (const auto& a : args) cmd += " " + Quote(a);
    cmd += " >" + Quote(Path("out.txt")) + " 2>" + Quote(Path("err.txt")) + " </dev/null";
    const int raw = std::system(cmd.c_str());
    return Result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Bytes(Path("out.txt")), Bytes(Path("err.txt"))};
  }
  fs::path dir_;
};

TEST_F(PaintCli, ImportInfoExportRoundTrip) {
  const json in = json::parse(kStrokes);
  for (const std::string order : {"little", "big"}) {
    SCOPED_TRACE(order);
    ASSERT_EQ(Paint({"import", Path("strokes.json"), "-o", Path("a.paint"), "--byte-order", order}).status, 0);
    const Result info = Paint({"info", Path("a.paint"), "--json"});
    ASSERT_EQ(info.status, 0) << info.err;
    const json facts = json::parse(info.out);
    EXPECT_EQ(facts["version"], 264);
    EXPECT_EQ(facts["byte_order"], order + "-endian");
    EXPECT_EQ(facts["stroke_count"], 2);
    EXPECT_EQ(facts["point_count"], 5);
    EXPECT_EQ(facts["strokes"][0]["id"], 2);
    EXPECT_EQ(facts["strokes"][1]["id"], 3);
    EXPECT_EQ(facts["strokes"][1]["duration"], 0.5);  // the last point's time

    ASSERT_EQ(Paint({"export", Path("a.paint"), "-o", Path("a.json")}).status, 0);
    const json out = json::parse(Bytes(Path("a.json")));
    EXPECT_EQ(out["timing"], 3);
    EXPECT_EQ(out["smooth"], true);
    EXPECT_EQ(out["brush"]["radius"], 8);
    EXPECT_EQ(out["brush"]["pressure_radius"], true);
    EXPECT_EQ(out["brush"]["pressure_opacity"], true);
    // The second stroke takes the current brush with its own type and a radius clamped to 500.
    EXPECT_EQ(out["strokes"][1]["brush"]["type"], 9);
    EXPECT_EQ(out["strokes"][1]["brush"]["radius"], 500);
    EXPECT_EQ(out["strokes"][1]["brush"]["color"][1], 0.5);
    for (size_t s = 0; s < 2; ++s) {
      const json& want = in["strokes"][s]["points"];
      const json& got = out["strokes"][s]["points"];
      ASSERT_EQ(got.size(), want.size());
      for (size_t p = 0; p < want.size(); ++p) {
        for (size_t k = 0; k < 4; ++k) {
          const float w = k < want[p].size() ? float(want[p][k].get<double>()) : 1.0f;
          EXPECT_EQ(float(got[p][k].get<double>()), w) << s << " " << p << " " << k;
        }
      }
    }
    // Import of the export gives the same drawing, byte for byte, and exports to the same text.
    ASSERT_EQ(Paint({"import", Path("a.json"), "-o", Path("b.paint"), "--byte-order", order}).status, 0);
    EXPECT_EQ(Bytes(Path("b.paint")), Bytes(Path("a.paint")));
    ASSERT_EQ(Paint({"export", Path("b.paint"), "-o", Path("b.json")}).status, 0);
    EXPECT_EQ(Bytes(Path("b.json")), Bytes(Path("a.json")));
  }
}

TEST_F(PaintCli, FailuresLeaveExistingFilesAlone) {
  ASSERT_EQ(Paint({"import", Path("strokes.json"), "-o", Path("a.paint")}).status, 0);
  const std::string drawing = Bytes(Path("a.paint"));
  std::ofstream(Path("damaged.paint")) << drawing.substr(0, drawing.size() - 10);
  std::ofstream(Path("keep.json")) << "keep";
  const struct {
    const char* bad;
    std::vector<std::string> args;
    std::string kept;
  } cases[] = {
      {"not JSON", {"import", Path("a.paint"), "-o", Path("a.paint")}, "a.paint"},
      {"one point", {"import", Path("one.json"), "-o", Path("a.paint")}, "a.paint"},
      {"missing input", {"import", Path("none.json"), "-o", Path("a.paint")}, "a.paint"},
      {"damaged drawing", {"export", Path("damaged.paint"), "-o", Path("keep.json")}, "keep.json"},
  };
  std::ofstream(Path("one.json")) << R"({"strokes": [{"time": 0, "points": [[0, 0.5, 0.5, 1]]}]})";
  for (const auto& c : cases) {
    const std::string before = Bytes(Path(c.kept));
    const Result r = Paint(c.args);
    EXPECT_EQ(r.status, 2) << c.bad;
    EXPECT_EQ(ombrix_cli_test::Lines(r.err), 1) << c.bad << ": " << r.err;
    EXPECT_EQ(Bytes(Path(c.kept)), before) << c.bad;
  }
  const Result info = Paint({"info", Path("damaged.paint")});
  EXPECT_EQ(info.status, 2);
  EXPECT_NE(info.err.find("damaged"), std::string::npos) << info.err;
}

// The effect restores an imported drawing and saves it again unchanged.
TEST_F(PaintCli, RenderRestoresAndSavesADrawingInEitherByteOrder) {
  ASSERT_EQ(Paint({"import", Path("strokes.json"), "-o", Path("little.paint")}).status, 0);
  ASSERT_EQ(Paint({"export", Path("little.paint"), "-o", Path("little.json")}).status, 0);
  for (const std::string order : {"little", "big"}) {
    SCOPED_TRACE(order);
    ASSERT_EQ(Paint({"import", Path("strokes.json"), "-o", Path("d.paint"), "--byte-order", order}).status, 0);
    const Result r = Ombrix({"render", "paint", "-i", "solid:8x4", "-o", Path("out.png"), "--sequence-data",
                             Path("d.paint"), "--save-sequence-data", Path("d2.paint")});
    ASSERT_EQ(r.status, 0) << r.err;
    // Saved in this machine's order: the same bytes as a little-endian import
    // but for what the render notes (its mode, each stroke's points drawn).
    EXPECT_EQ(WithoutRenderNotes(Bytes(Path("d2.paint"))), WithoutRenderNotes(Bytes(Path("little.paint"))));
    const Result info = Paint({"info", Path("d2.paint"), "--json"});
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(json::parse(info.out)["stroke_count"], 2);
    ASSERT_EQ(Paint({"export", Path("d2.paint"), "-o", Path("d2.json")}).status, 0);
    EXPECT_EQ(json::parse(Bytes(Path("d2.json"))), json::parse(Bytes(Path("little.json"))));
  }
}

// A drawing the effect cannot read is never replaced by the empty one it
// starts instead; saving it elsewhere is allowed.
TEST_F(PaintCli, AnUnreadableDrawingIsNotSavedOverItself) {
  ASSERT_EQ(Paint({"import", Path("strokes.json"), "-o", Path("a.paint")}).status, 0);
  const std::string drawing = Bytes(Path("a.paint"));
  std::ofstream(Path("damaged.paint"), std::ios::binary) << drawing.substr(0, drawing.size() - 8);
  const std::string damaged = Bytes(Path("damaged.paint"));
  Result r = Ombrix({"render", "paint", "-i", "solid:8x4", "-o", Path("out.png"), "--sequence-data",
                     Path("damaged.paint"), "--save-sequence-data", Path("damaged.paint")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("could not be opened"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("not saving"), std::string::npos) << r.err;
  EXPECT_EQ(Bytes(Path("damaged.paint")), damaged);
  EXPECT_FALSE(fs::exists(Path("out.png")));

  r = Ombrix({"render", "paint", "-i", "solid:8x4", "-o", Path("out.png"), "--sequence-data", Path("damaged.paint"),
              "--save-sequence-data", Path("empty.paint")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Bytes(Path("empty.paint")).size(), 216u);
  // A drawing that reads well may be saved over itself.
  r = Ombrix({"render", "paint", "-i", "solid:8x4", "-o", Path("out.png"), "--sequence-data", Path("a.paint"),
              "--save-sequence-data", Path("a.paint")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(WithoutRenderNotes(Bytes(Path("a.paint"))), WithoutRenderNotes(drawing));
}

// An imported drawing rendered from the command line: at a time, a frame
// range and half resolution, read back as raw RGBA bytes.
TEST_F(PaintCli, RendersAnImportedDrawingAtAnyTimeAndResolution) {
  // One white stroke along row 2 of a 16 x 8 layer, painted at 1 s.
  std::ofstream(Path("line.json"))
      << R"({"strokes": [{"time": 1, "brush": {"type": 1, "radius": 3, "color": [1, 1, 1], "pressure_radius": false},
            "points": [[0, 0.1, 0.25, 1], [0.2, 0.9, 0.25, 1]]}]})";
  ASSERT_EQ(Paint({"import", Path("line.json"), "-o", Path("line.paint")}).status, 0);
  auto render = [&](std::vector<std::string> extra) {
    std::vector<std::string> args{"render",
                                  "paint",
                                  "-i",
                                  "solid:16x8:#000000FF",
                                  "-o",
                                  "rgba:-",
                                  "-q",
                                  "--sequence-data",
                                  Path("line.paint"),
                                  "-p",
                                  "Draw Strokes...=2"};
    args.insert(args.end(), extra.begin(), extra.end());
    const Result r = Ombrix(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  };
  auto pixel = [](const std::string& rgba, size_t width, size_t x, size_t y, size_t frame = 0) {
    const size_t at = frame * width * (width / 2) * 4 + 4 * (y * width + x);
    return rgba.size() >= at + 4 ? rgba.substr(at, 4) : std::string();
  };
  const std::string white("\xFF\xFF\xFF\xFF", 4), black("\0\0\0\xFF", 4);
  const std::string after = render({"--time", "2"});
  ASSERT_EQ(after.size(), 16u * 8 * 4);
  EXPECT_EQ(pixel(after, 16, 8, 2), white);
  EXPECT_EQ(pixel(after, 16, 8, 6), black);
  // Past strokes only: before 1 s the layer is untouched.
  EXPECT_EQ(pixel(render({"--time", "0.5"}), 16, 8, 2), black);
  // Frames 23 and 24 at 24 fps: the stroke appears on the frame of 1 s.
  const std::string frames = render({"--frames", "23-24"});
  ASSERT_EQ(frames.size(), 2u * 16 * 8 * 4);
  EXPECT_EQ(pixel(frames, 16, 8, 2, 0), black);
  EXPECT_EQ(pixel(frames, 16, 8, 2, 1), white);
  // Half resolution: 8 x 4, the stroke on row 1.
  const std::string half = render({"--time", "2", "--downsample", "1/2"});
  ASSERT_EQ(half.size(), 8u * 4 * 4);
  EXPECT_EQ(pixel(half, 8, 4, 1), white);
}

TEST_F(PaintCli, DialogAnswersDriveThePreferencesDialog) {
  const Result r = Ombrix({"render", "paint", "-i", "solid:8x4", "-o", Path("p.png"), "--dialog",
                           "1015=click,color=#FF8000,1012=4", "--registry", Path("prefs")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("options dialog: OK"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::exists(Path("p.png")));
  const Result bad = Ombrix(
      {"render", "paint", "-i", "solid:8x4", "-o", Path("q.png"), "--dialog", "999=on", "--registry", Path("prefs")});
  EXPECT_EQ(bad.status, 2) << bad.err;
}

// `paint apply`: scripted menu choices on a drawing of nine strokes painted
// at 0, 0.5, ..., 4 s.
class PaintApply : public PaintCli {
 protected:
  void SetUp() override {
    PaintCli::SetUp();
    json strokes = json::array();
    for (int i = 0; i < 9; ++i) strokes.push_back({{"time", 0.5 * i}, {"points", {{0, 0.1, 0.1}, {0.1, 0.2, 0.2}}}});
    std::ofstream(Path("nine.json")) << json{{"strokes", strokes}}.dump();
    ASSERT_EQ(Paint({"import", Path("nine.json"), "-o", Path("nine.paint")}).status, 0);
  }
  Result Apply(const json& script, const std::string& out = "out.paint") {
    std::ofstream(Path("script.json")) << script.dump();
    return Paint({"apply", Path("nine.paint"), Path("script.json"), "-o", Path(out), "--registry", Path("reg")});
  }
  json Info(const std::string& drawing) {
    const Result r = Paint({"info", Path(drawing), "--json"});
    EXPECT_EQ(r.status, 0) << r.err;
    return json::parse(r.out);
  }
};

TEST_F(PaintApply, StepsRunThroughTheMenuWithTheirAnswers) {
  const json script = json::parse(R"({"time": 0, "width": 640, "height": 360, "steps": [
      {"menu": 40016}, {"menu": 40024, "confirm": true}, {"menu": 40009},
      {"time": 1.01}, {"menu": 40019}, {"menu": 40022},
      {"menu": 40043, "value": 50}, {"menu": 40042, "color": "#FF8000"}, {"menu": 40042, "cancel": true},
      {"menu": 40010}]})");
  const Result r = Apply(script);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("8 strokes, 0 selected, tool Select"), std::string::npos) << r.out;
  const json info = Info("out.paint");
  // All nine deleted and brought back by Undo; then the one painted at 1.0 s,
  // within 0.02 s of 1.01, deleted.
  ASSERT_EQ(info["stroke_count"], 8);
  for (const json& s : info["strokes"]) EXPECT_NE(s["time"], 1.0);
  EXPECT_EQ(info["brush"]["opacity"], 0.5);
  EXPECT_EQ(info["brush"]["color"][0], 1.0);
  EXPECT_EQ(float(info["brush"]["color"][1].get<double>()), 128.0f / 255.0f);
  EXPECT_EQ(info["brush"]["color"][2], 0.0);
  EXPECT_EQ(info["selection"]["selected"], 0);

  ASSERT_EQ(Apply(json::parse(R"({"steps": [{"menu": 40018}]})")).status, 0);
  const json last = Info("out.paint");
  EXPECT_EQ(last["selection"]["selected"], 1);
  for (const json& s : last["strokes"]) EXPECT_EQ(s["selected"], s["id"] == 10) << s;
}

TEST_F(PaintApply, RefusedStepsWriteNothing) {
  const struct {
    const char* script;
    const char* says;
  } cases[] = {
      // The Brush commands end what Undo could take back, so the last step finds "Undo" disabled.
      {R"({"time": 1.5, "width": 640, "height": 360, "steps": [{"menu": 40016}, {"menu": 40024, "confirm": true},
          {"menu": 40043, "value": 50}, {"menu": 40042, "color": "#FF8000"}, {"menu": 40042, "cancel": true},
          {"time": 2.0}, {"menu": 40009}]})",
       R"(steps[6]: the menu item "Undo" (40009) is disabled)"},
      {R"({"steps": [{"menu": 40017}]})", R"(steps[0]: the menu item "Select > None" (40017) is disabled)"},
      // With no stroke left the Select tool has given way to Paint and cannot be chosen.
      {R"({"steps": [{"menu": 40010}, {"menu": 40016}, {"menu": 40022}, {"menu": 40010}]})",
       R"(steps[3]: the menu item "Select" (40010) is disabled)"},
      {R"({"steps": [{"menu": 40014}]})", "steps[0]: 40014 is not an item of the popup menu"},
      {R"({"steps": [{"menu": 40016, "value": "x"}]})", "steps[0].value: expected a number"},
      {R"({"steps": [{"color": "#000000"}]})", "steps[0]: expected"},
  };
  for (const auto& c : cases) {
    const Result r = Apply(json::parse(c.script));
    EXPECT_EQ(r.status, 2) << c.script;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(Path("out.paint"))) << c.script;
  }
}

TEST_F(PaintApply, GesturesReplayThroughTheEffectAndTheDrawingRenders) {
  const json script = json::parse(R"({"width": 64, "height": 48, "view": {"zoom": 2, "origin": [4, 0]}, "steps": [
      {"tool": 2},
      {"down": [24, 20], "t": 0}, {"move": [44, 20], "t": 0.1}, {"move": [64.5, 24], "t": 0.2}, {"up": [64, 24], "t": 0.3},
      {"down": [10, 10], "button": "right", "menu": 40016},
      {"control": 7}, {"control": 4, "value": 12.5}]})");
  std::ofstream(Path("script.json")) << script.dump();
  const Result r = Paint({"apply", Path("nine.paint"), Path("script.json"), "-o", Path("out.paint"), "--registry",
                          Path("reg"), "--view-log", Path("view.log")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("10 strokes, 10 selected, tool Paint"), std::string::npos) << r.out;
  const json info = Info("out.paint");
  EXPECT_EQ(info["brush"]["radius"], 12.5);
  // Item 7 toggles pressure -> radius.
  EXPECT_NE(info["brush"]["pressure_radius"], Info("nine.paint")["brush"]["pressure_radius"]);
  ASSERT_EQ(Paint({"export", Path("out.paint"), "-o", Path("out.json")}).status, 0);
  const json strokes = json::parse(Bytes(Path("out.json")))["strokes"];
  ASSERT_EQ(strokes.size(), 10u);
  // View x = 4 + 2 layer x, y = 2 layer y: the layer points (10, 10), (20, 10), (30, 12).
  const json& points = strokes[9]["points"];
  ASSERT_EQ(points.size(), 3u) << points;
  const double want[3][2] = {{10, 10}, {20, 10}, {30, 12}};
  for (int i = 0; i < 3; ++i) {
    EXPECT_FLOAT_EQ(float(points[i][1].get<double>()), float(want[i][0] / 64)) << i;
    EXPECT_FLOAT_EQ(float(points[i][2].get<double>()), float(want[i][1] / 48)) << i;
  }
  // The default preferences preview strokes blended into the view.
  EXPECT_NE(Bytes(Path("view.log")).find("view blit"), std::string::npos);
  const Result render =
      Ombrix({"render", "paint", "-i", "solid:64x48", "-o", Path("out.png"), "--sequence-data", Path("out.paint")});
  EXPECT_EQ(render.status, 0) << render.err;
}

TEST_F(PaintApply, MalformedGesturesAreRefused) {
  const struct {
    const char* script;
    const char* says;
  } cases[] = {
      {R"({"steps": [{"tool": 5}]})", "steps[0].tool: expected 1..4"},
      {R"({"steps": [{"down": [1]}]})", "steps[0].down: expected [x, y]"},
      {R"({"steps": [{"down": [1, 1], "button": "middle"}]})", "steps[0].button: expected"},
      {R"({"steps": [{"control": 12}]})", "steps[0].control: no such item"},
      {R"({"view": {"zoom": 0}, "steps": []})", "view.zoom: expected"},
  };
  for (const auto& c : cases) {
    const Result r = Apply(json::parse(c.script));
    EXPECT_EQ(r.status, 2) << c.script;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(Path("out.paint"))) << c.script;
  }
}

// The points of a drawing's last stroke and its brush type, as `info --points` lists them.
struct LastStroke {
  json points;
  int type = 0;
};

class PaintPen : public PaintApply {
 protected:
  LastStroke Last(const std::string& drawing) {
    const Result r = Paint({"info", Path(drawing), "--json", "--points"});
    EXPECT_EQ(r.status, 0) << r.err;
    const json strokes = json::parse(r.out)["strokes"];
    return {strokes.back()["points"], strokes.back()["brush"]["type"].get<int>()};
  }
};

TEST_F(PaintPen, PenPressureAndTheEraserEndReachTheStroke) {
  const int nine_type = Info("nine.paint")["brush"]["type"];
  const int shape = nine_type > 8 ? nine_type - 8 : nine_type;
  const struct {
    const char* what;
    const char* steps;
    std::vector<double> pressures;  // of the axis; negative: the mouse (full pressure)
    int type;
    bool mouse = false;  // "Disable Mouse Drawing" (on by default) turned off first
  } cases[] = {
      {"the tip, pressing harder, never lifted (the end of the steps lets go)",
       R"([{"down": [10, 10], "pressure": 0.25, "t": 0}, {"move": [20, 10], "pressure": 0.5, "t": 0.1},
           {"move": [30, 12], "pressure": 1, "t": 0.2}])",
       {0.25, 0.5, 1},
       shape},
      {"the eraser end",
       R"([{"down": [10, 10], "pressure": 0.3, "cursor": "eraser"}, {"move": [20, 14], "pressure": 0.7, "cursor": "eraser"},
           {"up": [20, 14]}])",
       {0.3, 0.7},
       shape + 8},
      {"the mouse beside a tablet",
       R"([{"down": [10, 10]}, {"move": [20, 10]}, {"up": [20, 10]}])",
       {-1, -1},
       shape,
       true},
      {"the mouse after the pen left",
       R"([{"down": [4, 4], "pressure": 0.1}, {"up": [5, 4]}, {"down": [10, 10]}, {"move": [20, 10]}, {"up": [20, 10]}])",
       {-1, -1},
       shape,
       true},
  };
  const int max = 1023;
  for (const auto& c : cases) {
    json script = {{"width", 64}, {"height", 48}, {"tablet", {{"present", true}, {"pressure_max", max}}}};
    script["steps"] = json::parse(c.steps);
    script["steps"].insert(script["steps"].begin(), json{{"tool", 2}});
    if (c.mouse) script["steps"].insert(script["steps"].begin(), json{{"menu", 40051}, {"dialog", "check 1007=0; ok"}});
    const Result r = Apply(script);
    ASSERT_EQ(r.status, 0) << c.what << ": " << r.err;
    const LastStroke last = Last("out.paint");
    EXPECT_EQ(last.type, c.type) << c.what;
    ASSERT_EQ(last.points.size(), c.pressures.size()) << c.what << ": " << last.points;
    for (size_t i = 0; i < c.pressures.size(); ++i) {
      // The raw axis value the pen sends, scaled back by the axis.
      const float want = c.pressures[i] < 0 ? 1.0f : float(std::lround(c.pressures[i] * max)) * (1.0f / float(max));
      EXPECT_FLOAT_EQ(float(last.points[i][3].get<double>()), want) << c.what << " point " << i;
    }
  }
}

TEST_F(PaintPen, BrushSettingsHandlesDragWithTheirKeys) {
  const json before = Info("nine.paint")["brush"];
  const double radius = before["radius"], opacity = double(before["opacity"]) * 100;
  // Dragged 20 pixels on the level: 150 x 20 x 0.005 = 15 (Alt: a tenth).
  const struct {
    int item;
    const char* field;
    int dx;
    const char* modifiers;
    double want;  // radius, or opacity in per cent
  } cases[] = {
      {13, "radius", 20, "[]", radius + 15},
      {13, "radius", 20, R"(["escape"])", radius},
      {14, "opacity", -20, R"(["alt"])", std::clamp(opacity - 1.5, 0.0, 100.0)},
  };
  for (const auto& c : cases) {
    json step = {{"control", c.item}, {"drag", {c.dx, 0}}, {"modifiers", json::parse(c.modifiers)}};
    ASSERT_EQ(Apply(json{{"steps", {step}}}).status, 0) << c.item << " " << c.modifiers;
    const json brush = Info("out.paint")["brush"];
    const double got = std::string(c.field) == "radius" ? double(brush["radius"]) : double(brush["opacity"]) * 100;
    EXPECT_NEAR(got, c.want, 1e-4) << c.item << " " << c.modifiers;
  }
}

TEST_F(PaintPen, PenStepsNeedATablet) {
  const struct {
    const char* script;
    const char* says;
  } cases[] = {
      {R"({"steps": [{"down": [1, 1], "pressure": 0.5}]})", "steps[0].pressure: the pen needs"},
      {R"({"tablet": {"present": true}, "steps": [{"down": [1, 1], "cursor": "eraser"}]})", "the pen needs a"},
      {R"({"tablet": {"present": true}, "steps": [{"down": [1, 1], "pressure": 1.5}]})", "expected 0..1"},
      {R"({"tablet": {"pressure_max": 0}, "steps": []})", "tablet.pressure_max: expected"},
      {R"({"steps": [{"tool": 2, "drag": [1, 1]}]})", "drag: only with"},
  };
  for (const auto& c : cases) {
    const Result r = Apply(json::parse(c.script));
    EXPECT_EQ(r.status, 2) << c.script;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
}

}  // namespace
