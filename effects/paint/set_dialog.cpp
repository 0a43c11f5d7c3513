// The "Set" dialog.
#include "set_dialog.h"

#include <pf/dialogs.h>

#include <ombrix/platform/input.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <string>

#include "resources.h"

namespace paint {
namespace {

namespace plat = ombrix::platform;
using plat::ControlKind;

constexpr plat::DialogControl kSetControls[] = {
    {kIdSetLabel, ControlKind::kStatic, "", 7, 9, 50, 8, 0},
    {kIdSetValue, ControlKind::kEdit, "", 60, 7, 50, 12, 0},
    {plat::kIdOk, ControlKind::kPushButton, "OK", 7, 26, 50, 14, plat::kControlDefault},
    {plat::kIdCancel, ControlKind::kPushButton, "Cancel", 60, 26, 50, 14, 0},
};

struct SetDialog {
  const char* label;
  double lo, hi;
  double value;
};

SetDialog* State(plat::DialogWindow* d) { return reinterpret_cast<SetDialog*>(plat::GetWindowUserData(d)); }

// Two decimals at most, without trailing zeros: 53, 12.5, 0.25.
void ShowValue(plat::DialogWindow* d, double value) {
  char text[pf::kDialogNumberBuffer];
  pf::FormatDialogNumber(std::round(value * 100.0) / 100.0, 2, text);
  std::string shown = text;
  if (shown.find('.') != std::string::npos) {
    while (shown.back() == '0') shown.pop_back();
    if (shown.back() == '.') shown.pop_back();
  }
  plat::SetDialogItemText(d, kIdSetValue, shown.c_str());
}

// Keeps the state in the dialog and shows label and value; a dialog that
// cannot keep it closes as by Cancel.
void Open(plat::DialogWindow* d, intptr_t state) {
  if (plat::SetWindowUserData(d, state)) {
    plat::SetDialogItemText(d, kIdSetLabel, State(d)->label);
    ShowValue(d, State(d)->value);
  } else {
    plat::EndDialog(d, plat::kIdCancel);
  }
}

intptr_t SetDialogProc(plat::DialogWindow* d, unsigned msg, uintptr_t wparam, intptr_t lparam) {
  switch (msg) {
    case plat::kWmInitDialog:
      Open(d, lparam);
      return 1;
    case plat::kWmCommand:
      if (plat::HighWord(wparam) != plat::kBnClicked) return 0;
      if (plat::LowWord(wparam) == plat::kIdOk) {
        SetDialog* s = State(d);
        char text[256] = {};
        plat::GetDialogItemText(d, kIdSetValue, text, sizeof text);
        s->value = std::clamp(pf::ParseDialogNumber(text), s->lo, s->hi);
        plat::EndDialog(d, plat::kIdOk);
        return 1;
      }
      if (plat::LowWord(wparam) == plat::kIdCancel) {
        plat::EndDialog(d, plat::kIdCancel);
        return 1;
      }
      return 0;
    default:
      return 0;
  }
}

}  // namespace

bool RunSetDialog(int label_id, double lo, double hi, double* value, plat::DialogWindow* parent) {
  char label[64];
  if (plat::LoadStringResource(PaintResources(), label_id, label, int(sizeof label)) == 0) {
    plat::MessageBeep(plat::kBeepDefault);
    return false;
  }
  const std::string title = std::string("Set ") + label;
  SetDialog state{label, lo, hi, std::clamp(*value, lo, hi)};
  const plat::DialogTemplate tmpl{
      title.c_str(), 117, 47, "MS Sans Serif", 8, kSetControls, int(std::size(kSetControls))};
  const intptr_t result = plat::DialogBoxParam(&tmpl, parent, SetDialogProc, reinterpret_cast<intptr_t>(&state));
  if (result != plat::kIdOk) {
    if (result != plat::kIdCancel) plat::MessageBeep(plat::kBeepDefault);
    return false;
  }
  *value = state.value;
  return true;
}

}  // namespace paint
