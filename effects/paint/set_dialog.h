// The "Set" dialog (dialog 162): one number typed in, under a label from
// the string table. The popup menu's "Opacity..." and the "Brush Settings"
// control's value items use it.
#pragma once

#include <ombrix/platform/dialog.h>

namespace paint {

inline constexpr int kSetTemplateId = 162;
inline constexpr int kIdSetValue = 1019, kIdSetLabel = 1020;

// Shows `*value` under the label of string `label_id` (titled "Set " and
// the label). True on OK, with the number typed brought into lo..hi and
// stored; false on Cancel, and with a beep when the label cannot be loaded
// or the dialog cannot be shown, `*value` unchanged.
bool RunSetDialog(int label_id, double lo, double hi, double* value, ombrix::platform::DialogWindow* parent);

}  // namespace paint
