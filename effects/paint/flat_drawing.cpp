// Flattening a drawing into one host handle and rebuilding it, with the
// checks that keep a damaged or foreign block from being trusted.
#include "flat_drawing.h"

#include <cmath>
#include <cstring>

namespace paint {
namespace {

constexpr int32_t kOldestConvertible = 262;
constexpr uint32_t kWrapperSize = 8;

uint32_t ReadWord(const void* bytes, uint32_t offset) {
  uint32_t word;
  std::memcpy(&word, static_cast<const char*>(bytes) + offset, sizeof word);
  return word;
}

bool Finite(float value) { return std::isfinite(value); }

DrawingStatus Refused(PF_Err err, const char* message) { return DrawingStatus{err, message}; }
DrawingStatus Damaged() { return Refused(PF_Err_INTERNAL_STRUCT_DAMAGED, kMsgDamaged); }
DrawingStatus NoMemory(const char* message) { return Refused(PF_Err_MAC_OUT_OF_MEMORY, message); }

// The stored bytes as this machine reads them: the handle itself, or a
// copy with every word reversed when they come from the other byte order.
struct Source {
  const unsigned char* bytes = nullptr;
  uint32_t size = 0;
  MemoryBlock* reversed = nullptr;
};

// Checks the stored layout before anything is allocated from it: the array
// and every point block inside the data, word-aligned, in the order flatten
// lays them out (point blocks one after another, then the array), sizes
// matching the counts, and every time and position a finite number.
bool LayoutIsSound(const Source& src, const DrawingHeader& h) {
  if (h.strokes == 0) return h.stroke_count == 0;
  const uint64_t count = uint64_t(int64_t(h.stroke_count));
  const uint64_t array_offset = uint64_t(int64_t(h.flat_strokes_offset));
  if (h.stroke_count <= 0 || h.flat_strokes_offset < int32_t(kHeaderSize) || array_offset % 4 != 0 ||
      uint64_t(int64_t(h.flat_strokes_size)) != count * kStrokeSize || array_offset + count * kStrokeSize > src.size) {
    return false;
  }
  uint64_t next = kHeaderSize;  // where the next point block may start
  for (uint64_t i = 0; i < count; ++i) {
    StrokeRecord r;
    std::memcpy(&r, src.bytes + array_offset + i * kStrokeSize, kStrokeSize);
    const uint64_t points = uint64_t(int64_t(r.point_count));
    const uint64_t offset = uint64_t(int64_t(r.flat_points_offset));
    if (r.point_count < 2 || r.flat_points_offset < 0 || offset < next || offset % 4 != 0 ||
        uint64_t(int64_t(r.flat_points_size)) != points * kPointSize || offset + points * kPointSize > array_offset) {
      return false;
    }
    if (!Finite(r.paint_time) || !Finite(r.duration)) return false;
    for (uint64_t p = 0; p < points; ++p) {
      StrokePoint pt;
      std::memcpy(&pt, src.bytes + offset + p * kPointSize, kPointSize);
      if (!Finite(pt.time) || !Finite(pt.x) || !Finite(pt.y) || !Finite(pt.pressure)) return false;
    }
    next = offset + points * kPointSize;
  }
  return true;
}

float Limit(float value, float lo, float hi) { return value < lo ? lo : value > hi ? hi : value; }

int32_t Flag(int32_t value) { return value != 0 ? 1 : 0; }

// Brings the stored settings into the ranges the tools expect.
void SanitizeHeader(DrawingHeader& h) {
  h.brush = ClampedBrush(h.brush);
  h.selection = ClampedBrush(h.selection);
  h.color_clone = Flag(h.color_clone);
  SetPaintTiming(h, h.timing);
  if (h.last_draw_mode < 0 || h.last_draw_mode > 6) h.last_draw_mode = 0;
  for (int32_t& agree : h.selection_mask) agree = Flag(agree);
}

void SanitizeStroke(StrokeRecord& r) {
  r.brush = ClampedBrush(r.brush);
  if (r.points_drawn < 0 || r.points_drawn > r.point_count) r.points_drawn = 0;
  r.selected = Flag(r.selected);
}

void SanitizePoints(StrokePoint* points, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    points[i].x = Limit(points[i].x, -kPositionLimit, kPositionLimit);
    points[i].y = Limit(points[i].y, -kPositionLimit, kPositionLimit);
    points[i].pressure = Limit(points[i].pressure, 0.0f, 1.0f);
  }
}

// Frees what a failed rebuild had made.
void DropRebuilt(MemoryBlock* drawing, MemoryBlock* array, int32_t strokes_with_points) {
  if (array) {
    const auto* records = static_cast<const StrokeRecord*>(array->data);
    for (int32_t i = 0; i < strokes_with_points; ++i) DisposeMemoryBlock(MemoryBlockFromId(records[i].points));
    DisposeMemoryBlock(array);
  }
  DisposeMemoryBlock(drawing);
}

// Builds the drawing's own blocks from sound stored data.
DrawingStatus Rebuild(const Source& src, DrawingHeader h, MemoryBlock** out) {
  SanitizeHeader(h);
  const int32_t count = h.strokes ? h.stroke_count : 0;
  const uint32_t array_offset = uint32_t(h.flat_strokes_offset);
  // The order is decoded and the records are read at their sizes: the header says so from now on.
  h.byte_order = kByteOrderMark;
  h.stroke_record_size = int32_t(kStrokeSize);
  h.point_record_size = int32_t(kPointSize);
  h.flat_marker = 0;
  h.strokes = 0;
  h.flat_strokes_size = 0;
  h.flat_strokes_offset = 0;
  h.draw_order = DrawOrderIndex{0, count, 0};
  h.undo = UndoStore{0, 0, 0, 0, 0};
  MemoryBlock* drawing = NewMemoryBlockFrom(&h, kHeaderSize);
  if (!drawing) return NoMemory(kMsgOpenNoMemory);
  if (count > 0) {
    MemoryBlock* array = NewMemoryBlockFrom(src.bytes + array_offset, uint32_t(count) * kStrokeSize);
    if (!array) {
      DropRebuilt(drawing, nullptr, 0);
      return NoMemory(kMsgOpenNoMemory);
    }
    auto* records = static_cast<StrokeRecord*>(array->data);
    for (int32_t i = 0; i < count; ++i) {
      StrokeRecord& r = records[i];
      MemoryBlock* points = NewMemoryBlockFrom(src.bytes + r.flat_points_offset, uint32_t(r.point_count) * kPointSize);
      if (!points) {
        DropRebuilt(drawing, array, i);
        return NoMemory(kMsgPointsLost);
      }
      SanitizePoints(static_cast<StrokePoint*>(points->data), r.point_count);
      SanitizeStroke(r);
      r.points = MemoryBlockId(points);
      r.flat_points_size = 0;
      r.flat_points_offset = 0;
    }
    HeaderOf(drawing)->strokes = MemoryBlockId(array);
  }
  *out = drawing;
  return DrawingStatus{};
}

// The header to load from stored header `stored`, by its version.
DrawingStatus HeaderToLoad(const DrawingHeader& stored, DrawingHeader* h) {
  if (stored.version == kDrawingVersion) {
    *h = stored;
    return DrawingStatus{};
  }
  if (stored.version < kOldestConvertible) return Refused(PF_Err_INTERNAL_STRUCT_DAMAGED, kMsgOldVersion);
  if (stored.stroke_record_size != int32_t(kStrokeSize) || stored.point_record_size != int32_t(kPointSize)) {
    return Refused(PF_Err_INTERNAL_STRUCT_DAMAGED, kMsgOtherVersion);
  }
  *h = DefaultHeader();
  h->stroke_count = stored.stroke_count;
  h->strokes = stored.strokes;
  h->flat_strokes_size = stored.flat_strokes_size;
  h->flat_strokes_offset = stored.flat_strokes_offset;
  h->last_stroke_id = stored.last_stroke_id;
  return DrawingStatus{PF_Err_NONE, kMsgSettingsReset};
}

bool IsWrapper(const PF_UtilCallbacks* utils, PF_Handle h, uint32_t* id) {
  if (!h || utils->host_get_handle_size(h) < kWrapperSize) return false;
  const void* data = utils->host_lock_handle(h);
  const bool wrapper = data && ReadWord(data, 0) == 0;
  if (wrapper && id) *id = ReadWord(data, 4);
  utils->host_unlock_handle(h);
  return wrapper;
}

}  // namespace

