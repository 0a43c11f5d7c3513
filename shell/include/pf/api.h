// The effect API: the contract between the host runtime and every plug-in.
//
// Plain C-compatible records and function tables. A plug-in depends on this
// header only; the host (host/) implements every service declared here.
#pragma once

#include <cstdint>

extern "C" {

// ---------------------------------------------------------------------------
// Scalars
// ---------------------------------------------------------------------------
typedef int32_t A_long;
typedef uint32_t A_u_long;
typedef int16_t A_short;
typedef uint16_t A_u_short;
typedef uint8_t A_u_char;
typedef char A_char;
typedef int8_t PF_Boolean;
typedef double PF_FpLong;
typedef float PF_FpShort;

typedef A_long PF_Err;
typedef A_long PF_Fixed;  // signed 16.16
typedef A_long PF_ParamIndex;
typedef A_long PF_ParamValue;
typedef A_long PF_ParamType;
typedef A_long PF_ParamFlags;
typedef A_long PF_ParamUIFlags;

#define PF_Fixed_ONE 0x10000

// Errors. The shell's own code (517) doubles as the host's "user cancelled".
enum {
  PF_Err_NONE = 0,
  PF_Err_OUT_OF_MEMORY = 4,
  PF_Err_INTERNAL_STRUCT_DAMAGED = 512,
  PF_Err_INVALID_INDEX = 513,
  PF_Err_UNRECOGNIZED_PARAM_TYPE = 514,
  PF_Err_INVALID_CALLBACK = 515,
  PF_Err_BAD_CALLBACK_PARAM = 516,
  PF_Interrupt_CANCEL = 517,
  PF_Err_CANNOT_PARSE_KEYFRAME_TEXT = 518,
  PF_Err_MAC_OUT_OF_MEMORY = -108
};

// Commands.
enum {
  PF_Cmd_ABOUT = 0,
  PF_Cmd_GLOBAL_SETUP = 1,
  PF_Cmd_UNUSED_0 = 2,
  PF_Cmd_GLOBAL_SETDOWN = 3,
  PF_Cmd_PARAMS_SETUP = 4,
  PF_Cmd_SEQUENCE_SETUP = 5,
  PF_Cmd_SEQUENCE_RESETUP = 6,
  PF_Cmd_SEQUENCE_FLATTEN = 7,
  PF_Cmd_SEQUENCE_SETDOWN = 8,
  PF_Cmd_DO_DIALOG = 9,
  PF_Cmd_FRAME_SETUP = 10,
  PF_Cmd_RENDER = 11,
  PF_Cmd_FRAME_SETDOWN = 12,
  PF_Cmd_USER_CHANGED_PARAM = 13,
  PF_Cmd_UPDATE_PARAMS_UI = 14,
  PF_Cmd_EVENT = 15,
  PF_Cmd_NUM_CMDS = 16
};
typedef A_long PF_Cmd;

// Out flags (global setup and per command).
enum {
  PF_OutFlag_NONE = 0,
  PF_OutFlag_KEEP_RESOURCE_OPEN = 0x1,
  PF_OutFlag_WIDE_TIME_INPUT = 0x2,
  PF_OutFlag_NON_PARAM_VARY = 0x4,
  PF_OutFlag_SEQUENCE_DATA_NEEDS_FLATTENING = 0x10,
  PF_OutFlag_I_DO_DIALOG = 0x20,
  PF_OutFlag_DISPLAY_ERROR_MESSAGE = 0x100,
  PF_OutFlag_CUSTOM_UI = 0x8000,
  PF_OutFlag_REFRESH_UI = 0x20000,
  PF_OutFlag_NOP_RENDER = 0x40000,
  PF_OutFlag_FORCE_RERENDER = 0x400000
};

// Render quality.
enum { PF_Quality_DRAWING_AUDIO = -1, PF_Quality_LO = 0, PF_Quality_HI = 1 };
typedef A_long PF_Quality;

// ---------------------------------------------------------------------------
// Pixels and images
// ---------------------------------------------------------------------------
typedef struct {
  A_u_char alpha, red, green, blue;  // memory order: byte 0 is alpha
} PF_Pixel;
typedef PF_Pixel PF_Pixel8;
typedef PF_Pixel* PF_PixelPtr;

typedef struct {
  A_long left, top, right, bottom;
} PF_Rect;
typedef PF_Rect PF_LRect;

typedef struct {
  A_long num;
  A_u_long den;
} PF_RationalScale;

typedef struct {
  PF_Fixed h, v;
} PF_FixedPoint;

typedef struct {
  A_long h, v;
} PF_Point;

typedef A_long PF_WorldFlags;
enum { PF_WorldFlag_NONE = 0 };

// An image. The pixel at (x, y) lies at data + y * rowbytes + 4 * x.
typedef struct PF_LayerDef {
  void* reserved0;
  void* reserved1;
  PF_WorldFlags world_flags;
  PF_PixelPtr data;  // NULL when a checked-out layer is empty
  A_long rowbytes;
  A_long width;
  A_long height;
  PF_Rect extent_hint;
  void* platform_ref;
  A_long reserved_long1;
  void* reserved_long4;
  PF_RationalScale pix_aspect_ratio;
  void* reserved_long2;
  A_long origin_x;
  A_long origin_y;
  A_long reserved_long3;
  A_long dephault;  // for layer parameters: -1 = the effect's own layer
} PF_LayerDef;
typedef PF_LayerDef PF_EffectWorld;
typedef PF_LayerDef* PF_WorldPtr;

#define PF_LayerDefault_MYSELF (-1)
#define PF_LayerDefault_NONE 0

// ---------------------------------------------------------------------------
// Parameters
// ---------------------------------------------------------------------------
enum {
  PF_Param_LAYER = 0,
  PF_Param_SLIDER = 1,
  PF_Param_FIX_SLIDER = 2,
  PF_Param_ANGLE = 3,
  PF_Param_CHECKBOX = 4,
  PF_Param_COLOR = 5,
  PF_Param_POINT = 6,
  PF_Param_POPUP = 7,
  PF_Param_CUSTOM = 8,
  PF_Param_NO_DATA = 9
};

enum {
  PF_ParamFlag_RESERVED1 = 0x1,
  PF_ParamFlag_CANNOT_TIME_VARY = 0x2,
  PF_ParamFlag_CANNOT_INTERP = 0x4,
  PF_ParamFlag_COLLAPSE_TWIRLY = 0x20
};

enum { PF_PUI_NONE = 0, PF_PUI_TOPIC = 0x1, PF_PUI_CONTROL = 0x2 };

enum { PF_ValueDisplayFlag_NONE = 0, PF_ValueDisplayFlag_PERCENT = 1 };

#define PF_MAX_EFFECT_PARAM_NAME_LEN 31
#define PF_MAX_EFFECT_MSG_LEN 255
#define PF_MAX_EFFECT_NAME_LEN 31

typedef struct {
  PF_ParamValue value;
  A_char value_str[32];
  A_char value_desc[32];
  PF_ParamValue valid_min, valid_max;
  PF_ParamValue slider_min, slider_max;
  PF_ParamValue dephault;
} PF_SliderDef;

typedef struct {
  PF_Fixed value;
  A_char value_str[32];
  A_char value_desc[32];
  PF_Fixed valid_min, valid_max;
  PF_Fixed slider_min, slider_max;
  PF_Fixed dephault;
  A_short precision;
  A_short display_flags;
} PF_FixedSliderDef;

typedef struct {
  PF_Fixed value;
  PF_Fixed dephault;
  PF_Fixed valid_min, valid_max;
} PF_AngleDef;

typedef struct {
  PF_ParamValue value;
  PF_Boolean dephault;
  A_char reserved;
  A_short reserved1;
  union {
    const A_char* nameptr;  // label shown beside the box
  } u;
} PF_CheckBoxDef;

typedef struct {
  PF_Pixel value;
  PF_Pixel dephault;
} PF_ColorDef;

typedef struct {
  PF_Fixed x_value;
  PF_Fixed y_value;
  A_char reserved[3];
  PF_Boolean restrict_bounds;
  PF_Fixed x_dephault;  // percent of the layer's width (10.0 = 10 %)
  PF_Fixed y_dephault;
} PF_PointDef;

typedef struct {
  PF_ParamValue value;  // 1-based item number, separators counted
  A_short num_choices;
  A_short dephault;
  union {
    const A_char* namesptr;  // items separated by '|'; "(-" is a separator
  } u;
} PF_PopupDef;

typedef union {
  PF_LayerDef ld;
  PF_SliderDef sd;
  PF_FixedSliderDef fd;
  PF_AngleDef ad;
  PF_CheckBoxDef bd;
  PF_ColorDef cd;
  PF_PointDef td;
  PF_PopupDef pd;
} PF_ParamDefUnion;

typedef struct PF_ParamDef {
  A_long uu_id;
  PF_ParamUIFlags ui_flags;
  A_short ui_width;
  A_short ui_height;
  PF_ParamType param_type;
  A_char name[PF_MAX_EFFECT_PARAM_NAME_LEN + 1];
  PF_ParamFlags flags;
  A_long unused;
  PF_ParamDefUnion u;
} PF_ParamDef;
typedef PF_ParamDef* PF_ParamList[];

// ---------------------------------------------------------------------------
// Opaque host references
// ---------------------------------------------------------------------------
typedef struct PF_ProgressInfo* PF_ProgPtr;  // the effect reference
typedef void** PF_Handle;
typedef struct SPBasicSuite SPBasicSuite;

// ---------------------------------------------------------------------------
// Sampling
// ---------------------------------------------------------------------------
typedef struct {
  PF_Fixed x_radius;  // 16.16
  PF_Fixed y_radius;
  PF_Fixed area;  // not used by the host
  PF_EffectWorld* src;
  A_long samp_behave;
  A_long allow_asynch;
  A_long motion_blur;
  A_long comp_mode;
  PF_PixelPtr mask0;
  A_u_char* fcm_table;
  A_u_char* fcd_table;
  A_long reserved[8];
} PF_SampPB;

// ---------------------------------------------------------------------------
// Service tables
// ---------------------------------------------------------------------------
typedef PF_Err (*PF_IteratePixel8Func)(void* refcon, A_long x, A_long y, PF_Pixel* in, PF_Pixel* out);

typedef struct {
  PF_FpLong (*atan)(PF_FpLong);
  PF_FpLong (*atan2)(PF_FpLong y, PF_FpLong x);
  PF_FpLong (*ceil)(PF_FpLong);
  PF_FpLong (*cos)(PF_FpLong);
  PF_FpLong (*exp)(PF_FpLong);
  PF_FpLong (*fabs)(PF_FpLong);
  PF_FpLong (*floor)(PF_FpLong);
  PF_FpLong (*fmod)(PF_FpLong, PF_FpLong);
  PF_FpLong (*hypot)(PF_FpLong, PF_FpLong);
  PF_FpLong (*log)(PF_FpLong);
  PF_FpLong (*log10)(PF_FpLong);
  PF_FpLong (*pow)(PF_FpLong, PF_FpLong);
  PF_FpLong (*sin)(PF_FpLong);
  PF_FpLong (*sqrt)(PF_FpLong);
  PF_FpLong (*tan)(PF_FpLong);
  int (*sprintf)(A_char* dst, const A_char* format, ...);
  A_char* (*strcpy)(A_char* dst, const A_char* src);
  PF_FpLong (*asin)(PF_FpLong);
  PF_FpLong (*acos)(PF_FpLong);
} PF_ANSICallbacks;

// Hue in degrees 0..360, lightness and saturation 0..1, all 16.16.
typedef PF_Fixed PF_HLS_Pixel[3];

typedef struct {
  PF_Err (*RGBtoHLS)(PF_ProgPtr effect_ref, PF_Pixel* rgb, PF_HLS_Pixel hls);
  PF_Err (*HLStoRGB)(PF_ProgPtr effect_ref, PF_HLS_Pixel hls, PF_Pixel* rgb);
} PF_ColorCallbacks;

enum { PF_PlatData_MAIN_WND = 0, PF_PlatData_EXE_FILE_PATH = 1 };

// Routine numbers for get_callback_addr.
enum { PF_Callback_SMOOTH = -2 };

// The host smoothing routine returned for routine number -2: softens `world`
// in place over about `radius` pixels. `mode` holds a character code:
// 'a' (97) alpha, 'o' (111) colour and alpha, '~' (126) red, green, blue.
typedef PF_Err (*PF_SmoothFunc)(struct PF_InData* in_data, struct PF_OutData* out_data, PF_FpLong radius, A_long* block,
                                A_long mode, PF_EffectWorld* world);

typedef struct _PF_UtilCallbacks {
  PF_Err (*subpixel_sample)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params,
                            PF_Pixel* dst_pixel);
  PF_Err (*area_sample)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params, PF_Pixel* dst_pixel);
  PF_Err (*copy)(PF_ProgPtr effect_ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_Rect* src_r, PF_Rect* dst_r);
  PF_Err (*fill)(PF_ProgPtr effect_ref, const PF_Pixel* color, const PF_Rect* dst_rect, PF_EffectWorld* world);
  PF_Err (*iterate)(struct PF_InData* in_data, A_long progress_base, A_long progress_final, PF_EffectWorld* src,
                    const PF_Rect* area, void* refcon, PF_IteratePixel8Func pix_fn, PF_EffectWorld* dst);
  PF_Err (*new_world)(PF_ProgPtr effect_ref, A_long width, A_long height, PF_WorldFlags flags, PF_EffectWorld* world);
  PF_Err (*dispose_world)(PF_ProgPtr effect_ref, PF_EffectWorld* world);
  PF_Handle (*host_new_handle)(A_u_long size);
  void* (*host_lock_handle)(PF_Handle h);
  void (*host_unlock_handle)(PF_Handle h);
  void (*host_dispose_handle)(PF_Handle h);
  A_u_long (*host_get_handle_size)(PF_Handle h);
  PF_Err (*host_resize_handle)(A_u_long new_size, PF_Handle* h);
  PF_Err (*get_callback_addr)(PF_ProgPtr effect_ref, PF_Quality quality, A_long mode_flags, A_long which_callback,
                              void** fn_ptr);
  PF_Err (*get_platform_data)(PF_ProgPtr effect_ref, A_long which, void* data);
  PF_ANSICallbacks ansi;
  PF_ColorCallbacks colorCB;
} PF_UtilCallbacks;

