// Lightning: an electric arc with forks, walked through a turbulence field
// and around the layer's alpha, drawn as a soft core and glow over the layer
// or over a cleared frame. Complexity, fork spacing and strengths live in the
// settings record and are edited in the slider dialog.
#include <pf/dialogs.h>
#include <pf/fixed.h>
#include <pf/settings.h>
#include <pf/shell.h>

#include "batch.h"
#include "bolt.h"

OMBRIX_PLUGIN("OB Lightning", "obx Lightning", 11, 0, 0x21);
OMBRIX_OPTIONS(kLightning);

namespace {

enum {
  kParamInput = 0,
  kParamType,
  kParamOrigin,
  kParamDirection,
  kParamConductivity,
  kParamCoreRadius,
  kParamCoreOpacity,
  kParamCoreColor,
  kParamGlowRadius,
  kParamGlowOpacity,
  kParamGlowColor,
  kParamObstacle,
  kParamTurbulence,
  kParamForking,
  kParamDecay,
  kParamDecayMain,
  kParamAddOriginal,
  kParamCount,
};

using pf::Fix;
constexpr PF_ParamFlags kFolded = PF_ParamFlag_COLLAPSE_TWIRLY;
constexpr A_short kPercent = PF_ValueDisplayFlag_PERCENT;
constexpr A_short kPlain = PF_ValueDisplayFlag_NONE;

constexpr const char* kTypeItems = "Direction|Strike|Breaking|Bouncey|(-|Omni|Anywhere|Vertical";
static_assert(pf::PopupItemCount(kTypeItems) == 8);

constexpr auto kParams = pf::ParamTable<kParamCount>({
    {kParamType, pf::PopupParam("Lightning Type...", kTypeItems, lightning::kDirection)},
    {kParamOrigin, pf::PointParam("Origin", Fix(45), Fix(5), true)},
    {kParamDirection, pf::PointParam("Direction/Radius", Fix(50), Fix(95), false)},
    {kParamConductivity, pf::FixSliderParam("Conductivity State", 0, 0, Fix(32767), 0, Fix(50), 1, kPlain)},
    {kParamCoreRadius, pf::FixSliderParam("Core Radius", Fix(2), 0, Fix(40), Fix(1), Fix(4), 1, kPlain)},
    {kParamCoreOpacity, pf::FixSliderParam("Core Opacity", Fix(75), 0, Fix(100), 0, Fix(100), 1, kPercent, kFolded)},
    {kParamCoreColor, pf::ColorParam("Core Color", PF_Pixel{255, 255, 255, 255}, kFolded)},
    {kParamGlowRadius,
     pf::FixSliderParam("Glow Radius", Fix(50), Fix(1), Fix(400), Fix(20), Fix(100), 1, kPlain, kFolded)},
    {kParamGlowOpacity, pf::FixSliderParam("Glow Opacity", Fix(50), 0, Fix(100), 0, Fix(100), 1, kPercent)},
    {kParamGlowColor, pf::ColorParam("Glow Color", PF_Pixel{255, 50, 50, 255})},
    {kParamObstacle, pf::FixSliderParam("Alpha Obstacle", 0, Fix(-100), Fix(100), Fix(-4), Fix(4), 2, kPlain, kFolded)},
    {kParamTurbulence, pf::FixSliderParam("Turbulence", Fix(1), 0, Fix(10), 0x8000, 0x14000, 2, kPlain)},
    {kParamForking, pf::FixSliderParam("Forking", 0x4000, 0, Fix(1), 0, Fix(1), 1, kPercent)},
    {kParamDecay, pf::FixSliderParam("Decay", 0x4CCC, 0, Fix(100), 0, Fix(1), 2, kPlain, kFolded)},
    {kParamDecayMain, pf::CheckboxParam(" ", "Decay Main Core", false)},
    {kParamAddOriginal, pf::CheckboxParam(" ", "Add to Original", false)},
});

constexpr const char kMsgSetupError[] = "Setup Error";

// The frame's noise lattice, rebuilt at the start of every render.
lightning::BoltLattice g_lattice;

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
  return pf::RegisterParams(in_data, out_data, kParams, pf::ParamRecord::kReused);
}

