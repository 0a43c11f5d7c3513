// Parameter values as text: what `render -p` accepts and what `info` prints.
//
// Everything here reads the definitions the host learnt at registration;
// there is no second copy of any effect's parameters.
#pragma once

#include <ombrix/host/host.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ombrix::cli {

// A mistake in what the user typed; main() prints it as one line and exits 2.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;    // an effect or a file operation failed
inline constexpr int kExitBadInput = 2;  // bad option, effect, parameter, value or source

// "slider", "fixed slider", "angle", "checkbox", "color", "point", "popup", "layer", ...
std::string KindName(PF_ParamType kind);
// The same with underscores, for JSON: "fixed_slider".
std::string KindKey(PF_ParamType kind);

// A 16.16 number in plain decimal, as short as reading it back allows: 0.5, 100, -1.25.
std::string FormatFixed(PF_Fixed value);
std::string FormatColor(const PF_Pixel& p);  // "#RRGGBBAA"

// Text from an effect (its messages are Windows-1252 bytes) as UTF-8.
std::string FromWindows1252(std::string_view text);

// True for a popup item that is a separator line.
bool IsSeparator(std::string_view item);
// True for a popup item that cannot be chosen: a separator, or a disabled
// item such as a group heading (text starting with "(").
bool IsDisabledItem(std::string_view item);

// What 1 % is in the registered units of a fixed slider shown as percent:
// 0.01 when its slider runs to 1 at most (0..1 is 0..100 %), else 1 (0..100
// is 0..100 %).
double PercentUnit(const PF_ParamDef& def);

// A plain decimal number filling the text (blanks around it allowed); no
// hexadecimal, infinity or NaN.
std::optional<double> ParseDecimal(std::string_view text);

// How the user refers to a parameter in messages: its name, else (a name
// that is empty or only spaces) its check box label, else "#" and its index.
std::string ParamTitle(const Effect& effect, int index);

// Finds a parameter by name, blank-named check box label or index; throws
// UsageError naming the effect when there is none.
int ResolveParam(const Effect& effect, std::string_view name);

// Parses VALUE for parameter `index` by its kind. Points are checked
// against the layer size when the parameter restricts them to the layer.
// Throws UsageError naming the parameter and what was wrong.
ParamValue ParseParamValue(const Effect& effect, int index, std::string_view text, A_long layer_width,
                           A_long layer_height);

}  // namespace ombrix::cli
