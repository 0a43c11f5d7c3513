#include "param_text.h"

#include <ombrix/host/image_io.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>

namespace ombrix::cli {
namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return out;
}

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return std::string(s.substr(b, e - b));
}

// A finite decimal number filling the whole text.
std::optional<double> ParseNumber(std::string_view text) {
  const std::string s = Trim(text);
  if (s.empty()) return std::nullopt;
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size() || !std::isfinite(v)) return std::nullopt;
  // strtod also reads hexadecimal and "infinity"; only plain decimals are numbers here.
  if (s.find_first_of("xXnN") != std::string::npos) return std::nullopt;
  return v;
}

std::optional<int64_t> ParseInteger(std::string_view text) {
  const std::string s = Trim(text);
  int64_t v = 0;
  const char* b = s.c_str();
  const char* e = b + s.size();
  if (b != e && *b == '+') ++b;
  auto [ptr, ec] = std::from_chars(b, e, v);
  if (b == e || ec != std::errc() || ptr != e) return std::nullopt;
  return v;
}

bool FitsLong(int64_t v) { return v >= std::numeric_limits<A_long>::min() && v <= std::numeric_limits<A_long>::max(); }

// Registered units to 16.16, rounding halves away from zero (scaling by
// 65536 is exact, so llround sees the true value).
std::optional<PF_Fixed> ToFixed(double v) {
  const double raw = v * 65536.0;
  if (!(std::fabs(raw) < 2147483647.5)) return std::nullopt;
  const long long r = std::llround(raw);
  if (!FitsLong(r)) return std::nullopt;
  return PF_Fixed(r);
}

struct Context {
  const Effect& effect;
  int index;
  std::string title;
  std::string_view text;

  [[noreturn]] void Fail(const std::string& what) const {
    throw UsageError("parameter '" + title + "' (" + KindName(effect.params()[index].param_type) + "): " + what);
  }
  [[noreturn]] void Expected(const std::string& forms) const {
    Fail("expected " + forms + ", got '" + std::string(text) + "'");
  }
};

// A 16.16 value written as a number in registered units or as fixed:N.
PF_Fixed ParseFixedText(const Context& c, std::string_view text, const char* forms) {
  if (text.substr(0, 6) == "fixed:") {
    const auto raw = ParseInteger(text.substr(6));
    if (!raw || !FitsLong(*raw)) c.Expected(forms);
    return PF_Fixed(*raw);
  }
  const auto v = ParseNumber(text);
  if (!v) c.Expected(forms);
  const auto fixed = ToFixed(*v);
  if (!fixed) c.Fail("'" + std::string(text) + "' is outside the representable range");
  return *fixed;
}

void CheckFixedRange(const Context& c, PF_Fixed v, PF_Fixed lo, PF_Fixed hi) {
  if (v < lo || v > hi) {
    c.Fail("'" + std::string(c.text) + "' is outside the valid range " + FormatFixed(lo) + ".." + FormatFixed(hi));
  }
}

}  // namespace

double PercentUnit(const PF_ParamDef& def) { return def.u.fd.slider_max <= PF_Fixed_ONE ? 0.01 : 1.0; }

std::optional<double> ParseDecimal(std::string_view text) { return ParseNumber(text); }

std::string KindName(PF_ParamType kind) {
  switch (kind) {
    case PF_Param_LAYER:
      return "layer";
    case PF_Param_SLIDER:
      return "slider";
    case PF_Param_FIX_SLIDER:
      return "fixed slider";
    case PF_Param_ANGLE:
      return "angle";
    case PF_Param_CHECKBOX:
      return "checkbox";
    case PF_Param_COLOR:
      return "color";
    case PF_Param_POINT:
      return "point";
    case PF_Param_POPUP:
      return "popup";
    case PF_Param_CUSTOM:
      return "custom";
    case PF_Param_NO_DATA:
      return "no data";
  }
  return "kind " + std::to_string(kind);
}

