// Drawing headers, brush clamps, and the blocks a drawing keeps.
#include "drawing.h"

#include <cstring>

namespace paint {
namespace {

// `value` within lo..hi; not-a-number goes to `lo`.
float Clamp(float value, float lo, float hi) {
  if (!(value >= lo)) return lo;
  return value > hi ? hi : value;
}

int32_t ClampInt(int32_t value, int32_t lo, int32_t hi) { return value < lo ? lo : value > hi ? hi : value; }

}  // namespace

BrushSettings DefaultBrush() { return BrushSettings{1.0f, 1.0f, 1.0f, 1.0f, 5.0f, kBrushSolid, 0.5f, kPressureRadius}; }

void SetBrushColor(BrushSettings& brush, float red, float green, float blue) {
  brush.red = Clamp(red, 0.0f, 1.0f);
  brush.green = Clamp(green, 0.0f, 1.0f);
  brush.blue = Clamp(blue, 0.0f, 1.0f);
}

void SetBrushOpacity(BrushSettings& brush, float opacity) { brush.opacity = Clamp(opacity, 0.0f, 1.0f); }
void SetBrushRadius(BrushSettings& brush, float radius) { brush.radius = Clamp(radius, 0.1f, 500.0f); }
void SetBrushType(BrushSettings& brush, int32_t type) { brush.type = ClampInt(type, 1, 12); }
void SetBrushFeather(BrushSettings& brush, float feather) { brush.feather = Clamp(feather, 0.0f, 1.0f); }
void SetStylusControls(BrushSettings& brush, int32_t bits) {
  brush.stylus = bits & (kPressureRadius | kPressureOpacity);
}

BrushSettings ClampedBrush(const BrushSettings& brush) {
  BrushSettings out = brush;
  SetBrushColor(out, brush.red, brush.green, brush.blue);
  SetBrushOpacity(out, brush.opacity);
  SetBrushRadius(out, brush.radius);
  SetBrushType(out, brush.type);
  SetBrushFeather(out, brush.feather);
  SetStylusControls(out, brush.stylus);
  return out;
}

void SetPaintTiming(DrawingHeader& h, int32_t mode) {
  h.timing = ClampInt(mode, kTimingCurrentFrame, kTimingContinuous);
}

DrawingHeader* HeaderOf(MemoryBlock* drawing) {
  if (!drawing || !drawing->data || drawing->size != kHeaderSize) return nullptr;
  return static_cast<DrawingHeader*>(drawing->data);
}

const DrawingHeader* HeaderOf(const MemoryBlock* drawing) { return HeaderOf(const_cast<MemoryBlock*>(drawing)); }

DrawingHeader DefaultHeader() {
  DrawingHeader h;
  std::memset(&h, 0, sizeof h);
  h.version = kDrawingVersion;
  h.byte_order = kByteOrderMark;
  h.stroke_record_size = int32_t(kStrokeSize);
  h.point_record_size = int32_t(kPointSize);
  h.last_stroke_id = 1;
  h.timing = kTimingCurrentFrame;
  h.brush = DefaultBrush();
  for (int32_t& flag : h.flags) flag = 1;
  h.selection = DefaultBrush();
  for (int32_t& agree : h.selection_mask) agree = 1;
  return h;
}

MemoryBlock* NewDrawing() {
  const DrawingHeader h = DefaultHeader();
  return NewMemoryBlockFrom(&h, kHeaderSize);
}

int32_t StrokeCount(const MemoryBlock* drawing) {
  const DrawingHeader* h = HeaderOf(drawing);
  if (!h || h->stroke_count <= 0) return 0;
  // Never more than the array holds.
  const MemoryBlock* array = MemoryBlockFromId(h->strokes);
  const uint32_t held = array ? array->size / kStrokeSize : 0;
  return uint32_t(h->stroke_count) < held ? h->stroke_count : int32_t(held);
}

StrokeRecord* StrokeAt(MemoryBlock* drawing, int32_t index) {
  if (index < 0 || index >= StrokeCount(drawing)) return nullptr;
  MemoryBlock* array = MemoryBlockFromId(HeaderOf(drawing)->strokes);
  return static_cast<StrokeRecord*>(array->data) + index;
}

const StrokeRecord* StrokeAt(const MemoryBlock* drawing, int32_t index) {
  return StrokeAt(const_cast<MemoryBlock*>(drawing), index);
}

StrokePoint* StrokePoints(const StrokeRecord& stroke) {
  MemoryBlock* points = MemoryBlockFromId(stroke.points);
  if (!points || stroke.point_count <= 0 || points->size / kPointSize < uint32_t(stroke.point_count)) return nullptr;
  return static_cast<StrokePoint*>(points->data);
}

void InvalidateDrawOrder(DrawingHeader& h) {
  h.draw_order.valid = 0;
  h.draw_order.count = h.stroke_count;
}

void ReleaseDrawOrder(DrawingHeader& h) {
  DisposeMemoryBlock(MemoryBlockFromId(h.draw_order.blocks));
  h.draw_order = DrawOrderIndex{0, 0, 0};
}

void ClearUndoStore(DrawingHeader& h) {
  if (MemoryBlock* saved = MemoryBlockFromId(h.undo.saved)) {
    const auto* records = static_cast<const StrokeRecord*>(saved->data);
    const uint32_t held = saved->size / kStrokeSize;
    for (uint32_t i = 0; i < held && i < uint32_t(h.undo.saved_count); ++i) {
      DisposeMemoryBlock(MemoryBlockFromId(records[i].points));
    }
    DisposeMemoryBlock(saved);
  }
  DisposeMemoryBlock(MemoryBlockFromId(h.undo.added));
  h.undo = UndoStore{0, 0, 0, 0, 0};
}

void DisposeDrawing(MemoryBlock* drawing) {
  DrawingHeader* h = HeaderOf(drawing);
  if (h) {
    ReleaseDrawOrder(*h);
    ClearUndoStore(*h);
    if (MemoryBlock* array = MemoryBlockFromId(h->strokes)) {
      const int32_t count = StrokeCount(drawing);
      for (int32_t i = 0; i < count; ++i) DisposeMemoryBlock(MemoryBlockFromId(StrokeAt(drawing, i)->points));
      DisposeMemoryBlock(array);
    }
  }
  if (drawing) DisposeMemoryBlock(drawing);
}

}  // namespace paint
