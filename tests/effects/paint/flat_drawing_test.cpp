// Flattening and rebuilding drawings: round trips of random drawings in
// both byte orders, older versions, damaged blocks, memory shortage, and
// the host's wrapper.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "flat_drawing.h"
#include "local_handles.h"

namespace {

using namespace paint;
using Bytes = std::vector<unsigned char>;

const PF_UtilCallbacks* U() { return LocalHandleServices(); }

// What a drawing holds that survives storing: every header word but the
// block ids and run-time words, each stroke's words likewise, and the points.
struct Snapshot {
  std::vector<uint32_t> header;
  std::vector<std::vector<uint32_t>> strokes;
  std::vector<std::vector<float>> points;
  bool operator==(const Snapshot&) const = default;
};

std::vector<uint32_t> Words(const void* p, size_t n) {
  std::vector<uint32_t> w(n / 4);
  std::memcpy(w.data(), p, n);
  return w;
}

Snapshot Take(const MemoryBlock* d) {
  Snapshot s;
  s.header = Words(d->data, 216);
  for (int i : {6, 7, 8}) s.header[i] = 0;
  s.header.resize(46);
  for (int32_t i = 0; i < StrokeCount(d); ++i) {
    const StrokeRecord* r = StrokeAt(d, i);
    std::vector<uint32_t> w = Words(r, 68);
    w.resize(14);
    s.strokes.push_back(w);
    const float* p = &StrokePoints(*r)->time;
    s.points.emplace_back(p, p + 4 * r->point_count);
  }
  return s;
}

MemoryBlock* RandomDrawing(std::mt19937& rng) {
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  MemoryBlock* d = NewDrawing();
  DrawingHeader* h = HeaderOf(d);
  SetBrushRadius(h->brush, 0.1f + 400.0f * unit(rng));
  SetBrushType(h->brush, 1 + int32_t(rng() % 12));
  SetColorClone(*h, rng() & 1);
  SetSmoothStrokes(*h, rng() & 1);
  SetPaintTiming(*h, 1 + int32_t(rng() % 4));
  const int strokes = int(rng() % 6);
  for (int i = 0; i < strokes; ++i) {
    BrushSettings b = DefaultBrush();
    SetBrushColor(b, unit(rng), unit(rng), unit(rng));
    SetBrushOpacity(b, unit(rng));
    SetStylusControls(b, int32_t(rng() % 4));
    MemoryBlock* s = BeginStroke(10.0f * unit(rng), b);
    const int points = 2 + int(rng() % 150);
    for (int p = 0; p < points; ++p) {
      AppendStrokePoint(s, StrokePoint{0.01f * float(p), 2.0f * unit(rng) - 0.5f, unit(rng), unit(rng)});
    }
    EndStrokeAfter(d, s, unit(rng));
  }
  if (strokes > 2 && (rng() & 1)) DeleteStroke(d, int32_t(rng() % uint32_t(strokes)));
  return d;
}

Bytes BytesOf(PF_Handle h) {
  const auto* p = static_cast<const unsigned char*>(U()->host_lock_handle(h));
  return Bytes(p, p + U()->host_get_handle_size(h));
}

PF_Handle HandleOf(const Bytes& bytes) {
  PF_Handle h = U()->host_new_handle(A_u_long(bytes.size()));
  std::memcpy(U()->host_lock_handle(h), bytes.data(), bytes.size());
  return h;
}

void PutWord(Bytes& b, size_t offset, uint32_t w) { std::memcpy(b.data() + offset, &w, 4); }
uint32_t GetWord(const Bytes& b, size_t offset) {
  uint32_t w;
  std::memcpy(&w, b.data() + offset, 4);
  return w;
}

// The flat bytes of a drawing of three strokes with 2, 3 and 4 points.
Bytes ThreeStrokes() {
  MemoryBlock* d = NewDrawing();
  for (int n = 2; n <= 4; ++n) {
    MemoryBlock* s = BeginStroke(float(n), DefaultBrush());
    for (int p = 0; p < n; ++p) AppendStrokePoint(s, StrokePoint{0.1f * float(p), 0.25f, 0.5f, 1.0f});
    EndStrokeAfter(d, s, 1.0f);
  }
  DrawingRef ref{d, nullptr};
  EXPECT_EQ(Flatten(U(), ref).err, PF_Err_NONE);
  Bytes b = BytesOf(ref.flat);
  U()->host_dispose_handle(ref.flat);
  return b;
}

class FlatDrawingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    blocks_ = LiveMemoryBlocks();
    handles_ = LiveLocalHandles();
  }
  void TearDown() override {
    FailMemoryBlockAllocation(0);
    FailLocalHandleAllocation(0);
    EXPECT_EQ(LiveMemoryBlocks(), blocks_);
    EXPECT_EQ(LiveLocalHandles(), handles_);
  }
  uint32_t blocks_ = 0;
  int handles_ = 0;
};

