// Paint's playback through the host: which strokes each "Draw Strokes..."
// mode shows at a time, onion-skin colours, how the paint meets the layer in
// each "Composite Paint..." item, reduced and padded buffers, progress and
// host failures.
#include <ombrix/host/host.h>

#include "effects/common/effect_test.h"

#include "flat_drawing.h"
#include "local_handles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace effect_test;
using ombrix::Instance;
using ombrix::TimeBase;
using ombrix::World;

using Bytes = std::vector<uint8_t>;

constexpr A_long kW = 16, kH = 24;
constexpr int kStrokes = 8;
// 25 frames a second: a frame is 0.04 s.
constexpr TimeBase kTime{2500, 100};

enum { kDrawMode = 2, kSpeed = 3, kSpeedInsert = 4, kComposite = 5 };

// Stroke k lies across row 3k + 1: strokes 0-5 painted on frames 0-5, stroke
// 6 at 4.0 s and stroke 7 at 1.0 s. Each takes 0.2 s to draw, left to right.
float PaintTime(int k) { return k < 6 ? 0.04f * float(k) : k == 6 ? 4.0f : 1.0f; }

Bytes Drawing(float radius = 1.0f) {
  paint::MemoryBlock* drawing = paint::NewDrawing();
  for (int k = 0; k < kStrokes; ++k) {
    paint::BrushSettings b = paint::DefaultBrush();
    b.red = b.green = 0.0f;
    b.radius = radius;
    b.stylus = 0;
    paint::MemoryBlock* stroke = paint::BeginStroke(PaintTime(k), b);
    const float y = float(3 * k + 1) / float(kH);
    for (int p = 0; p < 3; ++p) paint::AppendStrokePoint(stroke, {0.1f * float(p), 0.1f + 0.4f * float(p), y, 1.0f});
    paint::EndStrokeAfter(drawing, stroke, 0.2f);
  }
  const PF_UtilCallbacks* u = paint::LocalHandleServices();
  paint::DrawingRef ref{drawing, nullptr};
  EXPECT_EQ(paint::Flatten(u, ref).err, PF_Err_NONE);
  const auto* data = static_cast<const uint8_t*>(u->host_lock_handle(ref.flat));
  Bytes bytes(data, data + u->host_get_handle_size(ref.flat));
  paint::DisposeDrawing(u, ref);
  return bytes;
}

struct Frame {
  int mode = 1;
  double seconds = 0;
  double speed = 1;
  bool insert = false;
  int composite = 1;
};

// Paint with the default preferences (two onion frames each way).
struct PaintFixture {
  PaintFixture() : dir("playback"), host(Options(dir)), effect(host, TestPlugin("paint.aex")) {}
  static ombrix::HostOptions Options(const TestDir& dir) {
    ombrix::HostOptions o;
    o.registry_dir = dir.path / "registry";
    return o;
  }
  ombrix::CommandResult Render(Instance& inst, const Frame& f, World& in, World& out,
                               const ombrix::RenderSettings& settings = {}) {
    inst.SetValue(kDrawMode, Scalar(f.mode));
    inst.SetValue(kSpeed, Scalar(A_long(f.speed * 65536)));
    inst.SetValue(kSpeedInsert, Scalar(f.insert ? 1 : 0));
    inst.SetValue(kComposite, Scalar(f.composite));
    const TimeBase& t = inst.time_base();
    return inst.RenderFrame(A_long(f.seconds * t.time_scale + 0.5), in.pf(), out.pf(), settings);
  }
  World Render(const Frame& f, const Bytes& drawing = Drawing(), TimeBase time = kTime) {
    Instance inst(effect, time, kW, kH, drawing);
    World in(kW, kH), out(kW, kH);
    RandomPixels(in, 5);
    EXPECT_EQ(Render(inst, f, in, out).err, PF_Err_NONE);
    return out;
  }
  TestDir dir;
  ombrix::Host host;
  ombrix::Effect effect;
};

// '1' for each stroke with paint in the middle of its row.
std::string Shown(const World& out) {
  std::string s;
  for (int k = 0; k < kStrokes; ++k) s += out.At(8, 3 * k + 1).alpha != 0 ? '1' : '0';
  return s;
}

bool SamePixelsOf(const World& a, const World& b) { return ombrix::SamePixels(a.pf(), b.pf()); }

