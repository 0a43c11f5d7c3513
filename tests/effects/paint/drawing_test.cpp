// Memory blocks, the header of a new drawing, brush clamps, point capture
// and the stroke operations.
#include <gtest/gtest.h>

#include <ombrix/platform/headless.h>

#include <bit>
#include <cmath>
#include <cstring>

#include "drawing.h"

namespace {

using namespace paint;
namespace plat = ombrix::platform;

uint32_t Word(const MemoryBlock* block, int index) {
  uint32_t w;
  std::memcpy(&w, static_cast<const char*>(block->data) + 4 * index, 4);
  return w;
}

uint32_t Bits(float f) { return std::bit_cast<uint32_t>(f); }

TEST(MemoryBlockTest, OperationsAnswerTheirCodes) {
  MemoryBlock* empty = NewMemoryBlock(0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(MemoryBlockSize(empty), 0u);
  MemoryBlock* a = NewMemoryBlockFrom("abcd", 4);
  MemoryBlock* b = NewMemoryBlockFrom("ef", 2);
  struct Case {
    const char* what;
    int32_t got, want;
  } cases[] = {
      {"append", AppendMemoryBlock(a, b), 0},
      {"lock", LockMemoryBlock(a), 0},
      {"resize locked", ResizeMemoryBlock(a, 10), -108},
      {"append to locked", AppendMemoryBlock(a, b), -108},
      {"unlock", UnlockMemoryBlock(a), 0},
      {"resize", ResizeMemoryBlock(a, 8), 0},
      {"null resize", ResizeMemoryBlock(nullptr, 8), -109},
      {"null lock", LockMemoryBlock(nullptr), -109},
      {"append null", AppendMemoryBlock(a, nullptr), -109},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want) << c.what;
  EXPECT_EQ(MemoryLastError(), -109);
  ASSERT_EQ(MemoryBlockSize(a), 8u);
  EXPECT_EQ(std::memcmp(a->data, "abcdef\0\0", 8), 0);
  MemoryBlock* copy = DuplicateMemoryBlock(a);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(std::memcmp(copy->data, a->data, 8), 0);
  // Ids find live blocks only.
  const uint32_t id = MemoryBlockId(b);
  EXPECT_EQ(MemoryBlockFromId(id), b);
  DisposeMemoryBlock(b);
  EXPECT_EQ(MemoryBlockFromId(id), nullptr);
  MemoryBlock* reused = NewMemoryBlock(1);
  EXPECT_NE(MemoryBlockId(reused), id);
  EXPECT_EQ(MemoryBlockFromId(id), nullptr);
  EXPECT_EQ(MemoryBlockFromId(0), nullptr);
  FailMemoryBlockAllocation(1);
  EXPECT_EQ(NewMemoryBlock(4), nullptr);
  EXPECT_EQ(MemoryLastError(), -108);
  for (MemoryBlock* m : {empty, a, copy, reused}) DisposeMemoryBlock(m);
}

TEST(DrawingTest, NewDrawingHoldsTheDefaults) {
  MemoryBlock* d = NewDrawing();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(d->size, 216u);
  // Bytes 4..7 read 00 00 00 01.
  EXPECT_EQ(std::memcmp(static_cast<char*>(d->data) + 4, "\0\0\0\1", 4), 0);
  const uint32_t brush[8] = {Bits(1.0f), Bits(1.0f), Bits(1.0f), Bits(1.0f), Bits(5.0f), 1, Bits(0.5f), 1};
  uint32_t want[54] = {264, 0x01000000, 0, 68, 16, 0, 0, 0, 0, 1, 0, 0, 1};
  std::memcpy(want + 17, brush, sizeof brush);
  for (int i = 25; i <= 30; ++i) want[i] = 1;
  std::memcpy(want + 32, brush, sizeof brush);
  for (int i = 40; i <= 45; ++i) want[i] = 1;
  for (int i = 0; i < 54; ++i) EXPECT_EQ(Word(d, i), want[i]) << "word " << i;
  DisposeDrawing(d);
}

TEST(DrawingTest, BrushSettersClamp) {
  struct Case {
    const char* what;
    void (*set)(BrushSettings&);
    float BrushSettings::*field;
    float want;
  } cases[] = {
      {"opacity above", [](BrushSettings& b) { SetBrushOpacity(b, 1.5f); }, &BrushSettings::opacity, 1.0f},
      {"opacity below", [](BrushSettings& b) { SetBrushOpacity(b, -0.5f); }, &BrushSettings::opacity, 0.0f},
      {"radius below", [](BrushSettings& b) { SetBrushRadius(b, 0.01f); }, &BrushSettings::radius, 0.1f},
      {"radius above", [](BrushSettings& b) { SetBrushRadius(b, 900.0f); }, &BrushSettings::radius, 500.0f},
      {"radius inside", [](BrushSettings& b) { SetBrushRadius(b, 12.5f); }, &BrushSettings::radius, 12.5f},
      {"radius NaN", [](BrushSettings& b) { SetBrushRadius(b, std::nanf("")); }, &BrushSettings::radius, 0.1f},
      {"feather above", [](BrushSettings& b) { SetBrushFeather(b, 2.0f); }, &BrushSettings::feather, 1.0f},
      {"colour above", [](BrushSettings& b) { SetBrushColor(b, 0.2f, 3.0f, 0.4f); }, &BrushSettings::green, 1.0f},
  };
  for (const Case& c : cases) {
    BrushSettings b = DefaultBrush();
    c.set(b);
    EXPECT_EQ(b.*c.field, c.want) << c.what;
  }
  const int32_t types[][2] = {{0, 1}, {-7, 1}, {4, 4}, {12, 12}, {13, 12}};
  for (const auto& t : types) {
    BrushSettings b = DefaultBrush();
    SetBrushType(b, t[0]);
    EXPECT_EQ(b.type, t[1]) << t[0];
  }
  BrushSettings eraser = DefaultBrush();
  SetBrushType(eraser, 11);
  EXPECT_TRUE(IsEraser(eraser));
  EXPECT_EQ(BrushShape(eraser), 3);
}

class StrokeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::ResetHeadless();
    plat::SetScriptedClock(5'000'000);
    blocks_before_ = LiveMemoryBlocks();
    drawing_ = NewDrawing();
  }
  void TearDown() override {
    DisposeDrawing(drawing_);
    EXPECT_EQ(LiveMemoryBlocks(), blocks_before_);
    plat::ResetHeadless();
  }
  // A stroke of `points` points at layer time `time`, 1 ms apart, ended after `points` ms.
  bool Paint(float time, int points) {
    MemoryBlock* s = BeginStroke(time, DefaultBrush());
    for (int i = 0; i < points; ++i) {
      plat::AdvanceScriptedClock(1000);
      if (!AddStrokePoint(s, 1.0f, float(i), float(i), 0.01f, 0.02f)) return false;
    }
    return EndStroke(drawing_, s);
  }
  uint32_t blocks_before_ = 0;
  MemoryBlock* drawing_ = nullptr;
};