void ReverseWordBytes(void* data, uint32_t size) {
  auto* bytes = static_cast<unsigned char*>(data);
  for (uint32_t i = 0; i + 4 <= size; i += 4) {
    uint32_t word;
    std::memcpy(&word, bytes + i, 4);
    word = __builtin_bswap32(word);
    std::memcpy(bytes + i, &word, 4);
  }
}

StoredFacts InspectStoredDrawing(const void* bytes, uint32_t size) {
  StoredFacts facts;
  if (!bytes || size < kHeaderSize || ReadWord(bytes, 8) == 0) return facts;
  uint32_t order = ReadWord(bytes, 4);
  facts.marked = order == kOtherOrderMark;
  if (facts.marked) order = 1;
  const bool reversed = (order & 0xFFu) != 0;
  auto word = [&](uint32_t offset) {
    const uint32_t w = ReadWord(bytes, offset);
    return int32_t(reversed ? __builtin_bswap32(w) : w);
  };
  if (reversed && (__builtin_bswap32(order) & 0xFF000000u) == 0) return facts;
  facts.readable = true;
  facts.order = reversed ? ByteOrder::kReversed : ByteOrder::kNative;
  facts.version = word(0);
  facts.stroke_count = word(20);
  return facts;
}

DrawingStatus Flatten(const PF_UtilCallbacks* utils, DrawingRef& ref, ByteOrder order) {
  if (!ref.unflat) return DrawingStatus{};
  const DrawingHeader* h = HeaderOf(ref.unflat);
  if (!h) return Damaged();
  const int32_t count = StrokeCount(ref.unflat);
  uint64_t total = kHeaderSize + uint64_t(count) * kStrokeSize;
  for (int32_t i = 0; i < count; ++i) {
    const StrokeRecord* r = StrokeAt(ref.unflat, i);
    if (!StrokePoints(*r)) return Damaged();
    total += uint64_t(r->point_count) * kPointSize;
  }
  if (total > uint64_t(INT32_MAX)) return NoMemory(kMsgSaveNoMemory);
  PF_Handle flat = utils->host_new_handle(A_u_long(total));
  unsigned char* out = flat ? static_cast<unsigned char*>(utils->host_lock_handle(flat)) : nullptr;
  if (!out) {
    if (flat) utils->host_dispose_handle(flat);
    return NoMemory(kMsgSaveNoMemory);
  }
  DrawingHeader stored = *h;
  stored.byte_order = kByteOrderMark;
  stored.flat_marker = int32_t(kHeaderSize);
  stored.stroke_count = count;
  stored.strokes = count > 0 ? 1 : 0;
  stored.draw_order = DrawOrderIndex{0, 0, 0};
  stored.undo = UndoStore{0, 0, 0, 0, 0};
  uint32_t at = kHeaderSize;
  for (int32_t i = 0; i < count; ++i) {
    const StrokeRecord* r = StrokeAt(ref.unflat, i);
    const uint32_t bytes = uint32_t(r->point_count) * kPointSize;
    std::memcpy(out + at, StrokePoints(*r), bytes);
    StrokeRecord record = *r;
    record.points = 0;
    record.flat_points_size = int32_t(bytes);
    record.flat_points_offset = int32_t(at);
    std::memcpy(out + total - uint64_t(count - i) * kStrokeSize, &record, kStrokeSize);
    at += bytes;
  }
  stored.flat_strokes_size = count > 0 ? int32_t(uint32_t(count) * kStrokeSize) : 0;
  stored.flat_strokes_offset = count > 0 ? int32_t(at) : 0;
  std::memcpy(out, &stored, kHeaderSize);
  if (order == ByteOrder::kReversed) ReverseWordBytes(out, uint32_t(total));
  utils->host_unlock_handle(flat);
  DisposeDrawing(ref.unflat);
  ref = DrawingRef{nullptr, flat};
  return DrawingStatus{};
}