TEST(PaintPlayback, EachModeShowsTheStrokesOfItsTime) {
  PaintFixture p;
  const struct {
    const char* what;
    Frame frame;
    const char* shown;
  } cases[] = {
      {"all", {1, 0.5}, "11111111"},
      {"past: up to frame 2", {2, 0.08}, "11100000"},
      {"past at speed 2 reaches 4.0 s at 2.0 s", {2, 2.0, 2}, "11111111"},
      {"past at speed 2 one frame earlier", {2, 1.96, 2}, "11111101"},
      {"hold: the latest painted frame", {3, 0.13}, "00010000"},
      {"hold after the last frame painted", {3, 0.5}, "00000100"},
      {"current frame", {5, 0.08}, "00100000"},
      {"animate: painted before t", {4, 1.1}, "11111101"},
      {"animate: nothing at its own paint time", {4, 1.0}, "11111100"},
      {"onion: 2.5 frames each way", {6, 0.08}, "11111000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Shown(p.Render(c.frame)), c.shown);
  }
  // Without a frame duration from the host a frame is a second: at 0.5 s
  // the current frame then starts at 0 and holds what was painted then.
  EXPECT_EQ(Shown(p.Render({5, 0.5}, Drawing(), TimeBase{2500, 0})), "10000000");
}

TEST(PaintPlayback, AnimatedStrokesDrawAtTheirPaceTimesTheSpeed) {
  PaintFixture p;
  const World at_speed_1 = p.Render({4, 1.1});
  // Stroke 7 has drawn 0.1 s of its 0.2 s: to the middle of its row.
  EXPECT_NE(at_speed_1.At(7, 22).alpha, 0);
  EXPECT_EQ(at_speed_1.At(13, 22).alpha, 0);
  // Twice as fast from its own paint time when speed leaves insert times alone...
  EXPECT_TRUE(SamePixelsOf(p.Render({4, 1.05, 2}), at_speed_1));
  // ...and everything at twice the pace when it does not.
  EXPECT_TRUE(SamePixelsOf(p.Render({4, 0.55, 2, true}), at_speed_1));

  // The stored drawing notes the mode and how far each stroke got.
  Instance inst(p.effect, kTime, kW, kH, Drawing());
  World in(kW, kH), out(kW, kH);
  ASSERT_EQ(p.Render(inst, {4, 1.1}, in, out).err, PF_Err_NONE);
  const Bytes saved = inst.SequenceDataBytes();
  auto word = [&](size_t byte) {
    int32_t w;
    std::memcpy(&w, saved.data() + byte, 4);
    return w;
  };
  EXPECT_EQ(word(4 * 13), 4);
  const size_t strokes = size_t(word(4 * 8));
  for (int k = 0; k < kStrokes; ++k) {
    SCOPED_TRACE(k);
    const int drawn = k < 6 ? 3 : k == 6 ? 0 : 2;
    EXPECT_EQ(word(strokes + 68 * size_t(k) + 4 * 11), drawn);
  }
}

TEST(PaintPlayback, OnionSkinColoursEarlierAndLaterStrokes) {
  PaintFixture p;
  const World out = p.Render({6, 0.08});
  // Backward colour (1, 0.5, 0.5), the stroke's own blue, forward (0.5, 1, 0.5);
  // the skins at 0.3501 of the stroke's opacity: alpha at most 255 x 0.3501.
  const struct {
    int k;
    A_u_char red, green, blue;
    bool skin;
  } rows[] = {{0, 255, 127, 127, true},
              {1, 255, 127, 127, true},
              {2, 0, 0, 255, false},
              {3, 127, 255, 127, true},
              {4, 127, 255, 127, true}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.k);
    const PF_Pixel px = out.At(8, 3 * r.k + 1);
    EXPECT_EQ(px.red, r.red);
    EXPECT_EQ(px.green, r.green);
    EXPECT_EQ(px.blue, r.blue);
    EXPECT_TRUE(r.skin ? px.alpha <= 89 : px.alpha > 200) << int(px.alpha);
  }
}