TEST_F(StrokeTest, PointsGrowInStepsOfAHundred) {
  MemoryBlock* s = BeginStroke(0.0f, DefaultBrush());
  const StrokeRecord* r = static_cast<const StrokeRecord*>(s->data);
  EXPECT_EQ(r->id, -1);
  // Block size after n points: 16 for the first, then 16 + 1600 per started hundred after it.
  for (int n = 1; n <= 202; ++n) {
    plat::AdvanceScriptedClock(2500);
    ASSERT_TRUE(AddStrokePoint(s, 0.75f, 10.0f, 30.0f, 1.0f / 200, 1.0f / 120));
    const uint32_t want = n == 1 ? 16u : 16u + 1600u * uint32_t((n - 1 + 99) / 100);
    ASSERT_EQ(MemoryBlockFromId(r->points)->size, want) << n;
  }
  const StrokePoint& p = StrokePoints(*r)[3];
  EXPECT_EQ(p.time, float(10000 * 1e-6));
  EXPECT_EQ(p.x, 10.0f * (1.0f / 200));
  EXPECT_EQ(p.y, 30.0f * (1.0f / 120));
  EXPECT_EQ(p.pressure, 0.75f);
  ASSERT_TRUE(EndStroke(drawing_, s));
  const StrokeRecord* filed = StrokeAt(drawing_, 0);
  EXPECT_EQ(MemoryBlockFromId(filed->points)->size, 202u * 16);
  EXPECT_EQ(filed->duration, float(202 * 2500 * 1e-6));
}

TEST_F(StrokeTest, TickCountStandsInForTheCounterInMilliseconds) {
  plat::SetHighResolutionCounterPresent(false);
  MemoryBlock* s = BeginStroke(0.0f, DefaultBrush());
  plat::AdvanceScriptedClock(1'500'000);
  ASSERT_TRUE(AddStrokePoint(s, 1.0f, 0.0f, 0.0f, 1.0f, 1.0f));
  EXPECT_EQ(StrokePoints(*static_cast<StrokeRecord*>(s->data))[0].time, 1.5f);
  EXPECT_TRUE(EndStroke(drawing_, s));  // one point: discarded, which counts as done
  EXPECT_EQ(StrokeCount(drawing_), 0);
}