typedef struct {
  PF_Err (*checkout_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long what_time, A_long time_step,
                           A_u_long time_scale, PF_ParamDef* param);
  PF_Err (*checkin_param)(PF_ProgPtr effect_ref, PF_ParamDef* param);
  PF_Err (*add_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDef* def);
  PF_Err (*abort)(PF_ProgPtr effect_ref);
  PF_Err (*progress)(PF_ProgPtr effect_ref, A_long current, A_long total);
  PF_Err (*register_ui)(PF_ProgPtr effect_ref, struct PF_CustomUIInfo* cust_info);
} PF_InteractCallbacks;

// ---------------------------------------------------------------------------
// Per-call records
// ---------------------------------------------------------------------------
typedef struct PF_InData {
  PF_InteractCallbacks inter;
  struct _PF_UtilCallbacks* utils;
  PF_ProgPtr effect_ref;
  PF_Quality quality;
  A_long version_major, version_minor;  // host interface version
  A_long num_params;
  A_long current_time;
  A_long time_step;
  A_long total_time;
  A_long local_time_step;
  A_u_long time_scale;
  A_long width, height;  // the layer's full size
  PF_Rect extent_hint;
  A_long output_origin_x, output_origin_y;
  PF_RationalScale downsample_x, downsample_y;
  PF_RationalScale pixel_aspect_ratio;
  A_long in_flags;
  PF_Handle global_data;
  PF_Handle sequence_data;
  PF_Handle frame_data;
  SPBasicSuite* pica_basicP;
} PF_InData;