enum class RecordCheck { kUsable, kMissingOrForeign, kLocked };

// The record must be 9 words whose version is 1 as stored or after reversing
// the byte order of every word (then the reversed words are written back).
RecordCheck CheckRecord(PF_InData* in_data, uint32_t (&words)[9]) {
  const PF_UtilCallbacks* u = in_data->utils;
  PF_Handle h = in_data->sequence_data;
  if (h == nullptr || u->host_get_handle_size(h) != pf::LightningSettings::kBytes)
    return RecordCheck::kMissingOrForeign;
  void* p = u->host_lock_handle(h);
  if (p == nullptr) return RecordCheck::kLocked;
  std::memcpy(words, p, sizeof words);
  RecordCheck result = RecordCheck::kUsable;
  if (words[0] != pf::kLightningLayout.version) {
    for (uint32_t& w : words) w = pf::ReverseBytes(w);
    if (words[0] == pf::kLightningLayout.version)
      std::memcpy(p, words, sizeof words);
    else
      result = RecordCheck::kMissingOrForeign;
  }
  u->host_unlock_handle(h);
  return result;
}

// No usable record: "Setup Error", and a default record for the next frame.
// A foreign record is released first, so that sequence setup makes the
// default instead of reporting memory corruption and dropping the handle.
PF_Err ReplaceRecord(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output) {
  in_data->utils->ansi.strcpy(out_data->return_msg, kMsgSetupError);
  if (out_data->sequence_data != nullptr) {
    in_data->utils->host_dispose_handle(out_data->sequence_data);
    out_data->sequence_data = nullptr;
  }
  return pf::SequenceSetup(in_data, out_data, params, output, nullptr);
}

PF_Pixel WithAlpha(PF_Pixel c, A_u_char alpha) {
  c.alpha = alpha;
  return c;
}

lightning::WalkContext MakeContext(PF_InData* in_data, PF_ParamDef* params[], PF_LayerDef* output,
                                   const uint32_t (&words)[9], double R) {
  const double turbulence = pf::FixSliderValue(params[kParamTurbulence]);
  const double forking = turbulence > 0.0 ? pf::FixSliderValue(params[kParamForking]) : 0.0;
  const double core_opacity = pf::FixSliderValue(params[kParamCoreOpacity]) * 0.01;
  const double glow_opacity = pf::FixSliderValue(params[kParamGlowOpacity]) * 0.01;
  const PF_PointDef& origin = params[kParamOrigin]->u.td;
  const PF_PointDef& target = params[kParamDirection]->u.td;

  lightning::WalkContext c{};
  c.origin_x = float(pf::FixedToDouble(origin.x_value) / R);
  c.origin_y = float(pf::FixedToDouble(origin.y_value) / R);
  c.target_x = float(pf::FixedToDouble(target.x_value) / R);
  c.target_y = float(pf::FixedToDouble(target.y_value) / R);
  c.obstacle_gain = float(pf::FixSliderValue(params[kParamObstacle]) * 0.02);
  c.turbulence_gain = float(turbulence * 100.0);
  c.noise_frequency = 0.003f;
  c.fractal_model = int32_t(words[5]);
  c.complexity = int32_t(words[1]) > lightning::kMaxOctaves ? lightning::kMaxOctaves : int32_t(words[1]);
  c.fork_threshold = float(2.0 * forking - 1.0);
  c.min_fork_distance = float(int32_t(words[2]));
  c.walk_flags = int32_t(words[4]);
  if (params[kParamDecayMain]->u.bd.value == 0) c.walk_flags |= lightning::kFlagMainDecayOff;
  c.fork_drain = pf::WordAsFloat(words[6]);
  c.fork_strength = pf::WordAsFloat(words[7]);
  c.fork_variation = pf::WordAsFloat(words[8]);
  c.termination_threshold = float(int32_t(words[3]));
  c.decay_step = pf::FixSliderValue(params[kParamDecay]) * 0.005;
  c.lightning_type = params[kParamType]->u.pd.value;
  c.core_radius = float(pf::FixSliderValue(params[kParamCoreRadius]));
  c.core_amount = float(core_opacity * core_opacity * 210.0);
  c.core_colour = WithAlpha(params[kParamCoreColor]->u.cd.value, 210);
  c.glow_radius = float(pf::FixSliderValue(params[kParamGlowRadius]));
  c.glow_amount = float(glow_opacity * glow_opacity * 255.0);
  c.glow_colour = WithAlpha(params[kParamGlowColor]->u.cd.value, 255);
  c.frame_width = float(in_data->width);
  c.frame_height = float(in_data->height);
  c.scale = float(R);
  c.input = &params[kParamInput]->u.ld;
  c.output = output;
  c.utils = in_data->utils;
  c.effect_ref = in_data->effect_ref;
  c.lattice = &g_lattice;
  return c;
}