TEST_F(FlatDrawingTest, EmptyDrawingIsTheHeaderAlone) {
  DrawingRef ref{NewDrawing(), nullptr};
  ASSERT_EQ(Flatten(U(), ref).err, PF_Err_NONE);
  ASSERT_EQ(ref.unflat, nullptr);
  const Bytes b = BytesOf(ref.flat);
  ASSERT_EQ(b.size(), 216u);
  EXPECT_EQ(GetWord(b, 8), 216u);
  EXPECT_EQ(GetWord(b, 24), 0u);
  EXPECT_EQ(GetWord(b, 28), 0u);
  EXPECT_EQ(GetWord(b, 32), 0u);
  // Flattening a flat drawing leaves it as it is.
  const PF_Handle flat = ref.flat;
  EXPECT_EQ(Flatten(U(), ref).err, PF_Err_NONE);
  EXPECT_EQ(ref.flat, flat);
  const DrawingStatus st = Unflatten(U(), ref);
  EXPECT_EQ(st.err, PF_Err_NONE);
  EXPECT_EQ(st.message, nullptr);
  ASSERT_NE(ref.unflat, nullptr);
  EXPECT_EQ(ref.flat, nullptr);
  EXPECT_EQ(StrokeCount(ref.unflat), 0);
  DisposeDrawing(U(), ref);
}

TEST_F(FlatDrawingTest, LayoutPlacesPointsThenStrokes) {
  const Bytes b = ThreeStrokes();
  // 216 header bytes, points of 2, 3 and 4 points, then 3 records.
  ASSERT_EQ(b.size(), 216u + 9 * 16 + 3 * 68);
  EXPECT_EQ(GetWord(b, 28), 3u * 68);
  EXPECT_EQ(GetWord(b, 32), 216u + 9 * 16);
  const uint32_t offsets[] = {216, 216 + 32, 216 + 80};
  for (int i = 0; i < 3; ++i) {
    const size_t record = 216 + 9 * 16 + 68 * size_t(i);
    EXPECT_EQ(GetWord(b, record + 52), uint32_t(i + 2)) << i;
    EXPECT_EQ(GetWord(b, record + 60), uint32_t(i + 2) * 16) << i;
    EXPECT_EQ(GetWord(b, record + 64), offsets[i]) << i;
  }
}

TEST_F(FlatDrawingTest, RandomDrawingsSurviveTheTripInEitherByteOrder) {
  std::mt19937 rng(20240611);
  for (int trial = 0; trial < 60; ++trial) {
    const ByteOrder order = trial % 3 == 0 ? ByteOrder::kNative : ByteOrder::kReversed;
    const bool marked = trial % 3 == 2;
    DrawingRef ref{RandomDrawing(rng), nullptr};
    const Snapshot before = Take(ref.unflat);
    ASSERT_EQ(Flatten(U(), ref, order).err, PF_Err_NONE);
    Bytes b = BytesOf(ref.flat);
    EXPECT_EQ(b[4] != 0, order == ByteOrder::kReversed) << trial;
    if (marked) PutWord(b, 4, 0x11111111);
    U()->host_dispose_handle(ref.flat);
    ref.flat = HandleOf(b);
    const DrawingStatus st = Unflatten(U(), ref);
    ASSERT_EQ(st.err, PF_Err_NONE) << trial;
    ASSERT_NE(ref.unflat, nullptr);
    EXPECT_TRUE(Take(ref.unflat) == before) << trial;
    EXPECT_EQ(HeaderOf(ref.unflat)->draw_order.count, StrokeCount(ref.unflat));
    EXPECT_EQ(HeaderOf(ref.unflat)->undo.available, 0);
    DisposeDrawing(U(), ref);
  }
}