typedef struct PF_OutData {
  A_u_long my_version;
  A_char name[32];
  PF_Handle global_data;
  A_long num_params;
  PF_Handle sequence_data;
  A_long flat_sdata_size;
  PF_Handle frame_data;
  A_long width, height;
  PF_Point origin;
  A_long out_flags;
  A_char return_msg[PF_MAX_EFFECT_MSG_LEN + 1];
  A_long out_flags2;
} PF_OutData;

// ---------------------------------------------------------------------------
// Custom UI events (the painting effect)
// ---------------------------------------------------------------------------
enum { PF_Window_COMP = 0, PF_Window_LAYER = 1, PF_Window_EFFECT = 2 };
typedef A_long PF_WindowType;

enum {
  PF_Event_NEW_CONTEXT = 0,
  PF_Event_ACTIVATE = 1,
  PF_Event_DO_CLICK = 2,
  PF_Event_DRAG = 3,
  PF_Event_DRAW = 4,
  PF_Event_DEACTIVATE = 5,
  PF_Event_CLOSE_CONTEXT = 6,
  PF_Event_IDLE = 7,
  PF_Event_ADJUST_CURSOR = 8,
  PF_Event_KEYDOWN = 9,
  PF_Event_MOUSE_EXITED = 10
};
typedef A_long PF_EventType;

