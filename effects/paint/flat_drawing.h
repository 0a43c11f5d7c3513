// The drawing as the host keeps it: flattened into one host handle when the
// project is saved, rebuilt from it when the project is opened, and, while
// unflat, handed to the host inside an 8-byte wrapper.
//
// Flat layout: the 216-byte header (word 2 = 216), then the point blocks of
// strokes 0..n-1 in order, then the stroke array; header words 7 and 8 give
// the array's size and offset, stroke words 15 and 16 each point block's.
// Written in this machine's byte order unless asked otherwise; read in
// either.
#pragma once

#include <pf/api.h>

#include <cstdint>

#include "drawing.h"

namespace paint {

// Messages, shown by the host (return_msg with DISPLAY_ERROR_MESSAGE).
inline constexpr const char kMsgOpenNoMemory[] = "Not enough memory to open drawing. : (OB Paint)";
inline constexpr const char kMsgOldVersion[] = "Can not convert old drawing. : (OB Paint)";
inline constexpr const char kMsgOtherVersion[] = "Can not convert this paint version. : (OB Paint)";
inline constexpr const char kMsgSettingsReset[] =
    "Some settings could not be converted. They have been reset to default. : (OB Paint)";
inline constexpr const char kMsgPointsLost[] =
    "Something really, really bad has happened. It would be a good idea to quit now. : (OB Paint)";
inline constexpr const char kMsgDamaged[] = "The stored drawing is damaged and could not be opened. : (OB Paint)";
inline constexpr const char kMsgSaveNoMemory[] =
    "Not enough memory to save drawing. The drawing is kept; try saving again. OB Paint";
inline constexpr const char kMsgWrapNoMemory[] = "Out of memory. OB Paint";

// Stored drawings written on a machine of the other byte order may carry
// this in word 1.
inline constexpr uint32_t kOtherOrderMark = 0x11111111u;

enum class ByteOrder { kNative, kReversed };

// The drawing the effect works on: its own blocks while unflat, or the flat
// host handle it is stored as. At most one is set.
struct DrawingRef {
  MemoryBlock* unflat = nullptr;
  PF_Handle flat = nullptr;
};

// An outcome with what the user should be told (null: nothing).
struct DrawingStatus {
  PF_Err err = PF_Err_NONE;
  const char* message = nullptr;
};

// Makes `ref` flat. An unflat drawing becomes a new host handle and its
// blocks are freed; a flat one stays as it is. When memory runs out the
// drawing is kept unflat and untouched, with -108 and kMsgSaveNoMemory.
DrawingStatus Flatten(const PF_UtilCallbacks* utils, DrawingRef& ref, ByteOrder order = ByteOrder::kNative);

// Makes `ref` unflat. A flat drawing is rebuilt (converted from the other
// byte order or an older version where needed) and its handle disposed.
// When it cannot be, `ref` keeps the handle untouched and the status says
// why: its message is set, err is -108 for lack of memory and 512 for data
// that is not a drawing (refused versions included). A successful
// conversion from an older version answers 0 with kMsgSettingsReset.
DrawingStatus Unflatten(const PF_UtilCallbacks* utils, DrawingRef& ref);

// Frees the drawing: its blocks, or its host handle.
void DisposeDrawing(const PF_UtilCallbacks* utils, DrawingRef& ref);

// ---------------------------------------------------------------------------
// The host's wrapper: 8 bytes, word 0 = 0, word 1 = the drawing's block id.
// ---------------------------------------------------------------------------
// The drawing in the sequence data the host hands in: the unflat drawing of
// a wrapper whose id belongs to a live drawing of this plug-in, otherwise
// the handle as flat data (null stays null).
DrawingRef DrawingOfSequenceData(const PF_UtilCallbacks* utils, PF_Handle sequence_data);

// What the host should hold after a call that began with `incoming` and
// ends with `current`: a wrapper for an unflat drawing (the incoming one
// reused when it was a wrapper), the flat handle itself otherwise (an
// incoming wrapper is then disposed). A wrapper that cannot be made answers
// null with 512 and kMsgWrapNoMemory.
struct SequenceDataOut {
  PF_Handle sequence_data = nullptr;
  DrawingStatus status;
};
SequenceDataOut SequenceDataFor(const PF_UtilCallbacks* utils, PF_Handle incoming, const DrawingRef& current);

// ---------------------------------------------------------------------------
// Looking at stored bytes
// ---------------------------------------------------------------------------
// Reverses the bytes of each whole 32-bit word of `size` bytes.
void ReverseWordBytes(void* data, uint32_t size);

struct StoredFacts {
  bool readable = false;  // long enough for a header, with the flat marker set
  int32_t version = 0;
  ByteOrder order = ByteOrder::kNative;
  bool marked = false;  // word 1 held kOtherOrderMark
  int32_t stroke_count = 0;
};
// What a stored drawing's header says, read as unflatten reads it.
StoredFacts InspectStoredDrawing(const void* bytes, uint32_t size);

}  // namespace paint