DrawingStatus Unflatten(const PF_UtilCallbacks* utils, DrawingRef& ref) {
  if (!ref.flat || ref.unflat) return DrawingStatus{};
  const uint32_t size = utils->host_get_handle_size(ref.flat);
  if (size < kHeaderSize) return Damaged();
  const void* data = utils->host_lock_handle(ref.flat);
  const StoredFacts facts = InspectStoredDrawing(data, size);
  DrawingStatus status = Damaged();
  Source src{static_cast<const unsigned char*>(data), size, nullptr};
  if (facts.readable && facts.order == ByteOrder::kReversed) {
    src.reversed = NewMemoryBlockFrom(data, size);
    if (src.reversed) {
      ReverseWordBytes(src.reversed->data, size);
      const uint32_t mark = kByteOrderMark;
      if (facts.marked) std::memcpy(static_cast<char*>(src.reversed->data) + 4, &mark, 4);
      src.bytes = static_cast<const unsigned char*>(src.reversed->data);
    } else {
      status = NoMemory(kMsgOpenNoMemory);
    }
  }
  MemoryBlock* drawing = nullptr;
  if (facts.readable && (facts.order == ByteOrder::kNative || src.reversed)) {
    DrawingHeader stored, h;
    std::memcpy(&stored, src.bytes, kHeaderSize);
    status = HeaderToLoad(stored, &h);
    if (status.err == PF_Err_NONE && !LayoutIsSound(src, h)) status = Damaged();
    if (status.err == PF_Err_NONE) {
      const char* note = status.message;
      status = Rebuild(src, h, &drawing);
      if (status.err == PF_Err_NONE) status.message = note;
    }
  }
  DisposeMemoryBlock(src.reversed);
  utils->host_unlock_handle(ref.flat);
  if (!drawing) return status;
  utils->host_dispose_handle(ref.flat);
  ref = DrawingRef{drawing, nullptr};
  return status;
}

