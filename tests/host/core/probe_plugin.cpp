// A small plug-in that exercises the host's command protocol. Its behaviour
// is chosen by its parameters, and it records what the host handed it in
// its sequence data.
#include <pf/api.h>
#include <pf/suites.h>

#include <array>
#include <cstring>

#include "probe_record.h"

#ifndef PROBE_NAME
#define PROBE_NAME "OB Probe"
#define PROBE_MATCH "obx Probe"
#define PROBE_CATEGORY "Ombrix One"
#define PROBE_FLATTEN 0
#endif

namespace {

using probe::Record;

#define PROBE_SHORT "probe"
#include "probe_pipl.h"

// ---------------------------------------------------------------------------
// Commands
// ---------------------------------------------------------------------------
Record* Lock(PF_InData* in, PF_Handle h) {
  if (!h || in->utils->host_get_handle_size(h) < sizeof(Record)) return nullptr;
  auto* r = static_cast<Record*>(in->utils->host_lock_handle(h));
  return (r && r->magic == probe::kMagic) ? r : nullptr;
}

PF_Err GlobalSetup(PF_InData* in, PF_OutData* out) {
  out->my_version = PF_VERSION(1, 0, 0, PF_Stage_RELEASE, 0);
  out->out_flags |= kGlobalFlags;
  // Global data left for the host to release at unload.
  out->global_data = in->utils->host_new_handle(8);
  return out->global_data ? PF_Err_NONE : PF_Err_OUT_OF_MEMORY;
}

PF_Err ParamsSetup(PF_InData* in, PF_OutData* out) {
  // One record, cleared once and reused, as the single-purpose effects do.
  PF_ParamDef def;
  std::memset(&def, 0, sizeof def);
  A_long added = 0;
  auto add = [&]() { return in->inter.add_param(in->effect_ref, -1, &def); };
  PF_Err err;

  def.param_type = PF_Param_SLIDER;
  in->utils->ansi.strcpy(def.name, "Mode");
  def.u.sd.value = def.u.sd.dephault = 0;
  def.u.sd.valid_min = def.u.sd.slider_min = 0;
  def.u.sd.valid_max = def.u.sd.slider_max = 10;
  if ((err = add())) return err;
  ++added;

  def.param_type = PF_Param_POPUP;
  in->utils->ansi.strcpy(def.name, "Choice...");
  def.u.pd.value = def.u.pd.dephault = 1;
  def.u.pd.num_choices = 3;
  def.u.pd.u.namesptr = "One|(-|Three";
  if ((err = add())) return err;
  ++added;

  def.param_type = PF_Param_CHECKBOX;
  in->utils->ansi.strcpy(def.name, "");
  def.u.bd.value = def.u.bd.dephault = 0;
  def.u.bd.u.nameptr = "Flag";
  if ((err = add())) return err;
  ++added;

  def.param_type = PF_Param_FIX_SLIDER;
  in->utils->ansi.strcpy(def.name, "Amount");
  def.u.fd.value = def.u.fd.dephault = 0x10000;
  def.u.fd.valid_min = def.u.fd.slider_min = 0;
  def.u.fd.valid_max = def.u.fd.slider_max = 0x640000;
  def.u.fd.precision = 1;
  if ((err = add())) return err;
  ++added;

  def.param_type = PF_Param_ANGLE;
  in->utils->ansi.strcpy(def.name, "Angle");
  def.u.ad.value = def.u.ad.dephault = 45 << 16;
  if ((err = add())) return err;
  ++added;

  def.param_type = PF_Param_COLOR;
  in->utils->ansi.strcpy(def.name, "Tint");
  def.u.cd.value = def.u.cd.dephault = PF_Pixel{255, 10, 20, 30};
  if ((err = add())) return err;
  ++added;

  def.param_type = PF_Param_POINT;
  in->utils->ansi.strcpy(def.name, "Centre");
  def.u.td.x_value = def.u.td.x_dephault = 50 << 16;
  def.u.td.y_value = def.u.td.y_dephault = 25 << 16;
  def.u.td.restrict_bounds = 0;
  if ((err = add())) return err;
  ++added;

  def.param_type = PF_Param_SLIDER;
  in->utils->ansi.strcpy(def.name, "Service");
  def.u.sd.value = def.u.sd.dephault = 0;
  def.u.sd.valid_min = def.u.sd.slider_min = 0;
  def.u.sd.valid_max = def.u.sd.slider_max = probe::kServiceCount - 1;
  if ((err = add())) return err;
  ++added;

  out->num_params = added + 1;
  return PF_Err_NONE;
}

PF_Handle NewRecord(PF_InData* in, const Record* from) {
  PF_Handle h = in->utils->host_new_handle(sizeof(Record));
  if (!h) return nullptr;
  auto* r = static_cast<Record*>(in->utils->host_lock_handle(h));
  if (!r) {
    in->utils->host_dispose_handle(h);
    return nullptr;
  }
  if (from) {
    std::memcpy(r, from, sizeof *r);
  } else {
    std::memset(r, 0, sizeof *r);
    r->magic = probe::kMagic;
  }
  in->utils->host_unlock_handle(h);
  return h;
}

// Checks what every command must find: the same sequence handle in both
// records and a clear out_data.
void CheckEntry(PF_InData* in, PF_OutData* out) {
  Record* r = Lock(in, in->sequence_data);
  if (!r) return;
  if (in->sequence_data != out->sequence_data || out->out_flags != 0 || out->return_msg[0] != 0) ++r->protocol_faults;
}

PF_Err Invert(void*, A_long, A_long, PF_Pixel* src, PF_Pixel* dst) {
  dst->alpha = src->alpha;
  dst->red = A_u_char(255 - src->red);
  dst->green = A_u_char(255 - src->green);
  dst->blue = A_u_char(255 - src->blue);
  return PF_Err_NONE;
}

PF_Err Nothing(void*, A_long, A_long, PF_Pixel*, PF_Pixel*) { return PF_Err_NONE; }

// Acquires a host suite, makes one call of it and releases it. A failed
// acquisition must hand out NULL; the first error is the answer.
template <class Suite, class Call>
PF_Err WithSuite(PF_InData* in, const char* name, Call call) {
  const void* suite = &in;
  if (SPErr err = in->pica_basicP->AcquireSuite(name, 1, &suite)) return suite ? PF_Err_INTERNAL_STRUCT_DAMAGED : err;
  const PF_Err err = call(*static_cast<const Suite*>(suite));
  const SPErr released = in->pica_basicP->ReleaseSuite(name, 1);
  return err ? err : released;
}

PF_Err CallService(PF_InData* in, PF_ParamDef* params[], PF_LayerDef* output, int which, Record* r) {
  PF_UtilCallbacks* u = in->utils;
  PF_EffectWorld* input = &params[0]->u.ld;
  switch (which) {
    case 1:
      return u->iterate(in, 0, output->height, input, nullptr, nullptr, Nothing, output);
    case 2:
      return u->copy(in->effect_ref, input, output, nullptr, nullptr);
    case 3:
      return u->fill(in->effect_ref, nullptr, nullptr, output);
    case 4:
    case 5: {
      PF_EffectWorld w;
      if (PF_Err err = u->new_world(in->effect_ref, 3, 2, PF_WorldFlag_NONE, &w)) return err;
      return u->dispose_world(in->effect_ref, &w);
    }
    case 6:
    case 7: {
      PF_ParamDef def;
      if (PF_Err err = in->inter.checkout_param(in->effect_ref, probe::kAmount, in->current_time + in->time_step,
                                                in->time_step, in->time_scale, &def))
        return err;
      if (r) r->checkout_amount = def.u.fd.value;
      return in->inter.checkin_param(in->effect_ref, &def);
    }
    case 8:
      return in->inter.abort(in->effect_ref);
    case 9:
      return in->inter.progress(in->effect_ref, 1, 2);
    case 10: {
      void* fn = nullptr;
      return u->get_callback_addr(in->effect_ref, in->quality, 0, PF_Callback_SMOOTH, &fn);
    }
    case 11: {
      void* wnd = nullptr;
      return u->get_platform_data(in->effect_ref, PF_PlatData_MAIN_WND, &wnd);
    }
    case 12:
    case 13:
    case 14: {
      PF_Handle h = u->host_new_handle(4);
      if (!h) return PF_Err_OUT_OF_MEMORY;
      PF_Err err = u->host_lock_handle(h) ? PF_Err_NONE : PF_Err_OUT_OF_MEMORY;
      if (!err) err = u->host_resize_handle(16, &h);
      u->host_dispose_handle(h);
      return err;
    }
    case 15: {
      const void* suite = nullptr;
      return in->pica_basicP->AcquireSuite("PF Probe Suite", 1, &suite);
    }
    case 16:
    case 21: {
      void* block = nullptr;
      if (SPErr err = in->pica_basicP->AllocateBlock(8, &block)) return err;
      void* bigger = nullptr;
      SPErr err = in->pica_basicP->ReallocateBlock(block, 64, &bigger);
      in->pica_basicP->FreeBlock(err ? block : bigger);
      return err;
    }
    case 17:
    case 18: {
      PF_SampPB pb{};
      pb.src = input;
      PF_Pixel p;
      return which == 17 ? u->subpixel_sample(in->effect_ref, 0, 0, &pb, &p)
                         : u->area_sample(in->effect_ref, 0, 0, &pb, &p);
    }
    case 19:
    case 20: {
      PF_Pixel p{255, 1, 2, 3};
      PF_HLS_Pixel hls{};
      return which == 19 ? u->colorCB.RGBtoHLS(in->effect_ref, &p, hls) : u->colorCB.HLStoRGB(in->effect_ref, hls, &p);
    }
    case 22: {
      PF_CustomUIInfo ui{};
      return in->inter.register_ui(in->effect_ref, &ui);
    }
    case 23:
      return WithSuite<PF_AdvAppSuite1>(in, kPFAdvAppSuite, [](const PF_AdvAppSuite1&) { return PF_Err_NONE; });
    case 24:
      return WithSuite<PF_AppSuite1>(in, kPFAppSuite, [](const PF_AppSuite1& s) {
        PF_FontName name;
        return s.GetFontStyleSheet(PF_FontStyle_SMALL, &name, nullptr, nullptr);
      });
    case 25:
      return WithSuite<PF_HelperSuite1>(in, kPFHelperSuite, [](const PF_HelperSuite1& s) {
        PF_SuiteTool tool = 0;
        return s.GetCurrentTool(&tool);
      });
    case 26:
      return WithSuite<PF_AdvAppSuite1>(in, kPFAdvAppSuite,
                                        [](const PF_AdvAppSuite1& s) { return s.RefreshAllWindows(); });
    default:
      return PF_Err_NONE;
  }
}

PF_Err Render(PF_InData* in, PF_OutData* out, PF_ParamDef* params[], PF_LayerDef* output) {
  Record* r = Lock(in, in->sequence_data);
  if (r) {
    ++r->renders;
    r->current_time = in->current_time;
    r->time_step = in->time_step;
    r->local_time_step = in->local_time_step;
    r->total_time = in->total_time;
    r->time_scale = in->time_scale;
    r->width = in->width;
    r->height = in->height;
    r->extent_hint = in->extent_hint;
    r->downsample_x = in->downsample_x;
    r->downsample_y = in->downsample_y;
    r->pixel_aspect = in->pixel_aspect_ratio;
    r->quality = in->quality;
    r->num_params = in->num_params;
    r->mode = params[probe::kMode]->u.sd.value;
    r->choice = params[probe::kChoice]->u.pd.value;
    r->flag = params[probe::kFlag]->u.bd.value;
    r->amount = params[probe::kAmount]->u.fd.value;
    r->angle = params[probe::kAngle]->u.ad.value;
    r->tint = params[probe::kTint]->u.cd.value;
    r->centre_x = params[probe::kCentre]->u.td.x_value;
    r->centre_y = params[probe::kCentre]->u.td.y_value;
    r->in_width = params[0]->u.ld.width;
    r->in_height = params[0]->u.ld.height;
    r->in_rowbytes = params[0]->u.ld.rowbytes;
    r->in_dephault = params[0]->u.ld.dephault;
    r->out_width = output->width;
    r->out_height = output->height;
    r->out_rowbytes = output->rowbytes;
    r->has_services = in->utils && in->inter.add_param && in->effect_ref && in->pica_basicP && in->global_data;
  }
  switch (params[probe::kMode]->u.sd.value) {
    case probe::kMessage:
      in->utils->ansi.sprintf(out->return_msg, "render %d at %d", r ? int(r->renders) : -1, int(in->current_time));
      return PF_Err_NONE;
    case probe::kFail:
      in->utils->ansi.strcpy(out->return_msg, "damaged");
      return PF_Err_INTERNAL_STRUCT_DAMAGED;
    case probe::kCallService:
      return CallService(in, params, output, params[probe::kService]->u.sd.value, r);
    case probe::kSwapData: {
      PF_Handle h = NewRecord(in, r);
      if (!h) return PF_Err_OUT_OF_MEMORY;
      in->utils->host_dispose_handle(in->sequence_data);
      out->sequence_data = h;
      return PF_Err_NONE;
    }
    default:
      return in->utils->iterate(in, 0, output->height, &params[0]->u.ld, nullptr, nullptr, Invert, output);
  }
}

#if defined(PROBE_CRASH_AT_SETUP) || defined(PROBE_CRASH_ON_CHOICE)
// The crashing variants stand for a damaged plug-in: a store to an address
// in the unmapped first page, which the compiler cannot see through.
void Crash() {
  volatile uintptr_t nowhere = 16;
  *reinterpret_cast<volatile int*>(uintptr_t(nowhere)) = 1;
}
#endif

PF_Err Main(PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef* params[], PF_LayerDef* output, void*) {
#ifdef PROBE_CRASH_AT_SETUP
  if (cmd == PF_Cmd_GLOBAL_SETUP) Crash();
#endif
#ifdef PROBE_CRASH_ON_CHOICE
  if (cmd == PF_Cmd_RENDER && params[probe::kChoice]->u.pd.value == PROBE_CRASH_ON_CHOICE) Crash();
#endif
  CheckEntry(in, out);
  switch (cmd) {
    case PF_Cmd_GLOBAL_SETUP:
      return GlobalSetup(in, out);
    case PF_Cmd_PARAMS_SETUP:
      return ParamsSetup(in, out);
    case PF_Cmd_SEQUENCE_SETUP: {
      out->sequence_data = NewRecord(in, nullptr);
      if (!out->sequence_data) return PF_Err_OUT_OF_MEMORY;
      if (Record* r = Lock(in, out->sequence_data)) ++r->setups;
      return PF_Err_NONE;
    }
    case PF_Cmd_SEQUENCE_RESETUP: {
      // The stored bytes arrive in a host handle; the host releases it.
      Record* stored = Lock(in, in->sequence_data);
      out->sequence_data = NewRecord(in, stored);
      if (!out->sequence_data) return PF_Err_OUT_OF_MEMORY;
      if (Record* r = Lock(in, out->sequence_data)) ++r->resetups;
      return PF_Err_NONE;
    }
    case PF_Cmd_SEQUENCE_FLATTEN: {
      Record* r = Lock(in, in->sequence_data);
      if (!r) return PF_Err_INTERNAL_STRUCT_DAMAGED;
      ++r->flattens;
      PF_Handle flat = NewRecord(in, r);
      if (!flat) return PF_Err_OUT_OF_MEMORY;
      in->utils->host_dispose_handle(in->sequence_data);
      out->sequence_data = flat;
      return PF_Err_NONE;
    }
    case PF_Cmd_SEQUENCE_SETDOWN:
      if (params && params[probe::kMode]->u.sd.value == probe::kKeepOnSetdown) return PF_Err_NONE;
      in->utils->host_dispose_handle(in->sequence_data);
      out->sequence_data = nullptr;
      return PF_Err_NONE;
    case PF_Cmd_FRAME_SETUP: {
      if (Record* r = Lock(in, in->sequence_data)) ++r->frame_setups;
      if (params[probe::kMode]->u.sd.value == probe::kNop) out->out_flags |= PF_OutFlag_NOP_RENDER;
      return PF_Err_NONE;
    }
    case PF_Cmd_RENDER:
      return Render(in, out, params, output);
    default:
      return PF_Err_NONE;
  }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) PF_Err EntryPoint(PF_Cmd cmd, PF_InData* in, PF_OutData* out,
                                                                    PF_ParamDef* params[], PF_LayerDef* output,
                                                                    void* extra) __asm__("main");
PF_Err EntryPoint(PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef* params[], PF_LayerDef* output, void* extra) {
  return Main(cmd, in, out, params, output, extra);
}
