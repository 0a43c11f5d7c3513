// Stamping in bands of rows. The frame's discs are kept in the order they
// are placed and stamped through the host's iterate, whose pixel function
// is called once per output row (an area one column wide) and mixes that
// row of every disc touching it, in order. Each pixel so sees the same discs
// in the same order as when they are stamped one by one, so the bytes do not
// depend on how the host splits the rows among its threads.
#pragma once

#include "draw.h"

#include <algorithm>

namespace lightning {

// Discs are kept in groups of this many, the first of each holding the rows
// the group touches, so that a row skips groups far from it.
inline constexpr int32_t kDiscGroup = 16;
// Discs kept before they are stamped; a full batch is stamped and emptied.
inline constexpr int32_t kBatchCapacity = 4096;

struct DiscBatch {
  PF_InData* in_data = nullptr;  // iterate and the handle services
  PF_EffectWorld* output = nullptr;
  PF_Pixel colours[2] = {};  // by DiscKind
  PF_Handle handle = nullptr;
  Disc* discs = nullptr;
  int32_t count = 0;
  A_long top = 0, bottom = 0;  // rows touched by the discs kept
  bool unbatched = false;      // no room could be had: discs are stamped as placed
  PF_Err err = PF_Err_NONE;    // the first failure of a stamping pass; later discs are dropped
};

inline DiscBatch MakeDiscBatch(PF_InData* in_data, const WalkContext& c) {
  DiscBatch b;
  b.in_data = in_data;
  b.output = c.output;
  b.colours[kCoreDisc] = c.core_colour;
  b.colours[kGlowDisc] = c.glow_colour;
  return b;
}

inline void FreeDiscBatch(DiscBatch* b) {
  FreeBlock(b->in_data->utils, &b->handle);
  b->discs = nullptr;
  b->count = 0;
}

// The pixel function of a stamping pass: row y of every kept disc.
inline PF_Err StampBatchRow(void* refcon, A_long, A_long y, PF_Pixel*, PF_Pixel*) {
  const DiscBatch& b = *static_cast<const DiscBatch*>(refcon);
  for (int32_t g = 0; g < b.count; g += kDiscGroup) {
    if (y < b.discs[g].group_top || y > b.discs[g].group_bottom) continue;
    const int32_t end = b.count - g < kDiscGroup ? b.count : g + kDiscGroup;
    for (int32_t i = g; i < end; ++i) {
      const Disc& d = b.discs[i];
      if (y >= d.box.y0 && y <= d.box.y1) StampDiscRow(d, b.colours[d.kind], y, *b.output);
    }
  }
  return PF_Err_NONE;
}

// Stamps the kept discs in bands through iterate and empties the batch.
inline PF_Err FlushDiscBatch(DiscBatch* b) {
  if (b->err != PF_Err_NONE || b->count == 0) return b->err;
  const PF_Rect rows{0, b->top, 1, b->bottom + 1};
  b->err =
      b->in_data->utils->iterate(b->in_data, 0, rows.bottom - rows.top, b->output, &rows, b, StampBatchRow, b->output);
  b->count = 0;
  return b->err;
}

// Stamps the kept discs one by one on this thread (the work done before an
// abort is kept, as when every bolt is drawn right after its walk).
inline void StampBatchSerially(DiscBatch* b) {
  for (int32_t i = 0; i < b->count; ++i) StampDisc(b->discs[i], b->colours[b->discs[i].kind], *b->output);
  b->count = 0;
}

inline void AddDisc(DiscBatch* b, const Disc& d) {
  if (b->err != PF_Err_NONE) return;
  if (b->handle == nullptr && !b->unbatched) {
    void* p = NewLockedBlock(b->in_data->utils, A_u_long(sizeof(Disc)) * kBatchCapacity, &b->handle);
    b->discs = static_cast<Disc*>(p);
    b->unbatched = p == nullptr;
  }
  if (b->unbatched) {
    StampDisc(d, b->colours[d.kind], *b->output);
    return;
  }
  if (b->count == kBatchCapacity && FlushDiscBatch(b) != PF_Err_NONE) return;
  const int32_t i = b->count++;
  b->discs[i] = d;
  Disc& head = b->discs[i - i % kDiscGroup];
  if (i % kDiscGroup == 0) {
    head.group_top = d.box.y0;
    head.group_bottom = d.box.y1;
  } else {
    head.group_top = std::min(head.group_top, d.box.y0);
    head.group_bottom = std::max(head.group_bottom, d.box.y1);
  }
  b->top = i == 0 ? d.box.y0 : std::min(b->top, d.box.y0);
  b->bottom = i == 0 ? d.box.y1 : std::max(b->bottom, d.box.y1);
}

// A bolt's core, then its glow, kept for stamping in bands.
inline void BatchBolt(const BoltPath& path, const WalkContext& c, DiscBatch* b) {
  PlaceCoreDiscs(path, c, [&](float cx, float cy, float r, float a) {
    Disc d;
    if (PrepareCoreDisc(cx, cy, r, a, *c.output, &d)) AddDisc(b, d);
  });
  PlaceGlowDiscs(path, c, [&](float cx, float cy, float r, float a) {
    Disc d;
    if (PrepareGlowDisc(cx, cy, r, a, *c.output, &d)) AddDisc(b, d);
  });
}

}  // namespace lightning