TEST_F(FlatDrawingTest, VersionRules) {
  struct Case {
    int32_t version, stroke_size;
    bool loads;
    const char* message;
  } cases[] = {
      {263, 68, true, "Some settings could not be converted. They have been reset to default. : (OB Paint)"},
      {262, 68, true, "Some settings could not be converted. They have been reset to default. : (OB Paint)"},
      {300, 68, true, "Some settings could not be converted. They have been reset to default. : (OB Paint)"},
      {261, 68, false, "Can not convert old drawing. : (OB Paint)"},
      {-5, 68, false, "Can not convert old drawing. : (OB Paint)"},
      {263, 72, false, "Can not convert this paint version. : (OB Paint)"},
  };
  for (const Case& c : cases) {
    Bytes b = ThreeStrokes();
    PutWord(b, 0, uint32_t(c.version));
    PutWord(b, 12, uint32_t(c.stroke_size));
    PutWord(b, 40, 1);           // Color Clone on
    PutWord(b, 48, 3);           // timing "In Realtime"
    PutWord(b, 84, 0x41200000);  // brush radius 10.0
    DrawingRef ref{nullptr, HandleOf(b)};
    const DrawingStatus st = Unflatten(U(), ref);
    ASSERT_NE(st.message, nullptr) << c.version;
    EXPECT_STREQ(st.message, c.message) << c.version;
    if (c.loads) {
      ASSERT_NE(ref.unflat, nullptr) << c.version;
      const DrawingHeader* h = HeaderOf(ref.unflat);
      EXPECT_EQ(h->version, 264);
      EXPECT_EQ(StrokeCount(ref.unflat), 3);
      EXPECT_EQ(h->last_stroke_id, 4);
      EXPECT_EQ(h->color_clone, 0);
      EXPECT_EQ(h->timing, 1);
      EXPECT_EQ(h->brush.radius, 5.0f);
      EXPECT_EQ(StrokePoints(*StrokeAt(ref.unflat, 2))[3].time, 0.1f * 3.0f);
    } else {
      EXPECT_EQ(ref.unflat, nullptr);
      ASSERT_NE(ref.flat, nullptr);
      EXPECT_EQ(BytesOf(ref.flat), b) << "the stored bytes are kept as they were";
    }
    DisposeDrawing(U(), ref);
  }
}

TEST_F(FlatDrawingTest, DamagedBlocksAreRefusedAndKept) {
  const Bytes good = ThreeStrokes();
  const size_t array = 216 + 9 * 16;
  const size_t rec1 = array + 68;
  using Damage = std::function<void(Bytes&)>;
  const std::pair<const char*, Damage> cases[] = {
      {"shorter than a header", [](Bytes& b) { b.resize(215); }},
      {"cut inside the array", [](Bytes& b) { b.resize(b.size() - 4); }},
      {"not flat", [](Bytes& b) { PutWord(b, 8, 0); }},
      {"array past the end", [&](Bytes& b) { PutWord(b, 32, uint32_t(b.size())); }},
      {"array offset negative", [](Bytes& b) { PutWord(b, 32, 0x80000000u); }},
      {"array inside the header", [](Bytes& b) { PutWord(b, 32, 100); }},
      {"huge count", [](Bytes& b) { PutWord(b, 20, 0x7FFFFFFF); }},
      {"count against array size", [](Bytes& b) { PutWord(b, 20, 2); }},
      {"count without array", [](Bytes& b) { PutWord(b, 24, 0); }},
      {"points overlap", [&](Bytes& b) { PutWord(b, rec1 + 64, 216); }},
      {"points inside the array", [&](Bytes& b) { PutWord(b, rec1 + 64, uint32_t(array)); }},
      {"points misaligned", [&](Bytes& b) { PutWord(b, rec1 + 64, 216 + 33); }},
      {"huge point count", [&](Bytes& b) { PutWord(b, rec1 + 52, 0x10000000); }},
      {"one point", [&](Bytes& b) { PutWord(b, rec1 + 52, 1), PutWord(b, rec1 + 60, 16); }},
      {"point size against count", [&](Bytes& b) { PutWord(b, rec1 + 60, 64); }},
      {"position not a number", [](Bytes& b) { PutWord(b, 216 + 4, 0x7FC00000); }},
      {"time infinite", [&](Bytes& b) { PutWord(b, rec1 + 4, 0x7F800000); }},
  };
  for (const auto& [what, damage] : cases) {
    Bytes b = good;
    damage(b);
    DrawingRef ref{nullptr, HandleOf(b)};
    const DrawingStatus st = Unflatten(U(), ref);
    EXPECT_NE(st.err, PF_Err_NONE) << what;
    EXPECT_NE(st.message, nullptr) << what;
    EXPECT_EQ(ref.unflat, nullptr) << what;
    ASSERT_NE(ref.flat, nullptr) << what;
    EXPECT_EQ(BytesOf(ref.flat), b) << what;
    DisposeDrawing(U(), ref);
  }
}

