// Floodspill: fills the connected region around a point with a colour, as a
// paint bucket or underneath the layer's transparent parts ("Underfill"),
// softens the region's edge with discs ("Bleed"), or shows which pixels pass
// the tolerance test ("View Threshold").
//
// The fill keeps no stack or queue. One mask byte per pixel records its
// state, and pixels marked "pending" are the seeds still to be filled: a
// downward and an upward pass from the seed column, then a sweep over the
// rows that steps back one row whenever a span marks new seeds above it.
// Memory is width x height bytes whatever the region's shape.
#include <pf/blend.h>
#include <pf/shell.h>

#include <cstdint>
#include <cstring>

OMBRIX_PLUGIN("OB Floodspill", "obx Floodspill", 11, 0, 0);

namespace {

enum {
  kParamInput = 0,
  kParamColour,
  kParamPoint,
  kParamTolerance,
  kParamMode,
  kParamBleed,
  kParamFillOnly,
  kParamViewThreshold,
};

enum { kModePaintBucket = 1, kModeUnderfill = 2 };

constexpr pf::ParamSpec kParams[] = {
    pf::ColorParam("Color", PF_Pixel{255, 255, 0, 0}),
    pf::PointParam("Fill Point", 50 << 16, 50 << 16, true),
    pf::FixSliderParam("Tolerance", 50 << 16, 0, 255 << 16, 0, 255 << 16, 0, 0),
    pf::PopupParam("Fill Using...", "Paint Bucket|Underfill", 1),
    pf::FixSliderParam("Bleed", 4 << 16, 0, 20 << 16, 1 << 16, 10 << 16, 0, 0),
    pf::CheckboxParam(" ", "Fill Only", false),
    pf::CheckboxParam(" ", "View Threshold", false),
};
static_assert(pf::ParamNamesFit(kParams));

// Mask states.
enum : uint8_t {
  kOutside = 0,     // examined, not inside
  kPending = 1,     // examined, inside, not yet filled: a seed
  kFilled = 2,
  kUnseen = 0xFF,   // not yet examined
};

// Everything one fill needs.
struct Fill {
  const PF_EffectWorld* input;
  PF_EffectWorld* output;
  uint8_t* mask;      // width x height, row-major
  A_long width, height;
  PF_Pixel colour;    // alpha 255
  bool underfill;
  // Paint Bucket: the seed colour premultiplied by its alpha; Underfill: unused.
  int seed_r, seed_g, seed_b;
  int threshold;      // T
};

inline const PF_Pixel& PixelAt(const PF_EffectWorld& w, A_long x, A_long y) {
  return *reinterpret_cast<const PF_Pixel*>(reinterpret_cast<const uint8_t*>(w.data) +
                                            intptr_t(y) * w.rowbytes + 4 * intptr_t(x));
}
inline PF_Pixel& PixelAt(PF_EffectWorld& w, A_long x, A_long y) {
  return *reinterpret_cast<PF_Pixel*>(reinterpret_cast<uint8_t*>(w.data) + intptr_t(y) * w.rowbytes +
                                      4 * intptr_t(x));
}

inline int Abs(int v) { return v < 0 ? -v : v; }

// Paint Bucket compares colours premultiplied by their alpha, so any two fully
// transparent pixels are equal; Underfill takes the pixels whose alpha is
// below the threshold.
inline bool Inside(const Fill& f, const PF_Pixel& p) {
  if (f.underfill) return p.alpha < f.threshold;
  const int a = p.alpha;
  const int d = (Abs(p.red * a - f.seed_r) + Abs(p.green * a - f.seed_g) + Abs(p.blue * a - f.seed_b)) >> 8;
  return d < f.threshold;
}

inline void WriteFill(const Fill& f, PF_Pixel& out) {
  out = f.underfill ? pf::BlendOver(out, f.colour) : pf::BlendOver(f.colour, out);
}

// Marks the unseen pixel (x, y) of a neighbouring row: pending when inside,
// outside otherwise. True when it became pending.
inline bool MarkNeighbour(Fill& f, A_long x, A_long y) {
  uint8_t& m = f.mask[intptr_t(y) * f.width + x];
  if (m != kUnseen) return false;
  if (Inside(f, PixelAt(*f.input, x, y))) {
    m = kPending;
    return true;
  }
  m = kOutside;
  return false;
}

enum : unsigned { kMarkedBelow = 1, kMarkedAbove = 2 };

// Fills pixel x of row y if it is pending or inside; false ends the scan.
inline bool FillOne(Fill& f, A_long x, A_long y, unsigned& bits) {
  uint8_t& m = f.mask[intptr_t(y) * f.width + x];
  // A filled pixel was inside when it was filled; an outside one was tested.
  if (m == kOutside) return false;
  if (m == kUnseen && !Inside(f, PixelAt(*f.input, x, y))) return false;
  WriteFill(f, PixelAt(*f.output, x, y));
  m = kFilled;
  if (y > 0 && MarkNeighbour(f, x, y - 1)) bits |= kMarkedAbove;
  if (y + 1 < f.height && MarkNeighbour(f, x, y + 1)) bits |= kMarkedBelow;
  return true;
}

// Fills the run of inside pixels through (x, y) in row y: rightward from x,
// then leftward from x - 1 (also when (x, y) itself is not inside), marking
// the inside pixels above and below the run as pending. Returns kMarkedAbove
// and kMarkedBelow for the rows where it marked at least one pixel.
unsigned FillSpan(Fill& f, A_long x, A_long y) {
  if (x < 0 || y < 0 || x >= f.width || y >= f.height) return 0;
  unsigned bits = 0;
  for (A_long i = x; i < f.width && FillOne(f, i, y, bits); ++i) {
  }
  for (A_long i = x - 1; i >= 0 && FillOne(f, i, y, bits); --i) {
  }
  return bits;
}

void RunFill(Fill& f, PF_Fixed point_x, PF_Fixed point_y) {
  const A_long sx = point_x / 65536;  // truncation toward zero
  const A_long sy = point_y / 65536;
  for (A_long y = sy; y < f.height; ++y) {
    if ((FillSpan(f, sx, y) & kMarkedBelow) == 0) break;
  }
  for (A_long y = A_long((int64_t(point_y) - 65536) / 65536); y >= 0; --y) {
    if ((FillSpan(f, sx, y) & kMarkedAbove) == 0) break;
  }
  // The sweep: every pending pixel left behind by the passes, row by row;
  // a span that marks seeds in the row above sends the sweep back there.
  A_long j = 0;
  while (j < f.height) {
    uint8_t* row = f.mask + intptr_t(j) * f.width;
    bool back = false;
    for (A_long k = 0; k < f.width; ++k) {
      const void* next = std::memchr(row + k, kPending, size_t(f.width - k));
      if (next == nullptr) break;
      k = A_long(static_cast<const uint8_t*>(next) - row);
      if (FillSpan(f, k, j) & kMarkedAbove) {
        back = true;
        break;
      }
    }
    j = back ? j - 1 : j + 1;
  }
}

// Widens and softens the region's edge: a disc with a paraboloid falloff on
// every filled pixel that has a neighbour outside the region. The border
// rows and columns are not used as centres.
void Bleed(Fill& f, double bleed, double scale) {
  const double r = bleed * scale + 1.0;
  const float rf = float(r);
  const float r2 = rf * rf;
  const float alpha_scale = 255.0f / r2;
  const A_long w = f.width, h = f.height;
  for (A_long m = 1; m + 1 < h; ++m) {
    const uint8_t* row = f.mask + intptr_t(m) * w;
    for (A_long p = 1; p + 1 < w; ++p) {
      if (row[p] != kFilled) continue;
      if (row[p - 1] == kFilled && row[p + 1] == kFilled && row[p - w] == kFilled && row[p + w] == kFilled)
        continue;
      A_long x0 = A_long(double(p) - r), x1 = A_long(double(p) + r);
      A_long y0 = A_long(double(m) - r), y1 = A_long(double(m) + r);
      if (x0 < 0) x0 = 0;
      if (y0 < 0) y0 = 0;
      if (x1 > w - 1) x1 = w - 1;
      if (y1 > h - 1) y1 = h - 1;
      for (A_long y = y0; y <= y1; ++y) {
        for (A_long x = x0; x <= x1; ++x) {
          const A_long d2 = (p - x) * (p - x) + (m - y) * (m - y);
          if (!(float(d2) < r2)) continue;
          PF_Pixel& out = PixelAt(*f.output, x, y);
          PF_Pixel c = f.colour;
          c.alpha = A_u_char(int((r2 - float(d2)) * alpha_scale));
          if (f.underfill) {
            if (out.alpha != 255) out = pf::BlendOver(out, c);
          } else {
            out = pf::BlendOver(c, out);
          }
        }
      }
    }
  }
}

// Opaque black where the test says inside, opaque white elsewhere.
void ViewThreshold(const Fill& f) {
  for (A_long y = 0; y < f.height; ++y) {
    for (A_long x = 0; x < f.width; ++x) {
      const A_u_char v = Inside(f, PixelAt(*f.input, x, y)) ? 0 : 255;
      PixelAt(*f.output, x, y) = PF_Pixel{255, v, v, v};
    }
  }
}

PF_Err Render(PF_InData* in_data, PF_OutData*, PF_ParamDef* params[], PF_LayerDef* output, void*) {
  PF_UtilCallbacks* const utils = in_data->utils;
  PF_EffectWorld* input = &params[kParamInput]->u.ld;
  const PF_Fixed point_x = params[kParamPoint]->u.td.x_value;
  const PF_Fixed point_y = params[kParamPoint]->u.td.y_value;
  const PF_Fixed tolerance = params[kParamTolerance]->u.fd.value;

  Fill f{};
  f.input = input;
  f.output = output;
  f.width = output->width;
  f.height = output->height;
  f.colour = params[kParamColour]->u.cd.value;
  f.colour.alpha = 255;
  f.underfill = params[kParamMode]->u.pd.value == kModeUnderfill;
  const bool view_threshold = params[kParamViewThreshold]->u.bd.value != 0;

  if (f.underfill) {
    f.threshold = tolerance >> 16;
    if (view_threshold) {
      ViewThreshold(f);
      return PF_Err_NONE;
    }
  } else {
    f.threshold = int((int64_t(3) * tolerance) >> 16);
    PF_SampPB samp{};
    samp.src = input;
    PF_Pixel seed{};
    const PF_Err err = utils->subpixel_sample(in_data->effect_ref, point_x, point_y, &samp, &seed);
    if (err != PF_Err_NONE) return err;
    f.seed_r = seed.red * seed.alpha;
    f.seed_g = seed.green * seed.alpha;
    f.seed_b = seed.blue * seed.alpha;
    if (view_threshold) {
      ViewThreshold(f);
      return PF_Err_NONE;
    }
  }

  const PF_Err err = params[kParamFillOnly]->u.bd.value != 0
                         ? utils->fill(in_data->effect_ref, nullptr, nullptr, output)
                         : utils->copy(in_data->effect_ref, input, output, nullptr, nullptr);
  if (err != PF_Err_NONE) return err;
  if (f.threshold < 1 || f.width <= 0 || f.height <= 0) return PF_Err_NONE;

  if (f.underfill) {
    // Nothing to fill when the point lies on an opaque enough pixel.
    A_long x = point_x / 65536, y = point_y / 65536;
    x = x > f.width - 1 ? f.width - 1 : x;
    y = y > f.height - 1 ? f.height - 1 : y;
    x = x < 0 ? 0 : x;
    y = y < 0 ? 0 : y;
    if (PixelAt(*input, x, y).alpha >= f.threshold) return PF_Err_NONE;
  }

  // The mask comes from the host's handle service; without it nothing can be
  // filled, which is reported rather than passed off as success.
  const uint64_t mask_size = uint64_t(f.width) * uint64_t(f.height);
  if (mask_size > UINT32_MAX) return PF_Err_OUT_OF_MEMORY;
  PF_Handle handle = utils->host_new_handle(A_u_long(mask_size));
  if (handle == nullptr) return PF_Err_OUT_OF_MEMORY;
  f.mask = static_cast<uint8_t*>(utils->host_lock_handle(handle));
  if (f.mask == nullptr) {
    utils->host_dispose_handle(handle);
    return PF_Err_OUT_OF_MEMORY;
  }
  std::memset(f.mask, kUnseen, size_t(mask_size));

  RunFill(f, point_x, point_y);
  const double bleed = params[kParamBleed]->u.fd.value / 65536.0;
  if (bleed >= 0.99) {
    const double scale = double(in_data->downsample_x.num) / double(in_data->downsample_x.den);
    Bleed(f, bleed, scale);
  }

  utils->host_unlock_handle(handle);
  utils->host_dispose_handle(handle);
  return PF_Err_NONE;
}

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
  return pf::RegisterParams(in_data, out_data, kParams, pf::ParamRecord::kReused);
}

// Commands 0..11 to handler slots: 0 about, 1 global setup, 2 parameters,
// 3 render, 4 nothing.
constexpr uint8_t kSlots[pf::kDispatchedCommands] = {0, 1, 4, 4, 2, 4, 4, 4, 4, 4, 4, 3};
constexpr pf::Handler kHandlers[] = {pf::About, pf::GlobalSetup, ParamsSetup, Render, pf::NoCommand};

}  // namespace

OMBRIX_ENTRY(FloodspillMain);

PF_Err FloodspillMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                      PF_LayerDef* output, void* extra) {
  return pf::DispatchBySlot(kSlots, kHandlers, cmd, in_data, out_data, params, output, extra);
}
