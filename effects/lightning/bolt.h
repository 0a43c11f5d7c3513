// Bolt generation: the value-noise lattice that "Conductivity State" morphs,
// the turbulence and alpha-obstacle fields that steer a walk, and the walk
// itself, which turns one bolt record into a polyline of points and files
// the forks it spawns into the bolt queue.
//
// Everything runs in full-resolution layer pixels ("walk space"); the
// drawing (draw.h) multiplies by the downsample factor again. Memory for
// paths and the queue comes from the host's handle services.
#pragma once

#include <noise/fractal.h>
#include <pf/api.h>
#include <pf/smoothstep.h>

#include <cmath>
#include <cstdint>
#include <cstring>

namespace lightning {

// ---------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------

struct Vec2 {
  float x, y;
};

inline Vec2 operator+(Vec2 a, Vec2 b) { return {a.x + b.x, a.y + b.y}; }
inline Vec2 operator-(Vec2 a, Vec2 b) { return {a.x - b.x, a.y - b.y}; }
inline Vec2 operator*(Vec2 a, float s) { return {a.x * s, a.y * s}; }
// A float vector scaled by a double: each product is formed in double and
// rounded to float once, so the factor itself is never rounded.
inline Vec2 Scaled(Vec2 a, double s) { return {float(a.x * s), float(a.y * s)}; }
inline double Dot(Vec2 a, Vec2 b) { return double(a.x) * b.x + double(a.y) * b.y; }

// The 64 x 64 noise table, rebuilt for every frame.
struct BoltLattice {
  double v[4096];
};

// "Lightning Type..." popup values (5 is the separator).
enum : int32_t {
  kDirection = 1,
  kStrike = 2,
  kBreaking = 3,
  kBouncey = 4,
  kOmni = 6,
  kAnywhere = 7,
  kVertical = 8,
};

// walk_flags bits.
inline constexpr int32_t kFlagMainDecayOff = 2;       // "Decay Main Core" off
inline constexpr int32_t kFlagMainCollisionOnly = 4;  // forks ignore the alpha obstacle

// fractal_model bits.
inline constexpr int32_t kModelLinear = 1, kModelSemiLinear = 2, kModelSpline = 4;

// The dialog offers 1..8 octaves. A stored record may hold any number; past
// 64 octaves the amplitude (0.8 x 0.71^k) is below 1e-9 while each octave
// costs as much as the first, and past about 1200 the coordinates overflow.
inline constexpr int32_t kMaxOctaves = 64;

// Filled once per render and shared by every bolt of it.
struct WalkContext {
  float origin_x, origin_y;
  float target_x, target_y;
  float obstacle_gain;
  float turbulence_gain;
  float noise_frequency;
  int32_t fractal_model;
  int32_t complexity;
  float fork_threshold;
  float min_fork_distance;
  int32_t walk_flags;
  float fork_drain, fork_strength, fork_variation;
  float termination_threshold;
  double decay_step;
  int32_t lightning_type;
  float core_radius, core_amount;
  PF_Pixel core_colour;
  float glow_radius, glow_amount;
  PF_Pixel glow_colour;
  float frame_width, frame_height;
  float scale;
  PF_EffectWorld* input;
  PF_EffectWorld* output;
  // The services the walk calls and the frame's lattice.
  const PF_UtilCallbacks* utils;
  PF_ProgPtr effect_ref;
  const BoltLattice* lattice;
};

struct BoltRecord {
  int32_t generation;
  double phase;
  double strength;
  float start_x, start_y;
  float target_x, target_y;
};

inline constexpr double kMainPhase = 3197.3;

inline constexpr int32_t kQueueCapacity = 100;

struct BoltQueue {
  int32_t count = 0;
  PF_Handle handle = nullptr;  // room for kQueueCapacity records once made
  BoltRecord* records = nullptr;
};

struct PathPoint {
  float x, y, strength;
};

inline constexpr int32_t kPathChunk = 1200;
inline constexpr int32_t kPathGrowLimit = 4790;  // no growth beyond this capacity

struct BoltPath {
  int32_t capacity = 0;
  int32_t count = 0;
  PF_Handle handle = nullptr;
  PathPoint* points = nullptr;
};

// ---------------------------------------------------------------------------
// Memory through the host's handles
// ---------------------------------------------------------------------------

// A locked handle of `bytes`; NULL (nothing kept) when either step fails.
inline void* NewLockedBlock(const PF_UtilCallbacks* u, A_u_long bytes, PF_Handle* handle) {
  PF_Handle h = u->host_new_handle(bytes);
  if (h == nullptr) return nullptr;
  void* p = u->host_lock_handle(h);
  if (p == nullptr) {
    u->host_dispose_handle(h);
    return nullptr;
  }
  *handle = h;
  return p;
}

inline void FreeBlock(const PF_UtilCallbacks* u, PF_Handle* handle) {
  if (*handle == nullptr) return;
  u->host_unlock_handle(*handle);
  u->host_dispose_handle(*handle);
  *handle = nullptr;
}

inline bool CreatePath(const PF_UtilCallbacks* u, BoltPath* path) {
  *path = BoltPath{};
  void* p = NewLockedBlock(u, A_u_long(sizeof(PathPoint)) * kPathChunk, &path->handle);
  if (p == nullptr) return false;
  path->points = static_cast<PathPoint*>(p);
  path->capacity = kPathChunk;
  return true;
}

inline void FreePath(const PF_UtilCallbacks* u, BoltPath* path) {
  FreeBlock(u, &path->handle);
  *path = BoltPath{};
}

// Stores one point. The last slot of the current array is never used before
// growing, so the capacities 1200, 2400, 3600 and 4800 hold at most 4799
// points; false when the point could not be stored.
inline bool AppendPoint(const PF_UtilCallbacks* u, BoltPath* path, PathPoint point) {
  if (path->count >= path->capacity - 1) {
    if (path->capacity > kPathGrowLimit) return false;
    const int32_t grown = path->capacity + kPathChunk;
    PF_Handle h = nullptr;
    void* p = NewLockedBlock(u, A_u_long(sizeof(PathPoint)) * A_u_long(grown), &h);
    if (p == nullptr) return false;
    std::memcpy(p, path->points, sizeof(PathPoint) * size_t(path->count));
    FreeBlock(u, &path->handle);
    path->handle = h;
    path->points = static_cast<PathPoint*>(p);
    path->capacity = grown;
  }
  path->points[path->count++] = point;
  return true;
}

inline bool CreateQueue(const PF_UtilCallbacks* u, BoltQueue* queue) {
  *queue = BoltQueue{};
  void* p = NewLockedBlock(u, A_u_long(sizeof(BoltRecord)) * kQueueCapacity, &queue->handle);
  if (p == nullptr) return false;
  queue->records = static_cast<BoltRecord*>(p);
  return true;
}

inline void FreeQueue(const PF_UtilCallbacks* u, BoltQueue* queue) {
  FreeBlock(u, &queue->handle);
  *queue = BoltQueue{};
}

// Appending to a full queue does nothing.
inline void AppendRecord(BoltQueue* queue, const BoltRecord& record) {
  if (queue->records == nullptr || queue->count >= kQueueCapacity) return;
  queue->records[queue->count++] = record;
}

// ---------------------------------------------------------------------------
// The lattice and its readers
// ---------------------------------------------------------------------------

// The cubic B-spline through four values with the factor 0.2 (not 1/6),
// shared with the fractal noise.
using noise::BSplineBlend;

// One step of the family's generator and its draw in [-1, 1).
inline uint32_t NextState(uint32_t s) { return s * 1103515245u + 12345u; }
inline double UnitDraw(uint32_t s) { return double((s >> 16) & 0x7FFF) / 16384.0 - 1.0; }

// Every entry follows its own cubic B-spline through the values drawn for
// six consecutive integer conductivities, shifted by a random offset, so the
// table changes continuously with `conductivity` (slider units).
inline void BuildBoltLattice(BoltLattice& lattice, double conductivity) {
  const double g0 = conductivity + 1.0;
  const double fl = std::floor(g0);
  const int32_t m = int32_t(fl);
  const double frac = g0 - fl;
  uint32_t s[6];
  for (int k = 0; k < 6; ++k) {
    const uint32_t key = uint32_t(int64_t(m) - 2 + k) * 65536u;
    s[k] = 0xC21F1C8Au - 0x2C23A807u * key;  // six generator steps at once
  }
  uint32_t q = 12356789u;
  for (int e = 0; e < 4096; ++e) {
    q = NextState(q);
    double g = UnitDraw(q) + frac;
    double value[6];
    for (int k = 0; k < 6; ++k) {
      s[k] = NextState(s[k]);
      value[k] = UnitDraw(s[k]);
    }
    int first = 1;
    if (g < 0.0) {
      first = 0;
      g = g + 1.0;
    } else if (g > 1.0) {
      first = 2;
      g = g - 1.0;
    }
    lattice.v[e] = BSplineBlend(value[first], value[first + 1], value[first + 2], value[first + 3], g);
  }
}

inline double BoltLatticeValue(const BoltLattice& lattice, int32_t ix, int32_t iy) {
  const uint32_t hi = uint32_t((iy >> 5) ^ ix) & 63u;
  const uint32_t lo = uint32_t((ix >> 5) ^ iy) & 63u;
  return lattice.v[64u * hi + lo];
}

struct Cell {
  int32_t ix, iy;
  double fx, fy;
};

// Wraps into [0, 65536) and splits into lattice cell and fraction.
inline double Wrap(double v) {
  double w = v - std::trunc(v / 65536.0) * 65536.0;
  if (w < 0.0) w = w + 65536.0;
  return w;
}

inline Cell CellOf(double x, double y) {
  const double wx = Wrap(x), wy = Wrap(y);
  const double flx = std::floor(wx), fly = std::floor(wy);
  return {int32_t(flx), int32_t(fly), wx - flx, wy - fly};
}

inline double Bilinear(const BoltLattice& l, const Cell& c, double fx, double fy) {
  return (1.0 - fy) * ((1.0 - fx) * BoltLatticeValue(l, c.ix, c.iy) + fx * BoltLatticeValue(l, c.ix + 1, c.iy)) +
         fy * ((1.0 - fx) * BoltLatticeValue(l, c.ix, c.iy + 1) + fx * BoltLatticeValue(l, c.ix + 1, c.iy + 1));
}

inline double BoltNoiseLinear(const BoltLattice& l, double x, double y) {
  const Cell c = CellOf(x, y);
  return Bilinear(l, c, c.fx, c.fy);
}

inline double BoltNoiseSemiLinear(const BoltLattice& l, double x, double y) {
  const Cell c = CellOf(x, y);
  return Bilinear(l, c, pf::SmoothStep(c.fx), pf::SmoothStep(c.fy));
}

inline double BoltNoiseSpline(const BoltLattice& l, double x, double y) {
  const Cell c = CellOf(x, y);
  double row[4];
  for (int j = -1; j <= 2; ++j) {
    const int32_t iy = c.iy + j;
    row[j + 1] = BSplineBlend(BoltLatticeValue(l, c.ix - 1, iy), BoltLatticeValue(l, c.ix, iy),
                              BoltLatticeValue(l, c.ix + 1, iy), BoltLatticeValue(l, c.ix + 2, iy), c.fx);
  }
  return BSplineBlend(row[0], row[1], row[2], row[3], c.fy);
}

// ---------------------------------------------------------------------------
// Steering fields
// ---------------------------------------------------------------------------

// The octave sum; X and Y stay in double precision, as a float resolves only
// about 0.004 near the wrap and the bolt would jitter from frame to frame.
inline double TurbulenceSum(double x, double y, const WalkContext& c) {
  double (*noise)(const BoltLattice&, double, double) = nullptr;
  if (c.fractal_model & kModelLinear)
    noise = BoltNoiseLinear;
  else if (c.fractal_model & kModelSemiLinear)
    noise = BoltNoiseSemiLinear;
  else if (c.fractal_model & kModelSpline)
    noise = BoltNoiseSpline;
  if (noise == nullptr) return 0.0;
  double X = x * double(c.noise_frequency), Y = y * double(c.noise_frequency);
  double amplitude = 0.8, sum = 0.0;
  for (int32_t i = 0; i < c.complexity; ++i) {
    X = X * 1.79 - 17.3;
    Y = Y * 1.79 + 9.7;
    sum = sum + amplitude * noise(*c.lattice, X, Y);
    amplitude = amplitude * 0.71;
  }
  return sum;
}

// Forward differences over half a pixel, not divided by the step. The
// shifted position is formed from the double phase and rounded to float once;
// the half-pixel steps are taken in double.
inline Vec2 TurbulenceGradient(Vec2 pos, const BoltRecord& record, const WalkContext& c) {
  const float px = float(pos.x + record.phase);
  const float py = float(pos.y - record.phase);
  const double t0 = TurbulenceSum(px, py, c);
  return {float(TurbulenceSum(px + 0.5, py, c) - t0), float(TurbulenceSum(px, py + 0.5, c) - t0)};
}

inline A_u_char AlphaAt(const WalkContext& c, PF_Fixed x, PF_Fixed y) {
  PF_SampPB pb{};
  pb.src = c.input;
  PF_Pixel p{};
  c.utils->subpixel_sample(c.effect_ref, x, y, &pb, &p);
  return p.alpha;
}

// Points from opaque towards transparent, sampled 2 full-resolution pixels
// either side in the (possibly reduced) input.
// Positions beyond what 16.16 can hold are kept at its ends (less the
// sampling distance), never converted out of range.
inline PF_Fixed ToFixed(double v) {
  constexpr double kLimit = 2147483647.0 - 16777216.0;
  return PF_Fixed(std::trunc(v > kLimit ? kLimit : v < -kLimit ? -kLimit : v));
}

inline Vec2 ObstacleGradient(Vec2 pos, const WalkContext& c) {
  const double rf = std::trunc(double(c.scale) * 65536.0);
  const PF_Fixed X = ToFixed(double(pos.x) * rf);
  const PF_Fixed Y = ToFixed(double(pos.y) * rf);
  const PF_Fixed D = PF_Fixed(2.0 * rf);
  const A_u_char up = AlphaAt(c, X, Y - D);
  const A_u_char down = AlphaAt(c, X, Y + D);
  const A_u_char left = AlphaAt(c, X - D, Y);
  const A_u_char right = AlphaAt(c, X + D, Y);
  return {float(int(left) - int(right)), float(int(up) - int(down))};
}

// Length and quotient in double; only the resulting components are floats.
inline Vec2 Normalize(Vec2 v, const WalkContext& c) {
  const double ss = double(v.x) * v.x + double(v.y) * v.y;
  if (ss < 0.00001) return {0.0f, 1.0f};
  const double len = c.utils->ansi.sqrt(ss);
  return {float(v.x / len), float(v.y / len)};
}

inline Vec2 BaseDirection(Vec2 pos, const BoltRecord& r, const WalkContext& c) {
  const Vec2 origin{c.origin_x, c.origin_y}, target{c.target_x, c.target_y};
  Vec2 raw;
  switch (c.lightning_type) {
    case kDirection:
      raw = target - origin;
      break;
    case kStrike:
      raw = target - pos;
      break;
    case kBreaking:
      raw = Vec2{r.target_x, r.target_y} - origin;
      break;
    case kBouncey:
      raw = Vec2{r.target_x, r.target_y} - pos;
      break;
    case kOmni:
      raw = pos - origin;
      break;
    case kAnywhere:
      raw = pos - Vec2{r.start_x, r.start_y};
      break;
    case kVertical:
      return {0.0f, 1.0f};
    default:
      raw = pos;
      break;
  }
  return Normalize(raw, c);
}

inline bool IsWalkFinished(Vec2 pos, const BoltRecord& r, const WalkContext& c) {
  if (pos.x < -16.0 || pos.x > c.frame_width + 16.0 || pos.y < -16.0 || pos.y > c.frame_height + 16.0) return true;
  switch (c.lightning_type) {
    case kStrike:
    case kBouncey: {
      const Vec2 d = pos - Vec2{r.target_x, r.target_y};
      return Dot(d, d) < 4.0;
    }
    case kOmni:
    case kAnywhere: {
      const Vec2 origin{c.origin_x, c.origin_y};
      const Vec2 d = pos - origin;
      const Vec2 radius = Vec2{c.target_x, c.target_y} - origin;
      return Dot(d, d) > Dot(radius, radius);
    }
    default:
      return false;
  }
}

// ---------------------------------------------------------------------------
// The walk
// ---------------------------------------------------------------------------

// Walks one bolt from its record into `path` (false and no path when the
// path cannot be allocated) and appends its forks to `queue`.
inline bool WalkBolt(const BoltRecord& record, const WalkContext& c, BoltQueue* queue, BoltPath* path) {
  const PF_UtilCallbacks* u = c.utils;
  BoltRecord w = record;
  if (!CreatePath(u, path)) return false;

  const bool turbulence_on = c.turbulence_gain != 0.0f;
  bool obstacle_on = c.obstacle_gain != 0.0f;
  bool decay_on = true;
  bool stop = false;
  if (record.generation < 1) {
    if (c.walk_flags & kFlagMainDecayOff) decay_on = false;
  } else if (c.walk_flags & kFlagMainCollisionOnly) {
    obstacle_on = false;
  }
  const bool steer = turbulence_on || obstacle_on;
  double fork_phase = record.phase + 373.7;

  const Vec2 start{record.start_x, record.start_y};
  AppendPoint(u, path, {start.x, start.y, float(record.strength)});
  Vec2 dir = (c.lightning_type == kOmni || c.lightning_type == kAnywhere)
                 ? Normalize(TurbulenceGradient(start, w, c), c)
                 : BaseDirection(start, w, c);
  Vec2 pos = start;
  double K = 0.0;  // the bend accumulator
  int32_t fork_counter = 0;

  for (;;) {
    pos = pos + dir;
    if (!AppendPoint(u, path, {pos.x, pos.y, float(w.strength)})) stop = true;
    if (IsWalkFinished(pos, w, c)) break;
    const Vec2 base = BaseDirection(pos, w, c);
    if (steer) {
      const Vec2 t = turbulence_on ? TurbulenceGradient(pos, w, c) * c.turbulence_gain : Vec2{0.0f, 0.0f};
      const Vec2 a = obstacle_on ? ObstacleGradient(pos, c) * c.obstacle_gain : Vec2{0.0f, 0.0f};
      Vec2 v = t + a + base;
      if (K > 0.0) v = v + Scaled(base, K);
      Vec2 nd = Normalize(v, c);
      const double dot = Dot(base, nd);
      const double k2 = (1.0 - dot) * 0.1 + K;
      if (dot > 0.0) {
        K = 0.9 * k2 - 0.1 * (dot * dot);
        if (K < 0.0) K = 0.0;
      } else {
        K = 2.0 * k2;
        if (K > double(c.termination_threshold)) stop = true;
      }
      if (c.lightning_type == kBouncey) {
        bool reaim = false;
        if (Dot(a, a) <= 0.1) {
          reaim = dot < 0.0;
        } else {
          const Vec2 na = Normalize(a, c);
          const double d2 = Dot(base, na);
          if (d2 < 0.0) {
            nd = base - Scaled(na, 2.0 * d2);  // the base direction mirrored at the obstacle
            reaim = true;
          }
        }
        if (reaim) {
          w.start_x = pos.x;
          w.start_y = pos.y;
          K = 0.0;
          w.target_x = pos.x + nd.x * 10000.0f;
          w.target_y = pos.y + nd.y * 10000.0f;
        }
      }
      if (double(fork_counter) > c.min_fork_distance && dot < c.fork_threshold) {
        BoltRecord f = w;
        f.generation = w.generation + 1;
        f.phase = fork_phase;
        fork_phase = fork_phase + 715.3;
        if (fork_phase > 40000.0) fork_phase = fork_phase - 40000.0;
        f.start_x = pos.x;
        f.start_y = pos.y;
        double s = BoltNoiseLinear(*c.lattice, pos.x, pos.y) * double(c.fork_variation) + double(c.fork_strength);
        s = s < 0.0 ? 0.0 : s > 1.0 ? 1.0 : s;
        f.strength = s * w.strength;
        if (c.lightning_type == kBreaking) {
          f.target_x = c.target_x + nd.x * 400.0f;
          f.target_y = c.target_y + nd.y * 400.0f;
        }
        w.strength = w.strength - double(c.fork_drain) * f.strength;
        if (w.strength < 0.01) stop = true;
        if (f.strength > 0.01) AppendRecord(queue, f);
        fork_counter = 0;
      }
      fork_counter = fork_counter + 1;
      dir = nd;
    }
    if (decay_on) {
      w.strength = w.strength - c.decay_step;
      if (w.strength < 0.01) break;
    }
    if (stop) break;
  }
  return true;
}

}  // namespace lightning