TEST_F(StrokeTest, EndingFilesStrokesWithIdsAndTellsTheUndoStore) {
  ASSERT_TRUE(Paint(0.5f, 1));
  ASSERT_TRUE(Paint(1.0f, 3));
  ASSERT_TRUE(Paint(2.0f, 2));
  const DrawingHeader* h = HeaderOf(drawing_);
  ASSERT_EQ(StrokeCount(drawing_), 2);
  EXPECT_EQ(h->last_stroke_id, 3);
  EXPECT_EQ(StrokeAt(drawing_, 0)->id, 2);
  EXPECT_EQ(StrokeAt(drawing_, 1)->id, 3);
  EXPECT_EQ(StrokeAt(drawing_, 0)->duration, float(3000 * 1e-6));
  EXPECT_EQ(StrokeAt(drawing_, 1)->paint_time, 2.0f);
  EXPECT_EQ(h->draw_order.valid, 0);
  EXPECT_EQ(h->draw_order.count, 2);
  EXPECT_EQ(h->undo.available, 1);
  ASSERT_EQ(h->undo.added_count, 2);
  const auto* added = static_cast<const int32_t*>(MemoryBlockFromId(h->undo.added)->data);
  EXPECT_EQ(added[0], 2);
  EXPECT_EQ(added[1], 3);
}

TEST_F(StrokeTest, DeletingMovesTheLastStrokeAndKeepsThePointsForUndo) {
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(Paint(float(i), 2 + i));
  const uint32_t points_of_first = StrokeAt(drawing_, 0)->points;
  ASSERT_TRUE(DeleteStroke(drawing_, 0));
  EXPECT_FALSE(DeleteStroke(drawing_, 2));
  EXPECT_FALSE(DeleteStroke(drawing_, -1));
  ASSERT_EQ(StrokeCount(drawing_), 2);
  EXPECT_EQ(StrokeAt(drawing_, 0)->id, 4);
  EXPECT_EQ(StrokeAt(drawing_, 0)->point_count, 4);
  EXPECT_EQ(StrokeAt(drawing_, 1)->id, 3);
  const DrawingHeader* h = HeaderOf(drawing_);
  EXPECT_EQ(MemoryBlockFromId(h->strokes)->size, 2u * 68);
  ASSERT_EQ(h->undo.saved_count, 1);
  const auto* saved = static_cast<const StrokeRecord*>(MemoryBlockFromId(h->undo.saved)->data);
  EXPECT_EQ(saved[0].id, 2);
  EXPECT_EQ(saved[0].points, points_of_first);
  EXPECT_NE(MemoryBlockFromId(points_of_first), nullptr);
  ASSERT_TRUE(DeleteStroke(drawing_, 0));
  ASSERT_TRUE(DeleteStroke(drawing_, 0));
  EXPECT_EQ(h->strokes, 0u);
  EXPECT_EQ(StrokeCount(drawing_), 0);
  EXPECT_EQ(StrokeAt(drawing_, 0), nullptr);
}

TEST_F(StrokeTest, MemoryShortageDropsTheStrokeOnly) {
  ASSERT_TRUE(Paint(0.0f, 2));
  MemoryBlock* s = BeginStroke(1.0f, DefaultBrush());
  ASSERT_TRUE(AddStrokePoint(s, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f));
  FailMemoryBlockAllocation(1);  // the growth to 1616 bytes
  EXPECT_FALSE(AddStrokePoint(s, 1.0f, 2.0f, 2.0f, 1.0f, 1.0f));
  ASSERT_TRUE(AddStrokePoint(s, 1.0f, 2.0f, 2.0f, 1.0f, 1.0f));
  FailMemoryBlockAllocation(1);  // the array's growth
  EXPECT_FALSE(EndStroke(drawing_, s));
  EXPECT_EQ(StrokeCount(drawing_), 1);
  EXPECT_EQ(StrokeAt(drawing_, 0)->id, 2);
  // A block that is not a drawing has no strokes.
  MemoryBlock* other = NewMemoryBlock(100);
  EXPECT_EQ(StrokeCount(other), 0);
  EXPECT_EQ(StrokeAt(other, 0), nullptr);
  DisposeMemoryBlock(other);
}

}  // namespace
