// Run-time libraries and the tablet driver interface.
//
// A plug-in that reads a pressure tablet does not link the driver: it loads
// the driver's library by name at run time (`LoadLibrary`, under the error
// mode `SetErrorMode` sets), looks its functions up by export ordinal or by
// name (`GetProcAddressByOrdinal`, `GetProcAddress`) and calls them through
// the pointer types below. A missing library or function means the machine
// has no tablet and the plug-in works with the mouse.
//
// The driver's records and values (`TabletLogContext`, `TabletAxis`, the
// info categories, packet fields, status bits and messages) are those of the
// published tablet interface, with its numbers. A context reports the packet
// fields its packet mask asks for, each as one 32-bit word, in the order of
// the mask's bits; the fields up to normal pressure (0x400) are available.
//
// Headless, the library exists only while the host has installed a scripted
// driver (`SetTabletDriver`, below): a plain record of what the driver
// answers (its default context, its pressure axis, the queue sizes it takes,
// calls that fail) and the packets the pen produces. A packet reaches the
// queues of the open contexts when the platform clock's tick count reaches
// its time stamp; a queue that overflows drops its oldest packets and flags
// the next one read with kTpsQueueErr. Proximity changes are sent to each
// context's owner window as kWtProximity when the driver is next called (or
// `PumpTabletDriver` runs, as a message loop would).
#pragma once

#include <ombrix/platform/types.h>
#include <ombrix/platform/window.h>

#include <string>
#include <vector>

