// The drawing: everything painted on one layer, kept in the effect's
// sequence data.
//
// In memory a drawing is a 216-byte header block; the header keeps its
// stroke array, the draw-order index and the undo store by block id (see
// memory_block.h), and every stroke record keeps its point block the same
// way. Positions are fractions of the layer's width and height, so the
// drawing does not depend on the resolution it is shown at.
//
// Stored (flat) drawings and the host's wrapper are in flat_drawing.h.
#pragma once

#include <pf/api.h>

#include <cstdint>

#include "memory_block.h"

namespace paint {

// ---------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------

// Brush types; 9-12 are the same shapes as erasers (type - 8).
enum : int32_t { kBrushSolid = 1, kBrushPaint = 2, kBrushAir = 3, kBrushSquare = 4, kEraserOffset = 8 };
// Stylus-control bits.
enum : int32_t { kPressureRadius = 1, kPressureOpacity = 2 };
// Paint timing modes (header word 12).
enum : int32_t { kTimingCurrentFrame = 1, kTimingNextFrame = 2, kTimingRealtime = 3, kTimingContinuous = 4 };

struct BrushSettings {
  float red, green, blue;  // 0..1
  float opacity;           // 0..1
  float radius;            // 0.1..500 pixels
  int32_t type;            // 1..12
  float feather;           // 0..1
  int32_t stylus;          // kPressureRadius | kPressureOpacity
};
static_assert(sizeof(BrushSettings) == 32);

// Header words 46-48: strokes in drawing order, rebuilt when not valid.
struct DrawOrderIndex {
  int32_t valid;
  int32_t count;    // the stroke count it was built for
  uint32_t blocks;  // block of `count` int32 stroke indices
};

// Header words 49-53: what the last editing step can take back.
struct UndoStore {
  int32_t available;
  int32_t added_count;  // ids of strokes added
  uint32_t added;       // block of int32 ids
  int32_t saved_count;  // stroke records saved whole or before a change
  uint32_t saved;       // block of 68-byte records
};

struct DrawingHeader {
  int32_t version;              // 0: 264
  uint32_t byte_order;          // 1: 0x01000000
  int32_t flat_marker;          // 2: 0 in memory, 216 in flat data
  int32_t stroke_record_size;   // 3: 68
  int32_t point_record_size;    // 4: 16
  int32_t stroke_count;         // 5
  uint32_t strokes;             // 6: stroke array block (flat: nonzero when there are strokes)
  int32_t flat_strokes_size;    // 7: flat data only
  int32_t flat_strokes_offset;  // 8: flat data only
  int32_t last_stroke_id;       // 9
  int32_t color_clone;          // 10
  int32_t shaping;              // 11: bit 0 smooth
  int32_t timing;               // 12
  int32_t last_draw_mode;       // 13: "Draw Strokes..." of the last render
  int32_t reserved[3];          // 14-16
  BrushSettings brush;          // 17-24: the current brush
  int32_t flags[6];             // 25-30: kept as they are
  int32_t selection_state;      // 31
  BrushSettings selection;      // 32-39: the settings of the selected strokes
  int32_t selection_mask[6];    // 40-45: colour, opacity, radius, type, feather, stylus agree
  DrawOrderIndex draw_order;    // 46-48: run time only
  UndoStore undo;               // 49-53: run time only
};
static_assert(sizeof(DrawingHeader) == 216);

struct StrokeRecord {
  int32_t id;                  // 0: -1 while drawn
  float paint_time;            // 1: layer time in seconds
  float duration;              // 2: seconds
  BrushSettings brush;         // 3-10
  int32_t points_drawn;        // 11: at the last render
  int32_t selected;            // 12
  int32_t point_count;         // 13
  uint32_t points;             // 14: point block (meaningless in flat data)
  int32_t flat_points_size;    // 15: flat data only
  int32_t flat_points_offset;  // 16: flat data only
};
static_assert(sizeof(StrokeRecord) == 68);

struct StrokePoint {
  float time;      // seconds since the stroke began
  float x, y;      // fractions of the layer's width and height
  float pressure;  // 0..1
};
static_assert(sizeof(StrokePoint) == 16);

inline constexpr int32_t kDrawingVersion = 264;
inline constexpr uint32_t kByteOrderMark = 0x01000000u;
inline constexpr uint32_t kHeaderSize = sizeof(DrawingHeader);
inline constexpr uint32_t kStrokeSize = sizeof(StrokeRecord);
inline constexpr uint32_t kPointSize = sizeof(StrokePoint);
// Point storage grows by this many bytes (100 points) at a time.
inline constexpr uint32_t kPointGrowth = 1600;
// Stored positions are kept within this many layer sizes of the origin.
inline constexpr float kPositionLimit = 64.0f;

// ---------------------------------------------------------------------------
// Brush settings and header words, with their clamps
// ---------------------------------------------------------------------------
BrushSettings DefaultBrush();
void SetBrushColor(BrushSettings& brush, float red, float green, float blue);  // each 0..1
void SetBrushOpacity(BrushSettings& brush, float opacity);                     // 0..1
void SetBrushRadius(BrushSettings& brush, float radius);                       // 0.1..500
void SetBrushType(BrushSettings& brush, int32_t type);                         // 1..12
void SetBrushFeather(BrushSettings& brush, float feather);                     // 0..1
void SetStylusControls(BrushSettings& brush, int32_t bits);                    // the two bits
// Every field of `brush` brought into its range (values outside any range,
// not-a-number included, go to the nearest bound).
BrushSettings ClampedBrush(const BrushSettings& brush);
inline int32_t BrushShapeOfType(int32_t type) { return type & 7; }
inline int32_t BrushShape(const BrushSettings& brush) { return BrushShapeOfType(brush.type); }
inline bool IsEraser(const BrushSettings& brush) { return brush.type > kEraserOffset; }

// The header of a drawing; null when the block is not a drawing (not 216 bytes).
DrawingHeader* HeaderOf(MemoryBlock* drawing);
const DrawingHeader* HeaderOf(const MemoryBlock* drawing);
// A new drawing's header.
DrawingHeader DefaultHeader();

inline bool ColorClone(const DrawingHeader& h) { return h.color_clone != 0; }
inline void SetColorClone(DrawingHeader& h, bool on) { h.color_clone = on ? 1 : 0; }
inline bool SmoothStrokes(const DrawingHeader& h) { return (h.shaping & 1) != 0; }
inline void SetSmoothStrokes(DrawingHeader& h, bool on) { h.shaping = on ? (h.shaping | 1) : (h.shaping & ~1); }
inline int32_t PaintTiming(const DrawingHeader& h) { return h.timing; }
// Values outside 1..4 go to the nearest mode.
void SetPaintTiming(DrawingHeader& h, int32_t mode);

// ---------------------------------------------------------------------------
// Drawings
// ---------------------------------------------------------------------------
// A new empty drawing; null when out of memory.
MemoryBlock* NewDrawing();
// Frees a drawing with every block it keeps; null is allowed.
void DisposeDrawing(MemoryBlock* drawing);

// The number of strokes; 0 for a block that is not a drawing.
int32_t StrokeCount(const MemoryBlock* drawing);
// Stroke `index` of the array, or null when the index is not valid.
StrokeRecord* StrokeAt(MemoryBlock* drawing, int32_t index);
const StrokeRecord* StrokeAt(const MemoryBlock* drawing, int32_t index);
// The points of a stroke (point_count of them), or null when it has none.
StrokePoint* StrokePoints(const StrokeRecord& stroke);

// Marks the draw-order index stale (it is rebuilt before it is used next).
void InvalidateDrawOrder(DrawingHeader& h);
// Frees the draw-order index's block and zeroes its words.
void ReleaseDrawOrder(DrawingHeader& h);
// Empties the undo store, freeing the point blocks of the strokes it saved.
void ClearUndoStore(DrawingHeader& h);

// ---------------------------------------------------------------------------
// Strokes
// ---------------------------------------------------------------------------
// An open stroke (id -1, in a 68-byte block of its own) painted at layer
// time `paint_time` with `brush`; starts the stroke clock. Null when out of
// memory.
MemoryBlock* BeginStroke(float paint_time, const BrushSettings& brush);
// Appends a point at pixel (x, y) of a layer 1/inv_width by 1/inv_height
// pixels, timed by the stroke clock. False when out of memory.
bool AddStrokePoint(MemoryBlock* stroke, float pressure, float x, float y, float inv_width, float inv_height);
// Appends a point as it is given (position and pressure brought into
// their limits). False when out of memory.
bool AppendStrokePoint(MemoryBlock* stroke, const StrokePoint& point);
// Files the open stroke into the drawing with the stroke clock's time as
// its duration, or discards it when it has fewer than 2 points (true). The
// stroke block is consumed either way. False when memory ran out (the
// stroke is dropped; the drawing stays valid).
bool EndStroke(MemoryBlock* drawing, MemoryBlock* stroke);
// As EndStroke with the duration given.
bool EndStrokeAfter(MemoryBlock* drawing, MemoryBlock* stroke, float duration);
// Frees an open stroke with its points (a stroke abandoned while drawn).
void DiscardStroke(MemoryBlock* stroke);
// Files a finished stroke that keeps its id, time and duration (a deleted
// stroke put back). Consumes the stroke block.
bool AddFinishedStroke(MemoryBlock* drawing, MemoryBlock* stroke);
// Deletes stroke `index`: its record (with its points) goes into the undo
// store, the last stroke takes its slot. False for an invalid index.
bool DeleteStroke(MemoryBlock* drawing, int32_t index);
// Saves a stroke's record, without its points, into the undo store before
// its settings change, so that Undo can give them back.
void SaveStrokeSettings(DrawingHeader& h, const StrokeRecord& stroke);

// The stroke clock: seconds since BeginStroke, from the high-resolution
// counter (or the millisecond tick count where there is none).
void StartStrokeClock();
float StrokeClockSeconds();

}  // namespace paint