enum { PF_EI_NONE = 0, PF_EI_DONT_DRAW = 1 };
enum { PF_EO_NONE = 0, PF_EO_HANDLED_EVENT = 1, PF_EO_ALWAYS_UPDATE = 2, PF_EO_NEVER_UPDATE = 4, PF_EO_UPDATE_NOW = 8 };

enum {
  PF_Mod_NONE = 0,
  PF_Mod_CMD_CTRL_KEY = 0x100,
  PF_Mod_SHIFT_KEY = 0x200,
  PF_Mod_CAPS_LOCK_KEY = 0x400,
  PF_Mod_OPT_ALT_KEY = 0x800,
  PF_Mod_MAC_CONTROL_KEY = 0x1000
};

enum { PF_CustomEFlag_NONE = 0, PF_CustomEFlag_COMP = 1, PF_CustomEFlag_LAYER = 2, PF_CustomEFlag_EFFECT = 4 };

typedef struct PF_CustomUIInfo {
  A_long reserved;
  A_long events;  // PF_CustomEFlag_* bits
  A_long comp_ui_width, comp_ui_height;
  A_long layer_ui_width, layer_ui_height;
  A_long preview_ui_width, preview_ui_height;
} PF_CustomUIInfo;

typedef struct PF_Context {
  A_u_long magic;
  PF_WindowType w_type;
  A_long reserved_flt;
  A_long plugin_state[4];
  void* reserved_drawref;  // the window drawn on (platform layer)
  void* reserved_paneH;
} PF_Context;
typedef PF_Context* PF_ContextH;