namespace ombrix::platform {

// ---------------------------------------------------------------------------
// Run-time libraries
// ---------------------------------------------------------------------------
struct Library;  // opaque

// Error modes: no critical-error or missing-file boxes while loading.
inline constexpr uint32_t kSemFailCriticalErrors = 0x0001;
inline constexpr uint32_t kSemNoOpenFileErrorBox = 0x8000;

// Sets the process's error mode and returns the previous one.
OMBRIX_PLATFORM_API uint32_t SetErrorMode(uint32_t mode) noexcept;

// Null when there is no library of that name (ASCII case ignored). Each
// successful load is matched by one FreeLibrary.
OMBRIX_PLATFORM_API Library* LoadLibrary(const char* name) noexcept;
OMBRIX_PLATFORM_API bool FreeLibrary(Library* library) noexcept;
// Null when the library does not export the function.
OMBRIX_PLATFORM_API void* GetProcAddress(Library* library, const char* name) noexcept;
OMBRIX_PLATFORM_API void* GetProcAddressByOrdinal(Library* library, uint16_t ordinal) noexcept;

// ---------------------------------------------------------------------------
// The tablet interface
// ---------------------------------------------------------------------------
inline constexpr char kTabletLibraryName[] = "Wintab32.dll";

struct TabletContext;  // an open context (opaque)

// The context description.
struct TabletLogContext {
  char name[40];
  uint32_t options, status, locks, msg_base, device, packet_rate;
  uint32_t packet_data, packet_mode, move_mask;
  uint32_t button_down_mask, button_up_mask;
  int32_t in_org_x, in_org_y, in_org_z, in_ext_x, in_ext_y, in_ext_z;
  int32_t out_org_x, out_org_y, out_org_z, out_ext_x, out_ext_y, out_ext_z;
  uint32_t sens_x, sens_y, sens_z;  // 16.16
  int32_t sys_mode;
  int32_t sys_org_x, sys_org_y, sys_ext_x, sys_ext_y;
  uint32_t sys_sens_x, sys_sens_y;  // 16.16
};
static_assert(sizeof(TabletLogContext) == 172);

// A device axis.
struct TabletAxis {
  int32_t min, max;
  uint32_t units;
  uint32_t resolution;  // 16.16
};
static_assert(sizeof(TabletAxis) == 16);

// Info categories and indexes.
inline constexpr uint32_t kWtiDefContext = 4;
inline constexpr uint32_t kWtiDefSysCtx = 7;
inline constexpr uint32_t kWtiDevices = 100;
inline constexpr uint32_t kDvcNPressure = 15;

// Context options.
inline constexpr uint32_t kCxoSystem = 0x0001;
inline constexpr uint32_t kCxoPen = 0x0002;
inline constexpr uint32_t kCxoMessages = 0x0004;

// Packet fields (mask bits).
inline constexpr uint32_t kPkContext = 0x0001;
inline constexpr uint32_t kPkStatus = 0x0002;
inline constexpr uint32_t kPkTime = 0x0004;
inline constexpr uint32_t kPkChanged = 0x0008;
inline constexpr uint32_t kPkSerialNumber = 0x0010;
inline constexpr uint32_t kPkCursor = 0x0020;
inline constexpr uint32_t kPkButtons = 0x0040;
inline constexpr uint32_t kPkX = 0x0080;
inline constexpr uint32_t kPkY = 0x0100;
inline constexpr uint32_t kPkZ = 0x0200;
inline constexpr uint32_t kPkNormalPressure = 0x0400;

// Packet status bits.
inline constexpr uint32_t kTpsProximity = 0x0001;  // the cursor is out of proximity
inline constexpr uint32_t kTpsQueueErr = 0x0002;   // packets were lost before this one

// Cursor numbers as the driver counts them: puck, pen tip, eraser end, then
// the same three of a second device.
inline constexpr uint32_t kCursorPuck = 0;
inline constexpr uint32_t kCursorPenTip = 1;
inline constexpr uint32_t kCursorEraser = 2;

// Messages to a context's owner window (wparam the context's number, or the
// packet's serial for kWtPacket).
inline constexpr unsigned kWtPacket = 0x7FF0;
inline constexpr unsigned kWtCtxOpen = 0x7FF1;
inline constexpr unsigned kWtCtxClose = 0x7FF2;
inline constexpr unsigned kWtCtxUpdate = 0x7FF3;
inline constexpr unsigned kWtCtxOverlap = 0x7FF4;
inline constexpr unsigned kWtProximity = 0x7FF5;  // lparam low word: entering (1) or leaving (0)
inline constexpr unsigned kWtInfoChange = 0x7FF6;
inline constexpr unsigned kWtCsrChange = 0x7FF7;

// The driver's functions, as looked up in the library. Every one answers 0
// for failure.
// Copies the item into `output` (when not null) and answers its size.
using TabletInfoFn = uint32_t (*)(uint32_t category, uint32_t index, void* output) noexcept;
using TabletOpenFn = TabletContext* (*)(Window* owner, TabletLogContext* context, int enable) noexcept;
using TabletCloseFn = int (*)(TabletContext* context) noexcept;
// Copies the queued packet `serial` (when `packet` is not null) and removes
// it and every older one from the queue.
using TabletPacketFn = int (*)(TabletContext* context, uint32_t serial, void* packet) noexcept;
using TabletOverlapFn = int (*)(TabletContext* context, int to_top) noexcept;
using TabletQueueSizeSetFn = int (*)(TabletContext* context, int size) noexcept;
// The serials of the oldest and newest queued packets; 0 when the queue is empty.
using TabletQueuePacketsExFn = int (*)(TabletContext* context, uint32_t* oldest, uint32_t* newest) noexcept;

// The library's exports: name and ordinal.
inline constexpr char kWtInfoName[] = "WTInfoA";
inline constexpr uint16_t kWtInfoOrdinal = 20;
inline constexpr char kWtOpenName[] = "WTOpenA";
inline constexpr uint16_t kWtOpenOrdinal = 21;
inline constexpr char kWtCloseName[] = "WTClose";
inline constexpr uint16_t kWtCloseOrdinal = 22;
inline constexpr char kWtPacketName[] = "WTPacket";
inline constexpr uint16_t kWtPacketOrdinal = 24;
inline constexpr char kWtOverlapName[] = "WTOverlap";
inline constexpr uint16_t kWtOverlapOrdinal = 41;
inline constexpr char kWtQueueSizeSetName[] = "WTQueueSizeSet";
inline constexpr uint16_t kWtQueueSizeSetOrdinal = 85;
inline constexpr char kWtQueuePacketsExName[] = "WTQueuePacketsEx";
inline constexpr uint16_t kWtQueuePacketsExOrdinal = 200;

// ---------------------------------------------------------------------------
// The host's side (headless): the scripted driver
// ---------------------------------------------------------------------------
enum class TabletCall : uint8_t { kInfo, kOpen, kClose, kPacket, kOverlap, kQueueSizeSet, kQueuePacketsEx };
inline constexpr int kTabletCallCount = 7;

struct TabletFailure {
  TabletCall call = TabletCall::kInfo;
  int nth = 0;  // the n-th call (1-based, from installation) fails; 0: every call
};

// What the pen does at one moment.
struct TabletScriptPacket {
  uint32_t time = 0;      // milliseconds, on the platform clock's tick count
  int32_t x = 0, y = 0;   // tablet (input) coordinates, y growing upward
  uint32_t pressure = 0;  // raw, on the pressure axis
  uint32_t cursor = kCursorPenTip;
  bool proximity = true;
  uint32_t buttons = 0;
};

struct TabletDriver {
  std::vector<TabletCall> missing_exports;  // functions the library lacks
  std::vector<TabletFailure> failures;
  // The default context.
  std::string context_name = "Ombrix Tablet";
  uint32_t options = kCxoSystem | kCxoMessages;
  uint32_t packet_rate = 100;  // packets per second; may be reported as 0
  int32_t in_org_x = 0, in_org_y = 0, in_ext_x = 15200, in_ext_y = 9500;
  int32_t sys_org_x = 0, sys_org_y = 0, sys_ext_x = 1920, sys_ext_y = 1080;
  // The pressure axis; without one the device query answers 0 bytes.
  bool pressure_axis = true;
  int32_t pressure_min = 0, pressure_max = 1023;
  // Queue sizes above this are refused (0 or less: every size is).
  int largest_queue = 1024;
  std::vector<TabletScriptPacket> packets;
};

// Installs a driver: the library becomes loadable, no context is open and
// the call counts start again. A context still open from an earlier driver
// is closed.
OMBRIX_PLATFORM_API void SetTabletDriver(const TabletDriver& driver);
// More packets for the installed driver (kept in time order).
OMBRIX_PLATFORM_API void AddTabletPackets(const std::vector<TabletScriptPacket>& packets);
// No driver: the library cannot be loaded (the default, and after ResetHeadless).
OMBRIX_PLATFORM_API void RemoveTabletDriver();
// Delivers the messages due to the owner windows.
OMBRIX_PLATFORM_API void PumpTabletDriver();

struct TabletDriverRecord {
  int loads = 0, frees = 0;
  uint32_t error_mode_at_load = 0;  // at the last load
  int calls[kTabletCallCount] = {};
  std::vector<TabletLogContext> opened;  // the descriptions open calls were given
  std::vector<int> queue_sizes_tried;
  int queue_size = 0;  // the last size accepted
  int overlaps = 0;    // contexts brought to the top
  int open_contexts = 0;
  std::vector<uint32_t> serials_read;  // packets copied out, by serial
};
OMBRIX_PLATFORM_API TabletDriverRecord TabletDriverRecords();

}  // namespace ombrix::platform
