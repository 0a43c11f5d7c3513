// The settings record's lifecycle: made with defaults at sequence setup,
// checked and converted from the other byte order at resetup, released at
// setdown. Everything goes through the host's handle services.
#include <pf/settings.h>

#include <ombrix/platform/input.h>

namespace pf {

namespace {

void Message(PF_InData* in_data, PF_OutData* out_data, const char* text) {
  in_data->utils->ansi.strcpy(out_data->return_msg, text);
}

}  // namespace

PF_Handle MakeDefaultRecord(PF_InData* in_data, const RecordLayout& layout) {
  const auto* u = in_data->utils;
  PF_Handle h = u->host_new_handle(4 * layout.words);
  if (h == nullptr) return nullptr;
  void* p = u->host_lock_handle(h);
  if (p == nullptr) {
    // A record we cannot fill is no record: give it back rather than hand the
    // host a block of zeros that claims to be settings.
    u->host_dispose_handle(h);
    return nullptr;
  }
  std::memcpy(p, layout.defaults, 4 * layout.words);
  u->host_unlock_handle(h);
  return h;
}

PF_Err SetupRecord(PF_InData* in_data, PF_OutData* out_data, const RecordLayout& layout) {
  if (out_data->sequence_data != nullptr) {
    Message(in_data, out_data, kMsgCorruptMemory);
    if (layout.beep_and_clear_on_corrupt) {
      ombrix::platform::MessageBeep(ombrix::platform::kBeepDefault);
      out_data->sequence_data = nullptr;
    }
    return kShellError;
  }
  PF_Handle h = MakeDefaultRecord(in_data, layout);
  if (h == nullptr) {
    Message(in_data, out_data, kMsgNoMemorySetup);
    return kShellError;
  }
  out_data->sequence_data = h;
  return PF_Err_NONE;
}

PF_Err ResetupRecord(PF_InData* in_data, PF_OutData* out_data, const RecordLayout& layout) {
  const auto* u = in_data->utils;
  PF_Handle h = out_data->sequence_data;
  if (h != nullptr) {
    if (u->host_get_handle_size(h) != 4 * layout.words) {
      u->host_dispose_handle(h);
      out_data->sequence_data = nullptr;
    } else {
      void* p = u->host_lock_handle(h);
      if (p == nullptr) {
        // The stored record cannot be read now; keep it untouched for a
        // later attempt instead of replacing the user's settings by defaults.
        Message(in_data, out_data, kMsgNoMemoryRestore);
        return kShellError;
      }
      uint32_t words[kMaxRecordWords];
      std::memcpy(words, p, 4 * layout.words);
      bool keep = true;
      if (words[0] != layout.version) {
        for (uint32_t i = 0; i < layout.words; ++i) words[i] = ReverseBytes(words[i]);
        if (words[0] == layout.version)
          std::memcpy(p, words, 4 * layout.words);
        else
          keep = false;
      }
      u->host_unlock_handle(h);
      if (!keep) {
        u->host_dispose_handle(h);
        out_data->sequence_data = nullptr;
      }
    }
  }
  if (out_data->sequence_data != nullptr) return PF_Err_NONE;

  Message(in_data, out_data, kMsgCannotRestore);
  PF_Handle fresh = MakeDefaultRecord(in_data, layout);
  if (fresh == nullptr) {
    Message(in_data, out_data, kMsgNoMemoryRestore);
    return kShellError;
  }
  out_data->sequence_data = fresh;
  return PF_Err_NONE;
}

PF_Err SetdownRecord(PF_InData* in_data, PF_OutData* out_data) {
  if (out_data->sequence_data != nullptr) in_data->utils->host_dispose_handle(out_data->sequence_data);
  out_data->sequence_data = nullptr;
  return PF_Err_NONE;
}

PF_Err SequenceSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
  return SetupRecord(in_data, out_data, LayoutOf(kPluginOptions));
}

PF_Err SequenceResetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
  return ResetupRecord(in_data, out_data, LayoutOf(kPluginOptions));
}

PF_Err SequenceSetdown(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
  return SetdownRecord(in_data, out_data);
}

}  // namespace pf