TEST_F(FlatDrawingTest, StoredValuesAreBroughtIntoRange) {
  Bytes b = ThreeStrokes();
  const size_t rec0 = 216 + 9 * 16;
  PutWord(b, 84, 0x4E6E6B28);         // current radius 1e9
  PutWord(b, rec0 + 28, 0xC61C4000);  // stroke 0 radius -10000
  PutWord(b, rec0 + 32, 40);          // stroke 0 type 40
  PutWord(b, 216 + 4, 0x49742400);    // first point x 1e6
  PutWord(b, 216 + 12, 0x40000000);   // its pressure 2
  DrawingRef ref{nullptr, HandleOf(b)};
  ASSERT_EQ(Unflatten(U(), ref).err, PF_Err_NONE);
  EXPECT_EQ(HeaderOf(ref.unflat)->brush.radius, 500.0f);
  EXPECT_EQ(StrokeAt(ref.unflat, 0)->brush.radius, 0.1f);
  EXPECT_EQ(StrokeAt(ref.unflat, 0)->brush.type, 12);
  EXPECT_EQ(StrokePoints(*StrokeAt(ref.unflat, 0))[0].x, 64.0f);
  EXPECT_EQ(StrokePoints(*StrokeAt(ref.unflat, 0))[0].pressure, 1.0f);
  DisposeDrawing(U(), ref);
}

TEST_F(FlatDrawingTest, MemoryShortageLosesNothing) {
  // Flatten: the host handle cannot be had; the drawing stays as it was.
  Bytes three = ThreeStrokes();
  DrawingRef ref{nullptr, HandleOf(three)};
  ASSERT_EQ(Unflatten(U(), ref).err, PF_Err_NONE);
  const Snapshot before = Take(ref.unflat);
  FailLocalHandleAllocation(1);
  const DrawingStatus st = Flatten(U(), ref);
  EXPECT_EQ(st.err, -108);
  EXPECT_NE(st.message, nullptr);
  ASSERT_NE(ref.unflat, nullptr);
  EXPECT_TRUE(Take(ref.unflat) == before);
  ASSERT_EQ(Flatten(U(), ref).err, PF_Err_NONE);
  EXPECT_EQ(BytesOf(ref.flat), three);
  DisposeDrawing(U(), ref);
  // Unflatten: each allocation in turn fails; the stored bytes are kept each time.
  for (int nth = 1;; ++nth) {
    ref = DrawingRef{nullptr, HandleOf(three)};
    FailMemoryBlockAllocation(nth);
    const DrawingStatus st = Unflatten(U(), ref);
    FailMemoryBlockAllocation(0);
    const bool loaded = ref.unflat != nullptr;
    if (!loaded) {
      EXPECT_EQ(st.err, -108) << nth;
      EXPECT_NE(st.message, nullptr) << nth;
      EXPECT_EQ(BytesOf(ref.flat), three) << nth;
    }
    DisposeDrawing(U(), ref);
    if (loaded) break;
    ASSERT_LT(nth, 20);
  }
}

TEST_F(FlatDrawingTest, WrapperCarriesTheDrawingToTheHost) {
  DrawingRef ref{NewDrawing(), nullptr};
  const SequenceDataOut out = SequenceDataFor(U(), nullptr, ref);
  ASSERT_NE(out.sequence_data, nullptr);
  const Bytes w = BytesOf(out.sequence_data);
  ASSERT_EQ(w.size(), 8u);
  EXPECT_EQ(GetWord(w, 0), 0u);
  EXPECT_EQ(GetWord(w, 4), MemoryBlockId(ref.unflat));
  EXPECT_EQ(DrawingOfSequenceData(U(), out.sequence_data).unflat, ref.unflat);
  // The same wrapper is reused for the drawing; once flat, it gives way to the flat handle.
  EXPECT_EQ(SequenceDataFor(U(), out.sequence_data, ref).sequence_data, out.sequence_data);
  ASSERT_EQ(Flatten(U(), ref).err, PF_Err_NONE);
  const SequenceDataOut flat = SequenceDataFor(U(), out.sequence_data, ref);
  EXPECT_EQ(flat.sequence_data, ref.flat);
  // A wrapper naming no drawing of this process is flat data, refused as damaged.
  PF_Handle stray = HandleOf(Bytes{0, 0, 0, 0, 0x39, 0x30, 0, 0});
  const DrawingRef unknown = DrawingOfSequenceData(U(), stray);
  EXPECT_EQ(unknown.flat, stray);
  DrawingRef stray_ref = unknown;
  EXPECT_NE(Unflatten(U(), stray_ref).message, nullptr);
  EXPECT_EQ(SequenceDataFor(U(), stray, stray_ref).sequence_data, stray);
  DisposeDrawing(U(), stray_ref);
  DisposeDrawing(U(), ref);
  // No handle for the wrapper.
  DrawingRef fresh{NewDrawing(), nullptr};
  FailLocalHandleAllocation(1);
  const SequenceDataOut failed = SequenceDataFor(U(), nullptr, fresh);
  EXPECT_EQ(failed.sequence_data, nullptr);
  EXPECT_EQ(failed.status.err, 512);
  EXPECT_STREQ(failed.status.message, "Out of memory. OB Paint");
  DisposeDrawing(U(), fresh);
}

}  // namespace
