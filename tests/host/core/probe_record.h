// What the probe plug-in records in its sequence data, read back by the
// protocol tests through the host.
#pragma once

#include <pf/api.h>

namespace probe {

constexpr A_u_long kMagic = 0x50524231;  // "PRB1"

// Parameter indices (0 is the input layer).
enum Param { kMode = 1, kChoice, kFlag, kAmount, kAngle, kTint, kCentre, kService, kParamCount };

// Values of the Mode slider.
enum Mode {
  kInvert = 0,        // RENDER inverts the colour through iterate
  kNop = 1,           // FRAME_SETUP asks for NOP_RENDER
  kMessage = 2,       // RENDER writes "render N at T" and succeeds
  kFail = 3,          // RENDER answers 512 with the message "damaged"
  kCallService = 4,   // RENDER calls the service chosen by Service and answers its result
  kSwapData = 5,      // RENDER replaces its sequence data with a new handle
  kKeepOnSetdown = 6  // SEQUENCE_SETDOWN leaves the handle to the host
};

// Values of the Service slider for kCallService, in FailureInjector names.
constexpr const char* kServices[] = {"",
                                     "iterate",
                                     "copy",
                                     "fill",
                                     "new_world",
                                     "dispose_world",
                                     "checkout_param",
                                     "checkin_param",
                                     "abort",
                                     "progress",
                                     "get_callback_addr",
                                     "get_platform_data",
                                     "new_handle",
                                     "lock_handle",
                                     "resize_handle",
                                     "acquire_suite",
                                     "allocate_block",
                                     "subpixel_sample",
                                     "area_sample",
                                     "RGBtoHLS",
                                     "HLStoRGB",
                                     "reallocate_block",
                                     "register_ui",
                                     "release_suite",
                                     "font_style_sheet",
                                     "current_tool",
                                     "refresh_windows"};
constexpr int kServiceCount = int(sizeof kServices / sizeof kServices[0]);

struct Record {
  A_u_long magic;
  A_long setups, resetups, frame_setups, renders, flattens;
  A_long protocol_faults;  // commands that arrived with dirty out_data or unequal sequence handles
  A_long current_time, time_step, local_time_step, total_time;
  A_u_long time_scale;
  A_long width, height;
  PF_Rect extent_hint;
  PF_RationalScale downsample_x, downsample_y, pixel_aspect;
  A_long quality, num_params;
  A_long mode, choice, flag, amount, angle;
  PF_Pixel tint;
  A_long centre_x, centre_y;
  A_long in_width, in_height, in_rowbytes, in_dephault;
  A_long out_width, out_height, out_rowbytes;
  A_long has_services;
  A_long checkout_amount;  // Amount checked out one frame ahead (Service "checkout_param")  // utils, inter,
                           // effect_ref, basic suite and global data all present
};

}  // namespace probe
