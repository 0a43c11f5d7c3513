// The options command and its dialogs: the seed-and-evolution dialog
// (Swirlshift, Mistform, Frayline), its larger form with tiling (Facetry)
// and the slider dialog (Lightning), with the control helpers they share.
#pragma once

#include <pf/settings.h>
#include <pf/shell.h>

#include <ombrix/platform/dialog.h>

#include <cmath>
#include <cstdint>

namespace pf {

using ombrix::platform::DialogWindow;

inline constexpr const char kMsgNoResource[] = "Could not find resource\t(\xA4 3:1)";

// The in_data of the latest call of main, kept for the dialog code.
extern PF_InData* g_latest_in_data;

// Before every command of an effect with options: remembers in_data.
inline PF_Err RememberInData(PF_Cmd, PF_InData* in_data, PF_OutData*) {
  g_latest_in_data = in_data;
  return PF_Err_NONE;
}

// PF_Cmd_DO_DIALOG with the plug-in's kind: edits the record in the options
// dialog. 0 on OK (the record updated) and when the dialog could not be
// shown (with kMsgNoResource); kShellError on Cancel or when no record could
// be made.
PF_Err DoDialog(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output, void* extra);
PF_Err RunOptionsDialog(PF_InData* in_data, PF_OutData* out_data, OptionsKind kind);

// The commands of an effect with options: the shell's about, global setup,
// record lifecycle and dialog around the effect's own parameter setup and
// render, with in_data remembered before every call.
constexpr Commands OptionsCommands(Handler params_setup, Handler render) {
  return {
      .about = About,
      .global_setup = GlobalSetup,
      .params_setup = params_setup,
      .sequence_setup = SequenceSetup,
      .sequence_resetup = SequenceResetup,
      .sequence_setdown = SequenceSetdown,
      .do_dialog = DoDialog,
      .render = render,
      .before = RememberInData,
  };
}

// Template 101 of each kind, titled with the plug-in's display name.
inline constexpr int kOptionsTemplateId = 101;
ombrix::platform::DialogTemplate OptionsTemplate(OptionsKind kind);

// Control ids.
inline constexpr int kIdSeed = 1002, kIdRepeat = 1003, kIdRevolutions = 1004;
inline constexpr int kIdTile = 1005, kIdTileX = 1006, kIdTileY = 1007;
inline constexpr int kIdDefault = 1005, kIdCoreCollision = 1003;
inline constexpr int kIdLinear = 1013, kIdSemiLinear = 1014, kIdSpline = 1015;
inline constexpr int kIdComplexity = 1040, kIdForkDistance = 1042, kIdTermination = 1044;
inline constexpr int kIdForkDrain = 1046, kIdForkStrength = 1048, kIdForkVariation = 1050;

inline constexpr int kSeedMax = 5898239;  // 0x59FFFF
inline constexpr int kRevolutionsMin = 1, kRevolutionsMax = 91;
inline constexpr int kTileMin = 1, kTileMax = 65535;

// ---------------------------------------------------------------------------
// Numbers in controls
// ---------------------------------------------------------------------------
inline constexpr int kDialogNumberBuffer = 64;

// The text SetDialogNumber writes: positive values get 1e-7 added, the
// integer part is truncated toward zero, then `decimals` digits are
// truncated from the fraction ("-0." for a negative value whose integer
// part is 0). `out` holds kDialogNumberBuffer bytes. Values beyond the
// 32-bit range are written at its ends.
inline void FormatDialogNumber(double value, int decimals, char* out) {
  double v = value > 0 ? value + 0.0000001 : value;
  const double t = std::trunc(v);
  const long long whole = t >= 2147483647.0 ? 2147483647LL : t <= -2147483648.0 ? -2147483648LL : (long long)t;
  char digits[24];
  int n = 0;
  unsigned long long mag = whole < 0 ? (unsigned long long)(-whole) : (unsigned long long)whole;
  do {
    digits[n++] = char('0' + mag % 10);
    mag /= 10;
  } while (mag != 0);
  int pos = 0;
  if (whole < 0) out[pos++] = '-';
  while (n > 0) out[pos++] = digits[--n];
  if (decimals > 0) {
    if (whole == 0 && v < 0) {
      pos = 0;
      out[pos++] = '-';
      out[pos++] = '0';
    }
    out[pos++] = '.';
    double frac = std::fabs(v - t);
    for (int i = 0; i < decimals && pos < kDialogNumberBuffer - 1; ++i) {
      frac *= 10;
      const int d = int(frac);
      out[pos++] = char('0' + (d > 9 ? 9 : d));
      frac -= d;
    }
  }
  out[pos] = '\0';
}

// The number an edit's text reads as: digits accumulate, '-' anywhere makes
// it negative, '.' or ',' starts the fraction, other characters are skipped
// (but shrink the scale once inside the fraction).
inline double ParseDialogNumber(const char* text) {
  double sum = 0, scale = 1, sign = 1;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c == '-') sign = -1;
    if (*c >= '0' && *c <= '9') {
      const int d = *c - '0';
      if (scale == 1)
        sum = sum * 10 + d;
      else
        sum = sum + scale * d;
    }
    if (*c == '.' || *c == ',' || scale < 1) scale *= 0.1;
  }
  return sum * sign;
}

// Truncation toward zero into an int, saturating at the int range (a text of
// many digits must not overflow the conversion).
inline int TruncateToInt(double v) {
  if (!(v > -2147483648.0)) return v != v ? 0 : INT32_MIN;
  if (v >= 2147483647.0) return INT32_MAX;
  return int(v);
}

// The page step of a scroll bar running min..max: p = 10^floor(log10(R) - 0.5)
// with R = max - min, then p if p < 4, else p / 2.
inline int PageStep(int min, int max) {
  const double range = double(max) - double(min);
  const int p = range > 0 ? int(std::pow(10.0, std::floor(std::log10(range) - 0.5))) : 0;
  return p < 4 ? p : p / 2;
}

// ---------------------------------------------------------------------------
// Control helpers
// ---------------------------------------------------------------------------
void SetDialogNumber(DialogWindow* dialog, int id, double value, int decimals);
double GetDialogNumber(DialogWindow* dialog, int id);
void FocusAndSelect(DialogWindow* dialog, int id);
void SetCheck(DialogWindow* dialog, int id, bool checked);
bool IsChecked(DialogWindow* dialog, int id);

}  // namespace pf
