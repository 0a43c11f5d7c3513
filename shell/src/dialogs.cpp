// The options command and the three options dialogs. Each dialog edits a
// working copy of the record whose address arrives as the creation
// parameter and is kept in the dialog's user data; the record itself changes
// only when the dialog ends with OK.
#include <pf/dialogs.h>

#include <ombrix/platform/input.h>

#include <algorithm>
#include <cstring>

namespace pf {

namespace plat = ombrix::platform;
using plat::ControlKind;
using plat::DialogControl;

PF_InData* g_latest_in_data = nullptr;

// ---------------------------------------------------------------------------
// Control helpers
// ---------------------------------------------------------------------------
void SetDialogNumber(DialogWindow* dialog, int id, double value, int decimals) {
  char text[kDialogNumberBuffer];
  FormatDialogNumber(value, decimals, text);
  plat::SendMessage(plat::GetDialogItem(dialog, id), plat::kWmSetText, 0, reinterpret_cast<intptr_t>(text));
}

double GetDialogNumber(DialogWindow* dialog, int id) {
  char text[256] = {};
  plat::GetDialogItemText(dialog, id, text, 256);
  return ParseDialogNumber(text);
}

void FocusAndSelect(DialogWindow* dialog, int id) {
  DialogWindow* edit = plat::GetDialogItem(dialog, id);
  plat::SendMessage(edit, plat::kEmSetSel, 0, 0x7FFF);
  plat::SetFocus(edit);
}

void SetCheck(DialogWindow* dialog, int id, bool checked) {
  plat::CheckDialogButton(dialog, id, checked ? plat::kChecked : plat::kUnchecked);
}

bool IsChecked(DialogWindow* dialog, int id) { return plat::IsDialogButtonChecked(dialog, id) == plat::kChecked; }

namespace {

constexpr int kNoId = -1;  // labels and group boxes

int Clamp(int v, int lo, int hi) { return std::clamp(v, lo, hi); }
int ReadInt(DialogWindow* d, int id) { return TruncateToInt(GetDialogNumber(d, id)); }

// The working record of a dialog, stored in its user data at creation.
uint32_t* Work(DialogWindow* d) { return reinterpret_cast<uint32_t*>(plat::GetWindowUserData(d)); }

// Creation: keeps the working record; false (the dialog ended with Cancel)
// when the window will not hold it.
bool KeepWork(DialogWindow* d, intptr_t lparam) {
  if (plat::SetWindowUserData(d, lparam)) return true;
  plat::EndDialog(d, plat::kIdCancel);
  return false;
}

// ---------------------------------------------------------------------------
// Seed and evolution (Swirlshift, Mistform, Frayline) and Facetry's form
// ---------------------------------------------------------------------------
constexpr DialogControl kSeedControls[] = {
    {kNoId, ControlKind::kStatic, "Random seed:", 7, 9, 50, 8, 0},
    {kIdSeed, ControlKind::kEdit, "", 60, 7, 58, 12, 0},
    {kIdRepeat, ControlKind::kCheckBox, "Repeat Evolution", 7, 26, 100, 10, 0},
    {kNoId, ControlKind::kStatic, "Every", 17, 44, 22, 8, 0},
    {kIdRevolutions, ControlKind::kEdit, "", 42, 42, 28, 12, 0},
    {kNoId, ControlKind::kStatic, "revolutions", 74, 44, 45, 8, 0},
    {plat::kIdOk, ControlKind::kPushButton, "OK", 7, 74, 50, 14, plat::kControlDefault},
    {plat::kIdCancel, ControlKind::kPushButton, "Cancel", 69, 74, 50, 14, 0},
};

constexpr DialogControl kFacetryControls[] = {
    {kNoId, ControlKind::kStatic, "Random seed:", 7, 9, 50, 8, 0},
    {kIdSeed, ControlKind::kEdit, "", 60, 7, 58, 12, 0},
    {kIdRepeat, ControlKind::kCheckBox, "Repeat Evolution", 7, 26, 100, 10, 0},
    {kNoId, ControlKind::kStatic, "Every", 17, 44, 22, 8, 0},
    {kIdRevolutions, ControlKind::kEdit, "", 42, 42, 28, 12, 0},
    {kNoId, ControlKind::kStatic, "revolutions", 74, 44, 45, 8, 0},
    {kIdTile, ControlKind::kCheckBox, "Tile Cells", 7, 62, 100, 10, 0},
    {kNoId, ControlKind::kStatic, "X", 17, 80, 8, 8, 0},
    {kIdTileX, ControlKind::kEdit, "", 27, 78, 36, 12, 0},
    {kNoId, ControlKind::kStatic, "Y", 69, 80, 8, 8, 0},
    {kIdTileY, ControlKind::kEdit, "", 79, 78, 36, 12, 0},
    {plat::kIdOk, ControlKind::kPushButton, "OK", 7, 114, 50, 14, plat::kControlDefault},
    {plat::kIdCancel, ControlKind::kPushButton, "Cancel", 69, 114, 50, 14, 0},
};

intptr_t SeedDialogProc(DialogWindow* d, unsigned msg, uintptr_t wparam, intptr_t lparam) {
  switch (msg) {
    case plat::kWmInitDialog: {
      if (!KeepWork(d, lparam)) return 1;
      const uint32_t* w = Work(d);
      SetCheck(d, kIdRepeat, w[2] != 0);
      SetDialogNumber(d, kIdRevolutions, double(int32_t(w[3])), 0);
      SetDialogNumber(d, kIdSeed, double(int32_t(w[1])), 0);
      FocusAndSelect(d, kIdSeed);
      return 0;  // the focus is set
    }
    case plat::kWmCommand: {
      if (plat::HighWord(wparam) != plat::kBnClicked) return 0;
      switch (int(plat::LowWord(wparam))) {
        case kIdRepeat:
          FocusAndSelect(d, IsChecked(d, kIdRepeat) ? kIdRevolutions : kIdSeed);
          return 1;
        case plat::kIdOk: {
          const int r = ReadInt(d, kIdRevolutions);
          if (r < kRevolutionsMin || r > kRevolutionsMax) {
            SetDialogNumber(d, kIdRevolutions, Clamp(r, kRevolutionsMin, kRevolutionsMax), 0);
            FocusAndSelect(d, kIdRevolutions);
            if (IsChecked(d, kIdRepeat)) return 1;
          }
          const int s = ReadInt(d, kIdSeed);
          if (s < 0 || s > kSeedMax) {
            SetDialogNumber(d, kIdSeed, Clamp(s, 0, kSeedMax), 0);
            FocusAndSelect(d, kIdSeed);
            return 1;
          }
          uint32_t* w = Work(d);
          w[2] = IsChecked(d, kIdRepeat) ? 1 : 0;
          w[3] = uint32_t(Clamp(r, kRevolutionsMin, kRevolutionsMax));
          w[1] = uint32_t(Clamp(s, 0, kSeedMax));
          plat::EndDialog(d, plat::kIdOk);
          return 1;
        }
        case plat::kIdCancel:
          plat::EndDialog(d, plat::kIdCancel);
          return 1;
        default:
          return 0;
      }
    }
    case plat::kWmDestroy:
      return 1;
    default:
      return 0;
  }
}

void FillFacetry(DialogWindow* d, const uint32_t* w) {
  SetDialogNumber(d, kIdSeed, double(int32_t(w[1])), 0);
  SetCheck(d, kIdRepeat, w[2] != 0);
  SetDialogNumber(d, kIdRevolutions, double(int32_t(w[3])), 0);
  SetCheck(d, kIdTile, w[4] != 0);
  SetDialogNumber(d, kIdTileX, double(int32_t(w[5])), 0);
  SetDialogNumber(d, kIdTileY, double(int32_t(w[6])), 0);
}

intptr_t FacetryDialogProc(DialogWindow* d, unsigned msg, uintptr_t wparam, intptr_t lparam) {
  switch (msg) {
    case plat::kWmInitDialog:
      if (!KeepWork(d, lparam)) return 1;
      FillFacetry(d, Work(d));
      FocusAndSelect(d, kIdSeed);
      return 0;
    case plat::kWmCommand: {
      if (plat::HighWord(wparam) != plat::kBnClicked) return 0;
      switch (int(plat::LowWord(wparam))) {
        case kIdRepeat:
          FocusAndSelect(d, IsChecked(d, kIdRepeat) ? kIdRevolutions : kIdSeed);
          return 1;
        case kIdTile:
          FocusAndSelect(d, IsChecked(d, kIdTile) ? kIdTileX : kIdSeed);
          return 1;
        case plat::kIdOk: {
          uint32_t* w = Work(d);
          bool out_of_range = false;
          auto take = [&](int id, int lo, int hi) {
            const int v = ReadInt(d, id);
            out_of_range |= v < lo || v > hi;
            return uint32_t(Clamp(v, lo, hi));
          };
          w[2] = IsChecked(d, kIdRepeat) ? 1 : 0;
          w[3] = take(kIdRevolutions, kRevolutionsMin, kRevolutionsMax);
          w[4] = IsChecked(d, kIdTile) ? 1 : 0;
          w[5] = take(kIdTileX, kTileMin, kTileMax);
          w[6] = take(kIdTileY, kTileMin, kTileMax);
          w[1] = take(kIdSeed, 0, kSeedMax);
          if (out_of_range) {
            plat::MessageBeep(plat::kBeepDefault);
            FillFacetry(d, w);
            FocusAndSelect(d, kIdSeed);
            return 1;
          }
          plat::EndDialog(d, plat::kIdOk);
          return 1;
        }
        case plat::kIdCancel:
          plat::EndDialog(d, plat::kIdCancel);
          return 1;
        default:
          return 0;
      }
    }
    case plat::kWmDestroy:
      return 1;
    default:
      return 0;
  }
}

// ---------------------------------------------------------------------------
// Lightning's slider dialog
// ---------------------------------------------------------------------------
struct Slider {
  int bar;  // the label is bar + 1
  int min, max;
  int word;
  bool is_float;  // float word: bar at value x 1000, label value x 100 with 1 decimal
};

constexpr Slider kSliders[] = {
    {kIdComplexity, 1, 8, 1, false},  {kIdForkDistance, 16, 256, 2, false}, {kIdTermination, 1, 100, 3, false},
    {kIdForkDrain, 0, 1000, 6, true}, {kIdForkStrength, 0, 1000, 7, true},  {kIdForkVariation, 0, 1000, 8, true},
};

constexpr const char* kWarning =
    "Changing any of these options may lead to significantly longer rendering time and "
    "unexpected results.";

#define OMBRIX_SLIDER_ROW(group, bar, y)                                      \
  {kNoId, ControlKind::kGroupBox, group, 7, y, 215, 30, 0},                   \
      {bar, ControlKind::kHScrollBar, "", 15, int16_t(y + 12), 160, 10, 0}, { \
    bar + 1, ControlKind::kStatic, "", 182, int16_t(y + 13), 34, 8, 0         \
  }

constexpr DialogControl kLightningControls[] = {
    OMBRIX_SLIDER_ROW("Complexity", kIdComplexity, 7),
    OMBRIX_SLIDER_ROW("Minimum Forkdistance", kIdForkDistance, 41),
    OMBRIX_SLIDER_ROW("Termination Threshold", kIdTermination, 75),
    OMBRIX_SLIDER_ROW("Fork Drain", kIdForkDrain, 109),
    OMBRIX_SLIDER_ROW("Fork Strength", kIdForkStrength, 143),
    OMBRIX_SLIDER_ROW("Fork Variation", kIdForkVariation, 177),
    {kNoId, ControlKind::kGroupBox, "Fractal Model", 233, 7, 215, 60, 0},
    {kIdLinear, ControlKind::kRadioButton, "Linear", 243, 20, 90, 10, plat::kControlGroup},
    {kIdSemiLinear, ControlKind::kRadioButton, "SemiLinear", 243, 33, 90, 10, 0},
    {kIdSpline, ControlKind::kRadioButton, "Spline", 243, 46, 90, 10, 0},
    {kIdCoreCollision, ControlKind::kCheckBox, "Main core collision only", 233, 77, 150, 10, plat::kControlGroup},
    {kNoId, ControlKind::kStatic, kWarning, 233, 97, 215, 30, 0},
    {kIdDefault, ControlKind::kPushButton, "Default", 233, 220, 60, 14, 0},
    {plat::kIdOk, ControlKind::kPushButton, "OK", 318, 220, 60, 14, plat::kControlDefault},
    {plat::kIdCancel, ControlKind::kPushButton, "Cancel", 388, 220, 60, 14, 0},
};
#undef OMBRIX_SLIDER_ROW

const Slider* SliderOf(int bar) {
  for (const Slider& s : kSliders)
    if (s.bar == bar) return &s;
  return nullptr;
}

// The label beside a bar, from the bar's position.
void WriteSliderLabel(DialogWindow* d, const Slider& s, int pos) {
  if (s.is_float)
    SetDialogNumber(d, s.bar + 1, pos * 0.1, 1);
  else
    SetDialogNumber(d, s.bar + 1, pos, 0);
}

void FillLightning(DialogWindow* d, const uint32_t* w) {
  for (const Slider& s : kSliders) {
    DialogWindow* bar = plat::GetDialogItem(d, s.bar);
    plat::SetScrollRange(bar, plat::kSbCtl, s.min, s.max, false);
    if (s.is_float) {
      // The products of the float words stay in single precision, as the
      // words are: 0.7f x 1000 is 700 there, 699.99998... in double.
      const float value = WordAsFloat(w[s.word]);
      plat::SetScrollPos(bar, plat::kSbCtl, TruncateToInt(double(value * 1000.0f)), true);
      SetDialogNumber(d, s.bar + 1, double(value * 100.0f), 1);
    } else {
      plat::SetScrollPos(bar, plat::kSbCtl, int32_t(w[s.word]), true);
      SetDialogNumber(d, s.bar + 1, double(int32_t(w[s.word])), 0);
    }
  }
  SetCheck(d, kIdCoreCollision, (w[4] & 4) != 0);
  SetCheck(d, kIdLinear, (w[5] & 1) != 0);
  SetCheck(d, kIdSemiLinear, (w[5] & 2) != 0);
  SetCheck(d, kIdSpline, (w[5] & 4) != 0);
}

void Scroll(DialogWindow* d, DialogWindow* bar, uintptr_t wparam) {
  const Slider* s = SliderOf(plat::GetDialogControlId(bar));
  if (s == nullptr) return;
  int pos = plat::GetScrollPos(bar, plat::kSbCtl);
  const int page = PageStep(s->min, s->max);
  switch (plat::LowWord(wparam)) {
    case plat::kSbLineLeft:
      pos -= 1;
      break;
    case plat::kSbLineRight:
      pos += 1;
      break;
    case plat::kSbPageLeft:
      pos -= page;
      break;
    case plat::kSbPageRight:
      pos += page;
      break;
    case plat::kSbLeft:
      pos = s->min;
      break;
    case plat::kSbRight:
      pos = s->max;
      break;
    case plat::kSbThumbTrack:
    case plat::kSbThumbPosition:
      pos = int(plat::HighWord(wparam));
      break;
    default:
      break;
  }
  plat::SetScrollPos(bar, plat::kSbCtl, pos, true);
  // The label shows where the bar is, which is the position clamped into
  // its range.
  WriteSliderLabel(d, *s, plat::GetScrollPos(bar, plat::kSbCtl));
}

intptr_t LightningDialogProc(DialogWindow* d, unsigned msg, uintptr_t wparam, intptr_t lparam) {
  switch (msg) {
    case plat::kWmInitDialog:
      if (!KeepWork(d, lparam)) return 1;
      FillLightning(d, Work(d));
      return 1;
    case plat::kWmHScroll:
      Scroll(d, reinterpret_cast<DialogWindow*>(lparam), wparam);
      return 1;
    case plat::kWmCommand: {
      if (plat::HighWord(wparam) != plat::kBnClicked) return 0;
      switch (int(plat::LowWord(wparam))) {
        case kIdDefault: {
          uint32_t* w = Work(d);
          std::memcpy(w, kLightningLayout.defaults, 4 * kLightningLayout.words);
          FillLightning(d, w);
          return 1;
        }
        case plat::kIdOk: {
          uint32_t* w = Work(d);
          auto pos = [&](int id) { return plat::GetScrollPos(plat::GetDialogItem(d, id), plat::kSbCtl); };
          w[1] = uint32_t(pos(kIdComplexity));
          w[2] = uint32_t(pos(kIdForkDistance));
          w[3] = uint32_t(pos(kIdTermination));
          w[4] = IsChecked(d, kIdCoreCollision) ? 4 : 0;
          w[6] = FloatAsWord(float(pos(kIdForkDrain) * 0.001));
          w[7] = FloatAsWord(float(pos(kIdForkStrength) * 0.001));
          w[8] = FloatAsWord(float(pos(kIdForkVariation) * 0.001));
          w[5] = 1;
          if (IsChecked(d, kIdSemiLinear)) w[5] = 2;
          if (IsChecked(d, kIdSpline)) w[5] = 4;
          plat::EndDialog(d, plat::kIdOk);
          return 1;
        }
        case plat::kIdCancel:
          plat::EndDialog(d, plat::kIdCancel);
          return 1;
        default:
          return 0;
      }
    }
    case plat::kWmDestroy:
      return 1;
    default:
      return 0;
  }
}

template <std::size_t N>
constexpr int Count(const DialogControl (&)[N]) {
  return int(N);
}

plat::DialogProc ProcOf(OptionsKind kind) {
  switch (kind) {
    case OptionsKind::kFacetry:
      return FacetryDialogProc;
    case OptionsKind::kLightning:
      return LightningDialogProc;
    default:
      return SeedDialogProc;
  }
}

}  // namespace

plat::DialogTemplate OptionsTemplate(OptionsKind kind) {
  const char* title = kPluginRow.display_name;
  switch (kind) {
    case OptionsKind::kFacetry:
      return {title, 126, 135, "MS Sans Serif", 8, kFacetryControls, Count(kFacetryControls)};
    case OptionsKind::kLightning:
      return {title, 455, 244, "MS Sans Serif", 8, kLightningControls, Count(kLightningControls)};
    default:
      return {title, 126, 95, "MS Sans Serif", 8, kSeedControls, Count(kSeedControls)};
  }
}

// ---------------------------------------------------------------------------
// The options command
// ---------------------------------------------------------------------------
PF_Err RunOptionsDialog(PF_InData* in_data, PF_OutData* out_data, OptionsKind kind) {
  const RecordLayout& layout = LayoutOf(kind);
  const auto* u = in_data->utils;
  PF_Handle h = in_data->sequence_data;
  if (h == nullptr) {
    if (PF_Err err = SetupRecord(in_data, out_data, layout)) return err;
    h = out_data->sequence_data;
  }
  void* record = u->host_lock_handle(h);
  if (record == nullptr || u->host_get_handle_size(h) < 4 * layout.words) {
    // Nothing to edit: a record that cannot be reached, or one too short
    // for its words, would be written past its end.
    if (record != nullptr) u->host_unlock_handle(h);
    u->ansi.strcpy(out_data->return_msg, kMsgNoMemorySetup);
    return kShellError;
  }
  uint32_t work[kMaxRecordWords];
  std::memcpy(work, record, 4 * layout.words);

  void* parent = nullptr;
  if (u->get_platform_data(in_data->effect_ref, PF_PlatData_MAIN_WND, &parent) != PF_Err_NONE) parent = nullptr;

  const plat::DialogTemplate tmpl = OptionsTemplate(kind);
  const intptr_t result =
      plat::DialogBoxParam(&tmpl, static_cast<DialogWindow*>(parent), ProcOf(kind), reinterpret_cast<intptr_t>(work));
  if (result == plat::kIdOk) std::memcpy(record, work, 4 * layout.words);
  u->host_unlock_handle(h);

  if (result == plat::kIdOk) return PF_Err_NONE;
  if (result == plat::kIdCancel) return kShellError;
  u->ansi.strcpy(out_data->return_msg, kMsgNoResource);
  return PF_Err_NONE;
}

PF_Err DoDialog(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
  return RunOptionsDialog(in_data, out_data, kPluginOptions);
}

}  // namespace pf