TEST(PaintPlayback, CompositeItemsCombinePaintAndLayer) {
  PaintFixture p;
  // The strokes do not overlap, so the paint alone is each stroke's scratch.
  const World paint = p.Render({1, 0, 1, false, 1});
  World in(kW, kH);
  RandomPixels(in, 5);
  using Rule = PF_Pixel (*)(PF_Pixel in, PF_Pixel paint);
  const struct {
    int item;
    Rule rule;
  } cases[] = {
      {1, [](PF_Pixel, PF_Pixel o) { return o; }},
      {2, [](PF_Pixel i, PF_Pixel o) { return Over(o, i); }},
      {3, [](PF_Pixel, PF_Pixel o) { return o; }},
      {4, [](PF_Pixel i, PF_Pixel o) { return Over(o, i); }},
      {5, [](PF_Pixel i, PF_Pixel o) { return Over(i, o); }},
      {6, [](PF_Pixel, PF_Pixel o) { return o; }},
      {7,
       [](PF_Pixel i, PF_Pixel o) {
         return PF_Pixel{std::min(o.alpha, i.alpha), o.red, o.green, o.blue};
       }},
      {8,
       [](PF_Pixel i, PF_Pixel o) {
         PF_Pixel r = Over(o, i);
         r.alpha = i.alpha;
         return r;
       }},
      {9, [](PF_Pixel, PF_Pixel o) { return o; }},
      {10,
       [](PF_Pixel i, PF_Pixel o) {
         return PF_Pixel{A_u_char((i.alpha + 1) * o.alpha / 256), i.red, i.green, i.blue};
       }},
      {11,
       [](PF_Pixel i, PF_Pixel o) {
         return PF_Pixel{A_u_char((256 - o.alpha) * i.alpha / 256), i.red, i.green, i.blue};
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.item);
    const World out = p.Render({1, 0, 1, false, c.item});
    for (A_long y = 0; y < kH; ++y)
      for (A_long x = 0; x < kW; ++x) {
        const PF_Pixel want = c.rule(in.At(x, y), paint.At(x, y));
        ASSERT_TRUE(Same(out.At(x, y), want)) << x << "," << y << ": " << Show(out.At(x, y)) << " not " << Show(want);
      }
  }
}

TEST(PaintPlayback, ReducedAndPaddedBuffersMatchFullOnes) {
  PaintFixture p;
  // Half resolution: the same as the drawing on a half-size layer with
  // brushes of half the radius.
  Instance half(p.effect, kTime, kW, kH, Drawing(2.0f));
  World full_in(kW, kH), out(kW / 2, kH / 2, 8), reduced;
  RandomPixels(full_in, 5);
  half.SetValue(kComposite, Scalar(1));
  ASSERT_TRUE(RenderReduced(half, full_in, out, Downsampled(2), reduced));
  EXPECT_TRUE(PaddingUntouched(out));
  Instance small(p.effect, kTime, kW / 2, kH / 2, Drawing(1.0f));
  World small_in(kW / 2, kH / 2), small_out(kW / 2, kH / 2);
  small.SetValue(kComposite, Scalar(1));
  ASSERT_EQ(small.RenderFrame(0, small_in.pf(), small_out.pf()).err, PF_Err_NONE);
  EXPECT_TRUE(SamePixelsOf(out, small_out));
  EXPECT_GT(small_out.At(4, 2).alpha, 200);

  // An output with padded rows over an input without: composited pixel by pixel.
  Instance inst(p.effect, kTime, kW, kH, Drawing());
  World in(kW, kH), plain(kW, kH), padded(kW, kH, 12);
  RandomPixels(in, 9);
  ASSERT_EQ(p.Render(inst, {1, 0, 1, false, 5}, in, plain).err, PF_Err_NONE);
  ASSERT_EQ(p.Render(inst, {1, 0, 1, false, 5}, in, padded).err, PF_Err_NONE);
  EXPECT_TRUE(SamePixelsOf(padded, plain));
  EXPECT_TRUE(PaddingUntouched(padded));
}

TEST(PaintPlayback, ProgressAbortAndHostFailuresEndTheRender) {
  PaintFixture p;
  std::vector<std::pair<A_long, A_long>> reports;
  p.host.on_progress = [&](A_long done, A_long total) { reports.emplace_back(done, total); };
  Instance inst(p.effect, kTime, kW, kH, Drawing());
  World in(kW, kH), out(kW, kH);
  ASSERT_EQ(p.Render(inst, {1, 0}, in, out).err, PF_Err_NONE);
  ASSERT_EQ(reports.size(), size_t(kStrokes));
  for (int k = 0; k < kStrokes; ++k) EXPECT_EQ(reports[size_t(k)], std::make_pair(A_long(k), A_long(kStrokes)));

  // The user stops the render at the third stroke.
  p.host.on_progress = [&](A_long done, A_long) {
    if (done == 2) throw std::runtime_error("stop");
  };
  EXPECT_EQ(p.Render(inst, {1, 0}, in, out).err, PF_Interrupt_CANCEL);
  p.host.on_progress = nullptr;
  p.host.abort_requested = false;

  for (const char* service : {"new_world", "fill", "copy"}) {
    SCOPED_TRACE(service);
    p.host.failures().Arm(service, 1, PF_Err_OUT_OF_MEMORY);
    const int composite = std::string(service) == "copy" ? 2 : 1;
    EXPECT_EQ(p.Render(inst, {1, 0, 1, false, composite}, in, out).err, PF_Err_OUT_OF_MEMORY);
    p.host.failures().Clear();
  }
}

}  // namespace