PF_Err Render(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output, void*) {
  const PF_UtilCallbacks* u = in_data->utils;
  const double R = pf::Ratio(in_data->downsample_x);

  PF_Err err = params[kParamAddOriginal]->u.bd.value != 0
                   ? u->copy(in_data->effect_ref, &params[kParamInput]->u.ld, output, nullptr, nullptr)
                   : u->fill(in_data->effect_ref, nullptr, nullptr, output);
  if (err != PF_Err_NONE) return err;
  if (pf::FixSliderValue(params[kParamCoreOpacity]) <= 0.0 && pf::FixSliderValue(params[kParamGlowOpacity]) <= 0.0)
    return PF_Err_NONE;

  uint32_t words[9];
  switch (CheckRecord(in_data, words)) {
    case RecordCheck::kUsable:
      break;
    case RecordCheck::kMissingOrForeign:
      return ReplaceRecord(in_data, out_data, params, output);
    case RecordCheck::kLocked:
      return PF_Err_MAC_OUT_OF_MEMORY;  // the record stays as it is
  }

  lightning::BuildBoltLattice(g_lattice, pf::FixSliderValue(params[kParamConductivity]));
  const lightning::WalkContext c = MakeContext(in_data, params, output, words, R);

  lightning::BoltQueue queue;
  if (!lightning::CreateQueue(u, &queue)) return PF_Err_MAC_OUT_OF_MEMORY;
  lightning::BoltRecord main{};
  main.generation = 0;
  main.phase = lightning::kMainPhase;
  main.strength = 1.0;
  main.start_x = c.origin_x;
  main.start_y = c.origin_y;
  main.target_x = c.target_x;
  main.target_y = c.target_y;
  lightning::AppendRecord(&queue, main);

  // The walks run in queue order and keep their discs; the discs are stamped
  // in bands of rows on the host's threads once the batch is full or the
  // walks are done (the walks read the input only, never the output).
  lightning::DiscBatch batch = lightning::MakeDiscBatch(in_data, c);
  for (int32_t i = 0; i < queue.count; ++i) {
    lightning::BoltPath path;
    if (lightning::WalkBolt(queue.records[i], c, &queue, &path)) {
      lightning::BatchBolt(path, c, &batch);
      lightning::FreePath(u, &path);
    }
    if (i + 1 < queue.count) {
      err = in_data->inter.abort(in_data->effect_ref);
      if (err != PF_Err_NONE) break;
    }
  }
  if (err != PF_Err_NONE)
    lightning::StampBatchSerially(&batch);  // iterate would refuse to run after an abort
  else
    err = lightning::FlushDiscBatch(&batch);
  lightning::FreeDiscBatch(&batch);
  lightning::FreeQueue(u, &queue);
  return err;
}

constexpr pf::Commands kCommands = pf::OptionsCommands(ParamsSetup, Render);

}  // namespace

OMBRIX_MAIN(LightningMain, kCommands);