void DisposeDrawing(const PF_UtilCallbacks* utils, DrawingRef& ref) {
  DisposeDrawing(ref.unflat);
  if (ref.flat) utils->host_dispose_handle(ref.flat);
  ref = DrawingRef{};
}

DrawingRef DrawingOfSequenceData(const PF_UtilCallbacks* utils, PF_Handle sequence_data) {
  uint32_t id = 0;
  if (IsWrapper(utils, sequence_data, &id)) {
    MemoryBlock* block = MemoryBlockFromId(id);
    const DrawingHeader* h = HeaderOf(block);
    if (h && h->flat_marker == 0 && h->version == kDrawingVersion) return DrawingRef{block, nullptr};
  }
  return DrawingRef{nullptr, sequence_data};
}

SequenceDataOut SequenceDataFor(const PF_UtilCallbacks* utils, PF_Handle incoming, const DrawingRef& current) {
  if (incoming && incoming == current.flat) return SequenceDataOut{incoming, {}};
  const bool wrapped = IsWrapper(utils, incoming, nullptr);
  if (!current.unflat) {
    if (wrapped) utils->host_dispose_handle(incoming);
    return SequenceDataOut{current.flat, {}};
  }
  PF_Handle wrapper = wrapped ? incoming : utils->host_new_handle(kWrapperSize);
  void* data = wrapper ? utils->host_lock_handle(wrapper) : nullptr;
  if (!data) {
    if (wrapper && !wrapped) utils->host_dispose_handle(wrapper);
    return SequenceDataOut{nullptr, {PF_Err_INTERNAL_STRUCT_DAMAGED, kMsgWrapNoMemory}};
  }
  const uint32_t words[2] = {0, MemoryBlockId(current.unflat)};
  std::memcpy(data, words, sizeof words);
  utils->host_unlock_handle(wrapper);
  return SequenceDataOut{wrapper, {}};
}

}  // namespace paint