std::string KindKey(PF_ParamType kind) {
  std::string s = KindName(kind);
  std::replace(s.begin(), s.end(), ' ', '_');
  return s;
}

std::string FormatFixed(PF_Fixed value) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.6f", value / 65536.0);
  std::string s = buf;
  while (!s.empty() && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
  if (s == "-0") s = "0";
  return s;
}

std::string FormatColor(const PF_Pixel& p) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "#%02X%02X%02X%02X", p.red, p.green, p.blue, p.alpha);
  return buf;
}

std::string FromWindows1252(std::string_view text) {
  // 0x80..0x9F where they differ from Latin-1; 0 for the five unassigned bytes.
  static constexpr char16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                         0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                         0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                         0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const unsigned char b = static_cast<unsigned char>(ch);
    unsigned cp = b;
    if (b >= 0x80 && b < 0xA0) cp = kHigh[b - 0x80] ? kHigh[b - 0x80] : 0xFFFD;
    if (cp < 0x80) {
      out += char(cp);
    } else if (cp < 0x800) {
      out += char(0xC0 | (cp >> 6));
      out += char(0x80 | (cp & 0x3F));
    } else {
      out += char(0xE0 | (cp >> 12));
      out += char(0x80 | ((cp >> 6) & 0x3F));
      out += char(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

bool IsSeparator(std::string_view item) { return item.substr(0, 2) == "(-"; }
bool IsDisabledItem(std::string_view item) { return item.substr(0, 1) == "("; }

std::string ParamTitle(const Effect& effect, int index) {
  const PF_ParamDef& def = effect.params()[index];
  const std::string_view name(def.name, strnlen(def.name, sizeof def.name));
  // Check boxes are often registered with a name of one space, their label
  // beside the box saying what they are (and naming them for -p).
  const bool blank = name.find_first_not_of(' ') == std::string_view::npos;
  if (!blank) return std::string(name);
  if (def.param_type == PF_Param_CHECKBOX) {
    const std::string label = effect.CheckboxLabel(index);
    if (!label.empty()) return label;
  }
  return "#" + std::to_string(index);
}

int ResolveParam(const Effect& effect, std::string_view name) {
  const int index = effect.FindParam(name);
  if (index < 0 || index >= int(effect.params().size())) {
    throw UsageError(effect.file().pipl.display_name + " has no parameter '" + std::string(name) + "'");
  }
  return index;
}

ParamValue ParseParamValue(const Effect& effect, int index, std::string_view text, A_long layer_width,
                           A_long layer_height) {
  const PF_ParamDef& def = effect.params()[index];
  const Context c{effect, index, ParamTitle(effect, index), text};
  ParamValue out;
  switch (def.param_type) {
    case PF_Param_SLIDER: {
      const auto v = ParseInteger(text);
      if (!v) c.Expected("a whole number");
      if (*v < def.u.sd.valid_min || *v > def.u.sd.valid_max) {
        c.Fail("'" + std::string(text) + "' is outside the valid range " + std::to_string(def.u.sd.valid_min) + ".." +
               std::to_string(def.u.sd.valid_max));
      }
      out.value = A_long(*v);
      return out;
    }
    case PF_Param_FIX_SLIDER: {
      const std::string t = Trim(text);
      if ((def.u.fd.display_flags & PF_ValueDisplayFlag_PERCENT) && !t.empty() && t.back() == '%') {
        // N % in the slider's registered units: 1 is 100 % on a slider
        // that runs to 1 at most, 100 is 100 % on one that runs further.
        const auto v = ParseNumber(std::string_view(t).substr(0, t.size() - 1));
        if (!v) c.Expected("a number, N% or fixed:N");
        const auto fixed = ToFixed(*v * PercentUnit(def));
        if (!fixed) c.Fail("'" + std::string(text) + "' is outside the representable range");
        out.value = *fixed;
      } else {
        out.value = ParseFixedText(
            c, text,
            def.u.fd.display_flags & PF_ValueDisplayFlag_PERCENT ? "a number, N% or fixed:N" : "a number or fixed:N");
      }
      CheckFixedRange(c, out.value, def.u.fd.valid_min, def.u.fd.valid_max);
      return out;
    }
    case PF_Param_ANGLE: {
      // Any angle: effects register no range for angles, and in a reused
      // definition record the fields after the default are leftovers.
      out.value = ParseFixedText(c, text, "degrees or fixed:N");
      return out;
    }
    case PF_Param_CHECKBOX: {
      const std::string v = Lower(Trim(text));
      if (v == "on")
        out.value = 1;
      else if (v == "off")
        out.value = 0;
      else
        c.Expected("on or off");
      return out;
    }
    case PF_Param_COLOR: {
      // Blanks around the components, as points take them: "255, 128, 0".
      std::string joined;
      for (size_t b = 0;;) {
        const size_t comma = text.find(',', b);
        joined += Trim(text.substr(b, comma == std::string_view::npos ? std::string_view::npos : comma - b));
        if (comma == std::string_view::npos) break;
        joined += ',';
        b = comma + 1;
      }
      try {
        out.color = ParseColor(joined);
      } catch (const HostError&) {
        c.Expected("#RRGGBB, #RRGGBBAA or R,G,B[,A] with values 0..255");
      }
      return out;
    }
    case PF_Param_POINT: {
      const size_t comma = text.find(',');
      if (comma == std::string_view::npos) c.Expected("X,Y in layer pixels");
      const auto x = ParseNumber(text.substr(0, comma));
      const auto y = ParseNumber(text.substr(comma + 1));
      if (!x || !y) c.Expected("X,Y in layer pixels");
      const auto fx = ToFixed(*x), fy = ToFixed(*y);
      if (!fx || !fy) c.Fail("'" + std::string(text) + "' is outside the representable range");
      if (def.u.td.restrict_bounds && (*x < 0 || *y < 0 || *x > layer_width || *y > layer_height)) {
        c.Fail("'" + std::string(text) + "' is outside the layer (0,0.." + std::to_string(layer_width) + "," +
               std::to_string(layer_height) + ")");
      }
      out.x = *fx;
      out.y = *fy;
      return out;
    }
    case PF_Param_POPUP: {
      const std::vector<std::string> items = effect.PopupItems(index);
      const int count = def.u.pd.num_choices;
      if (const auto n = ParseInteger(text)) {
        if (*n < 1 || *n > count) {
          c.Fail("item " + std::string(Trim(text)) + " is outside 1.." + std::to_string(count));
        }
        if (size_t(*n) <= items.size() && IsDisabledItem(items[size_t(*n) - 1])) {
          const std::string& item = items[size_t(*n) - 1];
          c.Fail("item " + std::to_string(*n) +
                 (IsSeparator(item) ? " is a separator" : " \"" + FromWindows1252(item) + "\" is disabled") +
                 ", not a choice");
        }
        out.value = A_long(*n);
        return out;
      }
      const std::string want = Trim(text);
      for (int pass = 0; pass < 2; ++pass) {
        for (size_t i = 0; i < items.size() && int(i) < count; ++i) {
          if (IsDisabledItem(items[i])) continue;
          if (pass == 0 ? items[i] == want : Lower(items[i]) == Lower(want)) {
            out.value = A_long(i + 1);
            return out;
          }
        }
      }
      std::string choices;
      for (size_t i = 0; i < items.size(); ++i) {
        if (IsDisabledItem(items[i])) continue;
        choices += (choices.empty() ? "" : ", ") + std::to_string(i + 1) + " " + items[i];
      }
      c.Fail("no item '" + want + "' (choices: " + choices + ")");
    }
    case PF_Param_LAYER:
      c.Fail("layer parameters cannot be set with -p or -k");
    default:
      c.Fail("this kind of parameter cannot be set from the command line");
  }
}

}  // namespace ombrix::cli
