// Paint's tablet: the driver bound at run time, the context Paint opens, and
// the pen's position, pressure, cursor and proximity read from its packets.
//
// Without the driver's library, or when any step of opening fails, nothing
// is said: the global data shows no tablet and painting uses the mouse with
// pressure 1.
#pragma once

#include <ombrix/platform/tablet.h>
#include <ombrix/platform/window.h>

#include "globals.h"

#include <cstdint>

namespace paint {

// The packet Paint's context asks for: these six fields, 32 bits each.
struct TabletPacket {
  uint32_t status;
  uint32_t time;
  uint32_t cursor;
  int32_t x, y;
  uint32_t pressure;
};
static_assert(sizeof(TabletPacket) == 24);

inline constexpr uint32_t kTabletPacketData = 0x5A6;  // status, time, cursor, x, y, normal pressure
inline constexpr uint32_t kTabletPacketMode = 2;

// The packet rate assumed when the driver reports none: the queue is sized
// for it and stale packets are waited for at its pace.
inline constexpr uint32_t kDefaultPacketRate = 100;

struct TabletState {
  ombrix::platform::Window* owner;
  ombrix::platform::TabletContext* context;
  ombrix::platform::TabletLogContext description;
  ombrix::platform::TabletAxis pressure;
  TabletPacket last;        // the last packet read
  uint32_t last_used_time;  // time stamp of the last packet a position was taken from
  bool proximity;           // kept by the owner window from the driver's messages
};

// Cursor kinds.
inline constexpr int32_t kCursorKindNone = 0;
inline constexpr int32_t kCursorKindPenTip = 1;
inline constexpr int32_t kCursorKindPuck = 2;
inline constexpr int32_t kCursorKindEraser = 3;

// Looks for the driver (once, until UnloadTablet) and registers the owner
// window's class when one answers.
void DetectTablet();

// Opens the context (once per process) and fills the global data's tablet
// fields; leaves them as they are (no tablet) when it cannot.
void OpenTablet(PaintGlobals* globals);

// Closes the context, destroys the owner window, unregisters its class and
// unloads the driver's library.
void UnloadTablet();

// Reads the newest queued packet into the state's last packet. False when
// the queue is empty or the driver fails.
bool ReadLatestPacket(TabletState* tablet);

// Milliseconds to wait for a fresh packet at the context's packet rate.
uint32_t StalePacketPause(uint32_t packet_rate);

// The pen's position on the screen, with its sub-pixel part, from a fresh
// packet (waiting a little for one when the newest is stale or follows lost
// packets). False without a tablet.
bool PenScreenPosition(const PaintGlobals* globals, float* x, float* y);

// Moves a screen position into a window's client coordinates, in whole
// pixels (as the system converts points).
using ScreenToClientFn = void (*)(void* window, int32_t* x, int32_t* y);

// A screen position with its sub-pixel part in a window's client
// coordinates: the truncated point is converted, the fractions added back.
void ClientFromScreen(float screen_x, float screen_y, ScreenToClientFn to_client, void* window, float* x, float* y);

// The pen's pressure in 0..1; 1 without a tablet or a pressure axis.
float PenPressure(const PaintGlobals* globals);

// The kind of cursor the newest packet came from (kCursorKind...).
int32_t PenCursorKind(const PaintGlobals* globals);

// Whether the pen is in proximity; false without a tablet.
bool PenInProximity(const PaintGlobals* globals);

// The brush type a stroke is painted with: a paint type (1-4) becomes its
// eraser type (+8) when the eraser end is in use, and an eraser type goes
// back to its paint type with the tip.
int32_t BrushTypeForCursor(int32_t brush_type, int32_t cursor_kind);

}  // namespace paint