typedef struct {
  A_u_long when;
  PF_Point screen_point;  // window pixels
  A_long num_clicks;
  A_long modifiers;  // PF_Mod_* bits
  A_long continue_refcon[4];
  // In: set when the click continues a drag the effect asked for (the
  // pointer moved or was released); out: the effect asks for the drag's
  // further events.
  PF_Boolean send_drag;
  PF_Boolean last_time;  // set on the final event of a drag (the release)
  A_short reserved;
} PF_DoClickEventInfo;

typedef struct {
  PF_Rect update_rect;
  A_long depth;
} PF_DrawEventInfo;

typedef struct {
  A_u_long when;
  PF_Point screen_point;
  A_long modifiers;
} PF_IdleEventInfo;

typedef union {
  PF_DoClickEventInfo do_click;
  PF_DrawEventInfo draw;
  PF_IdleEventInfo idle;
} PF_EventUnion;

typedef struct {
  PF_ParamIndex index;  // the parameter whose control is addressed
  PF_Rect area;
  PF_Rect current_frame;
  PF_Rect param_title_frame;
  A_long horiz_offset;
} PF_EffectWindowInfo;

// Coordinate conversions between the window and the layer, 16.16 points.
typedef struct {
  void* refcon;
  PF_Err (*layer_to_comp)(void* refcon, PF_ContextH context, A_long curr_time, A_long time_scale, PF_FixedPoint* pt);
  PF_Err (*comp_to_layer)(void* refcon, PF_ContextH context, A_long curr_time, A_long time_scale, PF_FixedPoint* pt);
  PF_Err (*source_to_frame)(void* refcon, PF_ContextH context, PF_FixedPoint* pt);
  PF_Err (*frame_to_source)(void* refcon, PF_ContextH context, PF_FixedPoint* pt);
  PF_Err (*info_draw_color)(void* refcon, PF_Pixel color);
  PF_Err (*info_draw_text)(void* refcon, const A_char* text1, const A_char* text2);
} PF_EventCallbacks;

typedef struct {
  PF_ContextH contextH;
  PF_EventType e_type;
  PF_EventUnion u;
  PF_EffectWindowInfo effect_win;
  PF_EventCallbacks cbs;
  A_long evt_in_flags;
  A_long evt_out_flags;
} PF_EventExtra;

// ---------------------------------------------------------------------------
// The basic suite through which host suites are acquired by name.
// ---------------------------------------------------------------------------
typedef A_long SPErr;
struct SPBasicSuite {
  SPErr (*AcquireSuite)(const char* name, A_long version, const void** suite);
  SPErr (*ReleaseSuite)(const char* name, A_long version);
  PF_Boolean (*IsEqual)(const char* token1, const char* token2);
  SPErr (*AllocateBlock)(A_u_long size, void** block);
  SPErr (*FreeBlock)(void* block);
  SPErr (*ReallocateBlock)(void* block, A_u_long new_size, void** new_block);
  SPErr (*Undefined)(void);
};

// ---------------------------------------------------------------------------
// The entry point every plug-in exports under the symbol name "main".
// ---------------------------------------------------------------------------
typedef PF_Err (*PF_EntryFunc)(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                               PF_LayerDef* output, void* extra);

}  // extern "C"

// Version packing: version << 19 | subversion << 15 | patch << 11 | stage << 9 | build.
constexpr A_u_long PF_VERSION(A_u_long vers, A_u_long subvers, A_u_long patch, A_u_long stage, A_u_long build) {
  return (vers << 19) | (subvers << 15) | (patch << 11) | (stage << 9) | build;
}
enum { PF_Stage_DEVELOP = 0, PF_Stage_ALPHA = 1, PF_Stage_BETA = 2, PF_Stage_RELEASE = 3 };
