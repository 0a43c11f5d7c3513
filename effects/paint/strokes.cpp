// Strokes: capturing points into an open stroke, filing it into the
// drawing, deleting it, and what the undo store learns on the way.
#include <ombrix/platform/clock.h>
#include <ombrix/platform/input.h>

#include <cstring>

#include "drawing.h"

namespace paint {
namespace {

namespace plat = ombrix::platform;

// The stroke clock: started by BeginStroke, read for every point and at the end.
struct StrokeClock {
  bool high_resolution = false;
  int64_t start_us = 0;
  uint32_t start_ms = 0;
};
StrokeClock g_clock;

float Limit(float value, float lo, float hi) {
  if (!(value >= lo)) return lo;
  return value > hi ? hi : value;
}

StrokeRecord* RecordOf(MemoryBlock* stroke) {
  if (!stroke || !stroke->data || stroke->size != kStrokeSize) return nullptr;
  return static_cast<StrokeRecord*>(stroke->data);
}

// Appends `size` bytes to the undo block kept in `*id` (made when absent).
bool AppendToUndo(uint32_t* id, const void* bytes, uint32_t size) {
  if (MemoryBlock* block = MemoryBlockFromId(*id)) return AppendMemoryBytes(block, bytes, size) == kMemoryOk;
  MemoryBlock* block = NewMemoryBlockFrom(bytes, size);
  if (!block) return false;
  *id = MemoryBlockId(block);
  return true;
}

void NoteAddedStroke(DrawingHeader& h, int32_t id) {
  if (!AppendToUndo(&h.undo.added, &id, sizeof id)) return;
  ++h.undo.added_count;
  h.undo.available = 1;
}

// The record goes into the store with its point block, which the store then
// owns; when the store cannot take it the points are freed.
void SaveDeletedStroke(DrawingHeader& h, const StrokeRecord& record) {
  if (!AppendToUndo(&h.undo.saved, &record, kStrokeSize)) {
    DisposeMemoryBlock(MemoryBlockFromId(record.points));
    return;
  }
  ++h.undo.saved_count;
  h.undo.available = 1;
}

// Adds a finished stroke to the array: the first stroke's block becomes the
// array itself, later ones are appended and their blocks freed.
bool FileStroke(MemoryBlock* drawing, MemoryBlock* stroke) {
  DrawingHeader* h = HeaderOf(drawing);
  StrokeRecord* r = RecordOf(stroke);
  if (!h || !r || h->stroke_count == INT32_MAX) {
    DiscardStroke(stroke);
    return false;
  }
  const int32_t id = r->id;
  MemoryBlock* array = MemoryBlockFromId(h->strokes);
  if (!array) {
    h->strokes = MemoryBlockId(stroke);
    h->stroke_count = 0;
  } else {
    // Whatever lies past the last stroke (a shrink that failed) is dropped first.
    const uint32_t used = uint32_t(StrokeCount(drawing)) * kStrokeSize;
    if (array->size > used) ResizeMemoryBlock(array, used);
    if (array->size != used || AppendMemoryBlock(array, stroke) != kMemoryOk) {
      DiscardStroke(stroke);
      return false;
    }
    DisposeMemoryBlock(stroke);
  }
  ++h->stroke_count;
  InvalidateDrawOrder(*h);
  NoteAddedStroke(*h, id);
  return true;
}

}  // namespace

void DiscardStroke(MemoryBlock* stroke) {
  if (StrokeRecord* r = RecordOf(stroke)) DisposeMemoryBlock(MemoryBlockFromId(r->points));
  DisposeMemoryBlock(stroke);
}

void StartStrokeClock() {
  g_clock.high_resolution = plat::QueryMicrosecondCounter(&g_clock.start_us);
  if (!g_clock.high_resolution) g_clock.start_ms = plat::GetTickCount();
}

float StrokeClockSeconds() {
  if (g_clock.high_resolution) {
    int64_t now = g_clock.start_us;
    plat::QueryMicrosecondCounter(&now);
    return float(double(now - g_clock.start_us) * 1e-6);
  }
  // The tick count counts milliseconds (and wraps): its own unit, not the counter's.
  return float(double(uint32_t(plat::GetTickCount() - g_clock.start_ms)) * 1e-3);
}

MemoryBlock* BeginStroke(float paint_time, const BrushSettings& brush) {
  MemoryBlock* stroke = NewMemoryBlock(kStrokeSize);
  if (!stroke) return nullptr;
  StrokeRecord* r = RecordOf(stroke);
  r->id = -1;
  r->paint_time = paint_time;
  r->duration = 0.0f;
  r->brush = brush;
  StartStrokeClock();
  return stroke;
}

bool AppendStrokePoint(MemoryBlock* stroke, const StrokePoint& point) {
  StrokeRecord* r = RecordOf(stroke);
  if (!r || r->point_count < 0 || r->point_count == INT32_MAX) return false;
  const uint64_t needed = (uint64_t(r->point_count) + 1) * kPointSize;
  MemoryBlock* points = MemoryBlockFromId(r->points);
  if (!points) {
    if (r->point_count != 0) return false;
    points = NewMemoryBlock(kPointSize);
    if (!points) return false;
    r->points = MemoryBlockId(points);
  } else if (points->size < needed) {
    const uint64_t grown = uint64_t(points->size) + kPointGrowth;
    if (grown > UINT32_MAX || grown < needed || ResizeMemoryBlock(points, uint32_t(grown)) != kMemoryOk) return false;
  }
  StrokePoint stored = point;
  stored.x = Limit(point.x, -kPositionLimit, kPositionLimit);
  stored.y = Limit(point.y, -kPositionLimit, kPositionLimit);
  stored.pressure = Limit(point.pressure, 0.0f, 1.0f);
  std::memcpy(static_cast<char*>(points->data) + uint64_t(r->point_count) * kPointSize, &stored, kPointSize);
  ++r->point_count;
  return true;
}

bool AddStrokePoint(MemoryBlock* stroke, float pressure, float x, float y, float inv_width, float inv_height) {
  return AppendStrokePoint(stroke, StrokePoint{StrokeClockSeconds(), x * inv_width, y * inv_height, pressure});
}

bool EndStroke(MemoryBlock* drawing, MemoryBlock* stroke) {
  return EndStrokeAfter(drawing, stroke, StrokeClockSeconds());
}

bool EndStrokeAfter(MemoryBlock* drawing, MemoryBlock* stroke, float duration) {
  StrokeRecord* r = RecordOf(stroke);
  DrawingHeader* h = HeaderOf(drawing);
  if (!r || r->point_count < 2) {
    DiscardStroke(stroke);
    return r != nullptr;
  }
  if (!h) {
    DiscardStroke(stroke);
    return false;
  }
  r->duration = duration;
  if (ResizeMemoryBlock(MemoryBlockFromId(r->points), uint32_t(r->point_count) * kPointSize) != kMemoryOk) {
    plat::MessageBeep(plat::kBeepDefault);
    DiscardStroke(stroke);
    return false;
  }
  // Ids count up from the last one issued; past the largest they start again at 1.
  h->last_stroke_id = h->last_stroke_id == INT32_MAX || h->last_stroke_id < 0 ? 1 : h->last_stroke_id + 1;
  r->id = h->last_stroke_id;
  return FileStroke(drawing, stroke);
}

bool AddFinishedStroke(MemoryBlock* drawing, MemoryBlock* stroke) { return FileStroke(drawing, stroke); }

void SaveStrokeSettings(DrawingHeader& h, const StrokeRecord& stroke) {
  StrokeRecord settings = stroke;
  settings.points = 0;
  SaveDeletedStroke(h, settings);
}

bool DeleteStroke(MemoryBlock* drawing, int32_t index) {
  const int32_t count = StrokeCount(drawing);
  if (index < 0 || index >= count) return false;
  DrawingHeader* h = HeaderOf(drawing);
  MemoryBlock* array = MemoryBlockFromId(h->strokes);
  auto* records = static_cast<StrokeRecord*>(array->data);
  SaveDeletedStroke(*h, records[index]);
  records[index] = records[count - 1];
  if (count == 1) {
    DisposeMemoryBlock(array);
    h->strokes = 0;
  } else {
    // A shrink that fails leaves spare bytes past the last stroke; the count rules.
    ResizeMemoryBlock(array, uint32_t(count - 1) * kStrokeSize);
  }
  h->stroke_count = count - 1;
  InvalidateDrawOrder(*h);
  return true;
}

}  // namespace paint
